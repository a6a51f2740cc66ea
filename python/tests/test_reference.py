"""The estimators against independent computations: numpy.linalg.lstsq on
the weighted local design built from its definition, and statsmodels'
local linear KernelReg and KDEMultivariate, to 1e-10 relative on
well-conditioned data."""
from __future__ import annotations

import unittest
import warnings

import numpy as np

import lpfit
from support import near


def block(fit, first, count):
    """Columns first .. first + count - 1 of the table as an m x count array."""
    return np.column_stack([np.asarray(fit.table[k]) for k in fit.columns[first:first + count]])

RNG = np.random.default_rng(7)
N = 300
X = RNG.uniform(-1, 1, (N, 2))
D = RNG.integers(0, 2, N).astype(float)
Y = np.sin(2 * X[:, 0]) + X[:, 0] * X[:, 1] ** 2 + 0.5 * D + RNG.normal(0, 0.2, N)
H = np.array([0.6, 0.7])
AT = np.array([[0.0, 0.0], [0.3, -0.4], [-0.5, 0.6]])


def weights(t):
    u = (X - t) / H
    return np.prod(np.exp(-u * u / 2) / np.sqrt(2 * np.pi), axis=1) / (N * np.prod(H))


def design(est, deg, t, dummies, lam=0):
    """Columns of the local design at t, each with its kind and, for squares,
    the slope column of the same regressor."""
    z = X - t
    cols = [(np.ones(N), "level", 0), (z[:, 0], "slope", 0), (z[:, 1], "slope", 0)]
    if dummies:
        cols.append((D, "slope", 0))
    if deg >= 2 or est in ("locparg", "locpa2g"):
        cols += [(z[:, k] ** 2, "square", 1 + k) for k in range(2)]
    if est == "tremsal" and deg == 3:
        cols += [(z[:, k] ** 3, "cube", 0) for k in range(2)]
    if est in ("locparg", "locpa2g"):
        L, o = lam - 1, 2 - lam
        cols.append((z[:, o] * z[:, L], "plain", 0))
        if est == "locparg":
            cols.append((z[:, o] ** 2 * z[:, L], "plain", 0))
            cols += [(z[:, k] * z[:, L] ** 2, "plain", 0) for k in range(2)]
    return np.column_stack([c for c, _, _ in cols]), [k for _, k, _ in cols], [s for _, _, s in cols]


def lstsq(Z, w, v):
    s = np.sqrt(w)
    return np.linalg.lstsq(Z * s[:, None], v * s, rcond=None)[0]


class WeightedLeastSquares(unittest.TestCase):
    def test_every_estimator_and_column(self):
        factor = {"level": 1, "slope": 1, "square": 2, "cube": 6, "plain": 1}
        cases = [("dorvane", 1, True, 0), ("dorvane", 2, False, 0), ("tremsal", 3, True, 0),
                 ("tremsal", 2, False, 0), ("locpa2g", 2, False, 2), ("locparg", 3, False, 1),
                 ("locparg", 3, True, 2)]
        for est, deg, dummies, lam in cases:
            with self.subTest(estimator=est, deg=deg, dummies=dummies, lam=lam):
                args = dict(dummies=D if dummies else None, bandwidth=H, deg=deg, vol=True, at=AT)
                with warnings.catch_warnings():
                    warnings.simplefilter("ignore", lpfit.FitWarning)
                    fit = getattr(lpfit, est)(X, Y, lam, **args) if lam else getattr(lpfit, est)(X, Y, **args)
                for j, t in enumerate(AT):
                    Z, kind, slope = design(est, deg, t, dummies, lam)
                    w = weights(t)
                    b, g = lstsq(Z, w, Y), lstsq(Z, w, Y * Y)
                    B = len(kind)
                    mh, sh = block(fit, 2, B), block(fit, 2 + B, B)
                    near(self, mh[j], [factor[k] * v for k, v in zip(kind, b)], f"{est} mh at {j}")
                    v = g.copy()
                    v[0] = g[0] - b[0] ** 2
                    for c, k in enumerate(kind):
                        if k == "slope":
                            v[c] = g[c] - 2 * b[0] * b[c]
                        elif k == "square":
                            v[c] = 2 * g[c] - 4 * b[0] * b[c] - 2 * b[slope[c]] ** 2
                    near(self, sh[j], v, f"{est} sh at {j}")
                    near(self, fit.density[j], w.sum(), f"{est} density at {j}")

    def test_grouped_density(self):
        # Observation i (from 0) is in group (i + phase - 1) mod K; each cell
        # holds K times its weight sum and the total stays the density.
        fit = lpfit.dorvane(X, Y, bandwidth=H, at=AT, groups=3, phase=2)
        w = weights(AT[1])
        g = (np.arange(N) + 1) % 3
        near(self, block(fit, len(fit.columns) - 3, 3)[1], [3 * w[g == k].sum() for k in range(3)], "group cells")
        near(self, fit.density[1], w.sum(), "total density")
        self.assertEqual(fit.columns[-3:], ["density_g1", "density_g2", "density_g3"])

    def test_leave_one_out_is_the_fit_without_the_observation(self):
        Xs, Ys = X[:60], Y[:60]
        fit = lpfit.dorvane(Xs, Ys, bandwidth=H, loo=True)
        for i in (0, 17, 59):
            keep = np.arange(60) != i
            u = (Xs[keep] - Xs[i]) / H
            w = np.exp(-0.5 * np.sum(u * u, axis=1))
            Z = np.column_stack([np.ones(59), Xs[keep] - Xs[i]])
            near(self, block(fit, 2, 3)[i], lstsq(Z, w, Ys[keep]), f"leave-one-out at {i}")


class Statsmodels(unittest.TestCase):
    def test_kernel_regression_local_linear(self):
        from statsmodels.nonparametric.kernel_regression import KernelReg

        # Both minimise sum_i K((x_i - t)/h) (y_i - a - b'(x_i - t))^2: the
        # kernels' constants cancel, so level and marginal effects are a and b.
        kr = KernelReg(Y, X, var_type="cc", reg_type="ll", bw=H, ckertype="gaussian")
        mean, mfx = kr.fit(AT)
        fit = lpfit.dorvane(X, Y, bandwidth=H, at=AT)
        near(self, fit.level, mean, "level")
        near(self, block(fit, 3, 2), mfx, "marginal effects")
        kr1 = KernelReg(Y, X[:, 0], var_type="c", reg_type="ll", bw=H[:1])
        mean1, mfx1 = kr1.fit(AT[:, 0])
        fit1 = lpfit.dorvane(X[:, 0], Y, bandwidth=H[0], at=AT[:, 0])
        near(self, fit1.level, mean1, "level, one regressor")
        near(self, fit1.d1_x, mfx1[:, 0], "slope, one regressor")

    def test_kernel_density(self):
        from statsmodels.nonparametric.kernel_density import KDEMultivariate

        # (1 / (n h1 h2)) sum_i phi((x_i1 - t1)/h1) phi((x_i2 - t2)/h2) in both.
        kde = KDEMultivariate(X, var_type="cc", bw=H)
        near(self, lpfit.tremsal(X, Y, bandwidth=H, at=AT).density, kde.pdf(AT), "density")


if __name__ == "__main__":
    unittest.main()
