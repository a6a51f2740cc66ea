"""Bandwidths: the normal-reference rule of thumb and least-squares
leave-one-out cross-validation."""
from __future__ import annotations

from dataclasses import replace
from typing import Sequence

import numpy as np

from . import _core


def spread(X: np.ndarray) -> np.ndarray:
    """Per column the smaller of the standard deviation and the
    normal-equivalent interquartile range, so that a few outliers do not widen
    the windows (the interquartile range alone when it is not positive)."""
    s = np.std(X, axis=0, ddof=1)
    q75, q25 = np.quantile(X, [0.75, 0.25], axis=0)
    iqr = (q75 - q25) / 1.349
    return np.where(iqr > 0, np.minimum(s, iqr), s)


def rule_of_thumb_matrix(X: np.ndarray, deg: int) -> np.ndarray:
    n, pc = X.shape
    return 1.06 * spread(X) * n ** (-1.0 / (pc + 2 * deg + 2))


def candidates(cv, X: np.ndarray, deg: int, check) -> np.ndarray:
    """Candidate bandwidths as rows of a k x pc array: a count N gives N
    multiples of the rule of thumb from 1/4 to 2 on a geometric grid; a 1-d
    sequence one candidate per entry, recycled over the regressors; a 2-d
    array (or a sequence of sequences) whole candidate vectors. `check`
    validates one candidate and returns its pc bandwidths."""
    pc = X.shape[1]
    if np.ndim(cv) == 0 and not isinstance(cv, (bool, np.bool_)):
        if not (isinstance(cv, (int, float, np.integer, np.floating)) and np.isfinite(cv)
                and cv == int(cv) and cv >= 2):
            raise ValueError("cv: a count of candidates must be a whole number of at least 2")
        f = 2.0 ** np.linspace(-2.0, 1.0, int(cv))
        return np.outer(f, rule_of_thumb_matrix(X, deg))
    try:
        c = np.asarray(cv, dtype=float)
    except (TypeError, ValueError):
        raise ValueError("cv must be a count of candidates or the candidate bandwidths") from None
    if c.ndim == 1 and c.size >= 2:
        return np.array([check(v, "cv") for v in c])
    if c.ndim == 2 and c.shape[0] >= 1:
        if c.shape[1] != pc:
            raise ValueError(f"cv: a candidate array needs {pc} columns, one per continuous regressor")
        return np.array([check(v, "cv") for v in c])
    raise ValueError("cv must be a count of candidates or at least two candidate bandwidths")


def score(block: _core.Block, h: Sequence[float]) -> float:
    """Leave-one-out score mean((y_i - m_(-i)(x_i))^2) of bandwidths `h`;
    inf when the fit fails at some observation."""
    b = replace(block, h=with_count(np.asarray(h, dtype=float), block.q), vol=False, K=0, phase=0)
    X = block.x.reshape((block.n, block.p), order="F")[:, : block.pc]
    o = _core.call(b, X, loo=True)
    if o.refused:
        raise _core.Refused(f"{block.estimator} refused the leave-one-out call")
    if o.failed:
        return float("inf")
    s = float(np.mean((block.y - o.mh[:, 0]) ** 2))
    return s if np.isfinite(s) else float("inf")


def with_count(h: np.ndarray, q: int) -> np.ndarray:
    """The libraries' bandwidth argument: the pc bandwidths, and with dummies a
    last entry -pc that marks only the first pc regressors continuous."""
    if q == 0:
        return np.array(h, dtype=float)
    return np.concatenate([h, np.zeros(q - 1), [-float(h.size)]])
