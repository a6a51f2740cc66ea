"""One call of an estimator on a block of evaluation points, and fits over
many points that survive a failed point.

A call that meets a point whose local moment matrix cannot be inverted
reliably stops there: the points before it are written, the entries of mh
before index n (in storage order) are overwritten with NaN, and the later
points are not visited. Every point's fit depends only on the data and that
point, so :func:`run` fits again what the failure overwrote and goes on after
it; the results are those of one call per point, whatever the blocks.

How far a call got is read from the outputs: fh starts at -0, which the
kernel stage turns into +0 or a positive sum at every point it visits, and mh
and sh start at a NaN with a payload of their own, which the fit never
writes.
"""
from __future__ import annotations

import ctypes
from dataclasses import dataclass
from typing import List, Optional

import numpy as np

from . import _native

_UNWRITTEN_BITS = np.uint64(0x7FF8_0000_4C50_4649)
_UNWRITTEN = np.array([_UNWRITTEN_BITS], dtype=np.uint64).view(np.float64)[0]
_double_p = ctypes.POINTER(ctypes.c_double)


@dataclass
class Block:
    """The argument block of one fit, less the evaluation points."""

    estimator: str
    x: np.ndarray  # n x p, column-major, continuous regressors first
    y: np.ndarray
    n: int
    pc: int
    q: int
    nr: int
    h: np.ndarray  # p entries; with dummies the last is -pc
    K: int  # density groups, 0 for none
    phase: int
    B: int
    deg: int
    vol: bool
    lam: int

    @property
    def p(self) -> int:
        return self.pc + self.q

    @property
    def width(self) -> int:
        """Columns of fh."""
        return self.K + 1 if self.K >= 2 else 1


@dataclass
class Outcome:
    mh: np.ndarray  # m x B
    sh: Optional[np.ndarray]
    fh: np.ndarray  # m x width
    failed: int  # the point (from 1) that ended the call, 0 for none
    refused: bool


def _unwritten(v: np.ndarray) -> np.ndarray:
    return np.asarray(v).view(np.uint64) == _UNWRITTEN_BITS


def _ptr(a: np.ndarray):
    return a.ctypes.data_as(_double_p)


def call(b: Block, t: np.ndarray, loo: bool = False) -> Outcome:
    """Calls the estimator of `b` once on the m x pc points `t`."""
    m = t.shape[0]
    mh = np.full(m * b.B, _UNWRITTEN)
    sh = np.full(m * b.B if b.vol else 1, _UNWRITTEN)
    fh = np.full(m * b.width, -0.0)
    tt = np.zeros((m, b.p), order="F")
    tt[:, : b.pc] = t  # dummy columns of t are never read
    scalars = [b.n, b.p, b.nr, m, b.deg, int(b.vol), int(loo), b.lam]
    n_, p_, nr_, m_, deg_, vol_, nloo_, lam_ = (ctypes.c_double(v) for v in scalars)
    grp = np.array([b.K, b.phase] if b.K >= 2 else [0.0, 0.0], dtype=float)
    args = [_ptr(b.x), ctypes.byref(n_), ctypes.byref(p_), _ptr(b.y), ctypes.byref(nr_), _ptr(tt),
            ctypes.byref(m_), _ptr(b.h), _ptr(grp), _ptr(mh), _ptr(sh), _ptr(fh), ctypes.byref(deg_),
            ctypes.byref(vol_), ctypes.byref(nloo_)]
    if b.estimator in ("locparg", "locpa2g"):
        args.append(ctypes.byref(lam_))
    _native.export(b.estimator)(*args)

    out = Outcome(mh=mh.reshape((m, b.B), order="F"), sh=sh.reshape((m, b.B), order="F") if b.vol else None,
                  fh=(fh + 0.0).reshape((m, b.width), order="F"), failed=0, refused=False)
    f0 = fh[:m]
    unvisited = np.flatnonzero((f0 == 0) & np.signbit(f0))
    if unvisited.size:
        if unvisited[0] == 0:
            out.refused = True
        else:
            out.failed = int(unvisited[0])
        return out
    # Every point was visited; the last one may still have failed.
    e = m * b.B - 1
    if m and (_unwritten(mh[e]) or (b.vol and _unwritten(sh[e]))):
        out.failed = m
    elif m and not b.vol and e < b.n and np.isnan(mh[e]):
        # The NaN may be the fit or the failure's overwrite: the last point
        # once more, followed by a copy of itself, tells them apart.
        probe = call(b, t[[m - 1, m - 1]], loo)
        if probe.failed == 1:
            out.failed = m
    return out


@dataclass
class Run:
    mh: np.ndarray
    sh: Optional[np.ndarray]
    fh: np.ndarray
    failed: List[int]  # points (from 0) that failed the conditioning test
    skipped: List[int]  # leave-one-out points not computed after a failure


class Refused(RuntimeError):
    """The library refused a call that the front end had admitted."""


def run(b: Block, t: np.ndarray, loo: bool = False) -> Run:
    """Fits the estimator of `b` at every row of `t`.

    A point that fails the conditioning test gets NaN in mh and sh (its
    density stays). Under leave-one-out, where a call cannot start after the
    first point, the points after a failed one are not computed.
    """
    m = t.shape[0]
    r = Run(mh=np.full((m, b.B), np.nan), sh=np.full((m, b.B), np.nan) if b.vol else None,
            fh=np.full((m, b.width), np.nan), failed=[], skipped=[])

    def put(o: Outcome, rows: slice, local: slice) -> None:
        r.mh[rows] = o.mh[local]
        if b.vol:
            r.sh[rows] = o.sh[local]
        r.fh[rows] = o.fh[local]

    start = 0
    while start < m:
        o = call(b, t[start:], loo)
        if o.refused:
            raise Refused(f"{b.estimator} refused the call")
        f = o.failed
        if f == 0:
            put(o, slice(start, m), slice(0, m - start))
            break
        put(o, slice(start, start + f - 1), slice(0, f - 1))
        r.fh[start + f - 1] = o.fh[f - 1]
        r.failed.append(start + f - 1)
        # The failure overwrote column 0 of the first min(f - 1, n) points.
        k = min(f - 1, b.n)
        if k > 0:
            again = call(b, t[start:start + k], loo)
            if again.failed or again.refused:
                raise RuntimeError("a point that passed the conditioning test failed it on a second call")
            put(again, slice(start, start + k), slice(0, k))
        if loo:
            r.skipped = list(range(start + f, m))
            break
        start += f
    return r
