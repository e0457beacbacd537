"""Ensembles on local processes: values by deck path, samples, outputs
against hand-computed heads and fluxes and against plain serial runs,
failures, lost workers, resuming, chains and the command."""

import os
import shutil
import signal
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import numpy as np
import pandas as pd
import pytest

import qmr
from ensemble_cases import (LENGTH, OBS_NODES, ROOT, THICKNESS, WIDTH,
                            serial_observations, steady_deck)
from qmr import (FAILED_OUTSIDE, EnsembleError, Fluxes, Function, Imbalance,
                 Observations, PathError, Profiles, get_value, set_value)
from qmr.cli.ensemble import read_parameters

EXE = os.environ.get("QMR_EXE", "")
needs_qmr = pytest.mark.skipif(not Path(EXE).is_file(),
                               reason="QMR_EXE does not name the program")

H1, K = "prescribed_values[1].value", "media[1].conductivity"


def table(n, seed=3):
    """Heads at node 1 between 46 and 60 m, conductivities 1..100 m/d, to
    six decimals (as their ten-column deck fields hold them); labels r0,
    r1, ..."""
    return qmr.latin_hypercube({H1: qmr.Uniform(46.0, 60.0),
                                K: qmr.LogUniform(1.0, 100.0)}, n, seed=seed,
                               index=[f"r{i}" for i in range(n)]).round(6)


def round4(v):
    """A value as the graphic and flux files print it (E11.4, 0.dddd: four
    significant digits)."""
    v = np.asarray(v, dtype=float)
    return np.array([float(f"{x:.3e}") for x in v.ravel()]).reshape(v.shape)


# ---------------------------------------------------------------------------
# Deck values by path and samples
# ---------------------------------------------------------------------------

def test_values_by_path_numbered_as_in_the_deck():
    d = steady_deck()
    set_value(d, "media[1].conductivity", 7)
    set_value(d, "prescribed_values[2].value", 44.5)
    set_value(d, "prescribed_values[2].node", 10.0)   # a whole number
    set_value(d, "observation_nodes[3]", 8)
    set_value(d, "last_coordinate", 90)
    assert d.media[1].conductivity == 7.0
    assert isinstance(d.media[1].conductivity, float)
    assert d.prescribed_values[2].value == 44.5
    assert d.prescribed_values[2].node == 10
    assert isinstance(d.prescribed_values[2].node, int)
    assert list(d.observation_nodes) == [3, 6, 8]
    assert get_value(d, "last_coordinate") == 90.0
    with pytest.raises(ValueError, match="whole number"):
        set_value(d, "prescribed_values[2].node", 10.5)
    for bad in ("media[2].conductivity", "media[1].conductivty",
                "nonsense", "media[1]..x", "_desc"):
        with pytest.raises((PathError, IndexError)):
            set_value(d, bad, 1.0)


def test_latin_hypercube_fills_every_stratum_once():
    n = 50
    s = qmr.latin_hypercube({"a": qmr.Uniform(2.0, 4.0),
                             "b": qmr.LogUniform(1e-3, 1e1),
                             "c": ("normal", 5.0, 2.0)}, n, seed=11)
    assert list(s.columns) == ["a", "b", "c"] and len(s) == n
    from scipy.stats import norm
    strata = {"a": (s["a"] - 2.0) / 2.0,
              "b": (np.log10(s["b"]) + 3.0) / 4.0,
              "c": norm.cdf(s["c"], 5.0, 2.0)}
    for name, u in strata.items():
        assert sorted(np.floor(u * n).astype(int)) == list(range(n)), name
    again = qmr.latin_hypercube({"a": qmr.Uniform(2.0, 4.0),
                                 "b": qmr.LogUniform(1e-3, 1e1),
                                 "c": ("normal", 5.0, 2.0)}, n, seed=11)
    pd.testing.assert_frame_equal(s, again)
    other = qmr.latin_hypercube({"a": qmr.Uniform(2.0, 4.0)}, n, seed=12)
    assert not np.array_equal(s["a"], other["a"])


def test_random_sample_follows_its_distributions():
    s = qmr.random_sample({"u": qmr.Uniform(-1.0, 3.0),
                           "l": qmr.LogUniform(1.0, 1e4),
                           "n": qmr.Normal(10.0, 0.5)}, 20000, seed=5)
    assert s["u"].between(-1.0, 3.0).all()
    assert abs(s["u"].mean() - 1.0) < 0.05
    assert s["l"].between(1.0, 1e4).all()
    # each decade equally likely: a quarter of the draws below 10
    assert abs((s["l"] < 10.0).mean() - 0.25) < 0.02
    assert abs(s["n"].mean() - 10.0) < 0.02
    assert abs(s["n"].std() - 0.5) < 0.02
    pd.testing.assert_frame_equal(
        s, qmr.random_sample({"u": qmr.Uniform(-1.0, 3.0),
                              "l": qmr.LogUniform(1.0, 1e4),
                              "n": qmr.Normal(10.0, 0.5)}, 20000, seed=5))
    with pytest.raises(ValueError):
        qmr.LogUniform(0.0, 1.0)
    with pytest.raises(TypeError):
        qmr.random_sample({"x": ("triangle", 0, 1)}, 3)


# ---------------------------------------------------------------------------
# Runs
# ---------------------------------------------------------------------------

@needs_qmr
def test_pool_of_200_against_hand_values_and_serial_runs(tmp_path):
    p = table(200)
    res = qmr.ensemble(steady_deck(), p,
                       [Observations(), Fluxes(), Imbalance(),
                        Profiles(steps=(1,))],
                       results_file=tmp_path / "r.csv", workers=2)
    assert res.ran == 200 and list(res.failed) == []
    assert (res.status["status"] == 0).all()
    pd.testing.assert_frame_equal(res.status[[H1, K]], p,
                                  check_names=False)

    # Linear heads between the fixed heads, every digit (the CSV files).
    obs = res["observations"]
    assert list(obs.index) == list(p.index)
    x = np.array([(n - 1) * LENGTH / 10 for n in OBS_NODES])
    h1 = p[H1].to_numpy()[:, None]
    expect = h1 + (45.0 - h1) * x / LENGTH
    np.testing.assert_allclose(obs.to_numpy(), expect, rtol=1e-12)
    assert list(obs.columns) == [(n, 1) for n in OBS_NODES]
    assert (res.long.query("output == 'observations'")["x"].unique()
            == x).all()
    # Darcy flow through the aquifer enters at node 1, leaves at node 11.
    q = p[K] * THICKNESS * WIDTH * (p[H1] - 45.0) / LENGTH
    flux = res["fluxes"]
    np.testing.assert_allclose(flux[(1, 1)], q, rtol=1e-9)
    np.testing.assert_allclose(flux[(11, 1)], -q, rtol=1e-9)
    # A steady balance closes to round-off.
    imb = res["imbalance"]
    assert list(imb.columns) == [1]
    assert (imb[1].abs() < 1e-9 * q).all()
    prof = res["profiles"]
    assert prof.shape == (200, 11)

    # Identical to runs made one by one without the ensemble.
    for label, row in p.iloc[::4].iterrows():
        d = steady_deck()
        d.prescribed_values[1].value = row[H1]
        d.media[1].conductivity = row[K]
        ref = serial_observations(d, tmp_path / "serial" / label)
        assert np.array_equal(obs.loc[label].to_numpy(), ref), label

    # The results file holds the same values in long form, exactly.
    back = pd.read_csv(tmp_path / "r.csv", float_precision="round_trip",
                       dtype={"realization": str})
    assert list(back.columns) == ["realization", "output", "step", "time",
                                  "node", "x", "value"]
    assert len(back) == len(res.long) == 200 * (3 + 2 + 1 + 11)
    mine = back[back.output == "observations"].pivot_table(
        index="realization", columns="node", values="value")
    assert np.array_equal(mine.loc[p.index].to_numpy(), obs.to_numpy())
    # The status file: one row per realization with its values.
    st = pd.read_csv(tmp_path / "r.status.csv", dtype={"realization": str},
                     float_precision="round_trip", keep_default_na=False)
    assert sorted(st.realization) == sorted(p.index)
    assert np.array_equal(st.set_index("realization").loc[p.index, H1],
                          p[H1])


def peak_or_fail(result):
    """An output function: the largest observed head, failing for one
    realization (its folder is named after its label)."""
    if Path(result.folder).name == "r7":
        raise ValueError("no peak in r7")
    return float(result.read_graphic().observations.to_numpy().max())


def kill_own_worker_once(result):
    """An output function that kills the process it runs in, the first time
    only, for two realizations: a worker lost in the middle of the run."""
    label = Path(result.folder).name
    mark = Path(os.environ["QMR_TEST_MARKS"]) / label
    if label in ("r3", "r11") and not mark.exists():
        mark.touch()
        os.kill(os.getpid(), signal.SIGKILL)
    return 1.0


@needs_qmr
def test_failures_are_recorded_and_the_rest_complete(tmp_path):
    p = table(30)
    PN = "prescribed_values[2].node"
    p[PN] = 11
    p.loc[["r2", "r20"], PN] = 99          # the program refuses the deck
    res = qmr.ensemble(steady_deck(), p,
                       {"obs": Observations(nodes=(6,)),
                        "peak": peak_or_fail},
                       folder=tmp_path / "runs",
                       results_file=tmp_path / "r.csv", batch=4)
    # Failures share their tasks with realizations that succeed.
    assert sorted(res.failed) == ["r2", "r20", "r7"]
    st = res.status
    assert st.loc["r2", "status"] == st.loc["r20", "status"] != 0
    assert "99" in st.loc["r2", "diagnostic"]
    assert st.loc["r7", "status"] == FAILED_OUTSIDE
    assert "no peak in r7" in st.loc["r7", "diagnostic"]
    assert (st.drop(["r2", "r20", "r7"])["status"] == 0).all()
    peak = res["peak"]
    assert peak.loc[["r2", "r7", "r20"]].isna().all()
    at_node_3 = p[H1] + (45.0 - p[H1]) * 0.2
    ok = p.index.drop(["r2", "r7", "r20"])
    np.testing.assert_allclose(peak[ok], round4(at_node_3[ok]), rtol=2e-5)
    assert list(res["obs"].columns) == [(6, 1)]
    assert not any((tmp_path / "runs").iterdir())   # scratch removed
    assert "3 failed" in res.summary()

    # Run again: nothing left to do; failed ones only when asked.
    again = qmr.ensemble(steady_deck(), p, {"obs": Observations(nodes=(6,)),
                                            "peak": peak_or_fail},
                         results_file=tmp_path / "r.csv")
    assert again.ran == 0 and sorted(again.failed) == ["r2", "r20", "r7"]
    p.loc[["r2", "r20"], PN] = 11          # fixed; same labels: refused
    with pytest.raises(EnsembleError, match="other parameter values"):
        qmr.ensemble(steady_deck(), p, results_file=tmp_path / "r.csv")
    p.loc[["r2", "r20"], PN] = 99
    retry = qmr.ensemble(steady_deck(), p, {"obs": Observations(nodes=(6,)),
                                            "peak": peak_or_fail},
                         results_file=tmp_path / "r.csv", retry_failed=True,
                         keep=True, folder=tmp_path / "kept")
    assert retry.ran == 3
    assert (tmp_path / "kept" / "r7" / "s.grf").is_file()
    assert not (tmp_path / "kept" / "r1").exists()


@needs_qmr
def test_a_killed_worker_loses_and_duplicates_nothing(tmp_path, monkeypatch):
    marks = tmp_path / "marks"
    marks.mkdir()
    monkeypatch.setenv("QMR_TEST_MARKS", str(marks))
    p = table(40)
    res = qmr.ensemble(steady_deck(), p,
                       [Observations(), Function(name="alive",
                                                 fn=kill_own_worker_once)],
                       folder=tmp_path / "runs", workers=2, batch=3,
                       results_file=tmp_path / "r.csv")
    assert sorted(os.listdir(marks)) == ["r11", "r3"]   # both did die
    assert res.lost >= 2
    assert list(res.failed) == [] and res.ran == 40
    st = pd.read_csv(tmp_path / "r.status.csv", dtype={"realization": str})
    assert sorted(st.realization) == sorted(p.index)    # once each
    long = pd.read_csv(tmp_path / "r.csv", dtype={"realization": str})
    counts = long.groupby("realization").size()
    assert (counts == len(OBS_NODES) + 1).all() and len(counts) == 40


class Interrupt(Exception):
    pass


@needs_qmr
def test_an_interrupted_ensemble_resumes(tmp_path):
    p = table(60)
    seen = []

    def stop_after_20(outcome):
        seen.append(outcome.key)
        if len(seen) == 20:
            raise Interrupt

    with pytest.raises(Interrupt):
        qmr.ensemble(steady_deck(), p, results_file=tmp_path / "r.csv",
                     on_result=stop_after_20, workers=2)
    st = pd.read_csv(tmp_path / "r.status.csv", dtype={"realization": str})
    assert list(st.realization) == seen
    # A last line cut by the interruption, and rows of a realization
    # whose status row never came, are dropped when resuming.
    ghost = [k for k in p.index if k not in seen][-2:]
    with open(tmp_path / "r.csv", "a") as fh:
        fh.write(f"{ghost[0]},observations,1,1.0,3,20.0,99.0\n"
                 f"{ghost[1]},observ")
    rest = []
    res = qmr.ensemble(steady_deck(), p, results_file=tmp_path / "r.csv",
                       on_result=lambda o: rest.append(o.key), workers=2)
    assert sorted(rest) == sorted(set(p.index) - set(seen))
    assert res.ran == 40 and len(res.succeeded) == 60
    whole = qmr.ensemble(steady_deck(), p, executor=ThreadPoolExecutor(2))
    pd.testing.assert_frame_equal(res["observations"],
                                  whole["observations"])
    pd.testing.assert_frame_equal(res["imbalance"], whole["imbalance"])
    assert len(res.long) == len(whole.long) == 60 * (3 + 1)
    # Another table under the same files is refused.
    with pytest.raises(EnsembleError, match="columns"):
        qmr.ensemble(steady_deck(), p[[H1]], results_file=tmp_path / "r.csv")


@needs_qmr
def test_a_chain_by_deck_names(tmp_path):
    chain = [ROOT / "examples" / "chain" / "deck1.inp",
             ROOT / "examples" / "chain" / "deck2.inp"]
    p = pd.DataFrame({"flow.media[1].conductivity": [100.0, 60.0],
                      "transport.media[1].dispersivity": [25.0, 12.5]},
                     index=["a", "b"])
    res = qmr.ensemble(chain, p, ["transport.observations",
                                  "flow.observations", "imbalance"])
    assert sorted(res.outputs) == ["flow.imbalance", "flow.observations",
                                   "transport.observations"]
    for label, row in p.iterrows():
        flow, transport = (qmr.Deck.read(f) for f in chain)
        flow.media[1].conductivity = row.iloc[0]
        transport.media[1].dispersivity = row.iloc[1]
        out = qmr.run_chain([flow, transport], tmp_path / label,
                            args=["--csv"])
        ref = out[1].read_csv("obs").to_numpy().T.ravel()
        assert np.array_equal(res["transport.observations"].loc[label], ref)
    with pytest.raises(EnsembleError, match="names its deck first"):
        qmr.ensemble(chain, p.rename(columns=lambda c: c.split(".", 1)[1]))


# ---------------------------------------------------------------------------
# The command
# ---------------------------------------------------------------------------

@needs_qmr
def test_the_command(tmp_path):
    deck = tmp_path / "base.inp"
    steady_deck().write(deck)
    p = table(12)
    p["prescribed_values[2].node"] = 11
    p.loc["r4", "prescribed_values[2].node"] = 99
    p.to_csv(tmp_path / "p.csv", index_label="id")
    cmd = [str(ROOT / "tools" / "qmr-ensemble"), str(deck),
           str(tmp_path / "p.csv"), "--out", str(tmp_path / "out.csv"),
           "--workers", "2", "--observations", "3,9", "--fluxes"]
    r = subprocess.run(cmd, capture_output=True, text=True)
    assert r.returncode == 1, r.stderr
    assert "12 realizations: 11 succeeded, 1 failed" in r.stderr
    assert "realization r4: exit status" in r.stderr
    long = pd.read_csv(tmp_path / "out.csv", dtype={"realization": str})
    assert set(long.output) == {"observations", "fluxes"}
    assert set(long[long.output == "observations"].node) == {3, 9}
    assert len(long) == 11 * (2 + 2)
    # Again: nothing to run; by default every observation series and the
    # imbalance, under new files.
    r = subprocess.run(cmd, capture_output=True, text=True)
    assert "0 run now" in r.stderr and r.returncode == 1
    r = subprocess.run(cmd[:4] + [str(tmp_path / "all.csv"), "--progress"],
                       capture_output=True, text=True)
    assert r.returncode == 1
    long = pd.read_csv(tmp_path / "all.csv")
    assert set(long.output) == {"observations", "imbalance"}
    assert "run/s" in r.stderr or "12/12" in r.stderr    # the bar
    bad = subprocess.run(cmd[:3] + ["--out", str(tmp_path / "x.csv"),
                                    "--tls-cert", "c.pem"],
                         capture_output=True, text=True)
    assert bad.returncode == 2 and "--tls-ca-file" in bad.stderr


def test_the_command_runs_under_the_system_python():
    other = shutil.which("python3") or sys.executable
    r = subprocess.run([other, str(ROOT / "tools" / "qmr-ensemble"),
                        "--help"], capture_output=True, text=True)
    assert r.returncode == 0 and "--scheduler" in r.stdout


@needs_qmr
def test_labels_keep_their_kind(tmp_path):
    """Whole-number labels come back as numbers (the files hold text);
    labels read by the command stay text, leading zeros and all."""
    p = pd.DataFrame({H1: [47.0, 48.0, 49.0]}, index=[10, 20, 30])
    res = qmr.ensemble(steady_deck(), p, "observations",
                       executor=ThreadPoolExecutor(2),
                       results_file=tmp_path / "r.csv")
    assert list(res["observations"].index) == [10, 20, 30]
    assert list(res.status.index) == [10, 20, 30]
    assert res["observations"].loc[20, (6, 1)] == pytest.approx(46.5,
                                                                rel=1e-12)
    again = qmr.ensemble(steady_deck(), p, "observations",
                         results_file=tmp_path / "r.csv")
    assert again.ran == 0 and list(again.succeeded) == [10, 20, 30]
    (tmp_path / "p.csv").write_text("id,media[1].conductivity\n007,5\n7,6\n")
    t = read_parameters(tmp_path / "p.csv")
    assert list(t.index) == ["007", "7"]


@needs_qmr
def test_outputs_from_the_csv_files_at_full_precision(tmp_path):
    """When the program writes its CSV outputs beside the graphic file,
    the values come from them, every digit."""
    from qmr.deck.paths import _Decks
    from qmr.ensembles.collect import _collect, _Reads
    from qmr.ensembles.outputs import _outputs
    deck = steady_deck()
    r = qmr.run(deck, tmp_path)
    (tmp_path / "s.obs.csv").write_text(
        "step,time,node 3 x=20,node 6 x=50,node 9 x=80\n"
        "1,1,49.123456789012,47.5,45.987654321\n")
    (tmp_path / "s.prof.csv").write_text(
        "node,x,step 1 t=1\n" + "".join(
            f"{n},{10 * (n - 1)},{50 - 0.5 * (n - 1) + 1e-9}\n"
            for n in range(1, 12)))
    (tmp_path / "s.balance.csv").write_text(
        "step,time,storage,imbalance\n1,1,0,1.25e-13\n")
    r = qmr.Result(deck, tmp_path, "", "", [])
    wanted = _outputs(["observations", "profiles", "imbalance"],
                      _Decks([deck]))
    blocks = {b[0]: b for b in _collect(wanted, _Reads(r), 0)}
    name, step, time, node, x, value = blocks["observations"]
    assert list(node) == [3, 6, 9] and list(x) == [20.0, 50.0, 80.0]
    assert list(value) == [49.123456789012, 47.5, 45.987654321]
    assert list(blocks["profiles"][5]) == [50 - 0.5 * k + 1e-9
                                           for k in range(11)]
    assert list(blocks["imbalance"][5]) == [1.25e-13]
    assert list(blocks["imbalance"][1]) == [1]
