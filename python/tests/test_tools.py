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
from support import BUILD, dax_returns, near, same_bits

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


def same_table(case, names, table, want, title):
    """Bit for bit, but for the confidence band: its normal quantile comes from
    each platform's own routine (R's qnorm and Python's NormalDist give the
    same double, the command-line tool's is 3 units in the last place away),
    so the band agrees to rounding."""
    case.assertEqual(names, list(want))
    for k, name in enumerate(names):
        if name.startswith("ci_"):
            near(case, table[k], want[name], f"{title}: {name}", rtol=1e-15)
        else:
            same_bits(case, table[k], want[name], f"{title}: {name}")


def python_table(estimator, pc, kw):
    X, Y, at = data(pc)
    names = ["lag1", "lag2"][:pc]
    return getattr(lpfit, estimator)(dict(zip(names, X.T)), Y, at=dict(zip(names, at.T)), **kw).table


@unittest.skipUnless(r_available(), "the R package lpfit is not installed (set LPFIT_R_LIBS)")
class RAgainstPython(unittest.TestCase):
    def test_same_tables(self):
        for title, estimator, pc, r_args, kw in CASES:
            with self.subTest(title), tempfile.TemporaryDirectory() as d:
                X, Y, at = data(pc)
                for name, a in (("x", X), ("y", Y), ("at", at)):
                    np.asarray(a, dtype="<f8").ravel(order="F").tofile(Path(d) / name)
                script = Path(d) / "fit.R"
                script.write_text(R_SCRIPT % (estimator, r_args))
                done = subprocess.run(["Rscript", str(script), d, str(Y.size), str(at.shape[0]), str(pc)],
                                      env=dict(os.environ, R_LIBS=r_library()), capture_output=True, text=True)
                self.assertEqual(done.returncode, 0, done.stderr)
                names = (Path(d) / "names").read_text().split()
                table = np.fromfile(Path(d) / "table", dtype="<f8").reshape((len(names), -1))
                same_table(self, names, table, python_table(estimator, pc, kw), title)


@unittest.skipUnless(cli_path().is_file(), f"the command-line tool {cli_path()} has not been built")
class CommandLineAgainstPython(unittest.TestCase):
    def test_same_tables(self):
        for title, estimator, pc, _, kw in CASES:
            with self.subTest(title), tempfile.TemporaryDirectory() as d:
                X, Y, at = data(pc)
                names = ["lag1", "lag2"][:pc]
                csv, points = Path(d) / "data.csv", Path(d) / "at.csv"
                with open(csv, "w") as f:
                    f.write(",".join(["ret"] + names) + "\n")
                    for row in np.column_stack([Y, X]):
                        f.write(",".join("%.17g" % v for v in row) + "\n")
                with open(points, "w") as f:
                    f.write(",".join(names) + "\n")
                    for row in at:
                        f.write(",".join("%.17g" % v for v in row) + "\n")
                cmd = [str(cli_path()), estimator, str(csv), "--y", "ret", "--x", ",".join(names),
                       "--at", str(points), "--threads", "1"]
                for k, v in kw.items():
                    if v is True:
                        cmd.append(f"--{k}")
                    else:
                        cmd += [f"--{k}", ",".join(map(str, np.atleast_1d(v)))]
                done = subprocess.run(cmd, capture_output=True, text=True)
                self.assertEqual(done.returncode, 0, f"{' '.join(cmd)}\n{done.stderr}")
                lines = done.stdout.strip().splitlines()
                header = lines[0].split(",")
                table = np.array([[float(v) for v in line.split(",")] for line in lines[1:]]).T
                same_table(self, header, table, python_table(estimator, pc, kw), title)


if __name__ == "__main__":
    unittest.main()
