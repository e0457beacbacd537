"""The files of the general calibration suites for a qmr deck, and their
check.

:func:`write_suite` writes, into one folder, the control file in the
keyword format of the current suite's manual (control file version 2:
``pcf version=2``, a ``* control data keyword`` section and the parameter,
observation and prior tables as external CSV files), a template of the
``--parameters`` file whose fields hold any double at full precision, an
instruction file reading the ``simulated`` column of ``X.match.csv``, the
deck, the observation table, and the model command, which removes the
run's outputs before running ``qmr --parameters ... --observations ...
--no-listing DECK`` so that no stale file is ever read.

:func:`qmr.calibration.suitecheck.check_suite` runs the command once at
the starting values and once per adjustable parameter, perturbed, through
the template and the instruction file as the suite would, and tells which
observations respond to no parameter and whether any value is lost to a
field width.
"""

from __future__ import annotations

import math
import re
import shlex
import stat
import warnings
from pathlib import Path
from typing import Any, Dict, List, Optional

import numpy as np
import pandas as pd

from ..deck import Deck, DigitsLostWarning
from ..deck.paths import _Decks
from ..io.csv import csv_paths, sens_path
from ..runner import PathLike, _run_name, find_exe
from ..sensitivities import _Parameter, _unrounded, parameter_names
from .model import match_path
from .observations import observation_csv, read_observations
from .params import CalibrationError, read_parameters

__all__ = ["write_suite", "suite_name", "FIELD_WIDTH", "CONTROL"]

CONTROL = "qmr.pst"
TEMPLATE = "parameters.tpl"
INSTRUCTIONS = "match.ins"
PARAMETERS = "parameters.txt"
OBSERVATIONS = "observations.csv"
DECK = "deck.inp"
COMMAND = "model.sh"
COMMAND_WINDOWS = "model.bat"
PARAMETER_DATA = "parameter_data.csv"
PARAMETER_GROUPS = "parameter_groups.csv"
OBSERVATION_DATA = "observation_data.csv"
PRIOR_DATA = "prior_information.csv"

# A template field: 26 columns between and with its markers hold the
# longest shortest text of a double ("-2.2250738585072014e-308", 24).
FIELD_WIDTH = 26
MARKER = "~"
BIG = 1e30


def suite_name(text: str) -> str:
    """A name the suites take: lower case letters, digits and ``_``."""
    return re.sub(r"[^a-z0-9_]+", "_", text.lower()).strip("_") or "p"


def _unique(names: List[str]) -> List[str]:
    seen: Dict[str, int] = {}
    out = []
    for n in names:
        k = seen.get(n, 0)
        seen[n] = k + 1
        out.append(n if k == 0 else f"{n}_{k + 1}")
    return out


def _num(v: float) -> str:
    return repr(float(v))


def write_suite(deck: Any, parameters: Any, observations: Any,
                out: PathLike, *, exe: Optional[PathLike] = None,
                noptmax: int = 30) -> Path:
    """Write the suite's files for `deck` (a deck object or file),
    `parameters` (the parameter table) and `observations` (the observation
    table) into the folder `out` (see the module); `exe` is the program
    the command runs (:func:`qmr.find_exe` by default, its absolute path).
    Returns the control file's path. Raises CalibrationError for tables
    that cannot be used and PathError for a path that names no
    parameter."""
    d = deck.copy() if isinstance(deck, Deck) else Deck.read(deck)
    table = read_parameters(parameters)
    obs = read_observations(observations)
    if not d.graphic:
        raise CalibrationError("the deck writes no graphic file, beside "
                               "which the match table goes")
    decks = _Decks([d])
    names = parameter_names(exe)
    for p in table.params:
        _Parameter(p.path, decks, names)     # PathError for a bad path
    folder = Path(out)
    folder.mkdir(parents=True, exist_ok=True)
    pnames = _unique([suite_name(p.path) for p in table.params])
    by = dict(zip([p.path for p in table.params], pnames))
    onames = _unique([suite_name(n) for n in obs["name"]])
    if len({n.lower() for n in obs["name"]}) != len(obs):
        raise CalibrationError("observation names differ only in letter "
                               "case")

    # the template: every table parameter in a field, every other value
    # its field would round written at full precision
    values, _ = _unrounded(d, [p.path for p in table.params], names)
    lines = [f"ptf {MARKER}"]
    for p in table.params:
        lines.append(f"{p.path} {MARKER}{by[p.path]:<{FIELD_WIDTH - 2}}"
                     f"{MARKER}")
    for k, v in values.items():
        if k not in by:
            lines.append(f"{k} {_num(v)}")
    (folder / TEMPLATE).write_text("\n".join(lines) + "\n")

    # the instruction file: skip the header, then one line per
    # observation, six commas on to the simulated value
    graphic = _run_name(d.graphic).replace("\\", "/")
    match = match_path(graphic).as_posix()
    ins = [f"pif {MARKER}", "l1"]
    skip = " ".join([f"{MARKER},{MARKER}"] * 6)
    ins += [f"l1 {skip} !{n}!" for n in onames]
    (folder / INSTRUCTIONS).write_text("\n".join(ins) + "\n")

    # the deck, the measured data, the command
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DigitsLostWarning)
        d.write(folder / DECK)
    (folder / OBSERVATIONS).write_text(observation_csv(obs))
    outputs = _outputs(d)
    program = find_exe(exe)
    sh = ["#!/bin/sh",
          "# The model run of the calibration suite: the outputs of the last "
          "run removed,",
          "# so that no stale file is read, then qmr at the values of "
          f"{PARAMETERS}.",
          'cd "$(dirname "$0")" || exit 1',
          "rm -f " + " ".join(shlex.quote(o) for o in outputs),
          f"exec {shlex.quote(program)} --quiet --no-listing --parameters "
          f"{PARAMETERS} --observations {OBSERVATIONS} {DECK}"]
    (folder / COMMAND).write_text("\n".join(sh) + "\n")
    mode = (folder / COMMAND).stat().st_mode
    (folder / COMMAND).chmod(mode | stat.S_IXUSR | stat.S_IXGRP
                             | stat.S_IXOTH)
    bat = ["@echo off",
           "rem The model run of the calibration suite (see model.sh).",
           'cd /d "%~dp0"']
    bat += [f'if exist "{o}" del /f /q "{o}"'.replace("/", "\\")
            for o in outputs]
    bat.append(f"qmr.exe --quiet --no-listing --parameters {PARAMETERS} "
               f"--observations {OBSERVATIONS} {DECK}")
    (folder / COMMAND_WINDOWS).write_text("\r\n".join(bat) + "\r\n")

    # the tables
    groups = sorted({p.group or "params" for p in table.params})
    pd.DataFrame({"pargpnme": [suite_name(g) for g in groups],
                  "inctyp": "relative", "derinc": 0.01, "derinclb": 0.0,
                  "forcen": "switch", "derincmul": 2.0,
                  "dermthd": "parabolic"}).to_csv(
        folder / PARAMETER_GROUPS, index=False)
    rows = []
    for p in table.params:
        trans = "fixed" if p.fixed else "tied" if p.tied_to else (
            "log" if p.log else "none")
        lo, hi = p.lower, p.upper
        if p.log and lo <= 0:
            lo = p.value * 1e-10
        lo = lo if math.isfinite(lo) else -BIG
        hi = hi if math.isfinite(hi) else BIG
        rows.append({"parnme": by[p.path], "partrans": trans,
                     "parchglim": "factor" if p.log else "relative",
                     "parval1": _num(p.value), "parlbnd": _num(lo),
                     "parubnd": _num(hi),
                     "pargp": suite_name(p.group or "params"),
                     "scale": 1.0, "offset": 0.0, "dercom": 1,
                     "partied": by[p.tied_to] if p.tied_to else ""})
    pd.DataFrame(rows).to_csv(folder / PARAMETER_DATA, index=False)
    weight = np.where(np.isnan(obs["sd"].to_numpy(float)), 1.0,
                      1.0 / obs["sd"].to_numpy(float))
    ogroup = [suite_name(g or k or "observations")
              for g, k in zip(obs["group"], obs["kind"])]
    pd.DataFrame({"obsnme": onames,
                  "obsval": [_num(v) for v in obs["value"]],
                  "weight": [_num(w) for w in weight],
                  "obgnme": ogroup}).to_csv(folder / OBSERVATION_DATA,
                                            index=False)
    priors = [p for p in table.params if p.prior is not None]
    if priors:
        pi = []
        for k, p in enumerate(priors, 1):
            assert p.prior is not None and p.prior_sd is not None
            pu, sdu = p.prior_u()
            term = f"log({by[p.path]})" if p.log else by[p.path]
            pi.append({"pilbl": f"pi{k}",
                       "equation": f"1.0 * {term} = {_num(pu)}",
                       "weight": _num(1.0 / sdu), "obgnme": "prior"})
        pd.DataFrame(pi).to_csv(folder / PRIOR_DATA, index=False)

    n_free = sum(p.free for p in table.params)
    keywords = [
        ("pestmode", "estimation"), ("precis", "double"),
        ("dpoint", "point"), ("noptmax", str(noptmax)),
        ("rlambda1", "10.0"), ("rlamfac", "-3.0"), ("phiratsuf", "0.3"),
        ("phiredlam", "0.03"), ("numlam", "10"), ("relparmax", "10.0"),
        ("facparmax", "10.0"), ("facorig", "0.001"),
        ("phiredswh", "0.1"), ("phiredstp", "0.005"), ("nphistp", "4"),
        ("nphinored", "3"), ("relparstp", "0.005"), ("nrelpar", "4"),
        ("icov", "1"), ("icor", "1"), ("ieig", "1")]
    ctl = ["pcf version=2",
           f"# qmr calibration suite files: {n_free} adjustable parameters, "
           f"{len(obs)} observations; see docs/calibration.md",
           "* control data keyword"]
    ctl += [f"{k} {v}" for k, v in keywords]
    ctl += ["* parameter groups external", PARAMETER_GROUPS,
            "* parameter data external", PARAMETER_DATA,
            "* observation data external", OBSERVATION_DATA]
    if priors:
        ctl += ["* prior information external", PRIOR_DATA]
    ctl += ["* model command line", f"./{COMMAND}",
            "* model input", f"{TEMPLATE} {PARAMETERS}",
            "* model output", f"{INSTRUCTIONS} {match}"]
    (folder / CONTROL).write_text("\n".join(ctl) + "\n")
    return folder / CONTROL


def _outputs(d: Deck) -> List[str]:
    """Every file a run of the deck writes (the listing too, which
    --no-listing leaves alone but an earlier run may have written)."""
    names = [d.listing, d.graphic]
    if d.flux_file:
        names.append(d.flux_file)
    if d.restart_write == 1 and d.restart_out:
        names.append(d.restart_out)
    if d.imode == 1 and d.velocity_code > 0 and d.velocity_file:
        names.append(d.velocity_file)
    out = [_run_name(n).replace("\\", "/") for n in names if n]
    g = out[1] if len(out) > 1 else None
    if g:
        out += [p.as_posix() for p in csv_paths(g).values()]
        out += [sens_path(g).as_posix(), match_path(g).as_posix()]
    return [n for n in out if n]
