"""Synthetic calibration problems from analytical solutions, shared by the
calibration tests and the benchmark: Theis drawdowns at several wells on a
radial deck, and an Ogata-Banks breakthrough with retardation.

The measured values are the analytical solutions (scipy.special), never
the program's output; the decks are fine enough that the program's own
discretisation error (about 2e-4 of the drawdown, 1e-4 of the source
concentration) lies well below what the tests ask of the estimates."""

from __future__ import annotations

import math
from typing import Dict, Optional, Sequence, Tuple

import numpy as np
import pandas as pd
from scipy.special import erfc, exp1

import qmr
from qmr.deck.mesh import set_mesh, set_times

# The pumping test: metres and days.
Q = 1000.0                # m3/d pumped
K, SS, B = 20.0, 8.0e-6, 25.0
WELLS = (5.0, 20.0, 50.0)
THEIS_TIMES = tuple(float(t) for t in np.round(np.logspace(-3, 0, 25), 6))
RATE = round(-Q / (2 * math.pi), 4)       # per radian, as the field holds
Q_EFF = -RATE * 2 * math.pi


def theis(r: np.ndarray, t: np.ndarray, k: float = K, ss: float = SS,
          b: float = B) -> np.ndarray:
    """Theis's drawdown s = Q / (4 pi T) W(r^2 S / (4 T t))."""
    t_, s_ = k * b, ss * b
    return Q_EFF / (4 * math.pi * t_) * exp1(r ** 2 * s_ / (4 * t_ * t))


def theis_deck(elements: int = 200, per_decade: int = 30,
               wells: Sequence[float] = WELLS,
               times: Sequence[float] = THEIS_TIMES) -> qmr.FlowDeck:
    """A radial deck of the pumping test, nodes at the wells and steps at
    the measurement times."""
    d = qmr.FlowDeck(
        title="Pumping test against Theis - metres and days",
        listing="pump.lst", graphic="pump.grf", radial=1,
        print_interval=1000, time_scheme=0, initial_time=0.0,
        property_input=1, zone_starts=[1],
        media=[qmr.FlowMedium(conductivity=K, specific_storage=SS,
                              thickness=B)],
        prescribed_values=[qmr.PrescribedValue(node=2, value=50.0)],
        prescribed_fluxes=[qmr.FlowFlux(node=1, rate=RATE)],
        initial_value=50.0, observation_nodes=[1], profile_steps=[])
    d.coordinates = [0.1, 10000.0]
    set_mesh(d, 0.1, 10000.0, through=wells, elements=elements,
             spacing="log")
    set_times(d, max(times), through=times, per_decade=per_decade,
              first_step=1e-6)
    return d


def theis_observations(noise: float = 0.0, seed: Optional[int] = None,
                       wells: Sequence[float] = WELLS,
                       times: Sequence[float] = THEIS_TIMES,
                       **true: float) -> pd.DataFrame:
    """Drawdowns at the wells and times, with multiplicative noise of
    relative standard deviation `noise` (sd = noise * the value)."""
    r, t = np.meshgrid(np.asarray(wells), np.asarray(times), indexing="ij")
    s = theis(r.ravel(), t.ravel(), **true)
    rng = np.random.default_rng(seed)
    measured = s * (1 + noise * rng.standard_normal(len(s))) if noise \
        else s
    names = [f"w{int(x)}_t{i + 1}" for x in wells for i in range(len(times))]
    return pd.DataFrame({"name": names, "x": r.ravel(), "time": t.ravel(),
                         "value": measured,
                         "sd": noise * measured if noise else 1.0,
                         "group": [f"well{int(x)}" for x in r.ravel()],
                         "kind": "drawdown"})


def theis_parameters(start: Tuple[float, float] = (K * 10, SS * 10),
                     **extra: str) -> pd.DataFrame:
    return pd.DataFrame({
        "parameter": ["media[1].conductivity", "media[1].specific_storage"],
        "value": list(start), "lower": [1e-3, 1e-10], "upper": [1e4, 1e-1],
        "transform": ["log", "log"]})


# The breakthrough: metres and days, per metre of width.
DARCY, POROSITY, ALPHA, RETARDATION = 0.1, 0.25, 2.0, 2.0
OB_WELLS = (25.0, 40.0)
OB_TIMES = tuple(float(t) for t in np.arange(20.0, 301.0, 10.0))


def ogata_banks(x: np.ndarray, t: np.ndarray, alpha: float = ALPHA,
                retardation: float = RETARDATION) -> np.ndarray:
    """C / C0 for a constant concentration at x = 0 from time 0, uniform
    flow, dispersion alpha v, retardation R (Ogata and Banks)."""
    v = DARCY / POROSITY
    d = alpha * v
    root = 2 * np.sqrt(d * retardation * t)
    return 0.5 * (erfc((retardation * x - v * t) / root) + np.exp(v * x / d)
                  * erfc((retardation * x + v * t) / root))


def ogata_banks_deck(elements: int = 400, steps: int = 300,
                     length: float = 200.0) -> qmr.TransportDeck:
    d = qmr.TransportDeck(
        title="Breakthrough against Ogata-Banks - metres and days",
        listing="ob.lst", graphic="ob.grf", variant="OW",
        print_interval=1, time_scheme=0, initial_time=0.0,
        property_input=1, zone_starts=[1],
        media=[qmr.TransportMedium(dispersivity=ALPHA, porosity=POROSITY,
                                   retardation=RETARDATION)],
        prescribed_values=[qmr.PrescribedValue(node=1, value=1.0)],
        initial_value=0.0, default_velocity=DARCY, default_thickness=1.0,
        observation_nodes=[1], profile_steps=[])
    d.coordinates = [0.0, length]
    set_mesh(d, 0.0, length, through=OB_WELLS, elements=elements)
    set_times(d, max(OB_TIMES), through=OB_TIMES, steps=steps)
    return d


def ogata_banks_observations(noise: float = 0.0, seed: Optional[int] = None,
                             **true: float) -> pd.DataFrame:
    x, t = np.meshgrid(np.asarray(OB_WELLS), np.asarray(OB_TIMES),
                       indexing="ij")
    c = ogata_banks(x.ravel(), t.ravel(), **true)
    rng = np.random.default_rng(seed)
    measured = c * (1 + noise * rng.standard_normal(len(c))) if noise \
        else c
    keep = c > 1e-3           # a breakthrough: from its first thousandth
    names = [f"x{int(a)}_t{int(b)}" for a, b in zip(x.ravel(), t.ravel())]
    df = pd.DataFrame({"name": names, "x": x.ravel(), "time": t.ravel(),
                       "value": measured,
                       "sd": noise * measured if noise else 1.0,
                       "group": [f"x{int(a)}" for a in x.ravel()],
                       "kind": "concentration"})
    return df[keep].reset_index(drop=True)


def ogata_banks_parameters(start: Tuple[float, float] = (ALPHA * 10,
                                                         RETARDATION * 10)
                           ) -> pd.DataFrame:
    return pd.DataFrame({
        "parameter": ["media[1].dispersivity", "media[1].retardation"],
        "value": list(start), "lower": [1e-2, 1.0], "upper": [1e3, 1e3],
        "transform": ["log", "log"]})


TRUE: Dict[str, float] = {
    "media[1].conductivity": K, "media[1].specific_storage": SS,
    "media[1].dispersivity": ALPHA, "media[1].retardation": RETARDATION}
