"""Reader of the flux file: the rates at the prescribed-value nodes by step,
then the accumulated volumes (the graphic file's layout)."""

from __future__ import annotations

import warnings
from dataclasses import dataclass
from pathlib import Path
from typing import Optional, Union

import pandas as pd

from ..units import UnitsLike, annotate
from .columns import Lines
from .graphic import (HISTORY_HEAD, PROF_HEAD, PathLike, Table, _node_index,
                      _parse_two_tables)


@dataclass
class FluxFile:
    """A flux file: flux rates at the prescribed-value nodes per step and
    their accumulated volumes (the flux history, written at the end of the
    run). Both DataFrames are indexed by time, one column per node (its
    number), ``attrs["step"]`` the rows' step numbers. ``accumulated`` is
    empty when the run failed before the end."""

    rates: pd.DataFrame
    accumulated: pd.DataFrame
    warnings: list[str]
    name: str = "flux file"


def _step_frame(t: Table, units: UnitsLike, dim: str,
                kind: Optional[str]) -> pd.DataFrame:
    df = pd.DataFrame(t.values, index=pd.Index(t.x, name="time"),
                      columns=_node_index(t.numbers, t.labels, "node"),
                      copy=False)
    df.attrs = {"step": t.keys.tolist()}
    return annotate(df, units, {"time": "T", "value": dim}, kind)


def parse_flux(data: Union[bytes, str], name: str = "flux file", *,
               units: UnitsLike = None, kind: Optional[str] = "flow",
               ) -> FluxFile:
    """Reads the text of a flux file (see :func:`read_flux`)."""
    if isinstance(data, str):
        data = data.encode("latin-1")
    t = _parse_two_tables(Lines(data, name), HISTORY_HEAD, "flux file",
                          PROF_HEAD, "graphic file")
    second = t.second if t.second is not None else Table(t.first.labels)
    solute = "C " if kind == "transport" else ""
    return FluxFile(_step_frame(t.first, units, solute + "L3/T", kind),
                    _step_frame(second, units, solute + "L3", kind),
                    t.warnings, name)


def read_flux(path: PathLike, warn: bool = True, *, units: UnitsLike = None,
              kind: Optional[str] = "flow") -> FluxFile:
    """Reads a flux file: rates (volume per time, positive entering the
    aquifer) and accumulated volumes at the prescribed-value nodes;
    ``units`` label the frames (``attrs["units"]``)."""
    path = Path(path)
    f = parse_flux(path.read_bytes(), path.name, units=units, kind=kind)
    if warn:
        for w in f.warnings:
            warnings.warn(w, stacklevel=2)
    return f
