"""Reader of the CSV files written with ``qmr --csv``: full-precision
values, one file or all."""

from __future__ import annotations

import io
import re
from pathlib import Path
from typing import Optional, Sequence

import numpy as np
import pandas as pd

from .graphic import OutputFileError, PathLike


# The CSV files written with --csv.

CSV_KINDS = ("obs", "prof", "flux", "balance")
OBS_COLUMN = re.compile(r"node (-?\d+) x=(\S+)")
PROF_COLUMN = re.compile(r"step (-?\d+) t=(\S+)")
FLUX_COLUMN = re.compile(r"(rate|accumulated) node (-?\d+) x=(\S+)")


def csv_paths(graphic_path: PathLike) -> dict[str, Path]:
    """The names of the CSV files of a run: the graphic file's name with
    its extension replaced (``X.GRF`` gives ``X.obs.csv``), or the suffix
    appended to a name without extension."""
    stem = _stem(graphic_path)
    return {k: stem.parent / f"{stem.name}.{k}.csv" for k in CSV_KINDS}


def sens_path(graphic_path: PathLike) -> Path:
    """The name of the sensitivities file of a run (``qmr --sensitivity``),
    named as the CSV files are: ``X.GRF`` gives ``X.sens.csv``."""
    stem = _stem(graphic_path)
    return stem.parent / f"{stem.name}.sens.csv"


def _stem(graphic_path: PathLike) -> Path:
    path = Path(graphic_path)
    return path.with_suffix("") if path.suffix else path


def header_columns(path: Path, names: Sequence[str], pattern: re.Pattern,
                   fixed: int) -> list[tuple[str, ...]]:
    """The numbers a CSV file's column names carry beyond the `fixed`
    first ones (``node 5 x=40`` gives ("5", "40") by OBS_COLUMN); raises
    OutputFileError for a name of another form."""
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


def _fast(path: Path) -> Optional[tuple[list[str], np.ndarray]]:
    """The file as the program writes it (a header, then rows of numbers
    of equal length, no quotes, no empty cells) parsed in one pass of
    numpy; None for anything else, which pandas then reads and judges."""
    data = path.read_bytes()
    head, sep, body = data.partition(b"\n")
    if not sep or b'"' in head:
        return None
    try:
        names = head.decode("utf-8").rstrip("\r").split(",")
    except UnicodeDecodeError:
        return None
    if body.strip() == b"":
        values = np.zeros((0, len(names)))
    else:
        try:
            values = np.loadtxt(io.BytesIO(body), delimiter=",", ndmin=2,
                                dtype=float, comments=None)
        except ValueError:
            return None
        if values.shape[1] != len(names):
            return None
    if len(set(names)) != len(names):
        return None
    return names, values


def read_table(path: PathLike) -> tuple[list[str], np.ndarray]:
    """The column names and the numbers (rows by columns) of a CSV file
    the program wrote; raises :class:`OutputFileError` for a damaged one."""
    path = Path(path)
    fast = _fast(path)
    if fast is not None:
        return fast
    df = _load(path)
    return list(df.columns), df.to_numpy(dtype=float)


def _load(path: Path) -> pd.DataFrame:
    """A CSV file of numbers with its header, every cell checked."""
    fast = _fast(path)
    if fast is not None:
        return pd.DataFrame(fast[1], columns=fast[0], copy=False)
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
    return df, header_columns(path, names, pattern, len(fixed))


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
        df, cols = _read_csv(paths["obs"], ("step", "time"), OBS_COLUMN)
        obs = pd.DataFrame(df.iloc[:, 2:].to_numpy(dtype=float),
                           index=pd.Index(df["time"].to_numpy(dtype=float),
                                          name="time"),
                           columns=pd.Index([int(n) for n, _ in cols],
                                            name="node"))
        obs.attrs = {"x": [float(x) for _, x in cols],
                     "step": _whole(df, "step", paths["obs"])}
        out["obs"] = obs
    if "prof" in paths and paths["prof"].exists():
        df, cols = _read_csv(paths["prof"], ("node", "x"), PROF_COLUMN)
        prof = pd.DataFrame(df.iloc[:, 2:].to_numpy(dtype=float),
                            index=pd.Index(df["x"].to_numpy(dtype=float),
                                           name="x"),
                            columns=pd.Index([int(s) for s, _ in cols],
                                             name="step"))
        prof.attrs = {"time": [float(t) for _, t in cols],
                      "node": _whole(df, "node", paths["prof"])}
        out["prof"] = prof
    if "flux" in paths and paths["flux"].exists():
        df, cols = _read_csv(paths["flux"], ("step", "time"), FLUX_COLUMN)
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


# Columns of the sensitivities file (``qmr --sensitivity``).
SENS_COLUMNS = ("parameter", "output", "step", "time", "node", "x", "value",
                "derivative", "flag", "name")


def read_sensitivities(path: PathLike) -> pd.DataFrame:
    """The long-form sensitivities file of a run (``X.sens.csv``): one row
    per parameter, output, step and node; every number read back to the
    double the program wrote; ``node`` an integer column (missing, and
    ``x`` NaN, for a balance term; missing for a measurement between
    nodes); ``flag`` text ("" when the derivative is two-sided); ``name``
    the measurement's of an ``output=match`` row (``--observations``), ""
    on the others. Raises OutputFileError for a file of other columns."""
    path = Path(path)
    try:
        df = pd.read_csv(path, dtype={"parameter": str, "output": str,
                                      "flag": str, "name": str,
                                      "step": "int64",
                                      "node": "Int64"},
                         keep_default_na=False,
                         na_values={"node": [""], "x": [""]},
                         float_precision="round_trip")
    except (ValueError, pd.errors.ParserError) as e:
        raise OutputFileError(f"{path}: not a sensitivities file: "
                              f"{str(e).splitlines()[0]}") from None
    if tuple(df.columns) != SENS_COLUMNS:
        raise OutputFileError(f"{path}: not a sensitivities file: columns "
                              f"{', '.join(map(str, df.columns))}")
    for c in ("time", "x", "value", "derivative"):
        df[c] = df[c].astype(float)
    return df
