"""Reader of the CSV files written with ``qmr --csv``: full-precision
values, one file or all."""

from __future__ import annotations

import re
from pathlib import Path
from typing import Optional, Sequence

import pandas as pd

from .graphic import OutputFileError, PathLike


# The CSV files written with --csv.

CSV_KINDS = ("obs", "prof", "flux", "balance")
_OBS_HEAD = re.compile(r"node (-?\d+) x=(\S+)")
_PROF_HEAD = re.compile(r"step (-?\d+) t=(\S+)")
_FLUX_HEAD = re.compile(r"(rate|accumulated) node (-?\d+) x=(\S+)")


def csv_paths(graphic_path: PathLike) -> dict[str, Path]:
    """The names of the CSV files of a run: the graphic file's name with
    its extension replaced (``X.GRF`` gives ``X.obs.csv``), or the suffix
    appended to a name without extension."""
    path = Path(graphic_path)
    stem = path.with_suffix("") if path.suffix else path
    return {k: stem.parent / f"{stem.name}.{k}.csv" for k in CSV_KINDS}


def _csv_columns(path: Path, names: Sequence[str], pattern: re.Pattern,
                 fixed: int) -> list[tuple[str, ...]]:
    out = []
    for n in names[fixed:]:
        m = pattern.fullmatch(n)
        if not m:
            raise OutputFileError(f"{path.name}: unexpected column {n!r}")
        out.append(m.groups())
    return out


def _read_csv(path: Path, fixed: Sequence[str], pattern: re.Pattern,
              ) -> tuple[pd.DataFrame, list[tuple[str, ...]]]:
    df = pd.read_csv(path, float_precision="round_trip")
    names = list(df.columns)
    if names[:len(fixed)] != list(fixed):
        raise OutputFileError(
            f"{path.name}: the header begins with {names[:len(fixed)]}, not "
            f"{list(fixed)}")
    return df, _csv_columns(path, names, pattern, len(fixed))


def read_csv_outputs(graphic_path: PathLike,
                     kinds: Optional[Sequence[str]] = None,
                     ) -> dict[str, pd.DataFrame]:
    """Reads the CSV files that ``qmr --csv`` writes beside the graphic
    file, full-precision values (those that exist):

    - ``"obs"``: as :attr:`GraphicFile.observations` (indexed by time, a
      column per node, ``attrs["x"]``, ``attrs["step"]``);
    - ``"prof"``: as :attr:`GraphicFile.profiles` (indexed by ``x``, a
      column per profile step, ``attrs["time"]``, ``attrs["node"]``);
    - ``"flux"``: indexed by time, columns (``rate`` or ``accumulated``,
      node): ``df["rate"]`` is a frame of the rates; ``attrs["x"]`` maps
      each node to its coordinate, ``attrs["step"]`` the steps;
    - ``"balance"``: indexed by step, the time and every term of the mass
      balance as the file names them, ``imbalance`` last.

    `kinds` reads those files alone (all by default).
    """
    out: dict[str, pd.DataFrame] = {}
    paths = {k: p for k, p in csv_paths(graphic_path).items()
             if kinds is None or k in kinds}
    if "obs" in paths and paths["obs"].exists():
        df, cols = _read_csv(paths["obs"], ("step", "time"), _OBS_HEAD)
        obs = pd.DataFrame(df.iloc[:, 2:].to_numpy(dtype=float),
                           index=pd.Index(df["time"].to_numpy(dtype=float),
                                          name="time"),
                           columns=pd.Index([int(n) for n, _ in cols],
                                            name="node"))
        obs.attrs = {"x": [float(x) for _, x in cols],
                     "step": df["step"].tolist()}
        out["obs"] = obs
    if "prof" in paths and paths["prof"].exists():
        df, cols = _read_csv(paths["prof"], ("node", "x"), _PROF_HEAD)
        prof = pd.DataFrame(df.iloc[:, 2:].to_numpy(dtype=float),
                            index=pd.Index(df["x"].to_numpy(dtype=float),
                                           name="x"),
                            columns=pd.Index([int(s) for s, _ in cols],
                                             name="step"))
        prof.attrs = {"time": [float(t) for _, t in cols],
                      "node": df["node"].tolist()}
        out["prof"] = prof
    if "flux" in paths and paths["flux"].exists():
        df, cols = _read_csv(paths["flux"], ("step", "time"), _FLUX_HEAD)
        flux = pd.DataFrame(
            df.iloc[:, 2:].to_numpy(dtype=float),
            index=pd.Index(df["time"].to_numpy(dtype=float), name="time"),
            columns=pd.MultiIndex.from_tuples(
                [(q, int(n)) for q, n, _ in cols],
                names=["quantity", "node"]))
        flux.attrs = {"x": {int(n): float(x) for _, n, x in cols},
                      "step": df["step"].tolist()}
        out["flux"] = flux
    if "balance" in paths and paths["balance"].exists():
        path = paths["balance"]
        df = pd.read_csv(path, float_precision="round_trip")
        names = list(df.columns)
        if names[:2] != ["step", "time"] or names[-1] != "imbalance":
            raise OutputFileError(
                f"{path.name}: the header is not step, time, ..., imbalance")
        out["balance"] = df.set_index("step")
    return out
