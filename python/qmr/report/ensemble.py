"""The report of an ensemble: the percentile bands of each output over
time (or distance), the chance of exceeding a threshold, the sampled
parameters' distributions and each output's rank correlation with them."""

from __future__ import annotations

from pathlib import Path
from typing import Any, Dict, List, Optional, Sequence, Tuple, Union

import numpy as np
import pandas as pd

from ..units import Units, UnitsLike
from .page import Page, Series

__all__ = ["ensemble_report", "read_ensemble", "PERCENTILES"]

PathLike = Union[str, Path]
PERCENTILES = (5, 25, 50, 75, 95)
# Series of one output shown as figures of their own (the others are in
# the tables).
MAX_FIGURES = 12


def read_ensemble(results: PathLike, status: Optional[PathLike] = None
                  ) -> Tuple[pd.DataFrame, pd.DataFrame]:
    """The long results (realization, output, step, time, node, x, value)
    and the status table (indexed by realization: parameters, status,
    diagnostic) of ``qmr-ensemble`` files; the status file defaults to
    RESULTS.status.csv."""
    results = Path(results)
    if status is None:
        status = results.with_name(results.stem + ".status.csv")
    long = pd.read_csv(results, dtype={"realization": str, "output": str},
                       float_precision="round_trip")
    st = pd.read_csv(status, dtype={"realization": str, "diagnostic": str},
                     keep_default_na=False, na_values={"status": [""]})
    st = st.drop_duplicates("realization", keep="last").set_index(
        "realization")
    for c in st.columns:
        if c not in ("diagnostic",):
            conv = pd.to_numeric(st[c], errors="coerce")
            if conv.notna().sum() == (st[c].astype(str) != "").sum():
                st[c] = conv
    return long, st


def _value_dim(output: str, kind: Optional[str]) -> Optional[str]:
    """The dimension of an output's values (None: not known)."""
    base = output.rsplit(".", 1)[-1]
    prefix = output.split(".", 1)[0] if "." in output else ""
    k = kind
    if prefix in ("flow", "transport"):
        k = prefix
    solute = "C " if k == "transport" else ""
    if base in ("observations", "profiles"):
        return {"flow": "L", "transport": "C"}.get(k or "")
    if base == "fluxes":
        return solute + "L3/T" if k else None
    if base in ("accumulated", "imbalance"):
        return solute + "L3" if k else None
    return None


def _label(u: Units, output: str, kind: Optional[str]) -> str:
    d = _value_dim(output, kind)
    if d is not None:
        return u.label(output, d)
    return f"{output} ({u.words('L')} or {u.words('C')}, by the output)"


def _series_keys(df: pd.DataFrame) -> Tuple[List[Any], str]:
    """The series of one output (by node, or by step for profiles) and
    the abscissa they run over ("time" or "x")."""
    over_x = df["x"].notna().any() and df.groupby("node", dropna=False)[
        "time"].nunique(dropna=True).max() <= 1 and df["step"].notna().any()
    if over_x and df["node"].nunique() > 1:
        return sorted(df["step"].dropna().unique().tolist()), "x"
    if df["node"].notna().any():
        return sorted(df["node"].dropna().unique().tolist()), "time"
    return [None], "time"


def ensemble_report(source: Any, out: Optional[PathLike] = None,
                    units: UnitsLike = None,
                    threshold: Optional[float] = None,
                    status: Optional[PathLike] = None,
                    kind: Optional[str] = None,
                    title: Optional[str] = None) -> Path:
    """Writes the report of an ensemble: `source` an
    :class:`qmr.EnsembleResult` or the results file of ``qmr-ensemble``
    (`status` its status file, default RESULTS.status.csv). `out` defaults
    to ``report.html`` beside the results file (or in the working folder);
    `threshold` adds the chance of exceeding it; `kind` ("flow" or
    "transport") names the values of observations and profiles."""
    if isinstance(source, (str, Path)):
        long, st = read_ensemble(source, status)
        where = Path(source).parent
        name = Path(source).name
    else:
        long, st = source.long.copy(), source.status.copy()
        long["realization"] = long["realization"].astype(str)
        st.index = st.index.astype(str)
        where = source.results_file.parent if source.results_file \
            else Path.cwd()
        name = source.results_file.name if source.results_file \
            else "ensemble"
    u = Units.parse(units)
    ok = st.index[st["status"] == 0] if "status" in st else st.index
    params = [c for c in st.columns if c not in ("status", "diagnostic")
              and pd.api.types.is_numeric_dtype(st[c])]
    long = long[long["realization"].isin(set(ok))]
    page = Page(title or f"qmr ensemble report: {name}",
                f"{len(st)} realizations, {len(ok)} succeeded; "
                f"{len(params)} sampled parameter(s); units: "
                + (str(u) if u else "not declared"))
    page.h2("The ensemble")
    failed = st[st["status"].notna() & (st["status"] != 0)] \
        if "status" in st else st.iloc[:0]
    page.facts([("results file", name),
                ("realizations", len(st)), ("succeeded", len(ok)),
                ("failed", len(failed)),
                ("outputs", ", ".join(pd.unique(long["output"]))),
                ("threshold", "none given" if threshold is None else
                 f"{threshold:g}")])
    if len(failed):
        page.table(["realization", "exit status", "diagnostic"],
                   [[i, r["status"], r.get("diagnostic", "")]
                    for i, r in failed.head(20).iterrows()],
                   text_columns=(0, 2))
    _parameters(page, st.loc[ok], params)
    summaries = _outputs(page, long, u, threshold, kind)
    _correlations(page, summaries, st.loc[ok], params, u, kind)
    target = Path(out) if out is not None else where / "report.html"
    return page.write(target)


def _parameters(page: Page, st: pd.DataFrame, params: Sequence[str]) -> None:
    page.h2("Sampled parameters")
    if not params:
        page.p("The status file holds no numeric parameter column.", "note")
        return
    rows = []
    for p in params:
        v = st[p].to_numpy(dtype=float)
        v = v[np.isfinite(v)]
        rows.append([p, len(v), *(np.percentile(v, [0, 5, 50, 95, 100])
                                  if len(v) else [np.nan] * 5)])
    page.table(["parameter (the deck's units)", "values", "minimum", "5 %",
                "median", "95 %", "maximum"], rows, text_columns=(0,))
    for p in params:
        v = st[p].to_numpy(dtype=float)
        v = v[np.isfinite(v)]
        if len(v) < 2:
            continue
        log = bool(v.min() > 0 and v.max() / v.min() > 100)
        edges = np.geomspace(v.min(), v.max(), 21) if log else \
            np.linspace(v.min(), v.max(), 21)
        if edges[0] == edges[-1]:
            continue
        counts, edges = np.histogram(v, bins=edges)
        mid = np.sqrt(edges[1:] * edges[:-1]) if log else \
            (edges[1:] + edges[:-1]) / 2
        page.figure(f"Distribution of {p}", f"{p} (the deck's units)",
                    "realizations (count)",
                    [Series("realizations", mid, counts, "bars")],
                    logx=log, kind="bars", xname=p, yname="count")


def _outputs(page: Page, long: pd.DataFrame, u: Units,
             threshold: Optional[float], kind: Optional[str]
             ) -> Dict[str, pd.Series]:
    """Figures of every output; returns a summary per series (the value
    at the last time, by realization) for the rank correlations."""
    summaries: Dict[str, pd.Series] = {}
    for output in pd.unique(long["output"]):
        df = long[long["output"] == output]
        page.h2(f"Output: {output}")
        keys, over = _series_keys(df)
        ylabel = _label(u, output, kind)
        xlabel = u.label("time", "T") if over == "time" else \
            u.label("distance x", "L")
        exceed: List[Series] = []
        shown = 0
        for key in keys:
            if key is None:
                part = df
                name = output
            elif over == "x":
                part = df[df["step"] == key]
                name = f"{output}, step {int(key)}"
            else:
                part = df[df["node"] == key]
                name = f"{output}, node {int(key)}"
            col = over if part[over].notna().any() else "step"
            wide = part.pivot_table(index=col, columns="realization",
                                    values="value", aggfunc="last")
            if wide.empty:
                continue
            x = wide.index.to_numpy(dtype=float)
            v = wide.to_numpy(dtype=float)
            last = wide.iloc[-1]
            summaries[name] = last
            if threshold is not None:
                valid = np.isfinite(v).sum(axis=1)
                chance = np.where(valid > 0, (v > threshold).sum(axis=1)
                                  / np.maximum(valid, 1), np.nan)
                exceed.append(Series(name, x, chance, "both"))
            if shown >= MAX_FIGURES:
                continue
            shown += 1
            with np.errstate(all="ignore"):
                pc = np.nanpercentile(v, PERCENTILES, axis=1)
            page.figure(f"{name}: percentiles over {wide.shape[1]} "
                        "realizations", xlabel if col == over else "step",
                        ylabel, [
                            Series("5-95 %", x, pc[0], "band", pc[4],
                                   "#1f77b4"),
                            Series("25-75 %", x, pc[1], "band", pc[3],
                                   "#1f77b4"),
                            Series("median", x, pc[2], "line",
                                   color="#0b3d6b"),
                            Series("5 %", x, pc[0], "line", color="#6b9bd1",
                                   dash=True),
                            Series("95 %", x, pc[4], "line", color="#6b9bd1",
                                   dash=True)],
                        xname=over, yname=output)
        if len(keys) > MAX_FIGURES:
            page.p(f"{len(keys) - MAX_FIGURES} more series of {output} are "
                   "summarised in the tables only.", "note")
        if exceed:
            page.figure(f"Chance that {output} exceeds {threshold:g}",
                        xlabel, "fraction of realizations (-)", exceed,
                        xname=over, yname="chance")
    return summaries


def _correlations(page: Page, summaries: Dict[str, pd.Series],
                  st: pd.DataFrame, params: Sequence[str], u: Units,
                  kind: Optional[str]) -> None:
    page.h2("Rank correlation of the outputs with the parameters")
    if not params or not summaries:
        page.p("Nothing to correlate.", "note")
        return
    page.p("Spearman rank correlation, over the realizations that "
           "succeeded, of each output's value at its last time (or "
           "distance) with each sampled parameter: +1 rises with the "
           "parameter, -1 falls with it, 0 unrelated.", "note")
    rows, styles = [], []
    for name, s in summaries.items():
        frame = pd.concat([s.rename("__out"), st[list(params)]], axis=1,
                          join="inner").astype(float)
        corr = frame.corr(method="spearman")["__out"]
        vals = [float(corr.get(p, np.nan)) for p in params]
        rows.append([name] + vals)
        styles.append([""] + [_shade(v) for v in vals])
    page.table(["output (value at the last time)"] + list(params), rows,
               text_columns=(0,), cls="corr", cell_styles=styles)


def _shade(v: float) -> str:
    """A cell's background for a correlation: blue for +1, red for -1."""
    if not np.isfinite(v):
        return ""
    a = min(abs(v), 1.0)
    rgb = (255 - int(150 * a), 255 - int(90 * a), 255) if v > 0 else \
        (255, 255 - int(120 * a), 255 - int(150 * a))
    return f"background: rgb{rgb}"
