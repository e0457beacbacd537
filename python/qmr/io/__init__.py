"""Readers of the files qmr writes, one module per kind of file, and the
NetCDF export.

- :mod:`~qmr.io.graphic`, :mod:`~qmr.io.flux`: graphic and flux files
  (four digits);
- :mod:`~qmr.io.csv`: the CSV files of ``qmr --csv`` (full precision);
- :mod:`~qmr.io.listing`: the listing's per-step tables;
- :mod:`~qmr.io.restart`: restart and velocity files;
- :mod:`~qmr.io.netcdf`: a graphic file as a CF-conventions dataset;
- :mod:`~qmr.io.columns`: the fixed columns cut into fields with numpy.

Every reader reads its file once into memory. A file that is not the kind
asked for, or is damaged or cut short, raises :class:`OutputFileError`
with a one-line message naming the file and the line.

Tables come back as pandas DataFrames:

- observations: indexed by time, one column per observation node (the node
  number), the nodes' coordinates in ``attrs["x"]`` and the step numbers of
  the rows in ``attrs["step"]`` (every ``attrs`` entry is a list);
- profiles: indexed by the coordinate ``x``, one column per profile (its
  step number), the profiles' times in ``attrs["time"]`` and the node
  numbers of the rows in ``attrs["node"]``.
"""

from .csv import CSV_KINDS, csv_paths, read_csv_outputs
from .flux import FluxFile, parse_flux, read_flux
from .graphic import (GraphicFile, GraphicFileError, OutputFileError, Table,
                      parse_graphic, read_graphic)
from .listing import Listing, parse_listing, read_listing
from .restart import read_restart, read_velocity

__all__ = [
    "OutputFileError", "GraphicFileError", "Table", "GraphicFile", "FluxFile",
    "Listing", "read_graphic", "parse_graphic", "read_flux", "parse_flux",
    "read_restart", "read_velocity", "read_csv_outputs", "csv_paths",
    "CSV_KINDS", "read_listing", "parse_listing",
]
