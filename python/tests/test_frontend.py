"""The Python front end itself: pandas in and out, names from the data,
missing values, messages and warnings, failed points, the result's methods,
and NumPy alone when pandas is absent."""
from __future__ import annotations

import csv
import os
import subprocess
import sys
import tempfile
import unittest
import warnings
from pathlib import Path

import numpy as np

import lpfit
from support import boston, quiet, same_bits, same_table

try:
    import pandas as pd
except ImportError:
    pd = None
try:
    import matplotlib
    matplotlib.use("Agg")
except ImportError:
    matplotlib = None

RNG = np.random.default_rng(3)
N = 80
x = RNG.uniform(-1, 1, N)
y = 1 + 2 * x + RNG.normal(0, 0.1, N)
FAR = dict(bandwidth=0.05, at=[0.5, -40.0, 4.5, 90.0], vol=True)  # points 1 and 3 have no near observation


def record(f, *args, **kw):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        fit = f(*args, **kw)
    return fit, [c for c in caught if issubclass(c.category, lpfit.FitWarning)]


@unittest.skipIf(pd is None, "pandas is not installed")
class Pandas(unittest.TestCase):
    df = boston() if pd is not None else None

    def test_boston_data_frame_names_the_columns_and_keeps_its_index(self):
        df = self.df.set_index(self.df.index + 1000)
        fit = lpfit.dorvane(df[["lstat", "rm"]], df["medv"])
        self.assertEqual(fit.columns, ["lstat", "rm", "level", "d1_lstat", "d1_rm", "density"])
        self.assertIsInstance(fit.table, pd.DataFrame)
        self.assertTrue(fit.table.index.equals(df.index))
        self.assertTrue(str(fit).startswith("dorvane: local linear fit, n = 506, 506 evaluation points\n"))
        arrays = lpfit.dorvane({"lstat": df["lstat"].to_numpy(), "rm": df["rm"].to_numpy()}, df["medv"].to_numpy())
        same_table(self, fit.table, arrays.table, "DataFrame against arrays")

    def test_series_dummies_and_fitted_values_on_the_data_index(self):
        df = self.df
        fit = lpfit.dorvane(df["lstat"], df["medv"], dummies=df["chas"] == 1, bandwidth=2.0)
        self.assertEqual(fit.columns, ["lstat", "level", "d1_lstat", "effect_chas", "density"])
        fitted, residuals = fit.fitted(), fit.residuals()
        self.assertIsInstance(fitted, pd.Series)
        self.assertTrue(fitted.index.equals(df.index))
        # At the observations the fit is the level plus the dummy's effect.
        same_bits(self, fitted, fit.table["level"] + fit.table["effect_chas"] * df["chas"], "fitted")
        same_bits(self, residuals, df["medv"] - fitted, "residuals")
        self.assertEqual(lpfit.dorvane(pd.Series(df["lstat"].to_numpy()), df["medv"]).columns[0], "x")

    def test_missing_values_raise_naming_the_column_or_are_dropped_and_counted(self):
        df = self.df[["lstat", "rm", "medv"]].astype(object)
        df.loc[[2, 7], "rm"] = None
        df.loc[9, "medv"] = pd.NA
        with self.assertRaisesRegex(ValueError, "response 'medv' has 1 missing or infinite value"):
            lpfit.dorvane(df[["lstat", "rm"]], df["medv"])
        with self.assertRaisesRegex(ValueError, "regressor 'rm' has 2 missing or infinite values"):
            lpfit.dorvane(df[["lstat", "rm"]], self.df["medv"])
        fit = lpfit.dorvane(df[["lstat", "rm"]], df["medv"], missing="drop")
        self.assertEqual(fit.dropped, [2, 7, 9])
        self.assertEqual(len(fit.table), 503)
        self.assertTrue(fit.table.index.equals(df.index.delete([2, 7, 9])))
        self.assertIn("3 dropped for a missing value (2, 7 and 9)", fit.summary())
        kept = self.df.drop(index=[2, 7, 9])
        same_table(self, fit.table.reset_index(drop=True),
                   lpfit.dorvane(kept[["lstat", "rm"]], kept["medv"]).table.reset_index(drop=True), "dropped")
        self.assertEqual(len(fit.fitted()), 503)

    def test_a_column_that_is_not_numeric_is_named(self):
        df = self.df.assign(town="x")
        for call, message in ((lambda: lpfit.dorvane(df[["lstat", "town"]], df["medv"]),
                               "x: column 'town' must be numeric"),
                              (lambda: lpfit.dorvane(df["lstat"], df["town"]), "y: column 'town' must be numeric"),
                              (lambda: lpfit.dorvane(df["lstat"], df["medv"], dummies=df[["town"]]),
                               "dummies: column 'town' must be numeric"),
                              (lambda: lpfit.dorvane(df["lstat"], df["medv"], at=df[["rm"]]),
                               "at: no column 'lstat'")):
            with self.subTest(message), self.assertRaisesRegex(ValueError, message):
                call()

    def test_without_pandas_the_results_are_numpy(self):
        # The same fit in a process where pandas cannot be imported.
        script = ("import sys; sys.modules['pandas'] = None\n"
                  "import numpy as np, lpfit\n"
                  "a = np.load(sys.argv[1])\n"
                  "fit = lpfit.dorvane({'lstat': a['x']}, a['y'], dummies={'chas': a['d']}, bandwidth=2.0)\n"
                  "assert type(fit.table) is dict and type(fit.fitted()) is np.ndarray\n"
                  "np.savez(sys.argv[2], fitted=fit.fitted(), **fit.table)\n")
        df = self.df
        with tempfile.TemporaryDirectory() as work:
            data, out = Path(work, "in.npz"), Path(work, "out.npz")
            np.savez(data, x=df["lstat"].to_numpy(), y=df["medv"].to_numpy(), d=df["chas"].to_numpy(float))
            env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
            done = subprocess.run([sys.executable, "-c", script, str(data), str(out)], env=env,
                                  capture_output=True, text=True)
            self.assertEqual(done.returncode, 0, done.stderr)
            got = dict(np.load(out))
        want = lpfit.dorvane(df["lstat"], df["medv"], dummies=df["chas"], bandwidth=2.0)
        same_bits(self, got.pop("fitted"), want.fitted(), "fitted")
        same_table(self, got, want.table, "without pandas")


class Messages(unittest.TestCase):
    def test_the_front_end_names_the_argument_at_fault(self):
        X2 = np.column_stack([x, x ** 2])
        cases = [
            (lambda: lpfit.dorvane(x, y, vol="yes"), "vol must be a number, not 'yes'"),
            (lambda: lpfit.dorvane(x, y, ci=1), "ci must be a text, not 1"),
            (lambda: lpfit.dorvane(x, y, cv="5"), "cv must be a count of candidates or an array"),
            (lambda: lpfit.dorvane(x, y, bandwidth=[[0.1, "a"]]), "bandwidth must be numbers or one of"),
            (lambda: lpfit.dorvane(X2, y, at=[0.1, 0.2, 0.3]), r"at needs one column per continuous regressor "
                                                                r"\(x1, x2\), not 3"),
            (lambda: lpfit.dorvane(X2, y, cv=[0.1, 0.2, 0.3]), r"cv needs one column per continuous regressor "
                                                                r"\(x1, x2\), not 3"),
            (lambda: lpfit.dorvane(x, np.column_stack([y, y])), "y must be one column, not 2"),
            (lambda: lpfit.dorvane(["a"] * N, y), "x: column 'x' must be numeric"),
        ]
        for f, message in cases:
            with self.subTest(message=message), self.assertRaisesRegex(ValueError, message):
                f()

    def test_the_core_sentences_come_through(self):
        cases = [
            (lambda: lpfit.dorvane(x, y, deg=3), "deg 3: dorvane fits degree 1 or 2"),
            (lambda: lpfit.dorvane(x, y, phase=2), "phase goes with groups"),
            (lambda: lpfit.dorvane({"level": x}, y), "the output column 'level' would have the name of a regressor"),
            (lambda: lpfit.dorvane(x, y, dummies=np.full(N, 2.0)), "dummy 'd' is 2 at observation 0"),
            (lambda: lpfit.dorvane(x, y, bandwidth="wide"), "bandwidth 'wide' is none of 'rot', 'cv'"),
            (lambda: lpfit.dorvane(x, y, missing="keep"), "missing 'keep' is none of 'raise', 'drop'"),
            (lambda: lpfit.dorvane(x, y, cv=[1e-9, 2e-9]), "every candidate bandwidth fails"),
            (lambda: lpfit.locpa2g({"a": x, "b": x ** 2}, y, "c"), "lam 'c' is not a continuous regressor"),
        ]
        for f, message in cases:
            with self.subTest(message=message), self.assertRaisesRegex(ValueError, message):
                f()

    def test_a_failed_point_is_a_nan_row_and_a_warning_numbered_from_0(self):
        fit, caught = record(lpfit.dorvane, np.arange(10.0), np.arange(10.0) ** 2, **FAR)
        self.assertEqual(fit.failed, [1, 3])
        self.assertEqual(len(caught), 1)
        self.assertTrue(str(caught[0].message).startswith(
            "the local fit is NaN at 2 points: 1 (x = -40) and 3 (x = 90): their local moment matrix is singular"))
        self.assertTrue(np.all(np.isnan(fit.level[[1, 3]])) and np.all(np.isnan(fit.var[[1, 3]])))
        self.assertEqual(fit.level[[0, 2]].tolist(), [0.5, 20.5])
        self.assertIn("points: 2 failed (NaN): 1 and 3", fit.summary())

    def test_one_warning_per_sentence_and_the_notes_kept(self):
        d = (np.arange(10) % 2).astype(float)
        fit, caught = record(lpfit.dorvane, np.arange(10.0), np.arange(10.0) ** 2, dummies=d, **FAR)
        self.assertEqual([str(c.message)[:20] for c in caught],
                         ["the local fit is NaN", "the conditional vari"])
        fit = lpfit.dorvane(x, y, cv=[[0.1], [0.2], [0.3], [0.2]])
        self.assertEqual(fit.method, "cross-validated")
        self.assertTrue(fit.notes[0].startswith("chosen bandwidth x = 0.2"), fit.notes)
        same_bits(self, fit.selection["h"][:, 0], [0.1, 0.2, 0.3, 0.2], "candidates")
        self.assertEqual(fit.selection["score"][1], fit.selection["score"][3])


class Results(unittest.TestCase):
    def test_predict_is_the_fit_at_the_new_points(self):
        fit = quiet(lpfit.dorvane, x, y, cv=6, vol=True)
        again = lpfit.dorvane(x, y, bandwidth=fit.bandwidth, vol=True, at=[-0.5, 0.5])
        same_bits(self, fit.predict([-0.5, 0.5]), again.level, "level")
        same_table(self, fit.predict([-0.5, 0.5], type="table"), again.table, "table")
        self.assertEqual(fit.predict({"x": [0.25]}, type="fit").columns, again.columns)
        with self.assertRaisesRegex(ValueError, "type 'levels' is none of"):
            fit.predict([0.0], type="levels")

    def test_fitted_and_residuals_at_the_observations(self):
        fit = lpfit.tremsal(x, y, at=[0.0], deg=2)
        at_obs = lpfit.tremsal(x, y, deg=2)
        same_bits(self, fit.fitted(), at_obs.level, "fitted")
        same_bits(self, fit.residuals(), y - at_obs.level, "residuals")
        r2 = 1 - np.sum(fit.residuals() ** 2) / np.sum((y - y.mean()) ** 2)
        self.assertIn("R-squared at the observations: %.4g" % r2, fit.summary())

    def test_csv_reads_back_to_the_same_doubles(self):
        fit = lpfit.dorvane({"a,b": x}, y, grid=7, groups=3)
        with tempfile.TemporaryDirectory() as work:
            path = Path(work, "fit.csv")
            fit.write_csv(str(path))
            with open(path, newline="") as f:
                rows = list(csv.reader(f))
        self.assertEqual(rows[0], fit.columns)
        same_bits(self, np.array(rows[1:], dtype=float), np.column_stack([fit.table[k] for k in fit.columns]), "csv")

    def test_intervals_pass_through_when_the_core_makes_them(self):
        fit = lpfit.dorvane(x, y, ci="pointwise")
        if "lower_level" not in fit.columns:
            self.skipTest("the core makes no intervals yet")
        self.assertEqual(list(fit.confint(kind="pointwise")), [k for k in fit.columns if k[:6] in ("lower_", "upper_")])
        self.assertEqual(list(fit.se), [k for k in fit.columns if k.startswith("se_")])

    def test_var_residual_is_a_column_named_as_in_every_front_end(self):
        fit = lpfit.dorvane(x, y, var_residual=True, vol=True)
        self.assertEqual(fit.columns[fit.columns.index("var_d1_x") + 1], "var_residual")
        self.assertTrue(np.all(np.asarray(fit.table["var_residual"]) >= 0))

    @unittest.skipIf(matplotlib is None, "matplotlib is not installed")
    def test_plot_draws_the_fit_on_a_fine_grid_and_writes_a_png(self):
        fit = quiet(lpfit.dorvane, x, y, vol=True, groups=2, at=[-0.5, 0.0, 0.5])
        with tempfile.TemporaryDirectory() as work:
            path = Path(work, "fit.png")
            fig = fit.plot(str(path))
            self.assertEqual(path.read_bytes()[:8], b"\x89PNG\r\n\x1a\n")
        top, low = fig.axes
        level = top.lines[0].get_xydata()
        self.assertEqual(len(level), 201)
        self.assertEqual((level[0, 0], level[-1, 0]), (-0.5, 0.5))
        same_bits(self, level[:, 1], fit.predict(np.linspace(-0.5, 0.5, 201)), "the drawn level")
        self.assertEqual(len(top.lines), 3)  # the level and -/+ 2 conditional sd
        self.assertEqual(len(low.lines), 3)  # the density and its two groups
        with self.assertRaisesRegex(ValueError, "one continuous regressor, not 2"):
            lpfit.dorvane(np.column_stack([x, x ** 2]), y, at=[[0.0, 0.0]]).plot()
        # The slope with its interval in a panel of its own.
        top, middle, low = quiet(lpfit.dorvane, x, y, ci="rbc", at=[-0.5, 0.5]).plot(derivative=True).axes
        self.assertEqual(middle.get_ylabel(), "d1_x")
        self.assertEqual(len(middle.collections), 1)  # the interval


if __name__ == "__main__":
    unittest.main()
