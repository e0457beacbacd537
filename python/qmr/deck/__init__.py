"""Input decks as Python objects: read, built in code, checked and written.

A deck is a :class:`FlowDeck` or a :class:`TransportDeck`. Its values carry
the names of :mod:`qmr.deck.schema` (``deck.media[1].conductivity``,
``deck.prescribed_values[2].value``); lists of nodes, elements, media,
steps and records are numbered from 1 as in the deck. :meth:`Deck.read`
reads any deck the program reads; :meth:`Deck.write` writes the fixed
columns back. :func:`get_value` and :func:`set_value` reach a value by its
path (``media[1].conductivity``).

Modules: ``schema`` (the records and fields of a deck), ``fields`` (one
value read and written), ``objects`` (the deck objects), ``paths`` (values
by path). Running the program is :mod:`qmr.runner`'s job; this package
does not import it.
"""

from .fields import (DeckError, DigitsLostWarning, format_real, parse_int,
                     parse_real)
from .objects import (Deck, FlowDeck, FlowFlux, FlowMedium, InitialValue,
                      NumberedList, PrescribedValue, TransportDeck,
                      TransportFlux, TransportMedium)
from .paths import PathError, get_value, set_value

__all__ = [
    "Deck", "FlowDeck", "TransportDeck", "DeckError", "DigitsLostWarning",
    "NumberedList", "FlowMedium", "TransportMedium", "PrescribedValue",
    "FlowFlux", "TransportFlux", "InitialValue", "format_real",
    "parse_real", "parse_int", "PathError", "get_value", "set_value",
]
