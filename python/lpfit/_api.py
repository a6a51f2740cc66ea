"""The four estimators: argument checking, the argument block, bandwidth
choice, evaluation points, parallel and distributed execution, and the
result object."""
from __future__ import annotations

import math
import statistics
import warnings
from collections.abc import Mapping
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field, replace
from typing import Any, Dict, List, Optional, Tuple, Union

import numpy as np

from . import _bandwidth, _columns, _core, _native

ArrayLike = Any  # numpy arrays, sequences, mappings of name to column, data frames


class FitWarning(UserWarning):
    """A point of the fit failed, or the library warned about the fit."""


# ---- Arguments ------------------------------------------------------------

def _matrix(v: ArrayLike, what: str, prefix: str) -> Tuple[Optional[np.ndarray], List[str]]:
    """A float matrix, one row per observation, with column names taken from a
    mapping or a data frame, else `prefix` or prefix1, prefix2, ..."""
    if v is None:
        return None, []
    try:
        if isinstance(v, Mapping):
            names = [str(k) for k in v]
            cols = [np.asarray(v[k], dtype=float) for k in v]
            if any(c.ndim != 1 for c in cols) or len({c.size for c in cols}) > 1:
                raise ValueError(f"{what}: the columns of a mapping must be 1-d and of one length")
            a = np.column_stack(cols) if cols else np.empty((0, 0))
        elif hasattr(v, "columns") and not isinstance(v, np.ndarray):
            names = [str(c) for c in v.columns]
            a = np.asarray(v, dtype=float)
        else:
            a = np.asarray(v, dtype=float)
            names = []
    except (TypeError, ValueError) as e:
        if str(e).startswith(what):
            raise
        raise ValueError(f"{what} must be numeric") from None
    if a.ndim == 1:
        a = a.reshape(-1, 1)
    if a.ndim != 2:
        raise ValueError(f"{what} must be 1-d or 2-d")
    if not names:
        names = [prefix] if a.shape[1] == 1 else [f"{prefix}{k + 1}" for k in range(a.shape[1])]
    return a, names


def _count(v: Any, what: str, lo: int) -> int:
    if isinstance(v, (bool, np.bool_)) or not isinstance(v, (int, float, np.integer, np.floating)) \
            or not math.isfinite(v) or v != int(v) or v < lo:
        raise ValueError(f"{what} must be a whole number of at least {lo}")
    return int(v)


def _flag(v: Any, what: str) -> bool:
    if not isinstance(v, (bool, np.bool_)):
        raise ValueError(f"{what} must be True or False")
    return bool(v)


def _bandwidths(h: Any, pc: int, what: str = "bandwidth") -> np.ndarray:
    """Positive finite bandwidths, one per continuous regressor (one value is
    recycled)."""
    try:
        a = np.atleast_1d(np.asarray(h, dtype=float))
    except (TypeError, ValueError):
        a = np.empty(0)
    if a.ndim != 1 or a.size not in (1, pc) or not np.all(np.isfinite(a)) or not np.all(a > 0):
        raise ValueError(f"{what} must be one positive number or {pc} of them, one per continuous regressor")
    return np.resize(a, pc)


def _points(at: ArrayLike, xn: List[str]) -> np.ndarray:
    pc = len(xn)
    if isinstance(at, Mapping) or (hasattr(at, "columns") and not isinstance(at, np.ndarray)):
        t, names = _matrix(at, "at", "x")
        if all(k in names for k in xn):
            t = t[:, [names.index(k) for k in xn]]
    else:
        if np.ndim(at) == 0:
            at = [at]
        t, _ = _matrix(at, "at", "x")
        # A 1-d array is the points of one regressor, or one point of several.
        if np.ndim(at) == 1 and pc > 1:
            if t.shape[0] != pc:
                raise ValueError("at must have one column per continuous regressor")
            t = t.reshape(1, pc)
    if t.shape[1] != pc:
        raise ValueError(f"at has {t.shape[1]} columns but there are {pc} continuous regressors")
    if not np.all(np.isfinite(t)):
        raise ValueError("at has missing or infinite values")
    return np.ascontiguousarray(t)


def _grid(X: np.ndarray, grid: Any) -> np.ndarray:
    """N evenly spaced points over the range of each of one or two continuous
    regressors; for two the first one runs fastest."""
    N = _count(grid, "grid", 2)
    if X.shape[1] > 2:
        raise ValueError(f"grid serves one or two continuous regressors; give at for {X.shape[1]}")
    axes = []
    for k in range(X.shape[1]):
        lo, hi = X[:, k].min(), X[:, k].max()
        axes.append(np.append(lo + (hi - lo) * np.arange(N - 1) / (N - 1), hi))
    mesh = np.meshgrid(*axes, indexing="ij")
    return np.column_stack([g.ravel(order="F") for g in mesh])


def rule_of_thumb(x: ArrayLike, deg: int = 1) -> np.ndarray:
    """Normal-reference bandwidths, one per continuous regressor.

    With q continuous regressors, c s n^(-1/(q + 4)) for ``deg`` 1 and
    c s n^(-1/(q + 8)) for ``deg`` 2 and 3, where c = (4/(q + 2))^(1/(q + 4))
    and s is the regressor's sample standard deviation (Silverman's
    1.06 s n^(-1/5) for one regressor and ``deg`` 1).
    """
    X, names = _matrix(x, "x", "x")
    if X.shape[0] < 2 or not np.all(np.isfinite(X)):
        raise ValueError("x needs at least two finite observations per regressor")
    s = _bandwidth.spread(X)
    if not np.all(s > 0):
        bad = [names[k] for k in np.flatnonzero(~(s > 0))]
        raise ValueError(f"a continuous regressor is constant: {', '.join(bad)}")
    return _bandwidth.rule_of_thumb_matrix(X, deg)


# ---- The result -----------------------------------------------------------

_TITLES = {"dorvane": "local linear", "tremsal": "local cubic",
           "locparg": "local quadratic with third-order terms", "locpa2g": "local quadratic with cross products"}

@dataclass(repr=False)
class Fit:
    """The result of a fit.

    Attributes
    ----------
    table : dict of str to ndarray
        One entry per column of the flat table, in order: the coordinates of
        the points, then ``level``, ``d1_A``, ``effect_D``, ``d2_A``,
        ``d3_A``, ``d2_A_L``, ``c3_A_B_C``; with ``vol`` ``var``,
        ``var_d1_A``, ``var_effect_D``, ``var_d2_A`` and ``y2_...``; then
        ``density``, ``density_g1``... and ``ci_lower``, ``ci_upper``.
    level, var, density : ndarray
        The regression function, the conditional variance (``vol``) and the
        kernel density at each point.
    d1, effect, d2, d3, cross, c3, var_d1, var_effect, var_d2, y2, density_groups, ci : ndarray or None
        The other columns grouped, one row per point; ``labels[group]`` names
        their columns (regressors, or their combinations).
    mh, sh, fh : ndarray
        The libraries' own outputs, one row per point.
    messages : list of str
        What the libraries printed during the fit.
    failed, skipped : list of int
        Points (from 0) that failed the conditioning test, and leave-one-out
        points not computed after one.
    bandwidth : ndarray
        The bandwidths used; ``cv`` holds the candidates and their scores when
        they were cross-validated.
    """

    estimator: str
    points: np.ndarray
    table: Dict[str, np.ndarray]
    labels: Dict[str, List[str]]
    mh: np.ndarray
    sh: Optional[np.ndarray]
    fh: np.ndarray
    messages: List[str]
    failed: List[int]
    skipped: List[int]
    bandwidth: np.ndarray
    cv: Optional[Dict[str, np.ndarray]]
    x_names: List[str]
    dummy_names: List[str]
    n: int
    deg: int
    vol: bool
    loo: bool
    nr: int
    groups: Optional[int]
    phase: Optional[int]
    lam: Optional[str]
    conf: float
    level: np.ndarray = field(repr=False, default=None)
    d1: Optional[np.ndarray] = field(repr=False, default=None)
    effect: Optional[np.ndarray] = field(repr=False, default=None)
    d2: Optional[np.ndarray] = field(repr=False, default=None)
    d3: Optional[np.ndarray] = field(repr=False, default=None)
    cross: Optional[np.ndarray] = field(repr=False, default=None)
    c3: Optional[np.ndarray] = field(repr=False, default=None)
    var: Optional[np.ndarray] = field(repr=False, default=None)
    var_d1: Optional[np.ndarray] = field(repr=False, default=None)
    var_effect: Optional[np.ndarray] = field(repr=False, default=None)
    var_d2: Optional[np.ndarray] = field(repr=False, default=None)
    y2: Optional[np.ndarray] = field(repr=False, default=None)
    density: np.ndarray = field(repr=False, default=None)
    density_groups: Optional[np.ndarray] = field(repr=False, default=None)
    ci: Optional[np.ndarray] = field(repr=False, default=None)
    _data: Dict[str, Any] = field(repr=False, default_factory=dict)

    @property
    def columns(self) -> List[str]:
        """Names of the flat table's columns, in order."""
        return list(self.table)

    def predict(self, at: ArrayLike, type: str = "level", **options: Any) -> Union[np.ndarray, Dict[str, np.ndarray], "Fit"]:
        """Fits again at the points `at` with the same data, bandwidths and
        options (``threads``, ``client`` and ``chunk`` may be given anew).

        `type` is ``"level"`` for the regression function at the points,
        ``"table"`` for the whole table, or ``"fit"`` for the new `Fit`.
        """
        if type not in ("level", "table", "fit"):
            raise ValueError('type must be "level", "table" or "fit"')
        d = self._data
        fit = _fit(self.estimator, d["x"], d["y"], dummies=d["dummies"], bandwidth=self.bandwidth, cv=None,
                   deg=self.deg, vol=self.vol, loo=False, nr=self.nr, at=at, grid=None, groups=self.groups,
                   phase=self.phase or 1, lam=self.lam, conf=self.conf, **options)
        fit.cv = self.cv
        return fit.level if type == "level" else fit.table if type == "table" else fit

    def write_csv(self, path: str) -> None:
        """Writes the table with a header line and every number as %.17g, which
        reads back to the same double."""
        with open(path, "w") as f:
            f.write(",".join(self.table) + "\n")
            cols = list(self.table.values())
            for j in range(self.points.shape[0]):
                f.write(",".join("%.17g" % c[j] for c in cols) + "\n")

    def __str__(self) -> str:
        m = self.points.shape[0]
        bw = ", ".join(f"{a} = {h:.4g}" for a, h in zip(self.x_names, self.bandwidth))
        title = _TITLES[self.estimator]
        if self.estimator in ("dorvane", "tremsal") and self.deg != 3:
            title = "local linear" if self.deg == 1 else "local quadratic"
        lines = [f"{self.estimator}: {title} fit, n = {self.n}, {m} evaluation point"
                 f"{'' if m == 1 else 's'}{' (leave-one-out)' if self.loo else ''}",
                 f"bandwidth: {bw}" + (f" (cross-validated over {len(self.cv['score'])} candidates)"
                                       if self.cv else "")]
        if self.failed:
            lines.append("failed points (NaN): " + " ".join(map(str, self.failed)))
        names = self.columns
        shown = min(m, 6)
        cells = [[f"{self.table[c][j]:.4g}" for c in names] for j in range(shown)]
        w = [max([len(c)] + [len(r[k]) for r in cells]) for k, c in enumerate(names)]
        lines.append(" ".join(c.rjust(w[k]) for k, c in enumerate(names)))
        lines += [" ".join(v.rjust(w[k]) for k, v in enumerate(r)) for r in cells]
        if m > shown:
            lines.append(f"... {m - shown} more rows")
        return "\n".join(lines)

    __repr__ = __str__


def _result(estimator: str, b: _core.Block, r: _core.Run, messages: List[str], t: np.ndarray, X: np.ndarray,
            D: Optional[np.ndarray], y: np.ndarray, xn: List[str], dn: List[str], h: np.ndarray, loo: bool,
            conf: float, scores: Optional[Dict[str, np.ndarray]]) -> Fit:
    cols = _columns.columns(estimator, b.deg, xn, dn, b.lam)
    table: Dict[str, np.ndarray] = {a: t[:, k].copy() for k, a in enumerate(xn)}
    table.update({c.mh: r.mh[:, k] for k, c in enumerate(cols)})
    if b.vol:
        table.update({c.sh: r.sh[:, k] for k, c in enumerate(cols)})
    table["density"] = r.fh[:, 0]
    for g in range(1, b.width):
        table[f"density_g{g}"] = r.fh[:, g]

    grouped: Dict[str, Any] = {"level": r.mh[:, 0], "density": r.fh[:, 0]}
    labels: Dict[str, List[str]] = {}
    for g in ("d1", "effect", "d2", "d3", "cross", "c3"):
        k = [i for i, c in enumerate(cols) if c.group == g]
        if k:
            grouped[g] = r.mh[:, k]
            labels[g] = [cols[i].label for i in k]
    if b.vol:
        grouped["var"] = r.sh[:, 0]
        for g in ("var_d1", "var_effect", "var_d2", "y2"):
            k = [i for i, c in enumerate(cols) if c.sgroup == g]
            if k:
                grouped[g] = r.sh[:, k]
                labels[g] = [cols[i].slabel for i in k]
    if b.K >= 2:
        grouped["density_groups"] = r.fh[:, 1:]
        labels["density_groups"] = [f"g{g}" for g in range(1, b.K + 1)]

    # Pointwise asymptotic band of the local linear fit with one continuous
    # regressor and no dummies: level -/+ z sqrt(var R(K) / (n h f)),
    # R(K) = 1/(2 sqrt(pi)) for the Gaussian kernel; the smoothing bias is
    # ignored, so it covers E[level], and it is NaN where var < 0.
    if estimator == "dorvane" and b.deg == 1 and b.pc == 1 and b.q == 0 and b.vol:
        z = -statistics.NormalDist().inv_cdf((1 - conf) / 2)
        v, f = r.sh[:, 0], r.fh[:, 0]
        half = np.full(v.shape, np.nan)
        ok = v >= 0
        half[ok] = z * np.sqrt(v[ok] * (1.0 / (2.0 * math.sqrt(math.pi))) / (b.n * h[0] * f[ok]))
        ci = np.column_stack([r.mh[:, 0] - half, r.mh[:, 0] + half])
        table["ci_lower"], table["ci_upper"] = ci[:, 0], ci[:, 1]
        grouped["ci"] = ci
        labels["ci"] = ["ci_lower", "ci_upper"]

    return Fit(estimator=estimator, points=t, table=table, labels=labels, mh=r.mh, sh=r.sh, fh=r.fh,
               messages=messages, failed=r.failed, skipped=r.skipped, bandwidth=h, cv=scores, x_names=xn,
               dummy_names=dn, n=b.n, deg=b.deg, vol=b.vol, loo=loo, nr=b.nr,
               groups=b.K if b.K >= 2 else None, phase=b.phase if b.K >= 2 else None,
               lam=xn[b.lam - 1] if b.lam else None, conf=conf,
               _data={"x": dict(zip(xn, X.T)), "dummies": None if D is None else dict(zip(dn, D.T)), "y": y},
               **grouped)


# ---- Execution --------------------------------------------------------------

def _task(b: _core.Block, t: np.ndarray, loo: bool) -> Tuple[_core.Run, List[str]]:
    """One block of points on a worker, with what the library printed there."""
    with _native.Capture() as cap:
        r = _core.run(b, t, loo)
    return r, cap.lines


def _score_task(b: _core.Block, h: np.ndarray) -> float:
    with _native.Capture():
        return _bandwidth.score(b, h)


def _split(m: int, pieces: int) -> List[slice]:
    """Contiguous slices of about m / pieces points."""
    pieces = max(1, min(pieces, m))
    bounds = np.linspace(0, m, pieces + 1).round().astype(int)
    return [slice(a, c) for a, c in zip(bounds[:-1], bounds[1:])]


def _assemble(b: _core.Block, parts: List[Tuple[slice, _core.Run]], m: int) -> _core.Run:
    r = _core.Run(mh=np.empty((m, b.B)), sh=np.empty((m, b.B)) if b.vol else None, fh=np.empty((m, b.width)),
                  failed=[], skipped=[])
    for s, part in parts:
        r.mh[s] = part.mh
        if b.vol:
            r.sh[s] = part.sh
        r.fh[s] = part.fh
        r.failed += [s.start + i for i in part.failed]
        r.skipped += [s.start + i for i in part.skipped]
    return r


def _workers(client: Any) -> int:
    return max(1, len(client.scheduler_info().get("workers", {})))


def _execute(b: _core.Block, t: np.ndarray, loo: bool, threads: int, client: Any,
             chunk: Optional[int]) -> Tuple[_core.Run, List[str]]:
    """Fits all points, split into contiguous blocks over threads or over the
    workers of a Dask client; leave-one-out fits stay one block, because a
    call matches point j with observation j."""
    m = t.shape[0]
    if client is not None:
        pieces = 1 if loo else math.ceil(m / chunk) if chunk else 2 * _workers(client)
        slices = _split(m, pieces)
        shared = client.scatter(b, broadcast=True, hash=False)
        futures = client.map(_task, [shared] * len(slices), [t[s] for s in slices], [loo] * len(slices), pure=False)
        results = client.gather(futures)
        messages = [line for _, lines in results for line in lines]
        return _assemble(b, [(s, r) for s, (r, _) in zip(slices, results)], m), messages
    pieces = 1 if loo else math.ceil(m / chunk) if chunk else threads
    slices = _split(m, pieces)
    with _native.Capture() as cap:
        if len(slices) > 1 and threads > 1:
            with ThreadPoolExecutor(threads) as pool:
                runs = list(pool.map(lambda s: _core.run(b, t[s], loo), slices))
        else:
            runs = [_core.run(b, t[s], loo) for s in slices]
    return _assemble(b, list(zip(slices, runs)), m), cap.lines


def _cross_validate(b: _core.Block, X: np.ndarray, cv: Any, threads: int,
                    client: Any) -> Tuple[np.ndarray, Dict[str, np.ndarray]]:
    cand = _bandwidth.candidates(cv, X, b.deg, lambda v, what: _bandwidths(v, b.pc, what))
    if client is not None:
        shared = client.scatter(b, broadcast=True, hash=False)
        scores = client.gather(client.map(_score_task, [shared] * len(cand), list(cand), pure=False))
    else:
        with _native.Capture():
            if threads > 1:
                with ThreadPoolExecutor(threads) as pool:
                    scores = list(pool.map(lambda h: _bandwidth.score(b, h), cand))
            else:
                scores = [_bandwidth.score(b, h) for h in cand]
    scores = np.array(scores, dtype=float)
    if not np.any(np.isfinite(scores)):
        raise ValueError("cv: every candidate bandwidth fails the leave-one-out fit at some observation")
    return cand[int(np.argmin(scores))], {"bandwidth": cand, "score": scores}


def _where(t: np.ndarray, xn: List[str], i: int) -> str:
    return f"{i} (" + ", ".join(f"{a} = {v:.6g}" for a, v in zip(xn, t[i])) + ")"


def _warn(r: _core.Run, messages: List[str], t: np.ndarray, xn: List[str]) -> None:
    f = r.failed
    if f:
        shown = ", ".join(_where(t, xn, i) for i in f[:5])
        more = f" and {len(f) - 5} more" if len(f) > 5 else ""
        what = "point" if len(f) == 1 else f"{len(f)} points:"
        warnings.warn(f"the local moment matrix cannot be inverted reliably at {what} {shown}{more}; "
                      f"{'its fit is' if len(f) == 1 else 'their fits are'} NaN", FitWarning, stacklevel=4)
    if r.skipped:
        warnings.warn(f"the leave-one-out fit stops at a failed point; points {r.skipped[0]} to "
                      f"{r.skipped[-1]} are not computed", FitWarning, stacklevel=4)
    if any(line.startswith("WARNING: The estimation of the") for line in messages):
        warnings.warn("the conditional variance is not checked when the regressors include dummies",
                      FitWarning, stacklevel=4)


# ---- The estimators ---------------------------------------------------------

_DEGREES = {"dorvane": (1, 2), "tremsal": (1, 2, 3), "locparg": (3,), "locpa2g": (2,)}


def _fit(estimator: str, x: ArrayLike, y: ArrayLike, *, dummies: ArrayLike, bandwidth: Any, cv: Any, deg: Any,
         vol: Any, loo: Any, nr: Any, at: ArrayLike, grid: Any, groups: Any, phase: Any, lam: Any, conf: Any,
         threads: Any = 1, client: Any = None, chunk: Any = None) -> Fit:
    X, xn = _matrix(x, "x", "x")
    D, dn = _matrix(dummies, "dummies", "d")
    if X is None or X.shape[1] == 0:
        raise ValueError("x must hold at least one continuous regressor")
    try:
        y = np.asarray(y, dtype=float)
    except (TypeError, ValueError):
        raise ValueError("y must be a numeric vector") from None
    if y.ndim == 2 and 1 in y.shape:
        y = y.ravel()
    if y.ndim != 1:
        raise ValueError("y must be a numeric vector")
    n = y.size
    if X.shape[0] != n:
        raise ValueError(f"x has {X.shape[0]} rows but y has {n} values")
    if not np.all(np.isfinite(X)):
        raise ValueError(f"x has {int(np.sum(~np.isfinite(X)))} missing or infinite values")
    if not np.all(np.isfinite(y)):
        raise ValueError(f"y has {int(np.sum(~np.isfinite(y)))} missing or infinite values")
    if D is not None:
        if D.shape[0] != n:
            raise ValueError(f"dummies has {D.shape[0]} rows but y has {n} values")
        if not np.all((D == 0) | (D == 1)):
            raise ValueError("dummies must hold only 0 and 1")
    if len(set(xn + dn)) != len(xn + dn):
        raise ValueError("regressor names must differ: " + ", ".join(xn + dn))
    pc, q = len(xn), len(dn)

    if isinstance(deg, (bool, np.bool_)) or deg not in _DEGREES[estimator]:
        raise ValueError(f"{estimator}: deg must be " + " or ".join(map(str, _DEGREES[estimator])))
    deg = int(deg)
    vol = _flag(vol, "vol")
    loo = _flag(loo, "loo")
    lamk = 0
    if lam is not None:
        if isinstance(lam, str):
            if lam not in xn:
                raise ValueError(f'lam = "{lam}" is not one of the continuous regressors {", ".join(xn)}')
            lamk = xn.index(lam) + 1
        else:
            if isinstance(lam, (bool, np.bool_)) or not isinstance(lam, (int, np.integer)) or not 1 <= lam <= pc:
                raise ValueError(f"lam must be a continuous regressor's name or its number from 1 to {pc}")
            lamk = int(lam)
    nr = n if nr is None else _count(nr, "nr", 1)
    if nr > n:
        raise ValueError(f"nr = {nr} exceeds the {n} observations")
    if loo and nr != n:
        raise ValueError("loo needs nr = n: the leave-one-out fit is at the observations")
    K = 0
    if groups is not None:
        K = _count(groups, "groups", 2)
        phase = _count(phase, "phase", 1)
    if isinstance(conf, (bool, np.bool_)) or not isinstance(conf, (int, float, np.integer, np.floating)) \
            or not 0 < conf < 1:
        raise ValueError("conf must lie strictly between 0 and 1")
    threads = _count(threads, "threads", 1)
    if chunk is not None:
        chunk = _count(chunk, "chunk", 1)
    B = _columns.width(estimator, deg, pc, q)
    if n < B:
        raise ValueError(f"{n} observations are too few for the {B} columns of the local design")

    xall = np.asfortranarray(np.column_stack([X] + ([D] if D is not None else [])))
    b = _core.Block(estimator=estimator, x=xall.ravel(order="F"), y=np.ascontiguousarray(y), n=n, pc=pc, q=q,
                    nr=nr, h=np.empty(0), K=K, phase=phase if K else 0, B=B, deg=deg, vol=vol, lam=lamk)

    # Bandwidths.
    scores = None
    if cv is not None:
        if bandwidth is not None:
            raise ValueError("give bandwidth or cv, not both")
        if nr != n:
            raise ValueError("cv needs nr = n: its scores come from leave-one-out fits")
        h, scores = _cross_validate(b, X, cv, threads, client)
    else:
        h = rule_of_thumb(X, deg) if bandwidth is None else _bandwidths(bandwidth, pc)
    b = replace(b, h=_bandwidth.with_count(h, q))

    # Evaluation points.
    if loo:
        if at is not None or grid is not None:
            raise ValueError("loo fits at the observations: leave at and grid out")
        t = X
    elif at is not None:
        if grid is not None:
            raise ValueError("give at or grid, not both")
        t = _points(at, xn)
    elif grid is not None:
        t = _grid(X, grid)
    else:
        t = X
    t = np.ascontiguousarray(t, dtype=float)

    r, messages = _execute(b, t, loo, threads, client, chunk)
    _warn(r, messages, t, xn)
    return _result(estimator, b, r, messages, t, X, D, y, xn, dn, h, loo, float(conf), scores)
