"""Local polynomial regression with conditional variance and density: at each
evaluation point a Gaussian-kernel weighted polynomial in the continuous
regressors, with dummies entered linearly, gives the regression function and
its derivatives, the conditional variance function and the kernel density.
Every fit is one call of the fitting core liblpcore through ctypes.
"""
from __future__ import annotations

from typing import Any, Optional

from ._api import ArrayLike, Fit, FitWarning, fit as _fit

__all__ = ["dorvane", "tremsal", "locparg", "locpa2g", "Fit", "FitWarning"]
__version__ = "0.2.0"

_PARAMETERS = """
    Parameters
    ----------
    x : array_like, mapping, pandas DataFrame or Series
        Continuous regressors, one row per observation, named after a
        DataFrame's columns, a mapping's keys or a Series' name, else ``x``
        (one) or ``x1``, ``x2``, ...
    y : array_like or pandas Series
        The response, one value per observation.{lam}
    dummies : array_like, mapping or DataFrame, optional
        0/1 regressors entered linearly after the continuous ones; unnamed
        they are ``d`` or ``d1``, ``d2``, ...
    bandwidth : float, array_like or str, optional
        One bandwidth per continuous regressor (one is used for all), or a
        selector: ``"rot"`` (the rule of thumb, the default), ``"cv"``
        (least-squares cross-validation, minimised), ``"aicc"``, ``"plugin"``.
    cv : int or array_like, optional
        Cross-validation over candidates instead: a count K of multiples 1/4
        to 4 of the rule of thumb, or a 2-d array of candidates, one row each
        with one column per continuous regressor.
    deg : int
        Polynomial degree ({degrees}).
    vol : bool
        Also the conditional variance function and its derivatives.
    loo : bool
        The leave-one-out fit at the observations.
    nr : int, optional
        The intercept sums run over the first ``nr`` observations (default
        n), levels and first-order outputs are scaled by n/``nr``.
    at : array_like, mapping or DataFrame, optional
        Evaluation points, one column per continuous regressor (by name from
        a mapping or DataFrame; 1-d: the points of one regressor or one point
        of several). Default: the observations.
    grid : int, optional
        N evenly spaced points over the range of each of one or two
        continuous regressors (the first running fastest).
    groups, phase : int, optional
        Splits the density into ``groups`` cyclic groups; observation 0 is in
        group ``phase`` (from 1, default 1).
    ci, conf, se, seed : str, float, str, int, optional
        Intervals ``"pointwise"``, ``"rbc"`` (robust bias-corrected) or
        ``"uniform"`` (a simultaneous band) at level ``conf`` (0.95), adding
        ``se_C``, ``lower_C``, ``upper_C`` for each output C; ``se`` the
        variance of the standard errors (``"residual"``, ``"leverage"``,
        ``"loo"``, ``"nn"``, ``"local"``), ``seed`` that of the band's draws.
    var_residual : bool
        Adds ``var_residual``, the conditional variance by a local linear fit
        of the squared residuals, which is never negative.
    missing : str
        ``"raise"``: a missing (NaN, None, NA) or infinite value is an error
        naming its column; ``"drop"``: such observations are left out and
        listed in ``Fit.dropped``.
    threads : int
        Threads of the fit, 0 for every core; the results do not depend on it.
    client, chunk : dask.distributed.Client, int, optional
        Runs the fit as tasks on this cluster, each one core call on a block
        of ``chunk`` points (default: two blocks per worker) or of candidates;
        the table equals the local fit's bit for bit.

    Returns
    -------
    Fit
        The table by point (a DataFrame where pandas is installed), the
        bandwidth, the failed, refitted and dropped points, the core's texts.

    Raises
    ------
    ValueError
        For data or an option the core cannot serve, naming the column or option.

    Warns
    -----
    FitWarning
        One per sentence of the core's warnings: the points whose local fit
        is NaN (numbered from 0; the others are fitted as usual), a variance
        with dummies, a selection at the edge of its candidates.
"""


def dorvane(x: ArrayLike, y: ArrayLike, *, dummies: ArrayLike = None, bandwidth: Any = None, cv: Any = None,
            deg: int = 1, vol: bool = False, loo: bool = False, nr: Optional[int] = None, at: ArrayLike = None,
            grid: Optional[int] = None, groups: Optional[int] = None, phase: Optional[int] = None,
            ci: Optional[str] = None, conf: Optional[float] = None, se: Optional[str] = None,
            seed: Optional[int] = None, var_residual: bool = False, missing: str = "raise", threads: int = 0,
            client: Any = None, chunk: Optional[int] = None) -> Fit:
    return _fit("dorvane", **locals())


def tremsal(x: ArrayLike, y: ArrayLike, *, dummies: ArrayLike = None, bandwidth: Any = None, cv: Any = None,
            deg: int = 3, vol: bool = False, loo: bool = False, nr: Optional[int] = None, at: ArrayLike = None,
            grid: Optional[int] = None, groups: Optional[int] = None, phase: Optional[int] = None,
            ci: Optional[str] = None, conf: Optional[float] = None, se: Optional[str] = None,
            seed: Optional[int] = None, var_residual: bool = False, missing: str = "raise", threads: int = 0,
            client: Any = None, chunk: Optional[int] = None) -> Fit:
    return _fit("tremsal", **locals())


def locparg(x: ArrayLike, y: ArrayLike, lam: Any, *, dummies: ArrayLike = None, bandwidth: Any = None, cv: Any = None,
            deg: int = 3, vol: bool = False, loo: bool = False, nr: Optional[int] = None, at: ArrayLike = None,
            grid: Optional[int] = None, groups: Optional[int] = None, phase: Optional[int] = None,
            ci: Optional[str] = None, conf: Optional[float] = None, se: Optional[str] = None,
            seed: Optional[int] = None, var_residual: bool = False, missing: str = "raise", threads: int = 0,
            client: Any = None, chunk: Optional[int] = None) -> Fit:
    return _fit("locparg", **locals())


def locpa2g(x: ArrayLike, y: ArrayLike, lam: Any, *, dummies: ArrayLike = None, bandwidth: Any = None, cv: Any = None,
            deg: int = 2, vol: bool = False, loo: bool = False, nr: Optional[int] = None, at: ArrayLike = None,
            grid: Optional[int] = None, groups: Optional[int] = None, phase: Optional[int] = None,
            ci: Optional[str] = None, conf: Optional[float] = None, se: Optional[str] = None,
            seed: Optional[int] = None, var_residual: bool = False, missing: str = "raise", threads: int = 0,
            client: Any = None, chunk: Optional[int] = None) -> Fit:
    return _fit("locpa2g", **locals())


_LAM = "\n    lam : str or int\n        The continuous regressor of the cross terms, by name or number from 1."
for _f, _summary, _degrees in (
        (dorvane, "Local linear fit; with ``deg=2`` the squares of the continuous regressors join it.",
         "1 or 2, default 1"),
        (tremsal, "Local cubic fit without products of different regressors; ``deg`` 1 or 2 is the\n"
                  "    local linear or quadratic fit of :func:`dorvane`.", "1 to 3, default 3"),
        (locparg, "Local quadratic fit widened by the products of regressor ``lam`` with the others,\n"
                  "    their squares times ``lam``, and ``lam`` squared times every regressor.", "3 only"),
        (locpa2g, "Local quadratic fit with the products of regressor ``lam`` with the others.", "2 only")):
    _f.__doc__ = _summary + "\n" + _PARAMETERS.format(lam=_LAM if _f in (locparg, locpa2g) else "", degrees=_degrees)
