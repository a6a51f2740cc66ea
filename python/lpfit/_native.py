"""Loading the estimator libraries and capturing what they print.

The libraries are looked for in the directory named by the environment
variable ``LPFIT_LIBRARY_PATH``, then in the package's own ``_libs`` folder
(where ``pip install`` puts them), then in the ``build`` directory of the
source tree that holds this package.
"""
from __future__ import annotations

import ctypes
import os
import sys
import tempfile
import threading
from pathlib import Path
from typing import Any, Dict, List, Optional

LIBRARIES = {"dorvane": "Dorvane", "tremsal": "Tremsal", "locparg": "Tremsal", "locpa2g": "Tremsal"}
SUFFIX = ".dll" if sys.platform == "win32" else ".so"

_lock = threading.Lock()
_libc = ctypes.CDLL(None)
_loaded: Dict[str, ctypes.CDLL] = {}
_functions: Dict[str, Any] = {}


def library_dirs() -> List[Path]:
    """Directories searched for Dorvane and Tremsal, in order."""
    here = Path(__file__).resolve().parent
    dirs = []
    env = os.environ.get("LPFIT_LIBRARY_PATH")
    if env:
        dirs.append(Path(env))
    dirs.append(here / "_libs")
    dirs.append(here.parent.parent / "build")
    return dirs


def _load(name: str) -> ctypes.CDLL:
    for d in library_dirs():
        path = d / (name + SUFFIX)
        if path.is_file():
            return ctypes.CDLL(str(path))
    searched = ", ".join(str(d) for d in library_dirs())
    raise OSError(f"cannot find {name}{SUFFIX} in {searched}; build the libraries with CMake "
                  "or set LPFIT_LIBRARY_PATH to the directory that holds them")


def export(estimator: str):
    """The C function of `estimator`, with its prototype set.

    ctypes releases the global interpreter lock for the whole call, so calls
    from several threads run at the same time.
    """
    with _lock:
        f = _functions.get(estimator)
        if f is None:
            lib_name = LIBRARIES[estimator]
            lib = _loaded.get(lib_name)
            if lib is None:
                lib = _loaded[lib_name] = _load(lib_name)
            f = getattr(lib, estimator)
            f.argtypes = [ctypes.POINTER(ctypes.c_double)] * (16 if estimator in ("locparg", "locpa2g") else 15)
            f.restype = ctypes.c_int
            _functions[estimator] = f
        return f


class Capture:
    """Collects what is written to file descriptor 1 while it is open.

    The libraries print with C stdio to the process's standard output. The
    first open capture points descriptor 1 at a temporary file and the last
    one to close gives it back; each capture reads the bytes written between
    its opening and its closing, so captures open at the same time in other
    threads also see each other's lines.
    """

    _depth = 0
    _saved = -1
    _file: Optional[tempfile.SpooledTemporaryFile] = None

    def __init__(self) -> None:
        self.text = ""
        self._start = 0

    @staticmethod
    def _flush() -> None:
        sys.stdout.flush()
        _libc.fflush(None)

    def __enter__(self) -> "Capture":
        with _lock:
            self._flush()
            cls = type(self)
            if cls._depth == 0:
                cls._file = tempfile.TemporaryFile()
                cls._saved = os.dup(1)
                os.dup2(cls._file.fileno(), 1)
            cls._depth += 1
            self._start = os.lseek(cls._file.fileno(), 0, os.SEEK_END)
        return self

    def __exit__(self, *exc) -> None:
        with _lock:
            self._flush()
            cls = type(self)
            fd = cls._file.fileno()
            end = os.lseek(fd, 0, os.SEEK_END)
            self.text = os.pread(fd, end - self._start, self._start).decode("utf-8", "replace")
            cls._depth -= 1
            if cls._depth == 0:
                os.dup2(cls._saved, 1)
                os.close(cls._saved)
                cls._file.close()
                cls._file = None

    @property
    def lines(self) -> List[str]:
        return self.text.splitlines()
