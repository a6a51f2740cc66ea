#!/usr/bin/python3
"""Bandwidth selection against statsmodels, in one run on this machine.

For each public data set: least-squares cross-validation of a local linear fit
by statsmodels' KernelReg(reg_type="ll", bw="cv_ls") and by the core
(bandwidth "cv"), with the bandwidths, their leave-one-out scores (both
computed by the core, so that they are comparable) and the wall-clock times
(best of three). Then np's published case: a local linear least-squares
cross-validation with n = 5000, one continuous and two binary regressors.

Usage: bench/compare_selection.py [BUILD_DIR]   (default build/, with liblpcore.so)
"""
import ctypes
import os
import sys
import time

import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build")
L = ctypes.CDLL(os.path.join(BUILD, "liblpcore.so"))
P = ctypes.POINTER(ctypes.c_double)
L.lpc_request_new.restype = ctypes.c_void_p
L.lpc_request_new.argtypes = [ctypes.c_char_p]
L.lpc_message.restype = ctypes.c_char_p
L.lpc_message.argtypes = [ctypes.c_void_p]
L.lpc_values.restype = P
L.lpc_values.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.POINTER(ctypes.c_size_t)]
L.lpc_set_response.argtypes = [ctypes.c_void_p, ctypes.c_char_p, P, ctypes.c_size_t]
L.lpc_add_regressor.argtypes = [ctypes.c_void_p, ctypes.c_char_p, P, ctypes.c_size_t, ctypes.c_int]
L.lpc_set_int.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_longlong]
L.lpc_set_doubles.argtypes = [ctypes.c_void_p, ctypes.c_char_p, P, ctypes.c_size_t]
L.lpc_set_text.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p]
L.lpc_run.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p, ctypes.POINTER(ctypes.c_void_p)]
L.lpc_fit_free.argtypes = [ctypes.c_void_p]
L.lpc_request_free.argtypes = [ctypes.c_void_p]


def core(y, xs, dummies=(), estimator="dorvane", **options):
    """Runs the core; returns its named values."""
    request = L.lpc_request_new(estimator.encode())
    keep = []

    def arr(v):
        a = np.ascontiguousarray(v, dtype=float)
        keep.append(a)
        return a.ctypes.data_as(P), a.size

    L.lpc_set_response(request, b"y", *arr(y))
    for k, x in enumerate(xs):
        L.lpc_add_regressor(request, b"x%d" % k, *arr(x), 0)
    for k, x in enumerate(dummies):
        L.lpc_add_regressor(request, b"d%d" % k, *arr(x), 1)
    for name, v in options.items():
        if isinstance(v, str):
            L.lpc_set_text(request, name.encode(), v.encode())
        elif isinstance(v, int):
            L.lpc_set_int(request, name.encode(), v)
        else:
            L.lpc_set_doubles(request, name.encode(), *arr(v))
    fit = ctypes.c_void_p()
    status = L.lpc_run(request, None, None, ctypes.byref(fit))
    if status:
        raise RuntimeError(L.lpc_message(fit).decode())
    out = {}
    n = ctypes.c_size_t()
    for name in ("bandwidth", "score", "selection_score"):
        p = L.lpc_values(fit, name.encode(), ctypes.byref(n))
        if p:
            out[name] = np.ctypeslib.as_array(p, (n.value,)).copy()
    L.lpc_fit_free(fit)
    L.lpc_request_free(request)
    return out


def best_of(f, k=3):
    times, result = [], None
    for _ in range(k):
        t = time.perf_counter()
        result = f()
        times.append(time.perf_counter() - t)
    return min(times), result


def score(y, xs, h):
    grid = np.asarray(h, dtype=float)
    return core(y, xs, cv_grid=grid, task="score", at=np.zeros(len(xs)))["score"][0]


def read(path, *names):
    d = np.genfromtxt(path, delimiter=",", names=True)
    return [d[n] for n in names]


def main():
    import statsmodels.api as sm

    cpu = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo") if line.startswith("model name")), "?")
    print(f"processor: {cpu}, {os.cpu_count()} cores; statsmodels {sm.__version__}")
    sel = os.path.join(ROOT, "tests", "data", "selection")
    cases = [
        ("mcycle: accel ~ times", *read(os.path.join(ROOT, "data", "mcycle.csv"), "accel", "times")),
        ("faithful: eruptions ~ waiting", *read(os.path.join(sel, "faithful.csv"), "eruptions", "waiting")),
        ("Boston: medv ~ lstat + rm", *read(os.path.join(sel, "boston.csv"), "medv", "lstat", "rm")),
    ]
    print(f"{'data':32s} {'statsmodels h':>22s} {'score':>10s} {'s':>7s}   {'core h':>22s} {'score':>10s} {'s':>7s} {'times faster':>12s}")
    for name, y, *xs in cases:
        ts, kr = best_of(lambda: sm.nonparametric.KernelReg(y, np.column_stack(xs), var_type="c" * len(xs),
                                                             reg_type="ll", bw="cv_ls"), 1 if len(xs) > 1 else 3)
        tc, ours = best_of(lambda: core(y, xs, bandwidth="cv", at=np.zeros(len(xs))))
        hs, hc = kr.bw, ours["bandwidth"]
        print(f"{name:32s} {' '.join('%.4f' % v for v in hs):>22s} {score(y, xs, hs):10.6g} {ts:7.3f}   "
              f"{' '.join('%.4f' % v for v in hc):>22s} {score(y, xs, hc):10.6g} {tc:7.3f} {ts / tc:12.0f}")

    # np's published case: n = 5000, one continuous regressor and two binary ones.
    rng = np.random.default_rng(42)
    n = 5000
    x = rng.uniform(-2, 2, n)
    d1, d2 = rng.integers(0, 2, n).astype(float), rng.integers(0, 2, n).astype(float)
    y = np.sin(2 * x) + 0.5 * d1 - 0.3 * d2 + 0.5 * rng.standard_normal(n)
    for threads in (1, 2):
        t, out = best_of(lambda: core(y, [x], [d1, d2], bandwidth="cv", threads=threads, at=np.zeros(1)))
        print(f"np's case, n = 5000, one continuous and two binary regressors, {threads} thread(s): "
              f"h = {out['bandwidth'][0]:.4f} after {out['selection_score'].size} fits, {t:.2f} s")


if __name__ == "__main__":
    main()
