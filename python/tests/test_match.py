"""Measured data (``qmr --observations FILE``): the program's ``X.match.csv``
against an independent interpolation, with pandas and numpy, of the
full-precision ``--csv`` outputs (profiles at consecutive steps, the
observation nodes, the fluxes), on a radial flow deck and a transport deck;
and the measurements' derivatives in ``X.sens.csv`` through
``qmr.sensitivities`` (``Sensitivities.match``) against central
differences of the simulated values.
"""

from __future__ import annotations

import os
import subprocess
import warnings
from pathlib import Path

import numpy as np
import pandas as pd
import pytest

import qmr

EXE = os.environ.get("QMR_EXE") or qmr.find_exe()
pytestmark = pytest.mark.skipif(not Path(EXE).is_file(),
                                reason=f"qmr executable {EXE} not built")
EXAMPLES = Path(__file__).resolve().parents[2] / "examples"
COLUMNS = ["name", "group", "kind", "x", "time", "measured", "simulated",
           "residual", "weight", "weighted_residual"]


def run(deck: qmr.Deck, folder: Path, obs: pd.DataFrame | None,
        *args: str) -> subprocess.CompletedProcess:
    """Runs the deck in `folder` with --csv and the measurements `obs`
    (written by pandas), if any."""
    folder.mkdir(exist_ok=True)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", qmr.DigitsLostWarning)
        deck.write(folder / "VELDA.INP")
    more = []
    if obs is not None:
        obs.to_csv(folder / "obs.csv", index=False)
        more = ["--observations", "obs.csv"]
    return subprocess.run([EXE, "--quiet", "--csv", *more, *args],
                          cwd=folder, capture_output=True, text=True,
                          timeout=120)


def profiles(folder: Path, stem: str, initial: float) -> pd.DataFrame:
    """The profiles of the run as a frame: index x, one column per time
    (the step's end), with the uniform initial values at the start."""
    prof = pd.read_csv(folder / f"{stem}.prof.csv",
                       float_precision="round_trip")
    times = [float(c.split("t=")[1]) for c in prof.columns[2:]]
    frame = pd.DataFrame(prof.iloc[:, 2:].to_numpy(), index=prof["x"],
                         columns=times)
    frame.insert(0, 0.0, initial)
    return frame


def expected(obs: pd.DataFrame, prof: pd.DataFrame, flux: pd.DataFrame,
             initial: float) -> np.ndarray:
    """Each measurement's simulated value: linear in x between the nodes
    (np.interp), then linear in time between the two profile times around
    it; a flux linear in time between the steps' rates (the first step's
    rate before its end)."""
    out = []
    times = prof.columns.to_numpy(float)
    for _, o in obs.iterrows():
        if o["kind"] == "flux":
            col = [c for c in flux.columns
                   if c.startswith(f"rate node {int(o['node'])} ")][0]
            t = np.concatenate([[flux["time"].iloc[0] - 1.0],
                                flux["time"].to_numpy()])
            r = np.concatenate([[flux[col].iloc[0]], flux[col].to_numpy()])
            out.append(np.interp(o["time"], t, r))
            continue
        x = o["x"] if not pd.isna(o["x"]) else prof.index[int(o["node"]) - 1]
        at = np.array([np.interp(x, prof.index.to_numpy(), prof[c])
                       for c in prof.columns])
        j = np.searchsorted(times, o["time"])
        if times[j] == o["time"]:
            v = at[j]
        else:
            v = np.interp(o["time"], times[j - 1:j + 1], at[j - 1:j + 1])
        out.append(initial - v if o["kind"] == "drawdown" else v)
    return np.array(out)


def check(folder: Path, stem: str, obs: pd.DataFrame, initial: float,
          kind: str) -> pd.DataFrame:
    match = pd.read_csv(folder / f"{stem}.match.csv",
                        float_precision="round_trip", keep_default_na=False)
    assert list(match.columns) == COLUMNS
    assert list(match["name"]) == list(obs["name"])
    kinds = obs["kind"].fillna("").replace("", kind)
    assert list(match["kind"]) == list(kinds)
    groups = obs["group"].fillna("") if "group" in obs else kinds
    assert list(match["group"]) == [g or k for g, k in zip(groups, kinds)]
    prof = profiles(folder, stem, initial)
    flux = pd.read_csv(folder / f"{stem}.flux.csv",
                       float_precision="round_trip")
    want = expected(obs.assign(kind=kinds), prof, flux, initial)
    sim = match["simulated"].to_numpy(float)
    np.testing.assert_allclose(sim, want, rtol=1e-12,
                               atol=1e-12 * np.abs(want).max())
    measured = obs["value"].to_numpy(float)
    sd = obs["sd"].fillna(1.0).to_numpy(float) if "sd" in obs else 1.0
    np.testing.assert_array_equal(match["measured"], measured)
    np.testing.assert_array_equal(match["residual"], measured - sim)
    np.testing.assert_array_equal(match["weight"], 1.0 / sd)
    np.testing.assert_array_equal(match["weighted_residual"],
                                  (1.0 / sd) * (measured - sim))
    return match


def pumping() -> qmr.Deck:
    deck = qmr.Deck.read(EXAMPLES / "pumping" / "VELDA.INP")
    deck.profile_steps = [1, 10, 11, 30, 31]
    return deck


def test_flow_match_is_the_interpolated_csv_outputs(tmp_path):
    deck = pumping()
    obs_nodes = deck.observation_nodes
    folder = tmp_path / "flow"
    assert run(deck, folder, None).returncode == 0  # the times and mesh
    grid = pd.read_csv(folder / "pumping.prof.csv",
                       float_precision="round_trip")
    x = grid["x"].to_numpy()
    t = [float(c.split("t=")[1]) for c in grid.columns[2:]]
    obs = pd.DataFrame([
        # between nodes and between the ends of steps 10 and 11
        dict(name="w1", x=0.37 * x[4] + 0.63 * x[5],
             time=0.3 * t[1] + 0.7 * t[2], value=48.0, sd=0.05),
        dict(name="w2", x=0.5 * (x[20] + x[21]), time=0.9 * t[3] + 0.1 * t[4],
             value=1.5, kind="drawdown", group="pumped"),
        # at a node, named or by its coordinate, at the end of step 31
        dict(name="w3", node=obs_nodes[1], time=t[4], value=49.0),
        dict(name="w4", x=x[30], time=t[4], value=49.5, kind="head"),
        # between the start (initial values) and the end of step 1
        dict(name="w5", x=0.25 * x[0] + 0.75 * x[1], time=0.4 * t[0],
             value=49.9, sd=2.0),
        dict(name="w6", x=x[7], time=0.0, value=50.0, kind="drawdown"),
        # the rate at the prescribed head, between steps and in step 1
        dict(name="q1", node=61, time=0.6 * t[1] + 0.4 * t[2], value=0.0,
             kind="flux", sd=1e-3),
        dict(name="q2", node=61, time=0.5 * t[0], value=0.0, kind="flux"),
    ])
    r = run(deck, folder, obs)
    assert r.returncode == 0, r.stderr
    m = check(folder, "pumping", obs, deck.initial_value, "head")
    # the measured nodes also in the observation CSV file, exactly
    o = pd.read_csv(folder / "pumping.obs.csv", float_precision="round_trip")
    col = [c for c in o.columns if c.startswith(f"node {obs_nodes[1]} ")][0]
    assert m["simulated"][2] == o[col].iloc[30]
    assert m["x"][2] == x[obs_nodes[1] - 1]


def test_transport_match_is_the_interpolated_csv_outputs(tmp_path):
    deck = qmr.Deck.read(EXAMPLES / "plume" / "VELDA.INP")
    deck.profile_steps = [1, 20, 21, 60, 61]
    folder = tmp_path / "plume"
    assert run(deck, folder, None).returncode == 0
    grid = pd.read_csv(folder / "plume.prof.csv",
                       float_precision="round_trip")
    x = grid["x"].to_numpy()
    t = [float(c.split("t=")[1]) for c in grid.columns[2:]]
    obs = pd.DataFrame([
        dict(name="c1", x=0.2 * x[10] + 0.8 * x[11],
             time=0.5 * (t[1] + t[2]), value=40.0, group="well A"),
        dict(name="c2", x=0.5 * (x[3] + x[4]), time=0.25 * t[3] + 0.75 * t[4],
             value=60.0, sd=5.0, group="well A"),
        dict(name="c3", node=31, time=t[3], value=10.0),
        dict(name="c4", x=0.5 * (x[0] + x[1]), time=0.5 * t[0], value=99.0,
             kind="concentration"),
        dict(name="m1", node=1, time=0.7 * t[1] + 0.3 * t[2], value=1.0,
             kind="flux"),
    ])
    r = run(deck, folder, obs)
    assert r.returncode == 0, r.stderr
    check(folder, "plume", obs, deck.initial_value, "concentration")


def test_sensitivities_match_is_the_jacobian(tmp_path):
    deck = qmr.Deck.read(EXAMPLES / "valley" / "VELDA.INP")
    obs = pd.DataFrame([
        dict(name="a", x=3100.0, time=150.0, value=9.0),
        dict(name="b", x=4777.0, time=600.0, value=1.0, kind="drawdown"),
        dict(name="q", node=51, time=300.0, value=0.0, kind="flux"),
        dict(name="p", node=1, time=800.0, value=0.0, kind="flux"),
    ])
    obs.to_csv(tmp_path / "obs.csv", index=False)
    k, n = "media[1].conductivity", "media[2].recharge"
    s = qmr.sensitivities(deck, [k, n], outputs=["observations"],
                          args=["--observations", str(tmp_path / "obs.csv")])
    jac = s.match()
    assert list(jac.index) == ["a", "b", "q", "p"]
    assert list(jac.columns) == [k, n]
    rows = s.frame()
    assert (rows["name"] == "").sum() == (rows["output"] != "match").sum()
    assert set(s.dataset["name"].values) == {"", "a", "b", "q", "p"}
    flags = rows[rows["output"] == "match"]["flag"]
    assert (flags == "").all(), flags

    def simulated(p, v):
        folder = tmp_path / f"{p}-{v!r}"
        r = run(deck, folder, obs, "--set", f"{p}={v!r}")
        assert r.returncode == 0, r.stderr
        return pd.read_csv(folder / "valley.match.csv",
                           float_precision="round_trip")["simulated"]

    for p, v in ((k, 25.0), (n, 1e-4)):
        h = 1e-4 * v
        central = (8 * (simulated(p, v + h) - simulated(p, v - h))
                   - (simulated(p, v + 2 * h) - simulated(p, v - 2 * h))) \
            / (12 * h)
        assert np.abs(central).min() > 0.0
        np.testing.assert_allclose(jac[p].to_numpy(), central.to_numpy(),
                                   rtol=1e-6)
