"""The parts of calibration that need no run: the parameter table and its
one-line refusals, Levenberg-Marquardt on residual functions whose answer
is known, the linear statistics against the textbook formulas, meshes and
steps through given points, dates turned into times."""

from __future__ import annotations

import io
import math
import warnings

import numpy as np
import pandas as pd
import pytest

import qmr
from qmr.calibration import (CalibrationError, levenberg_marquardt,
                             read_observations, read_parameters)
from qmr.calibration.result import linear_statistics
from qmr.deck.mesh import node_coordinates, set_mesh, set_times


# ---------------------------------------------------------------------------
# The parameter table
# ---------------------------------------------------------------------------

def table(text: str):
    return read_parameters(pd.read_csv(io.StringIO(text), dtype=str,
                                       keep_default_na=False))


GOOD = """\
parameter,value,lower,upper,transform,fixed,tied_to,prior,prior_sd,group
media[1].conductivity,20,1,1000,log,,,,,k
media[2].conductivity,40,,,log,,media[1].conductivity,,,k
media[1].specific_storage,1e-5,1e-7,1e-3,log,,,2e-5,1e-5,s
prescribed_values[1].value,50,,,none,true,,,,bc
"""


def test_a_good_table_gives_free_tied_fixed_and_priors(tmp_path):
    path = tmp_path / "p.csv"
    path.write_text(GOOD)
    t = read_parameters(path)
    assert [p.path for p in t.free] == ["media[1].conductivity",
                                        "media[1].specific_storage"]
    tied = t.by_path["media[2].conductivity"]
    assert tied.tied_to == "media[1].conductivity" and tied.ratio == 2.0
    assert t.by_path["prescribed_values[1].value"].fixed
    assert tied.lower == 0.0 and math.isinf(tied.upper)   # log: above 0
    # the values follow the free parameters' transformed values
    v = t.values(np.array([math.log10(30.0), math.log10(3e-5)]))
    assert v["media[1].conductivity"] == pytest.approx(30.0, rel=1e-15)
    assert v["media[2].conductivity"] == pytest.approx(60.0, rel=1e-15)
    assert v["prescribed_values[1].value"] == 50.0
    # the prior of a log parameter in log10, sd carried over at the prior
    p = t.by_path["media[1].specific_storage"]
    assert p.prior_u() == pytest.approx(
        (math.log10(2e-5), 1e-5 / (2e-5 * math.log(10))))
    assert list(t.frame().columns) == list(qmr.calibration.params
                                           .PARAMETER_COLUMNS)


@pytest.mark.parametrize("text, says", [
    ("parameter,value,colour\nmedia[1].conductivity,1,red\n",
     "unknown column 'colour'"),
    ("value\n1\n", "no column 'parameter'"),
    ("parameter,value\n", "no parameters"),
    ("parameter,value\na,1\na,2\n", "row 2 (a): given twice (row 1)"),
    ("parameter,value\na,x\n", "value 'x' is not a number"),
    ("parameter,value,lower,upper\na,5,10,1\n", "lower bound 10.0 is above"),
    ("parameter,value,lower,upper\na,50,1,10\n", "outside its bounds"),
    ("parameter,value,transform\na,1,ln\n", "neither none nor log"),
    ("parameter,value,transform\na,-1,log\n", "must be above 0"),
    ("parameter,value,fixed\na,1,maybe\n", "neither true nor false"),
    ("parameter,value,tied_to\na,1,b\n", "tied to 'b', which is not in"),
    ("parameter,value,tied_to\na,1,a\n", "tied to itself"),
    ("parameter,value,tied_to\na,1,b\nb,1,c\nc,1,\n", "is tied itself"),
    ("parameter,value,tied_to\na,1,b\nb,0,\n", "gives no ratio"),
    ("parameter,value,prior\na,1,2\n", "prior and prior_sd go together"),
    ("parameter,value,prior,prior_sd\na,1,2,0\n", "prior_sd must be"),
    ("parameter,value,fixed,prior,prior_sd\na,1,true,1,1\nb,1,,,\n",
     "has nothing to act on"),
    ("parameter,value,fixed\na,1,true\n", "nothing to estimate"),
    ("parameter,value,lower,upper\na,1,1,1\n", "equal bounds"),
])
def test_a_bad_table_is_refused_in_one_line(text, says):
    with pytest.raises(CalibrationError) as e:
        table(text)
    assert says in str(e.value)
    assert "\n" not in str(e.value)


def test_observation_tables_are_checked_in_one_line():
    ok = read_observations(pd.DataFrame({
        "name": ["a", "b"], "x": ["5", ""], "node": ["", "3"],
        "time": ["1", "2"], "value": ["0.5", "0.25"], "sd": ["", "0.1"],
        "kind": ["Drawdown", ""]}))
    assert ok["node"].isna().tolist() == [True, False]
    assert ok["kind"].tolist() == ["drawdown", ""]
    bad = [({"name": ["a", "A"], "x": [1, 2], "time": [1, 1],
             "value": [1, 1]}, "name given twice"),
           ({"name": ["a b"], "x": [1], "time": [1], "value": [1]},
            "a name of 1 to 200"),
           ({"name": ["a"], "x": [1], "node": [2], "time": [1],
             "value": [1]}, "give x or node"),
           ({"name": ["a"], "x": [1], "time": [1], "value": [1],
             "sd": [0]}, "sd must be above 0"),
           ({"name": ["a"], "x": [1], "time": [1], "value": [1],
             "kind": ["level"]}, "kind 'level'"),
           ({"name": ["a"], "x": [1], "time": [1], "value": ["x"]},
            "value 'x' is not a number"),
           ({"name": ["a"], "x": [1], "time": [1], "value": [1],
             "kind": ["flux"]}, "a flux is named by its node"),
           ({"name": ["a"], "x": [1], "value": [1]}, "no column 'time'")]
    for frame, says in bad:
        with pytest.raises(CalibrationError) as e:
            read_observations(pd.DataFrame(frame))
        assert says in str(e.value), (frame, str(e.value))


# ---------------------------------------------------------------------------
# Levenberg-Marquardt
# ---------------------------------------------------------------------------

def linear_problem(seed: int = 0):
    rng = np.random.default_rng(seed)
    a = rng.normal(size=(30, 3))
    y = a @ np.array([1.0, -2.0, 0.5]) + 0.1 * rng.normal(size=30)
    w = rng.uniform(0.5, 2.0, size=30)

    def fn(u):
        return w * (y - a @ u), -w[:, None] * a, None
    return fn, a, y, w


def test_a_linear_problem_ends_at_the_least_squares_solution():
    fn, a, y, w = linear_problem()
    best = np.linalg.lstsq(w[:, None] * a, w * y, rcond=None)[0]
    res = levenberg_marquardt(fn, np.zeros(3), np.full(3, -np.inf),
                              np.full(3, np.inf), max_change=1e6)
    assert res.converged, res.stop_reason
    assert res.u == pytest.approx(best, rel=1e-9, abs=1e-12)
    assert res.history[0]["iteration"] == 0
    assert res.runs == res.history[-1]["runs"] or res.stop_reason in (
        "parameter change", "gradient")


def exponential(a_true: float = 3.0, b_true: float = 0.2):
    t = np.linspace(0.5, 20, 25)
    y = a_true * np.exp(-b_true * t)
    seen = []

    def fn(u):          # u = log10(a), log10(b)
        seen.append(u.copy())
        a, b = 10 ** u
        sim = a * np.exp(-b * t)
        ln10 = math.log(10)
        jac = -np.column_stack([sim * ln10, -sim * t * b * ln10])
        return y - sim, jac, sim
    return fn, seen


def test_log_parameters_a_decade_off_are_recovered():
    fn, _ = exponential()
    res = levenberg_marquardt(fn, np.log10([30.0, 0.02]),
                              np.full(2, -np.inf), np.full(2, np.inf),
                              log=np.array([True, True]))
    assert res.converged, res.stop_reason
    assert 10 ** res.u == pytest.approx([3.0, 0.2], rel=1e-7)
    assert res.runs < 40
    objectives = [h["objective"] for h in res.history]
    assert all(b < a for a, b in zip(objectives, objectives[1:]))


def test_bounds_hold_at_every_evaluation():
    fn, seen = exponential()
    lower = np.log10([0.1, 0.3])        # b's optimum 0.2 is excluded
    upper = np.log10([100.0, 10.0])
    res = levenberg_marquardt(fn, np.log10([30.0, 2.0]), lower, upper,
                              log=np.array([True, True]))
    assert all(np.all(u >= lower) and np.all(u <= upper) for u in seen)
    assert res.u[1] == lower[1]
    assert res.converged, res.stop_reason


def test_the_rosenbrock_valley_and_the_run_limit():
    def fn(u):
        x, y = u
        return (np.array([10 * (y - x * x), 1 - x]),
                np.array([[-20 * x, 10.0], [-1.0, 0.0]]), None)
    res = levenberg_marquardt(fn, np.array([-1.2, 1.0]), np.full(2, -np.inf),
                              np.full(2, np.inf), max_change=10.0)
    assert res.converged and res.u == pytest.approx([1.0, 1.0], abs=1e-6)
    res = levenberg_marquardt(fn, np.array([-1.2, 1.0]), np.full(2, -np.inf),
                              np.full(2, np.inf), max_runs=3)
    assert not res.converged and res.stop_reason == "runs"
    assert res.runs == 3


def test_linear_statistics_are_the_textbook_ones():
    rng = np.random.default_rng(3)
    t = np.linspace(0, 10, 40)
    x = np.column_stack([np.ones_like(t), t])
    y = x @ [2.0, 0.5] + rng.normal(0, 0.3, 40)
    beta = np.linalg.lstsq(x, y, rcond=None)[0]
    r = y - x @ beta
    s2 = r @ r / 38
    st = linear_statistics(-x, r @ r, 40, np.ones(2))
    assert st["dof"] == 38 and st["s2"] == pytest.approx(s2)
    assert st["cov"] == pytest.approx(s2 * np.linalg.inv(x.T @ x))
    assert len(st["unresolved"]) == 0
    # two columns that always move together: one unresolved combination
    x3 = np.column_stack([x, x[:, 1]])
    st = linear_statistics(-x3, r @ r, 40, np.ones(3))
    assert st["unresolved"].shape == (1, 3)
    v = st["unresolved"][0] * np.sign(st["unresolved"][0][1])
    assert v == pytest.approx([0.0, 2 ** -0.5, -2 ** -0.5], abs=1e-9)
    assert list(st["unresolved_params"]) == [False, True, True]
    assert math.isinf(st["cov"][1, 1]) and np.isfinite(st["cov"][0, 0])


# ---------------------------------------------------------------------------
# Meshes and steps through given points
# ---------------------------------------------------------------------------

def pumping_deck():
    return qmr.Deck.read(qmr.runner.Path(__file__).resolve().parents[2]
                         / "examples" / "pumping" / "VELDA.INP")


def test_a_radial_mesh_has_nodes_exactly_at_the_wells():
    d = pumping_deck()
    old = node_coordinates(d)
    assert old[12] == pytest.approx(1.0) and old[-1] == pytest.approx(1e4)
    wells = [5.0, 20.0, 37.5]
    nodes = set_mesh(d, 0.1, 10000.0, through=wells, elements=120,
                     spacing="log")
    x = np.asarray(list(d.coordinates))
    assert d.mesh_code == 0 and np.all(np.diff(x) > 0)
    assert [x[k - 1] for k in nodes] == wells
    assert x[0] == 0.1 and x[-1] == 10000.0
    # node numbers follow their coordinates: the head at the outer edge,
    # the well at node 1, observation nodes at 0.1, 1, 10, 100 and 1000 m
    assert d.prescribed_values[1].node == len(x)
    assert d.prescribed_fluxes[1].node == 1
    got = [x[k - 1] for k in d.observation_nodes]
    assert got == pytest.approx([0.1, 1.0, 10.0, 100.0, 1000.0], rel=0.03)
    # the deck holds every coordinate exactly, a blank before each field
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        back = qmr.Deck.from_text(d.to_text())
    assert list(back.coordinates) == list(x)
    # the log spacing: ratios of successive lengths near the base's
    ratio = (1e5) ** (1 / 120)
    lengths = np.diff(x)
    growth = np.median(lengths[1:] / lengths[:-1])
    assert growth == pytest.approx(ratio, rel=1e-3)


def test_a_graded_mesh_keeps_media_by_element():
    d = qmr.FlowDeck(mesh_code=0, coordinates=[0.0, 50.0, 100.0],
                     property_input=0, medium_numbers=[1, 2],
                     media=[qmr.FlowMedium(conductivity=1.0),
                            qmr.FlowMedium(conductivity=2.0)],
                     prescribed_values=[qmr.PrescribedValue(node=3,
                                                            value=1.0)])
    nodes = set_mesh(d, 0.0, 100.0, through=[33.0], elements=10,
                     growth=1.2)
    x = np.asarray(list(d.coordinates))
    assert x[nodes[0] - 1] == 33.0
    mid = 0.5 * (x[1:] + x[:-1])
    assert list(d.medium_numbers) == [1 if m < 50 else 2 for m in mid]
    assert d.prescribed_values[1].node == len(x)
    lengths = np.diff(x)
    assert lengths[-1] > 3 * lengths[0]
    with pytest.raises(ValueError, match="cannot be written exactly"):
        set_mesh(d, 0.0, 100.0, through=[1 / 3])
    with pytest.raises(ValueError, match="outside"):
        set_mesh(d, 0.0, 100.0, through=[120.0])


def test_steps_end_exactly_at_the_measurement_times():
    d = pumping_deck()
    old_times = qmr.deck.mesh.step_times(d)
    assert old_times[10] == pytest.approx(1e-3, rel=1e-6)
    times = [0.0013, 0.0021, 0.05, 0.37, 1.0]
    steps = set_times(d, 1.0, through=times, per_decade=10,
                      first_step=1e-4)
    t = np.asarray(list(d.times))
    assert d.time_generation == 0 and np.all(np.diff(t) > 0)
    assert [t[k - 1] for k in steps] == times
    assert t[0] == 1e-4 and t[-1] == 1.0
    # profiles follow their times: 1E-3, 1E-2, 1E-1 and 1 d
    got = [t[k - 1] for k in d.profile_steps]
    assert got == pytest.approx([1e-3, 1e-2, 1e-1, 1.0], rel=0.15)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        back = qmr.Deck.from_text(d.to_text())
    assert list(back.times) == list(t)
    steps = set_times(d, 10.0, through=[2.5], steps=4)
    assert list(d.times) == [2.5, 5.0, 7.5, 10.0] and list(steps) == [1]
    with pytest.raises(ValueError, match="not after"):
        set_times(d, 10.0, through=[0.0])


# ---------------------------------------------------------------------------
# Dates
# ---------------------------------------------------------------------------

def test_dates_become_times_since_the_start():
    frame = pd.DataFrame({
        "name": ["a", "b", "c"],
        "date": ["2024-03-01 06:00", "2024-03-02", "2024-03-11"],
        "x": [5.0, 5.0, 20.0], "value": [0.1, 0.2, 0.3]})
    obs = qmr.Observations.from_dates(frame, "2024-03-01", "d")
    assert list(obs.columns) == ["name", "x", "time", "value"]
    assert obs["time"].tolist() == [0.25, 1.0, 10.0]
    hours = qmr.Observations.from_dates(frame, "2024-03-01", "h")
    assert hours["time"].tolist() == [6.0, 24.0, 240.0]
    years = qmr.Observations.from_dates(frame, "2023-03-01",
                                        pd.Timedelta(days=366))
    assert years["time"].iloc[1] == pytest.approx(1 + 1 / 366)
    indexed = frame.set_index(pd.to_datetime(frame.pop("date")))
    assert qmr.Observations.from_dates(indexed, "2024-03-01")[
        "time"].tolist() == [0.25, 1.0, 10.0]
    with pytest.raises(ValueError, match="before the start"):
        qmr.Observations.from_dates(indexed, "2024-03-02")
    with pytest.raises(ValueError, match="no column 'date'"):
        qmr.Observations.from_dates(pd.DataFrame({"x": [1]}), "2024-01-01")
