"""Deck values named by paths: ``media[1].conductivity``,
``prescribed_values[2].value``, in a chain ``flow.media[1].conductivity``.
Lists are numbered from 1 as in the deck. A path that names nothing raises
:class:`PathError`, with the names that come closest."""

from __future__ import annotations

import difflib
import re
from collections import Counter
from typing import Any, Dict, List, Optional, Sequence, Tuple

import numpy as np

from .fields import DeckError
from .objects import Deck


class PathError(DeckError):
    """A path that names no value of the deck (or a value it cannot
    take)."""


def _suggest(name: str, obj: Any) -> str:
    """" (did you mean ...?)" for the public names of `obj` close to
    `name`, or ""."""
    names = [n for n in dir(obj) if not n.startswith("_")
             and not callable(getattr(type(obj), n, None))]
    close = difflib.get_close_matches(name, names, n=3, cutoff=0.6)
    if not close:
        close = [n for n in names if name.lower() in n.lower()][:3]
    return f" (did you mean {' or '.join(close)}?)" if close else ""


_SEGMENT = re.compile(r"([A-Za-z_]\w*)(?:\[(-?\d+)\])?")


def _segments(path: str) -> List[Tuple[str, Optional[int]]]:
    out = []
    for part in path.split("."):
        m = _SEGMENT.fullmatch(part.strip())
        if not m:
            raise PathError(f"parameter {path!r}: {part!r} is not a name "
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
            raise PathError(
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
                raise PathError(f"parameter {path!r}: "
                                f"{type(obj).__name__} has no {name!r}"
                                + _suggest(name, obj))
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
            raise PathError(f"parameter {path!r}: {type(obj).__name__} "
                            f"has no {name!r}" + _suggest(name, obj)) \
                from None
        except (IndexError, TypeError) as e:
            raise PathError(f"parameter {path!r}: {name}[{num}]: {e}") \
                from None
    raise PathError(f"parameter {path!r} is empty")


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
