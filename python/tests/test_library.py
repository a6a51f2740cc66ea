"""The package against the fitting core called directly, bit for bit.
LPFIT_BUILD_DIR (default: the repository's build directory) holds
liblpcore.so."""
from __future__ import annotations

import unittest
import warnings

import numpy as np

import lpfit
from support import BUILD, core, dax_returns, same_table

x, y = dax_returns()
T = np.linspace(-0.03, 0.03, 25)
lag2 = np.concatenate([[0.0], x[:-1]])  # r(t-2), with a first value of its own
monday = (np.arange(y.size) % 5 == 0).astype(float)


def table(fit):
    return {k: np.asarray(fit.table[k]) for k in fit.columns}


@unittest.skipUnless((BUILD / "liblpcore.so").is_file(), f"no liblpcore.so in {BUILD}")
class Core(unittest.TestCase):
    """Each case: the package's arguments and the same fit told to the core
    option by option; the tables and the warnings must be the same."""

    def test_tables_and_warnings_equal_the_core_called_directly(self):
        X2 = {"lag1": x, "lag2": lag2}
        at2 = np.column_stack([np.tile([-0.01, 0.0, 0.02], 2), np.repeat([0.0, 0.01], 3)])
        grid = np.array([[0.01, 0.012], [0.02, 0.008], [0.015, 0.015]])
        reg1, reg2 = [("x", x, 0)], [("lag1", x, 0), ("lag2", lag2, 0)]
        gap = y.copy()
        gap[[3, 50]] = np.nan
        cases = [
            ("two regressors, a dummy, points by name", lpfit.dorvane,
             (X2, y), dict(dummies={"monday": monday}, vol=True, bandwidth=[0.01, 0.012],
                           at={"lag2": at2[:, 1], "lag1": at2[:, 0]}),
             ("dorvane", y, reg2 + [("monday", monday, 1)]),
             dict(ints=[("vol", 1)], doubles=[("bandwidth", [0.01, 0.012]), ("at", at2.ravel(order="F"))])),
            ("candidates, one column per regressor", lpfit.locpa2g, (X2, y, "lag2"), dict(cv=grid, at=at2),
             ("locpa2g", y, reg2), dict(texts=[("lam", "lag2")], doubles=[("cv_grid", grid.ravel(order="F")),
                                                                       ("at", at2.ravel(order="F"))])),
            ("a count of candidates on a grid, two threads", lpfit.tremsal, (x, y),
             dict(cv=5, grid=9, deg=2, threads=2), ("tremsal", y, reg1),
             dict(ints=[("cv", 5), ("grid", 9), ("deg", 2), ("threads", 2)])),
            ("groups, phase and nr", lpfit.dorvane, (x, y), dict(groups=5, phase=3, nr=1000, at=T),
             ("dorvane", y, reg1), dict(ints=[("groups", 5), ("phase", 3), ("nr", 1000)], doubles=[("at", T)])),
            ("leave-one-out", lpfit.locparg, (X2, y, 2), dict(loo=True, bandwidth=0.02),
             ("locparg", y, reg2), dict(ints=[("loo", 1), ("lam", 2)], doubles=[("bandwidth", 0.02)])),
            ("missing values dropped, a failed point", lpfit.dorvane, (x, gap),
             dict(missing="drop", at=[-40.0, 0.0], bandwidth=0.008, vol=True), ("dorvane", gap, reg1),
             dict(ints=[("vol", 1)], texts=[("missing", "drop")], doubles=[("at", [-40.0, 0.0]),
                                                                           ("bandwidth", 0.008)])),
        ]
        for title, f, args, kw, (est, yy, regs), opts in cases:
            with self.subTest(title):
                with warnings.catch_warnings(record=True) as caught:
                    warnings.simplefilter("always")
                    fit = f(*args, **kw)
                want, said = core(est, yy, regs, **opts)
                same_table(self, table(fit), want, title)
                self.assertEqual([str(c.message) + "\n" for c in caught], said.splitlines(True))
                self.assertEqual(fit.failed, np.flatnonzero(np.isnan(fit.level)).tolist())
        self.assertEqual(fit.failed, [0])
        self.assertEqual(fit.dropped, [3, 50])


if __name__ == "__main__":
    unittest.main()
