"""Units of a model, declared once: the length, the time and, for transport
runs, the concentration.

The program works in whatever consistent units the deck was written in and
never says which. :class:`Units` declares them, on a deck object
(``deck.units = qmr.Units("m", "d")``) or on the commands
(``--units m,d,mg/L``), and every label, frame and NetCDF variable made from
the run's outputs carries them: a quantity's unit is built from its
dimension (``"L/T"`` for a velocity, ``"L2/T"`` for a transmissivity,
``"C L3/T"`` for a solute mass rate). Undeclared units read as the neutral
words "length", "time" and "concentration".

Units are checked and converted with pint (Debian's python3-pint), loaded
only when units are declared.
"""

from __future__ import annotations

import functools
import math
import re
from dataclasses import dataclass
from typing import Any, Dict, Mapping, Optional, Sequence, Tuple, Union

import numpy as np

__all__ = ["Units", "UnitsLike", "NEUTRAL", "dimension", "convert"]

# The neutral words of undeclared units, by base dimension.
NEUTRAL = {"L": "length", "T": "time", "C": "concentration"}
_ORDER = ("C", "L", "T")
_SUPERSCRIPT = str.maketrans("0123456789-", "⁰¹²³⁴⁵⁶⁷⁸⁹⁻")
# Mass units tried for a concentration times a volume (mg/L × m³ = g).
_MASSES = ("ng", "ug", "mg", "g", "kg", "t")

UnitsLike = Union[None, str, Sequence[Optional[str]], "Units"]


@functools.lru_cache(maxsize=None)
def dimension(dim: str) -> Tuple[Tuple[str, int], ...]:
    """A dimension written as in the deck description (``"L/T"``,
    ``"L2/T"``, ``"1/L"``, ``"C L3/T"``, ``""`` for none) as the powers of
    its base dimensions C, L and T, in that order, zeros left out."""
    powers = {b: 0 for b in _ORDER}
    num, _, den = dim.partition("/")
    for sign, part in ((1, num), (-1, den)):
        for tok in part.replace("·", " ").replace("*", " ").split():
            if tok == "1":
                continue
            m = re.fullmatch(r"([CLT])(\d*)", tok)
            if not m:
                raise ValueError(f"dimension {dim!r}: {tok!r} is not C, L "
                                 "or T with an optional power")
            powers[m[1]] += sign * int(m[2] or 1)
    return tuple((b, powers[b]) for b in _ORDER if powers[b])


@functools.lru_cache(maxsize=1)
def _registry() -> Any:
    try:
        import pint
    except ImportError:     # pragma: no cover - Debian's python3-pint
        raise ImportError("declared units need pint (Debian package "
                          "python3-pint)") from None
    return pint.UnitRegistry()


def _factor(base: str, power: int, alone: bool) -> str:
    if (power != 1 or not alone) and any(c in base for c in "/ ·*"):
        base = f"({base})"
    return base + (str(power).translate(_SUPERSCRIPT) if power != 1 else "")


def _compose(parts: Sequence[Tuple[str, int]]) -> str:
    """Names and powers as one unit text: ``m²/d``, ``1/d``, ``mg/L·m³``."""
    alone = len(parts) == 1
    num = [_factor(b, p, alone) for b, p in parts if p > 0]
    den = [_factor(b, -p, False) for b, p in parts if p < 0]
    text = "·".join(num) or ("1" if den else "")
    if den:
        below = "·".join(den)
        text += "/" + (f"({below})" if len(den) > 1 else below)
    return text


@dataclass(frozen=True)
class Units:
    """The units of a model: ``length`` and ``time`` (``"m"``, ``"d"``),
    and ``concentration`` for transport runs (``"mg/L"``). Any of them
    may be None (undeclared: the labels say "length", "time",
    "concentration"). Each declared unit is checked with pint: a length
    must be a length, a time a time."""

    length: Optional[str] = None
    time: Optional[str] = None
    concentration: Optional[str] = None

    def __post_init__(self) -> None:
        for name, want in (("length", "[length]"), ("time", "[time]"),
                           ("concentration", None)):
            text = getattr(self, name)
            if text is None:
                continue
            if not isinstance(text, str) or not text.strip():
                raise ValueError(f"units: {name} {text!r} is not a unit")
            object.__setattr__(self, name, text.strip())
            try:
                u = _registry().Unit(text.strip())
            except ImportError:
                raise
            except Exception:
                if want is None:    # ppm, Bq/L...: a label, not converted
                    continue
                raise ValueError(f"units: {name} {text!r} is not a unit "
                                 "pint knows") from None
            if want is not None and str(u.dimensionality) != want:
                raise ValueError(f"units: {name} {text!r} is not a {name} "
                                 f"({u.dimensionality})")

    @staticmethod
    def parse(given: UnitsLike) -> "Units":
        """Units from ``"m,d"``, ``"m,d,mg/L"``, a sequence of up to three
        texts, a Units (returned as it is) or None (none declared); an
        empty item leaves that unit undeclared."""
        if isinstance(given, Units):
            return given
        if given is None:
            return Units()
        items = given.split(",") if isinstance(given, str) else list(given)
        if not 1 <= len(items) <= 3:
            raise ValueError(f"units: give the length and time units and "
                             f"optionally the concentration's (m,d or "
                             f"m,d,mg/L), not {given!r}")
        clean = [(i.strip() or None) if isinstance(i, str) else i
                 for i in items] + [None] * (3 - len(items))
        return Units(clean[0], clean[1], clean[2])

    def __bool__(self) -> bool:
        return any((self.length, self.time, self.concentration))

    def __str__(self) -> str:
        return ",".join(u or "" for u in (self.length, self.time,
                                          self.concentration)).rstrip(",")

    def _base(self, b: str) -> Optional[str]:
        return {"L": self.length, "T": self.time,
                "C": self.concentration}[b]

    def declared(self, dim: str) -> bool:
        """Whether every base unit of `dim` is declared."""
        return all(self._base(b) for b, _ in dimension(dim))

    def unit(self, dim: str) -> Optional[str]:
        """The unit of a quantity of dimension `dim` (``"L2/T"`` gives
        ``"m²/d"``), "" for a pure number, None when a unit it needs is
        not declared. A concentration times a volume is named as the mass
        it is when that is exact (mg/L × m³ gives g)."""
        parts = dimension(dim)
        if not self.declared(dim):
            return None
        powers = dict(parts)
        mass = self._mass() if powers.get("C") == 1 and \
            powers.get("L", 0) >= 3 else None
        named = []
        for b, p in parts:
            if mass is not None and b == "C":
                named.append((mass, 1))
            elif mass is not None and b == "L":
                if p - 3:
                    named.append((self.length or "", p - 3))
            else:
                named.append((self._base(b) or "", p))
        return _compose(named)

    def words(self, dim: str) -> str:
        """The unit of `dim` (:meth:`unit`), or the neutral words where a
        unit is not declared: "length/time", "concentration·length³"; "-"
        for a pure number."""
        text = self.unit(dim)
        if text is None:
            text = _compose([(self._base(b) or NEUTRAL[b], p)
                             for b, p in dimension(dim)])
        return text or "-"

    def label(self, name: str, dim: str) -> str:
        """An axis or column label: ``"head (m)"``, ``"distance (length)"``,
        ``"porosity (-)"``; a label that is its unit's neutral word
        (``"time"``, undeclared) stays alone."""
        words = self.words(dim)
        return name if words == name else f"{name} ({words})"

    def pint_unit(self, dim: str) -> str:
        """The unit of `dim` as pint reads it; raises ValueError when a
        unit it needs is not declared."""
        if not self.declared(dim):
            raise ValueError(f"units: {self.words(dim)} is not declared")
        return " * ".join(f"({self._base(b)}) ** {p}"
                          for b, p in dimension(dim)) or "dimensionless"

    def factor(self, dim: str, to: "UnitsLike") -> float:
        """The number a quantity of dimension `dim` in these units is
        multiplied by to be in the units `to`."""
        other = Units.parse(to)
        if not dimension(dim):
            return 1.0
        ureg = _registry()
        q = ureg.Quantity(1.0, self.pint_unit(dim))
        return float(q.to(other.pint_unit(dim)).magnitude)

    def convert(self, values: Any, dim: str, to: "UnitsLike") -> Any:
        """`values` (a number or an array) of dimension `dim` in the units
        `to`."""
        f = self.factor(dim, to)
        return values * f if f != 1.0 else values

    def merged(self, other: "UnitsLike") -> "Units":
        """These units, with the units `other` declares taking their
        place."""
        o = Units.parse(other)
        return Units(o.length or self.length, o.time or self.time,
                     o.concentration or self.concentration)

    def _mass(self) -> Optional[str]:
        """The mass unit a concentration times a cubed length is exactly,
        when there is one."""
        ureg = _registry()
        try:
            q = ureg.Quantity(1.0, f"({self.concentration}) * "
                                   f"({self.length}) ** 3")
            if str(q.dimensionality) != "[mass]":
                return None
            for m in _MASSES:
                v = q.to(m).magnitude
                if math.isclose(v, 1.0, rel_tol=1e-9):
                    return "µg" if m == "ug" else m
        except Exception:       # pint's own errors: no such mass
            return None
        return None


def value_dimension(kind: Optional[str]) -> Optional[str]:
    """The dimension of a run's value: "L" (a head, flow), "C" (a
    concentration, transport), None when the kind is not known."""
    return {"flow": "L", "transport": "C"}.get(kind or "")


def quantity_name(kind: Optional[str]) -> str:
    """What a run's values are: "head", "concentration" or, when the kind
    is not known, "head or concentration"."""
    return {"flow": "head", "transport": "concentration"}.get(
        kind or "", "head or concentration")


def annotate(frame: Any, units: UnitsLike,
             dims: Mapping[str, Optional[str]],
             kind: Optional[str] = None) -> Any:
    """Gives a reader's frame its units in ``attrs``: ``attrs["units"]``
    maps each of `dims`' names (the index name, "value" for the values,
    or a column name) to its unit text or neutral words,
    ``attrs["dimensions"]`` to its dimension, ``attrs["unit_system"]`` is
    the :class:`Units` declared and ``attrs["quantity"]`` what the values
    are. A name of dimension None has no known unit (the words
    "head or concentration")."""
    u = Units.parse(units)
    frame.attrs["units"] = {k: (u.words(d) if d is not None
                                else quantity_name(kind))
                            for k, d in dims.items()}
    frame.attrs["dimensions"] = dict(dims)
    frame.attrs["unit_system"] = u
    frame.attrs["quantity"] = quantity_name(kind)
    return frame


def convert(frame: Any, to: UnitsLike) -> Any:
    """A copy of a frame annotated by a reader (``attrs["dimensions"]``)
    with its index, columns and values converted to the units `to`; its
    ``attrs`` describe the new units. Raises ValueError when a unit the
    frame needs is declared on neither side."""
    import pandas as pd

    src: Units = frame.attrs.get("unit_system") or Units()
    dst = src.merged(to)
    dims: Dict[str, Optional[str]] = frame.attrs.get("dimensions", {})
    out = frame.copy()
    out.attrs = dict(frame.attrs)
    index_dim = dims.get(str(frame.index.name)) if frame.index.name else None
    if index_dim:
        out.index = pd.Index(src.convert(frame.index.to_numpy(dtype=float),
                                         index_dim, dst),
                             name=frame.index.name)
    for col in list(out.columns):
        key = col[0] if isinstance(col, tuple) else col
        d = dims.get(str(key), dims.get("value")) if str(key) not in (
            str(frame.index.name),) else None
        if d and np.issubdtype(out[col].dtype, np.number):
            out[col] = src.convert(out[col].to_numpy(dtype=float), d, dst)
    for key in ("x", "time"):           # coordinates kept in attrs
        d = dims.get(key)
        v = out.attrs.get(key)
        if d and isinstance(v, list) and key != frame.index.name:
            out.attrs[key] = list(src.convert(np.asarray(v, dtype=float), d,
                                              dst))
        elif d and isinstance(v, dict) and key != frame.index.name:
            out.attrs[key] = {k: float(src.convert(x, d, dst))
                              for k, x in v.items()}
    kind = {"head": "flow", "concentration": "transport"}.get(
        frame.attrs.get("quantity", ""))
    return annotate(out, dst, dims, kind)
