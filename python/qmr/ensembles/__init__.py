"""Ensembles: one model run many times with varied parameters, on the cores
of this machine or across machines with Dask (docs/ensembles.md).

Modules: ``api`` (:func:`ensemble`, :class:`EnsembleResult`), ``outputs``
(what is collected), ``collect`` (a realization's outputs read), ``realize``
(one realization in a worker, its scratch folder), ``engines`` (local
processes, executors, Dask), ``store`` (the resumable results and status
files). Parameter paths are :mod:`qmr.deck.paths`; the command is
:mod:`qmr.cli.ensemble`.
"""

from .api import EnsembleResult, ensemble
from .engines import tls_security
from .outputs import (FAILED_OUTSIDE, EnsembleError, Fluxes, Function,
                      Imbalance, Observations, Output, Profiles)
from .realize import Outcome

__all__ = [
    "ensemble", "EnsembleResult", "EnsembleError", "Outcome", "Output",
    "Observations", "Profiles", "Fluxes", "Imbalance", "Function",
    "tls_security", "FAILED_OUTSIDE",
]
