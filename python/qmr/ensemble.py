"""Ensembles: one model run many times with varied parameters, on the cores
of this machine or across machines with Dask.

:func:`ensemble` takes a base deck (or the decks of a chain), a table of
parameters (one row per realization, one column per deck value named by
its path in the deck object), and the outputs to collect. Each realization
runs in its own scratch folder, in a pool of local processes, in any
``concurrent.futures.Executor``, or on a Dask cluster. Results come back as
DataFrames indexed by realization and, when files are named, are appended
as realizations finish to a results file in long form and a status file,
so that an interrupted ensemble resumes where it stopped.

See docs/ensembles.md.
"""

from __future__ import annotations

import concurrent.futures as cf
import hashlib
import math
import os
import pickle
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import types
import warnings
from collections import Counter, deque
from dataclasses import dataclass, field
from pathlib import Path
from typing import (Any, Callable, Dict, Iterable, List, Mapping, Optional,
                    Sequence, Tuple, Union)

import numpy as np
import pandas as pd

from .deck import Deck, DigitsLostWarning
from .runner import RunError, Result, _run_name, run

__all__ = [
    "ensemble", "EnsembleResult", "EnsembleError", "Outcome",
    "Output", "Observations", "Profiles", "Fluxes", "Imbalance", "Function",
    "tls_security", "get_value", "set_value", "FAILED_OUTSIDE",
]

PathLike = Union[str, "os.PathLike[str]"]

# Exit status recorded for a realization that failed outside the program:
# its deck could not be written, its outputs could not be read, an output
# function raised, or it ran out of time. The diagnostic says which.
FAILED_OUTSIDE = -1

# Columns of the long-form results and of the status file.
RESULT_COLUMNS = ("realization", "output", "step", "time", "node", "x",
                  "value")
STATUS_COLUMNS = ("status", "diagnostic")


class EnsembleError(RuntimeError):
    """An ensemble that cannot start or continue: a parameter that names
    no deck value, a status file whose parameter values differ from the
    table's, a realization lost with its worker too often."""


# ---------------------------------------------------------------------------
# Deck values by path: "media[1].conductivity", "flow.coordinates[3]"
# ---------------------------------------------------------------------------

_SEGMENT = re.compile(r"([A-Za-z_]\w*)(?:\[(-?\d+)\])?")


def _segments(path: str) -> List[Tuple[str, Optional[int]]]:
    out = []
    for part in path.split("."):
        m = _SEGMENT.fullmatch(part.strip())
        if not m:
            raise EnsembleError(f"parameter {path!r}: {part!r} is not a name "
                                "or name[number]")
        out.append((m[1], int(m[2]) if m[2] is not None else None))
    return out


class _Decks:
    """The decks of a base, with the names paths and outputs use: "flow"
    and "transport" (when the chain has one deck of that kind), "deck1",
    "deck2", ... always, or the names of a mapping."""

    def __init__(self, decks: Sequence[Deck],
                 names: Optional[Sequence[str]] = None) -> None:
        self.decks = list(decks)
        self.aliases: Dict[str, int] = {}
        if names is not None:
            self.names = list(names)
        else:
            kinds = Counter(_kind(d) for d in self.decks)
            self.names = [_kind(d) if kinds[_kind(d)] == 1 else f"deck{i}"
                          for i, d in enumerate(self.decks, 1)]
        for i, d in enumerate(self.decks):
            self.aliases[f"deck{i + 1}"] = i
            if _kind_unique(self.decks, _kind(d)):
                self.aliases[_kind(d)] = i
            self.aliases[self.names[i]] = i

    @property
    def chain(self) -> bool:
        return len(self.decks) > 1

    def split(self, path: str) -> Tuple[int, List[Tuple[str, Optional[int]]]]:
        """The deck a path names and the path within it."""
        segs = _segments(path)
        first = segs[0][0]
        if len(segs) > 1 and segs[0][1] is None and first in self.aliases:
            return self.aliases[first], segs[1:]
        if self.chain:
            raise EnsembleError(
                f"parameter {path!r}: in a chain a path names its deck "
                f"first ({', '.join(repr(n + '.') for n in self.names)})")
        return 0, segs


def _kind(d: Deck) -> str:
    return "flow" if d.imode == 1 else "transport"


def _kind_unique(decks: Sequence[Deck], kind: str) -> bool:
    return sum(_kind(d) == kind for d in decks) == 1


def _walk(deck: Deck, segs: List[Tuple[str, Optional[int]]],
          path: str) -> Tuple[Any, str, Optional[int]]:
    """The object holding the last segment's value, its name and number."""
    obj: Any = deck
    for i, (name, num) in enumerate(segs):
        last = i == len(segs) - 1
        if last and num is None:
            if not hasattr(obj, name) or name.startswith("_"):
                raise EnsembleError(f"parameter {path!r}: "
                                    f"{type(obj).__name__} has no {name!r}")
            return obj, name, None
        try:
            if name.startswith("_"):
                raise AttributeError(name)
            seq = getattr(obj, name)
            if last:
                seq[num]
                return seq, name, num
            obj = seq[num] if num is not None else seq
        except AttributeError:
            raise EnsembleError(f"parameter {path!r}: {type(obj).__name__} "
                                f"has no {name!r}") from None
        except (IndexError, TypeError) as e:
            raise EnsembleError(f"parameter {path!r}: {name}[{num}]: {e}") \
                from None
    raise EnsembleError(f"parameter {path!r} is empty")


def get_value(deck: Deck, path: str) -> Any:
    """The value of a deck at `path` (``media[1].conductivity``)."""
    holder, name, num = _walk(deck, _segments(path), path)
    return holder[num] if num is not None else getattr(holder, name)


def _coerce(old: Any, value: Any, path: str) -> Any:
    if isinstance(old, bool):
        return value
    if isinstance(old, (int, np.integer)):
        f = float(value)
        if not f.is_integer():
            raise ValueError(f"parameter {path!r}: {value!r} is not a whole "
                             "number")
        return int(f)
    if isinstance(old, float):
        return float(value)
    if isinstance(old, str):
        return str(value)
    return value


def set_value(deck: Deck, path: str, value: Any) -> None:
    """Set the value of a deck at `path` (``media[1].conductivity``),
    converted to the kind of value it holds (a whole number for an integer
    field)."""
    _assign(deck, _segments(path), path, value)


def _assign(deck: Deck, segs: List[Tuple[str, Optional[int]]], path: str,
            value: Any) -> None:
    holder, name, num = _walk(deck, segs, path)
    if num is not None:
        holder[num] = _coerce(holder[num], value, path)
    else:
        setattr(holder, name, _coerce(getattr(holder, name), value, path))


# ---------------------------------------------------------------------------
# Outputs
# ---------------------------------------------------------------------------

@dataclass(frozen=True)
class Output:
    """What an ensemble collects from each realization. `deck` names the
    deck of a chain it applies to (None: every deck that has it, the
    output's name then prefixed by the deck's, "flow.observations");
    `name` overrides the output's name in the results."""

    deck: Optional[str] = None
    name: Optional[str] = None
    kind = ""

    def applies(self, deck: Deck) -> bool:
        """Whether a deck has it (an output asked of every deck is left
        out for those that have not)."""
        return True


@dataclass(frozen=True)
class Observations(Output):
    """The observation time series, by node and step (with the step's
    time and the node's coordinate): every observation node, or `nodes`."""

    nodes: Optional[Tuple[int, ...]] = None
    kind = "observations"

    def applies(self, deck: Deck) -> bool:
        return len(deck.observation_nodes) > 0


@dataclass(frozen=True)
class Profiles(Output):
    """The stored profiles, by step and node (with the step's time and the
    node's coordinate): every profile, or those of `steps`."""

    steps: Optional[Tuple[int, ...]] = None
    kind = "profiles"

    def applies(self, deck: Deck) -> bool:
        return len(deck.profile_steps) > 0


@dataclass(frozen=True)
class Fluxes(Output):
    """The flux rates through the prescribed-value nodes, by node and step
    (the flux file's rows; from the listing's printed steps when the deck
    writes no flux file), or with `accumulated` the accumulated volumes of
    the flux history."""

    nodes: Optional[Tuple[int, ...]] = None
    accumulated: bool = False

    @property
    def kind(self) -> str:  # type: ignore[override]
        return "accumulated" if self.accumulated else "fluxes"

    def applies(self, deck: Deck) -> bool:
        return len(deck.prescribed_values) > 0


@dataclass(frozen=True)
class Imbalance(Output):
    """The mass-balance imbalance (mass in - mass increase) by step: every
    printed step of a flow run's listing (every step when the print
    interval is 1), or every step of the balance CSV file when the program
    writes one."""

    kind = "imbalance"

    def applies(self, deck: Deck) -> bool:
        return deck.imode == 1


@dataclass(frozen=True)
class Function(Output):
    """A function of the run's result: ``fn(result)`` gets the
    :class:`qmr.Result` of the run (a list of them, one per deck, for a
    chain; files a later deck of a chain overwrote are gone) and returns a
    number, a Series indexed by ``step``, ``time``, ``node`` or ``x`` (its
    index name), or a DataFrame with a ``value`` column and any of those.
    It must be picklable to reach the workers: a function defined at the
    top of a module (Dask also takes lambdas and closures)."""

    fn: Optional[Callable[[Any], Any]] = None
    kind = "function"


_BY_NAME = {"observations": Observations, "profiles": Profiles,
            "fluxes": Fluxes, "imbalance": Imbalance}

DEFAULT_OUTPUTS: Tuple[Output, ...] = (Observations(), Imbalance())


def _as_output(o: Any, name: Optional[str] = None) -> Output:
    if isinstance(o, Output):
        if name is not None and o.name is None:
            return type(o)(**{**o.__dict__, "name": name})
        return o
    if callable(o):
        return Function(name=name or getattr(o, "__name__", "function"),
                        fn=o)
    if isinstance(o, str):
        deck, _, kind = o.rpartition(".")
        if kind == "accumulated":
            return Fluxes(deck=deck or None, name=name, accumulated=True)
        if kind in _BY_NAME:
            return _BY_NAME[kind](deck=deck or None, name=name)
    raise EnsembleError(f"output {o!r}: not observations, profiles, fluxes, "
                        "accumulated, imbalance, an Output or a function")


@dataclass(frozen=True)
class _Wanted:
    name: str            # in the results
    wanted: Output
    deck: Optional[int]  # index in the chain; None for a function


def _outputs(outputs: Any, decks: _Decks) -> List[_Wanted]:
    if outputs is None:
        items: List[Output] = list(DEFAULT_OUTPUTS)
    elif isinstance(outputs, Mapping):
        items = [_as_output(o, name) for name, o in outputs.items()]
    elif isinstance(outputs, (str, Output)) or callable(outputs):
        items = [_as_output(outputs)]
    else:
        items = [_as_output(o) for o in outputs]
    wanted: List[_Wanted] = []
    for o in items:
        if isinstance(o, Function):
            if o.fn is None:
                raise EnsembleError("Function output without fn")
            wanted.append(_Wanted(o.name or o.kind, o, None))
            continue
        if o.deck is not None:
            if o.deck not in decks.aliases:
                raise EnsembleError(f"output {o.kind}: no deck {o.deck!r} "
                                    f"(the decks: {', '.join(decks.names)})")
            i = decks.aliases[o.deck]
            wanted.append(_Wanted(o.name or (
                f"{decks.names[i]}.{o.kind}" if decks.chain else o.kind),
                o, i))
            continue
        for i, d in enumerate(decks.decks):
            if not o.applies(d):
                continue
            base = o.name or o.kind
            wanted.append(_Wanted(f"{decks.names[i]}.{base}" if decks.chain
                                  else base, o, i))
    names = Counter(w.name for w in wanted)
    twice = [n for n, c in names.items() if c > 1]
    if twice:
        raise EnsembleError(f"outputs named twice: {', '.join(twice)}")
    return wanted


# A block of long-form rows of one output: step, time, node, x, value.
Block = Tuple[str, np.ndarray, np.ndarray, np.ndarray, np.ndarray,
              np.ndarray]

_NO_INT = np.iinfo(np.int64).min  # a missing step or node in a block


def _block(name: str, n: int, step: Any = None, time_: Any = None,
           node: Any = None, x: Any = None, value: Any = None) -> Block:
    def ints(a: Any) -> np.ndarray:
        if a is None:
            return np.full(n, _NO_INT, np.int64)
        return np.asarray(a, dtype=np.int64).reshape(n)

    def floats(a: Any) -> np.ndarray:
        if a is None:
            return np.full(n, np.nan)
        return np.asarray(a, dtype=float).reshape(n)
    return (name, ints(step), floats(time_), ints(node), floats(x),
            floats(value))


def _node_numbers(columns: pd.Index) -> np.ndarray:
    return pd.to_numeric(pd.Series(columns), errors="coerce") \
        .fillna(_NO_INT).to_numpy(np.int64)


@dataclass
class _Graphic:
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
    def read(path: Path) -> "_Graphic":
        # The tables as the reader finds them, without building frames:
        # this is read once per realization.
        from . import readers
        from ._fields import Lines
        t = readers._parse_two_tables(
            Lines(path.read_bytes(), path.name), readers.PROF_HEAD,
            "graphic file", readers.HISTORY_HEAD, "flux file")
        o, pr = t.first, t.second
        nodes = np.array([n if n is not None else _NO_INT
                          for n in o.numbers], np.int64)
        if pr is None:
            pr = readers.Table([])
        where = pd.Series(pr.x, index=pr.keys, dtype=float)
        where = where[~where.index.duplicated(keep="last")]
        node_x = where.reindex(nodes).to_numpy(dtype=float)
        psteps = np.array([n if n is not None else _NO_INT
                           for n in pr.numbers], np.int64)
        prof = np.array(pr.values, dtype=float, copy=True).reshape(
            len(pr.keys), len(psteps))
        never = readers._never_stored(o.keys, pr.numbers)
        prof[:, never] = np.nan
        first = pd.Series(o.x, index=o.keys, dtype=float)
        first = first[~first.index.duplicated()]
        ptimes = first.reindex(psteps).to_numpy(dtype=float)
        ptimes[never] = np.nan
        return _Graphic(o.keys.astype(np.int64), o.x.astype(float), nodes,
                        np.asarray(o.values, dtype=float).reshape(
                            len(o.keys), len(nodes)),
                        node_x, psteps, ptimes, pr.keys.astype(np.int64),
                        pr.x.astype(float), prof)

    @staticmethod
    def from_csv(obs: pd.DataFrame, prof: pd.DataFrame) -> "_Graphic":
        nodes = _node_numbers(obs.columns)
        psteps = _node_numbers(prof.columns)
        return _Graphic(
            np.asarray(obs.attrs.get("step", []), np.int64),
            obs.index.to_numpy(float), nodes, obs.to_numpy(float),
            np.asarray(obs.attrs.get("x", [np.nan] * len(nodes)), float),
            psteps, np.asarray(prof.attrs.get("time", [np.nan] *
                                              len(psteps)), float),
            np.asarray(prof.attrs.get("node", []), np.int64),
            prof.index.to_numpy(float), prof.to_numpy(float))


class _Reads:
    """The outputs of one deck's run, each file read once."""

    def __init__(self, result: Result) -> None:
        self.result = result
        self._graphic: Optional[_Graphic] = None
        self._csv: Optional[Dict[str, pd.DataFrame]] = None

    def csv(self) -> Dict[str, pd.DataFrame]:
        if self._csv is None:
            from .readers import read_csv_outputs
            self._csv = (read_csv_outputs(self.result.graphic)
                         if self.result.csv else {})
        return self._csv

    def graphic(self) -> _Graphic:
        """The graphic file's tables; full precision from the CSV files
        when the program wrote them."""
        if self._graphic is None:
            csv = self.csv()
            if "obs" in csv and "prof" in csv:
                self._graphic = _Graphic.from_csv(csv["obs"], csv["prof"])
            else:
                assert self.result.graphic is not None
                self._graphic = _Graphic.read(self.result.graphic)
        return self._graphic

    def coordinates(self) -> pd.Series:
        g = self.graphic()
        return pd.Series(g.prof_x, index=g.prof_nodes)


def _select(columns: np.ndarray, wanted: Optional[Sequence[int]]
            ) -> np.ndarray:
    """Positions of the columns to keep: the wanted ones, each once."""
    keep = np.ones(len(columns), bool)
    if wanted is not None:
        keep &= np.isin(columns, np.asarray(wanted, dtype=np.int64))
    _, first = np.unique(columns, return_index=True)
    once = np.zeros(len(columns), bool)
    once[first] = True
    return np.flatnonzero(keep & once)


def _series_blocks(name: str, frame: pd.DataFrame, wanted: Any,
                   coords: Optional[pd.Series]) -> Block:
    """Rows of a frame indexed by time with a column per node: node by
    node, step by step."""
    nodes = _node_numbers(frame.columns)
    cols = _select(nodes, wanted)
    vals = frame.to_numpy(dtype=float)[:, cols]
    ns, nn = vals.shape
    steps = np.asarray(frame.attrs.get("step", np.arange(1, ns + 1)),
                       dtype=np.int64)
    times = frame.index.to_numpy(dtype=float)
    if coords is not None:
        xs = coords.reindex(nodes[cols]).to_numpy(dtype=float)
    else:
        xs = np.full(nn, np.nan)
    return _block(name, ns * nn, np.tile(steps, nn), np.tile(times, nn),
                  np.repeat(nodes[cols], ns), np.repeat(xs, ns),
                  vals.T.ravel())


_STEP_TIME = re.compile(rb"TIME STEP NUMBER +(\S+)\r?\n.*\r?\n\r?\n"
                        rb" +CURRENT TIME = (.{12})")
_OUT_OF_BALANCE = re.compile(
    rb"MASS OUT OF BALANCE \(MASS IN - MASS INCREASE\) += (.{12})")


def _imbalance(name: str, reads: _Reads) -> List[Block]:
    csv = reads.csv()
    if "balance" in csv:
        b = csv["balance"]
        return [_block(name, len(b), b.index, b["time"], None, None,
                       b["imbalance"])]
    from .readers import _texts_to_floats
    if reads.result.listing is None:
        return []
    data = reads.result.listing.read_bytes()
    heads = list(_STEP_TIME.finditer(data))
    found = list(_OUT_OF_BALANCE.finditer(data))
    if not found:
        return []
    at = np.array([m.start() for m in heads], np.int64)
    k = np.searchsorted(at, [m.start() for m in found], side="right") - 1
    steps = np.array([int(m[1]) for m in heads], np.int64)
    times = _texts_to_floats([m[2] for m in heads], 5)
    ok = k >= 0
    k = np.maximum(k, 0)
    values = _texts_to_floats([m[1] for m in found], 5)
    return [_block(name, int(ok.sum()), steps[k][ok], times[k][ok], None,
                   None, values[ok])]


def _fluxes(name: str, wanted: Fluxes, reads: _Reads) -> List[Block]:
    res = reads.result
    csv = reads.csv()
    coords = reads.coordinates() if res.graphic is not None else None
    if "flux" in csv:
        f = csv["flux"]
        part = f["accumulated" if wanted.accumulated else "rate"]
        part.attrs = {"step": f.attrs.get("step")}
        return [_series_blocks(name, part, wanted.nodes, coords)]
    if res.flux is not None and res.flux.is_file():
        from .readers import read_flux
        ff = read_flux(res.flux, warn=False)
        part = ff.accumulated if wanted.accumulated else ff.rates
        return [_series_blocks(name, part, wanted.nodes, coords)]
    from .readers import read_listing
    lst = read_listing(res.listing)
    t = lst.fluxes
    if wanted.nodes is not None:
        t = t[t.index.get_level_values("node").isin(wanted.nodes)]
    steps = t.index.get_level_values("step").to_numpy(np.int64)
    nodes = t.index.get_level_values("node").to_numpy(np.int64)
    times = lst.steps["time"][~lst.steps.index.duplicated()]
    tv = times.reindex(steps).to_numpy(dtype=float)
    xs = coords.reindex(nodes).to_numpy(dtype=float) \
        if coords is not None else None
    col = "accumulated" if wanted.accumulated else "rate"
    return [_block(name, len(t), steps, tv, nodes, xs, t[col])]


def _function_blocks(name: str, value: Any) -> List[Block]:
    if isinstance(value, pd.DataFrame):
        if "value" not in value.columns:
            raise ValueError(f"output {name}: the function's DataFrame has "
                             "no value column")
        bad = set(value.columns) - {"step", "time", "node", "x", "value"}
        if bad:
            raise ValueError(f"output {name}: unknown columns {sorted(bad)} "
                             "(step, time, node, x, value)")
        return [_block(name, len(value), **{
            ("time_" if k == "time" else k): value[k].to_numpy()
            for k in value.columns})]
    if isinstance(value, pd.Series):
        key = value.index.name
        if key not in ("step", "time", "node", "x"):
            raise ValueError(f"output {name}: a Series needs an index named "
                             "step, time, node or x")
        key = "time_" if key == "time" else key
        return [_block(name, len(value), **{key: value.index.to_numpy(),
                                            "value": value.to_numpy()})]
    return [_block(name, 1, value=[float(value)])]


def _collect(wanted: Sequence[_Wanted], reads: _Reads, deck: int
             ) -> List[Block]:
    blocks: List[Block] = []
    for w in wanted:
        if w.deck != deck:
            continue
        s = w.wanted
        if isinstance(s, Observations):
            if reads.result.graphic is None:
                continue
            g = reads.graphic()
            cols = _select(g.nodes, s.nodes)
            vals = g.obs[:, cols]
            ns, nn = vals.shape
            blocks.append(_block(w.name, ns * nn, np.tile(g.steps, nn),
                                 np.tile(g.times, nn),
                                 np.repeat(g.nodes[cols], ns),
                                 np.repeat(g.node_x[cols], ns),
                                 vals.T.ravel()))
        elif isinstance(s, Profiles):
            if reads.result.graphic is None:
                continue
            g = reads.graphic()
            cols = _select(g.prof_steps, s.steps)
            cols = cols[~np.all(np.isnan(g.prof[:, cols]), axis=0)]
            vals = g.prof[:, cols]
            nn, ns = vals.shape
            blocks.append(_block(w.name, nn * ns,
                                 np.repeat(g.prof_steps[cols], nn),
                                 np.repeat(g.prof_times[cols], nn),
                                 np.tile(g.prof_nodes, ns),
                                 np.tile(g.prof_x, ns), vals.T.ravel()))
        elif isinstance(s, Fluxes):
            blocks += _fluxes(w.name, s, reads)
        elif isinstance(s, Imbalance):
            blocks += _imbalance(w.name, reads)
    return blocks


# ---------------------------------------------------------------------------
# One realization, in a worker
# ---------------------------------------------------------------------------

@dataclass
class _Task:
    key: str                       # the realization's label as text
    base: bytes                    # the pickled decks
    values: List[Tuple[str, Any]]  # (path, value); NaN values left out
    wanted: List[_Wanted]
    files: Dict[str, bytes]
    exe: Optional[str]
    args: Tuple[str, ...]
    timeout: Optional[float]
    root: Optional[str]            # where scratch folders go
    keep: bool
    scratch: str = ""              # this ensemble's folder under the
    #                                workers' scratch place, when no root


@dataclass
class Outcome:
    """What a worker sends back for one realization: its label (as text),
    exit status (0: success), diagnostic, the rows of its outputs, its
    folder (when kept), the machine and process it ran in and its
    duration."""

    key: str
    status: int
    diagnostic: str
    blocks: List[Block] = field(default_factory=list)
    folder: str = ""
    host: str = ""
    pid: int = 0
    seconds: float = 0.0
    digits_lost: str = ""   # a value rounded to fit its deck field


def _folder_name(key: str) -> str:
    if re.fullmatch(r"[A-Za-z0-9._-]{1,80}", key) and key not in (".", ".."):
        return key
    clean = re.sub(r"[^A-Za-z0-9._-]", "_", key)[:60]
    return f"{clean}-{hashlib.sha1(key.encode()).hexdigest()[:10]}"


def _one_line(text: str) -> str:
    return " / ".join(ln.strip() for ln in text.strip().splitlines()
                      if ln.strip())


_SCRATCH: List[Optional[str]] = []


def _scratch_root() -> Optional[str]:
    """Where this process makes scratch folders: QMR_SCRATCH when set,
    else a memory-backed /dev/shm with at least 1 GiB free (removing a
    folder there costs a tenth of a millisecond, on a disk several
    milliseconds), else the temporary folder (TMPDIR)."""
    if not _SCRATCH:
        root = os.environ.get("QMR_SCRATCH")
        if not root:
            try:
                st = os.statvfs("/dev/shm")
                if st.f_bavail * st.f_frsize >= 1 << 30 and \
                        os.access("/dev/shm", os.W_OK | os.X_OK):
                    root = "/dev/shm"
            except OSError:
                pass
        _SCRATCH.append(root or None)
    return _SCRATCH[0]


def _scratch_base(name: str) -> Path:
    """This process's folder of an ensemble's scratch folders."""
    return Path(_scratch_root() or tempfile.gettempdir()) / name


def _remove_scratch(name: str) -> None:
    """Remove an ensemble's scratch folders on this machine: those of
    realizations whose worker died before it could remove them."""
    shutil.rmtree(_scratch_base(name), ignore_errors=True)


def _realize(task: _Task) -> Outcome:
    """Run one realization: decks with their values set, run in a scratch
    folder, outputs read, folder removed (unless kept). Never raises for a
    failure of the realization: it is recorded in the outcome."""
    t0 = time.perf_counter()
    if task.root is not None or task.scratch:
        where = (Path(task.root) if task.root is not None
                 else _scratch_base(task.scratch)) / _folder_name(task.key)
        if where.exists():            # a realization run again
            shutil.rmtree(where)
        where.mkdir(parents=True)
    else:
        where = Path(tempfile.mkdtemp(prefix="qmr-real-",
                                      dir=_scratch_root()))
    out = Outcome(task.key, 0, "", host=socket.gethostname(), pid=os.getpid())
    name = ""
    try:
        decks, names = pickle.loads(task.base)
        d = _Decks(decks, names)
        for path, value in task.values:
            i, segs = d.split(path)
            _assign(decks[i], segs, path, value)
        results = []
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            for i, deck in enumerate(decks):
                name = f"{names[i]}: " if len(decks) > 1 else ""
                r = run(deck, where, task.exe, args=task.args,
                        files=task.files if i == 0 else None,
                        timeout=task.timeout)
                results.append(r)
                out.blocks += _collect(task.wanted, _Reads(r), i)
            name = ""
            for w in task.wanted:
                if isinstance(w.wanted, Function):
                    fn = w.wanted.fn
                    assert fn is not None
                    name = f"output {w.name}: "
                    v = fn(results[0] if len(results) == 1 else results)
                    out.blocks += _function_blocks(w.name, v)
        lost = [str(c.message) for c in caught
                if issubclass(c.category, DigitsLostWarning)]
        out.digits_lost = lost[0] if lost else ""
    except RunError as e:
        out.status = e.status
        diag = e.diagnostic.line if e.diagnostic else _one_line(e.stderr)
        out.diagnostic = name + (diag or "no diagnostic")
        out.blocks = []
    except subprocess.TimeoutExpired:
        out.status = FAILED_OUTSIDE
        out.diagnostic = f"{name}timed out after {task.timeout} s"
        out.blocks = []
    except Exception as e:
        out.status = FAILED_OUTSIDE
        out.diagnostic = name + _one_line(f"{type(e).__name__}: {e}")
        out.blocks = []
    finally:
        if task.keep:
            out.folder = str(where)
        else:
            shutil.rmtree(where, ignore_errors=True)
    out.seconds = time.perf_counter() - t0
    return out


def _realize_all(tasks: List[_Task]) -> List[Outcome]:
    """Run a batch of realizations one after the other."""
    return [_realize(t) for t in tasks]


# ---------------------------------------------------------------------------
# Engines
# ---------------------------------------------------------------------------

class _Engine:
    """Runs tasks; knows which failures of a future mean a lost worker."""

    workers = 1

    def submit(self, tasks: List[_Task]) -> cf.Future:
        """Run a batch of realizations; the future gives their outcomes."""
        raise NotImplementedError

    def lost(self, exc: BaseException) -> bool:
        return False

    def replace(self) -> None:
        """Start afresh after a broken pool (only for an own pool)."""
        raise EnsembleError("the executor broke; run the ensemble again to "
                            "continue")

    def close(self) -> None:
        pass

    def remove_scratch(self, name: str) -> None:
        """Remove what realizations lost with their workers left."""
        _remove_scratch(name)


class _PoolEngine(_Engine):
    def __init__(self, workers: Optional[int]) -> None:
        self.workers = workers or os.cpu_count() or 1
        self.pool = cf.ProcessPoolExecutor(max_workers=self.workers)

    def submit(self, tasks: List[_Task]) -> cf.Future:
        return self.pool.submit(_realize_all, tasks)

    def lost(self, exc: BaseException) -> bool:
        from concurrent.futures.process import BrokenProcessPool
        return isinstance(exc, BrokenProcessPool)

    def replace(self) -> None:
        self.pool.shutdown(wait=False, cancel_futures=True)
        self.pool = cf.ProcessPoolExecutor(max_workers=self.workers)

    def close(self) -> None:
        self.pool.shutdown(wait=True, cancel_futures=True)


class _ExecutorEngine(_Engine):
    def __init__(self, executor: cf.Executor) -> None:
        self.executor = executor
        self.workers = getattr(executor, "_max_workers", None) or \
            os.cpu_count() or 1

    def submit(self, tasks: List[_Task]) -> cf.Future:
        return self.executor.submit(_realize_all, tasks)


class _DaskEngine(_Engine):
    def __init__(self, client: Any, own: bool) -> None:
        self.client = client
        self.own = own
        self.executor = client.get_executor(pure=False)
        try:
            self.workers = max(1, sum(client.nthreads().values()))
        except Exception:
            self.workers = 1

    def submit(self, tasks: List[_Task]) -> cf.Future:
        return self.executor.submit(_realize_all, tasks)  # type: ignore

    def lost(self, exc: BaseException) -> bool:
        # A task whose workers died too often (Dask reruns it on others
        # first), or one the scheduler dropped.
        return type(exc).__name__ in ("KilledWorker", "CancelledError",
                                      "FutureCancelledError")

    def close(self) -> None:
        try:
            self.executor.shutdown(wait=False)
        finally:
            if self.own:
                self.client.close()

    def remove_scratch(self, name: str) -> None:
        try:
            self.client.run(_remove_scratch, name)
        except Exception:
            pass          # workers gone: nothing to clean there


def tls_security(ca_file: PathLike, cert: PathLike, key: PathLike) -> Any:
    """Dask's TLS security for a client of a cluster whose members hold
    certificates signed by `ca_file`: connections are encrypted, and both
    sides show a certificate of that authority."""
    from distributed.security import Security
    return Security(tls_ca_file=os.fspath(ca_file),
                    tls_client_cert=os.fspath(cert),
                    tls_client_key=os.fspath(key), require_encryption=True)


def _is_dask_client(x: Any) -> bool:
    return type(x).__name__ == "Client" and \
        type(x).__module__.startswith("distributed")


def _engine(executor: Any, workers: Optional[int], security: Any
            ) -> _Engine:
    if executor is None:
        return _PoolEngine(workers)
    if isinstance(executor, str):
        from distributed import Client
        if isinstance(security, (tuple, list)):
            security = tls_security(*security)
        kw = {"security": security} if security is not None else {}
        return _DaskEngine(Client(executor, **kw), own=True)
    if _is_dask_client(executor):
        return _DaskEngine(executor, own=False)
    if isinstance(executor, cf.Executor):
        return _ExecutorEngine(executor)
    raise TypeError("executor: None (local processes), a "
                    "concurrent.futures.Executor, a distributed.Client or a "
                    "scheduler address")


# ---------------------------------------------------------------------------
# The base decks and the parameter table
# ---------------------------------------------------------------------------

def _aux_inputs(decks: Sequence[Deck]) -> List[str]:
    """Names of files the decks read that no earlier deck writes."""
    written: set = set()
    need: List[str] = []
    for d in decks:
        reads = []
        if d.restart_read == 1 and d.restart_in:
            reads.append(_run_name(d.restart_in))
        if d.imode == 2 and d.velocity_code > 0 and d.velocity_file:
            reads.append(_run_name(d.velocity_file))
        need += [n for n in reads if n not in written and n not in need]
        for n in (d.listing, d.graphic, d.flux_file,
                  d.restart_out if d.restart_write == 1 else None,
                  d.velocity_file if d.imode == 1 and d.velocity_code > 0
                  else None):
            if n:
                written.add(_run_name(n))
    return need


def _load_base(base: Any, files: Optional[Mapping[str, Any]]
               ) -> Tuple[_Decks, Dict[str, bytes]]:
    names: Optional[List[str]] = None
    if isinstance(base, Mapping):
        names = [str(k) for k in base]
        items = list(base.values())
    elif isinstance(base, (Deck, str, os.PathLike)):
        items = [base]
    else:
        items = list(base)
    decks, dirs = [], []
    for it in items:
        if isinstance(it, Deck):
            decks.append(it.copy())
            dirs.append(None)
        else:
            decks.append(Deck.read(it))
            dirs.append(Path(it).resolve().parent)
    if not decks:
        raise EnsembleError("no base deck")
    out: Dict[str, bytes] = {}
    for n in _aux_inputs(decks):
        for d in [x for x in dirs if x is not None] + [Path.cwd()]:
            p = d / n.replace("\\", "/")
            if p.is_file():
                out[n] = p.read_bytes()
                break
    for n, v in (files or {}).items():
        if isinstance(v, bytes):
            out[n] = v
        elif isinstance(v, os.PathLike):
            out[n] = Path(v).read_bytes()
        else:
            out[n] = str(v).encode()
    return _Decks(decks, names), out


def _text(v: Any) -> str:
    """A parameter value as the status file holds it."""
    if v is None or (isinstance(v, float) and math.isnan(v)):
        return ""
    if isinstance(v, (float, np.floating)):
        return repr(float(v))
    if isinstance(v, (np.integer,)):
        return str(int(v))
    return str(v)


def _same(a: str, b: str) -> bool:
    if a == b:
        return True
    try:
        return float(a) == float(b)
    except ValueError:
        return False


def _check_parameters(parameters: pd.DataFrame, decks: _Decks) -> None:
    if not isinstance(parameters, pd.DataFrame):
        raise TypeError("parameters: a pandas DataFrame, one row per "
                        "realization")
    keys = [str(k) for k in parameters.index]
    if len(set(keys)) != len(keys):
        dup = [k for k, c in Counter(keys).items() if c > 1][:5]
        raise EnsembleError(f"realization labels given twice: {dup}")
    for path in parameters.columns:
        if str(path) in ("realization",) + STATUS_COLUMNS:
            raise EnsembleError(f"parameter {path!r}: a reserved name")
        i, segs = decks.split(str(path))
        trial = decks.decks[i].copy()
        holder, attr, num = _walk(trial, segs, str(path))
        old = holder[num] if num is not None else getattr(holder, attr)
        col = parameters[path]
        given = col[col.notna()]
        if isinstance(old, (int, np.integer)) and not isinstance(old, bool):
            f = pd.to_numeric(given, errors="coerce")
            if f.isna().any() or not np.all(np.mod(f, 1) == 0):
                raise EnsembleError(f"parameter {path!r}: the deck holds a "
                                    "whole number there; the table does not")
        elif isinstance(old, float):
            if pd.to_numeric(given, errors="coerce").isna().any():
                raise EnsembleError(f"parameter {path!r}: a value is not a "
                                    "number")
        try:
            if num is not None:
                holder[num] = old
            else:
                setattr(holder, attr, old)
        except AttributeError as e:
            raise EnsembleError(f"parameter {path!r}: {e}") from None


# ---------------------------------------------------------------------------
# Results and status files
# ---------------------------------------------------------------------------

def _csv_safe_rewrite_tail(path: Path) -> None:
    """Cut a last line that an interrupted write left unfinished."""
    if not path.is_file():
        return
    size = path.stat().st_size
    if size == 0:
        return
    with open(path, "rb+") as fh:
        fh.seek(size - 1)
        if fh.read(1) == b"\n":
            return
        back = min(size, 1 << 20)
        while True:
            fh.seek(size - back)
            chunk = fh.read(back)
            cut = chunk.rfind(b"\n")
            if cut >= 0 or back == size:
                fh.truncate(size - back + cut + 1 if cut >= 0 else 0)
                return
            back = min(size, back * 2)


def _read_status(path: Path) -> pd.DataFrame:
    return pd.read_csv(path, dtype=str, keep_default_na=False)


def _read_results(path: Path, usecols: Optional[Sequence[str]] = None
                  ) -> pd.DataFrame:
    return pd.read_csv(path, usecols=usecols, float_precision="round_trip",
                       dtype={"realization": str, "output": str,
                              "step": "Int64", "node": "Int64"},
                       keep_default_na=False, na_values=[""])


class _Store:
    """The results and status files: what earlier runs recorded, and the
    rows of new realizations appended as they finish."""

    def __init__(self, results: Optional[Path], status: Optional[Path],
                 params: List[str]) -> None:
        self.results, self.status, self.params = results, status, params
        self.rows: List[Tuple[str, List[Block]]] = []
        self.states: List[List[Any]] = []
        self.kept: List[Tuple[str, List[Block]]] = []   # in memory
        self.kept_status: List[List[Any]] = []
        self.last = time.monotonic()
        self.nrows = 0

    def earlier(self) -> pd.DataFrame:
        """The last status row of every realization recorded before."""
        if self.status is None or not self.status.is_file() or \
                self.status.stat().st_size == 0:
            if self.results is not None and self.results.is_file() and \
                    self.results.stat().st_size > 0:
                raise EnsembleError(
                    f"{self.results} exists without its status file "
                    f"{self.status}: remove it, or name other files")
            return pd.DataFrame(columns=["realization", *self.params,
                                         *STATUS_COLUMNS])
        _csv_safe_rewrite_tail(self.status)
        st = _read_status(self.status)
        have = list(st.columns)
        want = ["realization", *self.params, *STATUS_COLUMNS]
        if have != want:
            raise EnsembleError(
                f"{self.status} records the columns {have[1:-2]}, the "
                f"parameter table has {self.params}: name other files to "
                "start a new ensemble")
        return st.drop_duplicates("realization", keep="last") \
            .set_index("realization")

    def prune(self, done: Iterable[str]) -> None:
        """Drop result rows of realizations without a successful status
        row (written before an interruption cut the status row off)."""
        if self.results is None or not self.results.is_file():
            return
        _csv_safe_rewrite_tail(self.results)
        if self.results.stat().st_size == 0:
            return
        real = _read_results(self.results, ["realization"])["realization"]
        orphan = ~real.isin(set(done))
        if orphan.any():
            full = _read_results(self.results)
            tmp = self.results.with_name(self.results.name + ".tmp")
            _write_results(full[~orphan.to_numpy()], tmp, header=True)
            os.replace(tmp, self.results)

    def start(self) -> None:
        """Both files with their headers, so that a results file never
        exists without its status file."""
        if self.results is None or self.status is None:
            return
        if not self.status.is_file() or self.status.stat().st_size == 0:
            with open(self.status, "w", newline="") as fh:
                fh.write(",".join(_csv_field(c) for c in [
                    "realization", *self.params, *STATUS_COLUMNS]) + "\n")
        if not self.results.is_file() or self.results.stat().st_size == 0:
            _write_results(_long([]), self.results, header=True)

    def add(self, key: str, values: List[str], o: Outcome) -> None:
        row = [key, *values, o.status, o.diagnostic]
        if self.results is None:
            self.kept.append((key, o.blocks))
            self.kept_status.append(row)
            return
        self.rows.append((key, o.blocks))
        self.states.append(row)
        self.nrows += sum(len(b[1]) for b in o.blocks)
        if self.nrows > 200_000 or time.monotonic() - self.last > 0.5:
            self.flush()

    def flush(self) -> None:
        if self.results is None or self.status is None:
            return
        if self.rows:
            _write_results(_long(self.rows), self.results, header=False)
        if self.states:
            st = pd.DataFrame(self.states, columns=[
                "realization", *self.params, *STATUS_COLUMNS])
            with open(self.status, "a", newline="") as fh:
                st.to_csv(fh, header=False, index=False,
                          lineterminator="\n")
                fh.flush()
        self.rows, self.states, self.nrows = [], [], 0
        self.last = time.monotonic()


def _csv_field(text: str) -> str:
    """A header field as the csv module quotes it."""
    if any(c in text for c in ',"\r\n'):
        return '"' + text.replace('"', '""') + '"'
    return text


def _long(rows: Sequence[Tuple[str, List[Block]]]) -> pd.DataFrame:
    """Long-form frame of the blocks of several realizations."""
    parts = [(k, b) for k, bl in rows for b in bl]
    if not parts:
        return pd.DataFrame({c: pd.Series(dtype=t) for c, t in zip(
            RESULT_COLUMNS, (object, object, "Int64", float, "Int64", float,
                             float))})
    lens = [len(b[1]) for _, b in parts]
    real = np.repeat(np.array([k for k, _ in parts], dtype=object), lens)
    name = np.repeat(np.array([b[0] for _, b in parts], dtype=object), lens)

    def cat(i: int) -> np.ndarray:
        return np.concatenate([b[i] for _, b in parts])

    def ints(a: np.ndarray) -> pd.Series:
        return pd.Series(pd.arrays.IntegerArray(a, a == _NO_INT))
    return pd.DataFrame({"realization": real, "output": name,
                         "step": ints(cat(1)), "time": cat(2),
                         "node": ints(cat(3)), "x": cat(4),
                         "value": cat(5)})


def _write_results(df: pd.DataFrame, path: Path, header: bool) -> None:
    with open(path, "w" if header else "a", newline="") as fh:
        df.to_csv(fh, header=header, index=False, lineterminator="\n",
                  columns=list(RESULT_COLUMNS))
        fh.flush()


# ---------------------------------------------------------------------------
# The results
# ---------------------------------------------------------------------------

class EnsembleResult:
    """The results of an ensemble.

    - ``status``: one row per realization of the table (indexed by its
      label): its parameter values, ``status`` (the exit status, 0 for
      success, :data:`FAILED_OUTSIDE` for a failure outside the program,
      missing for a realization not run) and ``diagnostic``;
    - ``long``: every collected value in long form (columns realization,
      output, step, time, node, x, value);
    - ``result[name]`` (or :meth:`frame`): one output as a DataFrame
      indexed by realization;
    - ``succeeded``, ``failed``: the labels; ``outputs``: the output names;
      ``results_file``, ``status_file``, ``folder`` (scratch folders kept).
    """

    def __init__(self, labels: pd.Index, status: pd.DataFrame,
                 long: Optional[pd.DataFrame],
                 results_file: Optional[Path], status_file: Optional[Path],
                 folder: Optional[Path], ran: int, lost: int) -> None:
        self._labels = labels
        self.status = status
        self._long = long
        self.results_file = results_file
        self.status_file = status_file
        self.folder = folder
        self.ran = ran          # realizations run by this call
        self.lost = lost        # runs lost with a worker and run again

    @property
    def long(self) -> pd.DataFrame:
        """Every value collected, in long form, realizations labelled as
        in the parameter table."""
        if self._long is None:
            df = _read_results(self.results_file) if self.results_file \
                and self.results_file.is_file() else _long([])
            back = {str(k): k for k in self._labels}
            df = df[df["realization"].isin(back)].copy()
            df["realization"] = df["realization"].map(back)
            self._long = df.reset_index(drop=True)
        return self._long

    @property
    def outputs(self) -> List[str]:
        """The names of the outputs collected."""
        return list(pd.unique(self.long["output"]))

    @property
    def succeeded(self) -> pd.Index:
        return self.status.index[self.status["status"] == 0]

    @property
    def failed(self) -> pd.Index:
        s = self.status["status"]
        return self.status.index[s.notna() & (s != 0)]

    def frame(self, output: str, columns: Optional[Sequence[str]] = None
              ) -> Union[pd.DataFrame, pd.Series]:
        """One output, indexed by realization (every realization of the
        table, failed ones as missing values). `columns` are the keys of
        the columns: by default those of ``node`` and ``step`` that the
        output has (``("node", "time")`` gives the times instead); an output
        of one value per realization is a Series."""
        df = self.long[self.long["output"] == output]
        if df.empty and output not in self.outputs:
            raise KeyError(f"no output {output!r} (outputs: "
                           f"{', '.join(self.outputs)})")
        if columns is None:
            columns = [c for c in ("node", "step") if df[c].notna().any()]
            if not columns:
                columns = [c for c in ("time", "x") if df[c].notna().any()]
        columns = list(columns)
        if not columns:
            s = df.set_index("realization")["value"]
            return s.reindex(self._labels).rename(output)
        wide = df.set_index(["realization", *columns])["value"] \
            .unstack(columns)
        return wide.reindex(self._labels)

    def __getitem__(self, output: str) -> Union[pd.DataFrame, pd.Series]:
        return self.frame(output)

    def summary(self) -> str:
        """One line: how many realizations succeeded and failed."""
        s = self.status["status"]
        ok = int((s == 0).sum())
        bad = s[s.notna() & (s != 0)]
        text = f"{len(s)} realizations: {ok} succeeded, {len(bad)} failed"
        if len(bad):
            by = Counter(int(v) for v in bad)
            text += " (" + ", ".join(f"exit status {k}: {n}" for k, n in
                                     sorted(by.items())) + ")"
        missing = int(s.isna().sum())
        if missing:
            text += f", {missing} not run"
        return text

    def __repr__(self) -> str:
        return f"EnsembleResult({self.summary()})"


# ---------------------------------------------------------------------------
# The ensemble
# ---------------------------------------------------------------------------

def _status_frame(rows: Sequence[Sequence[Any]], params: List[str],
                  labels: pd.Index) -> pd.DataFrame:
    st = pd.DataFrame(list(rows), columns=["realization", *params,
                                           *STATUS_COLUMNS], dtype=object)
    st = st.drop_duplicates("realization", keep="last") \
        .set_index("realization")
    st = st.reindex([str(k) for k in labels])
    st.index = labels
    st["status"] = pd.to_numeric(st["status"], errors="coerce") \
        .astype("Int64")
    for p in params:
        given = st[p].notna() & (st[p].astype(str) != "")
        conv = pd.to_numeric(st[p].where(given), errors="coerce")
        if conv.notna().sum() == given.sum():
            st[p] = conv
    st["diagnostic"] = st["diagnostic"].fillna("").astype(str)
    return st


def ensemble(base: Any, parameters: pd.DataFrame, outputs: Any = None,
             executor: Any = None, folder: Optional[PathLike] = None, *,
             results_file: Optional[PathLike] = None,
             status_file: Optional[PathLike] = None, keep: bool = False,
             retry_failed: bool = False, workers: Optional[int] = None,
             security: Any = None,
             files: Optional[Mapping[str, Any]] = None,
             exe: Optional[PathLike] = None, args: Sequence[str] = (),
             timeout: Optional[float] = None, progress: bool = False,
             on_result: Optional[Callable[[Outcome], None]] = None,
             max_losses: int = 3, batch: Optional[int] = None
             ) -> EnsembleResult:
    """Run one realization of `base` per row of `parameters`.

    - `base`: a deck (object or file), or the decks of a chain run in turn
      in one folder (a list, or a mapping name -> deck); files the decks
      read and no earlier deck writes are taken from the decks' folder (or
      the working folder), or given in `files` (name -> text, bytes or
      path).
    - `parameters`: one row per realization, labelled by its row label;
      each column names a deck value by its path, numbered from 1 as in
      the deck (``media[1].conductivity``, ``prescribed_values[2].value``,
      in a chain ``flow.media[1].conductivity``). A missing value (NaN)
      leaves the base's.
    - `outputs`: what to collect (default: every observation series and
      the mass-balance imbalance of every step): :class:`Observations`,
      :class:`Profiles`, :class:`Fluxes`, :class:`Imbalance`,
      :class:`Function`, their names ("observations", "profiles",
      "fluxes", "accumulated", "imbalance", "transport.observations"), a
      function of the run's :class:`qmr.Result`, or a mapping name ->
      any of those.
    - `executor`: None (a pool of local processes, `workers` of them, one
      per core by default), any ``concurrent.futures.Executor``, a
      ``distributed.Client``, or the address of a Dask scheduler
      (``"tls://10.0.0.5:8786"``) with `security` (a
      ``distributed.security.Security`` or (CA, certificate, key) files).
    - `folder`: where the scratch folders go (one per realization, named
      after its label); by default each worker's QMR_SCRATCH, else
      /dev/shm when it has 1 GiB free, else its temporary folder. They are
      removed once read unless `keep`.
    - `results_file`, `status_file`: CSV files the realizations are
      appended to as they finish (the status file defaults to the results
      file's name with ``.status.csv``). Run again with the same files, the
      ensemble runs only the realizations missing from them, refuses to go
      on when a label's parameter values differ from those recorded, and
      runs the failed ones again only with `retry_failed`.
    - `exe`, `args`, `timeout`: the program (found on each worker as
      :func:`qmr.find_exe` finds it when None), its options, and a time
      limit in seconds per run.
    - `progress`: a tqdm progress bar on standard error; `on_result` is
      called in this process with each :class:`Outcome`.

    - `batch`: realizations per task sent to the engine (by default up
      to 8 on local processes and 16 on Dask, as long as each worker still
      gets at least 16 tasks); batches cut the per-task cost of the engine
      for short runs. The realizations of a task are recorded when the
      whole task is done.

    A realization that fails (its exit status and diagnostic recorded)
    never stops the others; one lost with its worker is run again, up to
    `max_losses` times, after which the ensemble stops (and can be
    resumed).
    """
    decks, aux = _load_base(base, files)
    _check_parameters(parameters, decks)
    wanted = _outputs(outputs, decks)
    params = [str(c) for c in parameters.columns]
    labels = parameters.index
    keys = [str(k) for k in labels]

    rpath = Path(results_file) if results_file is not None else None
    spath = Path(status_file) if status_file is not None else (
        rpath.with_name(rpath.stem + ".status.csv") if rpath else None)
    store = _Store(rpath, spath, params)
    rows = dict(zip(keys, parameters.itertuples(index=False, name=None)))
    texts = {k: [_text(v) for v in row] for k, row in rows.items()}

    before = store.earlier()
    changed = [k for k in keys if k in before.index and not all(
        _same(a, b) for a, b in zip(texts[k], before.loc[k, params]))]
    if changed:
        raise EnsembleError(
            f"{len(changed)} realizations have other parameter values than "
            f"{spath} records (labels {', '.join(changed[:5])}"
            f"{', ...' if len(changed) > 5 else ''}): give them new labels, "
            "or name other files")
    status_before = pd.to_numeric(before["status"], errors="coerce")
    done_before = set(before.index[status_before == 0])
    failed_before = set(before.index[status_before != 0])
    store.prune(done_before)
    todo = [k for k in keys if k not in done_before
            and (retry_failed or k not in failed_before)]

    root = Path(folder).resolve() if folder is not None else None
    if keep and root is None:
        root = Path(tempfile.mkdtemp(prefix="qmr-ensemble-"))
    blob = pickle.dumps((decks.decks, decks.names))
    scratch = f"qmr-ensemble-{os.getpid()}-{time.time_ns():x}"
    exe_s = os.fspath(exe) if exe is not None else None

    def task(k: str) -> _Task:
        vals = [(c, v) for c, v in zip(params, rows[k])
                if not (v is None or (isinstance(v, float) and math.isnan(v)))]
        return _Task(k, blob, vals, wanted, aux, exe_s, tuple(args), timeout,
                     str(root) if root is not None else None, keep, scratch)

    losses: Counter = Counter()
    recorded: set = set()
    rounded, first_rounded = 0, ""
    engine = _engine(executor, workers, security) if todo else None
    if isinstance(engine, (_PoolEngine, _ExecutorEngine)) and \
            not isinstance(executor, cf.ThreadPoolExecutor):
        try:
            pickle.dumps(wanted)
        except Exception as e:
            engine.close()
            raise EnsembleError(
                f"the outputs cannot be sent to other processes ({e}): "
                "define output functions at the top of a module") from None
    store.start()
    bar = None
    if progress and todo:
        from tqdm import tqdm
        bar = tqdm(total=len(todo), unit="run", file=sys.stderr,
                   dynamic_ncols=True)
    if batch is None and engine is not None:
        # Every task costs the engine's machinery: a Dask task about a
        # millisecond of the scheduler, a local one a few tenths in this
        # process (pickling, the pool's threads, a pipe each way) besides
        # the wake-ups. A few realizations per task, still at least 16
        # tasks per worker so that the work stays evenly spread.
        most = 16 if isinstance(engine, _DaskEngine) else 8
        batch = max(1, min(most, len(todo) // (16 * engine.workers)))
    batch = max(1, int(batch or 1))

    def lose(keys: List[str], cause: Optional[BaseException]) -> None:
        for k in reversed(keys):
            losses[k] += 1
            if losses[k] > max_losses:
                raise EnsembleError(
                    f"realization {k} was lost with its worker {losses[k]} "
                    "times; run the ensemble again to continue") from cause
            queue.appendleft(k)

    def restart() -> None:
        # The pool lost a process: every task still in it is lost too.
        # Start a new pool and give them to it.
        for fut, keys in list(pending.items()):
            if fut.done() and not fut.cancelled() and \
                    fut.exception() is None:
                continue
            pending.pop(fut)
            lose(keys, None)
        engine.replace()  # type: ignore

    try:
        queue = deque(todo)
        pending: Dict[cf.Future, List[str]] = {}
        window = max(8, 4 * engine.workers) if engine else 0
        while queue or pending:
            while queue and len(pending) < window:
                keys = [queue.popleft()
                        for _ in range(min(batch, len(queue)))]
                try:
                    fut = engine.submit(  # type: ignore
                        [task(k) for k in keys])
                except Exception as e:
                    queue.extendleft(reversed(keys))
                    if not (isinstance(engine, _PoolEngine)
                            and engine.lost(e)):
                        raise
                    restart()    # it broke since the last look
                    continue
                pending[fut] = keys
            finished, _ = cf.wait(list(pending),
                                  return_when=cf.FIRST_COMPLETED)
            broke = False
            for fut in finished:
                keys = pending.pop(fut)
                try:
                    outs = fut.result()
                except BaseException as e:
                    if not (engine and engine.lost(e)):
                        if isinstance(e, (KeyboardInterrupt, SystemExit)):
                            raise
                        # A realization's own failures come back as its
                        # outcome: this is the engine's (a worker that
                        # cannot import qmr, a task it cannot unpickle).
                        raise EnsembleError(
                            f"the workers could not run realization "
                            f"{keys[0]}: {type(e).__name__}: {e} (is the "
                            "qmr package importable where they run?)") \
                            from e
                    lose(keys, e)
                    broke = broke or isinstance(engine, _PoolEngine)
                    continue
                for out in outs:
                    k = out.key
                    if k in recorded:
                        continue
                    recorded.add(k)
                    if out.digits_lost:
                        rounded += 1
                        first_rounded = first_rounded or out.digits_lost
                    store.add(k, texts[k], out)
                    if bar is not None:
                        bar.update()
                    if on_result is not None:
                        on_result(out)
            if broke:
                restart()
    finally:
        store.flush()
        if bar is not None:
            bar.close()
        if engine is not None:
            # Folders of realizations lost with their workers: on Dask
            # through the workers, before the client goes; locally once
            # the pool has stopped.
            dask = isinstance(engine, _DaskEngine)
            try:
                if root is None and dask:
                    engine.remove_scratch(scratch)
            finally:
                engine.close()
            if root is None and not dask:
                engine.remove_scratch(scratch)

    if rounded:
        warnings.warn(DigitsLostWarning(
            f"{rounded} realizations ran with values rounded to fit their "
            f"deck fields (the status file keeps the table's); the first: "
            f"{first_rounded}"), stacklevel=2)
    if rpath is not None and spath is not None and spath.is_file():
        st_rows = _read_status(spath).values.tolist()
        long = None
    else:
        st_rows = store.kept_status
        long = _long(store.kept)
        back = {str(k): k for k in labels}
        long["realization"] = long["realization"].map(back)
    status = _status_frame(st_rows, params, labels)
    return EnsembleResult(labels, status, long, rpath, spath,
                          root if keep else None, len(recorded),
                          sum(losses.values()))


# ---------------------------------------------------------------------------
# The command: tools/qmr-ensemble
# ---------------------------------------------------------------------------

EXIT_ALL_OK = 0
EXIT_SOME_FAILED = 1
EXIT_REFUSED = 2
EXIT_INTERRUPTED = 130


def _numbers(text: Optional[str]) -> Optional[Tuple[int, ...]]:
    if text is None:
        return None
    try:
        return tuple(int(t) for t in text.split(",") if t.strip())
    except ValueError:
        raise ValueError(f"{text!r} is not a list of numbers (11,21,41)") \
            from None


def _load_function(wanted: str) -> Callable[[Any], Any]:
    """The output function of ``--function FILE.py:NAME``, its module
    registered so that local workers find it and, with cloudpickle, sent
    by value to Dask workers elsewhere."""
    from .plot import load_function
    file = wanted.rpartition(":")[0]
    mod_name = "qmr_ensemble_" + re.sub(r"\W", "_", Path(file).stem)
    fn = load_function(wanted, mod_name, register=True)
    try:
        import cloudpickle
        cloudpickle.register_pickle_by_value(sys.modules[mod_name])
    except (ImportError, AttributeError):
        pass
    return fn


def _parser() -> Any:
    import argparse
    p = argparse.ArgumentParser(
        prog="qmr-ensemble",
        description="Runs one qmr realization per row of a parameter table "
        "and appends the results to CSV files (see docs/ensembles.md).")
    p.add_argument("files", nargs="+", metavar="BASE... PARAMS.csv",
                   help="the base deck (several decks: a chain run in "
                   "turn in one folder), then the parameter table: a CSV "
                   "file whose first column labels the realizations and "
                   "whose other columns are named by deck paths "
                   "(media[1].conductivity, in a chain "
                   "flow.media[1].conductivity)")
    p.add_argument("--out", required=True, metavar="RESULTS.csv",
                   help="results file, long form: realization, output, "
                   "step, time, node, x, value")
    p.add_argument("--status", metavar="STATUS.csv",
                   help="status file (default: RESULTS.status.csv)")
    p.add_argument("--scheduler", metavar="ADDRESS",
                   help="a Dask scheduler (tcp://host:8786, tls://...); "
                   "default: local processes")
    p.add_argument("--workers", type=int, metavar="N",
                   help="local processes (default: one per core)")
    p.add_argument("--tls-ca-file", metavar="FILE")
    p.add_argument("--tls-cert", metavar="FILE")
    p.add_argument("--tls-key", metavar="FILE")
    p.add_argument("--folder", metavar="DIR",
                   help="where the scratch folders go")
    p.add_argument("--keep", action="store_true",
                   help="keep each realization's folder")
    p.add_argument("--retry-failed", action="store_true",
                   help="run the realizations recorded as failed again")
    g = p.add_argument_group(
        "outputs (default: --observations --imbalance; any of these "
        "replaces the default)")
    g.add_argument("--observations", nargs="?", const="", metavar="NODES",
                   help="observation series (of nodes 11,21,... or all)")
    g.add_argument("--profiles", nargs="?", const="", metavar="STEPS",
                   help="profiles (of steps 25,50,... or all)")
    g.add_argument("--fluxes", nargs="?", const="", metavar="NODES",
                   help="flux rates at prescribed-value nodes")
    g.add_argument("--accumulated", nargs="?", const="", metavar="NODES",
                   help="accumulated fluxes of the flux history")
    g.add_argument("--imbalance", action="store_true",
                   help="mass-balance imbalance of every printed step")
    g.add_argument("--function", action="append", default=[],
                   metavar="FILE.py:NAME",
                   help="a function of the run's qmr.Result (repeatable)")
    p.add_argument("--exe", metavar="PATH", help="the qmr program")
    p.add_argument("--arg", action="append", default=[], metavar="ARG",
                   help="an option passed to qmr (repeatable)")
    p.add_argument("--timeout", type=float, metavar="SECONDS",
                   help="time limit of one run")
    bar = p.add_mutually_exclusive_group()
    bar.add_argument("--progress", dest="progress", action="store_true",
                     default=None, help="progress bar (default: when "
                     "standard error is a terminal)")
    bar.add_argument("--no-progress", dest="progress", action="store_false")
    return p


def _cli_outputs(a: Any) -> Optional[List[Output]]:
    out: List[Output] = []
    if a.observations is not None:
        out.append(Observations(nodes=_numbers(a.observations or None)))
    if a.profiles is not None:
        out.append(Profiles(steps=_numbers(a.profiles or None)))
    if a.fluxes is not None:
        out.append(Fluxes(nodes=_numbers(a.fluxes or None)))
    if a.accumulated is not None:
        out.append(Fluxes(nodes=_numbers(a.accumulated or None),
                          accumulated=True))
    if a.imbalance:
        out.append(Imbalance())
    for wanted in a.function:
        fn = _load_function(wanted)
        out.append(Function(name=wanted.rpartition(":")[2], fn=fn))
    return out or None


def read_parameters(path: PathLike) -> pd.DataFrame:
    """A parameter table from a CSV file: the first column labels the
    realizations (kept as text), the others are named by deck paths."""
    df = pd.read_csv(path, converters={0: str}, float_precision="round_trip")
    if df.shape[1] < 1:
        raise EnsembleError(f"{path}: no label column")
    return df.set_index(df.columns[0])


def main(argv: Optional[Sequence[str]] = None) -> int:
    """The command ``qmr-ensemble``; returns its exit status: 0 when every
    realization succeeded, 1 when some failed, 2 when the ensemble was
    refused (a bad option, table or deck), 130 when interrupted."""
    a = _parser().parse_args(argv)
    prog = "qmr-ensemble"
    if len(a.files) < 2:
        print(f"{prog}: give the base deck(s) and the parameter table",
              file=sys.stderr)
        return EXIT_REFUSED
    tls = [a.tls_ca_file, a.tls_cert, a.tls_key]
    if any(tls) and not all(tls):
        print(f"{prog}: TLS needs --tls-ca-file, --tls-cert and --tls-key",
              file=sys.stderr)
        return EXIT_REFUSED
    progress = a.progress if a.progress is not None else sys.stderr.isatty()
    try:
        params = read_parameters(a.files[-1])
        outputs = _cli_outputs(a)
        res = ensemble(
            a.files[:-1], params, outputs,
            executor=a.scheduler, folder=a.folder, results_file=a.out,
            status_file=a.status, keep=a.keep, retry_failed=a.retry_failed,
            workers=a.workers, security=tuple(tls) if all(tls) else None,
            exe=a.exe, args=a.arg, timeout=a.timeout, progress=progress)
    except KeyboardInterrupt:
        print(f"{prog}: interrupted; what finished is in {a.out}: run the "
              "same command again to continue", file=sys.stderr)
        return EXIT_INTERRUPTED
    except (EnsembleError, ValueError, OSError, TypeError) as e:
        print(f"{prog}: {e}", file=sys.stderr)
        return EXIT_REFUSED
    print(f"{prog}: {res.summary()}; {res.ran} run now; results in "
          f"{res.results_file}, status in {res.status_file}",
          file=sys.stderr)
    if res.folder is not None:
        print(f"{prog}: the realizations' folders are in {res.folder}",
              file=sys.stderr)
    for k, row in res.status.loc[res.failed].head(5).iterrows():
        print(f"{prog}: realization {k}: exit status {row['status']}: "
              f"{row['diagnostic']}", file=sys.stderr)
    return EXIT_ALL_OK if len(res.failed) == 0 else EXIT_SOME_FAILED


class _EnsembleModule(types.ModuleType):
    """This module is also the function :func:`ensemble`: ``qmr.ensemble``
    names both (``qmr.ensemble(base, parameters)``,
    ``qmr.ensemble.Observations``), whichever was imported first."""

    def __call__(self, *args: Any, **kwargs: Any) -> EnsembleResult:
        return ensemble(*args, **kwargs)


sys.modules[__name__].__class__ = _EnsembleModule

if __name__ == "__main__":
    sys.exit(main())
