#!/usr/bin/python3
"""What standard errors and intervals cost, as multiples of the plain fit
at the same points, in one run, best of five, on one thread.

Each option adds work to the fit: "fitted" the fit at the n observations
(the residuals), "se" that and the moment pass of the sandwich, "ci" the
intervals on top (rbc: a fit one or two orders wider with its own
sandwich; uniform: its level's linear weights and 1000 bootstrap draws).

Usage: bench/se_cost.py [BUILD_DIR]   (default build/, with liblpcore.so)
"""
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from compare_selection import best_of, core  # noqa: E402  (the same ctypes caller and timer)


def best(f, k=5):
    return best_of(f, k)[0]


def main():
    rng = np.random.default_rng(11)
    n = 2000
    x1, x2 = rng.uniform(0, 1, n), rng.uniform(0, 1, n)
    y = np.sin(6 * x1) + x2 + 0.3 * rng.standard_normal(n)
    t = np.linspace(0.02, 0.98, n)
    designs = [
        ("dorvane, one regressor", "dorvane", [x1], dict(bandwidth=np.array([0.08]), at=t)),
        ("tremsal, one regressor", "tremsal", [x1], dict(bandwidth=np.array([0.15]), at=t)),
        ("dorvane, two regressors", "dorvane", [x1, x2], dict(bandwidth=np.array([0.15, 0.3]), at=np.r_[t, t[::-1]])),
    ]
    extras = [("fitted", dict(fitted=1)), ("se", dict(se="residual")), ("ci pointwise", dict(ci="pointwise")),
              ("ci rbc", dict(ci="rbc")), ("ci uniform", dict(ci="uniform"))]
    print(f"n = m = {n}; times as multiples of the plain fit")
    print(f"{'design':26s} {'fit s':>7s}" + "".join(f" {name:>13s}" for name, _ in extras))
    for label, est, xs, opts in designs:
        base = dict(opts, threads=1)
        plain = best(lambda: core(y, xs, estimator=est, **base))
        ratios = [best(lambda: core(y, xs, estimator=est, **base, **extra)) / plain for _, extra in extras]
        print(f"{label:26s} {plain:7.3f}" + "".join(f" {r:13.2f}" for r in ratios))


if __name__ == "__main__":
    main()
