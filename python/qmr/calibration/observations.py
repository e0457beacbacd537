"""The table of measured data that ``qmr --observations`` reads, checked
before a calibration: columns ``name``, ``x`` (or ``node``), ``time``,
``value`` and optionally ``sd``, ``group``, ``kind``; in a chain also
``deck`` (the deck whose run the row belongs to: ``flow``, ``transport``,
``deck1``, ...; default the last)."""

from __future__ import annotations

import math
import os
import re
from typing import Union

import numpy as np
import pandas as pd

from .params import CalibrationError, read_table

__all__ = ["read_observations", "OBSERVATION_COLUMNS", "KINDS"]

PathLike = Union[str, "os.PathLike[str]"]

# The columns the program reads, in the order it is given them.
OBSERVATION_COLUMNS = ("name", "x", "node", "time", "value", "sd", "group",
                       "kind")
KINDS = ("head", "drawdown", "concentration", "flux")
_NAME = re.compile(r"[A-Za-z0-9_.:()\[\]+-]{1,200}")


def read_observations(table: Union[PathLike, pd.DataFrame],
                      chain: bool = False) -> pd.DataFrame:
    """The observation table of a CSV file or a DataFrame, checked: every
    name given once, of letters, digits and ``_ . : ( ) [ ] + -`` (it names
    the observation in the suites' files too), ``x`` or ``node`` on every
    row, finite times and values, ``sd`` above 0, a known ``kind``. Blank
    optional cells take the program's defaults. Raises
    :class:`CalibrationError` with one line naming the row (from 1 after
    the header) and the observation."""
    df, source = read_table(table, "observation table")
    df.columns = [str(c).strip() for c in df.columns]
    allowed = OBSERVATION_COLUMNS + (("deck",) if chain else ())
    for c in df.columns:
        if c not in allowed:
            raise CalibrationError(f"{source}: unknown column {c!r} (the "
                                   f"columns: {', '.join(allowed)})")
    for c in ("name", "time", "value"):
        if c not in df.columns:
            raise CalibrationError(f"{source}: no column {c!r}")
    if "x" not in df.columns and "node" not in df.columns:
        raise CalibrationError(f"{source}: no column 'x' or 'node'")
    if df.empty:
        raise CalibrationError(f"{source}: no observations")
    out = pd.DataFrame({"name": df["name"].astype(str).str.strip()})
    names = out["name"]

    def where(i: int) -> str:
        return f"{source}, row {i + 1} ({names.iloc[i]})"

    for i, n in enumerate(names):
        if not _NAME.fullmatch(n):
            raise CalibrationError(
                f"{where(i)}: a name of 1 to 200 letters, digits or "
                "_ . : ( ) [ ] + -")
    dup = names.str.lower().duplicated()
    if dup.any():
        i = int(np.flatnonzero(dup.to_numpy())[0])
        raise CalibrationError(f"{where(i)}: name given twice (letter case "
                               "aside)")

    def numbers(col: str, required: bool) -> np.ndarray:
        if col not in df.columns:
            return np.full(len(df), np.nan)
        if df[col].dtype.kind in "fiu":         # numbers as they are
            v = df[col].to_numpy(float)
        else:
            text = df[col].map(lambda v: "" if v is None or (
                isinstance(v, float) and math.isnan(v)) else
                repr(v) if isinstance(v, float) else str(v)).str.strip()
            parsed = pd.to_numeric(text.where(text != ""), errors="coerce")
            bad = (parsed.isna() & (text != "")).to_numpy()
            if bad.any():
                i = int(np.flatnonzero(bad)[0])
                raise CalibrationError(f"{where(i)}: {col} "
                                       f"{text.iloc[i]!r} is not a number")
            v = parsed.to_numpy(float)
        if required and np.isnan(v).any():
            i = int(np.flatnonzero(np.isnan(v))[0])
            raise CalibrationError(f"{where(i)}: no {col}")
        if np.isinf(v).any():
            i = int(np.flatnonzero(np.isinf(v))[0])
            raise CalibrationError(f"{where(i)}: {col} is not finite")
        return v

    x = numbers("x", False)
    node = numbers("node", False)
    for i in range(len(df)):
        if math.isnan(x[i]) == math.isnan(node[i]):
            raise CalibrationError(f"{where(i)}: give x or node, one of "
                                   "them")
        if not math.isnan(node[i]) and (node[i] < 1 or node[i] % 1):
            raise CalibrationError(f"{where(i)}: node {node[i]:g} is not a "
                                   "node number")
    sd = numbers("sd", False)
    bad = ~np.isnan(sd) & ~(sd > 0)
    if bad.any():
        i = int(np.flatnonzero(bad)[0])
        raise CalibrationError(f"{where(i)}: sd must be above 0")
    out["x"] = x
    out["node"] = pd.array(np.where(np.isnan(node), 0, node).astype(int),
                           dtype="Int64")
    out.loc[np.isnan(node), "node"] = pd.NA
    out["time"] = numbers("time", True)
    out["value"] = numbers("value", True)
    out["sd"] = sd
    for col in ("group", "kind") + (("deck",) if chain else ()):
        out[col] = df[col].astype(str).str.strip() if col in df.columns \
            else ""
    kinds = out["kind"].str.lower()
    bad = ~kinds.isin(("",) + KINDS)
    if bad.any():
        i = int(np.flatnonzero(bad.to_numpy())[0])
        raise CalibrationError(f"{where(i)}: kind {out['kind'].iloc[i]!r} "
                               f"is not one of {', '.join(KINDS)}")
    out["kind"] = kinds
    bad = (out["kind"] == "flux") & out["node"].isna()
    if bad.any():
        i = int(np.flatnonzero(bad.to_numpy())[0])
        raise CalibrationError(f"{where(i)}: a flux is named by its node")
    for col in ("group", "deck") if chain else ("group",):
        bad = out[col].str.contains(r"[\s,\"]", regex=True)
        if bad.any():
            i = int(np.flatnonzero(bad.to_numpy())[0])
            raise CalibrationError(f"{where(i)}: {col} with a blank, comma "
                                   "or quote")
    return out


def observation_csv(obs: pd.DataFrame) -> str:
    """The observation table as the program reads it (numbers at full
    precision, blank cells for the defaults)."""
    def num(v: float) -> str:
        return "" if isinstance(v, float) and math.isnan(v) else repr(
            float(v))

    lines = ["name,x,node,time,value,sd,group,kind"]
    for r in obs.itertuples(index=False):
        node = "" if pd.isna(r.node) else str(int(r.node))
        lines.append(",".join([r.name, num(r.x), node, num(r.time),
                               num(r.value), num(r.sd), r.group, r.kind]))
    return "\n".join(lines) + "\n"
