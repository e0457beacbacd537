"""The input deck of qmr, described once.

Every record the program reads from its main input is listed here, in the
order the program reads it, with its fields (columns, type, the deck's code
name, the name the Python objects use, unit and meaning) and the condition
under which it is present. Reading, writing and checking decks
(:mod:`qmr.deck`) and the field tables of the documentation
(``docs/deck-fields.md``, made by :func:`markdown`) all come from this
description.

Conditions and counts are Python expressions over the values read before
them, by their code names (``ne``, ``nmat``, ``ioread``, ...), and over the
derived values of :data:`DERIVED` (``imode``, ``iflux``, ``np``).
"""

from __future__ import annotations

import functools
from dataclasses import dataclass
from typing import Any, Iterator, Mapping, Optional, Tuple

__all__ = [
    "Field",
    "Record",
    "Section",
    "SECTIONS",
    "DERIVED",
    "NO_FLUX_VARIANTS",
    "records",
    "evaluate",
    "markdown",
]

# Deck variant codes (columns 3-4 of the first record) that mean "no flux
# file": the flux-file name record is then absent.
NO_FLUX_VARIANTS = ("05", "OW", "AN")


@dataclass(frozen=True)
class Field:
    """One field of a record.

    ``kind`` is ``"I"`` (integer), ``"F"`` (floating, read as F10.0: a
    number without a decimal point is a whole number) or ``"A"`` (text).
    ``ignored`` fields are read by the program (so they must be readable)
    but their value is never used. ``derived`` names the list whose length
    the field counts, with an offset, and the condition under which that
    list decides it (otherwise the value is kept as given).
    """

    code: str
    name: str
    kind: str
    width: int
    unit: str = ""
    meaning: str = ""
    ignored: bool = False
    derived: Optional[Tuple[str, int, str]] = None

    @property
    def default(self) -> Any:
        """Value of a blank field."""
        return "" if self.kind == "A" else 0 if self.kind == "I" else 0.0


@dataclass(frozen=True)
class Record:
    """A record, or a run of records of one form.

    ``shape`` is ``"single"`` (one record), ``"repeat"`` (``count`` records
    of the same fields, one item each, kept in the list ``attr`` of items of
    class ``item``) or ``"list"`` (``count`` values of the one field in
    ``fields``, ``per_record`` to a record, kept in the list ``attr``, after
    the scalar fields of ``leading``). A list whose count is zero still
    takes one record when ``empty_takes_record`` is set.
    """

    key: str
    title: str
    fields: Tuple[Field, ...]
    when: str = "True"
    shape: str = "single"
    count: Optional[str] = None
    per_record: int = 1
    attr: Optional[str] = None
    item: Optional[str] = None
    leading: Tuple[Field, ...] = ()
    empty_takes_record: bool = False
    note: str = ""

    def columns(self) -> Iterator[Tuple[Field, int, int]]:
        """The fields of one record with their first and last columns."""
        col = 1
        if self.shape == "list":
            flds = list(self.leading)
            flds += [self.fields[0]] * (self.per_record - len(self.leading))
        else:
            flds = list(self.fields)
        for f in flds:
            yield f, col, col + f.width - 1
            col += f.width


@dataclass(frozen=True)
class Section:
    """A section of the deck as the guide names it."""

    key: str
    title: str
    records: Tuple[Record, ...]


# Values derived from those read, usable in conditions and counts.
DERIVED: Mapping[str, str] = {
    "imode": "1 if runtype == 'F' else 2 if runtype == 'T' else 0",
    "iflux": "0 if variant in NO_FLUX_VARIANTS else 1",
    "np": "ne + 1",
}

L, T, C = "L", "T", "C"


def _I(code: str, name: str, meaning: str, unit: str = "", **kw: Any) -> Field:
    return Field(code, name, "I", 5, unit, meaning, **kw)


def _F(code: str, name: str, meaning: str, unit: str = "", **kw: Any) -> Field:
    return Field(code, name, "F", 10, unit, meaning, **kw)


def _A(code: str, name: str, meaning: str, width: int = 200) -> Field:
    return Field(code, name, "A", width, "", meaning)


def _note(code: str, name: str, what: str) -> Record:
    return Record(code, what, (_A(code, name, "read and ignored (a note)"),))


_JOB = Section("job", "Job records", (
    Record("job", "run-type record", (
        _A("runtype", "run_type",
           "F = flow run, T = transport run", 1),
        _A("column2", "column2", "not used", 1),
        _A("variant", "variant",
           "deck variant code: 05, OW or AN = no flux file; anything "
           "else (blanks included) = a flux file, named by record 4", 2),
    )),
    Record("outfil", "listing name",
           (_A("outfil", "listing", "name of the listing"),)),
    Record("grafil", "graphic file name",
           (_A("grafil", "graphic", "name of the graphic file"),)),
    Record("flxfil", "flux file name",
           (_A("flxfil", "flux_file", "name of the flux file"),),
           when="iflux == 1"),
    _note("title", "title", "title record"),
))

_COUNTS = Section("control", "Counts and option codes", (
    Record("counts", "counts record", (
        _I("ne", "elements", "number of elements (nodes: one more)",
           derived=("coordinates", -1, "imshgn not in (1, 2, 3, 4)")),
        _I("nts", "steps", "number of time steps",
           derived=("times", 0, "isstat != 1 and itsgn == 0")),
        _I("nmat", "media_count", "number of media (material layers)",
           derived=("media", 0, "True")),
        _I("nbt", "prescribed_value_count",
           "number of prescribed-value nodes",
           derived=("prescribed_values", 0, "True")),
        _I("ndf", "prescribed_flux_count", "number of prescribed-flux nodes",
           derived=("prescribed_fluxes", 0, "True")),
        _I("nonu", "initial_value_count",
           "number of non-uniform initial values",
           derived=("initial_values", 0, "True")),
        _I("nobs", "observation_count", "number of observation nodes",
           derived=("observation_nodes", 0, "True")),
        _I("ntprof", "profile_count", "number of profiles",
           derived=("profile_steps", 0, "True")),
    )),
    Record("codes", "option codes record", (
        _I("imshgn", "mesh_code",
           "mesh: 1, 2 or 4 graded, 3 logarithmic, other values "
           "coordinates typed"),
        _I("iaxsym", "radial", "0 planar, otherwise radial (per radian)"),
        _I("istep", "print_interval",
           "flow run: step reports every this many steps"),
        _I("ikall", "time_scheme",
           "0 centred from step 2 on, otherwise fully implicit"),
        _I("ioread", "restart_read",
           "1 = initial values from a restart file"),
        _I("iowrit", "restart_write", "1 = write a restart file"),
        _I("iodarc", "velocity_code",
           "velocity file: 0 or less none (transport: default velocity), "
           "1 one block, 2 a block per step"),
        _I("itsgn", "time_generation", "0 times typed, otherwise generated"),
        _I("i2dwt", "water_table",
           "0 confined, 1 water table (criteria record read)"),
        _I("isstat", "steady_state", "1 = steady state (no time steps)"),
        _I("ipcode", "property_input",
           "0 medium per element, 1 zones, 2 interpolation"),
    )),
))

_FILES = Section("files", "Restart and velocity file names", (
    Record("reafil", "restart file to read",
           (_A("reafil", "restart_in", "restart file to read"),),
           when="ioread == 1"),
    Record("reafil_note", "note after the restart file to read",
           (_A("reafil_note", "restart_in_note", "read and ignored"),),
           when="ioread == 1"),
    Record("wrifil", "restart file to write",
           (_A("wrifil", "restart_out", "restart file to write"),),
           when="iowrit == 1"),
    Record("wrifil_note", "note after the restart file to write",
           (_A("wrifil_note", "restart_out_note", "read and ignored"),),
           when="iowrit == 1"),
    Record("darfil", "velocity file",
           (_A("darfil", "velocity_file", "velocity file"),),
           when="iodarc > 0"),
    Record("darfil_note", "note after the velocity file",
           (_A("darfil_note", "velocity_note", "read and ignored"),),
           when="iodarc > 0"),
))

_MESH = Section("mesh", "Mesh", (
    Record("coordinates", "node coordinates",
           (_F("ecoord", "coordinates", "coordinate of the node", L),),
           when="imshgn not in (1, 2, 3, 4)", shape="list", count="np",
           per_record=8, attr="coordinates",
           note="one value per node, eight to a record"),
    Record("graded", "graded mesh record", (
        _F("ecord1", "first_coordinate", "coordinate of node 1", L),
        _F("ecordn", "last_coordinate", "coordinate of the last node", L),
        _F("scfact", "grading", "grading factor (1 = uniform)"),
    ), when="imshgn in (1, 2, 4)"),
    Record("logarithmic", "logarithmic mesh record", (
        _F("ecord1", "first_coordinate", "coordinate of node 1 (> 0)", L),
        _F("ecordn", "last_coordinate", "coordinate of the last node (> 0)",
           L),
    ), when="imshgn == 3", note="columns 21-25 are not read"),
))

_MEDIA = Section("media", "Material properties", (
    Record("lmat_elements", "medium number record",
           (_I("lmat", "medium_numbers", "medium number of the element"),),
           when="ipcode == 0", shape="list", count="ne", per_record=1,
           attr="medium_numbers", empty_takes_record=True,
           note="one record per element"),
    Record("lmat_zones", "zone record",
           (_I("lmat", "zone_starts",
               "first element of the medium's zone (code 1) or node where "
               "its values hold (code 2)"),),
           when="ipcode != 0", shape="list", count="nmat", per_record=1,
           attr="zone_starts", empty_takes_record=True,
           note="one record per medium"),
    Record("flow_medium", "medium record", (
        _F("eltran", "conductivity", "hydraulic conductivity", "L/T"),
        _F("elspec", "specific_storage", "specific storage", "1/L"),
        _F("elstor", "storativity",
           "storage coefficient (specific yield of a water-table aquifer)"),
        _F("elbott", "thickness",
           "aquifer thickness (0 = 1); water-table run: base elevation", L),
        _F("elqrch", "recharge", "distributed recharge", "L/T"),
        _F("elleak", "leakance",
           "aquitard leakage coefficient (conductivity / thickness of the "
           "aquitard)", "1/T"),
        _F("elhfix", "head_beyond_aquitard", "fixed head beyond the aquitard",
           L),
        _F("elwide", "width", "aquifer width (0 = 1)", L),
        _F("elqmax", "max_leakage", "maximum leakage rate (0 = no limit)",
           "L/T"),
    ), when="imode == 1", shape="repeat", count="nmat", attr="media",
        item="FlowMedium", note="one record per medium"),
    Record("transport_medium", "medium record", (
        _F("ealfal", "dispersivity", "effective longitudinal dispersivity",
           L),
        _F("edifus", "diffusion", "effective diffusion coefficient", "L2/T"),
        _F("eporos", "porosity", "effective porosity"),
        _F("eretar", "retardation", "retardation factor (0 = 1)"),
        _F("edecay", "decay", "first-order decay coefficient", "1/T"),
        _F("ecrech", "recharge_concentration",
           "concentration of the surface recharge", C),
        _F("ecleak", "aquitard_concentration",
           "concentration of the fluid in the leaky aquitard", C),
        _F("elwide", "width", "aquifer width (0 = 1)", L),
        _F("eldu", "unused", "read and not used", ignored=True),
    ), when="imode == 2", shape="repeat", count="nmat", attr="media",
        item="TransportMedium", note="one record per medium"),
))

_TIME = Section("time", "Time steps", (
    Record("manual_times", "time records",
           (_F("timvec", "times", "total time at the end of the step", T),),
           when="isstat != 1 and itsgn == 0", shape="list", count="nts",
           per_record=8, attr="times",
           leading=(_F("tima", "initial_time", "initial time", T),),
           note="the initial time, then one time per step, eight to a "
                "record"),
    Record("generated_times", "time generation record", (
        _F("tima", "initial_time", "initial time", T),
        _F("delta1", "first_step", "first (or uniform) step length", T),
        _I("ntslog", "steps_per_decade",
           "steps per factor ten of elapsed time; 0 or less: uniform steps"),
    ), when="isstat != 1 and itsgn != 0"),
))

_PBC = Section("values", "Prescribed values", (
    Record("pbc", "prescribed-value record", (
        _I("inod", "node", "node number"),
        _I("idof", "dof", "degree of freedom (not used)"),
        _F("value", "value", "head (L) or concentration (C)"),
    ), shape="repeat", count="nbt", attr="prescribed_values",
        item="PrescribedValue", note="one record per node"),
))

_FLUX = Section("fluxes", "Prescribed fluxes", (
    Record("pbflow", "prescribed-flux record", (
        _I("inod", "node", "node number"),
        _I("idof", "dof", "degree of freedom (not used, echoed)"),
        _F("value", "rate", "volume rate into the aquifer (per radian in a "
           "radial run); negative = pumping", "L3/T"),
    ), when="imode == 1", shape="repeat", count="ndf",
        attr="prescribed_fluxes", item="FlowFlux",
        note="one record per flux"),
    Record("pbtran", "prescribed-flux record", (
        _I("inod", "node", "node number"),
        _I("idof", "dof", "degree of freedom (not used, echoed)"),
        _F("valuqc", "solute_flux", "solute entering at the node", "C L3/T"),
        _F("valuqw", "fluid_flux",
           "fluid flux; positive = water leaving at the node", "L3/T"),
    ), when="imode == 2", shape="repeat", count="ndf",
        attr="prescribed_fluxes", item="TransportFlux",
        note="one record per flux"),
))

_INIT = Section("initial", "Initial conditions", (
    Record("hdeflt", "default initial value record",
           (_F("hdeflt", "initial_value",
               "initial value of every node: head (L) or concentration "
               "(C)"),),
           when="ioread != 1"),
    Record("nonu", "non-uniform initial value record", (
        _I("npnonu", "node", "node number"),
        _F("vlnonu", "value", "initial value of the node"),
    ), shape="repeat", count="nonu", attr="initial_values",
        item="InitialValue", note="one record per value"),
))

_CRIT = Section("criteria", "Iteration criteria", (
    Record("nonlin", "iteration criteria record", (
        _I("nitmax", "max_iterations", "maximum iterations per step"),
        _F("toler", "tolerance", "convergence tolerance"),
        _F("relax", "relaxation", "relaxation factor (below 0.001 = 1)"),
    ), when="i2dwt == 1"),
))

_VELO = Section("velocity", "Default velocity of a transport run", (
    Record("rdarcy", "default velocity record", (
        _F("edarcy", "default_velocity", "Darcy velocity", "L/T"),
        _F("ethick", "default_thickness", "saturated aquifer thickness", L),
    ), when="imode == 2 and iodarc <= 0"),
))

_OBS = Section("observation", "Observation nodes and profile steps", (
    Record("ldobs", "observation node record",
           (_I("ldobs", "observation_nodes", "observation node number"),),
           shape="list", count="nobs", attr="observation_nodes",
           note="one record per node"),
    Record("ltprof", "profile step record",
           (_I("ltprof", "profile_steps", "time-step number of a profile"),),
           shape="list", count="ntprof", attr="profile_steps",
           note="one record per profile, in increasing order"),
))

SECTIONS: Tuple[Section, ...] = (
    _JOB, _COUNTS, _FILES, _MESH, _MEDIA, _TIME, _PBC, _FLUX, _INIT, _CRIT,
    _VELO, _OBS)


def records() -> Iterator[Tuple[Section, Record]]:
    """Every record of the description, in deck order, with its section."""
    for s in SECTIONS:
        for r in s.records:
            yield s, r


@functools.lru_cache(maxsize=None)
def _compiled(expr: str) -> Any:
    return compile(expr, "<deck condition>", "eval")


def evaluate(expr: str, values: Mapping[str, Any]) -> Any:
    """Value of a condition or count over the values read so far."""
    scope = dict(values)
    scope["NO_FLUX_VARIANTS"] = NO_FLUX_VARIANTS
    for name, e in DERIVED.items():
        try:
            scope[name] = eval(_compiled(e), {"__builtins__": {}}, scope)
        except NameError:
            pass
    return eval(_compiled(expr), {"__builtins__": {}}, scope)


_KINDS = {"I": "integer", "F": "real", "A": "text"}


def _present(r: Record) -> str:
    return "always" if r.when == "True" else f"`{r.when}`"


def markdown() -> str:
    """The field tables of the deck, in Markdown (docs/deck-fields.md)."""
    out = [
        "# Deck fields",
        "",
        "Every record of the input deck in the order `qmr` reads it, made "
        "from the description in `python/qmr/deck/schema.py` by "
        "`scripts/deck-fields.sh` (do not edit by hand; a test checks that "
        "this file is up to date). Conditions and counts use the deck's "
        "code names (columns *Code*); `imode` is 1 in a flow run and 2 in "
        "a transport run, `iflux` is 0 when the variant code is 05, OW or "
        "AN, `np` = `ne` + 1. The Python objects use the names of column "
        "*Name*. See [deck.md](deck.md) for what the program does with "
        "each value.",
        "",
    ]
    for s in SECTIONS:
        out += [f"## {s.title}", ""]
        for r in s.records:
            run = ""
            if "imode == 1" in r.when:
                run = " (flow run)"
            elif "imode == 2" in r.when:
                run = " (transport run)"
            out.append(f"### {r.title}{run}")
            out.append("")
            out.append(f"Present: {_present(r)}.")
            if r.shape == "repeat":
                out.append(f"Records: `{r.count}`, {r.note}; Python: "
                           f"`deck.{r.attr}[k]` ({r.item}), from 1.")
            elif r.shape == "list":
                empty = (" (one record even when the count is 0)"
                         if r.empty_takes_record else "")
                out.append(f"Values: `{r.count}`{empty}, {r.note}; Python: "
                           f"`deck.{r.attr}[k]`, from 1.")
            elif r.note:
                out.append(r.note[0].upper() + r.note[1:] + ".")
            out += ["", "| Columns | Type | Code | Name | Unit | Meaning |",
                    "|---|---|---|---|---|---|"]
            for f, a, b in r.columns():
                cols = f"{a}–{b}" if a != b else f"{a}"
                unit = f.unit or "–" if f.kind != "A" else ""
                meaning = f.meaning
                if f.derived:
                    attr, off, cond = f.derived
                    how = f"the length of `{attr}`" + (
                        f" {off:+d}" if off else "")
                    if cond != "True":
                        how += f" when `{cond}`"
                    meaning += f" (Python: {how})"
                out.append(f"| {cols} | {_KINDS[f.kind]} | `{f.code}` | "
                           f"`{f.name}` | {unit} | {meaning} |")
            out.append("")
    return "\n".join(out)
