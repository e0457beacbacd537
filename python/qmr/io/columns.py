"""Fixed-column fields of qmr's text files, read with numpy over raw bytes.

A file is read once into a byte buffer; its lines are located with numpy,
and a block of rows of equal layout becomes a two-dimensional array of bytes
(a view of the buffer when the rows are evenly spaced) that is cut into
fields by slicing. The fields in the form qmr writes them are converted
column-wise with integer arithmetic; only the rare field in another form (a
three-digit exponent without its letter, asterisks, ``NaN``, ``Infinity``, a
hand-edited value) goes through the one-field parser :func:`parse_value`.
"""

from __future__ import annotations

import math
import re
from pathlib import Path
from typing import Callable, Optional, Sequence, Union

import numpy as np

PathLike = Union[str, Path]

_BLANK = ord(" ")
_ZERO = ord("0")
_MINUS = ord("-")
_PLUS = ord("+")
_POINT = ord(".")
_E = ord("E")

# Sign, mantissa, then an exponent with a letter, or a signed one without
# (three-digit exponents are written without the letter).
_NUMBER = re.compile(
    r"^([+-]?)(\d+\.?\d*|\.\d+)(?:[EeDd]([+-]?\d+)|([+-]\d+))?$")
_NON_FINITE = {"nan", "inf", "infinity"}
_INTEGER = re.compile(r"[+-]?\d+")
# Bytes gathered at once from scattered lines.
_GATHER_BYTES = 1 << 22

# Powers of ten held exactly by a double: a product or quotient of an exact
# mantissa and one of these is rounded once, as the decimal text would be.
_EXACT_POWERS = 22
_POWERS = 10.0 ** np.arange(_EXACT_POWERS + 1)


def parse_value(text: str, digits: int, blank: float = math.nan) -> float:
    """Reads one floating field as the program reads its fields.

    Blanks inside the field are ignored; a mantissa without a point has its
    last ``digits`` digits as fraction; the exponent is a letter E or D with
    a signed number, or a sign and digits alone. A field of asterisks gives
    NaN, and so does a blank one unless ``blank`` says otherwise. ``NaN``
    and ``Infinity`` (the forms written for undefined values) are read as
    such. Raises ValueError for anything else.
    """
    s = text.replace(" ", "")
    if s == "":
        return blank
    if set(s) == {"*"}:
        return math.nan
    if s.lstrip("+-").lower() in _NON_FINITE:
        return float(s)
    m = _NUMBER.match(s)
    if not m:
        raise ValueError(text)
    sign, mant, exp1, exp2 = m.groups()
    exp = int(exp1 or exp2 or "0")
    if "." not in mant:
        exp -= digits
    return float(f"{sign}{mant}e{exp}")


def parse_integer(text: str) -> Optional[int]:
    """Reads an integer field (blanks ignored); None when it holds none."""
    s = text.replace(" ", "")
    return int(s) if _INTEGER.fullmatch(s) else None


class Lines:
    """The bytes of a text file and the places of its lines.

    ``starts[i]`` and ``ends[i]`` delimit line ``i`` (0-based) without its
    line end (LF or CR LF). ``open_end`` is True when the last line has no
    line end: a file cut short while it was written.
    """

    def __init__(self, data: bytes, name: str = "file") -> None:
        self.name = name
        self.data = data
        self.buf = np.frombuffer(data, dtype=np.uint8)
        ends = np.flatnonzero(self.buf == 10)
        starts = np.empty(len(ends) + 1, dtype=np.int64)
        starts[0] = 0
        starts[1:] = ends + 1
        self.open_end = len(data) > 0 and data[-1:] != b"\n"
        if self.open_end:
            ends = np.append(ends, len(data))
        else:
            starts = starts[:-1]
        ends = ends.astype(np.int64)
        if len(ends):
            before = np.maximum(ends - 1, 0)
            cr = (ends > starts) & (self.buf[before] == 13)
            ends = ends - cr
        self.starts = starts
        self.ends = ends
        self.lengths = ends - starts

    @classmethod
    def read(cls, path: PathLike) -> "Lines":
        """Reads a whole file."""
        path = Path(path)
        return cls(path.read_bytes(), path.name)

    def __len__(self) -> int:
        return len(self.starts)

    def text(self, i: int) -> str:
        """Line ``i`` as text."""
        return self.data[self.starts[i]:self.ends[i]].decode("latin-1")

    def is_blank(self, i: int) -> bool:
        """True when line ``i`` holds nothing but blanks."""
        return self.data[self.starts[i]:self.ends[i]].strip(b" ") == b""

    def next_blank(self, first: int, last: Optional[int] = None) -> int:
        """Index of the first blank line at or after ``first`` (before
        ``last``), or ``last`` (the number of lines) when there is none.

        Only lines shorter than ten columns are looked at one by one: rows
        of values are longer, so a large table costs one numpy pass."""
        last = len(self) if last is None else last
        short = np.flatnonzero(self.lengths[first:last] < 10) + first
        for i in short:
            if self.is_blank(int(i)):
                return int(i)
        return last

    def line_of(self, offsets: Sequence[int]) -> np.ndarray:
        """Line indices of the lines that hold the given byte offsets."""
        return np.searchsorted(self.starts, np.asarray(offsets, np.int64),
                               side="right") - 1

    def block(self, first: int, last: int, width: int) -> np.ndarray:
        """Lines ``first`` to ``last`` - 1 as an array of bytes of shape
        (rows, width): cut to ``width`` columns, shorter lines padded with
        blanks. A view of the buffer when every line is exactly ``width``
        long and the lines are evenly spaced."""
        n = last - first
        if n <= 0:
            return np.zeros((0, width), dtype=np.uint8)
        starts = self.starts[first:last]
        lengths = self.lengths[first:last]
        if bool(np.all(lengths == width)):
            stride = int(starts[1] - starts[0]) if n > 1 else width
            if n == 1 or bool(np.all(np.diff(starts) == stride)):
                view = np.lib.stride_tricks.as_strided(
                    self.buf[starts[0]:], shape=(n, width),
                    strides=(stride, 1), writeable=False)
                return view
        return self._gather(starts, lengths, width)

    def gather(self, indices: np.ndarray, width: int) -> np.ndarray:
        """The lines of the given indices as an array of bytes of shape
        (len(indices), width), cut or padded with blanks."""
        indices = np.asarray(indices, dtype=np.int64)
        return self._gather(self.starts[indices], self.lengths[indices],
                            width)

    def _gather(self, starts: np.ndarray, lengths: np.ndarray,
                width: int) -> np.ndarray:
        out = np.full((len(starts), width), _BLANK, dtype=np.uint8)
        if len(self.buf) == 0:
            return out
        cols = np.arange(width, dtype=np.int64)
        # In pieces, so that the index arrays stay small for large files.
        step = max(1, _GATHER_BYTES // max(width, 1))
        for first in range(0, len(starts), step):
            s = starts[first:first + step]
            piece = self.buf[np.minimum(s[:, None] + cols,
                                        len(self.buf) - 1)]
            piece[cols >= lengths[first:first + step, None]] = _BLANK
            out[first:first + step] = piece
        return out


def _digits(a: np.ndarray) -> np.ndarray:
    """True where the bytes are decimal digits."""
    return (a - np.uint8(_ZERO)) <= 9


def read_integers(a: np.ndarray,
                  fault: Optional[Callable[[int, str], None]] = None,
                  ) -> np.ndarray:
    """Integer fields: ``a`` holds one right-justified field per row (shape
    (rows, width)). Fields that are not a plain right-justified number are
    read one by one; one that holds no integer calls ``fault(row, text)``
    (which may raise) and reads as -1."""
    n, w = a.shape
    out = np.zeros(n, dtype=np.int64)
    if n == 0:
        return out
    isd = _digits(a)
    ok = isd[:, -1] & np.all(isd | (a == _BLANK), axis=1)
    if w > 1:
        ok &= ~np.any(isd[:, :-1] & ~isd[:, 1:], axis=1)
    for j in range(w):
        out += np.where(isd[:, j], a[:, j].astype(np.int64) - _ZERO, 0) \
            * 10 ** (w - 1 - j)
    for r in np.flatnonzero(~ok):
        text = a[r].tobytes().decode("latin-1")
        v = parse_integer(text)
        if v is None:
            if fault is not None:
                fault(int(r), text)
            v = -1
        out[r] = v
    return out


def read_floats(a: np.ndarray, digits: int, blank: float = math.nan,
                fault: Optional[Callable[[tuple, str], None]] = None,
                ) -> tuple[np.ndarray, int]:
    """Floating fields in exponent form with ``digits`` digits: ``a`` has
    the field's bytes along its last axis. Returns the values and the number
    of fields written as asterisks, NaN or Infinity.

    Fields in the form the program writes (optional minus, ``0.``, the
    digits, ``E``, a signed two-digit exponent, right-justified) are
    converted with integer arithmetic and one correctly rounded operation,
    so every value equals what ``float()`` gives for the field's text.
    Other fields go through :func:`parse_value`; one that holds no number
    calls ``fault(index, text)`` (which may raise) and reads as NaN."""
    shape = a.shape[:-1]
    w = a.shape[-1]
    s = w - (digits + 7)  # blanks before the sign column
    if s < 0 or a.size == 0:
        form = np.zeros(shape, dtype=bool)
        value = np.full(shape, np.nan)
    else:
        e = s + 3 + digits  # the letter E
        sign = a[..., s]
        form = (a[..., s + 1] == _ZERO) & (a[..., s + 2] == _POINT)
        form &= a[..., e] == _E
        form &= (sign == _BLANK) | (sign == _MINUS)
        esign = a[..., e + 1]
        form &= (esign == _PLUS) | (esign == _MINUS)
        for j in range(s):
            form &= a[..., j] == _BLANK
        mant = np.zeros(shape, dtype=np.int32)
        for j in range(digits):
            d = a[..., s + 3 + j] - np.uint8(_ZERO)
            form &= d <= 9
            mant *= 10
            mant += d
        e1 = a[..., e + 2] - np.uint8(_ZERO)
        e2 = a[..., e + 3] - np.uint8(_ZERO)
        form &= (e1 <= 9) & (e2 <= 9)
        power = e1.astype(np.int16) * 10 + e2
        np.negative(power, out=power, where=esign == _MINUS)
        power -= digits
        exact = form & (power <= _EXACT_POWERS) & (power >= -_EXACT_POWERS)
        np.copyto(power, 0, where=~exact)
        scale = _POWERS[np.abs(power)]
        value = mant.astype(np.float64)
        np.multiply(value, scale, out=value, where=power >= 0)
        np.divide(value, scale, out=value, where=power < 0)
        np.negative(value, out=value, where=sign == _MINUS)
        wide = form & ~exact
        if wide.any():
            # Exponents beyond the exact powers: numpy reads the texts.
            texts = np.ascontiguousarray(a[wide]).view(f"S{w}")
            value[wide] = texts.ravel().astype(np.float64)
    unreadable = 0
    for index in zip(*np.nonzero(~form)):
        text = a[index].tobytes().decode("latin-1")
        try:
            v = parse_value(text, digits, blank)
        except ValueError:
            if fault is not None:
                fault(tuple(int(i) for i in index), text)
            v = math.nan
        else:
            if not math.isfinite(v) and text.strip(" ") != "":
                unreadable += 1
        value[index] = v
    return value, unreadable
