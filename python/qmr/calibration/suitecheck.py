"""The calibration suites' files read back as a suite reads them, and
their check (``qmr-pest check``): the command run once at the starting
values and once per adjustable parameter, perturbed, through the template
and the instruction file; the observations that respond to no parameter
and the values lost to a field width named."""

from __future__ import annotations

import re
import shlex
import subprocess
from dataclasses import dataclass, field
from pathlib import Path
from typing import Dict, List, Optional, Tuple

import numpy as np
import pandas as pd

from ..runner import PathLike
from .params import CalibrationError
from .suite import CONTROL, FIELD_WIDTH, _num, suite_name

__all__ = ["read_suite", "Suite", "fill_template", "read_instructions",
           "field_widths", "check_suite", "CheckResult"]


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
