#!/usr/bin/python3
"""Times the estimators against an exact, vectorised NumPy local polynomial fit.

Both run in this one process, single-threaded, on the same data: x uniform on
[0, 1], a smooth response with noise, evaluation points uniform on [0, 1],
conditional variance on (vol = 1). The NumPy fit is the textbook one: for a
block of evaluation points it forms the n kernel weights of every point, the
weighted moments of the local design by elementwise products and sums, and
solves the normal equations with numpy.linalg.solve; it computes the same
estimator as the library, without binning or any other approximation.

Prints, for each workload, both times (the best of --repeat runs), their ratio,
and how far apart the two fits' levels are.

    bench/compare_numpy.py --lib build            # W1-W3 at their full sizes
    bench/compare_numpy.py --lib build --size 1000
"""
import argparse
import ctypes
import os
import sys
import time

# One thread for NumPy's BLAS as for the library: set before NumPy loads.
for var in ("OMP_NUM_THREADS", "OPENBLAS_NUM_THREADS", "MKL_NUM_THREADS", "BLIS_NUM_THREADS"):
    os.environ[var] = "1"

import numpy as np  # noqa: E402



# Points per block, so that a block's n × points temporaries (about half a
# megabyte each) stay in cache.
CACHE_ELEMENTS = 1 << 16
WORKLOADS = {
    # name: (p, deg, n = m)
    "W1": (1, 1, 16000),
    "W2": (1, 2, 16000),
    "W3": (2, 1, 4000),
}


def problem(n, m, p, seed=7):
    rng = np.random.default_rng(seed)
    x = rng.uniform(0.0, 1.0, size=(n, p))
    y = np.sin(2.0 * np.pi * x).sum(axis=1) + (0.2 + 0.3 * x[:, 0]) * rng.standard_normal(n)
    t = rng.uniform(0.0, 1.0, size=(m, p))
    return x, y, t


def numpy_fit(x, y, t, h, deg):
    """Local polynomial fit (intercept, centred regressors, their squares for
    deg = 2) with the Gaussian product kernel; returns the level of the
    regression function, the conditional variance and the density."""
    n, p = x.shape
    m = t.shape[0]
    block = max(1, CACHE_ELEMENTS // n)
    norm = 1.0 / (n * float(np.prod(h)) * (2.0 * np.pi) ** (p / 2))
    yy = np.stack([y, y * y], axis=1)  # n × 2: the responses and their squares
    level, var, dens = np.empty(m), np.empty(m), np.empty(m)
    for j0 in range(0, m, block):
        tb = t[j0:j0 + block]
        # Centred regressors and the kernel weights of the block, points × n.
        d = [np.subtract.outer(-tb[:, k], -x[:, k]) for k in range(p)]
        w = np.zeros((tb.shape[0], n))
        for k in range(p):
            u = d[k] / h[k]
            u *= u
            w -= u
        w *= 0.5
        np.exp(w, out=w)
        w *= norm
        cols = d + ([dk * dk for dk in d] if deg == 2 else [])
        wz = [w] + [w * c for c in cols]  # W·Z, column by column
        B = len(wz)
        ZWZ = np.empty((tb.shape[0], B, B))
        for a in range(B):
            ZWZ[:, a, 0] = ZWZ[:, 0, a] = wz[a].sum(axis=1)
            for b in range(max(a, 1), B):
                ZWZ[:, a, b] = ZWZ[:, b, a] = np.einsum("ij,ij->i", wz[a], cols[b - 1])
        ZWy = np.stack([wa @ yy for wa in wz], axis=1)  # points × B × 2
        coef = np.linalg.solve(ZWZ, ZWy)
        level[j0:j0 + block] = coef[:, 0, 0]
        var[j0:j0 + block] = coef[:, 0, 1] - coef[:, 0, 0] ** 2
        dens[j0:j0 + block] = ZWZ[:, 0, 0]
    return level, var, dens


def library_fit(lib, x, y, t, h, deg):
    n, p = x.shape
    m = t.shape[0]
    B = 1 + p * deg
    c = lambda v: np.ascontiguousarray(v, dtype=np.float64)  # noqa: E731
    xs, ys, ts, hs = c(x.T), c(y), c(t.T), c(h)  # column-major as the library reads them
    mh, sh, fh = np.zeros(m * B), np.zeros(m * B), np.zeros(m)
    scal = [np.array([v], dtype=np.float64) for v in (n, p, n, m, deg, 1, 0)]
    grp = np.zeros(2)
    ptr = lambda a: a.ctypes.data_as(ctypes.POINTER(ctypes.c_double))  # noqa: E731
    lib.dorvane(ptr(xs), ptr(scal[0]), ptr(scal[1]), ptr(ys), ptr(scal[2]), ptr(ts), ptr(scal[3]), ptr(hs),
                ptr(grp), ptr(mh), ptr(sh), ptr(fh), ptr(scal[4]), ptr(scal[5]), ptr(scal[6]))
    return mh[:m], sh[:m], fh


def best_time(f, repeat):
    # Processor time of this process: both fits run on this one thread, and a
    # shared machine's other work does not count against either.
    best, out = float("inf"), None
    for _ in range(repeat):
        t0 = time.process_time()
        out = f()
        best = min(best, time.process_time() - t0)
    return best, out


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--lib", action="append",
                    help="folder holding Dorvane.so; repeat to time several builds in the same run "
                         "(default: build, and build/bench/avx2 and build/bench/sse2 where they exist)")
    ap.add_argument("--size", type=int, help="n = m for every workload instead of its own")
    ap.add_argument("--bandwidth", type=float, default=0.1, help="bandwidth of every regressor (default 0.1)")
    ap.add_argument("--repeat", type=int, default=3, help="runs of each fit; the best counts (default 3)")
    ap.add_argument("workloads", nargs="*", default=list(WORKLOADS), help="W1, W2, W3 (default: all)")
    args = ap.parse_args()

    folders = args.lib or [f for f in ("build", "build/bench/avx2", "build/bench/sse2")
                           if os.path.exists(os.path.join(f, "Dorvane.so"))]
    libs = []
    for folder in folders:
        lib = ctypes.CDLL(os.path.abspath(os.path.join(folder, "Dorvane.so")))
        lib.dorvane.restype = ctypes.c_int
        libs.append((folder, lib))
    print(f"{'workload':<26} {'library':<18} {'numpy s':>9} {'library s':>10} {'library/numpy':>14} "
          f"{'level rel. diff':>16}")
    for name in args.workloads:
        p, deg, size = WORKLOADS[name]
        n = m = args.size or size
        x, y, t = problem(n, m, p)
        h = np.full(p, args.bandwidth)
        t_np, (lev_np, var_np, f_np) = best_time(lambda: numpy_fit(x, y, t, h, deg), args.repeat)
        label = f"{name}: p={p} deg={deg} n=m={n}"
        for folder, lib in libs:
            t_lib, (lev_lib, var_lib, f_lib) = best_time(lambda: library_fit(lib, x, y, t, h, deg), args.repeat)
            diff = max(np.max(np.abs(lev_lib - lev_np) / np.abs(lev_np).max()),
                       np.max(np.abs(f_lib - f_np) / np.abs(f_np).max()))
            print(f"{label:<26} {folder:<18} {t_np:9.3f} {t_lib:10.3f} {t_lib / t_np:14.3f} {diff:16.2e}",
                  flush=True)


if __name__ == "__main__":
    sys.exit(main())
