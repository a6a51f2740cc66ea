"""The Python, R and command-line front ends on the same data give the same
table, column names and numbers, bit for bit, on successful fits and on the
hard cases: a failed point, nr < n, a grid, dummies, groups, cross-validation,
threads, leave-one-out, dropped missing values, MASS::Boston.

The R package is found through LPFIT_R_LIBS (a library directory) or R's own
libraries, the command-line tool is LPFIT_CLI or build/lpfit. A front end that
is not there, or not yet on the fitting core, is skipped with a message saying
so; so is a case whose options the tool does not have yet."""
from __future__ import annotations

import os
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

import numpy as np

import lpfit
from support import BUILD, REPO, boston, dax_returns, log, quiet, same_bits, same_table

x, y = dax_returns()
GAP = y.copy()
GAP[[4, 400, 401]] = np.nan
T1 = np.linspace(-0.03, 0.03, 13)
T2 = np.column_stack([np.tile(np.linspace(-0.02, 0.02, 5), 5), np.repeat(np.linspace(-0.02, 0.02, 5), 5)])
ONE = dict(x={"lag1": x[1:]}, y=y[1:])
TWO = dict(x={"lag1": x[1:], "lag2": x[:-1]}, y=y[1:])  # r(t) on r(t-1) and r(t-2)
MONDAY = {"monday": (np.arange(y.size - 1) % 5 == 0).astype(float)}

# name, estimator, data, keywords: the same arguments in every front end.
CASES = [
    ("local linear with variance and weekday groups", "dorvane", ONE, dict(bandwidth=0.008, vol=True, groups=5,
                                                                          at=T1)),
    ("local quadratic", "dorvane", ONE, dict(bandwidth=0.01, deg=2, vol=True, at=T1)),
    ("local cubic", "tremsal", ONE, dict(bandwidth=0.012, vol=True, at=T1)),
    ("third-order terms of lag1", "locparg", TWO, dict(lam="lag1", bandwidth=[0.012, 0.014], vol=True, at=T2)),
    ("cross products with lag2", "locpa2g", TWO, dict(lam=2, bandwidth=0.012, at=T2)),
    ("rule of thumb and the asymptotic band", "dorvane", ONE, dict(vol=True, at=T1)),
    ("cross-validated over 6 candidates", "tremsal", ONE, dict(cv=6, at=T1)),
    ("candidates with one column per regressor", "dorvane", TWO,
     dict(cv=np.array([[0.01, 0.02], [0.02, 0.01], [0.015, 0.015]]), at=T2)),
    ("a failed point", "dorvane", ONE, dict(bandwidth=0.008, vol=True, at=[-40.0, 0.0, 0.01])),
    ("nr < n, groups with a phase, a grid", "dorvane", ONE, dict(nr=1000, groups=5, phase=3, grid=9)),
    ("two regressors with a dummy, two threads", "dorvane", dict(TWO, dummies=MONDAY),
     dict(bandwidth=0.012, vol=True, threads=2, at=T2)),
    ("leave-one-out", "dorvane", ONE, dict(bandwidth=0.01, loo=True)),
    ("missing values dropped", "dorvane", dict(x={"lag1": x}, y=GAP), dict(missing="drop", grid=7)),
]


def r_library():
    return os.environ.get("LPFIT_R_LIBS", "")


def r_ready():
    """The R package on the fitting core: it has fitted() and missing values."""
    if shutil.which("Rscript") is None:
        return False
    probe = "library(lpfit); stopifnot(!is.null(getS3method('fitted', 'lpfit', optional = TRUE)))"
    env = dict(os.environ, R_LIBS=r_library())
    return subprocess.run(["Rscript", "-e", probe], env=env, capture_output=True).returncode == 0


def cli_path():
    return Path(os.environ.get("LPFIT_CLI", BUILD / "lpfit"))


def cli_help():
    """The options of each of the tool's estimators, when it is the tool on the
    fitting core (with --missing); {} otherwise."""
    if not cli_path().is_file():
        return {}
    helps = {e: subprocess.run([str(cli_path()), e, "--help"], capture_output=True, text=True).stdout
             for e in ("dorvane", "tremsal", "locparg", "locpa2g")}
    return helps if "--missing" in helps["dorvane"] else {}


def r_value(v):
    if isinstance(v, bool):
        return "TRUE" if v else "FALSE"
    if isinstance(v, str):
        return f'"{v}"'
    a = np.asarray(v, dtype=float)
    numbers = "c(" + ", ".join("%.17g" % e for e in a.ravel(order="F")) + ")"
    return f"matrix({numbers}, {a.shape[0]})" if a.ndim == 2 else numbers if a.ndim else "%.17g" % a


def write_csv(path, columns):
    with open(path, "w") as f:
        f.write(",".join(columns) + "\n")
        for row in zip(*columns.values()):
            f.write(",".join("NA" if np.isnan(v) else "%.17g" % v for v in row) + "\n")


def python_table(estimator, data, kw, work):
    f = getattr(lpfit, estimator)
    return quiet(f, data["x"], data["y"], dummies=data.get("dummies"), **kw).table


R_SCRIPT = r"""
args <- commandArgs(TRUE)
library(lpfit)
d <- read.csv(file.path(args[1], "data.csv"))
X <- as.matrix(d[, strsplit(args[2], ",")[[1]], drop = FALSE])
D <- if (nchar(args[3])) as.matrix(d[, strsplit(args[3], ",")[[1]], drop = FALSE]) else NULL
at <- if (file.exists(file.path(args[1], "at.csv"))) as.matrix(read.csv(file.path(args[1], "at.csv"))) else NULL
fit <- suppressWarnings(%s(X, d$y, dummies = D, at = at%s))
tab <- as.data.frame(fit)
writeLines(names(tab), file.path(args[1], "names"))
writeBin(unlist(tab, use.names = FALSE), file.path(args[1], "table"))
"""


def r_table(estimator, data, kw, work):
    """The R package's table; the data travel as CSV with 17 digits."""
    write_csv(work / "data.csv", dict(y=data["y"], **data["x"], **data.get("dummies", {})))
    args = "".join(f", {k} = {r_value(v)}" for k, v in kw.items() if k != "at")
    if "at" in kw:
        write_csv(work / "at.csv", dict(zip(data["x"], np.asarray(kw["at"], dtype=float).reshape(-1, len(data["x"])).T)))
    (work / "fit.R").write_text(R_SCRIPT % (estimator, args))
    done = subprocess.run(["Rscript", str(work / "fit.R"), str(work), ",".join(data["x"]),
                           ",".join(data.get("dummies", {}))], env=dict(os.environ, R_LIBS=r_library()),
                          capture_output=True, text=True)
    if done.returncode != 0:
        raise AssertionError(done.stderr)
    names = (work / "names").read_text().split()
    return dict(zip(names, np.fromfile(work / "table", dtype="<f8").reshape((len(names), -1))))


def cli_command(estimator, data, kw, work):
    write_csv(work / "data.csv", dict(y=data["y"], **data["x"], **data.get("dummies", {})))
    cmd = [str(cli_path()), estimator, str(work / "data.csv"), "--y", "y", "--x", ",".join(data["x"])]
    if data.get("dummies"):
        cmd += ["--dummies", ",".join(data["dummies"])]
    for k, v in kw.items():
        if k == "at":
            write_csv(work / "at.csv", dict(zip(data["x"], np.asarray(v, dtype=float).reshape(-1, len(data["x"])).T)))
            cmd += ["--at", str(work / "at.csv")]
        elif k == "cv" and np.ndim(v) == 2:
            write_csv(work / "grid.csv", dict(zip(data["x"], np.asarray(v).T)))
            cmd += ["--cv-grid", str(work / "grid.csv")]
        else:
            cmd += [f"--{k}"] if v is True else [f"--{k}", ",".join(map(str, np.atleast_1d(v)))]
    return cmd


def cli_table(estimator, data, kw, work):
    """The command-line tool's table, written with %.17g."""
    cmd = cli_command(estimator, data, kw, work)
    done = subprocess.run(cmd, capture_output=True, text=True)
    if done.returncode not in (0, 2):
        raise AssertionError(f"{' '.join(cmd)}\n{done.stderr}")
    lines = done.stdout.strip().splitlines()
    if not lines:
        raise AssertionError(f"{' '.join(cmd)} wrote no table\n{done.stderr}")
    table = np.array([[float(v) for v in line.split(",")] for line in lines[1:]]).T
    return dict(zip(lines[0].split(","), table))


HAVE_R = r_ready()
HELP = cli_help()
NO_R = "the R package lpfit on the fitting core is not installed (set LPFIT_R_LIBS)"
NO_CLI = f"the command-line tool {cli_path()} is missing or not yet on the fitting core"


class SameTables(unittest.TestCase):
    def compare(self, first, second):
        for title, estimator, data, kw in CASES:
            with self.subTest(title), tempfile.TemporaryDirectory() as a, tempfile.TemporaryDirectory() as b:
                if cli_table in (first, second):
                    wanted = [w for w in cli_command(estimator, data, kw, Path(a)) if w.startswith("--")]
                    absent = [w for w in wanted if w not in HELP[estimator]]
                    if absent:
                        self.skipTest(f"the tool's {estimator} has no {' or '.join(absent)} yet")
                same_table(self, first(estimator, data, kw, Path(a)), second(estimator, data, kw, Path(b)), title,
                           any_nan=True)

    @unittest.skipUnless(HAVE_R, NO_R)
    def test_r_equals_python(self):
        self.compare(r_table, python_table)

    @unittest.skipUnless(HELP, NO_CLI)
    def test_command_line_equals_python(self):
        self.compare(cli_table, python_table)

    @unittest.skipUnless(HAVE_R and HELP, NO_CLI if HAVE_R else NO_R)
    def test_r_equals_command_line(self):
        self.compare(r_table, cli_table)


class Boston(unittest.TestCase):
    """dorvane(medv ~ lstat + rm, data = MASS::Boston) in R, the DataFrame in Python."""

    def setUp(self):
        try:
            self.df = boston()
        except ImportError:
            self.skipTest("pandas is not installed")
        self.fit = lpfit.dorvane(self.df[["lstat", "rm"]], self.df["medv"], dummies=self.df[["chas"]])

    @unittest.skipUnless(HAVE_R, NO_R)
    def test_r_formula_on_mass_boston_equals_python(self):
        script = ("library(lpfit); fit <- dorvane(medv ~ lstat + rm + dummy(chas), data = MASS::Boston); "
                  "tab <- as.data.frame(fit); writeLines(names(tab), 'names'); "
                  "writeBin(unlist(tab, use.names = FALSE), 'table')")
        with tempfile.TemporaryDirectory() as work:
            done = subprocess.run(["Rscript", "-e", script], cwd=work, env=dict(os.environ, R_LIBS=r_library()),
                                  capture_output=True, text=True)
            self.assertEqual(done.returncode, 0, done.stderr)
            names = Path(work, "names").read_text().split()
            got = dict(zip(names, np.fromfile(Path(work, "table"), dtype="<f8").reshape((len(names), -1))))
        same_table(self, got, self.fit.table, "Boston")

    @unittest.skipUnless(HELP, NO_CLI)
    def test_the_tool_on_boston_equals_python(self):
        with tempfile.TemporaryDirectory() as work:
            path = Path(work, "boston.csv")
            self.df.to_csv(path, index=False)
            done = subprocess.run([str(cli_path()), "dorvane", str(path), "--y", "medv", "--x", "lstat,rm",
                                   "--dummies", "chas"], capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stderr)
        lines = done.stdout.strip().splitlines()
        got = dict(zip(lines[0].split(","), np.array([[float(v) for v in r.split(",")] for r in lines[1:]]).T))
        same_table(self, got, self.fit.table, "Boston")


class Returns(unittest.TestCase):
    """The README's returns: R's diff(log(P)), the tool's --returns and
    Python's np.diff of the C library's log are the same doubles."""

    prices = np.genfromtxt(REPO / "data" / "eustock.csv", delimiter=",", names=True)["DAX"]

    @unittest.skipUnless(shutil.which("Rscript"), "R is not installed")
    def test_python_returns_are_rs_diff_log(self):
        with tempfile.TemporaryDirectory() as work:
            script = "writeBin(as.numeric(diff(log(EuStockMarkets[, 'DAX']))), 'r')"
            subprocess.run(["Rscript", "-e", script], cwd=work, check=True, capture_output=True)
            r = np.fromfile(Path(work, "r"), dtype="<f8")
        same_bits(self, np.diff(log(self.prices)), r, "returns")
        differ = int(np.sum(np.diff(np.log(self.prices)) != r))
        print(f"\nnp.log gives returns that differ from R's in the last bit for {differ} of {r.size} here")

    @unittest.skipUnless(HAVE_R, NO_R)
    def test_the_readme_example_equals_r(self):
        r = np.diff(log(self.prices))
        fit = lpfit.dorvane({"lag": r[:-1]}, r[1:], vol=True, at=[-0.02, 0, 0.02], bandwidth=0.008)
        script = ("library(lpfit); r <- diff(log(EuStockMarkets[, 'DAX'])); "
                  "fit <- dorvane(data.frame(lag = r[-length(r)]), r[-1], vol = TRUE, at = c(-0.02, 0, 0.02), "
                  "bandwidth = 0.008); tab <- as.data.frame(fit); writeLines(names(tab), 'names'); "
                  "writeBin(unlist(tab, use.names = FALSE), 'table')")
        with tempfile.TemporaryDirectory() as work:
            done = subprocess.run(["Rscript", "-e", script], cwd=work, env=dict(os.environ, R_LIBS=r_library()),
                                  capture_output=True, text=True)
            self.assertEqual(done.returncode, 0, done.stderr)
            names = Path(work, "names").read_text().split()
            got = dict(zip(names, np.fromfile(Path(work, "table"), dtype="<f8").reshape((len(names), -1))))
        same_table(self, got, fit.table, "README example")

    @unittest.skipUnless(HELP, NO_CLI)
    def test_the_readme_example_equals_the_tool_on_returns(self):
        r = np.diff(log(self.prices))
        fit = lpfit.dorvane({"lag1": r[:-1]}, r[1:], vol=True, at=T1, bandwidth=0.008)
        with tempfile.TemporaryDirectory() as work:
            write_csv(Path(work, "at.csv"), {"lag1": T1})
            done = subprocess.run([str(cli_path()), "dorvane", str(REPO / "data" / "eustock.csv"), "--returns", "DAX",
                                   "--vol", "--bandwidth", "0.008", "--at", str(Path(work, "at.csv"))],
                                  capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stderr)
        lines = done.stdout.strip().splitlines()
        got = dict(zip(lines[0].split(","), np.array([[float(v) for v in r.split(",")] for r in lines[1:]]).T))
        same_table(self, got, fit.table, "README example")


if __name__ == "__main__":
    unittest.main()
