"""qmr from Python: input decks as objects, runs, and the outputs.

Decks (:mod:`qmr.deck`): :class:`FlowDeck`, :class:`TransportDeck`,
:meth:`Deck.read`, ``deck.write``, ``deck.check``. Runs
(:mod:`qmr.runner`): :func:`run`, :func:`run_chain`, :class:`Result`,
:class:`RunError`, :class:`QmrWarning`. Readers of the output files
(:mod:`qmr.readers`) are imported on first use.
"""

from typing import Any

from .deck import (Deck, DeckError, DigitsLostWarning, FlowDeck, FlowFlux,
                   FlowMedium, InitialValue, NumberedList, PrescribedValue,
                   TransportDeck, TransportFlux, TransportMedium)
from .runner import (Diagnostic, QmrWarning, Result, RunError, find_exe,
                     run, run_chain)

__all__ = [
    "Deck", "DeckError", "DigitsLostWarning", "FlowDeck", "FlowFlux",
    "FlowMedium", "InitialValue", "NumberedList", "PrescribedValue",
    "TransportDeck", "TransportFlux", "TransportMedium",
    "Diagnostic", "QmrWarning", "Result", "RunError", "find_exe", "run",
    "run_chain",
]

# Names of the output readers, served from qmr.readers when first asked for,
# so that the deck side works without them.
_READERS = ("read_graphic", "read_flux", "read_restart", "read_velocity",
            "read_csv_outputs", "read_listing", "GraphicFile", "Listing")


def __getattr__(name: str) -> Any:
    if name in _READERS:
        from . import readers
        return getattr(readers, name)
    raise AttributeError(f"module 'qmr' has no attribute {name!r}")
