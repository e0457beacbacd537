"""Readers of the files qmr writes: graphic, flux, restart and velocity files,
the CSV files of ``--csv`` and the per-step tables of the listing.

Every reader reads its file once into memory and cuts it into fields with
numpy (see :mod:`qmr._fields`): a graphic file of 99,999 steps and 99,999
nodes with 40 columns each is read in well under two seconds.

Tables come back as pandas DataFrames:

- observations: indexed by time, one column per observation node (the node
  number), the nodes' coordinates in ``attrs["x"]`` and the step numbers of
  the rows in ``attrs["step"]`` (every ``attrs`` entry is a list);
- profiles: indexed by the coordinate ``x``, one column per profile (its
  step number), the profiles' times in ``attrs["time"]`` and the node
  numbers of the rows in ``attrs["node"]``.
"""

from __future__ import annotations

import math
import re
import warnings
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Optional, Sequence, Union

import numpy as np
import pandas as pd

from qmr._fields import Lines, parse_integer, parse_value, read_floats, \
    read_integers

PathLike = Union[str, Path]

OBS_HEAD = "1.TIMESTEP   2.TIMEVAL   3.LOGTIME"
OBS_ITEM = "   OBS.("
PROF_HEAD = "    1.NODE  2.DISTANCE   3.LOGDIST"
PROF_ITEM = "  PROF.("
HISTORY_HEAD = "    1.STEP  2.TIMVALUE   3.LOGTIME"

# Rows "(I10,42(1X,E11.4))": a ten-column number, then 12-column fields,
# each a blank and an 11-column value with four digits.
NUM_W = 10
FIELD_W = 12
E_DIGITS = 4
# The most headed columns a row holds beside number, time and logarithm.
MAX_COLUMNS = 40

__all__ = [
    "OutputFileError", "GraphicFileError", "Table", "GraphicFile", "FluxFile",
    "Listing", "read_graphic", "parse_graphic", "read_flux", "parse_flux",
    "read_restart", "read_velocity", "read_csv_outputs", "csv_paths",
    "read_listing", "parse_listing",
]


class OutputFileError(ValueError):
    """A file is not the kind of qmr output asked for, or a line of it
    cannot be read. The message names the file and the line."""


class GraphicFileError(OutputFileError):
    """The text is not a graphic file, or a line of it cannot be read."""


@dataclass
class Table:
    """One table of a graphic or flux file: the heading's items, then the
    rows "(I10,42(1X,E11.4))" up to the empty line that closes it."""

    labels: list[str]  # heading items as written: node or step numbers
    keys: np.ndarray = field(default_factory=lambda: np.zeros(0, np.int64))
    x: np.ndarray = field(default_factory=lambda: np.zeros(0))
    logx: np.ndarray = field(default_factory=lambda: np.zeros(0))
    values: np.ndarray = field(default_factory=lambda: np.zeros((0, 0)))
    complete: bool = False  # the closing empty line was read
    unreadable: int = 0  # values written as asterisks, NaN or Infinity

    def __post_init__(self) -> None:
        if self.values.shape != (len(self.keys), len(self.labels)):
            self.values = np.zeros((len(self.keys), len(self.labels)))

    @property
    def numbers(self) -> list[Optional[int]]:
        """The heading's items as integers (None for asterisks)."""
        return [parse_integer(s) for s in self.labels]


def parse_heading(line: str, head: str, item: str) -> Optional[list[str]]:
    """The items of a heading line (the texts between ``item`` and ``)``),
    or None when the line is not such a heading.

    The program writes the heading's literal, one item per column, and a
    last bare item at which the line ends; with all 40 places used the line
    ends instead with the layout's closing text (an asterisk after the
    observation items, nothing after the others). A number too wide for the
    legacy three columns stands in a field just wide enough for it."""
    if not line.startswith(head):
        return None
    rest = line[len(head):].rstrip(" ")
    one = re.compile(re.escape(item) + r"( *[+-]?\d+|\*+)\)")
    labels = []
    pos = 0
    while True:
        m = one.match(rest, pos)
        if not m:
            break
        labels.append(m.group(1).strip(" "))
        pos = m.end()
    tail = rest[pos:]
    if tail == item or (len(labels) >= MAX_COLUMNS and tail in ("", "*")):
        return labels
    return None


def _row_fault(name: str, line: int, columns: str, what: str) -> None:
    raise OutputFileError(f"{name}, line {line}: {columns} {what}")


def _partial_row(text: str, nvalues: int,
                 ) -> Optional[tuple[int, np.ndarray]]:
    """The last line of a file cut while it was written: its number and the
    values it holds whole (NaN for the others), or None when the cut fell in
    the number or the line cannot be read."""
    number = parse_integer(text[:NUM_W])
    if number is None or len(text) < NUM_W:
        return None
    values = np.full(nvalues, np.nan)
    for k in range(nvalues):
        start = NUM_W + k * FIELD_W
        piece = text[start + 1:start + FIELD_W]
        if len(piece) < FIELD_W - 1:
            break
        if text[start] != " ":
            return None
        try:
            values[k] = parse_value(piece, E_DIGITS)
        except ValueError:
            return None
    return number, values


def read_rows(lines: Lines, first: int, table: Table) -> int:
    """Reads the rows of ``table`` from line index ``first`` up to the
    first blank line; returns the index of that line (or the number of
    lines when the file ends first)."""
    name = lines.name
    nvalues = 2 + len(table.labels)
    width = NUM_W + FIELD_W * nvalues
    end = lines.next_blank(first)
    table.complete = end < len(lines)
    last = end
    partial = None
    if lines.open_end and end == len(lines) and end > first:
        last = end - 1
        partial = _partial_row(lines.text(last), nvalues)
    lengths = lines.lengths[first:last]
    short = np.flatnonzero(lengths < width)
    long_rows = np.flatnonzero(lengths > width)
    for r in long_rows:
        if lines.text(first + int(r))[width:].strip(" "):
            short = np.append(short, r)
            break
    if len(short):
        r = int(short.min())
        more = lengths[r] > width
        raise OutputFileError(
            f"{name}, line {first + r + 1}: "
            f"{'more' if more else 'fewer'} values than the heading names "
            f"(expected {nvalues} after the number)")
    block = lines.block(first, last, width)
    n = len(block)

    def bad_number(r: int, text: str) -> None:
        _row_fault(name, first + r + 1, f"columns 1-{NUM_W}",
                   f"do not hold a whole number: {text!r}")

    keys = read_integers(block[:, :NUM_W], bad_number)
    fields = block[:, NUM_W:].reshape(n, nvalues, FIELD_W)
    gaps = fields[:, :, 0] != ord(" ")
    if gaps.any():
        r, k = (int(i) for i in np.argwhere(gaps)[0])
        _row_fault(name, first + r + 1,
                   f"column {NUM_W + k * FIELD_W + 1}", "should be blank")

    def bad_value(index: tuple, text: str) -> None:
        r, k = index
        start = NUM_W + k * FIELD_W
        _row_fault(name, first + r + 1,
                   f"columns {start + 2}-{start + FIELD_W}",
                   f"do not hold a number: {text!r}")

    values, table.unreadable = read_floats(fields[:, :, 1:], E_DIGITS,
                                           fault=bad_value)
    if partial is not None:
        keys = np.append(keys, partial[0])
        values = np.vstack([values, partial[1][None, :]])
        table.unreadable += int(np.sum(np.isinf(partial[1])))
    table.keys = keys
    table.x = values[:, 0]
    table.logx = values[:, 1]
    table.values = values[:, 2:]
    return end


@dataclass
class _TwoTables:
    """The common form of the graphic file and the flux file: a step table
    under an observation-style heading, then a second table."""

    first: Table
    second: Optional[Table]
    warnings: list[str]


def _parse_two_tables(lines: Lines, head2: str, kind: str,
                      wrong_head2: str, wrong_kind: str) -> _TwoTables:
    name = lines.name
    if len(lines) == 0:
        raise OutputFileError(f"{name} is empty: no observation heading")
    labels = parse_heading(lines.text(0), OBS_HEAD, OBS_ITEM)
    if labels is None:
        raise OutputFileError(
            f"{name} is not a qmr {kind}: line 1 is not the heading "
            f"\"{OBS_HEAD}   OBS.( ...\"")
    out = _TwoTables(Table(labels), None, [])

    def cut(where: str) -> _TwoTables:
        out.warnings.append(f"{name} is cut short {where}: the run did not "
                            f"finish")
        return out

    if len(lines) < 2:
        return cut("after the first heading")
    if not lines.is_blank(1):
        raise OutputFileError(f"{name}, line 2: should hold one blank")
    i = read_rows(lines, 2, out.first)
    if not out.first.complete:
        return cut(f"after {len(out.first.keys)} rows of the step table")
    i += 2  # past the two empty lines
    if i >= len(lines):
        return cut("before its second table")
    if not lines.is_blank(i - 1):
        raise OutputFileError(
            f"{name}, line {i}: expected a second empty line before the "
            f"heading of the second table")
    text = lines.text(i)
    if text.startswith(wrong_head2):
        raise OutputFileError(
            f"{name} is a {wrong_kind}, not a {kind} (line {i + 1} is the "
            f"heading \"{wrong_head2.strip()}...\")")
    item2 = PROF_ITEM
    labels = parse_heading(text, head2, item2)
    if labels is None:
        raise OutputFileError(
            f"{name}, line {i + 1}: not the heading \"{head2}{item2} ...\"")
    out.second = Table(labels)
    i += 1
    if i >= len(lines):
        return cut("after the heading of its second table")
    if not lines.is_blank(i):
        raise OutputFileError(f"{name}, line {i + 1}: should hold one blank")
    # With all 40 places used the heading's two record ends are written
    # too: two more empty lines before the one holding a blank.
    for _ in range(2):
        if i + 1 < len(lines) and lines.is_blank(i + 1) \
                and lines.lengths[i] == 0:
            i += 1
    i = read_rows(lines, i + 1, out.second)
    if not out.second.complete:
        return cut(f"after {len(out.second.keys)} rows of its second table")
    for j in range(i + 1, len(lines)):
        if not lines.is_blank(j):
            out.warnings.append(f"{name}, line {j + 1}: text after the last "
                                f"table ignored")
            break
    return out


def _node_index(numbers: Sequence[Optional[int]], labels: Sequence[str],
                name: str) -> pd.Index:
    """Column labels from a heading: the numbers, or the text as written
    where it is no number (asterisks of a legacy field too narrow)."""
    return pd.Index([n if n is not None else s
                     for n, s in zip(numbers, labels)], name=name)


@dataclass
class GraphicFile:
    """A graphic file: the observation time series and the profiles.

    ``observations``: DataFrame indexed by time (``time``), one column per
    observation node in the heading's order, labelled with its node number;
    ``attrs["x"]`` the nodes' coordinates (NaN when the profile table, which
    holds them, is missing), ``attrs["step"]`` the rows' step numbers.

    ``profiles``: DataFrame indexed by the node coordinate (``x``), one
    column per profile labelled with its step number; ``attrs["time"]`` the
    profiles' times (from the observation rows of their steps),
    ``attrs["node"]`` the rows' node numbers. A profile the run never stored
    (its step never came, or came before an earlier profile's) holds zeros
    in the file: its column is NaN here, and ``never_stored`` lists its
    position.
    """

    observations: pd.DataFrame
    profiles: pd.DataFrame
    obs: Table
    prof: Optional[Table]  # None when the file ends before the profiles
    warnings: list[str]
    never_stored: list[int]
    name: str = "graphic file"

    @property
    def unreadable(self) -> int:
        """Number of values written as asterisks, NaN or Infinity."""
        return self.obs.unreadable + (self.prof.unreadable if self.prof
                                      else 0)

    @property
    def complete(self) -> bool:
        """True when the file holds its profile table to the end."""
        return self.prof is not None and self.prof.complete

    @property
    def steady(self) -> bool:
        """True when the run has a single step (as a steady-state run
        has): its time series are single points, best shown as profiles."""
        return len(self.obs.keys) == 1

    def coordinates(self) -> pd.Series:
        """Node number -> coordinate, from the profile table."""
        if self.prof is None:
            return pd.Series([], dtype=float, name="x")
        return pd.Series(self.prof.x, index=pd.Index(self.prof.keys,
                                                     name="node"), name="x")

    def to_xarray(self, units: Optional[Sequence[str]] = None,
                  quantity: Optional[str] = None, **kwargs: Any) -> Any:
        """The graphic file as an xarray Dataset following the CF
        conventions: see :func:`qmr.cf.graphic_dataset`."""
        from qmr import cf
        return cf.graphic_dataset(self, units=units, quantity=quantity,
                                  **kwargs)

    def to_netcdf(self, path: PathLike,
                  units: Optional[Sequence[str]] = None,
                  quantity: Optional[str] = None, **kwargs: Any) -> None:
        """Writes :meth:`to_xarray` to a NetCDF file (netCDF4 format)."""
        from qmr import cf
        cf.write_netcdf(self.to_xarray(units=units, quantity=quantity,
                                       **kwargs), path)


def _never_stored(steps: np.ndarray, profile_steps: Sequence[Optional[int]],
                  ) -> list[int]:
    """Positions of the profiles the run never stored. The run stores a
    profile when its step comes while every profile before it is stored,
    so a step that never came, or one listed after a later step, blocks
    it and every profile after it."""
    pos = 0
    for k, s in enumerate(profile_steps):
        hit = np.flatnonzero(steps[pos:] == s) if s is not None else []
        if len(hit) == 0:
            return list(range(k, len(profile_steps)))
        pos += int(hit[0])
    return []


def parse_graphic(data: Union[bytes, str], name: str = "graphic file",
                  ) -> GraphicFile:
    """Reads the text of a graphic file (see :func:`read_graphic`)."""
    if isinstance(data, str):
        data = data.encode("latin-1")
    lines = Lines(data, name)
    try:
        t = _parse_two_tables(lines, PROF_HEAD, "graphic file",
                              HISTORY_HEAD, "flux file")
    except OutputFileError as e:
        raise GraphicFileError(str(e)) from None
    obs, prof = t.first, t.second
    nodes = obs.numbers
    steps = obs.keys
    never: list[int] = []
    coords = pd.Series([], dtype=float)
    if prof is not None:
        never = _never_stored(steps, prof.numbers)
        if never:
            which = ", ".join(prof.labels[k] for k in never)
            t.warnings.append(f"profile step(s) {which} never stored by the "
                              f"run (zeros in the file)")
        if prof.complete:
            coords = pd.Series(prof.x, index=prof.keys)
    x_obs = [float(coords.get(n, np.nan)) if n is not None else math.nan
             for n in nodes]
    observations = pd.DataFrame(obs.values, index=pd.Index(obs.x,
                                                           name="time"),
                                columns=_node_index(nodes, obs.labels,
                                                    "node"), copy=False)
    observations.attrs = {"x": x_obs, "step": steps.tolist()}
    if prof is None:
        profiles = pd.DataFrame(index=pd.Index([], dtype=float, name="x"),
                                columns=pd.Index([], name="step"))
        profiles.attrs = {"time": [], "node": []}
    else:
        values = prof.values.copy()
        values[:, never] = np.nan
        time_of = pd.Series(obs.x, index=steps)
        time_of = time_of[~time_of.index.duplicated()]
        times = [float(time_of.get(s, np.nan)) if s is not None
                 and k not in never else math.nan
                 for k, s in enumerate(prof.numbers)]
        profiles = pd.DataFrame(values, index=pd.Index(prof.x, name="x"),
                                columns=_node_index(prof.numbers,
                                                    prof.labels, "step"),
                                copy=False)
        profiles.attrs = {"time": times, "node": prof.keys.tolist()}
    return GraphicFile(observations, profiles, obs, prof, t.warnings, never,
                       name)


def read_graphic(path: PathLike, warn: bool = True) -> GraphicFile:
    """Reads a graphic file.

    A file cut short (a run that failed) gives what it holds, with a
    warning; the last line of a file cut while it was written keeps its
    whole values. A field of asterisks, ``NaN`` or ``Infinity`` reads as
    NaN or infinity. Raises :class:`GraphicFileError` for a file that is
    not a graphic file or a line that cannot be read. With ``warn`` the
    file's warnings are also issued as Python warnings."""
    path = Path(path)
    g = parse_graphic(path.read_bytes(), path.name)
    if warn:
        for w in g.warnings:
            warnings.warn(w, stacklevel=2)
    return g


@dataclass
class FluxFile:
    """A flux file: flux rates at the prescribed-value nodes per step and
    their accumulated volumes (the flux history, written at the end of the
    run). Both DataFrames are indexed by time, one column per node (its
    number), ``attrs["step"]`` the rows' step numbers. ``accumulated`` is
    empty when the run failed before the end."""

    rates: pd.DataFrame
    accumulated: pd.DataFrame
    warnings: list[str]
    name: str = "flux file"


def _step_frame(t: Table) -> pd.DataFrame:
    df = pd.DataFrame(t.values, index=pd.Index(t.x, name="time"),
                      columns=_node_index(t.numbers, t.labels, "node"),
                      copy=False)
    df.attrs = {"step": t.keys.tolist()}
    return df


def parse_flux(data: Union[bytes, str], name: str = "flux file") -> FluxFile:
    """Reads the text of a flux file (see :func:`read_flux`)."""
    if isinstance(data, str):
        data = data.encode("latin-1")
    t = _parse_two_tables(Lines(data, name), HISTORY_HEAD, "flux file",
                          PROF_HEAD, "graphic file")
    second = t.second if t.second is not None else Table(t.first.labels)
    return FluxFile(_step_frame(t.first), _step_frame(second), t.warnings,
                    name)


def read_flux(path: PathLike, warn: bool = True) -> FluxFile:
    """Reads a flux file: rates (volume per time, positive entering the
    aquifer) and accumulated volumes at the prescribed-value nodes."""
    path = Path(path)
    f = parse_flux(path.read_bytes(), path.name)
    if warn:
        for w in f.warnings:
            warnings.warn(w, stacklevel=2)
    return f


def _records(path: PathLike, nvalues: int, what: str) -> tuple[
        np.ndarray, np.ndarray]:
    """Records "(I5,nE15.7)" of a restart or velocity file: the numbers in
    columns 1-5 and the values. Read as the program reads them: a blank
    field is zero, a value without a point has seven decimals, surplus
    columns are ignored. Blank lines at the end are ignored."""
    lines = Lines.read(path)
    name = lines.name
    n = len(lines)
    while n > 0 and lines.is_blank(n - 1):
        n -= 1
    width = 5 + 15 * nvalues
    block = lines.block(0, n, width)

    def bad_number(r: int, text: str) -> None:
        _row_fault(name, r + 1, "columns 1-5",
                   f"do not hold an integer: {text!r}")

    def bad_value(index: tuple, text: str) -> None:
        r, k = index
        _row_fault(name, r + 1, f"columns {6 + 15 * k}-{20 + 15 * k}",
                   f"do not hold a number: {text!r}")

    numbers = read_integers(block[:, :5], bad_number)
    fields = block[:, 5:].reshape(len(block), nvalues, 15)
    values, _ = read_floats(fields, 7, blank=0.0, fault=bad_value)
    if n == 0:
        raise OutputFileError(f"{name} is empty: no {what} record")
    return numbers, values


def read_restart(path: PathLike) -> pd.DataFrame:
    """Reads a restart file: one record per node, "(I5,2E15.7)".

    Returns a DataFrame indexed by node number with the columns ``x`` (the
    node coordinate) and ``value`` (the final head or concentration)."""
    numbers, values = _records(path, 2, "restart")
    return pd.DataFrame({"x": values[:, 0], "value": values[:, 1]},
                        index=pd.Index(numbers, name="node"))


VELOCITY_COLUMNS = ("darcy", "thickness", "leakage", "recharge")


def read_velocity(path: PathLike) -> pd.DataFrame:
    """Reads a velocity file: blocks of one record per element,
    "(I5,4E15.7)", one block at the last step or one per step.

    Returns a DataFrame indexed by (``block``, ``element``), blocks numbered
    from 1 in file order, with the columns ``darcy`` (Darcy velocity ×
    width), ``thickness`` (saturated thickness), ``leakage`` (leakage rate
    per unit length) and ``recharge`` (recharge × width). A new block begins
    at each record of element 1."""
    numbers, values = _records(path, 4, "velocity")
    block = np.cumsum(numbers == 1)
    if len(block) and block[0] == 0:
        block += 1
    index = pd.MultiIndex.from_arrays([block, numbers],
                                      names=["block", "element"])
    return pd.DataFrame(values, index=index, columns=list(VELOCITY_COLUMNS))


# The listing: per-step tables.

_STEP_HEADER = re.compile(
    rb"TIME STEP NUMBER +(\S+)\r?\n.*\r?\n\r?\n"
    rb" +CURRENT TIME = (.{12})\r?\n +PREVIOUS TIME = (.{12})\r?\n"
    rb" +TIME STEP = (.{12})\r?\n +INITIAL TIME = (.{12})\r?\n"
    rb" +ELAPSED TIME = (.{12})\r?\n +THETA = (.{12})")
STEP_COLUMNS = ("time", "previous_time", "delta", "initial_time",
                "elapsed_time", "theta")
_BALANCE = re.compile(
    rb"MASS ENTERING SYSTEM FROM PRESCRIBED HEAD NODES = (.{12})\r?\n"
    rb" +MASS ENTERING SYSTEM FROM PRESCRIBED FLUX NODES = (.{12})\r?\n"
    rb" +MASS ENTERING SYSTEM FROM RECHARGE CONDITION    = (.{12})\r?\n"
    rb" +MASS ENTERING SYSTEM FROM AQUITARD LEAKAGE      = (.{12})\r?\n"
    rb" +MASS INCREASE HELD IN STORAGE                   = (.{12})\r?\n"
    rb"\r?\n +MASS OUT OF BALANCE \(MASS IN - MASS INCREASE\)   = (.{12})")
BALANCE_COLUMNS = ("prescribed_head", "prescribed_flux", "recharge",
                   "leakage", "storage", "imbalance")
_ITERATION = re.compile(
    rb"\*\*\*\*\* ITERATION +(\S+) OF MAXIMUM +(\S+) \*\*\*\*\*\r?\n"
    rb" +MAXIMUM (?:HEAD|CONCENTRATION) DIFFERENCE OF (.{12}) AT NODE +(\S+)")
_FAILURE = re.compile(rb"^ \*\*\*\*(.*)\*\*\*\*\r?$", re.MULTILINE)
_SUCCESS = b"QMR - Quenmoor Model - SUCCESSFUL TERMINATION"
FLUX_COLUMNS = ("prescribed", "amount", "rate", "accumulated")

# Nodal values "(I5,E12.5,5X,E12.5)" and flux rows "(I6,4E18.5)".
_NODE_ROW_W = 34
_FLUX_ROW_W = 78


@dataclass
class Listing:
    """The per-step tables of a listing.

    - ``kind``: "flow" or "transport" ("" when the listing does not say);
    - ``steps``: one row per step header, indexed by step number, with the
      times of the header (``time``, ``previous_time``, ``delta``,
      ``initial_time``, ``elapsed_time``) and ``theta``;
    - ``values``: heads (flow) or concentrations (transport) of every
      printed step: indexed by node number, one column per printed step
      (its number), ``attrs["x"]`` the coordinates of the rows and
      ``attrs["time"]`` the times of the columns;
    - ``fluxes``: the fluxes at the prescribed-head nodes, indexed by
      (step, node): ``prescribed`` head, ``amount`` over the step, ``rate``
      and ``accumulated`` volume;
    - ``balance``: the mass balance of every printed step, indexed by step
      (volumes over the step, per radian in a radial run);
    - ``iterations``: indexed by (step, iteration): the largest change
      ``difference``, the ``node`` where it occurred and the ``maximum``
      number of iterations;
    - ``completed``: the run reached its successful termination;
      ``failure``: the framed failure message that ends a failed run.

    Values carry the listing's five significant digits."""

    kind: str
    steps: pd.DataFrame
    values: pd.DataFrame
    fluxes: pd.DataFrame
    balance: pd.DataFrame
    iterations: pd.DataFrame
    completed: bool
    failure: Optional[str]
    name: str = "listing"


def _texts_to_floats(texts: Sequence[bytes], digits: int) -> np.ndarray:
    """Floating fields (bytes of equal width) read as read_floats does."""
    if not texts:
        return np.zeros(0)
    w = len(texts[0])
    a = np.frombuffer(b"".join(texts), dtype=np.uint8).reshape(-1, w)
    return read_floats(a, digits)[0]


def _signature(block: np.ndarray, number_w: int) -> np.ndarray:
    """Rows whose first ``number_w`` columns hold a right-justified
    non-negative integer."""
    a = block[:, :number_w]
    digit = (a - np.uint8(ord("0"))) <= 9
    return digit[:, -1] & np.all(digit | (a == ord(" ")), axis=1)


def parse_listing(data: Union[bytes, str], name: str = "listing",
                  ) -> Listing:
    """Reads the text of a listing (see :func:`read_listing`)."""
    if isinstance(data, str):
        data = data.encode("latin-1")
    lines = Lines(data, name)
    if b"  HYDRAULIC CONDUCTIVITY" in data:
        kind = "flow"
    elif b"LONGITUDINAL DISPERSIVITY" in data:
        kind = "transport"
    else:
        kind = ""
    heads = list(_STEP_HEADER.finditer(data))
    numbers = np.array([parse_integer(m.group(1).decode("latin-1")) or -1
                        for m in heads], dtype=np.int64)
    header_lines = lines.line_of([m.start() for m in heads])
    times = _texts_to_floats([g for m in heads for g in m.groups()[1:]], 5)
    steps = pd.DataFrame(times.reshape(-1, 6), columns=list(STEP_COLUMNS),
                         index=pd.Index(numbers, name="step"))

    def step_of(line_index: np.ndarray) -> np.ndarray:
        k = np.searchsorted(header_lines, line_index, side="right") - 1
        return np.where(k >= 0, numbers[np.maximum(k, 0)], -1)

    def fault(index: Any, text: str) -> None:
        raise OutputFileError(f"{name}: a table row holds {text!r}, which is "
                              f"not a number")

    # Nodal values: rows of the step tables only (the restart echo among
    # the input sections has the same layout).
    first = int(header_lines[0]) if len(heads) else len(lines)
    cand = np.flatnonzero(lines.lengths[first:] == _NODE_ROW_W) + first
    block = lines.gather(cand, _NODE_ROW_W)
    keep = _signature(block, 5) & np.all(block[:, 17:22] == ord(" "), axis=1)
    cand, block = cand[keep], block[keep]
    node = read_integers(block[:, :5])
    xv = read_floats(np.stack([block[:, 5:17], block[:, 22:34]], axis=1), 5,
                     fault=fault)[0]
    values = _wide(step_of(cand), node, xv[:, 0], xv[:, 1], steps)

    cand = np.flatnonzero(lines.lengths[first:] == _FLUX_ROW_W) + first
    block = lines.gather(cand, _FLUX_ROW_W)
    keep = _signature(block, 6) & np.all(block[:, 6:12] == ord(" "), axis=1)
    cand, block = cand[keep], block[keep]
    fv = read_floats(block[:, 6:].reshape(len(block), 4, 18), 5,
                     fault=fault)[0]
    fluxes = pd.DataFrame(fv.reshape(-1, 4), columns=list(FLUX_COLUMNS),
                          index=pd.MultiIndex.from_arrays(
                              [step_of(cand), read_integers(block[:, :6])],
                              names=["step", "node"]))

    found = list(_BALANCE.finditer(data))
    at = lines.line_of([m.start() for m in found])
    bv = _texts_to_floats([g for m in found for g in m.groups()], 5)
    balance = pd.DataFrame(bv.reshape(-1, 6), columns=list(BALANCE_COLUMNS),
                           index=pd.Index(step_of(at), name="step"))

    found = list(_ITERATION.finditer(data))
    at = lines.line_of([m.start() for m in found])
    iterations = pd.DataFrame(
        {"difference": _texts_to_floats([m.group(3) for m in found], 5),
         "node": [parse_integer(m.group(4).decode()) for m in found],
         "maximum": [parse_integer(m.group(2).decode()) for m in found]},
        index=pd.MultiIndex.from_arrays(
            [step_of(at), [parse_integer(m.group(1).decode())
                           for m in found]], names=["step", "iteration"]))
    failures = _FAILURE.findall(data[-4096:])
    failure = failures[-1].decode("latin-1") if failures else None
    return Listing(kind, steps, values, fluxes, balance, iterations,
                   _SUCCESS in data[-400:], failure, name)


def _wide(step: np.ndarray, node: np.ndarray, x: np.ndarray,
          value: np.ndarray, steps: pd.DataFrame) -> pd.DataFrame:
    """Nodal values by node (rows) and step (columns)."""
    long = pd.DataFrame({"step": step, "node": node, "value": value})
    long = long[long.step >= 0]
    order = pd.unique(long.step)
    nodes = pd.unique(long.node)
    if len(order) * len(nodes) == len(long) and np.array_equal(
            long.node.to_numpy(), np.tile(nodes, len(order))):
        wide = pd.DataFrame(long.value.to_numpy().reshape(len(order), -1).T,
                            index=pd.Index(nodes, name="node"),
                            columns=pd.Index(order, name="step"))
    else:
        wide = long.pivot_table(index="node", columns="step", values="value",
                                aggfunc="last")[order]
    coords = pd.Series(x[:len(step)], index=node).groupby(level=0).first()
    time_of = steps["time"][~steps.index.duplicated()]
    wide.attrs = {"x": coords.reindex(wide.index).tolist(),
                  "time": time_of.reindex(wide.columns).tolist()}
    return wide


def read_listing(path: PathLike) -> Listing:
    """Reads the per-step tables of a listing: step headers, nodal values
    of the printed steps, fluxes at the prescribed-head nodes, mass
    balances and iteration reports (see :class:`Listing`)."""
    path = Path(path)
    return parse_listing(path.read_bytes(), path.name)


# The CSV files written with --csv.

CSV_KINDS = ("obs", "prof", "flux", "balance")
_OBS_HEAD = re.compile(r"node (-?\d+) x=(\S+)")
_PROF_HEAD = re.compile(r"step (-?\d+) t=(\S+)")
_FLUX_HEAD = re.compile(r"(rate|accumulated) node (-?\d+) x=(\S+)")


def csv_paths(graphic_path: PathLike) -> dict[str, Path]:
    """The names of the CSV files of a run: the graphic file's name with
    its extension replaced (``X.GRF`` gives ``X.obs.csv``), or the suffix
    appended to a name without extension."""
    path = Path(graphic_path)
    stem = path.with_suffix("") if path.suffix else path
    return {k: stem.parent / f"{stem.name}.{k}.csv" for k in CSV_KINDS}


def _csv_columns(path: Path, names: Sequence[str], pattern: re.Pattern,
                 fixed: int) -> list[tuple[str, ...]]:
    out = []
    for n in names[fixed:]:
        m = pattern.fullmatch(n)
        if not m:
            raise OutputFileError(f"{path.name}: unexpected column {n!r}")
        out.append(m.groups())
    return out


def _read_csv(path: Path, fixed: Sequence[str], pattern: re.Pattern,
              ) -> tuple[pd.DataFrame, list[tuple[str, ...]]]:
    df = pd.read_csv(path, float_precision="round_trip")
    names = list(df.columns)
    if names[:len(fixed)] != list(fixed):
        raise OutputFileError(
            f"{path.name}: the header begins with {names[:len(fixed)]}, not "
            f"{list(fixed)}")
    return df, _csv_columns(path, names, pattern, len(fixed))


def read_csv_outputs(graphic_path: PathLike) -> dict[str, pd.DataFrame]:
    """Reads the CSV files that ``qmr --csv`` writes beside the graphic
    file, full-precision values (those that exist):

    - ``"obs"``: as :attr:`GraphicFile.observations` (indexed by time, a
      column per node, ``attrs["x"]``, ``attrs["step"]``);
    - ``"prof"``: as :attr:`GraphicFile.profiles` (indexed by ``x``, a
      column per profile step, ``attrs["time"]``, ``attrs["node"]``);
    - ``"flux"``: indexed by time, columns (``rate`` or ``accumulated``,
      node): ``df["rate"]`` is a frame of the rates; ``attrs["x"]`` maps
      each node to its coordinate, ``attrs["step"]`` the steps;
    - ``"balance"``: indexed by step, the time and every term of the mass
      balance as the file names them, ``imbalance`` last.
    """
    out: dict[str, pd.DataFrame] = {}
    paths = csv_paths(graphic_path)
    if paths["obs"].exists():
        df, cols = _read_csv(paths["obs"], ("step", "time"), _OBS_HEAD)
        obs = pd.DataFrame(df.iloc[:, 2:].to_numpy(dtype=float),
                           index=pd.Index(df["time"].to_numpy(dtype=float),
                                          name="time"),
                           columns=pd.Index([int(n) for n, _ in cols],
                                            name="node"))
        obs.attrs = {"x": [float(x) for _, x in cols],
                     "step": df["step"].tolist()}
        out["obs"] = obs
    if paths["prof"].exists():
        df, cols = _read_csv(paths["prof"], ("node", "x"), _PROF_HEAD)
        prof = pd.DataFrame(df.iloc[:, 2:].to_numpy(dtype=float),
                            index=pd.Index(df["x"].to_numpy(dtype=float),
                                           name="x"),
                            columns=pd.Index([int(s) for s, _ in cols],
                                             name="step"))
        prof.attrs = {"time": [float(t) for _, t in cols],
                      "node": df["node"].tolist()}
        out["prof"] = prof
    if paths["flux"].exists():
        df, cols = _read_csv(paths["flux"], ("step", "time"), _FLUX_HEAD)
        flux = pd.DataFrame(
            df.iloc[:, 2:].to_numpy(dtype=float),
            index=pd.Index(df["time"].to_numpy(dtype=float), name="time"),
            columns=pd.MultiIndex.from_tuples(
                [(q, int(n)) for q, n, _ in cols],
                names=["quantity", "node"]))
        flux.attrs = {"x": {int(n): float(x) for _, n, x in cols},
                      "step": df["step"].tolist()}
        out["flux"] = flux
    if paths["balance"].exists():
        path = paths["balance"]
        df = pd.read_csv(path, float_precision="round_trip")
        names = list(df.columns)
        if names[:2] != ["step", "time"] or names[-1] != "imbalance":
            raise OutputFileError(
                f"{path.name}: the header is not step, time, ..., imbalance")
        out["balance"] = df.set_index("step")
    return out
