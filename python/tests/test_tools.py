"""The Python, R and command-line front ends on the same data give the same
table, column names and numbers, bit for bit.

The R package is found through LPFIT_R_LIBS (a library directory) or R's
own libraries; the command-line tool is LPFIT_CLI or build/lpfit. A front end
that is not there is skipped with a message saying so."""
from __future__ import annotations

import os
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

import numpy as np

import lpfit
from support import BUILD, dax_returns, same_bits

x, y = dax_returns()
LAGS = {"lag1": x[1:], "lag2": x[:-1]}  # r(t-1), r(t-2) for r(t) = y[1:]
T1 = np.linspace(-0.03, 0.03, 13)
T2 = np.column_stack([np.tile(np.linspace(-0.02, 0.02, 5), 5), np.repeat(np.linspace(-0.02, 0.02, 5), 5)])

# name, estimator, regressors, R arguments, Python keywords; every fit at given
# points. The rule of thumb and the cross-validation scores are formed in the
# same order of operations in every front end, so they agree to the bit too.
CASES = [
    ("local linear with variance and weekday groups", "dorvane", 1,
     "bandwidth = 0.008, vol = TRUE, groups = 5", dict(bandwidth=0.008, vol=True, groups=5)),
    ("local quadratic", "dorvane", 1, "bandwidth = 0.01, deg = 2, vol = TRUE", dict(bandwidth=0.01, deg=2, vol=True)),
    ("local cubic", "tremsal", 1, "bandwidth = 0.012, vol = TRUE", dict(bandwidth=0.012, vol=True)),
    ("third-order terms of lag1", "locparg", 2, "lam = \"lag1\", bandwidth = c(0.012, 0.014), vol = TRUE",
     dict(lam="lag1", bandwidth=[0.012, 0.014], vol=True)),
    ("cross products with lag2", "locpa2g", 2, "lam = 2, bandwidth = 0.012", dict(lam=2, bandwidth=0.012)),
    ("rule-of-thumb bandwidth and the confidence band", "dorvane", 1, "vol = TRUE", dict(vol=True)),
    ("cross-validated over 6 candidates", "tremsal", 1, "cv = 6", dict(cv=6)),
]

R_SCRIPT = r"""
args <- commandArgs(TRUE)
library(lpfit)
read <- function(name, n) readBin(file.path(args[1], name), "double", n)
n <- as.integer(args[2]); m <- as.integer(args[3]); pc <- as.integer(args[4])
X <- matrix(read("x", n * pc), n, dimnames = list(NULL, c("lag1", "lag2")[seq_len(pc)]))
y <- read("y", n)
at <- matrix(read("at", m * pc), m, dimnames = list(NULL, colnames(X)))
fit <- %s(X, y, at = at, %s)
writeLines(names(fit$table), file.path(args[1], "names"))
writeBin(unlist(fit$table, use.names = FALSE), file.path(args[1], "table"))
"""


def r_library():
    return os.environ.get("LPFIT_R_LIBS", "")


def r_available():
    if shutil.which("Rscript") is None:
        return False
    env = dict(os.environ, R_LIBS=r_library())
    return subprocess.run(["Rscript", "-e", "library(lpfit)"], env=env, capture_output=True).returncode == 0


def cli_path():
    return Path(os.environ.get("LPFIT_CLI", BUILD / "lpfit"))


def data(pc):
    X = np.column_stack([LAGS["lag1"], LAGS["lag2"]])[:, :pc] if pc == 2 else x.reshape(-1, 1)
    Y = y[1:] if pc == 2 else y
    return X, Y, (T2 if pc == 2 else T1.reshape(-1, 1))


def same_table(case, got, want, title):
    """Bit for bit, every column; the confidence band's normal quantile is
    Wichura's algorithm in R's qnorm, Python's NormalDist and the tool alike."""
    case.assertEqual(list(got), list(want), f"{title}: columns")
    for name, column in want.items():
        same_bits(case, got[name], column, f"{title}: {name}")


def python_table(estimator, pc, r_args, kw, work):
    X, Y, at = data(pc)
    names = ["lag1", "lag2"][:pc]
    return getattr(lpfit, estimator)(dict(zip(names, X.T)), Y, at=dict(zip(names, at.T)), **kw).table


def r_table(estimator, pc, r_args, kw, work):
    """The R package's table, with the data and results passed as raw doubles."""
    X, Y, at = data(pc)
    for name, a in (("x", X), ("y", Y), ("at", at)):
        np.asarray(a, dtype="<f8").ravel(order="F").tofile(work / name)
    (work / "fit.R").write_text(R_SCRIPT % (estimator, r_args))
    done = subprocess.run(["Rscript", str(work / "fit.R"), str(work), str(Y.size), str(at.shape[0]), str(pc)],
                          env=dict(os.environ, R_LIBS=r_library()), capture_output=True, text=True)
    if done.returncode != 0:
        raise AssertionError(done.stderr)
    names = (work / "names").read_text().split()
    table = np.fromfile(work / "table", dtype="<f8").reshape((len(names), -1))
    return dict(zip(names, table))


def cli_table(estimator, pc, r_args, kw, work):
    """The command-line tool's table, from CSV files written with %.17g."""
    X, Y, at = data(pc)
    names = ["lag1", "lag2"][:pc]
    for path, header, rows in ((work / "data.csv", ["ret"] + names, np.column_stack([Y, X])),
                               (work / "at.csv", names, at)):
        with open(path, "w") as f:
            f.write(",".join(header) + "\n")
            for row in rows:
                f.write(",".join("%.17g" % v for v in row) + "\n")
    cmd = [str(cli_path()), estimator, str(work / "data.csv"), "--y", "ret", "--x", ",".join(names),
           "--at", str(work / "at.csv"), "--threads", "1"]
    for k, v in kw.items():
        cmd += [f"--{k}"] if v is True else [f"--{k}", ",".join(map(str, np.atleast_1d(v)))]
    done = subprocess.run(cmd, capture_output=True, text=True)
    if done.returncode != 0:
        raise AssertionError(f"{' '.join(cmd)}\n{done.stderr}")
    lines = done.stdout.strip().splitlines()
    table = np.array([[float(v) for v in line.split(",")] for line in lines[1:]]).T
    return dict(zip(lines[0].split(","), table))


HAVE_R = r_available()
HAVE_CLI = cli_path().is_file()
NO_R = "the R package lpfit is not installed (set LPFIT_R_LIBS)"
NO_CLI = f"the command-line tool {cli_path()} has not been built"


class SameTables(unittest.TestCase):
    def compare(self, first, second):
        for case in CASES:
            with self.subTest(case[0]), tempfile.TemporaryDirectory() as a, tempfile.TemporaryDirectory() as b:
                same_table(self, first(*case[1:], Path(a)), second(*case[1:], Path(b)), case[0])

    @unittest.skipUnless(HAVE_R, NO_R)
    def test_r_equals_python(self):
        self.compare(r_table, python_table)

    @unittest.skipUnless(HAVE_CLI, NO_CLI)
    def test_command_line_equals_python(self):
        self.compare(cli_table, python_table)

    @unittest.skipUnless(HAVE_R and HAVE_CLI, NO_CLI if HAVE_R else NO_R)
    def test_r_equals_command_line(self):
        self.compare(r_table, cli_table)


if __name__ == "__main__":
    unittest.main()
