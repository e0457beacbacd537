"""The report of a calibration: the estimates with their standard errors
and intervals, their correlation, the fits over the measured data, the
residuals, identifiability (singular values, unresolved combinations,
composite sensitivities) and the history of the iterations.

:func:`calibration_report` takes any object with the attributes of a
calibration (``estimates``, ``std_errors``, ``intervals``,
``correlation``, ``singular_values``, ``unresolved``,
``composite_sensitivities``, ``residuals``, ``statistics``, ``history``,
``runs``, ``converged``, ``stop_reason``, ``deck``, ``folder``).
"""

from __future__ import annotations

import re
from pathlib import Path
from typing import Any, Optional, Union

import numpy as np
import pandas as pd

from ..units import Units, UnitsLike
from .ensemble import _shade
from .page import Page, Series

__all__ = ["calibration_report", "parameter_dimension"]

PathLike = Union[str, Path]
# Correlations of estimates beyond this in magnitude are flagged.
HIGH_CORRELATION = 0.95


def _value_dim(deck: Any) -> str:
    return "L" if getattr(deck, "imode", 1) == 1 else "C"


def parameter_dimension(deck: Any, path: str) -> Optional[str]:
    """The dimension of a deck value named by its path
    (``media[1].conductivity`` gives "L/T", ``prescribed_values[2].value``
    a head "L" or a concentration "C"); "" for a pure number, None when
    the path is not known."""
    path = re.sub(r"^(flow|transport|deck\d+)\.", "", path)
    m = re.fullmatch(r"(\w+)(?:\[\d+\])?(?:\.(\w+))?", path)
    if m is None or deck is None:
        return None
    attr, name = m[1], m[2]
    if attr in ("prescribed_values", "initial_values") and name == "value":
        return _value_dim(deck)
    if attr == "initial_value":
        return _value_dim(deck)
    try:
        lists = type(deck)._lists()
        scalars = type(deck)._scalars()
    except AttributeError:
        return None
    if name is not None and attr in lists:
        for f in lists[attr].fields:
            if f.name == name:
                return f.unit
        return None
    if attr in scalars:
        return scalars[attr].unit
    if attr in lists and lists[attr].fields:
        return lists[attr].fields[0].unit
    return None


def _words(u: Units, dim: Optional[str]) -> str:
    return "not known" if dim is None else u.words(dim)


def _output_dim(deck: Any, kind: str) -> Optional[str]:
    vd = _value_dim(deck)
    solute = "C " if vd == "C" else ""
    k = str(kind).rsplit(".", 1)[-1]
    if k in ("observations", "profiles", "observation", "profile", "head",
             "drawdown", "concentration"):
        return vd
    if k in ("fluxes", "flux", "rate"):
        return solute + "L3/T"
    if k in ("accumulated", "imbalance"):
        return solute + "L3"
    return None


def calibration_report(cal: Any, out: Optional[PathLike] = None,
                       units: UnitsLike = None) -> Path:
    """Writes the report of a calibration to `out` (default
    ``report.html`` in ``cal.folder``) and returns its path; `units`
    replace the deck's own."""
    deck = cal.deck
    u = Units.parse(units) if units is not None else \
        getattr(deck, "units", Units())
    title = (getattr(deck, "title", "") or "").strip() or "qmr model"
    page = Page(f"qmr calibration report: {title}",
                ("Converged" if cal.converged else "Not converged")
                + f": {cal.stop_reason}; {cal.runs} runs; units: "
                + (str(u) if u else "not declared"))
    _summary(page, cal, u)
    _estimates(page, cal, u)
    _correlation(page, cal)
    _identifiability(page, cal)
    _fits(page, cal, u)
    _residuals(page, cal, u)
    _history(page, cal)
    target = Path(out) if out is not None else Path(cal.folder) / \
        "report.html"
    return page.write(target)


def _summary(page: Page, cal: Any, u: Units) -> None:
    h = cal.history
    page.h2("The calibration")
    last = h["objective"].iloc[-1] if len(h) else np.nan
    first = h["objective"].iloc[0] if len(h) else np.nan
    page.facts([
        ("status", ("converged" if cal.converged else "not converged")
         + f": {cal.stop_reason}"),
        ("iterations", int(h["iteration"].max()) if len(h) else 0),
        ("model runs", cal.runs),
        ("objective", f"{first:.6g} at the start, {last:.6g} at the end"),
        ("parameters", len(cal.estimates)),
        ("measurements", len(cal.residuals)),
        ("folder", str(cal.folder)),
        ("units", str(u) if u else "not declared (the deck's own units)"),
    ])
    if not cal.converged:
        page.p("The calibration did not converge: the estimates below are "
               "those of its last iteration.", "warning")


def _estimates(page: Page, cal: Any, u: Units) -> None:
    page.h2("Estimates")
    rows = []
    for path, est in cal.estimates.items():
        se = float(cal.std_errors.get(path, np.nan))
        lo = cal.intervals["lower"].get(path, np.nan)
        hi = cal.intervals["upper"].get(path, np.nan)
        rel = abs(se / est) * 100 if est else np.nan
        rows.append([path, _words(u, parameter_dimension(cal.deck, path)),
                     est, se, lo, hi, rel,
                     cal.composite_sensitivities.get(path, np.nan)])
    page.table(["parameter", "unit", "estimate (unit)",
                "standard error (unit)", "interval lower (unit)",
                "interval upper (unit)", "relative standard error (%)",
                "composite sensitivity (-)"], rows, text_columns=(0, 1))
    cs = cal.composite_sensitivities.reindex(cal.estimates.index)
    names = list(cs.index)
    page.figure("Composite sensitivities", "parameter number (-)",
                "composite sensitivity (-)",
                [Series("composite sensitivity",
                        np.arange(1, len(names) + 1), cs.to_numpy(float),
                        "bars")], kind="bars", xname="parameter",
                yname="sensitivity",
                caption="Parameters by number: " + "; ".join(
                    f"{k} {n}" for k, n in enumerate(names, 1)))


def _correlation(page: Page, cal: Any) -> None:
    page.h2("Correlation of the estimates")
    c = cal.correlation
    names = list(c.index)
    rows, styles = [], []
    for a in names:
        vals = [float(c.loc[a, b]) for b in names]
        rows.append([a] + vals)
        styles.append([""] + [_shade(v) for v in vals])
    page.table(["parameter (-)"] + names, rows, text_columns=(0,),
               cls="corr", cell_styles=styles)
    high = [(a, b, float(c.loc[a, b])) for i, a in enumerate(names)
            for b in names[i + 1:] if abs(c.loc[a, b]) > HIGH_CORRELATION]
    if high:
        page.p("Highly correlated pairs (|r| > 0.95): the data hardly tell "
               "them apart: " + "; ".join(f"{a} and {b} ({r:+.3f})"
                                          for a, b, r in high), "warning")


def _identifiability(page: Page, cal: Any) -> None:
    page.h2("Identifiability")
    sv = np.asarray(cal.singular_values, dtype=float)
    if len(sv):
        page.figure("Singular values of the weighted sensitivities",
                    "index (-)", "singular value (-)",
                    [Series("singular value", np.arange(1, len(sv) + 1), sv,
                            "both")], logy=bool((sv > 0).all()),
                    xname="index", yname="value",
                    caption=f"Ratio of the largest to the smallest: "
                    f"{sv.max() / sv.min():.4g}" if sv.min() > 0 else
                    "A singular value of zero: a combination of "
                    "parameters the data do not resolve.")
    un = cal.unresolved
    if un is None or not len(un):
        page.raw('<p class="ok">Every parameter combination is resolved '
                 "by the data.</p>")
    else:
        page.p(f"{len(un)} parameter combination(s) the data do not "
               "resolve (the weights of each parameter in it):", "warning")
        page.table(["combination (-)"] + [str(c) for c in un.columns],
                   [[k] + list(row) for k, row in
                    enumerate(un.to_numpy(float), 1)])


def _places(part: pd.DataFrame, over: str, u: Units) -> list:
    """The series of a group: one per place (x) when drawn over time, one
    per time when drawn over x; each measurement has a name of its own."""
    by, unit = ("x", u.length) if over == "time" else ("time", u.time)
    word = "x" if by == "x" else "t"
    return [(f"{word} = {v:g}" + (f" {unit}" if unit else ""), one)
            for v, one in part.groupby(by, sort=True)]


def _fits(page: Page, cal: Any, u: Units) -> None:
    r = cal.residuals
    page.h2("Fits over the data")
    for group, part in r.groupby("group", sort=False):
        kind = str(part["kind"].iloc[0])
        dim = _output_dim(cal.deck, kind)
        over = "time" if part["time"].nunique() > 1 or \
            part["x"].nunique() <= 1 else "x"
        series = []
        for where, one in _places(part, over, u):
            one = one.sort_values(over)
            x = one[over].to_numpy(float)
            series.append(Series(f"{where} measured", x,
                                 one["measured"].to_numpy(float),
                                 "markers"))
            series.append(Series(f"{where} simulated", x,
                                 one["simulated"].to_numpy(float), "line"))
        page.figure(f"Group {group}: measured and simulated {kind}",
                    u.label("time", "T") if over == "time" else
                    u.label("distance x", "L"),
                    u.label(kind, dim) if dim is not None else
                    f"{kind} (unit not known)", series, xname=over,
                    yname=kind)


def _residuals(page: Page, cal: Any, u: Units) -> None:
    r = cal.residuals
    page.h2("Residuals")
    series = [Series(f"group {g}", p["simulated"].to_numpy(float),
                     p["weighted_residual"].to_numpy(float), "markers")
              for g, p in r.groupby("group", sort=False)]
    page.figure("Weighted residuals against the simulated values",
                "simulated value (the group's unit)",
                "weighted residual (-)", series, xname="simulated",
                yname="weighted residual",
                caption="Weighted residual: weight × (measured − "
                "simulated). A sound fit scatters evenly about zero.")
    for g, p in r.groupby("group", sort=False):
        kind = str(p["kind"].iloc[0])
        dim = _output_dim(cal.deck, kind)
        over = "time" if p["time"].nunique() > 1 else "x"
        p = p.sort_values(over)
        page.figure(f"Group {g}: residuals", u.label("time", "T")
                    if over == "time" else u.label("distance x", "L"),
                    u.label("residual", dim) if dim is not None else
                    "residual (unit not known)",
                    [Series(where, q[over].to_numpy(float),
                            q["residual"].to_numpy(float), "markers")
                     for where, q in _places(p, over, u)],
                    xname=over, yname="residual")
    st = cal.statistics
    if st is not None and len(st):
        page.h3("Statistics by group")
        page.table([f"{st.index.name or 'group'}"] + [
            f"{c} (the group's unit)" if "rmse" in str(c).lower()
            or "mean" in str(c).lower() else f"{c} (-)"
            for c in st.columns],
            [[i] + list(row) for i, row in zip(st.index, st.to_numpy())],
            text_columns=(0,))


def _history(page: Page, cal: Any) -> None:
    h = cal.history
    page.h2("Iterations")
    if not len(h):
        page.p("No iteration recorded.", "note")
        return
    it = h["iteration"].to_numpy(float)
    obj = h["objective"].to_numpy(float)
    page.figure("Objective function", "iteration (-)",
                "objective (sum of squared weighted residuals, -)",
                [Series("objective", it, obj, "both")],
                logy=bool((obj > 0).all()), xname="iteration",
                yname="objective")
    lam = h["lambda"].to_numpy(float)
    if np.isfinite(lam).any():
        page.figure("Marquardt lambda", "iteration (-)", "lambda (-)",
                    [Series("lambda", it, lam, "both")],
                    logy=bool((lam[np.isfinite(lam)] > 0).all()),
                    xname="iteration", yname="lambda")
    page.table(["iteration (-)", "objective (-)", "lambda (-)",
                "runs (-)"], h[["iteration", "objective", "lambda",
                                "runs"]].to_numpy().tolist())
