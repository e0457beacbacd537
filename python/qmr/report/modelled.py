"""What a run modelled, for its report: the options in words, the media
table with named parameters and units, the prescribed values and fluxes,
and the warnings of the deck with the records they point at."""

from __future__ import annotations

from typing import TYPE_CHECKING, List

import numpy as np
import pandas as pd

from ..deck import Deck
from ..units import Units
from .page import Page, esc

if TYPE_CHECKING:  # pragma: no cover
    from .run import RunData

__all__ = ["options_in_words"]


def _words_mesh(d: Deck) -> str:
    code = d.mesh_code
    if code in (1, 2, 4):
        return (f"graded mesh of {d.elements} elements from "
                f"{d.first_coordinate:g} to {d.last_coordinate:g} (grading "
                f"factor {d.grading:g})")
    if code == 3:
        return (f"logarithmic mesh of {d.elements} elements from "
                f"{d.first_coordinate:g} to {d.last_coordinate:g}")
    return f"{d.elements} elements, node coordinates typed in the deck"


def options_in_words(d: Deck, units: Units) -> List[str]:
    """The deck's option codes said in words, one sentence each."""
    out = [_words_mesh(d)]
    flow = d.imode == 1
    if d.radial:
        out.append("radial (axisymmetric) run: distances are radii from "
                   "the well at the first node; every flux and volume is "
                   "per radian")
    else:
        out.append("planar run along the valley")
    if d.steady_state == 1:
        out.append("steady state: one solution, no time steps")
    elif d.time_generation:
        spd = d.steps_per_decade
        how = (f"{spd} steps per factor ten of elapsed time" if spd > 0
               else "uniform steps")
        out.append(f"{d.steps} time steps generated from "
                   f"{d.initial_time:g}: first step {d.first_step:g} "
                   f"{units.words('T')}, {how}")
    else:
        out.append(f"{d.steps} time steps at times typed in the deck")
    if d.steady_state != 1:
        out.append("fully implicit in time" if d.time_scheme else
                   "first step fully implicit, later steps centred in time")
    if flow and d.water_table:
        out.append(f"water-table (unconfined) aquifer: at most "
                   f"{d.max_iterations} iterations per step, tolerance "
                   f"{d.tolerance:g}, relaxation {d.relaxation:g}")
    elif flow:
        out.append("confined aquifer")
    out.append({0: "a medium number for every element",
                1: "media by zones of elements",
                2: "properties interpolated linearly between the nodes "
                   "where each medium's values hold"}.get(
        d.property_input, "a medium number for every element"))
    if d.restart_read == 1:
        out.append(f"initial values read from the restart file "
                   f"{d.restart_in}")
    else:
        q = "head" if flow else "concentration"
        n = len(d.initial_values)
        out.append(f"initial {q} {d.initial_value:g} "
                   f"{units.words('L' if flow else 'C')} everywhere"
                   + (f", {n} node(s) given their own" if n else ""))
    if d.restart_write == 1:
        out.append(f"final values written to the restart file "
                   f"{d.restart_out}")
    vc = d.velocity_code
    if flow and vc > 0:
        out.append(f"velocity file {d.velocity_file} written: "
                   + ("one block at the last step" if vc == 1 else
                      "a block at every step"))
    elif not flow and vc > 0:
        out.append(f"velocities read from {d.velocity_file}: "
                   + ("one block" if vc == 1 else "a block before every "
                      "step"))
    elif not flow:
        out.append(f"uniform Darcy velocity {d.default_velocity:g} "
                   f"{units.words('L/T')}, saturated thickness "
                   f"{d.default_thickness:g} {units.words('L')}")
    if flow and d.steady_state != 1:
        out.append(f"step reports in the listing every {d.print_interval} "
                   f"step(s)")
    return out


def _media_table(page: Page, d: Deck, u: Units) -> None:
    rec = type(d)._lists()["media"]
    fields = [f for f in rec.fields if not f.ignored]
    heads = ["medium"] + [u.label(f.name.replace("_", " "), f.unit)
                          for f in fields]
    rows = [[k] + [getattr(m, f.name) for f in fields]
            for k, m in enumerate(d.media, 1)]
    page.table(heads, rows)
    page.raw("<p class=\"note\">" + "; ".join(
        f"<b>{esc(f.name.replace('_', ' '))}</b>: {esc(f.meaning)}"
        for f in fields) + "</p>")
    if d.property_input == 0 and len(d.medium_numbers):
        nums = np.asarray(list(d.medium_numbers), dtype=int)
        counts = pd.Series(nums).value_counts().sort_index()
        page.p("Elements per medium: " + ", ".join(
            f"medium {m}: {c}" for m, c in counts.items()), "note")
    elif len(getattr(d, "zone_starts", [])):
        what = "first element" if d.property_input == 1 else "node"
        page.p(f"Each medium's {what}: " + ", ".join(
            f"medium {k}: {z}" for k, z in enumerate(d.zone_starts, 1)),
            "note")


def _boundary_tables(page: Page, d: Deck, u: Units, coords: pd.Series
                     ) -> None:
    flow = d.imode == 1
    vd = "L" if flow else "C"
    q = "head" if flow else "concentration"
    if len(d.prescribed_values):
        page.h3("Prescribed values")
        page.table(["node", u.label("x", "L"), u.label(q, vd)],
                   [[p.node, coords.get(p.node, np.nan), p.value]
                    for p in d.prescribed_values])
    if len(d.prescribed_fluxes):
        page.h3("Prescribed fluxes")
        if flow:
            page.table(["node", u.label("x", "L"),
                        u.label("rate into the aquifer", "L3/T")],
                       [[p.node, coords.get(p.node, np.nan), p.rate]
                        for p in d.prescribed_fluxes])
        else:
            page.table(["node", u.label("x", "L"),
                        u.label("solute entering", "C L3/T"),
                        u.label("fluid leaving", "L3/T")],
                       [[p.node, coords.get(p.node, np.nan), p.solute_flux,
                         p.fluid_flux] for p in d.prescribed_fluxes])
    if len(d.initial_values):
        page.h3("Initial values of single nodes")
        page.table(["node", u.label(q, vd)],
                   [[p.node, p.value] for p in d.initial_values])


def _warnings(page: Page, r: "RunData") -> None:
    warns = [g for g in r.diagnostics if g.warning]
    fails = [g for g in r.diagnostics if not g.warning]
    if r.failed or fails:
        for g in fails:
            page.raw(f'<p class="error">{esc(g.line)}</p>')
        if r.failed and not fails:
            page.raw(f'<p class="error">{esc(r.failed)}</p>')
    if not warns:
        page.raw('<p class="ok">The program wrote no warning.</p>')
        return
    rows = []
    for g in warns:
        cols = "" if not g.columns else (f"{g.columns[0]}-{g.columns[1]}"
                                         if g.columns[1] != g.columns[0]
                                         else str(g.columns[0]))
        rows.append([g.file or "", g.record if g.record else "", cols,
                     g.section or "", f"deck.{g.where}" if g.where else "",
                     g.message])
    page.p(f"{len(warns)} warning(s) on standard error: the deck reads but "
           "is most likely mistyped where they point.", "warning")
    page.table(["file", "record", "columns", "section", "value in Python",
                "warning"], rows, text_columns=(0, 3, 4, 5))
