"""The graphic file as an xarray Dataset and a NetCDF file following the CF
conventions (CF-1.8).

- The observations are a discrete sampling geometry of feature type
  ``timeSeries`` in the orthogonal multidimensional representation: one
  station per observation node (``station``, its node number, with
  ``cf_role = "timeseries_id"``), its distance along the valley
  (``station_x``) as the station's coordinate, the variable ``observation``
  on (``station``, ``time``).
- The profiles are a variable ``profile`` gridded over the times of the
  profiles (``profile_time``) and the distance along the valley (``x``).

A qmr model has no geographic coordinates: distances along the valley and
times since the start of the run are in the units the user declares
(:class:`qmr.Units`; the graphic file does not say), and carry no ``units``
attribute when none is declared (their ``long_name`` then says "in units
of length" or "of time"). Times are elapsed model times, not dates.
"""

from __future__ import annotations

from pathlib import Path
from typing import TYPE_CHECKING, Any, Optional, Sequence, Union

import numpy as np

from ..units import Units, quantity_name

if TYPE_CHECKING:  # pragma: no cover
    import xarray as xr

    from .graphic import GraphicFile

CONVENTIONS = "CF-1.8"
PARTS = ("all", "observations", "profiles")
# What the values are when the caller does not say: the file does not.
DEFAULT_QUANTITY = "head or concentration"


def parse_units(units: Union[None, str, Sequence[str], Units],
                ) -> tuple[Optional[str], Optional[str], Optional[str]]:
    """Units of length, time and value from ``"m,d"``, ``"m,d,mg/L"``, a
    sequence of two or three texts (None or an empty text: not given) or
    a :class:`qmr.Units` (its concentration as the value's unit)."""
    if units is None:
        return None, None, None
    if isinstance(units, Units):
        return units.length, units.time, units.concentration
    if isinstance(units, str):
        units = units.split(",")
    items = [u.strip() or None if u is not None else None for u in units]
    if not 1 <= len(items) <= 3:
        raise ValueError(f"units: give length and time units, and "
                         f"optionally the value's, not {units!r}")
    items += [None] * (3 - len(items))
    return items[0], items[1], items[2]


def _with_units(attrs: dict, unit: Optional[str]) -> dict:
    if unit:
        attrs["units"] = unit
    return attrs


def _numbers(index: Any) -> np.ndarray:
    """Column labels as integers; -1 for a label that is no number."""
    return np.array([v if isinstance(v, (int, np.integer)) else -1
                     for v in index], dtype=np.int64)


def graphic_dataset(g: "GraphicFile",
                    units: Union[None, str, Sequence[str], Units] = None,
                    quantity: Optional[str] = None, part: str = "all",
                    title: Optional[str] = None,
                    kind: Optional[str] = None) -> "xr.Dataset":
    """The graphic file ``g`` as a CF-1.8 xarray Dataset.

    ``units``: a :class:`qmr.Units`, or length and time units and
    optionally the value's (``("m", "d")``, ``"m,d,mg/L"``); ``kind``:
    "flow" (the values are heads, in the length unit) or "transport"
    (concentrations, in the third unit); ``quantity``: what the values are
    (default "head" or "concentration" by ``kind``; the file does not
    say); ``part``: "all", "observations" (a pure timeSeries file) or
    "profiles"."""
    import xarray as xr

    if part not in PARTS:
        raise ValueError(f"part must be one of {PARTS}, not {part!r}")
    length, time, value = parse_units(units)
    if isinstance(units, Units) or kind is not None:
        Units(length, time, value)          # checked with pint
    if kind == "flow":
        value = length
    name = quantity or (quantity_name(kind) if kind else DEFAULT_QUANTITY)
    ds = xr.Dataset()
    if part in ("all", "observations"):
        obs = g.observations
        ds.coords["time"] = ("time", obs.index.to_numpy(dtype=float),
                             _with_units({"standard_name": "time",
                                          "long_name": "time since the start"
                                          " of the run, at the end of the "
                                          "step", "axis": "T"}, time))
        ds.coords["step"] = ("time", np.asarray(obs.attrs["step"],
                                                dtype=np.int64),
                             {"long_name": "time-step number"})
        ds.coords["station"] = ("station", _numbers(obs.columns),
                                {"long_name": "observation node number",
                                 "cf_role": "timeseries_id"})
        ds.coords["station_x"] = ("station", np.asarray(obs.attrs["x"],
                                                        dtype=float),
                                  _with_units({"long_name": "distance along "
                                               "the valley of the observation"
                                               " node"}, length))
        ds["observation"] = (("station", "time"), obs.to_numpy(dtype=float).T,
                             _with_units({"long_name": f"{name} at the "
                                          f"observation node"}, value))
        ds["observation"].encoding["coordinates"] = "time station_x step"
    if part in ("all", "profiles"):
        prof = g.profiles
        ds.coords["x"] = ("x", prof.index.to_numpy(dtype=float),
                          _with_units({"long_name": "distance along the "
                                       "valley", "axis": "X"}, length))
        ds.coords["node"] = ("x", np.asarray(prof.attrs["node"],
                                             dtype=np.int64),
                             {"long_name": "node number"})
        ds.coords["profile_time"] = (
            "profile_time", np.asarray(prof.attrs["time"], dtype=float),
            _with_units({"standard_name": "time", "long_name": "time of the "
                         "profile since the start of the run",
                         "axis": "T"}, time))
        ds.coords["profile_step"] = ("profile_time", _numbers(prof.columns),
                                     {"long_name": "time-step number of the "
                                      "profile"})
        ds["profile"] = (("profile_time", "x"), prof.to_numpy(dtype=float).T,
                         _with_units({"long_name": f"{name} along the "
                                      f"valley"}, value))
    ds.attrs["Conventions"] = CONVENTIONS
    if part in ("all", "observations"):
        ds.attrs["featureType"] = "timeSeries"
    ds.attrs["title"] = title or f"qmr graphic file {g.name}"
    ds.attrs["source"] = "qmr graphic file (four significant digits)"
    return ds


def write_netcdf(ds: "xr.Dataset", path: Union[str, Path]) -> None:
    """Writes a Dataset to a NetCDF-4 file with the netCDF4 library."""
    ds.to_netcdf(path, engine="netcdf4", format="NETCDF4")
