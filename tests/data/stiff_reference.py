#!/usr/bin/python3
"""Exact local polynomial fits at stiff evaluation points.

Writes tests/data/stiff_reference.txt, which tests/estimators/stiff_test.cpp
reads: the inputs of each case as the bits of their doubles, and at chosen
evaluation points the exact outputs mh and sh of the estimator, computed from
those same doubles with mpmath at 60 to several hundred digits (enough for
the span of the weights that matter, checked by a second solve 40 digits
finer), and the scale each output is measured against.

The fit, from its mathematical definition alone: at point t the weights are
w_i = prod_k exp(-u_k^2/2), u_k = (x_ik - t_k)/h_k (observation j left out
under leave-one-out; the constant factors of the kernel cancel), the design
row z_i holds 1, the centred continuous regressors, the dummies and the
higher columns of the estimator, and the local coefficients solve

    sum_i w_i z_ia z_ib · beta_b = sum_i w_i z_ia y_i     (gamma: y_i^2),

the three intercept sums (a = b = 0, and a = 0 on the right) over the first
nr observations only. The outputs: levels and first-order columns n·beta/nr,
squares 2·beta, cubes 6·beta, cross terms beta; the conditional variance
gamma_0 - beta_0^2, gamma_c - 2·beta_0·beta_c, for a square of column a
2·gamma_c - 4·beta_c·beta_0 - 2·beta_a^2, and gamma_c for cubes and cross
terms.

Scale of an output: a value near zero is not measured against itself. The
error of column c counts against max(|exact|, f_c·S/rms_c), where rms_c is
the weighted root mean square of design column c, f_c its output factor and
S = max_k |beta_k|·rms_k the largest contribution of any column to the local
polynomial (gamma for the variance outputs): the error relative to the size
of the fitted polynomial near the point.

Also the leave-one-out cross-validation scores of Engel's data over a grid
of bandwidths: the mean of (y_i - level_-i)^2 from the exact levels.

Run with Debian's python3-mpmath:  /usr/bin/python3 tests/data/stiff_reference.py
It takes some minutes.
"""
import csv
import math
import multiprocessing
import os
import random
import struct
import sys

import mpmath as mp

HERE = os.path.dirname(os.path.abspath(__file__))


def bits(v):
    return "%016x" % struct.unpack("<Q", struct.pack("<d", float(v)))[0]


# ---- the local fit ---------------------------------------------------------

def design_row(name, z, d, deg, lam):
    """Columns of one observation: (value, kind, squared column)."""
    pc = len(z)
    p = pc + len(d)
    row = [(mp.mpf(1), "intercept", 0)] + [(v, "slope", 0) for v in z] + [(v, "dummy", 0) for v in d]
    if name == "dorvane" or (name == "tremsal" and deg != 3):
        for c in range(p + 1, 1 + pc * deg + (p - pc)):
            row.append((row[c - p][0] ** 2, "square", c - p))
    elif name == "tremsal":
        row += [(z[k] ** 2, "square", k + 1) for k in range(pc)]
        row += [(z[k] ** 3, "cube", 0) for k in range(pc)]
    else:
        L = lam - 1
        row += [(z[k] ** 2, "square", k + 1) for k in range(pc)]
        row += [(z[k] * z[L], "cross", 0) for k in range(pc) if k != L]
        if name == "locparg":
            row += [(z[k] ** 2 * z[L], "cross", 0) for k in range(pc) if k != L]
            row += [(z[k] * z[L] ** 2, "cross", 0) for k in range(pc)]
    return row


class Case:
    def __init__(self, title, name, data, x, y, t, h, deg=1, vol=1, nloo=0, nr=None, lam=0, check=None):
        self.title, self.name, self.data = title, name, data
        self.x, self.y, self.t, self.h = x, y, t, h  # x: n rows of p; t: m rows of p
        self.n, self.p, self.m = len(y), len(x[0]), len(t)
        self.deg, self.vol, self.nloo, self.lam = deg, vol, nloo, lam
        self.nr = self.n if nr is None else nr
        self.pc = self.p if h[-1] >= 0 else int(-h[-1])
        self.check = list(range(self.m)) if check is None else check


def solve(A, b):
    return mp.lu_solve(mp.matrix(A), mp.matrix(b))


def fit_once(c, j):
    """Exact outputs at point j at the current precision."""
    n, pc, p = c.n, c.pc, c.p
    t = [mp.mpf(v) for v in c.t[j][:pc]]
    loo = j if c.nloo == 1 else None
    expo, rows = [], []
    for i in range(n):
        if i == loo:
            continue
        z = [mp.mpf(c.x[i][k]) - t[k] for k in range(pc)]
        a = mp.fsum((zk / mp.mpf(c.h[k])) ** 2 / 2 for k, zk in enumerate(z))
        d = [mp.mpf(c.x[i][k]) for k in range(pc, p)]
        expo.append(a)
        rows.append((i, a, design_row(c.name, z, d, c.deg, c.lam)))
    amin = min(expo)
    B = len(rows[0][2])
    kinds = [k for _, k, _ in rows[0][2]]
    roots = [r for _, _, r in rows[0][2]]
    A = [[mp.mpf(0)] * B for _ in range(B)]
    b1, b2 = [mp.mpf(0)] * B, [mp.mpf(0)] * B
    sw, sq = mp.mpf(0), [mp.mpf(0)] * B
    for i, a, r in rows:
        w = mp.exp(amin - a)
        zv = [v for v, _, _ in r]
        y = mp.mpf(c.y[i])
        for u in range(B):
            if u == 0 and i >= c.nr:
                continue
            b1[u] += w * zv[u] * y
            b2[u] += w * zv[u] * y * y
        for u in range(B):
            for v in range(u, B):
                if u == 0 and v == 0 and i >= c.nr:
                    continue
                A[u][v] += w * zv[u] * zv[v]
        sw += w
        for u in range(B):
            sq[u] += w * zv[u] ** 2
    for u in range(B):
        for v in range(u):
            A[u][v] = A[v][u]
    beta = solve(A, b1)
    gamma = solve(A, b2)
    rms = [mp.sqrt(s / sw) for s in sq]
    fac = [mp.mpf(n) / c.nr if k in ("intercept", "slope", "dummy") else {"square": 2, "cube": 6}.get(k, 1)
           for k in kinds]
    mh = [fac[u] * beta[u] for u in range(B)]
    big = max(abs(beta[u]) * rms[u] for u in range(B))
    smh = [max(abs(mh[u]), fac[u] * big / rms[u]) for u in range(B)]
    sh = []
    for u, k in enumerate(kinds):
        if k == "intercept":
            sh.append(gamma[u] - beta[0] ** 2)
        elif k in ("slope", "dummy"):
            sh.append(gamma[u] - 2 * beta[0] * beta[u])
        elif k == "square":
            sh.append(2 * gamma[u] - 4 * beta[u] * beta[0] - 2 * beta[roots[u]] ** 2)
        else:
            sh.append(gamma[u])
    bigg = max(abs(gamma[u]) * rms[u] for u in range(B))
    ssh = [max(abs(sh[u]), (2 if kinds[u] == "square" else 1) * bigg / rms[u]) for u in range(B)]
    return mh, sh, smh, ssh


def digits_needed(c, j):
    """Decimal digits for the span of the weights that can matter: those of
    the B + 4 heaviest observations, the others lying far below them."""
    t = c.t[j]
    a = []
    for i in range(c.n):
        if c.nloo == 1 and i == j:
            continue
        a.append(sum(((c.x[i][k] - t[k]) / c.h[k]) ** 2 / 2 for k in range(c.pc)))
    a.sort()
    B = 12 if c.name in ("locparg",) else 8
    span = (a[min(len(a) - 1, B)] - a[0]) / math.log(10)
    return int(60 + min(span, 900))


def exact(c, j):
    d = digits_needed(c, j)
    mp.mp.dps = d
    first = fit_once(c, j)
    mp.mp.dps = d + 40
    second = fit_once(c, j)
    for a, b, s in zip(first[0] + first[1], second[0] + second[1], second[2] + second[3]):
        if abs(a - b) > mp.mpf(10) ** -30 * s:
            raise RuntimeError("%s, point %d: %d digits are not enough" % (c.title, j, d))
    return second


# ---- the data --------------------------------------------------------------

def read_csv(name, columns):
    with open(os.path.join(HERE, name)) as f:
        rows = list(csv.DictReader(f))
    return [[float(r[c]) for c in columns] for r in rows]


def cluster_with_isolated(n, p, iso, seed, dummy=False):
    """n - 1 observations uniform on [0, 1]^p (a 0/1 dummy last when asked)
    and observation `at` at the point iso, far from the rest; a smooth
    response with noise."""
    rng = random.Random(seed)
    x = []
    for i in range(n - 1):
        row = [rng.random() for _ in range(p)]
        if dummy:
            row[-1] = float(rng.random() < 0.4)
        x.append(row)
    x.append(list(iso))
    y = []
    for row in x:
        f = 1.0 + sum(math.sin(2.0 * v + k) + 0.5 * v * v for k, v in enumerate(row[: p - 1 if dummy else p]))
        if dummy:
            f += 0.7 * row[-1]
        y.append(f + 0.2 * (rng.random() - 0.5))
    return x, y


def cases():
    out = []
    engel = read_csv("engel.csv", ["income", "foodexp"])
    ex, ey = [[r[0]] for r in engel], [r[1] for r in engel]
    for h in (75.0, 100.0, 150.0):
        out.append(Case("engel: food on income, local linear, leave-one-out, h = %g" % h, "dorvane", "engel",
                        ex, ey, ex, [h], nloo=1))

    boston = read_csv("boston.csv", ["crim", "lstat", "rm", "medv"])
    by = [r[3] for r in boston]
    bcrim = [[r[0]] for r in boston]
    order = sorted(range(len(boston)), key=lambda i: -boston[i][0])
    some = sorted(set(order[:12] + list(range(0, len(boston), 23))))
    for h in (0.5, 1.0, 1.5):
        out.append(Case("boston: medv on crim, local linear, leave-one-out, h = %g" % h, "dorvane", "boston_crim",
                        bcrim, by, bcrim, [h], nloo=1, check=some))
    blr = [[r[1], r[2]] for r in boston]
    out.append(Case("boston: medv on lstat and rm, local linear, leave-one-out, h = (1.047, 0.103)", "dorvane",
                    "boston_lstat_rm", blr, by, blr, [1.047, 0.103], nloo=1))

    # 200 observations on [0, 1]: fits far outside the data.
    rng = random.Random(11)
    fx = sorted(rng.random() for _ in range(200))
    fy = [math.sin(2.0 * math.pi * v) + 0.3 * (rng.random() - 0.5) for v in fx]
    far = [[v] for v in (0.5, 1.2, 1.6, 2.2, 2.6, 3.0)]
    for name, deg in (("dorvane", 1), ("dorvane", 2), ("tremsal", 3)):
        out.append(Case("200 observations on [0, 1], h = 0.1: %s deg %d far outside the data" % (name, deg), name,
                        "uniform200", [[v] for v in fx], fy, far, [0.1], deg=deg))
    out.append(Case("200 observations on [0, 1], h = 0.4: local linear at t = 40, where every weight underflows",
                    "dorvane", "uniform200", [[v] for v in fx], fy, [[0.5], [40.0]], [0.4]))

    # One observation far from the rest: the weights of the others span
    # 1e-40 (h = 0.1) to 1e-300 (h = 0.038) at its own leave-one-out fit.
    ix, iy = cluster_with_isolated(61, 1, [2.0], 5)
    at = [[v] for v in (2.0, 1.5, 0.3, 2.5)]
    for h in (0.1, 0.06, 0.038):
        out.append(Case("isolated observation, local linear, leave-one-out, h = %g" % h, "dorvane", "isolated1",
                        ix, iy, ix, [h], nloo=1))
    out.append(Case("isolated observation, local quadratic, leave-one-out, h = 0.08", "dorvane", "isolated1",
                    ix, iy, ix, [0.08], deg=2, nloo=1))
    out.append(Case("isolated observation, local cubic, leave-one-out, h = 0.12", "tremsal", "isolated1",
                    ix, iy, ix, [0.12], deg=3, nloo=1))
    out.append(Case("isolated observation, local linear at and beyond it, h = 0.1", "dorvane", "isolated1",
                    ix, iy, at, [0.1]))
    out.append(Case("isolated observation, local quadratic at and beyond it, h = 0.1", "dorvane", "isolated1",
                    ix, iy, at, [0.1], deg=2))
    # nr < n: the isolated observation is the last, outside the intercept
    # sums, and (reversed) the first, inside them.
    out.append(Case("isolated observation last, nr = 50, local linear, h = 0.1", "dorvane", "isolated1",
                    ix, iy, at, [0.1], nr=50))
    rx, ry = ix[::-1], iy[::-1]
    out.append(Case("isolated observation first, nr = 50, local quadratic, h = 0.1", "dorvane", "isolated1_reversed",
                    rx, ry, at, [0.1], deg=2, nr=50))
    # A dummy with the conditional variance.
    dx, dy = cluster_with_isolated(81, 2, [2.0, 1.0], 9, dummy=True)
    out.append(Case("isolated observation with a dummy, local linear, leave-one-out, h = 0.1", "dorvane", "isolated_dummy",
                    dx, dy, dx, [0.1, -1], nloo=1))
    out.append(Case("isolated observation with a dummy, local quadratic at and beyond it, h = 0.12", "tremsal",
                    "isolated_dummy", dx, dy, [[2.0, 0.0], [1.4, 0.0], [0.5, 0.0]], [0.12, -1], deg=2))

    # Two regressors, the isolated observation far in both.
    tx, ty = cluster_with_isolated(121, 2, [1.9, 1.7], 13)
    at2 = [[1.9, 1.7], [1.5, 1.4], [0.4, 0.6], [2.3, 2.0]]
    out.append(Case("isolated observation in two regressors, local linear, leave-one-out, h = (0.12, 0.15)", "dorvane",
                    "isolated2", tx, ty, tx, [0.12, 0.15], nloo=1))
    out.append(Case("isolated observation in two regressors, local quadratic at and beyond it, h = 0.15", "dorvane",
                    "isolated2", tx, ty, at2, [0.15, 0.15], deg=2))
    out.append(Case("isolated observation in two regressors, locpa2g, leave-one-out, h = 0.2", "locpa2g", "isolated2",
                    tx, ty, tx, [0.2, 0.2], deg=2, lam=1, nloo=1))
    out.append(Case("isolated observation in two regressors, locparg at and beyond it, h = 0.25", "locparg",
                    "isolated2", tx, ty, at2, [0.25, 0.25], deg=3, lam=2))
    out.append(Case("isolated observation in two regressors, locparg, leave-one-out, h = 0.3", "locparg", "isolated2",
                    tx, ty, tx, [0.3, 0.3], deg=3, lam=2, nloo=1))
    return out


def cv_grid():
    return [30.0 * (400.0 / 30.0) ** (k / 14.0) for k in range(15)]


# ---- output ----------------------------------------------------------------

def exact_task(task):
    kind, k, j = task
    if kind == "case":
        return exact(cases()[k], j)
    engel = read_csv("engel.csv", ["income", "foodexp"])
    ex, ey = [[r[0]] for r in engel], [r[1] for r in engel]
    c = Case("cv", "dorvane", "engel", ex, ey, ex, [cv_grid()[k]], nloo=1, vol=0)
    return exact(c, j)[0][0]


def main():
    out_path = os.path.join(HERE, "stiff_reference.txt")
    all_cases = cases()
    engel = read_csv("engel.csv", ["income", "foodexp"])
    ey = [r[1] for r in engel]
    tasks = [("case", k, j) for k, c in enumerate(all_cases) for j in c.check]
    tasks += [("cv", k, j) for k in range(len(cv_grid())) for j in range(len(ey))]
    with multiprocessing.Pool() as pool:
        results = dict(zip(tasks, pool.map(exact_task, tasks, chunksize=4)))

    lines = ["# Exact local fits at stiff points: written by tests/data/stiff_reference.py, read by",
             "# tests/estimators/stiff_test.cpp and tests/exports/stiff_test.cpp. Doubles as the",
             "# hexadecimal digits of their bits; exact values and scales in decimal, 25 digits.",
             "# mpmath %s" % mp.__version__]
    written = set()
    for k, c in enumerate(all_cases):
        if c.data not in written:
            written.add(c.data)
            lines.append("data %s %d %d" % (c.data, c.n, c.p))
            for col in range(c.p):
                lines.append("x " + " ".join(bits(r[col]) for r in c.x))
            lines.append("y " + " ".join(bits(v) for v in c.y))
        lines.append("case %s" % c.title)
        lines.append("call %s %s m %d deg %d vol %d nloo %d nr %d lam %d" %
                     (c.name, c.data, c.m, c.deg, c.vol, c.nloo, c.nr, c.lam))
        lines.append("h " + " ".join(bits(v) for v in c.h))
        for col in range(c.pc):
            lines.append("t " + " ".join(bits(r[col]) for r in c.t))
        for j in c.check:
            mh, sh, smh, ssh = results[("case", k, j)]
            lines.append("point %d" % j)
            for label, vals in (("mh", mh), ("sh", sh), ("smh", smh), ("ssh", ssh)):
                lines.append(label + " " + " ".join(mp.nstr(v, 25, min_fixed=1, max_fixed=0) for v in vals))
        lines.append("end")
    # Leave-one-out cross-validation of Engel's data.
    for k, h in enumerate(cv_grid()):
        mp.mp.dps = 60
        total = mp.fsum((mp.mpf(ey[j]) - results[("cv", k, j)]) ** 2 for j in range(len(ey)))
        lines.append("cv engel %s %s" % (bits(h), mp.nstr(total / len(ey), 25, min_fixed=1, max_fixed=0)))
    with open(out_path, "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
