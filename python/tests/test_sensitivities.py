"""qmr.sensitivities: the program's exact derivatives read from Python, on
a pumping test (radial flow) and the flow-transport chain example; checked
against the program's file, a hand computation and central differences of
the program's own full-precision outputs."""

import csv
import math
import os
import warnings
from pathlib import Path

import numpy as np
import pytest

import qmr

ROOT = Path(__file__).resolve().parents[2]
EXE = os.environ.get("QMR_EXE") or qmr.find_exe()
pytestmark = pytest.mark.skipif(not Path(EXE).is_file(),
                                reason=f"qmr executable {EXE} not built")

K, SS = "media[1].conductivity", "media[1].specific_storage"


def pumping():
    return qmr.Deck.read(ROOT / "examples" / "pumping" / "VELDA.INP")


def chain():
    return [qmr.Deck.read(ROOT / "examples" / "chain" / f"deck{i}.inp")
            for i in (1, 2)]


def observations(sens, output="observation"):
    """The values and derivatives of the observation rows as (step, node)
    tables, one derivative table per parameter."""
    f = sens.frame()
    f = f[f["output"] == output]
    val = f.drop_duplicates(["step", "node"]).pivot(
        index="step", columns="node", values="value")
    der = {p: g.pivot(index="step", columns="node", values="derivative")
           for p, g in f.groupby("parameter")}
    flag = {p: g.pivot(index="step", columns="node", values="flag")
            for p, g in f.groupby("parameter")}
    return val, der, flag


def assert_central(der, plus, minus, h, p0, flag=None, rel=1e-6):
    """The derivative against the central differences of the runs at
    p0 + h[i] and p0 - h[i] for steps h (the best of them), to 1e-6
    relative (`rel`), with a floor of 1e-9 of the largest value of each
    node's series for a relative change of the parameter (round-off
    outputs)."""
    der = np.asarray(der, float)
    ok = np.ones(der.shape, bool) if flag is None else \
        (np.asarray(flag) == "")
    assert ok.mean() > 0.5, "most derivatives are two-sided"
    best = None
    for p, m, step in zip(plus, minus, h):
        fd = (np.asarray(p) - np.asarray(m)) / (2 * step)
        err = np.abs(fd - der)[ok]
        if best is None or err.max() < best[0].max():
            best = (err, fd)
    scale = np.broadcast_to(np.abs(plus[0]).max(axis=0), der.shape)
    tol = rel * np.abs(der[ok]) + 1e-9 * scale[ok] / abs(p0)
    assert np.all(best[0] <= tol), (best[0] - tol).max()


def run_obs(deck, path, value, folder=None):
    """Full-precision observations of a run of `deck` with `path` set to
    `value` in the object and given to the run unrounded."""
    d = deck.copy()
    qmr.set_value(d, path, value)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", qmr.DigitsLostWarning)
        with qmr.run(d, folder, args=["--csv", "--set", f"{path}={value!r}"],
                     listing=False) as r:
            return r.read_csv("obs").to_numpy()


# -- the program's file, the dataset, the scaled sensitivities -------------

def test_frame_and_dataset_are_the_programs_file(tmp_path):
    s = qmr.sensitivities(pumping(), [K, SS], folder=tmp_path)
    with open(tmp_path / "pumping.sens.csv", newline="") as fh:
        rows = list(csv.reader(fh))
    assert tuple(rows[0]) == qmr.io.csv.SENS_COLUMNS
    rows = rows[1:]
    f = s.frame()
    assert len(f) == len(rows) and set(f["parameter"]) == {K, SS}
    assert list(f["parameter"]) == [r[0] for r in rows]
    assert list(f["output"]) == [r[1] for r in rows]
    assert list(f["flag"]) == [r[8] for r in rows]
    for j, c in ((2, "step"), (4, "node")):
        assert f[c].fillna(0).to_numpy(int).tolist() == \
            [int(r[j]) if r[j] else 0 for r in rows]
    for j, c in ((3, "time"), (5, "x"), (6, "value"), (7, "derivative")):
        want = np.array([float(r[j]) if r[j] else np.nan for r in rows])
        np.testing.assert_array_equal(f[c].to_numpy(float), want)

    # the dataset holds every row once, in its (row, parameter) cell
    ds = s.dataset
    assert ds["derivative"].shape == (len(rows) // 2, 2)
    np.testing.assert_array_equal(ds["parameter_value"], [20.0, 8e-06])
    for p in (K, SS):
        g = f[f["parameter"] == p]
        d = ds.sel(parameter=p)
        np.testing.assert_array_equal(d["derivative"], g["derivative"])
        np.testing.assert_array_equal(d["value"], g["value"])
        np.testing.assert_array_equal(d["output"], g["output"])
        np.testing.assert_array_equal(d["node"], g["node"].fillna(0))
        np.testing.assert_array_equal(d["time"], g["time"])


def test_scaled_by_hand():
    s = qmr.sensitivities(pumping(), [K, SS])
    sc = s.scaled()
    f = s.frame()
    zero = 0
    for i in range(0, len(f), 7):
        r = f.iloc[i]
        p = {K: 20.0, SS: 8e-06}[r["parameter"]]
        got = float(sc.sel(parameter=r["parameter"])[
            (s.dataset["output"] == r["output"]) &
            (s.dataset["step"] == r["step"]) &
            (s.dataset["node"] == r["node"])].item())
        if r["value"] == 0:
            zero += 1
            assert math.isnan(got)
        else:
            assert got == pytest.approx(r["derivative"] * p / r["value"],
                                        rel=1e-15, abs=0)
    at_zero = sc.where(s.dataset["value"] == 0, drop=True)
    assert at_zero.size > 0 and bool(np.isnan(at_zero).all())


# -- central differences of the program's own doubles ----------------------

def test_flow_derivatives_are_central_differences():
    deck = pumping()
    s = qmr.sensitivities(deck, [K, SS])
    val, der, flag = observations(s)
    np.testing.assert_array_equal(val.to_numpy(), run_obs(deck, K, 20.0))
    for path, p in ((K, 20.0), (SS, 8e-06)):
        h = [p * r for r in (1e-3, 1e-4, 1e-5)]
        assert_central(der[path], [run_obs(deck, path, p + x) for x in h],
                       [run_obs(deck, path, p - x) for x in h], h, p,
                       flag[path])


def test_chain_derivatives_are_central_differences(tmp_path):
    flow, tran = chain()
    kf, dt = "flow.media[1].conductivity", "transport.media[1].dispersivity"
    s = qmr.sensitivities([flow, tran], [kf, dt],
                          outputs=[qmr.Observations(deck="transport")])
    assert set(s.frame()["output"]) == {"transport.observation"}
    val, der, flag = observations(s, "transport.observation")

    def conc(k, a):
        d1, d2 = flow.copy(), tran.copy()
        qmr.set_value(d1, "media[1].conductivity", k)
        qmr.set_value(d2, "media[1].dispersivity", a)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", qmr.DigitsLostWarning)
            qmr.run(d1, tmp_path, listing=False,
                    args=["--set", f"media[1].conductivity={k!r}"])
            r = qmr.run(d2, tmp_path, listing=False, args=[
                "--csv", "--set", f"media[1].dispersivity={a!r}"])
            return r.read_csv("obs").to_numpy()

    k0 = qmr.get_value(flow, "media[1].conductivity")
    a0 = qmr.get_value(tran, "media[1].dispersivity")
    np.testing.assert_array_equal(val.to_numpy(), conc(k0, a0))
    # The transport run reads the velocities at the velocity file's seven
    # digits while the derivative is that of the unrounded ones: a
    # difference of the runs carries the file's rounding, 5e-8 relative,
    # divided by the relative step, beside the truncation error (3e-3 at a
    # step of 1e-2): they meet near 1e-4 at a step of 1e-3.
    hk = [k0 * r for r in (3e-3, 1e-3, 3e-4)]
    assert_central(der[kf], [conc(k0 + x, a0) for x in hk],
                   [conc(k0 - x, a0) for x in hk], hk, k0, flag[kf],
                   rel=3e-4)
    ha = [a0 * r for r in (1e-3, 1e-4, 1e-5)]
    assert_central(der[dt], [conc(k0, a0 + x) for x in ha],
                   [conc(k0, a0 - x) for x in ha], ha, a0, flag[dt])
    # the flow outputs do not depend on the transport parameters
    s2 = qmr.sensitivities([flow, tran], [kf, dt])
    ds = s2.dataset
    fl = ds["output"].str.startswith("flow.")
    assert bool(fl.any()) and bool(
        (ds["derivative"].sel(parameter=dt)[fl] == 0).all())


# -- values at full precision ----------------------------------------------

def test_deck_values_are_taken_unrounded(tmp_path):
    deck = pumping()
    k, ss = 12.345678901234567, 8.1234567890123456e-06
    qmr.set_value(deck, K, k)
    qmr.set_value(deck, SS, ss)             # not asked for, rounded too
    with warnings.catch_warnings():
        warnings.simplefilter("error", qmr.DigitsLostWarning)
        s = qmr.sensitivities(deck, [K])
    assert s.parameters == {K: k}
    # by hand: the deck as written (rounded) and both values on the command
    # line
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", qmr.DigitsLostWarning)
        qmr.run(deck, tmp_path, listing=False, args=[
            "--set", f"{K}={k!r}", "--set", f"{SS}={ss!r}",
            "--sensitivity", K])
    hand = qmr.io.csv.read_sensitivities(tmp_path / "pumping.sens.csv")
    f = s.frame()
    for c in ("value", "derivative", "time", "x"):
        np.testing.assert_array_equal(f[c].to_numpy(), hand[c].to_numpy())
    # the deck as its fields round it gives other numbers
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", qmr.DigitsLostWarning)
        qmr.run(deck, tmp_path, listing=False, args=["--sensitivity", K])
    rounded = qmr.io.csv.read_sensitivities(tmp_path / "pumping.sens.csv")
    assert not np.array_equal(rounded["derivative"], hand["derivative"])


# -- outputs and failures --------------------------------------------------

def test_output_selectors_keep_their_rows():
    deck = pumping()
    every = qmr.sensitivities(deck, [K], outputs=["observations", "profiles",
                                                  "fluxes", "accumulated",
                                                  "balance"]).frame()
    default = qmr.sensitivities(deck, [K]).frame()
    assert set(default["output"]) == {"observation", "flux",
                                      "accumulated_flux"}
    assert {"profile", "storage_increase"} <= set(every["output"])
    prof = every[every["output"] == "profile"]
    step = prof["step"].iloc[-1]
    t = prof.loc[prof["step"] == step, "time"].iloc[0]
    s = qmr.sensitivities(deck, [K], outputs=[
        qmr.Observations(nodes=(13, 37)), qmr.Fluxes(accumulated=True),
        qmr.Profiles(times=(t,))]).frame()
    want = every[((every["output"] == "observation") &
                  every["node"].isin([13, 37])) |
                 (every["output"] == "accumulated_flux") |
                 ((every["output"] == "profile") & (every["step"] == step))]
    assert len(want) > 0 and (want["output"] == "profile").any()
    np.testing.assert_array_equal(
        s.sort_values(["output", "step", "node"])[["derivative", "value"]],
        want.sort_values(["output", "step", "node"])[["derivative", "value"]])
    with pytest.raises(ValueError, match="no derivative"):
        qmr.sensitivities(deck, [K], outputs=[qmr.Imbalance()])


def test_failures_are_one_line():
    deck = pumping()
    for bad, what in (("media[1].conductivty", "did you mean media[1]."
                       "conductivity"),
                      ("media[2].conductivity", "outside"),
                      ("title", "not one the program differentiates"),
                      ("flow.media[1].conductivity.x", "not one")):
        with pytest.raises(qmr.PathError) as e:
            qmr.sensitivities(deck, [bad])
        assert what in str(e.value) and "\n" not in str(e.value)
    with pytest.raises(ValueError, match="given twice"):
        qmr.sensitivities(deck, [K, "flow." + K])
    flow, tran = chain()
    tran.graphic = flow.graphic
    with pytest.raises(ValueError, match="one graphic file"):
        qmr.sensitivities([flow, tran], ["flow." + K])
    with pytest.raises(qmr.PathError, match="names its deck first"):
        qmr.sensitivities(chain(), ["media[1].conductivity"])
    # a max_leakage of 0 means no cap: no derivative, the run refuses it
    with pytest.raises(qmr.RunError) as e:
        qmr.sensitivities(deck, ["media[1].max_leakage"])
    assert e.value.status == 1 and "\n" not in str(e.value)


def test_steady_heads_between_fixed_heads_analytically():
    """Steady confined flow between heads h1 at x = 0 and h2 at x = L: the
    head h1 + (h2 - h1) x / L, whatever the conductivity K; the flow
    K b w (h1 - h2) / L, proportional to K."""
    deck = qmr.FlowDeck(
        listing="s.lst", graphic="s.grf", flux_file="s.flx", title="steady",
        mesh_code=1, first_coordinate=0.0, last_coordinate=100.0, grading=1.0,
        elements=4, steady_state=1, steps=1, property_input=1,
        zone_starts=[1],
        media=[qmr.FlowMedium(conductivity=10.0, thickness=5.0, width=2.0)],
        prescribed_values=[qmr.PrescribedValue(1, value=50.0),
                           qmr.PrescribedValue(5, value=45.0)],
        initial_value=50.0, observation_nodes=[2, 3, 4], profile_steps=[1])
    h1, h2 = "prescribed_values[1].value", "prescribed_values[2].value"
    s = qmr.sensitivities(deck, [K, h1, h2])
    ds = s.dataset
    obs = ds.where(ds["output"] == "observation", drop=True)
    x = obs["x"].to_numpy()
    np.testing.assert_allclose(obs["value"], 50.0 - 5.0 * x / 100.0,
                               rtol=1e-14)
    np.testing.assert_allclose(obs["derivative"].sel(parameter=h1),
                               1 - x / 100.0, rtol=1e-13)
    np.testing.assert_allclose(obs["derivative"].sel(parameter=h2),
                               x / 100.0, rtol=1e-13)
    assert np.abs(obs["derivative"].sel(parameter=K)).max() < 1e-13
    flux = ds.where(ds["output"] == "flux", drop=True)
    q = flux["value"].to_numpy()
    np.testing.assert_allclose(np.abs(q), 10.0 * 5.0 * 2.0 * 5.0 / 100.0,
                               rtol=1e-12)
    np.testing.assert_allclose(flux["derivative"].sel(parameter=K), q / 10.0,
                               rtol=1e-12)
    np.testing.assert_allclose(s.scaled().sel(parameter=K)[
        ds["output"] == "flux"], 1.0, rtol=1e-12)
