"""The fitting core liblpcore through ctypes: one call runs one fit and hands
back plain data (arrays, lists, texts), which pickles for Dask. The library is
looked for in ``LPFIT_LIBRARY_PATH``, the package's ``_libs`` folder (where
``pip install`` puts it) and the ``build`` directory beside ``python/``.
ctypes releases the interpreter lock for the whole of ``lpc_run``."""
from __future__ import annotations

import ctypes as C
import os
import signal
import sys
import threading
from pathlib import Path
from typing import Any, Dict, List, Sequence, Tuple

import numpy as np

NAME = "lpcore.dll" if sys.platform == "win32" else "liblpcore.so"
PROGRESS = C.CFUNCTYPE(C.c_int, C.c_void_p, C.c_char_p, C.c_longlong, C.c_longlong)
_P, _D, _S, _I = C.c_void_p, C.POINTER(C.c_double), C.c_char_p, C.c_int
PROTOTYPES = {
    "lpc_version": ([], _S), "lpc_request_new": ([_S], _P), "lpc_request_free": ([_P], None), "lpc_request_message": ([_P], _S),
    "lpc_set_response": ([_P, _S, _D, C.c_size_t], _I), "lpc_add_regressor": ([_P, _S, _D, C.c_size_t, _I], _I),
    "lpc_set_int": ([_P, _S, C.c_longlong], _I), "lpc_set_double": ([_P, _S, C.c_double], _I),
    "lpc_set_doubles": ([_P, _S, _D, C.c_size_t], _I), "lpc_set_text": ([_P, _S, _S], _I),
    "lpc_run": ([_P, PROGRESS, _P, C.POINTER(_P)], _I), "lpc_fit_free": ([_P], None), "lpc_status": ([_P], _I),
    "lpc_message": ([_P], _S), "lpc_rows": ([_P], C.c_size_t), "lpc_columns": ([_P], C.c_size_t),
    "lpc_column_name": ([_P, C.c_size_t], _S), "lpc_values": ([_P, _S, C.POINTER(C.c_size_t)], _D),
    "lpc_points": ([_P, _S, C.POINTER(C.c_size_t)], C.POINTER(C.c_longlong)), "lpc_text": ([_P, _S, _I], _S),
    "lpc_column": ([_P, C.c_size_t], _D), "lpc_name": ([_P, _S, C.c_size_t], _S),
}
_lock = threading.Lock()
_loaded: List[C.CDLL] = []


def library() -> C.CDLL:
    """The core, loaded once, with the prototype of every function set."""
    with _lock:
        if not _loaded:
            here, env = Path(__file__).resolve().parent, os.environ.get("LPFIT_LIBRARY_PATH")
            dirs = ([Path(env)] if env else []) + [here / "_libs", here.parent.parent / "build"]
            path = next((d / NAME for d in dirs if (d / NAME).is_file()), None)
            if path is None:
                raise OSError(f"cannot find {NAME} in {', '.join(map(str, dirs))}; build it with CMake "
                              "or set LPFIT_LIBRARY_PATH to the directory that holds it")
            _loaded.append(C.CDLL(str(path)))
            for name, (args, res) in PROTOTYPES.items():
                getattr(_loaded[0], name).argtypes, getattr(_loaded[0], name).restype = args, res
        return _loaded[0]


def _doubles(v: Any):
    v = np.ascontiguousarray(v, dtype=float)
    return v.ctypes.data_as(_D), v.size


def _set(lib: C.CDLL, request: int, name: str, v: Any) -> None:
    """One option, passed with its type: ints, doubles bit for bit, texts."""
    key = name.encode()
    if isinstance(v, str):
        lib.lpc_set_text(request, key, v.encode())
    elif isinstance(v, (bool, int, np.integer)):
        lib.lpc_set_int(request, key, int(v))
    elif isinstance(v, (float, np.floating)):
        lib.lpc_set_double(request, key, float(v))
    else:
        lib.lpc_set_doubles(request, key, *_doubles(v))


def run(estimator: str, columns: Sequence[Tuple[str, np.ndarray, int]], options: Dict[str, Any]) -> Dict[str, Any]:
    """Runs the core on `columns` (the response, then the regressors with their dummy flag) and
    `options`: the table and the named values, point lists and texts (from 0), or ValueError with the core's message."""
    lib = library()
    request, fit = lib.lpc_request_new(estimator.encode()), C.c_void_p()
    if not request:
        raise MemoryError("lpfit: out of memory")
    try:
        lib.lpc_set_response(request, columns[0][0].encode(), *_doubles(columns[0][1]))
        for name, x, dummy in columns[1:]:
            lib.lpc_add_regressor(request, name.encode(), *_doubles(x), int(dummy))
        _set(lib, request, "base", 0)  # observations number from 0 in messages
        for name, v in options.items():
            _set(lib, request, name, v)
        # Ctrl-C cancels the run: Python calls this handler as the progress function is entered.
        flag, main = [False], threading.current_thread() is threading.main_thread()
        old = signal.getsignal(signal.SIGINT) if main else None
        if old is signal.default_int_handler:
            signal.signal(signal.SIGINT, lambda *_: flag.__setitem__(0, True))
        try:
            status = lib.lpc_run(request, PROGRESS(lambda *_: int(flag[0])), None, C.byref(fit))
        finally:
            if old is signal.default_int_handler:
                signal.signal(signal.SIGINT, old)
        if flag[0]:
            raise KeyboardInterrupt
        if status != 0:  # LPC_ENOMEM also when no fit could be made
            message = lib.lpc_message(fit).decode()
            raise (MemoryError if status == 3 else ValueError if status in (1, 2) else RuntimeError)(message)
        return _read(lib, fit)
    finally:
        lib.lpc_fit_free(fit)
        lib.lpc_request_free(request)


def _read(lib: C.CDLL, fit: C.c_void_p) -> Dict[str, Any]:
    def array(name: str, points: bool = False):
        n = C.c_size_t()
        p = (lib.lpc_points if points else lib.lpc_values)(fit, name.encode(), C.byref(n))
        return np.ctypeslib.as_array(p, (n.value,)).copy() if p else None

    def listed(kind: str) -> List[str]:
        out: List[str] = []
        while lib.lpc_name(fit, kind.encode(), len(out)):
            out.append(lib.lpc_name(fit, kind.encode(), len(out)).decode())
        return out

    m = lib.lpc_rows(fit)
    names = [lib.lpc_column_name(fit, k).decode() for k in range(lib.lpc_columns(fit))]
    columns = [np.ctypeslib.as_array(lib.lpc_column(fit, k), (m,)).copy() if m else np.empty(0)
               for k in range(len(names))]
    points = {k: array(k, True) for k in listed("points")}
    values = {k: array(k) for k in listed("values")}
    return {"names": names, "columns": columns, "values": {k: v for k, v in values.items() if v is not None and v.size},
            "points": {k: [] if points.get(k) is None else points[k].tolist() for k in ("failed", "refitted", "dropped")},
            "texts": dict({k: "" for k in ("header", "method", "warnings", "notes", "messages", "library", "summary")},
                          **{k: lib.lpc_text(fit, k.encode(), 0).decode() for k in listed("texts")})}

