"""The estimators on the core: the data and options in the core's terms, the
orchestration of a fit over a Dask cluster, and the result object."""
from __future__ import annotations

import csv
import math
import numbers
import warnings
from collections.abc import Mapping
from typing import Any, Dict, List, Optional, Tuple

import numpy as np

from . import _native

try:
    import pandas as pd
except ImportError:
    pd = None

ArrayLike = Any  # arrays, sequences, mappings of name to column, pandas Series and DataFrames
TEXT_OPTIONS = ("ci", "se", "missing")


class FitWarning(UserWarning):
    """A sentence of the core's warnings about a fit, e.g. the points whose fit is NaN."""


# ---- Data and options --------------------------------------------------------

def _frame(v: Any) -> bool:
    return pd is not None and isinstance(v, (pd.DataFrame, pd.Series))


def _numeric(c: Any, what: str, name: str) -> np.ndarray:
    """A column as doubles; None and pandas' NA become NaN, for the core's
    `missing` rule to judge."""
    a = c if hasattr(c, "to_numpy") else np.asarray(c)
    kind = a.dtype.kind
    text = kind == "O" and any(isinstance(e, (str, bytes)) for e in np.asarray(a, dtype=object).ravel())
    if kind not in "biufO" or text:
        raise ValueError(f"{what}: column '{name}' must be numeric")
    try:
        a = a.to_numpy(dtype=float, na_value=np.nan) if hasattr(a, "to_numpy") else a.astype(float)
    except (TypeError, ValueError):
        raise ValueError(f"{what}: column '{name}' must be numeric") from None
    if a.ndim != 1:
        raise ValueError(f"{what}: column '{name}' must be one-dimensional")
    return np.ascontiguousarray(a)


def _columns(v: ArrayLike, what: str, prefix: str) -> List[Tuple[str, np.ndarray]]:
    """Named columns: a Series' name, a DataFrame's or mapping's keys, else
    `prefix` for one column and prefix1, prefix2, ... for several."""
    if v is None:
        return []
    if pd is not None and isinstance(v, pd.Series):
        items = [(prefix if v.name is None else v.name, v)]
    elif isinstance(v, Mapping) or _frame(v):
        items = [(k, v[k]) for k in v]
    else:
        a = np.atleast_1d(np.asarray(v))
        if a.ndim > 2:
            raise ValueError(f"{what} must be one- or two-dimensional")
        a = a.reshape(a.shape[0], -1) if a.size else a.reshape(0, 0)
        items = [(prefix if a.shape[1] == 1 else f"{prefix}{k + 1}", a[:, k]) for k in range(a.shape[1])]
    return [(str(k), _numeric(c, what, str(k))) for k, c in items]


def _points(v: ArrayLike, xn: List[str], what: str) -> np.ndarray:
    """Rows of len(xn) coordinates, column-major: from a mapping or DataFrame
    by the regressors' names, else a 2-d array (or 1-d: the points of one
    regressor, or one point of several)."""
    if isinstance(v, Mapping) or (pd is not None and isinstance(v, pd.DataFrame)):
        absent = [k for k in xn if k not in v]
        if absent:
            raise ValueError(f"{what}: no column '{absent[0]}'; give one per continuous regressor ({', '.join(xn)})")
        return np.concatenate([_numeric(v[k], what, k) for k in xn])
    try:
        a = np.atleast_1d(np.asarray(v, dtype=float))
    except (TypeError, ValueError):
        raise ValueError(f"{what} must be numeric") from None
    a = a.reshape((-1, 1) if len(xn) == 1 else (1, -1)) if a.ndim == 1 else a
    if a.ndim != 2 or a.shape[1] != len(xn):
        raise ValueError(f"{what} needs one column per continuous regressor ({', '.join(xn)}), not {a.shape[-1]}")
    return a.ravel(order="F")


def _options(xn: List[str], bandwidth: Any, cv: Any, at: Any, kw: Dict[str, Any]) -> Dict[str, Any]:
    """The core's options; each travels with its own type."""
    opts: Dict[str, Any] = {}
    for k, v in kw.items():
        ok = isinstance(v, str) if k in TEXT_OPTIONS else isinstance(v, (str, numbers.Integral)) if k == "lam" \
            else isinstance(v, (numbers.Real, np.bool_))
        if v is not None and not ok:
            raise ValueError(f"{k} must be {'a text' if k in TEXT_OPTIONS else 'a number'}, not {v!r}")
        if v is not None:
            opts[k] = int(v) if isinstance(v, (bool, np.bool_)) else v
    if isinstance(bandwidth, str):
        opts["bandwidth"] = bandwidth
    elif bandwidth is not None:
        try:
            opts["bandwidth"] = np.atleast_1d(np.asarray(bandwidth, dtype=float)).ravel()
        except (TypeError, ValueError):
            raise ValueError("bandwidth must be numbers or one of 'rot', 'cv', 'aicc', 'plugin'") from None
    if cv is not None and np.ndim(cv) == 0:
        if not isinstance(cv, numbers.Real):
            raise ValueError(f"cv must be a count of candidates or an array of them, not {cv!r}")
        opts["cv"] = cv
    elif cv is not None:
        opts["cv_grid"] = _points(cv, xn, "cv")
    if at is not None:
        opts["at"] = _points(at, xn, "at")
    return opts


def _chosen(opts: Dict[str, Any], values: Dict[str, np.ndarray]) -> Dict[str, Any]:
    """Options that give a fit's bandwidth again without selecting it anew:
    the candidates with their scores, or the numbers a selector chose."""
    o = {k: v for k, v in opts.items() if k not in ("cv", "cv_grid", "cv_scores", "task", "from", "to")}
    if "cv" in opts or "cv_grid" in opts:
        o.update(cv_grid=values["selection_h"], cv_scores=values["selection_score"])
    elif isinstance(opts.get("bandwidth"), str) and opts["bandwidth"] != "rot":
        o["bandwidth"] = values["bandwidth"]
    return o


def _warn(raw: Dict[str, Any], level: int = 4) -> Dict[str, Any]:
    for sentence in raw["texts"]["warnings"].splitlines():
        warnings.warn(sentence, FitWarning, stacklevel=level)
    return raw


# ---- Dask ------------------------------------------------------------------

def _blocks(m: int, size: Optional[int], workers: int) -> List[Tuple[int, int]]:
    k = max(1, min(m, math.ceil(m / size) if size else 2 * workers))
    b = [round(m * i / k) for i in range(k + 1)]
    return list(zip(b[:-1], b[1:]))


def _distributed(client: Any, chunk: Optional[int], estimator: str, data: list, opts: Dict[str, Any]) -> Dict[str, Any]:
    """The fit as tasks of a Dask cluster, each one core call: the scores of
    blocks of given candidates, then the selection with no points (to = 0),
    which also tells how many points there are, then blocks of points with
    the selection's result. The table is the local fit's, bit for bit."""
    workers = max(1, len(client.scheduler_info().get("workers", {})))
    shared = client.scatter([data], broadcast=True, hash=False)[0]
    pc = sum(1 for _, _, dummy in data[1:] if not dummy)

    def tasks(changes):
        return client.gather([client.submit(_native.run, estimator, shared, dict(opts, **c), pure=False)
                              for c in changes])

    if "cv_grid" in opts:
        g = opts["cv_grid"].reshape((-1, pc), order="F")
        scores = tasks([dict(cv_grid=g[a:b].ravel(order="F"), task="score") for a, b in _blocks(len(g), None, workers)])
        opts = dict(opts, cv_scores=np.concatenate([s["values"]["score"] for s in scores]))
    first = tasks([dict(to=0)])[0]
    opts = _chosen(opts, first["values"])
    n = len(data[0][1]) - len(first["points"]["dropped"])
    m = len(opts["at"]) // pc if "at" in opts else int(opts["grid"]) ** pc if "grid" in opts else n
    parts = tasks([{"from": a, "to": b} for a, b in _blocks(m, chunk, workers)])

    # One fit of the blocks: their rows, points and lines in order.
    texts = dict(first["texts"], summary="")
    texts["header"] = texts["header"].replace(", 0 evaluation points", f", {m} evaluation point" + "s" * (m != 1), 1)
    for k in ("warnings", "notes", "messages", "library"):
        lines = [line for p in [first] + parts for line in p["texts"][k].splitlines(True)]
        texts[k] = "".join(dict.fromkeys(lines) if k in ("warnings", "notes") else lines)
    points = {k: sum((p["points"][k] for p in parts), []) for k in ("failed", "refitted")}
    return dict(first, names=parts[0]["names"], texts=texts, points=dict(first["points"], **points),
                columns=[np.concatenate(c) for c in zip(*(p["columns"] for p in parts))])


def fit(estimator: str, x: ArrayLike, y: ArrayLike, *, dummies: ArrayLike, bandwidth: Any, cv: Any, at: ArrayLike,
        client: Any, chunk: Optional[int], **kw: Any) -> "Fit":
    ys = _columns(y, "y", "y")
    if len(ys) != 1:
        raise ValueError(f"y must be one column, not {len(ys)}")
    xs, ds = _columns(x, "x", "x"), _columns(dummies, "dummies", "d")
    data = [(ys[0][0], ys[0][1], 0)] + [(k, v, 0) for k, v in xs] + [(k, v, 1) for k, v in ds]
    opts = _options([k for k, _ in xs], bandwidth, cv, at, kw)
    raw = _native.run(estimator, data, opts) if client is None else _distributed(client, chunk, estimator, data, opts)
    index = x.index if _frame(x) else y.index if _frame(y) else None
    return Fit(estimator, data, opts, _warn(raw), index)


# ---- The result --------------------------------------------------------------

class Fit:
    """The result of a fit.

    Attributes
    ----------
    table : pandas.DataFrame, or dict of str to ndarray without pandas
        One row per evaluation point, the columns in the core's order: the
        coordinates, ``level``, ``d1_A``, ``effect_D``, ``d2_A``, ``d3_A``,
        ``d2_A_L``, ``c3_A_B_C``; with ``vol`` ``var``, ``var_d1_A``, ... and
        ``y2_...``; ``density``, ``density_g1``, ...; with intervals ``se_C``,
        ``lower_C``, ``upper_C`` for each output C. Each column is also an
        attribute (``fit.level``, ``fit.var``).
    bandwidth : ndarray
        The bandwidth of each continuous regressor; ``method`` says how it
        was chosen and ``selection`` holds every bandwidth scored (``h``, one
        row each) with its ``score``, or is None.
    failed, refitted, dropped : list of int
        Points (from 0) whose fit is NaN, points solved again by a method that
        stays accurate, and observations left out for a missing value.
    header, notes, messages, library : str or list of str
        The core's texts: the lines above the table, its notes (one sentence
        each), one line per kind of library message, and every line the
        library wrote.
    """

    def __init__(self, estimator: str, data: list, options: Dict[str, Any], raw: Dict[str, Any],
                 index: Any = None) -> None:
        self.estimator, self._data, self._options, self._raw, self._index = estimator, data, options, raw, index
        self._cache: Dict[Any, Dict[str, Any]] = {}
        t, v, p = raw["texts"], raw["values"], raw["points"]
        self.columns: List[str] = raw["names"]
        self.x_names = [k for k, _, dummy in data[1:] if not dummy]
        self.bandwidth: np.ndarray = v.get("bandwidth")
        self.method, self.header, self.messages, self.library = t["method"], t["header"], t["messages"], t["library"]
        self.notes: List[str] = t["notes"].splitlines()
        self.failed, self.refitted, self.dropped = p["failed"], p["refitted"], p["dropped"]
        self.selection = None if v.get("selection_h") is None or not len(v["selection_h"]) else {
            "h": v["selection_h"].reshape((-1, len(self.x_names)), order="F"), "score": v["selection_score"]}

    def __getattr__(self, name: str) -> np.ndarray:
        raw = self.__dict__.get("_raw")
        if raw is None or name not in raw["names"]:
            raise AttributeError(f"'Fit' object has no attribute or column '{name}'")
        return raw["columns"][raw["names"].index(name)]

    def _table(self, raw: Dict[str, Any], keep=lambda name: True):
        cols = {k: c for k, c in zip(raw["names"], raw["columns"]) if keep(k)}
        if pd is None:
            return cols
        at_obs = self._index is not None and not {"at", "grid"} & set(self._options) and raw is self._raw
        return pd.DataFrame(cols, index=self._index.delete(self.dropped) if at_obs else None)

    @property
    def table(self):
        return self._table(self._raw)

    def _again(self, **changes: Any) -> Dict[str, Any]:
        """A fit of the same data and bandwidth with other options, made once."""
        key = tuple(sorted((k, v.tobytes() if isinstance(v, np.ndarray) else v) for k, v in changes.items()))
        if key not in self._cache:
            opts = {k: v for k, v in _chosen(self._options, self._raw["values"]).items()
                    if not (k in ("at", "grid", "loo") and "at" in changes)}
            opts.update(changes)
            self._cache[key] = dict(_warn(_native.run(self.estimator, self._data, opts)), options=opts)
        return self._cache[key]

    def _refit(self, **changes: Any) -> "Fit":
        raw = self._again(**changes)
        return Fit(self.estimator, self._data, raw["options"], raw)

    def predict(self, at: ArrayLike, type: str = "level"):
        """Fits again at the points `at` (rows, or columns named after the
        continuous regressors) with the same data, bandwidth and options.

        `type` is ``"level"`` for the regression function at the points (an
        ndarray), ``"table"`` for the whole table, ``"fit"`` for a new Fit.
        """
        if type not in ("level", "table", "fit"):
            raise ValueError(f"type '{type}' is none of 'level', 'table', 'fit'")
        new = self._refit(at=_points(at, self.x_names, "at"))
        return new.level if type == "level" else new.table if type == "table" else new

    def _observed(self, name: str):
        v = self._again(fitted=1)["values"][name]
        return pd.Series(v, index=self._index.delete(self.dropped), name=name) if self._index is not None else v

    def fitted(self):
        """The fit at the observations (the level plus the dummies' effects),
        computed on first request; a Series on the data's index for pandas data."""
        return self._observed("fitted")

    def residuals(self):
        """The response less :meth:`fitted`."""
        return self._observed("residuals")

    def summary(self) -> str:
        """The core's summary: the header, the observations used and dropped,
        the R-squared at the observations, the failed and refitted points."""
        return self._again(fitted=1)["texts"]["summary"]

    def confint(self, kind: str = "rbc", conf: Optional[float] = None):
        """The ``lower_`` and ``upper_`` columns of the intervals of `kind`
        (``"pointwise"``, ``"rbc"`` or ``"uniform"``) at level `conf` (default:
        the fit's), from the fit again with ``ci = kind``."""
        raw = self._again(ci=kind, **({} if conf is None else {"conf": conf}))
        return self._table(raw, lambda k: k.startswith(("lower_", "upper_")) and k not in self.x_names)

    @property
    def se(self):
        """The ``se_`` column of each output: this fit's, or those of a fit
        again with pointwise intervals."""
        raw = self._raw if any(k.startswith("se_") for k in self.columns) else self._again(ci="pointwise")
        return self._table(raw, lambda k: k.startswith("se_") and k not in self.x_names)

    def plot(self, path: Optional[str] = None):
        """Draws the fit again on 201 points over the range of the evaluation
        points, over the data, with the interval when intervals were asked
        for and the level -/+ 2 conditional standard deviations with ``vol``,
        and the density below; writes the picture to `path` when given.
        Needs matplotlib; returns its Figure."""
        try:
            import matplotlib.pyplot as plt
        except ImportError:
            raise ImportError("Fit.plot needs matplotlib (Debian: python3-matplotlib)") from None
        if len(self.x_names) != 1:
            raise ValueError(f"plot draws a fit in one continuous regressor, not {len(self.x_names)}")
        (yname, y, _), (xname, x, _) = self._data[0], self._data[1]
        t = getattr(self, xname)
        lo, hi = (np.nanmin(t), np.nanmax(t)) if np.nanmin(t) < np.nanmax(t) else (np.nanmin(x), np.nanmax(x))
        g = np.linspace(lo, hi, 201)
        f = self._refit(at=g)
        fig, (top, low) = plt.subplots(2, 1, sharex=True, figsize=(7, 6), gridspec_kw={"height_ratios": [3, 1]})
        top.scatter(x, y, s=5, color="0.7", label="data")
        top.plot(g, f.level, color="C0", label="level")
        for lower, upper in (("lower_level", "upper_level"), ("ci_lower", "ci_upper")):
            if lower in f.columns:
                top.fill_between(g, getattr(f, lower), getattr(f, upper), color="C0", alpha=0.25,
                                 label=f"{self._options.get('ci', 'confidence')} interval")
                break
        if "var" in f.columns:
            sd = np.sqrt(np.where(f.var >= 0, f.var, np.nan))
            top.plot(g, f.level - 2 * sd, "C1--", g, f.level + 2 * sd, "C1--")
            top.lines[-1].set_label("level -/+ 2 conditional sd")
        low.plot(g, f.density, color="k", label="density")
        for k in (c for c in f.columns if c.startswith("density_g")):
            low.plot(g, getattr(f, k), lw=0.7, label=k[8:])
        top.set_ylabel(yname)
        top.legend(fontsize="small")
        low.set(xlabel=xname, ylabel="density")
        if path is not None:
            fig.savefig(path)
        return fig

    def write_csv(self, path: str) -> None:
        """Writes the table with a header line and every number as %.17g,
        which reads back to the same double."""
        with open(path, "w", newline="") as f:
            w = csv.writer(f, lineterminator="\n")
            w.writerow(self.columns)
            w.writerows(["%.17g" % v for v in row] for row in zip(*self._raw["columns"]))

    def __str__(self) -> str:
        m = len(self._raw["columns"][0]) if self.columns else 0
        cells = [self.columns] + [["%.4g" % c[j] for c in self._raw["columns"]] for j in range(min(m, 6))]
        w = [max(len(r[k]) for r in cells) for k in range(len(self.columns))]
        rows = [" ".join(v.rjust(w[k]) for k, v in enumerate(r)) for r in cells]
        return self.header + "\n".join(rows + ([f"... {m - 6} more rows"] if m > 6 else []))

    __repr__ = __str__
