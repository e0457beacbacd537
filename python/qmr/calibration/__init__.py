"""Calibration: deck parameters estimated from measured data on the
program's exact Jacobian, their linear uncertainty, predictions and
samples, and the files of the general calibration suites.

- :func:`calibrate` and its result :class:`Calibration`;
- the parameter table (:func:`read_parameters`, :class:`ParameterTable`)
  and the observation table (:func:`read_observations`);
- :func:`levenberg_marquardt`, the minimiser on any residual function;
- :mod:`qmr.calibration.suite`: the suites' control, template and
  instruction files (``qmr-pest``); :mod:`qmr.calibration.suitecheck`:
  those files read back and run once per parameter (``qmr-pest check``).

See docs/calibration.md.
"""

from .api import calibrate
from .lm import STOP_RULES, LMResult, levenberg_marquardt
from .observations import read_observations
from .params import (CalibrationError, Parameter, ParameterTable,
                     read_parameters)
from .result import Calibration

__all__ = ["calibrate", "Calibration", "CalibrationError", "Parameter",
           "ParameterTable", "read_parameters", "read_observations",
           "levenberg_marquardt", "LMResult", "STOP_RULES"]
