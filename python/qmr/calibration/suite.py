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

:func:`check_suite` runs the command once at the starting values and once
per adjustable parameter, perturbed, through the template and the
instruction file as the suite would, and tells which observations respond
to no parameter and whether any value is lost to a field width.
"""

from __future__ import annotations

import math
import re
import shlex
import stat
import subprocess
import warnings
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Dict, List, Optional, Tuple

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

__all__ = ["write_suite", "check_suite", "read_suite", "Suite",
           "fill_template", "read_instructions", "FIELD_WIDTH"]

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


# ---------------------------------------------------------------------------
# Reading the files back, as the suite reads them
# ---------------------------------------------------------------------------

@dataclass
class Suite:
    """The suite's files read back: the control file's keywords and
    sections, the parameter, observation and prior tables, the command,
    the template and instruction files with the files they make and
    read."""

    folder: Path
    keywords: Dict[str, str]
    parameters: pd.DataFrame
    observations: pd.DataFrame
    groups: pd.DataFrame
    priors: Optional[pd.DataFrame]
    command: str
    inputs: List[Tuple[str, str]] = field(default_factory=list)
    outputs: List[Tuple[str, str]] = field(default_factory=list)


def read_suite(folder: PathLike) -> Suite:
    """Read a suite's control file (:data:`CONTROL`) of the keyword
    format and the files it names. Raises CalibrationError for a file
    that is not of that format."""
    folder = Path(folder)
    path = folder / CONTROL
    try:
        lines = path.read_text().splitlines()
    except FileNotFoundError:
        raise CalibrationError(f"{path}: no control file") from None
    if not lines or not lines[0].startswith("pcf"):
        raise CalibrationError(f"{path}: does not begin with pcf")
    sections: Dict[str, List[str]] = {}
    current = None
    for ln in lines[1:]:
        if ln.startswith("#") or not ln.strip():
            continue
        if ln.startswith("*"):
            current = ln[1:].strip()
            sections[current] = []
        elif current is None:
            raise CalibrationError(f"{path}: a line before the first "
                                   "section")
        else:
            sections[current].append(ln)

    def table(name: str, required: bool = True) -> Optional[pd.DataFrame]:
        key = f"{name} external"
        if key not in sections:
            if required:
                raise CalibrationError(f"{path}: no section * {key}")
            return None
        return pd.read_csv(folder / sections[key][0].strip(), dtype=str,
                           keep_default_na=False)

    kw = {}
    for ln in sections.get("control data keyword", []):
        k, _, v = ln.partition(" ")
        kw[k.strip().lower()] = v.strip()
    params = table("parameter data")
    obs = table("observation data")
    groups = table("parameter groups")
    assert params is not None and obs is not None and groups is not None
    pairs = [tuple(s.split()) for s in sections.get("model input", [])]
    outs = [tuple(s.split()) for s in sections.get("model output", [])]
    return Suite(folder, kw, params, obs, groups,
                 table("prior information", False),
                 sections.get("model command line", [""])[0].strip(),
                 [(a, b) for a, b in pairs], [(a, b) for a, b in outs])


def fill_template(text: str, values: Dict[str, float]) -> str:
    """The model input file of a template: each field between markers
    replaced by its parameter's value, the shortest text that reads back
    to the double, right-justified in the field's width. Raises
    CalibrationError when a value does not fit its field."""
    lines = text.splitlines()
    head = lines[0].split()
    if len(head) != 2 or head[0] != "ptf":
        raise CalibrationError("a template begins with ptf and its marker")
    mark = head[1]
    out = []
    pattern = re.compile(re.escape(mark) + r"([^" + re.escape(mark) + r"]*)"
                         + re.escape(mark))
    for ln in lines[1:]:
        def put(m: re.Match) -> str:
            name = m[1].strip().lower()
            if name not in values:
                raise CalibrationError(f"the template names {name!r}, which "
                                       "is no parameter")
            t = _num(values[name])
            if len(t) > len(m[0]):
                raise CalibrationError(f"{name}: {t} does not fit the field "
                                       f"of {len(m[0])} columns")
            return t.rjust(len(m[0]))
        out.append(pattern.sub(put, ln))
    return "\n".join(out) + "\n"


def field_widths(text: str) -> Dict[str, int]:
    """The width of each parameter's field in a template."""
    lines = text.splitlines()
    mark = lines[0].split()[1]
    pattern = re.compile(re.escape(mark) + r"([^" + re.escape(mark) + r"]*)"
                         + re.escape(mark))
    out: Dict[str, int] = {}
    for ln in lines[1:]:
        for m in pattern.finditer(ln):
            out[m[1].strip().lower()] = len(m[0])
    return out


def read_instructions(text: str, output: str) -> Dict[str, float]:
    """The observations an instruction file reads from a model output
    file: line advances (``l<n>``), primary and secondary markers, and
    non-fixed observations ``!name!`` ending at a blank, a comma or the
    end of the line."""
    lines = text.splitlines()
    head = lines[0].split()
    if len(head) != 2 or head[0] != "pif":
        raise CalibrationError("an instruction file begins with pif and its "
                               "marker")
    mark = head[1]
    rows = output.splitlines()
    line_no, cursor = -1, 0
    got: Dict[str, float] = {}
    token = re.compile(re.escape(mark) + r"[^" + re.escape(mark) + r"]*"
                       + re.escape(mark) + r"|!\S+?!|l\d+|\S+")
    for ins in lines[1:]:
        for t in token.findall(ins):
            if re.fullmatch(r"l\d+", t):
                line_no += int(t[1:])
                cursor = 0
                if line_no >= len(rows):
                    raise CalibrationError("the instructions read beyond the "
                                           "end of the output file")
            elif t.startswith(mark):
                what = t[1:-1]
                at = rows[line_no].find(what, cursor)
                if at < 0:
                    raise CalibrationError(f"marker {what!r} not found on "
                                           f"line {line_no + 1}")
                cursor = at + len(what)
            elif t.startswith("!"):
                name = t[1:-1].lower()
                m = re.compile(r"[ \t]*([^ \t,]+)").match(rows[line_no],
                                                          cursor)
                if m is None:
                    raise CalibrationError(f"no value for {name} on line "
                                           f"{line_no + 1}")
                try:
                    got[name] = float(m[1])
                except ValueError:
                    raise CalibrationError(
                        f"{name}: {m[1]!r} on line {line_no + 1} is not a "
                        "number") from None
                cursor = m.end()
            else:
                raise CalibrationError(f"instruction {t!r} not understood")
    return got


# ---------------------------------------------------------------------------
# The check
# ---------------------------------------------------------------------------

@dataclass
class CheckResult:
    """What :func:`check_suite` found: ``responses`` (observations by
    adjustable parameters, the change of each simulated value), the
    observations that respond to none (``unresponsive``), the values lost
    to a field width (``lost``, text lines), the runs made."""

    responses: pd.DataFrame
    unresponsive: List[str]
    lost: List[str]
    runs: int
    base: pd.Series

    @property
    def ok(self) -> bool:
        return not self.unresponsive and not self.lost


def _run_command(suite: Suite, values: Dict[str, float],
                 timeout: Optional[float]) -> Dict[str, float]:
    for tpl, target in suite.inputs:
        text = (suite.folder / tpl).read_text()
        (suite.folder / target).write_text(fill_template(text, values))
    cmd = suite.command
    argv = ["sh", cmd] if cmd.endswith(".sh") else shlex.split(cmd)
    p = subprocess.run(argv, cwd=suite.folder, capture_output=True,
                       text=True, timeout=timeout)
    if p.returncode != 0:
        msg = " ".join(p.stderr.split()) or f"exit status {p.returncode}"
        raise CalibrationError(f"the model command failed: {msg}")
    got: Dict[str, float] = {}
    for ins, target in suite.outputs:
        path = suite.folder / target
        if not path.exists():
            raise CalibrationError(f"the model command wrote no {target}")
        got.update(read_instructions((suite.folder / ins).read_text(),
                                     path.read_text()))
    return got


def _values(suite: Suite, start: Dict[str, float]) -> Dict[str, float]:
    """All parameters' values, tied ones at their starting ratio to the
    one they follow."""
    p = suite.parameters
    out = dict(start)
    first = {n: float(v) for n, v in zip(p["parnme"], p["parval1"])}
    for n, t, parent in zip(p["parnme"], p["partrans"], p["partied"]):
        if t == "tied" and parent:
            out[n] = first[n] / first[parent] * out[parent]
    return out


def check_suite(folder: PathLike, *, relative: float = 0.01,
                threshold: float = 1e-9,
                timeout: Optional[float] = None) -> CheckResult:
    """Run the suite's command at the starting values and once per
    adjustable parameter perturbed by `relative` (a factor 1 + `relative`
    for a log parameter), through the template and the instruction file.
    An observation responds when some perturbation changes its simulated
    value by more than `threshold` times the largest simulated value of
    its group. A value is lost to a field width when its shortest text
    does not fit the template's field, or when a simulated value read
    differs from the match table's own. Raises CalibrationError for files
    that cannot be read or a command that fails."""
    suite = read_suite(folder)
    p = suite.parameters
    start = {n: float(v) for n, v in zip(p["parnme"], p["parval1"])}
    widths: Dict[str, int] = {}
    for tpl, _ in suite.inputs:
        widths.update(field_widths((suite.folder / tpl).read_text()))
    lost: List[str] = []
    base_values = _values(suite, start)
    base = _run_command(suite, base_values, timeout)
    runs = 1
    obs = suite.observations
    names = list(obs["obsnme"])
    missing = [n for n in names if n not in base]
    if missing:
        raise CalibrationError(f"the instructions read no value for "
                               f"{missing[0]}")
    lost += _lost_in_match(suite, base)
    adjustable = [n for n, t in zip(p["parnme"], p["partrans"])
                  if t in ("none", "log")]
    trans = dict(zip(p["parnme"], p["partrans"]))
    upper = {n: float(v) for n, v in zip(p["parnme"], p["parubnd"])}
    cols = {}
    for n in adjustable:
        v = start[n]
        new = v * (1 + relative) if v != 0 else relative
        if new > upper[n]:
            new = v * (1 - relative) if trans[n] == "log" or v != 0 \
                else -relative
        vals = _values(suite, {**start, n: new})
        for k, x in vals.items():
            if len(_num(x)) > widths.get(k, FIELD_WIDTH):
                lost.append(f"{k}: {_num(x)} does not fit its field of "
                            f"{widths.get(k)} columns")
        got = _run_command(suite, vals, timeout)
        runs += 1
        cols[n] = [got[o] - base[o] for o in names]
    responses = pd.DataFrame(cols, index=pd.Index(names, name="observation"))
    b = pd.Series([base[o] for o in names], index=responses.index)
    scale = b.abs().groupby(list(obs["obgnme"])).transform("max") \
        .to_numpy()
    moved = responses.abs().to_numpy() > threshold * np.maximum(
        scale, np.finfo(float).tiny)[:, None]
    unresponsive = [o for o, m in zip(names, moved.any(axis=1)) if not m]
    return CheckResult(responses, unresponsive, lost, runs, b)


def _lost_in_match(suite: Suite, got: Dict[str, float]) -> List[str]:
    """Simulated values the instructions read that differ from the match
    table's (read as CSV)."""
    out = []
    for _, target in suite.outputs:
        path = suite.folder / target
        if not path.name.endswith(".match.csv"):
            continue
        df = pd.read_csv(path, dtype={"name": str}, keep_default_na=False,
                         float_precision="round_trip")
        table = dict(zip([suite_name(n) for n in df["name"]],
                         df["simulated"].astype(float)))
        for n, v in got.items():
            if n in table and table[n] != v:
                out.append(f"{n}: read {v!r}, the match table holds "
                           f"{table[n]!r}")
    return out
