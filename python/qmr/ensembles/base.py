"""The base decks of an ensemble (with the files they read that no earlier
deck writes) and its parameter table checked against them; the program's
options the outputs call for."""

from __future__ import annotations

import math
import os
from collections import Counter
from pathlib import Path
from typing import Any, Dict, List, Mapping, Optional, Sequence, Tuple

import numpy as np
import pandas as pd

from ..deck import Deck
from ..deck.schema import NO_FLUX_VARIANTS
from ..deck.paths import _Decks, _walk
from ..runner import _run_name
from .outputs import STATUS_COLUMNS, EnsembleError, Fluxes, Function, Imbalance


def _aux_inputs(decks: Sequence[Deck]) -> List[str]:
    """Names of files the decks read that no earlier deck writes."""
    written: set = set()
    need: List[str] = []
    for d in decks:
        reads = []
        if d.restart_read == 1 and d.restart_in:
            reads.append(_run_name(d.restart_in))
        if d.imode == 2 and d.velocity_code > 0 and d.velocity_file:
            reads.append(_run_name(d.velocity_file))
        need += [n for n in reads if n not in written and n not in need]
        for n in (d.listing, d.graphic, d.flux_file,
                  d.restart_out if d.restart_write == 1 else None,
                  d.velocity_file if d.imode == 1 and d.velocity_code > 0
                  else None):
            if n:
                written.add(_run_name(n))
    return need


def _load_base(base: Any, files: Optional[Mapping[str, Any]]
               ) -> Tuple[_Decks, Dict[str, bytes]]:
    names: Optional[List[str]] = None
    if isinstance(base, Mapping):
        names = [str(k) for k in base]
        items = list(base.values())
    elif isinstance(base, (Deck, str, os.PathLike)):
        items = [base]
    else:
        items = list(base)
    decks, dirs = [], []
    for it in items:
        if isinstance(it, Deck):
            decks.append(it.copy())
            dirs.append(None)
        else:
            decks.append(Deck.read(it))
            dirs.append(Path(it).resolve().parent)
    if not decks:
        raise EnsembleError("no base deck")
    out: Dict[str, bytes] = {}
    for n in _aux_inputs(decks):
        for d in [x for x in dirs if x is not None] + [Path.cwd()]:
            p = d / n.replace("\\", "/")
            if p.is_file():
                out[n] = p.read_bytes()
                break
    for n, v in (files or {}).items():
        if isinstance(v, bytes):
            out[n] = v
        elif isinstance(v, os.PathLike):
            out[n] = Path(v).read_bytes()
        else:
            out[n] = str(v).encode()
    return _Decks(decks, names), out


def _text(v: Any) -> str:
    """A parameter value as the status file holds it."""
    if v is None or (isinstance(v, float) and math.isnan(v)):
        return ""
    if isinstance(v, (float, np.floating)):
        return repr(float(v))
    if isinstance(v, (np.integer,)):
        return str(int(v))
    return str(v)


def _same(a: str, b: str) -> bool:
    if a == b:
        return True
    try:
        return float(a) == float(b)
    except ValueError:
        return False


def _check_parameters(parameters: pd.DataFrame, decks: _Decks) -> None:
    if not isinstance(parameters, pd.DataFrame):
        raise TypeError("parameters: a pandas DataFrame, one row per "
                        "realization")
    keys = [str(k) for k in parameters.index]
    if len(set(keys)) != len(keys):
        dup = [k for k, c in Counter(keys).items() if c > 1][:5]
        raise EnsembleError(f"realization labels given twice: {dup}")
    for path in parameters.columns:
        if str(path) in ("realization",) + STATUS_COLUMNS:
            raise EnsembleError(f"parameter {path!r}: a reserved name")
        i, segs = decks.split(str(path))
        trial = decks.decks[i].copy()
        holder, attr, num = _walk(trial, segs, str(path))
        old = holder[num] if num is not None else getattr(holder, attr)
        col = parameters[path]
        given = col[col.notna()]
        if isinstance(old, (int, np.integer)) and not isinstance(old, bool):
            f = pd.to_numeric(given, errors="coerce")
            if f.isna().any() or not np.all(np.mod(f, 1) == 0):
                raise EnsembleError(f"parameter {path!r}: the deck holds a "
                                    "whole number there; the table does not")
        elif isinstance(old, float):
            if pd.to_numeric(given, errors="coerce").isna().any():
                raise EnsembleError(f"parameter {path!r}: a value is not a "
                                    "number")
        try:
            if num is not None:
                holder[num] = old
            else:
                setattr(holder, attr, old)
        except AttributeError as e:
            raise EnsembleError(f"parameter {path!r}: {e}") from None


def _run_args(args: Sequence[str], wanted: Sequence[Any], decks: _Decks,
              full_precision: bool, listing: Optional[bool]
              ) -> Tuple[str, ...]:
    """The program's options: the caller's, and --csv and --no-listing as
    `full_precision` and `listing` ask."""
    out = list(args)
    if full_precision and "--csv" not in out:
        out.append("--csv")
    if listing is None:
        listing = any(isinstance(w.wanted, Function) or (
            isinstance(w.wanted, Fluxes) and w.deck is not None and
            not _writes_flux_file(decks.decks[w.deck])) or (
            isinstance(w.wanted, Imbalance) and not full_precision)
            for w in wanted)
    if not listing and "--no-listing" not in out:
        out.append("--no-listing")
    return tuple(out)


def _writes_flux_file(d: Deck) -> bool:
    return d.flux_file is not None and d.variant not in NO_FLUX_VARIANTS
