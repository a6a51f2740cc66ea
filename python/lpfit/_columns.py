"""Names of the design columns of each estimator, in the libraries' order.

Column 0 is the intercept, then the continuous regressors, the dummies and
the higher-order terms. Each column has its name in the flat table (for mh and
for sh) and its place in the grouped form of the result: a group (one field
of the result) and its label there.
"""
from __future__ import annotations

from typing import List, NamedTuple, Sequence


class Column(NamedTuple):
    mh: str
    sh: str
    group: str
    sgroup: str
    label: str
    slabel: str


def columns(estimator: str, deg: int, xn: Sequence[str], dn: Sequence[str], lam: int) -> List[Column]:
    """The B columns of `estimator`; `lam` counts from 1 (0 for none)."""
    cols = [Column("level", "var", "level", "var", "level", "var")]
    cols += [Column(f"d1_{a}", f"var_d1_{a}", "d1", "var_d1", a, a) for a in xn]
    cols += [Column(f"effect_{d}", f"var_effect_{d}", "effect", "var_effect", d, d) for d in dn]
    crossed = estimator in ("locparg", "locpa2g")
    if deg >= 2 or crossed:
        cols += [Column(f"d2_{a}", f"var_d2_{a}", "d2", "var_d2", a, a) for a in xn]

    # Coefficients kept plain (no derivative factor, no variance correction):
    # their sh column is the coefficient of the local fit of y^2.
    def plain(name: str, group: str, label: str) -> Column:
        return Column(name, f"y2_{name}", group, "y2", label, name)

    if estimator == "tremsal" and deg == 3:
        cols += [Column(f"d3_{a}", f"y2_c3_{a}_{a}_{a}", "d3", "y2", a, f"c3_{a}_{a}_{a}") for a in xn]
    if crossed:
        L = xn[lam - 1]
        others = [k for i, k in enumerate(xn) if i != lam - 1]
        cols += [plain(f"d2_{k}_{L}", "cross", f"{k}_{L}") for k in others]
        if estimator == "locparg":
            cols += [plain(f"c3_{k}_{k}_{L}", "c3", f"{k}_{k}_{L}") for k in others]
            cols += [plain(f"c3_{k}_{L}_{L}", "c3", f"{k}_{L}_{L}") for k in xn]
    return cols


def width(estimator: str, deg: int, pc: int, q: int) -> int:
    """Number of design columns B, the column count of mh and sh."""
    p = pc + q
    if estimator == "locparg":
        return p + 4 * pc - 1
    if estimator == "locpa2g":
        return p + 2 * pc
    return 1 + pc * deg + q
