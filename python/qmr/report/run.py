"""The report of a run (or of a chain of runs): what was modelled, with
which values and units, the warnings of the deck, and the results: the
observation time series or breakthrough curves, the profiles (drawdown
for a pumping test), the boundary fluxes and the mass balance of every
step with its relative imbalance.

A report is made from :class:`qmr.Result` objects, from the folder of a
finished run (its decks, outputs and kept standard error), or from decks
run for it with ``--csv`` (:func:`report_decks`).
"""

from __future__ import annotations

import shutil
import warnings
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, List, Optional, Sequence, Union

import numpy as np
import pandas as pd

from .. import io
from ..deck import Deck
from ..deck.schema import NO_FLUX_VARIANTS
from ..runner import (DECK_NAME, Diagnostic, Result, RunError, _diagnostics,
                      _local, run_chain, stderr_path)
from ..units import Units, UnitsLike
from .modelled import (_boundary_tables, _media_table, _warnings,
                       options_in_words)
from .page import Page, Series, esc

__all__ = ["RunData", "run_report", "report_decks", "run_decks",
           "write_run_report", "read_folder",
           "options_in_words", "relative_imbalance"]

PathLike = Union[str, Path]


@dataclass
class RunData:
    """One run of a report: its deck, where it ran, its outputs and what
    it wrote on standard error."""

    deck: Deck
    folder: Path
    name: str
    stderr: str = ""
    diagnostics: List[Diagnostic] = field(default_factory=list)
    failed: Optional[str] = None

    @property
    def kind(self) -> str:
        return "flow" if self.deck.imode == 1 else "transport"

    @property
    def graphic(self) -> Optional[Path]:
        return _local(self.deck.graphic, self.folder)


def _from_result(r: Result, name: str = "") -> RunData:
    return RunData(r.deck, Path(r.folder), name or DECK_NAME, r.stderr,
                   _diagnostics(r.stderr, r.deck))


def _kept_stderr(deck: Deck, folder: Path) -> str:
    g = _local(deck.graphic, folder)
    p = stderr_path(g) if g is not None else None
    if p is not None and p.is_file():
        return p.read_bytes().decode("utf-8", "replace")
    return ""


def read_folder(folder: PathLike) -> List[RunData]:
    """The runs of a finished run's folder: each deck there (``deck*.inp``
    in name order, other ``*.inp`` files, then VELDA.INP unless it is one
    of them) whose graphic file is there, with the standard error kept
    beside it. Raises FileNotFoundError when there is none."""
    folder = Path(folder)
    files = sorted(folder.glob("deck*.inp")) + sorted(
        p for p in folder.glob("*.inp") if not p.name.startswith("deck"))
    velda = [p for p in folder.iterdir() if p.name.upper() == DECK_NAME]
    runs: List[RunData] = []
    texts = []
    for p in files + velda:
        try:
            deck = Deck.read(p)
        except (OSError, ValueError):
            continue
        text = deck.to_bytes() if p not in velda else None
        if p in velda and any(deck.to_bytes() == t for t in texts):
            continue
        texts.append(text)
        g = _local(deck.graphic, folder)
        if g is None or not g.is_file():
            continue
        err = _kept_stderr(deck, folder)
        runs.append(RunData(deck, folder, p.name, err,
                            _diagnostics(err, deck, p.name)))
    if not runs:
        raise FileNotFoundError(
            f"{folder}: no deck whose graphic file is there (a finished "
            f"run's folder holds its deck, VELDA.INP or deck*.inp)")
    return runs


def report_decks(decks: Sequence[PathLike], folder: PathLike,
                 out: Optional[PathLike] = None, units: UnitsLike = None,
                 exe: Optional[PathLike] = None) -> Path:
    """Runs the decks (a chain: in turn, in one folder) with ``--csv`` in
    `folder`, each deck kept there under its own name, and writes their
    report (default ``report.html`` in the folder). A run that fails is
    reported with its failure."""
    runs = run_decks(decks, folder, exe)
    return write_run_report(runs, out or Path(folder) / "report.html",
                            units)


def run_decks(decks: Sequence[PathLike], folder: PathLike,
              exe: Optional[PathLike] = None) -> List[RunData]:
    """Runs the decks as :func:`report_decks` does; the runs that wrote a
    graphic file, the last one's ``failed`` set when it failed. Raises
    RunError when none did."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    objs = []
    for d in decks:
        src = Path(d)
        deck = Deck.read(src)
        objs.append(deck)
        dst = folder / src.name
        if src.resolve() != dst.resolve():
            shutil.copyfile(src, dst)
    failed = None
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        try:
            run_chain(objs, folder, exe, args=["--csv"])
        except RunError as e:
            failed = str(e)
    runs = []
    for d, deck in zip(decks, objs):
        g = _local(deck.graphic, folder)
        if g is None or not g.is_file():
            break
        err = _kept_stderr(deck, folder)
        runs.append(RunData(deck, folder, Path(d).name, err,
                            _diagnostics(err, deck, DECK_NAME)))
    if failed and runs:
        runs[-1].failed = failed
    if not runs:
        raise RunError(1, None, failed or "no output", folder=folder)
    return runs


def run_report(source: Any, out: Optional[PathLike] = None,
               units: UnitsLike = None) -> Path:
    """The report of a run: `source` is a :class:`qmr.Result`, the
    results of a chain (a list), or the folder of a finished run. Written
    to `out` (default ``report.html`` in the run's folder); `units`
    replace the decks' own."""
    if isinstance(source, Result):
        runs = [_from_result(source)]
    elif isinstance(source, (list, tuple)) and source and all(
            isinstance(r, Result) for r in source):
        runs = [_from_result(r, f"deck {k}") for k, r in
                enumerate(source, 1)]
    else:
        runs = read_folder(source)
    return write_run_report(runs, out or runs[0].folder / "report.html",
                            units)


def write_run_report(runs: Sequence[RunData], out: PathLike,
                     units: UnitsLike = None) -> Path:
    """Writes the report of `runs` to `out`."""
    first = runs[0].deck
    title = (first.title or "").strip() or "qmr run"
    what = " then ".join(r.kind for r in runs)
    page = Page(f"qmr report: {title}",
                f"{'Chain of runs' if len(runs) > 1 else 'Run'}: {what}; "
                f"folder {runs[0].folder}")
    for k, r in enumerate(runs, 1):
        u = Units.parse(units) if units is not None and Units.parse(units) \
            else r.deck.units
        prefix = f"Run {k} ({r.name}): " if len(runs) > 1 else ""
        _run_sections(page, r, u, prefix)
    return page.write(out)


# ---------------------------------------------------------------------------
# Results
# ---------------------------------------------------------------------------

def relative_imbalance(balance: pd.DataFrame) -> pd.Series:
    """The imbalance of every step divided by the sum of the magnitudes of
    the balance's terms (entering terms and storage increase); NaN where
    every term is zero."""
    terms = [c for c in balance.columns if c not in ("time", "imbalance")]
    scale = balance[terms].abs().sum(axis=1)
    return (balance["imbalance"] / scale.where(scale > 0)).rename(
        "relative imbalance")


@dataclass
class _Outputs:
    obs: Optional[pd.DataFrame] = None
    prof: Optional[pd.DataFrame] = None
    never: List[int] = field(default_factory=list)
    flux: Optional[pd.DataFrame] = None
    accumulated: Optional[pd.DataFrame] = None
    balance: Optional[pd.DataFrame] = None
    precision: str = ""
    notes: List[str] = field(default_factory=list)


def _read_outputs(r: RunData, u: Units) -> _Outputs:
    out = _Outputs()
    g_path = r.graphic
    label = {"units": u, "kind": r.kind}
    csv = io.read_csv_outputs(g_path, **label) if g_path is not None \
        else {}
    g = None
    if g_path is not None and g_path.is_file():
        g = io.read_graphic(g_path, warn=False, **label)
        out.notes += g.warnings
        out.never = list(g.never_stored)
    if "obs" in csv:
        out.obs, out.precision = csv["obs"], "full precision (CSV files)"
    elif g is not None:
        out.obs, out.precision = g.observations, \
            "four digits (graphic file; run with --csv for every digit)"
    if "prof" in csv:
        out.prof = csv["prof"]
    elif g is not None:
        out.prof = g.profiles
    if "flux" in csv:
        f = csv["flux"]
        out.flux, out.accumulated = f["rate"], f["accumulated"]
    elif r.deck.flux_file is not None and r.kind == "flow" and \
            (r.deck.variant or "").strip() not in NO_FLUX_VARIANTS:
        p = _local(r.deck.flux_file, r.folder)
        if p is not None and p.is_file():
            ff = io.read_flux(p, warn=False, **label)
            out.flux = ff.rates
            out.accumulated = ff.accumulated if len(ff.accumulated) \
                else None
    if "balance" in csv:
        out.balance = csv["balance"].set_index("time")
    elif r.kind == "flow":
        lst = _local(r.deck.listing, r.folder)
        if lst is not None and lst.is_file():
            listing = io.read_listing(lst)
            if len(listing.balance):
                b = listing.balance.join(listing.steps["time"])
                out.balance = b.set_index("time")
    return out


def _initial(d: Deck, folder: Path) -> Optional[pd.Series]:
    """Initial value by node, when the deck gives it (or its restart file
    is there)."""
    if d.restart_read == 1:
        p = _local(d.restart_in, folder)
        if p is None or not p.is_file():
            return None
        try:
            return io.read_restart(p)["value"]
        except (OSError, ValueError):
            return None
    nodes = np.arange(1, d.elements + 2)
    s = pd.Series(float(d.initial_value), index=nodes)
    for iv in d.initial_values:
        s[iv.node] = iv.value
    return s


def _written(name: Optional[str], folder: Path) -> bool:
    p = _local(name, folder)
    return p is not None and p.is_file()


def _pumping(d: Deck) -> bool:
    return d.imode == 1 and bool(d.radial) and any(
        f.rate < 0 for f in d.prescribed_fluxes)


def _run_sections(page: Page, r: RunData, u: Units, prefix: str) -> None:
    d = r.deck
    flow = d.imode == 1
    outs = _read_outputs(r, u)
    coords = pd.Series(outs.prof.index.to_numpy(dtype=float),
                       index=outs.prof.attrs.get("node", [])) \
        if outs.prof is not None and len(outs.prof) else pd.Series(
            dtype=float)
    vd = "L" if flow else "C"
    pumping = _pumping(d)
    page.h2(f"{prefix}The run")
    steady = d.steady_state == 1
    times = outs.obs.index.to_numpy(dtype=float) if outs.obs is not None \
        else np.zeros(0)
    page.facts([
        ("title", (d.title or "").strip()),
        ("run type", ("flow (heads)" if flow else
                      "transport (concentrations)")
         + (", steady state" if steady else ", transient")
         + (", radial" if d.radial else "")
         + (", pumping test" if pumping else "")),
        ("deck", r.name),
        ("units", str(u) if u else "not declared (the deck's own units: "
         "labels say length, time and concentration)"),
        ("outputs", f"listing {d.listing}"
         + ("" if _written(d.listing, r.folder) else " (not written)")
         + f", graphic file {d.graphic}"
         + (f", flux file {d.flux_file}" if d.flux_file else "")
         + f"; values at {outs.precision}"),
        ("mesh", f"{d.elements} elements, {d.elements + 1} nodes"
         + (f", x from {coords.min():g} to {coords.max():g} "
            f"{u.words('L')}" if len(coords) else "")),
        ("times", "steady state" if steady else
         f"{len(times)} steps from {d.initial_time:g} to "
         f"{times[-1] if len(times) else float('nan'):g} {u.words('T')}"),
        ("status", r.failed or "completed"),
    ])
    page.h3("Options")
    page.raw("<ul>" + "".join(f"<li>{esc(s)}</li>"
                              for s in options_in_words(d, u)) + "</ul>")
    page.h3("Media")
    _media_table(page, d, u)
    _boundary_tables(page, d, u, coords)
    page.h3("Warnings")
    _warnings(page, r)
    for n in outs.notes:
        page.p(n, "warning")
    if len(coords) > 1:
        x = coords.to_numpy(dtype=float)
        dx = np.diff(x)
        page.h3("Mesh")
        page.p(f"Node spacing from {dx.min():.4g} to {dx.max():.4g} "
               f"{u.words('L')} (mean {dx.mean():.4g}).", "note")
        page.figure("Node spacing", u.label("distance x", "L"),
                    u.label("node spacing", "L"),
                    [Series("element length", (x[1:] + x[:-1]) / 2, dx,
                            "both")], logx=bool(d.radial),
                    logy=bool(d.radial) or d.mesh_code == 3,
                    xname="x", yname="length")
    if len(times) > 1 and not steady:
        steps = np.diff(np.concatenate([[d.initial_time], times]))
        page.figure("Time-step lengths", u.label("time", "T"),
                    u.label("step length", "T"),
                    [Series("step length", times, steps, "both")],
                    logx=bool(d.time_generation and d.steps_per_decade > 0),
                    logy=bool(d.time_generation and d.steps_per_decade > 0),
                    xname="t", yname="Δt")
    _results(page, r, u, outs, coords, prefix, pumping, vd)


def _results(page: Page, r: RunData, u: Units, outs: _Outputs,
             coords: pd.Series, prefix: str, pumping: bool, vd: str
             ) -> None:
    d = r.deck
    flow = d.imode == 1
    q = "head" if flow else "concentration"
    initial = _initial(d, r.folder) if pumping else None
    draw = pumping and initial is not None
    yq = "drawdown" if draw else q
    ylabel = u.label(yq, vd)
    logt = bool(d.time_generation and d.steps_per_decade > 0) or pumping
    page.h2(f"{prefix}Results")
    obs = outs.obs
    if obs is not None and len(obs.columns) and len(obs):
        t = obs.index.to_numpy(dtype=float)
        series = []
        xs = obs.attrs.get("x", [])
        for k, node in enumerate(obs.columns):
            v = obs.iloc[:, k].to_numpy(dtype=float)
            if draw:
                v = float(initial.get(node, np.nan)) - v
            x = xs[k] if k < len(xs) else np.nan
            name = f"node {node}, x = {x:.4g} {u.words('L')}" \
                if np.isfinite(x) else f"node {node}"
            series.append(Series(name, t, v, "both"))
        title = ("Breakthrough curves: concentration at the observation "
                 "nodes" if not flow else
                 "Drawdown at the observation nodes" if draw else
                 "Heads at the observation nodes")
        page.figure(title, u.label("time", "T"), ylabel, series,
                    logx=logt and bool((t > 0).all()), xname="t",
                    yname=yq,
                    caption="Drawdown: initial head minus head."
                    if draw else "")
    prof = outs.prof
    if prof is not None and len(prof):
        x = prof.index.to_numpy(dtype=float)
        nodes = prof.attrs.get("node", [])
        times = prof.attrs.get("time", [])
        series = []
        for k, step in enumerate(prof.columns):
            if k in outs.never:
                continue
            v = prof.iloc[:, k].to_numpy(dtype=float)
            if draw:
                v = initial.reindex(nodes).to_numpy(dtype=float) - v
            tk = times[k] if k < len(times) else np.nan
            name = f"step {step}, t = {tk:.4g} {u.words('T')}" \
                if np.isfinite(tk) else f"step {step}"
            series.append(Series(name, x, v, "both"))
        if outs.never:
            page.p(f"{len(outs.never)} profile(s) never stored by the run "
                   "are left out.", "warning")
        page.figure(("Drawdown" if draw else q.capitalize())
                    + " profiles at the stored times",
                    u.label("distance x" if not d.radial else
                            "radius r", "L"), ylabel, series,
                    logx=bool(d.radial), xname="r" if d.radial else "x",
                    yname=yq)
    _flux_figures(page, u, outs, flow, logt, bool(d.radial))
    _balance(page, u, outs, flow, logt)


def _flux_figures(page: Page, u: Units, outs: _Outputs, flow: bool,
                  logt: bool, radial: bool = False) -> None:
    solute = "" if flow else "C "
    what = "water" if flow else "solute"
    per = " (per radian)" if radial else ""
    for frame, name, dim in ((outs.flux, "rate", "L3/T"),
                             (outs.accumulated, "accumulated", "L3")):
        if frame is None or not len(frame) or not len(frame.columns):
            continue
        t = frame.index.to_numpy(dtype=float)
        xs = frame.attrs.get("x", {})
        series = []
        for k, node in enumerate(frame.columns):
            x = xs.get(node) if isinstance(xs, dict) else None
            label = f"node {node}" + (f", x = {x:.4g} {u.words('L')}"
                                      if x is not None else "")
            series.append(Series(label, t, frame.iloc[:, k].to_numpy(
                dtype=float), "both"))
        title = (f"Boundary fluxes: {what} entering at the prescribed-value "
                 f"nodes{per}" if name == "rate" else
                 f"Accumulated {what} entering at the prescribed-value "
                 "nodes")
        page.figure(title, u.label("time", "T"),
                    u.label(name, solute + dim), series,
                    logx=logt and bool((t > 0).all()), xname="t",
                    yname=name)


def _balance(page: Page, u: Units, outs: _Outputs, flow: bool,
             logt: bool) -> None:
    b = outs.balance
    if b is None or not len(b):
        page.p("No mass balance: the run wrote no balance CSV file (run it "
               "with --csv) nor listing balance.", "note")
        return
    dim = "L3" if flow else "C L3"
    what = "Water" if flow else "Solute mass"
    t = b.index.to_numpy(dtype=float)
    frame = b.reset_index()
    terms = [c for c in frame.columns if c not in ("time",)]
    page.h3(f"{what} balance of every step")
    page.figure(f"{what} balance per step (amounts over the step, "
                "entering positive)", u.label("time", "T"),
                u.label("amount over the step", dim),
                [Series(c.replace("_", " "), t, frame[c].to_numpy(
                    dtype=float), "both") for c in terms],
                logx=logt and bool((t > 0).all()), xname="t",
                yname="amount")
    rel = relative_imbalance(frame).to_numpy(dtype=float)
    mag = np.abs(rel)
    page.figure("Relative imbalance of every step",
                u.label("time", "T"),
                u.label("|imbalance| / sum of |terms|", ""),
                [Series("relative imbalance", t, np.where(mag > 0, mag,
                                                          np.nan), "both")],
                logx=logt and bool((t > 0).all()), logy=True, xname="t",
                yname="relative imbalance",
                caption="The imbalance of a step divided by the sum of the "
                "magnitudes of its terms; steps with an imbalance of zero "
                "are not drawn on the logarithmic axis.")
    worst = int(np.nanargmax(mag)) if np.isfinite(mag).any() else None
    rows = [["last step", t[-1], frame["imbalance"].iloc[-1], rel[-1]]]
    if worst is not None:
        rows.append(["largest relative", t[worst],
                     frame["imbalance"].iloc[worst], rel[worst]])
    page.table(["step", u.label("time", "T"), u.label("imbalance", dim),
                u.label("relative imbalance", "")], rows, text_columns=(0,))
