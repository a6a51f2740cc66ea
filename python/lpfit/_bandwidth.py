"""Bandwidths: the normal-reference rule of thumb and least-squares
leave-one-out cross-validation."""
from __future__ import annotations

from dataclasses import replace
from typing import Sequence

import math

import numpy as np

from . import _core


def seqsum(v: np.ndarray) -> float:
    """The sum in index order, as the other front ends form it (numpy's own
    sum adds in pairs)."""
    return float(np.add.accumulate(v)[-1]) if v.size else 0.0


def spread(X: np.ndarray) -> np.ndarray:
    """Sample standard deviation of each column, from the mean by two passes."""
    n = X.shape[0]
    out = []
    for v in X.T:
        d = v - seqsum(v) / n
        out.append(math.sqrt(seqsum(d * d) / (n - 1)))
    return np.array(out)


def rule_of_thumb_matrix(X: np.ndarray, deg: int) -> np.ndarray:
    """Normal reference, c s n^(-1/(pc + 4)) with c = (4 / (pc + 2))^(1 / (pc + 4)):
    Silverman's 1.06 s n^(-1/5) for one regressor and deg 1; the rate
    n^(-1/(pc + 8)) for deg 2 and 3."""
    n, pc = X.shape
    c = math.pow(4.0 / (pc + 2.0), 1.0 / (pc + 4.0))
    rate = math.pow(float(n), -1.0 / (pc + (8.0 if deg >= 2 else 4.0)))
    return np.array([c * s * rate for s in spread(X)])


def candidates(cv, X: np.ndarray, deg: int, check) -> np.ndarray:
    """Candidate bandwidths as rows of a k x pc array: a count N gives N
    multiples of the rule of thumb from 1/4 to 4 on a geometric grid; a 1-d
    sequence one candidate per entry, recycled over the regressors; a 2-d
    array (or a sequence of sequences) whole candidate vectors. `check`
    validates one candidate and returns its pc bandwidths."""
    pc = X.shape[1]
    if np.ndim(cv) == 0 and not isinstance(cv, (bool, np.bool_)):
        if not (isinstance(cv, (int, float, np.integer, np.floating)) and np.isfinite(cv)
                and cv == int(cv) and cv >= 2):
            raise ValueError("cv: a count of candidates must be a whole number of at least 2")
        K = int(cv)
        h0 = rule_of_thumb_matrix(X, deg)
        return np.array([[e * math.pow(4.0, 2.0 * k / (K - 1) - 1.0) for e in h0] for k in range(K)])
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
    e = block.y - o.mh[:, 0]
    s = seqsum(e * e) / block.n
    return s if np.isfinite(s) else float("inf")


def with_count(h: np.ndarray, q: int) -> np.ndarray:
    """The libraries' bandwidth argument: the pc bandwidths, and with dummies a
    last entry -pc that marks only the first pc regressors continuous."""
    if q == 0:
        return np.array(h, dtype=float)
    return np.concatenate([h, np.zeros(q - 1), [-float(h.size)]])
