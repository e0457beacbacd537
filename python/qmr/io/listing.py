"""Reader of the listing's per-step tables: the step headers, nodal
values of the printed steps, fluxes at the prescribed-head nodes, mass
balances and iteration reports. The listing's patterns are defined here
once."""

from __future__ import annotations

import re
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Optional, Sequence, Union

import numpy as np
import pandas as pd

from ..units import UnitsLike, annotate, value_dimension
from .columns import Lines, parse_integer, read_floats, read_integers
from .graphic import OutputFileError, PathLike


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


def parse_listing(data: Union[bytes, str], name: str = "listing", *,
                  units: UnitsLike = None) -> Listing:
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
        if not len(numbers):            # no step header at all
            return np.full(len(line_index), -1, dtype=np.int64)
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
    k = kind or None
    vd = value_dimension(k)
    annotate(steps, units, {c: "T" if c != "theta" else ""
                            for c in STEP_COLUMNS}, k)
    annotate(values, units, {"value": vd, "x": "L", "time": "T"}, k)
    annotate(fluxes, units, {"prescribed": vd, "amount": "L3",
                             "rate": "L3/T", "accumulated": "L3"}, k)
    annotate(balance, units, {c: "L3" for c in BALANCE_COLUMNS}, k)
    annotate(iterations, units, {"difference": vd, "node": "",
                                 "maximum": ""}, k)
    return Listing(kind, steps, values, fluxes, balance, iterations,
                   _SUCCESS in data[-400:], failure, name)


def _wide(step: np.ndarray, node: np.ndarray, x: np.ndarray,
          value: np.ndarray, steps: pd.DataFrame) -> pd.DataFrame:
    """Nodal values by node (rows) and step (columns)."""
    long = pd.DataFrame({"step": step, "node": node, "value": value})
    long = long[long.step >= 0]
    order = pd.unique(long.step)
    nodes = pd.unique(long.node)
    if len(long) == 0:           # no step printed (print interval > steps)
        wide = pd.DataFrame(index=pd.Index([], name="node", dtype=np.int64),
                            columns=pd.Index([], name="step",
                                             dtype=np.int64), dtype=float)
    elif len(order) * len(nodes) == len(long) and np.array_equal(
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


def read_listing(path: PathLike, *, units: UnitsLike = None) -> Listing:
    """Reads the per-step tables of a listing: step headers, nodal values
    of the printed steps, fluxes at the prescribed-head nodes, mass
    balances and iteration reports (see :class:`Listing`); ``units``
    label the frames (``attrs["units"]``)."""
    path = Path(path)
    return parse_listing(path.read_bytes(), path.name, units=units)
