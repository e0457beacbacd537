"""Calibration benchmark: model runs and wall time of ``qmr.calibrate`` on
a 300-element radial model, beside scipy's ``least_squares`` with finite
differences through the decks (the parameters written into the deck's
ten-column fields, as a user's own code does).

- 2 parameters: the pumping test of python/tests/calibration_cases.py
  (conductivity and specific storage, Theis drawdowns at three wells, 75
  measurements), from a decade off;
- 5 parameters: the same aquifer in two zones (the outer from 30 m) with a
  leaky aquitard: the conductivity and specific storage of both zones and
  the leakance, on drawdowns the model itself gives at the true values,
  from a factor 3 off.

Run: ``QMR_EXE=build/qmr PYTHONPATH=python:python/tests /usr/bin/python3
python/bench/calibration_bench.py`` (``--quick``: the 2-parameter case
alone).
"""

from __future__ import annotations

import argparse
import tempfile
import time
import warnings
from pathlib import Path
from typing import Dict, List, Sequence

import numpy as np
import pandas as pd
from scipy.optimize import least_squares

import calibration_cases as cc
import qmr


def five_parameter_case():
    deck = cc.theis_deck(elements=300, per_decade=30)
    x = list(deck.coordinates)
    deck.zone_starts = [1, next(k for k, v in enumerate(x, 1) if v >= 30.0)]
    deck.media[1].leakance = 2e-5
    deck.media.append(qmr.FlowMedium(conductivity=5.0, specific_storage=3e-6,
                                     thickness=cc.B, leakance=2e-5))
    deck.media[1].head_beyond_aquitard = 50.0
    deck.media[2].head_beyond_aquitard = 50.0
    true = {"media[1].conductivity": 20.0,
            "media[1].specific_storage": 8e-6,
            "media[2].conductivity": 5.0,
            "media[2].specific_storage": 3e-6,
            "media[1].leakance": 2e-5}
    obs = cc.theis_observations()
    with tempfile.TemporaryDirectory() as tmp:
        # the measured values: the model's own at the true values
        table = pd.DataFrame({"parameter": list(true) +
                              ["media[2].leakance"],
                              "value": list(true.values()) + [2e-5],
                              "transform": "log",
                              "tied_to": [""] * 5 + ["media[1].leakance"]})
        probe = qmr.calibrate(deck, table, obs, tmp, max_runs=1,
                              plots=False)
        obs["value"] = probe.residuals["simulated"].to_numpy()
    start = {k: v * (3.0 if i % 2 == 0 else 1 / 3.0)
             for i, (k, v) in enumerate(true.items())}
    table = pd.DataFrame({"parameter": list(start) + ["media[2].leakance"],
                          "value": list(start.values()) +
                          [start["media[1].leakance"]],
                          "lower": [1e-3, 1e-10, 1e-3, 1e-10, 1e-9, 1e-9],
                          "upper": [1e4, 1e-1, 1e4, 1e-1, 1e-1, 1e-1],
                          "transform": "log",
                          "tied_to": [""] * 5 + ["media[1].leakance"]})
    return deck, table, obs, true


def two_parameter_case():
    deck = cc.theis_deck(elements=300, per_decade=30)
    return deck, cc.theis_parameters(), cc.theis_observations(), {
        k: cc.TRUE[k] for k in ("media[1].conductivity",
                                "media[1].specific_storage")}


def with_qmr(deck, table, obs) -> Dict[str, object]:
    with tempfile.TemporaryDirectory() as tmp:
        t0 = time.perf_counter()
        cal = qmr.calibrate(deck, table, obs, Path(tmp) / "c", plots=False)
        wall = time.perf_counter() - t0
    return {"runs": cal.runs, "seconds": wall,
            "estimates": cal.estimates, "stop": cal.stop_reason}


def with_scipy(deck, table, obs) -> Dict[str, object]:
    """least_squares (trust region, bounds, 2-point differences) on
    log10 parameters written into the deck."""
    free = table[table.get("tied_to", pd.Series([""] * len(table)))
                 .fillna("") == ""]
    tied = table[~table.index.isin(free.index)]
    paths: List[str] = list(free["parameter"])
    lo = np.log10(free["lower"].to_numpy(float)) if "lower" in free \
        else -np.inf
    hi = np.log10(free["upper"].to_numpy(float)) if "upper" in free \
        else np.inf
    files = {"o.csv": obs.to_csv(index=False)}
    runs = 0
    w = 1.0 / obs["sd"].to_numpy(float)

    def residuals(u: Sequence[float]) -> np.ndarray:
        nonlocal runs
        d = deck.copy()
        values = dict(zip(paths, 10.0 ** np.asarray(u)))
        for p, v in values.items():
            qmr.set_value(d, p, v)
        for _, r in tied.iterrows():
            qmr.set_value(d, r["parameter"], values[r["tied_to"]])
        runs += 1
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", qmr.DigitsLostWarning)
            with qmr.run(d, files=files, listing=False,
                         args=["--observations", "o.csv"]) as res:
                m = pd.read_csv(res.folder / "pump.match.csv")
        return w * m["residual"].to_numpy(float)

    t0 = time.perf_counter()
    sol = least_squares(residuals, np.log10(free["value"].to_numpy(float)),
                        bounds=(lo, hi), method="trf", x_scale=1.0,
                        max_nfev=200)
    wall = time.perf_counter() - t0
    return {"runs": runs, "seconds": wall,
            "estimates": pd.Series(dict(zip(paths, 10.0 ** sol.x))),
            "stop": sol.message}


def report(name: str, true: Dict[str, float], a: Dict, b: Dict) -> None:
    print(f"\n{name}")
    print(f"  qmr.calibrate (exact Jacobian):  {a['runs']:4d} runs "
          f"{a['seconds']:7.2f} s   stop: {a['stop']}")
    print(f"  least_squares (differences):     {b['runs']:4d} runs "
          f"{b['seconds']:7.2f} s   stop: {b['stop']}")
    print(f"  {'parameter':28s} {'true':>12s} {'calibrate':>12s} "
          f"{'rel.err':>9s} {'least_sq':>12s} {'rel.err':>9s}")
    for p, v in true.items():
        x, y = float(a["estimates"][p]), float(b["estimates"][p])
        print(f"  {p:28s} {v:12.6g} {x:12.6g} {abs(x / v - 1):9.1e} "
              f"{y:12.6g} {abs(y / v - 1):9.1e}")


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--quick", action="store_true")
    a = ap.parse_args()
    cases = [("2 parameters: pumping test, 300 elements",
              two_parameter_case)]
    if not a.quick:
        cases.append(("5 parameters: two zones and a leaky aquitard, "
                      "300 elements", five_parameter_case))
    for name, make in cases:
        deck, table, obs, true = make()
        report(name, true, with_qmr(deck, table, obs),
               with_scipy(deck, table, obs))


if __name__ == "__main__":
    main()
