"""Local polynomial regression with conditional variance and density.

At every evaluation point a Gaussian-kernel weighted least-squares polynomial
in the continuous regressors (centred at the point), with dummy regressors
entered linearly, gives the regression function with its derivatives, on
request the conditional variance function with its derivatives, and the
kernel density of the continuous regressors, optionally split into cyclic
groups. The estimators are the compiled libraries Dorvane and Tremsal, called
through ctypes.

Threads: ctypes releases the global interpreter lock during every call into
the libraries, whose calls share nothing, so fits (or the blocks of one fit,
``threads=N``) run in parallel on several cores.
"""
from __future__ import annotations

from typing import Any, Optional

from ._api import ArrayLike, Fit, FitWarning, _fit, rule_of_thumb

__all__ = ["dorvane", "tremsal", "locparg", "locpa2g", "rule_of_thumb", "Fit", "FitWarning"]
__version__ = "0.1.0"

_PARAMETERS = """
    Parameters
    ----------
    x : array_like, mapping or data frame
        Continuous regressors, one row per observation. Names come from a
        mapping's keys or a data frame's columns; otherwise the regressors
        are ``x`` (one) or ``x1``, ``x2``, ...  C- and Fortran-ordered
        arrays are both accepted.
    y : array_like
        The response, one value per observation.{lam}
    dummies : array_like, mapping or data frame, optional
        0/1 regressors entered after the continuous ones and not weighted by
        the kernel; unnamed they are ``d`` or ``d1``, ``d2``, ...
    bandwidth : float or array_like, optional
        One positive bandwidth per continuous regressor (one value is
        recycled). Default: :func:`rule_of_thumb`.
    cv : int or array_like, optional
        Least-squares leave-one-out cross-validation instead of a given
        bandwidth: a count of candidates (multiples 1/4 to 4 of the rule of
        thumb on a geometric grid), a 1-d array of candidates (each recycled
        over the regressors) or a 2-d array of whole candidate vectors. A
        candidate whose fit fails at some observation scores ``inf``.
    deg : int
        Polynomial degree ({degrees}).
    vol : bool
        Also estimate the conditional variance and its derivatives.
    loo : bool
        Leave-one-out fit at the observations; needs ``nr`` = n and no
        ``at`` or ``grid``.
    nr : int, optional
        The intercept sums cover the first ``nr`` observations and the level,
        slopes and dummy effects are scaled by n/``nr``; default n.
    at : array_like, mapping or data frame, optional
        Evaluation points, one column per continuous regressor (taken by name
        from a mapping or data frame); a 1-d array is the points of one
        regressor or one point of several. Default: the observations.
    grid : int, optional
        N evenly spaced points over the data range of each of one or two
        continuous regressors (N per axis for two, the first running
        fastest).
    groups, phase : int, optional
        Split the density into ``groups`` (at least 2) cyclic groups:
        observation i (from 0) belongs to group (i + phase - 1) mod groups.
    conf : float
        Level of the pointwise confidence band (local linear fit of one
        continuous regressor without dummies, with ``vol``): level -/+
        z sqrt(var R(K) / (n h density)), R(K) = 1/(2 sqrt(pi)), the smoothing
        bias ignored; NaN where var < 0.
    threads : int
        Threads that split the evaluation points (and the cross-validation
        candidates); the results do not depend on it.
    client : dask.distributed.Client, optional
        Run the blocks of points (and the candidates) as tasks on this Dask
        cluster; the results equal those of one local call bit for bit.
    chunk : int, optional
        Points per block; default: the points split evenly over the threads,
        or into two blocks per Dask worker.

    Returns
    -------
    Fit
        The table of outputs by point, the same columns grouped, the
        libraries' raw outputs and printed lines, and the bandwidths.

    Raises
    ------
    ValueError
        For a bad argument, named in the message, before any call.

    Warns
    -----
    FitWarning
        When a point's local moment matrix cannot be inverted reliably: its
        fit is NaN and the other points are fitted as usual.
"""


def _document(f, summary: str, degrees: str, lam: bool = False):
    lam_doc = ("\n    lam : str or int\n        The continuous regressor of the cross terms, by name or 1-based"
               " number.") if lam else ""
    f.__doc__ = summary + "\n" + _PARAMETERS.format(lam=lam_doc, degrees=degrees)
    return f


def dorvane(x: ArrayLike, y: ArrayLike, *, dummies: ArrayLike = None, bandwidth: Any = None, cv: Any = None,
            deg: int = 1, vol: bool = False, loo: bool = False, nr: Optional[int] = None, at: ArrayLike = None,
            grid: Optional[int] = None, groups: Optional[int] = None, phase: int = 1, conf: float = 0.95,
            threads: int = 1, client: Any = None, chunk: Optional[int] = None) -> Fit:
    return _fit("dorvane", x, y, dummies=dummies, bandwidth=bandwidth, cv=cv, deg=deg, vol=vol, loo=loo, nr=nr,
                at=at, grid=grid, groups=groups, phase=phase, lam=None, conf=conf, threads=threads, client=client,
                chunk=chunk)


def tremsal(x: ArrayLike, y: ArrayLike, *, dummies: ArrayLike = None, bandwidth: Any = None, cv: Any = None,
            deg: int = 3, vol: bool = False, loo: bool = False, nr: Optional[int] = None, at: ArrayLike = None,
            grid: Optional[int] = None, groups: Optional[int] = None, phase: int = 1, conf: float = 0.95,
            threads: int = 1, client: Any = None, chunk: Optional[int] = None) -> Fit:
    return _fit("tremsal", x, y, dummies=dummies, bandwidth=bandwidth, cv=cv, deg=deg, vol=vol, loo=loo, nr=nr,
                at=at, grid=grid, groups=groups, phase=phase, lam=None, conf=conf, threads=threads, client=client,
                chunk=chunk)


def locparg(x: ArrayLike, y: ArrayLike, lam: Any, *, dummies: ArrayLike = None, bandwidth: Any = None,
            cv: Any = None, deg: int = 3, vol: bool = False, loo: bool = False, nr: Optional[int] = None,
            at: ArrayLike = None, grid: Optional[int] = None, groups: Optional[int] = None, phase: int = 1,
            conf: float = 0.95, threads: int = 1, client: Any = None, chunk: Optional[int] = None) -> Fit:
    return _fit("locparg", x, y, dummies=dummies, bandwidth=bandwidth, cv=cv, deg=deg, vol=vol, loo=loo, nr=nr,
                at=at, grid=grid, groups=groups, phase=phase, lam=lam, conf=conf, threads=threads, client=client,
                chunk=chunk)


def locpa2g(x: ArrayLike, y: ArrayLike, lam: Any, *, dummies: ArrayLike = None, bandwidth: Any = None,
            cv: Any = None, deg: int = 2, vol: bool = False, loo: bool = False, nr: Optional[int] = None,
            at: ArrayLike = None, grid: Optional[int] = None, groups: Optional[int] = None, phase: int = 1,
            conf: float = 0.95, threads: int = 1, client: Any = None, chunk: Optional[int] = None) -> Fit:
    return _fit("locpa2g", x, y, dummies=dummies, bandwidth=bandwidth, cv=cv, deg=deg, vol=vol, loo=loo, nr=nr,
                at=at, grid=grid, groups=groups, phase=phase, lam=lam, conf=conf, threads=threads, client=client,
                chunk=chunk)


_document(dorvane, "Local linear fit; with ``deg=2`` the squares of the continuous regressors join it.",
          "1 or 2, default 1")
_document(tremsal, "Local cubic fit without products of different regressors; ``deg`` 1 or 2 is the\n"
          "    local linear or quadratic fit of :func:`dorvane`.", "1 to 3, default 3")
_document(locparg, "Local quadratic fit widened by the products of regressor ``lam`` with the others,\n"
          "    their squares times ``lam``, and ``lam`` squared times every regressor.", "3 only", lam=True)
_document(locpa2g, "Local quadratic fit with the products of regressor ``lam`` with the other\n"
          "    continuous regressors.", "2 only", lam=True)
