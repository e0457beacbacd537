"""The parameter table every calibration tool reads: one row per deck
parameter, named by its path, with its starting value, bounds, transform,
and optionally whether it is fixed, the parameter it is tied to, a prior
value with its standard deviation, and a group.

A CSV file or a DataFrame with the columns

``parameter, value, lower, upper, transform[, fixed, tied_to, prior,
prior_sd, group]``

(``lower`` and ``upper`` blank: no bound; ``transform`` blank: ``none``).
Every fault is told in one line naming the row and the parameter.
"""

from __future__ import annotations

import math
import os
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Dict, List, Optional, Sequence, Union

import numpy as np
import pandas as pd

__all__ = ["CalibrationError", "Parameter", "ParameterTable",
           "read_parameters", "PARAMETER_COLUMNS"]

PathLike = Union[str, "os.PathLike[str]"]

PARAMETER_COLUMNS = ("parameter", "value", "lower", "upper", "transform",
                     "fixed", "tied_to", "prior", "prior_sd", "group")
_REQUIRED = ("parameter", "value")
_TRUE = {"true", "yes", "1", "t", "y"}
_FALSE = {"false", "no", "0", "f", "n", ""}
LN10 = math.log(10.0)


class CalibrationError(ValueError):
    """A parameter table, an observation table or a calibration that
    cannot be used; the message is one line naming what is wrong."""


@dataclass
class Parameter:
    """One row of the table. `value` is the starting value; `lower` and
    `upper` the bounds (infinite when none); `transform` ``none`` or
    ``log`` (base 10); `tied_to` the path of the parameter this one keeps
    its starting ratio to (`ratio`); `prior` and `prior_sd` a preferred
    value and its standard deviation, in the parameter's units."""

    path: str
    value: float
    lower: float = -math.inf
    upper: float = math.inf
    transform: str = "none"
    fixed: bool = False
    tied_to: Optional[str] = None
    prior: Optional[float] = None
    prior_sd: Optional[float] = None
    group: str = ""
    ratio: float = field(default=1.0, repr=False)

    @property
    def free(self) -> bool:
        """Estimated: neither fixed nor tied."""
        return not self.fixed and self.tied_to is None

    @property
    def log(self) -> bool:
        return self.transform == "log"

    def to_u(self, p: Any) -> Any:
        """A value in the transformed space (log10 for ``log``)."""
        return np.log10(p) if self.log else p

    def from_u(self, u: Any) -> Any:
        """A value of the transformed space back in the parameter's
        units."""
        return 10.0 ** u if self.log else u

    def at(self, u: float) -> float:
        """The value of `u` of the transformed space, a bound exactly when
        `u` is that bound's (10 ** log10(15) is not 15)."""
        for bound in (self.lower, self.upper):
            if math.isfinite(bound) and (bound > 0 or not self.log) and \
                    u == self.to_u(bound):
                return bound
        return float(self.from_u(u))

    def dp_du(self, p: float) -> float:
        """d p / d u at the value `p`."""
        return p * LN10 if self.log else 1.0

    def prior_u(self) -> tuple:
        """The prior and its standard deviation in the transformed space
        (for ``log``: log10 of the prior, and the standard deviation
        carried over linearly at the prior, sd / (prior ln 10))."""
        assert self.prior is not None and self.prior_sd is not None
        if self.log:
            return math.log10(self.prior), self.prior_sd / (self.prior * LN10)
        return self.prior, self.prior_sd


class ParameterTable:
    """The rows of a parameter table, checked (see :func:`read_parameters`).

    ``params`` lists every row in the table's order; ``free`` those
    estimated; ``frame()`` gives the table back as a DataFrame."""

    def __init__(self, params: Sequence[Parameter], source: str = "") -> None:
        self.params = list(params)
        self.source = source
        self.by_path = {p.path: p for p in self.params}

    def __len__(self) -> int:
        return len(self.params)

    def __repr__(self) -> str:
        return (f"ParameterTable({len(self.params)} parameters, "
                f"{len(self.free)} free)")

    @property
    def free(self) -> List[Parameter]:
        return [p for p in self.params if p.free]

    @property
    def tied(self) -> List[Parameter]:
        return [p for p in self.params if p.tied_to is not None]

    @property
    def varied(self) -> List[Parameter]:
        """The parameters whose value follows the estimates (free and
        tied to a free one)."""
        return [p for p in self.params if p.free or (
            p.tied_to is not None and self.by_path[p.tied_to].free)]

    def values(self, u: Optional[np.ndarray] = None) -> Dict[str, float]:
        """Every parameter's value for the free parameters' transformed
        values `u` (their starting values when None): fixed ones keep
        theirs, tied ones their ratio to the one they follow."""
        out: Dict[str, float] = {}
        free = self.free
        if u is not None and len(u) != len(free):
            raise ValueError(f"{len(u)} values for {len(free)} free "
                             "parameters")
        for i, p in enumerate(free):
            out[p.path] = p.value if u is None else p.at(float(u[i]))
        for p in self.params:
            if p.fixed:
                out[p.path] = p.value
        for p in self.params:
            if p.tied_to is not None:
                out[p.path] = p.ratio * out[p.tied_to]
        return {p.path: out[p.path] for p in self.params}

    def frame(self) -> pd.DataFrame:
        """The table as a DataFrame of the table's columns."""
        rows = [{"parameter": p.path, "value": p.value, "lower": p.lower,
                 "upper": p.upper, "transform": p.transform,
                 "fixed": p.fixed, "tied_to": p.tied_to or "",
                 "prior": p.prior, "prior_sd": p.prior_sd,
                 "group": p.group} for p in self.params]
        return pd.DataFrame(rows, columns=list(PARAMETER_COLUMNS))


def _number(text: Any, what: str, where: str, default: float) -> float:
    if text is None or (isinstance(text, float) and math.isnan(text)) or \
            str(text).strip() == "":
        return default
    s = str(text).strip()
    low = s.lower()
    if low in ("inf", "+inf", "infinity", "+infinity"):
        return math.inf
    if low in ("-inf", "-infinity"):
        return -math.inf
    try:
        return float(s)
    except ValueError:
        raise CalibrationError(f"{where}: {what} {s!r} is not a number") \
            from None


def _blank(v: Any) -> bool:
    return v is None or (isinstance(v, float) and math.isnan(v)) or \
        str(v).strip() == ""


def read_table(table: Union[PathLike, pd.DataFrame],
               what: str) -> "tuple[pd.DataFrame, str]":
    """A table given as a DataFrame (a copy, numbered from 0) or a CSV file
    (every cell as text), and the name its messages give it: ``what`` for a
    DataFrame, the file's name otherwise. A missing or unreadable file
    raises :class:`CalibrationError` in one line."""
    if isinstance(table, pd.DataFrame):
        return table.reset_index(drop=True).copy(), what
    source = Path(table).name
    try:
        df = pd.read_csv(table, dtype=str, keep_default_na=False,
                         skipinitialspace=True)
    except FileNotFoundError:
        raise CalibrationError(f"{table}: no such file") from None
    except (pd.errors.ParserError, pd.errors.EmptyDataError,
            UnicodeDecodeError) as e:
        raise CalibrationError(f"{source}: not a CSV table: "
                               + " ".join(str(e).split())) from None
    return df, source


def read_parameters(table: Union[PathLike, pd.DataFrame, ParameterTable]
                    ) -> ParameterTable:
    """The parameter table of a CSV file or a DataFrame, checked.

    Columns: ``parameter`` (a deck path), ``value`` (the starting value),
    ``lower`` and ``upper`` (bounds; blank for none), ``transform``
    (``none`` or ``log``; blank: none), and optionally ``fixed``
    (true/false), ``tied_to`` (a path of the table: the parameter keeps
    its starting ratio to that one), ``prior`` and ``prior_sd`` (a
    preferred value and its standard deviation, both or neither),
    ``group``. Raises :class:`CalibrationError` with one line naming the
    row (counted from 1 after the header) and the parameter."""
    if isinstance(table, ParameterTable):
        return table
    df, source = read_table(table, "parameter table")
    cols = [str(c).strip() for c in df.columns]
    df.columns = cols
    unknown = [c for c in cols if c not in PARAMETER_COLUMNS]
    if unknown:
        raise CalibrationError(
            f"{source}: unknown column {unknown[0]!r} (the columns: "
            f"{', '.join(PARAMETER_COLUMNS)})")
    missing = [c for c in _REQUIRED if c not in cols]
    if missing:
        raise CalibrationError(f"{source}: no column {missing[0]!r}")
    if len(set(cols)) != len(cols):
        raise CalibrationError(f"{source}: a column is given twice")
    if df.empty:
        raise CalibrationError(f"{source}: no parameters")
    params: List[Parameter] = []
    seen: Dict[str, int] = {}
    for i, row in enumerate(df.to_dict("records"), 1):
        path = str(row["parameter"]).strip()
        where = f"{source}, row {i}" + (f" ({path})" if path else "")
        if not path:
            raise CalibrationError(f"{where}: no parameter path")
        if path in seen:
            raise CalibrationError(f"{where}: given twice (row {seen[path]})")
        seen[path] = i
        value = _number(row.get("value"), "value", where, math.nan)
        if not math.isfinite(value):
            raise CalibrationError(f"{where}: the value must be a finite "
                                   "number")
        lower = _number(row.get("lower"), "lower", where, -math.inf)
        upper = _number(row.get("upper"), "upper", where, math.inf)
        transform = str(row.get("transform") or "").strip().lower() or "none"
        if transform not in ("none", "log"):
            raise CalibrationError(f"{where}: transform {transform!r} is "
                                   "neither none nor log")
        fixed_text = str(row.get("fixed") or "").strip().lower()
        if fixed_text not in _TRUE | _FALSE:
            raise CalibrationError(f"{where}: fixed {fixed_text!r} is "
                                   "neither true nor false")
        fixed = fixed_text in _TRUE
        tied = str(row.get("tied_to") or "").strip() or None
        prior = None if _blank(row.get("prior")) else \
            _number(row.get("prior"), "prior", where, math.nan)
        prior_sd = None if _blank(row.get("prior_sd")) else \
            _number(row.get("prior_sd"), "prior_sd", where, math.nan)
        group = str(row.get("group") or "").strip()
        if lower > upper:
            raise CalibrationError(f"{where}: lower bound {lower!r} is above "
                                   f"upper bound {upper!r}")
        if not lower <= value <= upper:
            raise CalibrationError(f"{where}: the value {value!r} is outside "
                                   f"its bounds [{lower!r}, {upper!r}]")
        if lower == upper and not fixed and tied is None:
            raise CalibrationError(f"{where}: equal bounds leave nothing to "
                                   "estimate (mark it fixed)")
        if transform == "log":
            if value <= 0:
                raise CalibrationError(f"{where}: a log-transformed value "
                                       f"must be above 0, not {value!r}")
            if lower <= 0:
                lower = 0.0 if lower < 0 else lower
        if fixed and tied is not None:
            raise CalibrationError(f"{where}: both fixed and tied")
        if (prior is None) != (prior_sd is None):
            raise CalibrationError(f"{where}: prior and prior_sd go "
                                   "together")
        if prior is not None:
            assert prior_sd is not None
            if not (math.isfinite(prior) and math.isfinite(prior_sd)
                    and prior_sd > 0):
                raise CalibrationError(f"{where}: prior_sd must be a finite "
                                       "number above 0")
            if fixed or tied is not None:
                raise CalibrationError(f"{where}: a prior on a fixed or tied "
                                       "parameter has nothing to act on")
            if transform == "log" and prior <= 0:
                raise CalibrationError(f"{where}: a log-transformed "
                                       "parameter's prior must be above 0")
        params.append(Parameter(path, value, lower, upper, transform, fixed,
                                tied, prior, prior_sd, group))
    by = {p.path: p for p in params}
    for i, p in enumerate(params, 1):
        if p.tied_to is None:
            continue
        where = f"{source}, row {i} ({p.path})"
        parent = by.get(p.tied_to)
        if parent is None:
            raise CalibrationError(f"{where}: tied to {p.tied_to!r}, which "
                                   "is not in the table")
        if parent is p:
            raise CalibrationError(f"{where}: tied to itself")
        if parent.tied_to is not None:
            raise CalibrationError(f"{where}: tied to {p.tied_to!r}, which "
                                   "is tied itself")
        if parent.value == 0:
            raise CalibrationError(f"{where}: tied to {p.tied_to!r}, whose "
                                   "starting value 0 gives no ratio")
        p.ratio = p.value / parent.value
    if not any(p.free for p in params):
        raise CalibrationError(f"{source}: every parameter is fixed or tied: "
                               "nothing to estimate")
    return ParameterTable(params, source)
