"""What an ensemble collects from each realization (:class:`Output` and
its kinds), and the long-form rows the collection gives."""

from __future__ import annotations

from collections import Counter
from dataclasses import dataclass, field
import os
from typing import (Any, Callable, List, Mapping, Optional, Sequence, Tuple,
                    Union)

import numpy as np
import pandas as pd

from ..deck import Deck
from ..io.graphic import MISSING_INT
from ..deck.paths import _Decks

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
# Outputs
# ---------------------------------------------------------------------------

@dataclass(frozen=True)
class Output:
    """What an ensemble collects from each realization. `deck` names the
    deck of a chain it applies to (None: every deck that has it, the
    output's name then prefixed by the deck's, "flow.observations");
    `name` overrides the output's name in the results; `times` keeps the
    rows of those times alone (times as the program computed them, to
    nine significant digits: ``times=(3652.5,)``)."""

    deck: Optional[str] = None
    name: Optional[str] = None
    times: Optional[Tuple[float, ...]] = field(default=None, kw_only=True)
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

    @staticmethod
    def from_dates(frame: pd.DataFrame, start: Any,
                   time_unit: Any = "d") -> pd.DataFrame:
        """Measured data dated by calendar, as the observation table of
        ``qmr --observations`` and :func:`qmr.calibrate` wants it: the
        column ``date`` (or a DatetimeIndex) becomes ``time``, the time
        elapsed since `start` (the model's time 0, a date) in
        `time_unit`: ``"s"``, ``"min"``, ``"h"``, ``"d"``, ``"w"``, ``"y"``
        (365.25 days) or a ``pd.Timedelta``. The other columns are kept.
        Raises ValueError for a date that cannot be read or lies before
        `start`."""
        return _from_dates(frame, start, time_unit)


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


_UNITS = {"s": "1s", "min": "1min", "h": "1h", "d": "1D", "w": "7D",
          "y": "365.25D", "a": "365.25D"}


def _from_dates(frame: pd.DataFrame, start: Any, time_unit: Any
                ) -> pd.DataFrame:
    """See :meth:`Observations.from_dates`."""
    df = frame.copy()
    if "date" in df.columns:
        dates = df.pop("date")
    elif isinstance(df.index, pd.DatetimeIndex):
        dates = pd.Series(df.index, index=df.index)
        df = df.reset_index(drop=True)
        dates = dates.reset_index(drop=True)
    else:
        raise ValueError("no column 'date' and no DatetimeIndex")
    if "time" in df.columns:
        raise ValueError("the frame has both dates and a column 'time'")
    try:
        when = pd.to_datetime(dates.to_numpy())
        origin = pd.Timestamp(start)
    except (ValueError, TypeError) as e:
        raise ValueError(f"a date cannot be read: {e}") from None
    unit = pd.Timedelta(_UNITS.get(time_unit, time_unit)) \
        if isinstance(time_unit, str) else pd.Timedelta(time_unit)
    if unit <= pd.Timedelta(0):
        raise ValueError(f"time_unit {time_unit!r} is not a positive span")
    if when.isna().any():
        raise ValueError("a date is missing")
    elapsed = (when - origin) / unit
    if (np.asarray(elapsed) < 0).any():
        raise ValueError(f"a date lies before the start {origin}")
    cols = list(df.columns)
    at = cols.index("value") if "value" in cols else len(cols)
    df.insert(at, "time", np.asarray(elapsed, float))
    return df


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

_NO_INT = MISSING_INT  # a missing step or node in a block


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


def rows_csv(key: str, blocks: List[Block]) -> bytes:
    """The lines of the results file for one realization's blocks, as
    :func:`_write_results` writes them."""
    return _long([(key, blocks)]).to_csv(
        header=False, index=False, lineterminator="\n",
        columns=list(RESULT_COLUMNS)).encode()
