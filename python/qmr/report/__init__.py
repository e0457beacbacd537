"""Reports a hydrogeologist reads in a browser: one self-contained HTML
file per run (:func:`run_report`, ``Result.report()``), per ensemble
(:func:`ensemble_report`, ``EnsembleResult.report()``) and per
calibration (:func:`calibration_report`), labelled with the units declared
(:class:`qmr.Units`). The command ``qmr-report`` is :mod:`qmr.cli.report`.

Each file holds its style, its data and its script (nothing is fetched
when it opens): figures drawn as SVG with zoom, values on hover and series
toggled, and a print style.
"""

from .. import runner as _runner
from ..ensembles import api as _api
from .calibration import calibration_report
from .ensemble import ensemble_report
from .page import MAX_POINTS, Page, Series
from .run import read_folder, relative_imbalance, report_decks, run_report

__all__ = ["run_report", "report_decks", "read_folder", "ensemble_report",
           "calibration_report", "relative_imbalance", "Page", "Series",
           "MAX_POINTS"]

# Results and ensemble results report themselves through this package (the
# modules below it do not import it).
_runner.REPORT = run_report
_api.REPORT = ensemble_report
