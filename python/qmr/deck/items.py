"""The lists of a deck, numbered from 1 as in the deck (nodes, elements,
media, steps, records), and the items of its repeated records (a medium, a
prescribed value, a flux, an initial value), made from the schema."""

from __future__ import annotations

import dataclasses
from collections.abc import MutableSequence
from typing import (Any, Dict, Iterable, Iterator, List, Tuple, TypeVar,
                    overload)

from . import schema
from .schema import Field, Record

_T = TypeVar("_T")


# ---------------------------------------------------------------------------
# Lists numbered from 1
# ---------------------------------------------------------------------------

class NumberedList(MutableSequence[_T]):
    """A list numbered from 1, as nodes, elements, media and records are in
    the deck: ``lst[1]`` is the first item, ``lst[len(lst)]`` the last.
    ``append``, ``extend``, iteration and ``len`` work as for a list."""

    def __init__(self, items: Iterable[_T] = ()) -> None:
        self._items: List[_T] = list(items)

    def _index(self, k: int) -> int:
        if isinstance(k, bool) or not isinstance(k, int):
            raise TypeError("items are numbered by integers from 1")
        if not 1 <= k <= len(self._items):
            raise IndexError(f"number {k} is outside 1..{len(self._items)}")
        return k - 1

    @overload
    def __getitem__(self, k: int) -> _T: ...

    @overload
    def __getitem__(self, k: slice) -> "NumberedList[_T]": ...

    def __getitem__(self, k: Any) -> Any:
        if isinstance(k, slice):
            raise TypeError("use .to_list() to slice (numbering from 1)")
        return self._items[self._index(k)]

    def __setitem__(self, k: Any, v: Any) -> None:
        self._items[self._index(k)] = v

    def __delitem__(self, k: Any) -> None:
        del self._items[self._index(k)]

    def __len__(self) -> int:
        return len(self._items)

    def __iter__(self) -> Iterator[_T]:
        return iter(self._items)

    def insert(self, index: int, value: _T) -> None:
        """Insert `value` so that it becomes item number `index`."""
        self._items.insert(index - 1, value)

    def append(self, value: _T) -> None:
        self._items.append(value)

    def numbered(self) -> Iterator[Tuple[int, _T]]:
        """(number, item) pairs from 1."""
        return enumerate(self._items, 1)

    def to_list(self) -> List[_T]:
        """The items as a plain (0-based) list."""
        return list(self._items)

    def __eq__(self, other: object) -> bool:
        if isinstance(other, NumberedList):
            return self._items == other._items
        if isinstance(other, (list, tuple)):
            return self._items == list(other)
        return NotImplemented

    def __repr__(self) -> str:
        return f"NumberedList({self._items!r})"


# ---------------------------------------------------------------------------
# Item classes, made from the description
# ---------------------------------------------------------------------------

_TYPES = {"I": int, "F": float, "A": str}


def _doc_line(f: Field) -> str:
    unit = f" [{f.unit}]" if f.unit else ""
    return f"    {f.name}: {f.meaning}{unit} (deck: ``{f.code}``)"


def _make_item(rec: Record) -> type:
    flds = [f for f in rec.fields if not f.ignored]
    columns = []
    for f in flds:
        default: Any = 1 if f.name == "dof" else f.default
        columns.append((f.name, _TYPES[f.kind], dataclasses.field(
            default=default)))
    doc = (f"One {rec.title} of the deck ({rec.note}).\n\n"
           "Fields:\n" + "\n".join(_doc_line(f) for f in flds))
    cls = dataclasses.make_dataclass(rec.item or rec.key, columns,
                                     namespace={"__doc__": doc}, slots=True)
    cls.__module__ = __name__
    return cls


_ITEMS: Dict[str, type] = {}
for _s, _r in schema.records():
    if _r.shape == "repeat" and _r.item:
        _ITEMS[_r.item] = _make_item(_r)

FlowMedium = _ITEMS["FlowMedium"]
TransportMedium = _ITEMS["TransportMedium"]
PrescribedValue = _ITEMS["PrescribedValue"]
FlowFlux = _ITEMS["FlowFlux"]
TransportFlux = _ITEMS["TransportFlux"]
InitialValue = _ITEMS["InitialValue"]
