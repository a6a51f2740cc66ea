#!/usr/bin/python3
"""Threads of the fitting core: one fit and one leave-one-out
cross-validation score on 1 and on 2 threads, in one run, best of five,
wall-clock time. The fits are of at least 10^7 observation-point pairs.

Usage: bench/core_threads.py [BUILD_DIR]   (default build/, with liblpcore.so)
"""
import os
import sys
import time

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from compare_selection import best_of, core  # noqa: E402  (the same ctypes caller and timer)


def best(f, k=5):
    return best_of(f, k)[0]


def main():
    rng = np.random.default_rng(7)
    n = 4000
    x = rng.uniform(0, 1, n)
    y = np.sin(6 * x) + 0.3 * rng.standard_normal(n)
    t = np.linspace(0, 1, 4000)
    cases = [
        ("W1-like fit, n = m = 4000 (1.6e7 pairs)", lambda th: core(y, [x], bandwidth=np.array([0.1]), at=t, threads=th)),
        ("leave-one-out CV score, n = 4000", lambda th: core(y, [x], cv_grid=np.array([0.1]), task="score",
                                                          at=np.zeros(1), threads=th)),
    ]
    print(f"{'case':44s} {'1 thread s':>11s} {'2 threads s':>12s} {'speed-up':>9s}")
    for name, f in cases:
        one, two = best(lambda: f(1)), best(lambda: f(2))
        print(f"{name:44s} {one:11.3f} {two:12.3f} {one / two:9.2f}")


if __name__ == "__main__":
    main()
