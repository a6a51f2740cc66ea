"""Shared data and checks of the Python tests, and a direct call of the
fitting core written apart from the package's own binding."""
from __future__ import annotations

import ctypes
import math
import os
import warnings
from pathlib import Path

import numpy as np

REPO = Path(os.environ.get("LPFIT_REPO", Path(__file__).resolve().parents[2]))
BUILD = Path(os.environ.get("LPFIT_BUILD_DIR", REPO / "build"))
HERE = Path(__file__).resolve().parent


def log(p):
    """The C library's log, element by element (NumPy's may differ in the last
    bit), so that returns are those of R's diff(log(P)) and the tool."""
    return np.array([math.log(v) for v in p])


def dax_returns():
    """Yesterday's and today's DAX log returns from the bundled prices."""
    prices = np.genfromtxt(REPO / "data" / "eustock.csv", delimiter=",", names=True)["DAX"]
    r = np.diff(log(prices))
    return r[:-1], r[1:]


def boston():
    """MASS::Boston, as written by Rscript -e 'write.csv(MASS::Boston, "boston.csv", row.names = FALSE)'."""
    import pandas as pd
    return pd.read_csv(HERE / "data" / "boston.csv")


def near(case, got, want, what, rtol=1e-10):
    """Every entry within rtol of the largest |want| of the column: a relative
    error of the column as a whole, which stays meaningful where a
    derivative passes through zero."""
    got, want = np.asarray(got, dtype=float), np.asarray(want, dtype=float)
    worst = np.max(np.abs(got - want)) / np.max(np.abs(want))
    case.assertLessEqual(worst, rtol, f"{what}: largest relative difference {worst:.3g}")


def same_bits(case, got, want, what, any_nan=False):
    """The same doubles bit for bit; with any_nan, a NaN matches any NaN (R
    may carry its NA in the payload)."""
    got, want = np.array(got, dtype=float), np.array(want, dtype=float)
    case.assertEqual(got.shape, want.shape, what)
    if any_nan:
        case.assertTrue(np.array_equal(np.isnan(got), np.isnan(want)), f"{what}: the NaNs differ")
        got[np.isnan(got)] = want[np.isnan(want)] = np.nan
    case.assertTrue(np.array_equal(got.view(np.uint64), want.view(np.uint64)), f"{what}: the bits differ")


def same_table(case, got, want, what, any_nan=False):
    """Two tables (mappings of name to column) with the same names in order
    and the same bits in every column."""
    case.assertEqual(list(got), list(want), f"{what}: columns")
    for name in want:
        same_bits(case, np.asarray(got[name]), np.asarray(want[name]), f"{what}: {name}", any_nan)


def quiet(f, *args, **kw):
    import lpfit
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", lpfit.FitWarning)
        return f(*args, **kw)


def core(estimator, y, regressors, ints=(), doubles=(), texts=()):
    """The table of one run of build/liblpcore.so, called as a C program would:
    regressors as (name, values, dummy), options as (name, value) pairs."""
    lib = ctypes.CDLL(str(BUILD / "liblpcore.so"))
    P, D = ctypes.c_void_p, ctypes.POINTER(ctypes.c_double)
    lib.lpc_request_new.restype = P
    lib.lpc_column_name.restype = lib.lpc_message.restype = lib.lpc_text.restype = ctypes.c_char_p
    lib.lpc_values.restype = D
    keep = []

    def arr(v):
        a = np.ascontiguousarray(v, dtype=float)
        keep.append(a)
        return a.ctypes.data_as(D), ctypes.c_size_t(a.size)

    s = P(lib.lpc_request_new(estimator.encode()))
    lib.lpc_set_response(s, b"y", *arr(y))
    for name, x, dummy in regressors:
        lib.lpc_add_regressor(s, name.encode(), *arr(x), ctypes.c_int(dummy))
    for name, v in ints:
        lib.lpc_set_int(s, name.encode(), ctypes.c_longlong(v))
    for name, v in doubles:
        lib.lpc_set_doubles(s, name.encode(), *arr(np.atleast_1d(v)))
    for name, v in texts:
        lib.lpc_set_text(s, name.encode(), v.encode())
    f = P()
    status = lib.lpc_run(s, None, None, ctypes.byref(f))
    try:
        if status:
            raise AssertionError(lib.lpc_message(f).decode())
        rows = ctypes.c_size_t()
        names = [lib.lpc_column_name(f, ctypes.c_size_t(k)).decode() for k in range(lib.lpc_columns(f))]
        table = {}
        for k in names:
            p = lib.lpc_values(f, k.encode(), ctypes.byref(rows))
            table[k] = np.ctypeslib.as_array(p, (rows.value,)).copy()
        return table, lib.lpc_text(f, b"warnings", 0).decode()
    finally:
        lib.lpc_fit_free(f)
        lib.lpc_request_free(s)
