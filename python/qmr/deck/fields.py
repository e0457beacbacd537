"""One value of a deck field: read as the program reads it (integers,
floating values with their many spellings) and written back in the fixed
columns with the most digits the field holds; the deck's exceptions."""

from __future__ import annotations

import math
import operator
import re
from typing import Any, Iterator, Optional, Tuple, Union


class DeckError(ValueError):
    """A deck that cannot be read, or a value that cannot be written.

    ``section``, ``record``, ``field`` and ``value`` say where (any may be
    None); ``line`` is the deck record number when reading.
    """

    def __init__(self, message: str, *, section: Optional[str] = None,
                 record: Optional[str] = None, field: Optional[str] = None,
                 value: Any = None, line: Optional[int] = None) -> None:
        super().__init__(message)
        self.section = section
        self.record = record
        self.field = field
        self.value = value
        self.line = line


class DigitsLostWarning(UserWarning):
    """A value written to a deck field reads back as a different number."""


# ---------------------------------------------------------------------------
# Fields: reading and writing one value
# ---------------------------------------------------------------------------

def parse_int(text: Union[str, bytes]) -> int:
    """Value of an integer field as the program reads it.

    Blanks are ignored wherever they stand and an all-blank field is 0.
    Raises ValueError with the reason for a field the program refuses.
    """
    if isinstance(text, bytes):
        text = text.decode("latin-1")
    t = text.replace(" ", "")
    if not t:
        return 0
    body = t[1:] if t[0] in "+-" else t
    if not body:
        raise ValueError("is a sign without digits")
    if not body.isascii() or not body.isdigit():
        raise ValueError("is not an integer")
    v = int(t)
    if not -2**31 <= v <= 2**31 - 1:
        raise ValueError("is too large for an integer")
    return v


def _real_text(t: str) -> Optional[str]:
    """The text Python's float() reads for a blank-free F10.0 field, or None
    when the program would refuse the field."""
    i, n = 0, len(t)
    sign = ""
    if i < n and t[i] in "+-":
        sign = t[i]
        i += 1
    mant_start = i
    point = False
    any_digit = False
    while i < n:
        c = t[i]
        if "0" <= c <= "9":
            any_digit = True
        elif c == "." and not point:
            point = True
        else:
            break
        i += 1
    if not any_digit:
        return None
    mant = t[mant_start:i]
    exp = "0"
    if i < n:
        c = t[i]
        if c in "EeDd":
            i += 1
        elif c not in "+-":
            return None
        esign = ""
        if i < n and t[i] in "+-":
            esign = t[i]
            i += 1
        if i >= n or not t[i:].isascii() or not t[i:].isdigit():
            return None
        exp = esign + t[i:]
    return f"{sign}{mant}e{exp}"


_PLAIN = re.compile(r"[+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)")


def parse_real(text: Union[str, bytes]) -> float:
    """Value of a floating (F10.0) field as the program reads it.

    Blanks are ignored; an all-blank field is 0; a number without a decimal
    point is a whole number; the exponent may be written with E or D (either
    case) or as a sign and digits alone (``1.5-3``). Raises ValueError with
    the reason for a field the program refuses.
    """
    if isinstance(text, bytes):
        text = text.decode("latin-1")
    t = text.replace(" ", "")
    if not t:
        return 0.0
    if _PLAIN.fullmatch(t):          # no exponent: Python reads it alike
        return float(t)
    p = _real_text(t)
    if p is None:
        raise ValueError("is not a number")
    v = float(p)
    if math.isinf(v):
        raise ValueError("is too large for a floating value")
    return v


def _exp_forms(v: float, p: int) -> Iterator[Tuple[int, str]]:
    """Exponent forms of v with p significant digits, with their rank: 2 =
    mantissa with a point and the letter E, 3 = whole mantissa and E, 4 and
    5 = the same with the exponent's sign alone (no letter)."""
    s = f"{v:.{p - 1}e}"
    mant, e = s.split("e")
    ex = int(e)
    sign = "-" if mant.startswith("-") else ""
    digits = mant.lstrip("-").replace(".", "")
    point = f"{sign}{digits[0]}.{digits[1:]}" if p > 1 else f"{sign}{digits}"
    yield 2, f"{point}E{ex}"
    if ex < 0:
        yield 4, f"{point}{ex}"
    ie = ex - (p - 1)
    yield 3, f"{sign}{digits}E{ie}"
    if ie < 0:
        yield 5, f"{sign}{digits}{ie}"


def _candidates(v: float, width: int) -> Iterator[Tuple[int, str]]:
    """Texts that may hold v in `width` columns, with a preference rank
    (0 = plain decimal, 1 = plain decimal without its leading zero, 2 to 5
    exponent forms)."""
    for k in range(1, width):
        s = f"{v:.{k}f}"
        if len(s) <= width + 1:
            yield 0, s
            if s.startswith("0.") or s.startswith("-0."):
                yield 1, s.replace("0.", ".", 1)
    if abs(v) < 10.0 ** width:
        yield 0, str(math.floor(v))
        yield 0, str(math.ceil(v))
    for p in range(1, 18):
        yield from _exp_forms(v, p)


def format_real(value: float, width: int = 10) -> Tuple[str, bool]:
    """The text of `value` for a floating field of `width` columns.

    Chooses, among the texts that fit, the one that reads back closest to
    the value (among equally close ones: a plain decimal, then an exponent
    with the letter E, then the shortest) and
    returns it with True when it reads back exactly. Raises ValueError for a
    value that no text can hold (infinities, not-a-number).
    """
    v = float(value)
    if not math.isfinite(v):
        raise ValueError("is not a finite number")
    r = repr(v)
    if "e" not in r and "n" not in r and len(r) <= width:
        return r, True
    best: Optional[Tuple[float, int, int, str]] = None
    for rank, s in _candidates(v, width):
        if len(s) > width:
            continue
        try:
            back = parse_real(s)
        except ValueError:
            continue
        if math.copysign(1.0, back) != math.copysign(1.0, v):
            continue
        key = (abs(back - v), rank, len(s), s)
        if best is None or key < best:
            best = key
            if key[0] == 0.0 and rank == 0:
                break
    if best is None:
        raise ValueError("does not fit the field")
    return best[3], best[0] == 0.0


def _format_int(value: Any, width: int) -> str:
    if type(value) is not int:
        if isinstance(value, bool):
            raise ValueError("is not an integer")
        try:
            value = operator.index(value)
        except TypeError:
            raise ValueError("is not an integer") from None
    s = str(value)
    if len(s) > width:
        raise ValueError(f"does not fit {width} columns")
    return s.rjust(width)


def _format_text(value: Any, width: int) -> bytes:
    if value is None:
        value = ""
    if not isinstance(value, str):
        raise ValueError("is not a text")
    if "\n" in value or "\r" in value:
        raise ValueError("holds a line end")
    b = value.encode("utf-8", "surrogateescape")
    if len(b) > width:
        raise ValueError(f"is longer than {width} columns")
    return b.ljust(width)
