"""Reader of the graphic file (its tables of four digits), and the tables
the flux file shares with it.

Every reader reads its file once into memory and cuts it into fields with
numpy (see :mod:`qmr.io.columns`): a graphic file of 99,999 steps and 99,999
nodes with 40 columns each is read in well under two seconds. The tables
come back as the DataFrames :mod:`qmr.io` describes.
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

from ..units import UnitsLike, annotate, value_dimension
from .columns import Lines, parse_integer, parse_value, read_floats, \
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
# A step or node number missing from an array of them.
MISSING_INT = np.iinfo(np.int64).min

__all__ = [
    "OutputFileError", "GraphicFileError", "Table", "GraphicFile",
    "read_graphic", "parse_graphic", "GraphicArrays", "MISSING_INT",
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
    units: UnitsLike = None
    kind: Optional[str] = None  # "flow", "transport" or None: not known

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

    def to_xarray(self, units: UnitsLike = None,
                  quantity: Optional[str] = None, **kwargs: Any) -> Any:
        """The graphic file as an xarray Dataset following the CF
        conventions: see :func:`qmr.io.netcdf.graphic_dataset` (the units
        and run type the file was read with unless given)."""
        from . import netcdf as cf
        kwargs.setdefault("kind", self.kind)
        return cf.graphic_dataset(self, units=units if units is not None
                                  else self.units, quantity=quantity,
                                  **kwargs)

    def to_netcdf(self, path: PathLike,
                  units: UnitsLike = None,
                  quantity: Optional[str] = None, **kwargs: Any) -> None:
        """Writes :meth:`to_xarray` to a NetCDF file (netCDF4 format)."""
        from . import netcdf as cf
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
                  *, units: UnitsLike = None, kind: Optional[str] = None,
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
            coords = coords[~coords.index.duplicated()]
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
    vd = value_dimension(kind)
    annotate(observations, units, {"time": "T", "value": vd, "x": "L"}, kind)
    annotate(profiles, units, {"x": "L", "value": vd, "time": "T"}, kind)
    return GraphicFile(observations, profiles, obs, prof, t.warnings, never,
                       name, units, kind)


@dataclass
class GraphicArrays:
    """The tables of a graphic file (or of the CSV files written beside
    it) as arrays: observations by step (rows) and node (columns);
    profiles by node (rows) and profile (columns), NaN for a profile the
    run never stored."""

    steps: np.ndarray
    times: np.ndarray
    nodes: np.ndarray
    obs: np.ndarray
    node_x: np.ndarray
    prof_steps: np.ndarray
    prof_times: np.ndarray
    prof_nodes: np.ndarray
    prof_x: np.ndarray
    prof: np.ndarray

    @staticmethod
    def read(path: Union[str, Path]) -> "GraphicArrays":
        """The tables of a graphic file, without building frames (an
        ensemble reads one per realization)."""
        path = Path(path)
        t = _parse_two_tables(
            Lines(path.read_bytes(), path.name), PROF_HEAD,
            "graphic file", HISTORY_HEAD, "flux file")
        o, pr = t.first, t.second
        nodes = np.array([n if n is not None else MISSING_INT
                          for n in o.numbers], np.int64)
        if pr is None:
            pr = Table([])
        where = pd.Series(pr.x, index=pr.keys, dtype=float)
        where = where[~where.index.duplicated(keep="last")]
        node_x = where.reindex(nodes).to_numpy(dtype=float)
        psteps = np.array([n if n is not None else MISSING_INT
                           for n in pr.numbers], np.int64)
        prof = np.array(pr.values, dtype=float, copy=True).reshape(
            len(pr.keys), len(psteps))
        never = _never_stored(o.keys, pr.numbers)
        prof[:, never] = np.nan
        first = pd.Series(o.x, index=o.keys, dtype=float)
        first = first[~first.index.duplicated()]
        ptimes = first.reindex(psteps).to_numpy(dtype=float)
        ptimes[never] = np.nan
        return GraphicArrays(
            o.keys.astype(np.int64), o.x.astype(float), nodes,
            np.asarray(o.values, dtype=float).reshape(len(o.keys),
                                                      len(nodes)),
            node_x, psteps, ptimes, pr.keys.astype(np.int64),
            pr.x.astype(float), prof)


def read_graphic(path: PathLike, warn: bool = True, *,
                 units: UnitsLike = None, kind: Optional[str] = None,
                 ) -> GraphicFile:
    """Reads a graphic file.

    A file cut short (a run that failed) gives what it holds, with a
    warning; the last line of a file cut while it was written keeps its
    whole values. A field of asterisks, ``NaN`` or ``Infinity`` reads as
    NaN or infinity. Raises :class:`GraphicFileError` for a file that is
    not a graphic file or a line that cannot be read. With ``warn`` the
    file's warnings are also issued as Python warnings.

    ``units`` (:class:`qmr.Units`) and ``kind`` ("flow" or "transport")
    label the frames: ``attrs["units"]`` gives the unit of the index, the
    values and the coordinates (see :func:`qmr.units.annotate`)."""
    path = Path(path)
    g = parse_graphic(path.read_bytes(), path.name, units=units, kind=kind)
    if warn:
        for w in g.warnings:
            warnings.warn(w, stacklevel=2)
    return g
