"""Reader of the CSV files written with ``qmr --csv``: full-precision
values, one file or all."""

from __future__ import annotations

import re
from pathlib import Path
from typing import Optional, Sequence

import numpy as np
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
        m = pattern.fullmatch(str(n))
        if not m:
            raise OutputFileError(f"{path.name}: unexpected column {n!r}")
        try:
            for g in m.groups():
                if g not in ("rate", "accumulated"):
                    float(g)
        except ValueError:
            raise OutputFileError(f"{path.name}: unexpected column {n!r}") \
                from None
        out.append(m.groups())
    return out


def _load(path: Path) -> pd.DataFrame:
    """A CSV file of numbers with its header, every cell checked."""
    try:
        df = pd.read_csv(path, float_precision="round_trip")
    except pd.errors.EmptyDataError:
        raise OutputFileError(f"{path.name} is empty") from None
    except (pd.errors.ParserError, ValueError, UnicodeDecodeError) as e:
        raise OutputFileError(f"{path.name}: not a CSV file of qmr: "
                              + " ".join(str(e).split())) from None
    for k, col in enumerate(df.columns):
        if df[col].dtype.kind not in "fiu":
            num = pd.to_numeric(df[col], errors="coerce")
            bad = np.flatnonzero(num.isna().to_numpy()
                                 & df[col].notna().to_numpy())
            if len(bad):
                raise OutputFileError(
                    f"{path.name}, line {bad[0] + 2}, column {k + 1}: "
                    f"{str(df[col].iloc[bad[0]])!r} is not a number")
            df[col] = num
    return df


def _whole(df: pd.DataFrame, col: str, path: Path) -> list:
    v = df[col].to_numpy(dtype=float)
    bad = np.flatnonzero(~np.isfinite(v) | (v != np.round(v)))
    if len(bad):
        raise OutputFileError(f"{path.name}, line {bad[0] + 2}: {col} "
                              f"{v[bad[0]]!r} is not a whole number")
    return v.astype(np.int64).tolist()


def _read_csv(path: Path, fixed: Sequence[str], pattern: re.Pattern,
              ) -> tuple[pd.DataFrame, list[tuple[str, ...]]]:
    df = _load(path)
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
                     "step": _whole(df, "step", paths["obs"])}
        out["obs"] = obs
    if "prof" in paths and paths["prof"].exists():
        df, cols = _read_csv(paths["prof"], ("node", "x"), _PROF_HEAD)
        prof = pd.DataFrame(df.iloc[:, 2:].to_numpy(dtype=float),
                            index=pd.Index(df["x"].to_numpy(dtype=float),
                                           name="x"),
                            columns=pd.Index([int(s) for s, _ in cols],
                                             name="step"))
        prof.attrs = {"time": [float(t) for _, t in cols],
                      "node": _whole(df, "node", paths["prof"])}
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
                      "step": _whole(df, "step", paths["flux"])}
        out["flux"] = flux
    if "balance" in paths and paths["balance"].exists():
        path = paths["balance"]
        df = _load(path)
        names = list(df.columns)
        if names[:2] != ["step", "time"] or names[-1] != "imbalance":
            raise OutputFileError(
                f"{path.name}: the header is not step, time, ..., imbalance")
        df["step"] = _whole(df, "step", path)
        out["balance"] = df.set_index("step")
    return out
