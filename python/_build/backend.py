"""Build backend of the lpfit wheel (PEP 517), on the standard library alone.

The wheel holds the package and the fitting core (liblpcore.so, lpcore.dll
on Windows) in ``lpfit/_libs``. The core is copied from the directory named by
the environment variable ``LPFIT_LIBRARY_PATH`` or, without it, built with
CMake (its target alone) from the source tree that holds this directory.
"""
from __future__ import annotations

import base64
import hashlib
import io
import os
import subprocess
import sys
import sysconfig
import tarfile
import tempfile
import zipfile
from pathlib import Path

try:
    import tomllib
except ModuleNotFoundError:  # Python < 3.11
    import tomli as tomllib

HERE = Path(__file__).resolve().parent.parent  # the python/ directory
CORE = "lpcore.dll" if sys.platform == "win32" else "liblpcore.so"


def _project() -> dict:
    with open(HERE / "pyproject.toml", "rb") as f:
        return tomllib.load(f)["project"]


def _metadata() -> str:
    p = _project()
    lines = ["Metadata-Version: 2.1", f"Name: {p['name']}", f"Version: {p['version']}",
             f"Summary: {p['description']}", f"License: {p['license']['text']}",
             f"Requires-Python: {p['requires-python']}"]
    lines += [f"Requires-Dist: {d}" for d in p.get("dependencies", [])]
    for extra, deps in p.get("optional-dependencies", {}).items():
        lines.append(f"Provides-Extra: {extra}")
        lines += [f'Requires-Dist: {d}; extra == "{extra}"' for d in deps]
    readme = HERE / p["readme"]
    body = readme.read_text() if readme.is_file() else ""
    return "\n".join(lines + ["Description-Content-Type: text/markdown", "", body])


def _tag() -> str:
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    return f"py3-none-{platform}"


def _dist_info() -> str:
    p = _project()
    return f"{p['name']}-{p['version']}.dist-info"


def _libraries(work: Path) -> Path:
    """The directory that holds a freshly built or the given core."""
    given = os.environ.get("LPFIT_LIBRARY_PATH")
    if given:
        return Path(given)
    source = HERE.parent
    if not (source / "CMakeLists.txt").is_file() or not (source / "core").is_dir():
        raise RuntimeError(f"lpfit: set LPFIT_LIBRARY_PATH to the directory of {CORE}, "
                           "or build from the project's source tree")
    build = work / "cmake"
    for cmd in (["cmake", "-S", str(source), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                 "-DLP_TESTS=OFF", "-DLP_BENCH=OFF", "-DLP_CLI=OFF"],
                ["cmake", "--build", str(build), "--target", "lpcore", "--parallel", "2"]):
        done = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if done.returncode != 0:
            raise RuntimeError(f"lpfit: {' '.join(cmd)} failed:\n{done.stdout}")
    return build


def _record_line(name: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    d = Path(metadata_directory) / _dist_info()
    d.mkdir(parents=True, exist_ok=True)
    (d / "METADATA").write_text(_metadata())
    return d.name


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    p = _project()
    name = f"{p['name']}-{p['version']}-{_tag()}.whl"
    files = {}
    for f in sorted((HERE / "lpfit").rglob("*")):
        if f.is_file() and "__pycache__" not in f.parts and f.parent.name != "_libs":
            files[f.relative_to(HERE).as_posix()] = f.read_bytes()
    with tempfile.TemporaryDirectory() as work:
        libs = _libraries(Path(work))
        path = libs / CORE
        if not path.is_file():
            raise RuntimeError(f"lpfit: {path} is missing")
        files[f"lpfit/_libs/{CORE}"] = path.read_bytes()
    info = _dist_info()
    files[f"{info}/METADATA"] = _metadata().encode()
    files[f"{info}/WHEEL"] = (f"Wheel-Version: 1.0\nGenerator: lpfit-backend\nRoot-Is-Purelib: false\n"
                              f"Tag: {_tag()}\n").encode()
    files[f"{info}/top_level.txt"] = b"lpfit\n"
    record = [_record_line(k, v) for k, v in files.items()] + [f"{info}/RECORD,,"]
    files[f"{info}/RECORD"] = ("\n".join(record) + "\n").encode()
    out = Path(wheel_directory) / name
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        for k, v in files.items():
            entry = zipfile.ZipInfo(k, date_time=(2024, 1, 1, 0, 0, 0))
            entry.external_attr = (0o755 if k.endswith(CORE) else 0o644) << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(entry, v)
    return name


def build_sdist(sdist_directory, config_settings=None):
    p = _project()
    base = f"{p['name']}-{p['version']}"
    out = Path(sdist_directory) / f"{base}.tar.gz"
    with tarfile.open(out, "w:gz") as tar:
        for f in sorted(HERE.rglob("*")):
            rel = f.relative_to(HERE)
            if f.is_file() and "__pycache__" not in rel.parts and "_libs" not in rel.parts:
                tar.add(f, arcname=f"{base}/{rel.as_posix()}")
        info = tarfile.TarInfo(f"{base}/PKG-INFO")
        data = _metadata().encode()
        info.size = len(data)
        tar.addfile(info, io.BytesIO(data))
    return out.name
