"""Inputs of the report tests: an ensemble's files written by hand and a
calibration object of the shape qmr's calibration has, with values whose
percentiles, chances and correlations are known by hand."""

from __future__ import annotations

import json
import re
import types
from pathlib import Path

import numpy as np
import pandas as pd

import qmr

ROOT = Path(__file__).resolve().parents[2]
EXAMPLES = ROOT / "examples"
# The units of the examples (their notes say metres, days and mg/L).
EXAMPLE_UNITS = {"valley": "m,d", "pumping": "m,d", "plume": "m,d,mg/L",
                 "chain": "m,d,mg/L"}


def example_decks(name: str) -> list:
    folder = EXAMPLES / name
    decks = sorted(folder.glob("deck*.inp"))
    return decks or [folder / "VELDA.INP"]


def write_ensemble(folder: Path) -> Path:
    """Five realizations of two nodes over three times: node 5 takes the
    values k, 2k, 3k in realization k (k = 1..5) and parameter ``a`` is k
    (node 9 falls with it: 10 - k); parameter ``b`` is 5, 3, 1, 4, 2.
    Realization r6 failed. Returns the results file."""
    rows = []
    for k in range(1, 6):
        for step, t in ((1, 10.0), (2, 20.0), (3, 30.0)):
            rows.append([f"r{k}", "observations", step, t, 5, 100.0,
                         float(k * step)])
            rows.append([f"r{k}", "observations", step, t, 9, 400.0,
                         10.0 - k])
        rows.append([f"r{k}", "imbalance", 3, 30.0, "", "", 1e-9 * k])
    results = folder / "results.csv"
    pd.DataFrame(rows, columns=["realization", "output", "step", "time",
                                "node", "x", "value"]).to_csv(results,
                                                              index=False)
    status = pd.DataFrame({
        "realization": [f"r{k}" for k in range(1, 7)],
        "media[1].conductivity": [1.0, 2.0, 3.0, 4.0, 5.0, 6.0],
        "media[1].storativity": [5.0, 3.0, 1.0, 4.0, 2.0, 9.0],
        "status": [0, 0, 0, 0, 0, 1],
        "diagnostic": ["", "", "", "", "", "qmr: no convergence"]})
    status.to_csv(folder / "results.status.csv", index=False)
    return results


def calibration(folder: Path) -> types.SimpleNamespace:
    """A calibration of the valley example's conductivity and recharge
    against two wells, as the calibration object gives it."""
    deck = qmr.Deck.read(EXAMPLES / "valley" / "VELDA.INP")
    deck.units = "m,d"
    paths = ["media[1].conductivity", "media[1].recharge",
             "prescribed_values[1].value"]
    t = np.array([1.0, 10.0, 100.0, 1000.0])
    rows = []
    for name, group, x, base in (("W1", "heads", 1000.0, 10.0),
                                 ("W2", "heads", 5000.0, 11.0)):
        for k, ti in enumerate(t, start=1):
            sim = base + np.log10(ti)
            meas = sim + 0.05 * np.sin(ti)
            # every measurement has a name of its own, as in X.match.csv
            rows.append([f"{name}_{k}", group, "head", x, ti, meas, sim,
                         meas - sim, 2.0, 2.0 * (meas - sim)])
    rows.append(["Q1", "fluxes", "flux", 0.0, 1000.0, 120.0, 118.0, 2.0,
                 0.1, 0.2])
    residuals = pd.DataFrame(rows, columns=[
        "name", "group", "kind", "x", "time", "measured", "simulated",
        "residual", "weight", "weighted_residual"])
    corr = pd.DataFrame([[1.0, -0.97, 0.1], [-0.97, 1.0, 0.2],
                         [0.1, 0.2, 1.0]], index=paths, columns=paths)
    stats = residuals.groupby("group").apply(lambda g: pd.Series({
        "count": len(g), "mean residual": g["residual"].mean(),
        "rmse": float(np.sqrt((g["residual"] ** 2).mean()))}))
    return types.SimpleNamespace(
        estimates=pd.Series([24.0, 1.1e-4, 14.2], index=paths),
        std_errors=pd.Series([2.0, 3e-5, 0.1], index=paths),
        intervals=pd.DataFrame({"lower": [20.0, 5e-5, 14.0],
                                "upper": [28.0, 1.7e-4, 14.4]},
                               index=pd.Index(paths, name="path")),
        correlation=corr,
        singular_values=np.array([12.0, 3.0, 0.02]),
        unresolved=pd.DataFrame([[0.71, 0.70, 0.0]], columns=paths),
        composite_sensitivities=pd.Series([3.0, 2.5, 0.4], index=paths),
        residuals=residuals, statistics=stats,
        history=pd.DataFrame({"iteration": [0, 1, 2, 3],
                              "objective": [40.0, 4.0, 0.9, 0.85],
                              "lambda": [0.01, 0.001, 0.0001, 0.0001],
                              "runs": [4, 8, 12, 16]}),
        runs=16, converged=True, stop_reason="objective changed by less "
        "than 1 %", deck=deck, folder=folder)


def figures(html: str) -> dict:
    """The figures of a report: its JSON block, read back."""
    m = re.search(r'<script type="application/json" id="qmr-figures">'
                  r'(.*?)</script>', html, re.S)
    assert m, "no figure data"
    return json.loads(m[1].replace("<\\/", "</"))
