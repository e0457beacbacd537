"""Exact sensitivities on random decks of every option.

For cases of the compare tool's random deck generator (flow and transport,
radial, water table, leakage caps, zones and interpolated media, restart
and velocity files), the derivatives the program writes with
``--sensitivity`` are held against five-point central differences of the
program's own doubles, taken through ``--set`` with a step chosen per
parameter: of the relative steps 1e-1 .. 1e-5, the one whose difference
agrees best with that of a step ten times smaller (what it still disagrees
by with the steps on either side is the difference's own error and widens
the tolerance; an output whose differences settle at no step is round-off
and left out). Every derivative not flagged of the observations and the
fluxes agrees to 1e-6 relative, with a floor of 1e-9 of the largest value
of its output series for a relative change of the parameter (the balance
terms, sums in which round-off of much larger terms cancels, are checked
on the decks of tests/runs/test_sensitivity.cpp). The list of parameter
paths the program knows is held equal to the fields of the Python schema.
"""

from __future__ import annotations

import os
import random
import shutil
import subprocess
from pathlib import Path

import numpy as np
import pandas as pd
import pytest

from qmr.deck import schema
from qmrdev import randomdeck as rd

EXE = os.environ.get("QMR_EXE")
pytestmark = pytest.mark.skipif(not EXE, reason="QMR_EXE names no program")

FLOW = ["conductivity", "specific_storage", "storativity", "thickness",
        "recharge", "leakance", "head_beyond_aquitard", "width",
        "max_leakage"]
TRANSPORT = ["dispersivity", "diffusion", "porosity", "retardation",
             "decay", "recharge_concentration", "aquitard_concentration",
             "width"]


def qmr(folder: Path, *args: str) -> subprocess.CompletedProcess:
    return subprocess.run([EXE, "--quiet", *args], cwd=folder,
                          capture_output=True, text=True, timeout=60)


def candidates(d: rd.Deck) -> list[tuple[str, float]]:
    """The parameters of a deck and their values, stand-ins left out (a
    value 0 that the program takes for 1 or for no cap)."""
    out = []
    names = FLOW if d.run == "F" else TRANSPORT
    for i, medium in enumerate(d.media, start=1):
        for name, v in zip(names, medium):
            if v != 0.0:
                out.append((f"media[{i}].{name}", v))
    for k, rec in enumerate(d.pvals, start=1):
        out.append((f"prescribed_values[{k}].value", rec[2]))
    kinds = ["rate"] if d.run == "F" else ["solute_flux", "fluid_flux"]
    for k, rec in enumerate(d.pflux, start=1):
        for kind, v in zip(kinds, rec[2:]):
            out.append((f"prescribed_fluxes[{k}].{kind}", v))
    if d.ioread != 1:
        out.append(("initial_value", d.hdeflt))
    for k, rec in enumerate(d.nonuni, start=1):
        out.append((f"initial_values[{k}].value", rec[1]))
    if d.run == "T" and d.iodarc <= 0 and d.default_vel:
        out += [("default_velocity", d.default_vel[0]),
                ("default_thickness", d.default_vel[1])]
    return [(p, v) for p, v in out if v != 0.0]


def outputs(folder: Path) -> tuple[np.ndarray, np.ndarray]:
    """The observations and fluxes of a run with --csv in the order of
    X.sens.csv (per step), and the largest magnitude of each output's
    series."""
    def one(suffix: str) -> np.ndarray:
        frame = pd.read_csv(next(folder.glob("*" + suffix)))
        return frame.iloc[:, 2:].to_numpy(dtype=float)
    parts = [one(".obs.csv"), one(".flux.csv")]
    table = np.hstack(parts)
    peak = np.broadcast_to(np.abs(table).max(axis=0), table.shape)
    return table.ravel(), peak.ravel()


def check(prepared: Path, deck: str, path: str, v0: float) -> int:
    """Compares the derivatives with respect to one parameter; returns how
    many were compared (not flagged). Every run starts from a copy of the
    prepared folder (a run may write the restart file it reads)."""
    folder = prepared.parent / "run"

    def at(v: float, *more: str) -> tuple[np.ndarray, np.ndarray]:
        shutil.rmtree(folder, ignore_errors=True)
        shutil.copytree(prepared, folder)
        r = qmr(folder, "--no-listing", "--csv", "--set", f"{path}={v!r}",
                *more, deck)
        assert r.returncode == 0, r.stderr
        return outputs(folder)

    base, peak = at(v0, "--sensitivity", path)
    graphic = next(folder.glob("*.obs.csv")).name[:-len(".obs.csv")]
    sens = pd.read_csv(folder / (graphic + ".sens.csv"),
                       keep_default_na=False)
    assert len(sens) == base.size, path
    np.testing.assert_array_equal(sens["value"].to_numpy(float), base)
    fd = []
    for rel in (1e-1, 1e-2, 1e-3, 1e-4, 1e-5, 1e-6):
        h = rel * abs(v0)
        p1, m1 = at(v0 + h)[0], at(v0 - h)[0]
        p2, m2 = at(v0 + 2 * h)[0], at(v0 - 2 * h)[0]
        fd.append((8 * (p1 - m1) - (p2 - m2)) / (12 * h))
    fd = np.array(fd)
    floor = 1e-9 * peak / abs(v0)
    spread = [np.max(np.abs(fd[k] - fd[k + 1])
                     / (1e-6 * np.abs(fd[k]) + floor + 1e-300))
              for k in range(len(fd) - 1)]
    best = int(np.argmin(spread))
    central = fd[best]
    # Its own error: twice how far it stands from the differences of the
    # steps on either side (an output that is round-off, as a flux of a few
    # units in the last digits of the heads, scatters from step to step).
    own = np.abs(fd[best] - fd[best + 1])
    if best > 0:
        own = np.maximum(own, np.abs(fd[best] - fd[best - 1]))
    own = 2.0 * own
    derivative = sens["derivative"].to_numpy(float)
    # An output whose differences settle at no step, not even to 1e-3, is
    # round-off (a flux of a few units in the last digits of the heads): it
    # has no central difference to be held to, and is left out.
    steps = np.abs(fd[:-1] - fd[1:]) / (np.abs(fd[:-1]) + floor + 1e-300)
    settled = steps.min(axis=0) <= 1e-3
    free = (sens["flag"].to_numpy(str) == "") & settled
    err = np.abs(derivative - central)
    tol = 1e-6 * np.abs(central) + floor + own
    bad = free & (err > tol)
    assert not bad.any(), (
        f"{path}: {sens[bad].head(3).to_dict('records')} against "
        f"{central[bad][:3]}, step {best}, differences "
        f"{fd[:, np.flatnonzero(bad)[:1]].ravel()}")
    return int(free.sum())


def prepare(seed: int, tmp_path: Path) -> tuple[rd.Case, Path]:
    """The random case of seed in tmp_path/case, with the runs before its
    last made (they leave the files the last reads); a case made to fail is
    skipped."""
    case = rd.make_case(seed)
    if case.label.startswith("expect-fail"):
        pytest.skip("a case made to fail")
    prepared = tmp_path / "case"
    rd.write_case(case.as_dict(), str(prepared))
    for k in range(1, len(case.decks)):
        assert qmr(prepared, f"deck{k}.inp").returncode == 0
    return case, prepared


@pytest.mark.parametrize("seed", range(20261208, 20261208 + 48))
def test_random_decks(seed: int, tmp_path: Path) -> None:
    case, prepared = prepare(seed, tmp_path)
    last = len(case.decks)
    d = case.decks[-1]
    if d.nobs == 0 and d.nbt == 0:
        pytest.skip("no observation and no prescribed value")
    params = candidates(d)
    if d.run == "T":
        # A transport run whose concentrations leave ten times the range of
        # every concentration it is given has lost stability (the elements
        # far too long for its dispersion): its round-off grows with the
        # solution, and no central difference is good to 1e-6 there.
        shutil.copytree(prepared, tmp_path / "plain")
        r = qmr(tmp_path / "plain", "--no-listing", "--csv", f"deck{last}.inp")
        assert r.returncode == 0, r.stderr
        given = [abs(v) for _, v in params] + [1.0]
        obs = pd.read_csv(next((tmp_path / "plain").glob("*.obs.csv")))
        obs = obs.iloc[:, 2:]
        if obs.size and np.abs(obs.to_numpy(float)).max() > 10 * max(given):
            pytest.skip("an unstable transport run")
    rng = random.Random(seed)
    compared = 0
    for path, v0 in rng.sample(params, min(2, len(params))):
        compared += check(prepared, f"deck{last}.inp", path, v0)
    assert compared > 0 or d.i2dwt == 1 or any(
        m[8] > 0 for m in d.media if d.run == "F" and len(m) > 8)


def test_parameter_names_match_the_schema() -> None:
    """The program's list of parameter paths and the Python schema's fields
    are the same names."""
    r = subprocess.run([EXE, "--parameter-names"], capture_output=True,
                       text=True)
    assert r.returncode == 0
    program = set(r.stdout.split())
    python = set()
    for _, record in schema.records():
        floats = [f for f in record.fields if f.kind == "F" and not f.ignored]
        if record.attr == "media":
            python |= {f"media[].{f.name}" for f in floats}
        elif record.attr in ("prescribed_values", "prescribed_fluxes",
                             "initial_values"):
            python |= {f"{record.attr}[].{f.name}" for f in floats}
        elif record.key in ("hdeflt", "rdarcy"):
            python |= {f.name for f in floats}
    assert program == python


@pytest.mark.parametrize("seed", range(20261300, 20261300 + 40))
def test_outputs_unchanged_by_derivatives(seed: int, tmp_path: Path) -> None:
    """The run that computes derivatives (all of a deck's parameters, so
    more than one group of them for the larger decks) writes every other
    file byte for byte as the plain run does."""
    case, prepared = prepare(seed, tmp_path)
    last = len(case.decks)
    params = candidates(case.decks[-1])
    if not params:
        pytest.skip("no parameter with a derivative")
    plain, derived = tmp_path / "plain", tmp_path / "derived"
    shutil.copytree(prepared, plain)
    shutil.copytree(prepared, derived)
    r = qmr(plain, "--csv", f"deck{last}.inp")
    assert r.returncode == 0, r.stderr
    more = [a for path, _ in params for a in ("--sensitivity", path)]
    r = qmr(derived, "--csv", *more, f"deck{last}.inp")
    assert r.returncode == 0, r.stderr
    written = sorted(p.name for p in derived.iterdir()
                     if not p.name.endswith(".sens.csv"))
    assert written == sorted(p.name for p in plain.iterdir())
    for name in written:
        assert (plain / name).read_bytes() == (derived / name).read_bytes(), \
            name
