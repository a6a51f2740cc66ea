#!/usr/bin/python3
"""Times the estimators against two exact, vectorised NumPy local polynomial fits.

All run in this one process, single-threaded, on the same data: x uniform on
[0, 1], a smooth response with noise, evaluation points uniform on [0, 1],
conditional variance on (vol = 1). Both NumPy fits compute the same estimator
as the library, without binning or any other approximation:

textbook  for a block of evaluation points, the n kernel weights of every
          point, the weighted moments of the local design by elementwise
          products and sums over fresh temporaries, numpy.linalg.solve;

strong    the form a numerical Python user tunes for speed: x/h prescaled
          once; the points sorted along the first regressor and taken in
          chunks whose chunk × n work arrays stay in cache, the work arrays
          allocated once and reused with out=; one exp per pair, in place;
          all weighted sums of a chunk as one einsum (or matmul, whichever
          this machine's NumPy does faster) of the weight block against the
          products of the design columns with each other, with y and with
          y². The design is centred at the middle of a group of neighbouring
          points rather than at each point, which spans the same local
          polynomials, so every point's fit is the same and is read off at
          its own centre by a Taylor shift.

Prints the processor, then for each workload and library the three times (the
best of --repeat runs), the ratios library/strong and library/textbook, and
how far each NumPy fit is from the library (largest difference of the level,
the conditional variance and the density, relative to the largest value).

    bench/compare_numpy.py                        # W1-W3, every build found
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

WORKLOADS = {
    # name: (p, deg, n = m)
    "W1": (1, 1, 16000),
    "W2": (1, 2, 16000),
    "W3": (2, 1, 4000),
}


def processor():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    import platform
    return platform.processor() or "unknown processor"


def problem(n, m, p, seed=7):
    rng = np.random.default_rng(seed)
    x = rng.uniform(0.0, 1.0, size=(n, p))
    y = np.sin(2.0 * np.pi * x).sum(axis=1) + (0.2 + 0.3 * x[:, 0]) * rng.standard_normal(n)
    t = rng.uniform(0.0, 1.0, size=(m, p))
    return x, y, t


# ---- textbook --------------------------------------------------------------

# Points per block, so that a block's n × points temporaries (about half a
# megabyte each) stay in cache.
CACHE_ELEMENTS = 1 << 16


def textbook_fit(x, y, t, h, deg):
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


# ---- strong ----------------------------------------------------------------

# Elements of one work array (1 MiB): the chunk × n weight block and its
# companion stay in the second-level cache.
CHUNK_ELEMENTS = 1 << 17
# Neighbouring points that share the centre of their design.
GROUP = 64


def design_powers(p, deg):
    """The local design as exponent vectors: 1, v_k and, for deg = 2, v_k²."""
    unit = [tuple(int(i == k) for i in range(p)) for k in range(p)]
    return [(0,) * p] + unit + ([tuple(2 * e for e in u) for u in unit] if deg == 2 else [])


def einsum_moments(W, GT, out):
    np.einsum("ij,kj->ik", W, GT, out=out)


def matmul_moments(W, GT, out):
    np.matmul(W, GT.T, out=out)


def faster_moments(n, q):
    """einsum or matmul, whichever forms a weight block's sums faster here
    (einsum with the reference BLAS, matmul with a tuned one)."""
    rows = max(1, min(GROUP, CHUNK_ELEMENTS // n))
    W, GT, out = np.random.default_rng(1).random((rows, n)), np.ones((q, n)), np.empty((rows, q))
    best = None
    for f in (einsum_moments, matmul_moments):
        t0 = time.perf_counter()
        for _ in range(5):
            f(W, GT, out)
        dt = time.perf_counter() - t0
        if best is None or dt < best[0]:
            best = (dt, f)
    return best[1]


def strong_fit(x, y, t, h, deg, moments=einsum_moments):
    """The fit of textbook_fit, tuned; the same three outputs."""
    n, p = x.shape
    m = t.shape[0]
    uT = np.ascontiguousarray((x / h).T)  # p × n, in bandwidths
    tau = t / h
    order = np.argsort(tau[:, 0], kind="stable")
    tau = tau[order]

    # Design columns, the distinct products of two of them, and where each
    # entry of ZWZ finds its product.
    cols = design_powers(p, deg)
    B = len(cols)
    times = lambda e, f: tuple(i + j for i, j in zip(e, f))  # noqa: E731
    prods = sorted({times(cols[a], cols[b]) for a in range(B) for b in range(a, B)})
    index = {e: k for k, e in enumerate(prods)}
    q0 = len(prods)
    q = q0 + 2 * B  # then Z·y and Z·y²
    at = np.array([[index[times(cols[a], cols[b])] for b in range(B)] for a in range(B)])

    rows = max(1, min(GROUP, CHUNK_ELEMENTS // n))
    GT = np.empty((q, n))      # the moment columns, one per row
    W = np.empty((rows, n))    # the weight block
    D = np.empty((rows, n))    # one regressor's squared distances
    M = np.empty((GROUP, q))   # a group's weighted sums
    level, var, dens = np.empty(m), np.empty(m), np.empty(m)
    norm = 1.0 / (n * float(np.prod(h)) * (2.0 * np.pi) ** (p / 2))

    for g0 in range(0, m, GROUP):
        tg = tau[g0:g0 + GROUP]
        G = tg.shape[0]
        c = 0.5 * (tg.min(axis=0) + tg.max(axis=0))  # the group's centre
        v = uT - c[:, None]
        for k, e in enumerate(prods):
            GT[k].fill(1.0)
            for i, ei in enumerate(e):
                for _ in range(ei):
                    GT[k] *= v[i]
        for a in range(B):
            np.multiply(GT[index[cols[a]]], y, out=GT[q0 + a])
            np.multiply(GT[q0 + a], y, out=GT[q0 + B + a])

        for j0 in range(0, G, rows):
            tb = tg[j0:j0 + rows]
            k = tb.shape[0]
            Wk, Dk = W[:k], D[:k]
            np.subtract(tb[:, 0:1], uT[0], out=Wk)
            np.multiply(Wk, Wk, out=Wk)
            for i in range(1, p):
                np.subtract(tb[:, i:i + 1], uT[i], out=Dk)
                np.multiply(Dk, Dk, out=Dk)
                np.add(Wk, Dk, out=Wk)
            np.multiply(Wk, -0.5, out=Wk)
            np.exp(Wk, out=Wk)
            moments(Wk, GT, M[j0:j0 + k])

        # The group's normal equations at once; each point's polynomial read
        # off at its own place.
        Mg = M[:G]
        coef = np.linalg.solve(Mg[:, at], np.stack([Mg[:, q0:q0 + B], Mg[:, q0 + B:]], axis=2))
        delta = tg - c
        zt = np.ones((G, B))
        for a, e in enumerate(cols):
            for i, ei in enumerate(e):
                if ei:
                    zt[:, a] *= delta[:, i] ** ei
        val = np.einsum("ga,gab->gb", zt, coef)
        back = order[g0:g0 + G]
        level[back] = val[:, 0]
        var[back] = val[:, 1] - val[:, 0] ** 2
        dens[back] = Mg[:, index[(0,) * p]] * norm
    return level, var, dens


# ---- the library -----------------------------------------------------------

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
    # Processor time of this process: every fit runs on this one thread, and a
    # shared machine's other work does not count against any.
    best, out = float("inf"), None
    for _ in range(repeat):
        t0 = time.process_time()
        out = f()
        best = min(best, time.process_time() - t0)
    return best, out


def distance(fit, ref):
    """Largest difference of level, variance and density, relative to the
    largest magnitude of each in ref."""
    return max(float(np.max(np.abs(a - b)) / np.abs(b).max()) for a, b in zip(fit, ref))


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
    print(f"processor: {processor()}; NumPy {np.__version__}; processor time, best of {args.repeat}")
    print(f"{'workload':<24} {'library':<17} {'textbook s':>10} {'strong s':>9} {'library s':>9} "
          f"{'lib/strong':>10} {'lib/textbook':>12} {'strong diff':>11} {'textbook diff':>13}")
    for name in args.workloads:
        p, deg, size = WORKLOADS[name]
        n = m = args.size or size
        x, y, t = problem(n, m, p)
        h = np.full(p, args.bandwidth)
        moments = faster_moments(n, 16)
        t_text, text = best_time(lambda: textbook_fit(x, y, t, h, deg), args.repeat)
        t_strong, strong = best_time(lambda: strong_fit(x, y, t, h, deg, moments), args.repeat)
        label = f"{name}: p={p} deg={deg} n=m={n}"
        for folder, lib in libs:
            t_lib, ref = best_time(lambda: library_fit(lib, x, y, t, h, deg), args.repeat)
            print(f"{label:<24} {folder:<17} {t_text:10.3f} {t_strong:9.3f} {t_lib:9.3f} "
                  f"{t_lib / t_strong:10.3f} {t_lib / t_text:12.3f} {distance(strong, ref):11.1e} "
                  f"{distance(text, ref):13.1e}", flush=True)


if __name__ == "__main__":
    sys.exit(main())
