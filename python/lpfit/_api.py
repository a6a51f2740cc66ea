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

def _frame(v: Any, kinds: Tuple[str, ...] = ("DataFrame", "Series")) -> bool:
    return pd is not None and isinstance(v, tuple(getattr(pd, k) for k in kinds))


def _numeric(c: Any, what: str, name: str) -> np.ndarray:
    """A column as doubles; None and pandas' NA become NaN, for the core's
    `missing` rule to judge."""
    a = c if _frame(c) else np.asarray(c)
    kind = a.dtype.kind
    try:
        if kind not in "biufO" or kind == "O" and any(isinstance(e, (str, bytes)) for e in np.asarray(a, object).flat):
            raise TypeError
        if _frame(a):
            a = np.where(a.isna(), np.nan, a.to_numpy(object)) if kind == "O" else a.to_numpy(float, na_value=np.nan)
        a = np.asarray(a).astype(float)
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
    if _frame(v, ("Series",)):
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
    if isinstance(v, Mapping) or _frame(v, ("DataFrame",)):
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
    """The core's options, each with its own type: ints, doubles, texts."""
    opts: Dict[str, Any] = {}
    for k, v in ((k, v) for k, v in kw.items() if v is not None):
        if not (isinstance(v, str) if k in TEXT_OPTIONS else isinstance(v, (str, numbers.Integral)) if k == "lam"
                else isinstance(v, (numbers.Real, np.bool_))):
            raise ValueError(f"{k} must be {'a text' if k in TEXT_OPTIONS else 'a number'}, not {v!r}")
        opts[k] = int(v) if isinstance(v, (bool, np.bool_)) else v
    try:
        if bandwidth is not None:
            opts["bandwidth"] = bandwidth if isinstance(bandwidth, str) else np.asarray(bandwidth, float).ravel()
    except (TypeError, ValueError):
        raise ValueError("bandwidth must be numbers or one of 'rot', 'cv', 'aicc', 'plugin'") from None
    if isinstance(cv, str) or cv is not None and not np.ndim(cv) and not isinstance(cv, numbers.Real):
        raise ValueError(f"cv must be a count of candidates or an array of them, not {cv!r}")
    if cv is not None:
        opts.update({"cv_grid": _points(cv, xn, "cv")} if np.ndim(cv) else {"cv": cv})
    if at is not None:
        opts["at"] = _points(at, xn, "at")
    return opts


def _chosen(opts: Dict[str, Any], raw: Dict[str, Any]) -> Dict[str, Any]:
    """Options that give the bandwidth again unselected: the candidates and scores, or the numbers chosen
    with the method that chose them."""
    values = raw["values"]
    o = {k: v for k, v in opts.items() if k not in ("cv", "cv_grid", "cv_scores", "task", "from", "to")}
    if "cv" in opts or "cv_grid" in opts:
        o.update(cv_grid=values["selection_h"], cv_scores=values["selection_score"])
    elif isinstance(opts.get("bandwidth"), str) and opts["bandwidth"] != "rot":
        o.update(bandwidth=values["bandwidth"], method=raw["texts"]["method"])
    return o


def _warn(raw: Dict[str, Any], said: str = "") -> Dict[str, Any]:
    for sentence in raw["texts"]["warnings"].splitlines():
        if sentence not in said.splitlines():
            warnings.warn(sentence, FitWarning, stacklevel=4)
    return raw


# ---- Dask ------------------------------------------------------------------

def _blocks(m: int, size: Optional[int], workers: int) -> List[Tuple[int, int]]:
    k = max(1, min(m, math.ceil(m / size) if size else 2 * workers))
    return [(round(m * i / k), round(m * (i + 1) / k)) for i in range(k)]


def _distributed(client: Any, chunk: Optional[int], estimator: str, data: list, opts: Dict[str, Any]) -> Dict[str, Any]:
    """The fit as tasks on a Dask cluster, each one core call: the scores of
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
    opts = _chosen(opts, first)
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
    ys, xs, ds = _columns(y, "y", "y"), _columns(x, "x", "x"), _columns(dummies, "dummies", "d")
    if len(ys) != 1:
        raise ValueError(f"y must be one column, not {len(ys)}")
    data = [(ys[0][0], ys[0][1], 0)] + [(k, v, 0) for k, v in xs] + [(k, v, 1) for k, v in ds]
    opts = _options([k for k, _ in xs], bandwidth, cv, at, kw)
    raw = _native.run(estimator, data, opts) if client is None else _distributed(client, chunk, estimator, data, opts)
    return Fit(estimator, data, opts, _warn(raw), x.index if _frame(x) else y.index if _frame(y) else None)


# ---- The result --------------------------------------------------------------

class Fit:
    """The result of a fit.

    Attributes
    ----------
    table : pandas.DataFrame, or dict of str to ndarray without pandas
        A row per evaluation point, the core's columns (the coordinates,
        ``level``, ``d1_A``, ..., ``var``, ..., ``density``, ..., ``se_C``,
        ``lower_C``, ``upper_C``), each also an attribute (``fit.level``).
    bandwidth, method, selection : ndarray, str, dict
        The bandwidths, how they were chosen, those scored (``h``) and their
        ``score``.
    failed, refitted, dropped : list of int
        Points (from 0) whose fit is NaN, points solved again by a method
        that stays accurate, observations left out for a missing value.
    header, notes, messages, library : str or list of str
        The core's texts: the lines above the table, its notes, a line per
        kind of library message, every line the library wrote.
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
        self.selection = {"h": v["selection_h"].reshape((-1, len(self.x_names)), order="F"),
                          "score": v["selection_score"]} if len(v.get("selection_h", ())) else None

    def __getattr__(self, name: str) -> np.ndarray:
        raw = self.__dict__.get("_raw")
        if raw is None or name not in raw["names"]:
            raise AttributeError(f"'Fit' object has no attribute or column '{name}'")
        return raw["columns"][raw["names"].index(name)]

    def _table(self, raw: Dict[str, Any], prefixes: Tuple[str, ...] = ()):
        cols = {k: c for k, c in zip(raw["names"], raw["columns"])
                if not prefixes or k.startswith(prefixes) and k not in self.x_names}
        at_obs = self._index is not None and raw is self._raw and not {"at", "grid"} & set(self._options)
        return cols if pd is None else pd.DataFrame(cols, index=self._index.delete(self.dropped) if at_obs else None)

    @property
    def table(self):
        return self._table(self._raw)

    def _again(self, **changes: Any) -> "Fit":
        """The fit of the same data and bandwidth with other options, made once."""
        key = tuple(sorted((k, v.tobytes() if isinstance(v, np.ndarray) else v) for k, v in changes.items()))
        if key not in self._cache:
            opts = dict({k: v for k, v in _chosen(self._options, self._raw).items()
                         if not (k in ("at", "grid", "loo") and "at" in changes)}, **changes)
            raw = _warn(_native.run(self.estimator, self._data, opts), self._raw["texts"]["warnings"])
            self._cache[key] = Fit(self.estimator, self._data, opts, raw)
        return self._cache[key]

    def predict(self, at: ArrayLike, type: str = "level"):
        """Fits again at the points `at` (rows, or columns named after the continuous regressors) with
        the same data, bandwidth and options: the level (``type="level"``), table or Fit there."""
        if type not in ("level", "table", "fit"):
            raise ValueError(f"type '{type}' is none of 'level', 'table', 'fit'")
        new = self._again(at=_points(at, self.x_names, "at"))
        return new.level if type == "level" else new.table if type == "table" else new

    def _observed(self, name: str):
        v = self._again(fitted=1)._raw["values"][name]
        return v if self._index is None else pd.Series(v, index=self._index.delete(self.dropped), name=name)

    def fitted(self):
        """The fit at the observations (level plus dummy effects), made when first asked for."""
        return self._observed("fitted")

    def residuals(self):
        """The response less :meth:`fitted`."""
        return self._observed("residuals")

    def summary(self) -> str:
        """The core's summary: header, observations used and dropped, R-squared, failed and refitted points."""
        return self._again(fitted=1)._raw["texts"]["summary"]

    def confint(self, kind: str = "rbc", conf: Optional[float] = None):
        """The ``lower_`` and ``upper_`` columns of the fit again with ``ci = kind`` (``"pointwise"``,
        ``"rbc"``, ``"uniform"``) at level `conf` (default: the fit's)."""
        return self._table(self._again(ci=kind, **({} if conf is None else {"conf": conf}))._raw, ("lower_", "upper_"))

    @property
    def se(self):
        """The ``se_`` columns: this fit's, or a fit's with pointwise intervals."""
        fit = self if any(k.startswith("se_") for k in self.columns) else self._again(ci="pointwise")
        return self._table(fit._raw, ("se_",))

    def plot(self, path: Optional[str] = None, derivative: bool = False):
        """Draws the fit again at 201 points over the range of the points, over the data, with the
        interval when intervals were asked for, the level -/+ 2 conditional sd with ``vol``, with
        `derivative` the slope and its interval in a panel of its own, and the density below, into
        `path` when given. Needs matplotlib; returns its Figure."""
        try:
            import matplotlib.pyplot as plt
        except ImportError:
            raise ImportError("Fit.plot needs matplotlib (Debian: python3-matplotlib)") from None
        if len(self.x_names) != 1:
            raise ValueError(f"plot draws a fit in one continuous regressor, not {len(self.x_names)}")
        (yname, y, _), (xname, x, _) = self._data[0], self._data[1]
        t = self.__getattr__(xname) if np.ptp(self.__getattr__(xname)) > 0 else x  # the column, whatever its name
        g = np.linspace(np.nanmin(t), np.nanmax(t), 201)
        f = self._again(at=g)
        fig, axes = plt.subplots(2 + derivative, 1, sharex=True, figsize=(7, 6 + 2 * derivative),
                                 gridspec_kw={"height_ratios": [3, 1.5, 1][: 2 + derivative]})
        top, low = axes[0], axes[-1]
        if derivative:
            d1 = "d1_" + xname
            axes[1].plot(g, getattr(f, d1), color="C0")
            if "lower_" + d1 in f.columns:
                axes[1].fill_between(g, getattr(f, "lower_" + d1), getattr(f, "upper_" + d1), color="C0", alpha=0.25)
            axes[1].set_ylabel(d1)
        top.scatter(x, y, s=5, color="0.7", label="data")
        top.plot(g, f.level, color="C0", label="level")
        band = next((b for b in (("lower_level", "upper_level"), ("ci_lower", "ci_upper")) if b[0] in f.columns), None)
        if band:
            top.fill_between(g, getattr(f, band[0]), getattr(f, band[1]), color="C0", alpha=0.25, label="interval")
        if "var" in f.columns:
            sd = np.sqrt(np.where(f.var >= 0, f.var, np.nan))
            top.plot(g, f.level - 2 * sd, "C1--", g, f.level + 2 * sd, "C1--")
            top.lines[-1].set_label("level -/+ 2 conditional sd")
        for k in (c for c in f.columns if c.startswith("density")):
            low.plot(g, getattr(f, k), **({"color": "k"} if k == "density" else {"lw": 0.7}), label=k)
        top.set_ylabel(yname)
        top.legend(fontsize="small")
        low.set(xlabel=xname, ylabel="density")
        if path is not None:
            fig.savefig(path)
        return fig

    def write_csv(self, path: str) -> None:
        """Writes the table with a header line, every number as %.17g (which reads back the same)."""
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
