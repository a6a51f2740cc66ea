"""Shared data and checks of the Python tests."""
from __future__ import annotations

import os
from pathlib import Path

import numpy as np

REPO = Path(os.environ.get("LPFIT_REPO", Path(__file__).resolve().parents[2]))
BUILD = Path(os.environ.get("LPFIT_BUILD_DIR", REPO / "build"))


def dax_returns():
    """Yesterday's and today's DAX log returns from the bundled prices."""
    prices = np.genfromtxt(REPO / "data" / "eustock.csv", delimiter=",", names=True)["DAX"]
    r = np.diff(np.log(prices))
    return r[:-1], r[1:]


def near(case, got, want, what, rtol=1e-10):
    """Every entry within rtol of the largest |want| of the column: a relative
    error of the column as a whole, which stays meaningful where a
    derivative passes through zero."""
    got, want = np.asarray(got, dtype=float), np.asarray(want, dtype=float)
    scale = np.max(np.abs(want))
    worst = np.max(np.abs(got - want)) / scale
    case.assertLessEqual(worst, rtol, f"{what}: largest relative difference {worst:.3g}")


def same_bits(case, got, want, what):
    got, want = np.asarray(got), np.asarray(want)
    case.assertEqual(got.shape, want.shape, what)
    case.assertTrue(np.array_equal(got.view(np.uint64), want.view(np.uint64)), f"{what}: the bits differ")
