"""qmr from Python: input decks as objects, runs, their outputs, ensembles.

- Decks (:mod:`qmr.deck`): :class:`FlowDeck`, :class:`TransportDeck`,
  :meth:`Deck.read`, ``deck.write``, ``deck.check``; values by path
  (:func:`get_value`, :func:`set_value`).
- Runs (:mod:`qmr.runner`): :func:`run`, :func:`run_chain`,
  :class:`Result`, :class:`RunError`, :class:`QmrWarning`.
- Outputs (:mod:`qmr.io`): :func:`read_graphic`, :func:`read_flux`,
  :func:`read_csv_outputs`, :func:`read_listing`, :func:`read_restart`,
  :func:`read_velocity`; damaged files raise :class:`OutputFileError`.
- Ensembles (:mod:`qmr.ensembles`): :func:`ensemble` and the outputs it
  collects (:class:`Observations`, :class:`Profiles`, :class:`Fluxes`,
  :class:`Imbalance`, :class:`Function`); samples of parameters
  (:mod:`qmr.sampling`): :func:`latin_hypercube`, :func:`random_sample`,
  :class:`Uniform`, :class:`LogUniform`, :class:`Normal`,
  :class:`LogNormal`, :class:`Truncated`.
- Exact derivatives of the outputs (:mod:`qmr.sensitivities`):
  :func:`sensitivities`, :class:`Sensitivities`.
- Units declared once (:mod:`qmr.units`): :class:`Units` on a deck
  (``deck.units``), labelling every frame, figure, NetCDF variable and
  report; :func:`convert` converts a reader's frame.
- Calibration (:mod:`qmr.calibration`): :func:`calibrate`,
  :class:`Calibration`, :func:`read_parameters`, :func:`read_observations`,
  :class:`CalibrationError`; meshes and steps through the measurements
  (:mod:`qmr.deck.mesh`): :func:`set_mesh`, :func:`set_times`.
- Figures: :mod:`qmr.plot` (matplotlib, imported on its own); reports
  (:mod:`qmr.report`): ``Result.report()``, ``EnsembleResult.report()``,
  :func:`qmr.report.calibration_report`, one HTML file each.

The package's exceptions: :class:`DeckError` (and :class:`PathError`) for
decks, :class:`RunError` for runs, :class:`OutputFileError` for output
files, :class:`EnsembleError` for ensembles; each carries a one-line
message.
"""

from .deck import (Deck, DeckError, DigitsLostWarning, FlowDeck, FlowFlux,
                   FlowMedium, InitialValue, NumberedList, PathError,
                   PrescribedValue, TransportDeck, TransportFlux,
                   TransportMedium, get_value, set_value)
from .ensembles import (FAILED_OUTSIDE, EnsembleError, EnsembleResult,
                        Fluxes, Function, Imbalance, Observations, Outcome,
                        Output, Profiles, ensemble, tls_security)
from .io import (FluxFile, GraphicFile, Listing, OutputFileError,
                 read_csv_outputs, read_flux, read_graphic, read_listing,
                 read_restart, read_velocity)
from .runner import (Diagnostic, QmrWarning, Result, RunError, find_exe,
                     run, run_chain)
from .sensitivities import Sensitivities, sensitivities
from .calibration import (Calibration, CalibrationError, calibrate,
                          read_observations, read_parameters)
from .deck.mesh import set_mesh, set_times
from .units import Units, convert
from . import report  # noqa: E402,F401  (results report through it)
from .sampling import (Distribution, LogNormal, LogUniform, Normal,
                       Truncated, Uniform, latin_hypercube, random_sample,
                       round_significant)

__all__ = [
    "Deck", "DeckError", "DigitsLostWarning", "FlowDeck", "FlowFlux",
    "FlowMedium", "InitialValue", "NumberedList", "PathError",
    "PrescribedValue", "TransportDeck", "TransportFlux", "TransportMedium",
    "get_value", "set_value",
    "Diagnostic", "QmrWarning", "Result", "RunError", "find_exe", "run",
    "run_chain",
    "FluxFile", "GraphicFile", "Listing", "OutputFileError",
    "read_csv_outputs", "read_flux", "read_graphic", "read_listing",
    "read_restart", "read_velocity",
    "ensemble", "EnsembleResult", "EnsembleError", "Outcome", "Output",
    "Observations", "Profiles", "Fluxes", "Imbalance", "Function",
    "tls_security", "FAILED_OUTSIDE",
    "Distribution", "Uniform", "LogUniform", "Normal", "LogNormal",
    "Truncated", "latin_hypercube", "random_sample", "round_significant",
    "sensitivities", "Sensitivities", "Units", "convert",
    "calibrate", "Calibration", "CalibrationError", "read_parameters",
    "read_observations", "set_mesh", "set_times",
]
