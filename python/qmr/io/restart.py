"""Readers of the restart and velocity files: records "(I5,nE15.7)"."""

from __future__ import annotations

from typing import Optional

import numpy as np
import pandas as pd

from ..units import UnitsLike, annotate, value_dimension
from .columns import Lines, read_floats, read_integers
from .graphic import OutputFileError, PathLike, _row_fault


def _records(path: PathLike, nvalues: int, what: str) -> tuple[
        np.ndarray, np.ndarray]:
    """Records "(I5,nE15.7)" of a restart or velocity file: the numbers in
    columns 1-5 and the values. Read as the program reads them: a blank
    field is zero, a value without a point has seven decimals, surplus
    columns are ignored. Blank lines at the end are ignored."""
    lines = Lines.read(path)
    name = lines.name
    n = len(lines)
    while n > 0 and lines.is_blank(n - 1):
        n -= 1
    width = 5 + 15 * nvalues
    block = lines.block(0, n, width)

    def bad_number(r: int, text: str) -> None:
        _row_fault(name, r + 1, "columns 1-5",
                   f"do not hold an integer: {text!r}")

    def bad_value(index: tuple, text: str) -> None:
        r, k = index
        _row_fault(name, r + 1, f"columns {6 + 15 * k}-{20 + 15 * k}",
                   f"do not hold a number: {text!r}")

    numbers = read_integers(block[:, :5], bad_number)
    fields = block[:, 5:].reshape(len(block), nvalues, 15)
    values, _ = read_floats(fields, 7, blank=0.0, fault=bad_value)
    if n == 0:
        raise OutputFileError(f"{name} is empty: no {what} record")
    return numbers, values


def read_restart(path: PathLike, *, units: UnitsLike = None,
                 kind: Optional[str] = None) -> pd.DataFrame:
    """Reads a restart file: one record per node, "(I5,2E15.7)".

    Returns a DataFrame indexed by node number with the columns ``x`` (the
    node coordinate) and ``value`` (the final head or concentration);
    ``units`` and ``kind`` ("flow" or "transport") label it
    (``attrs["units"]``)."""
    numbers, values = _records(path, 2, "restart")
    df = pd.DataFrame({"x": values[:, 0], "value": values[:, 1]},
                      index=pd.Index(numbers, name="node"))
    return annotate(df, units, {"x": "L", "value": value_dimension(kind)},
                    kind)


VELOCITY_COLUMNS = ("darcy", "thickness", "leakage", "recharge")


def read_velocity(path: PathLike, *, units: UnitsLike = None
                  ) -> pd.DataFrame:
    """Reads a velocity file: blocks of one record per element,
    "(I5,4E15.7)", one block at the last step or one per step.

    Returns a DataFrame indexed by (``block``, ``element``), blocks numbered
    from 1 in file order, with the columns ``darcy`` (Darcy velocity ×
    width), ``thickness`` (saturated thickness), ``leakage`` (leakage rate
    per unit length) and ``recharge`` (recharge × width). A new block begins
    at each record of element 1. ``units`` label it
    (``attrs["units"]``: darcy, leakage and recharge are per unit length
    of the valley, length²/time)."""
    numbers, values = _records(path, 4, "velocity")
    block = np.cumsum(numbers == 1)
    if len(block) and block[0] == 0:
        block += 1
    index = pd.MultiIndex.from_arrays([block, numbers],
                                      names=["block", "element"])
    df = pd.DataFrame(values, index=index, columns=list(VELOCITY_COLUMNS))
    return annotate(df, units, {"darcy": "L2/T", "thickness": "L",
                                "leakage": "L2/T", "recharge": "L2/T"},
                    "flow")
