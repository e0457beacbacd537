"""Input decks as Python objects: read, built in code, checked and written.

A deck is a :class:`FlowDeck` or a :class:`TransportDeck`. Its values carry
the names of :mod:`qmr.deck.schema` (``deck.media[1].conductivity``,
``deck.prescribed_values[2].value``); lists of nodes, elements, media,
steps and records are numbered from 1 as in the deck. :meth:`Deck.read`
reads any deck the program reads; :meth:`Deck.write` writes the fixed
columns back, each value with the most digits its field holds.

The module is over 500 lines for one reason: :class:`Deck` reads, checks,
locates and writes through the same description of the records, and its
methods are kept together rather than spread over mixins that would share
its private state.
"""

from __future__ import annotations

import functools
import operator
import os
import warnings
from typing import (Any, Callable, Dict, Iterator, List, Optional, Sequence,
                    Tuple, Type, TypeVar, Union)

from ..units import Units
from . import schema
from .fields import (DeckError, DigitsLostWarning, _format_int, _format_text,
                     format_real, parse_int, parse_real)
from .items import (_ITEMS, FlowFlux, FlowMedium, InitialValue, NumberedList,
                    PrescribedValue, TransportFlux, TransportMedium)
from .schema import Field, Record, Section

__all__ = [
    "Deck",
    "FlowDeck",
    "TransportDeck",
    "DeckError",
    "DigitsLostWarning",
    "NumberedList",
    "FlowMedium",
    "TransportMedium",
    "PrescribedValue",
    "FlowFlux",
    "TransportFlux",
    "InitialValue",
    "format_real",
    "parse_real",
    "parse_int",
]

PathLike = Union[str, "os.PathLike[str]"]
_T = TypeVar("_T")
_BOM = b"\xef\xbb\xbf"

# A caller's spelling of a number in its field (see Deck.to_bytes).
Spelling = Callable[[Field, Any], Optional[str]]

# The program's own check of a deck (``qmr --check``), installed by
# qmr.runner: decks are read and written without the program, and this
# package does not import the module that runs it.
CHECK: Optional[Callable[..., List[Any]]] = None


# ---------------------------------------------------------------------------
# Decks
# ---------------------------------------------------------------------------

def _applies(rec: Record, imode: int) -> bool:
    other = 2 if imode == 1 else 1
    return f"imode == {other}" not in rec.when


@functools.lru_cache(maxsize=None)
def _row_fields(rec: Record, later: bool) -> Tuple[Field, ...]:
    """The fields of a written row: the first row of a list holds its
    leading values, the later ones only list values."""
    if later and rec.shape == "list":
        return (rec.fields[0],) * rec.per_record
    return tuple(f for f, _, _ in rec.columns())


def _text_lines(data: bytes) -> List[bytes]:
    """The records of a deck file as the program splits it."""
    if data.startswith(_BOM):
        data = data[len(_BOM):]
    lines = data.split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    return [ln[:-1] if ln.endswith(b"\r") else ln for ln in lines]


def _spelled(f: Field, v: Any, text: str) -> bytes:
    """A field's text given by a caller, checked: its width, and the value
    the program reads from it."""
    if len(text) != f.width:
        raise ValueError(f"is spelled {text!r}, not {f.width} columns")
    back: Any = parse_real(text) if f.kind == "F" else parse_int(text)
    if back != v:
        raise ValueError(f"is spelled {text!r}, which reads as {back!r}")
    return text.encode("latin-1")


def _touches_left(fields: Sequence[Field], texts: Sequence[bytes],
                  k: int) -> bool:
    """Whether field `k`, moved one column left, would start right after
    the number of field `k - 1` (right-justified to its last column): the
    two would read as a record typed a column to the left."""
    if k == 0 or len(texts[k]) < fields[k].width - 1:
        return False
    before = texts[k - 1]
    return fields[k - 1].kind in "FI" and bool(before.strip()) and \
        not before.endswith(b" ")


def _join_fields(fields: Sequence[Field], texts: List[bytes],
                 given: Sequence[bool] = ()) -> bytes:
    """The fields of a record in their columns, numbers right-justified,
    with a blank between a number and the field before it wherever that
    loses no digit: a number that fills its field is written one column
    shorter when that text reads back as the same number, else the field
    before it, a decimal with a point and room to spare, moves one column
    left (a trailing blank adds nothing to it, blanks read as zeros or
    not) unless it would then start right after the number before it;
    otherwise the two touch."""
    texts = list(texts)
    given = list(given) or [False] * len(texts)
    for i in range(1, len(texts)):
        f, prev = fields[i], fields[i - 1]
        if f.kind not in "FI" or len(texts[i]) < f.width or \
                not texts[i - 1].strip() or given[i] or given[i - 1]:
            continue
        if f.kind == "F":
            full = texts[i].decode()
            try:
                short, _ = format_real(parse_real(full), f.width - 1)
                if parse_real(short) == parse_real(full):
                    texts[i] = short.encode()
                    continue
            except ValueError:
                pass
        t = texts[i - 1]
        if prev.kind == "F" and len(t) < prev.width and b"." in t and \
                not any(c in t for c in b"EeDd+") and b"-" not in t[1:] \
                and not _touches_left(fields, texts, i - 1):
            texts[i - 1] = t + b" "
    out = []
    for f, t in zip(fields, texts):
        out.append(t.ljust(f.width) if f.kind == "A" else t.rjust(f.width))
    return b"".join(out).rstrip(b" ")


# Values fixed by the class of the deck: taken when equal to its own.
_FIXED = ("run_type", "imode")


def _without_units(values: Dict[str, Any]) -> Dict[str, Any]:
    return {k: v for k, v in values.items() if k != "units"}


def _same_count(value: Any, count: int) -> bool:
    try:
        return operator.index(value) == count
    except TypeError:
        return isinstance(value, float) and value == count


class Deck:
    """An input deck of qmr: the base of :class:`FlowDeck` and
    :class:`TransportDeck`.

    Every value of the deck is an attribute named as in
    ``docs/deck-fields.md`` (column *Name*); lists are :class:`NumberedList`
    numbered from 1. Counts are taken from the lists when the deck is
    written (``elements`` from the coordinates of a typed mesh, ``steps``
    from typed times); ``elements`` and ``steps`` are set by hand for a
    generated mesh or generated times. The variant code, when not set, is
    blank with a ``flux_file`` and 05 (no flux file) without.

    ``units`` (a :class:`qmr.Units`, or ``"m,d"``, ``"m,d,mg/L"``) are the
    units the deck's values are in: no part of the deck's text nor of its
    equality, they label the run's outputs and reports.
    """

    run_type = ""
    imode = 0

    def __init__(self, **values: Any) -> None:
        if not self.imode:
            raise TypeError("build a FlowDeck or a TransportDeck")
        for name, f in self._scalars().items():
            if name in self._derived():
                continue
            object.__setattr__(self, name, f.default)
        for attr in self._lists():
            object.__setattr__(self, attr, NumberedList())
        object.__setattr__(self, "units", Units())
        self.print_interval = 1
        self.flux_file: Optional[str] = None
        self.variant: Optional[str] = None     # from flux_file when written
        fixed = {k: values.pop(k) for k in list(values)
                 if k in _FIXED or k in self._derived()}
        for k, v in values.items():
            if k not in self._scalars() and k not in self._lists() and \
                    k != "units":
                raise TypeError(f"{type(self).__name__} has no value {k!r}"
                                f"{self._hint(k)}")
            setattr(self, k, v)
        for k, v in fixed.items():       # read-only: taken when equal
            setattr(self, k, v)

    @classmethod
    def _hint(cls, name: str) -> str:
        import difflib
        near = difflib.get_close_matches(
            name, list(cls._scalars()) + list(cls._lists()), 1)
        return f" (did you mean {near[0]!r}?)" if near else ""

    # -- the description, for this run type ------------------------------
    _desc: Dict[Tuple[type, str], Any] = {}

    @classmethod
    def _cached(cls, what: str) -> Any:
        key = (cls, what)
        if key not in Deck._desc:
            Deck._desc[key] = getattr(cls, "_make" + what)()
        return Deck._desc[key]

    @classmethod
    def _records(cls) -> List[Tuple[Section, Record]]:
        return cls._cached("_records")  # type: ignore[no-any-return]

    @classmethod
    def _scalars(cls) -> Dict[str, Field]:
        return cls._cached("_scalars")  # type: ignore[no-any-return]

    @classmethod
    def _lists(cls) -> Dict[str, Record]:
        return cls._cached("_lists")  # type: ignore[no-any-return]

    @classmethod
    def _derived(cls) -> Dict[str, Field]:
        """Counts that are always the length of a list (read-only)."""
        return cls._cached("_derived")  # type: ignore[no-any-return]

    @classmethod
    def _make_records(cls) -> List[Tuple[Section, Record]]:
        return [(s, r) for s, r in schema.records() if _applies(r, cls.imode)]

    @classmethod
    def _make_scalars(cls) -> Dict[str, Field]:
        out: Dict[str, Field] = {}
        for _, r in cls._records():
            if r.shape == "single":
                for f in r.fields:
                    if not f.ignored and f.code != "runtype":
                        out[f.name] = f
            elif r.shape == "list":
                for f in r.leading:
                    out[f.name] = f
        return out

    @classmethod
    def _make_lists(cls) -> Dict[str, Record]:
        return {r.attr: r for _, r in cls._records()
                if r.shape in ("repeat", "list") and r.attr}

    @classmethod
    def _make_derived(cls) -> Dict[str, Field]:
        return {f.name: f for f in cls._scalars().values()
                if f.derived and f.derived[2] == "True"}

    def __setattr__(self, name: str, value: Any) -> None:
        if name == "units":
            object.__setattr__(self, name, Units.parse(value))
            return
        if name in _FIXED:
            if value == getattr(type(self), name):
                return
            raise DeckError(
                f"{name} of a {type(self).__name__} is "
                f"{getattr(type(self), name)!r}, not {value!r} (build a "
                f"{'TransportDeck' if self.imode == 1 else 'FlowDeck'})",
                field=name, value=value)
        if name not in self._scalars() and name not in self._lists():
            raise AttributeError(
                f"{type(self).__name__} has no value {name!r}"
                f"{self._hint(name)}")
        if name in self._derived():
            if _same_count(value, getattr(self, name)):
                return
            raise AttributeError(
                f"{name} is the length of {self._derived()[name].derived[0]}"
                f" ({getattr(self, name)}), not {value!r}")
        if name in self._lists() and not isinstance(value, NumberedList):
            rec = self._lists()[name]
            items = list(value)
            if rec.shape == "repeat":
                cls = _ITEMS[rec.item or ""]
                items = [cls(**it) if isinstance(it, dict) else it
                         for it in items]
            value = NumberedList(items)
        object.__setattr__(self, name, value)

    def __getattr__(self, name: str) -> Any:
        d = type(self)._derived()
        if name in d:
            return len(object.__getattribute__(self, d[name].derived[0]))
        raise AttributeError(f"{type(self).__name__} has no value {name!r}")

    # -- values by code name ---------------------------------------------
    def _code_values(self) -> Dict[str, Any]:
        out: Dict[str, Any] = {"runtype": self.run_type}
        for name, f in self._scalars().items():
            out[f.code] = getattr(self, name)
        return out

    def _sync(self) -> None:
        """Counts from the lists, and the variant code of a deck built
        without a flux file."""
        vals = self._code_values()
        for name, f in self._scalars().items():
            if f.derived and f.derived[2] != "True":
                attr, off, cond = f.derived
                if schema.evaluate(cond, vals):
                    object.__setattr__(self, name,
                                       len(getattr(self, attr)) + off)
        if self.variant is None:
            self.variant = "" if self.flux_file is not None else "05"
        if (self.flux_file is None
                and self.variant.rstrip(" ") not in schema.NO_FLUX_VARIANTS):
            raise DeckError(
                f"Job records: variant code {self.variant!r} asks for a flux "
                "file, and flux_file is None (give its name, or the variant "
                "05, OW or AN)", section="Job records",
                record="flux file name", field="flux_file", value=None)

    def _rows(self) -> Iterator[Tuple[Section, Record, List[List[Any]]]]:
        """The active records with the values of their rows."""
        self._sync()
        scope = self._code_values()
        for sec, rec in self._records():
            if not schema.evaluate(rec.when, scope):
                continue
            if rec.shape == "single":
                vals = [self.run_type if f.code == "runtype" else
                        f.default if f.ignored else getattr(self, f.name)
                        for f in rec.fields]
                # Trailing blanks of a text are no part of it.
                vals = [v.rstrip(" ") if f.kind == "A" and isinstance(v, str)
                        else v for f, v in zip(rec.fields, vals)]
                yield sec, rec, [vals]
                continue
            n = schema.evaluate(rec.count or "0", scope)
            items = getattr(self, rec.attr or "")
            if len(items) != max(n, 0):
                raise DeckError(
                    f"{sec.title}: {rec.attr} has {len(items)} entries where "
                    f"`{rec.count}` = {n} are read",
                    section=sec.title, record=rec.title, field=rec.attr,
                    value=len(items))
            if rec.shape == "repeat":
                rows = [[f.default if f.ignored else getattr(it, f.name)
                         for f in rec.fields] for it in items]
                yield sec, rec, rows
                continue
            flat = [getattr(self, f.name) for f in rec.leading] + list(items)
            if not flat:
                if rec.empty_takes_record:
                    yield sec, rec, [[]]
                continue
            k = rec.per_record
            yield sec, rec, [flat[i:i + k] for i in range(0, len(flat), k)]

    # -- writing ----------------------------------------------------------
    def to_bytes(self, spell: Optional[Spelling] = None) -> bytes:
        """The deck as the bytes of a file (fixed columns, LF line ends).

        Raises DeckError for a value that cannot be written in its field;
        warns (DigitsLostWarning) when a value reads back differently.

        `spell(field, value)` may give a number's text itself, its field's
        full width in any spelling the program reads (an exponent with
        ``D`` or a sign alone, the number left in its field, ``100.``):
        the tests of the reader write decks so. The text must read back as
        the value (DeckError otherwise); None leaves the field to the
        writer.
        """
        out: List[bytes] = []
        for sec, rec, rows in self._rows():
            for ri, row in enumerate(rows, 1):
                out.append(self._line(sec, rec, ri, row, spell))
        return b"\n".join(out) + b"\n"

    def to_text(self) -> str:
        """The deck as text (see :meth:`to_bytes`)."""
        return self.to_bytes().decode("utf-8", "surrogateescape")

    def write(self, path: PathLike) -> None:
        """Write the deck to `path` (see :meth:`to_bytes`)."""
        data = self.to_bytes()
        with open(path, "wb") as fh:
            fh.write(data)

    @staticmethod
    def _where(sec: Section, rec: Record, ri: int, f: Field) -> str:
        w = f"{sec.title}, {rec.title}"
        w += f" {ri}" if rec.shape != "single" else ""
        return f"{w}, field {f.name} ({f.code})"

    def _line(self, sec: Section, rec: Record, ri: int,
              row: Sequence[Any], spell: Optional[Spelling] = None
              ) -> bytes:
        fields = _row_fields(rec, ri > 1)
        texts: List[bytes] = []        # each value's text, unpadded
        given: List[bool] = []         # texts the caller spelled
        for f, v in zip(fields, row):
            t = spell(f, v) if spell is not None and f.kind in "FI" \
                else None
            given.append(t is not None)
            try:
                if t is not None:
                    texts.append(_spelled(f, v, t))
                elif f.kind == "F":
                    if isinstance(v, (str, bytes)) or v is None:
                        raise ValueError("is not a number")
                    text, exact = format_real(v, f.width)
                    if not exact:
                        warnings.warn(DigitsLostWarning(
                            f"{self._where(sec, rec, ri, f)}: {v!r} is "
                            f"written as {text!r}, which reads back as "
                            f"{parse_real(text)!r}"), stacklevel=4)
                    texts.append(text.encode())
                elif f.kind == "I":
                    texts.append(_format_int(v, f.width).strip().encode())
                else:
                    texts.append(_format_text(v, f.width))
            except ValueError as e:
                raise DeckError(
                    f"{self._where(sec, rec, ri, f)}: {v!r} {e}",
                    section=sec.title, record=rec.title, field=f.name,
                    value=v) from None
        return _join_fields(fields, texts, given)

    def validate(self) -> None:
        """Raise DeckError for a value the deck cannot be written with (see
        :meth:`to_bytes`); the program's own range checks are
        :meth:`check`'s."""
        self.to_bytes()

    def locate(self, record: int, column: Optional[int] = None) -> str:
        """Where record `record` (from 1) of the deck as written, and
        `column` in it, lie in the object: ``"media[2].conductivity"``,
        ``"coordinates[10]"``, ``"steps"``... For a column beyond the
        fields of the record, or no column, the record's list item or
        section. Raises IndexError beyond the deck's last record."""
        line = 0
        for sec, rec, rows in self._rows():
            if line + len(rows) < record:
                line += len(rows)
                continue
            ri = record - line
            flds = _row_fields(rec, ri > 1)
            k, col = None, 1
            if column is not None:
                for i, f in enumerate(flds):
                    if col <= column < col + f.width:
                        k = i
                        break
                    col += f.width
            if rec.shape == "repeat":
                base = f"{rec.attr}[{ri}]"
                if k is None or flds[k].ignored:
                    return base
                return f"{base}.{flds[k].name}"
            if rec.shape == "list":
                if k is None:
                    return f"{rec.attr}"
                flat = (ri - 1) * rec.per_record + k
                if flat < len(rec.leading):
                    return rec.leading[flat].name
                return f"{rec.attr}[{flat - len(rec.leading) + 1}]"
            if k is None:
                return sec.title if len(flds) > 1 else flds[0].name
            return flds[k].name
        raise IndexError(f"the deck has {line} records")

    # -- comparing ----------------------------------------------------------
    def values(self) -> List[Tuple[str, List[List[Any]]]]:
        """The values the deck holds, record by record, as written."""
        return [(rec.key, rows) for _, rec, rows in self._rows()]

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Deck):
            return NotImplemented
        if type(self) is not type(other):
            return False
        try:
            return self.values() == other.values()
        except DeckError:            # decks that cannot be written
            return _without_units(vars(self)) == _without_units(vars(other))

    __hash__ = None  # type: ignore[assignment]

    def __repr__(self) -> str:
        return (f"{type(self).__name__}(title={self.title!r}, "
                f"elements={self.elements!r}, steps={self.steps!r})")

    def copy(self) -> "Deck":
        """A deep copy of the deck."""
        import copy
        return copy.deepcopy(self)

    # -- reading ----------------------------------------------------------
    @staticmethod
    def read(path: PathLike) -> "Deck":
        """Read a deck file: a FlowDeck or a TransportDeck, by its first
        letter. Reads every deck the program reads (blank fields, numbers
        without a decimal point, D exponents, CRLF line ends, a UTF-8
        byte-order mark, records shorter or longer than their layout).
        Raises DeckError naming the record and columns of a fault."""
        with open(path, "rb") as fh:
            data = fh.read()
        return Deck.from_bytes(data, name=os.fspath(path))

    @staticmethod
    def from_text(text: Union[str, bytes], name: str = "deck") -> "Deck":
        """Read a deck from its text (see :meth:`read`)."""
        if isinstance(text, str):
            text = text.encode("utf-8", "surrogateescape")
        return Deck.from_bytes(text, name=name)

    @staticmethod
    def from_bytes(data: bytes, name: str = "deck") -> "Deck":
        lines = _text_lines(data)
        first = lines[0][:1] if lines else b""
        cls: Type[Deck]
        if first == b"F":
            cls = FlowDeck
        elif first == b"T":
            cls = TransportDeck
        else:
            raise DeckError(
                f"{name}, record 1, column 1: run type "
                f"{first.decode('latin-1')!r} is neither F (flow) nor T "
                "(transport)",
                section="Job records", record="run-type record",
                field="run_type", line=1)
        return cls._parse(lines, name)

    @classmethod
    def _parse(cls, lines: List[bytes], name: str) -> "Deck":
        deck = cls.__new__(cls)
        Deck.__init__(deck)
        scope: Dict[str, Any] = {}
        pos = 0

        def take(sec: Section, rec: Record) -> bytes:
            nonlocal pos
            if pos >= len(lines):
                raise DeckError(
                    f"{name}: end of file after record {pos}, where the "
                    f"{rec.title} ({sec.title}) was expected",
                    section=sec.title, record=rec.title, line=pos + 1)
            pos += 1
            return lines[pos - 1]

        def field(sec: Section, rec: Record, f: Field, line: bytes,
                  col: int) -> Any:
            raw = line[col:col + f.width].ljust(f.width)
            if f.kind == "A":
                return raw.decode("utf-8", "surrogateescape").rstrip(" ")
            try:
                return parse_int(raw) if f.kind == "I" else parse_real(raw)
            except ValueError as e:
                raise DeckError(
                    f"{name}, record {pos}, columns {col + 1}-"
                    f"{col + f.width} ({rec.title}): "
                    f"\"{raw.decode('latin-1')}\" {e}",
                    section=sec.title, record=rec.title, field=f.name,
                    value=raw.decode("latin-1"), line=pos) from None

        for sec, rec in cls._records():
            if not schema.evaluate(rec.when, scope):
                continue
            if rec.shape == "single":
                line = take(sec, rec)
                col = 0
                for f in rec.fields:
                    v = field(sec, rec, f, line, col)
                    col += f.width
                    if f.ignored:
                        continue
                    scope[f.code] = v
                    if f.code != "runtype" and f.name not in cls._derived():
                        object.__setattr__(deck, f.name, v)
                continue
            n = max(int(schema.evaluate(rec.count or "0", scope)), 0)
            if rec.shape == "repeat":
                icls = _ITEMS[rec.item or ""]
                items = []
                for _ in range(n):
                    line = take(sec, rec)
                    col = 0
                    kw = {}
                    for f in rec.fields:
                        v = field(sec, rec, f, line, col)
                        col += f.width
                        if not f.ignored:
                            kw[f.name] = v
                    items.append(icls(**kw))
                object.__setattr__(deck, rec.attr or "", NumberedList(items))
                continue
            fields = list(rec.leading) + [rec.fields[0]] * n
            vals: List[Any] = []
            if not fields and rec.empty_takes_record:
                take(sec, rec)
            for i in range(0, len(fields), rec.per_record):
                line = take(sec, rec)
                col = 0
                for f in fields[i:i + rec.per_record]:
                    vals.append(field(sec, rec, f, line, col))
                    col += f.width
            for f, v in zip(rec.leading, vals):
                object.__setattr__(deck, f.name, v)
                scope[f.code] = v
            object.__setattr__(deck, rec.attr or "",
                               NumberedList(vals[len(rec.leading):]))
        return deck

    # -- checking ---------------------------------------------------------
    def check(self, folder: Optional[PathLike] = None,
              exe: Optional[PathLike] = None) -> List[Any]:
        """The program's own checks of the deck, before a run.

        Runs ``qmr --check`` on the deck (written into `folder`, where the
        restart and velocity files it names are looked for; a scratch folder
        when None). Returns the warnings (a list of
        :class:`qmr.runner.Diagnostic`) when the deck would run; raises
        :class:`qmr.RunError` carrying the failure and the warnings when it
        would fail.
        """
        if CHECK is None:
            raise NotImplementedError("import qmr to check decks")
        return CHECK(self, folder=folder, exe=exe)


class FlowDeck(Deck):
    """The deck of a flow run (heads): run type ``F``."""

    run_type = "F"
    imode = 1


class TransportDeck(Deck):
    """The deck of a transport run (concentrations): run type ``T``."""

    run_type = "T"
    imode = 2


def _attr_doc(cls: Type[Deck]) -> str:
    lines = []
    for sec, rec in cls._records():
        if rec.shape == "repeat":
            lines.append(f"    {rec.attr}: NumberedList of {rec.item} "
                         f"({rec.note})")
            continue
        for f in rec.leading + rec.fields:
            if f.ignored or f.code == "runtype":
                continue
            unit = f" [{f.unit}]" if f.unit else ""
            lines.append(f"    {f.name}: {f.meaning}{unit}, {rec.title} "
                         f"(deck: ``{f.code}``)")
    return "\n".join(lines)


for _cls in (FlowDeck, TransportDeck):
    _cls.__doc__ = (_cls.__doc__ or "") + "\n\nValues:\n" + _attr_doc(_cls)
