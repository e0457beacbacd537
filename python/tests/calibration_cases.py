"""Synthetic calibration problems from analytical solutions, shared by the
calibration tests and the benchmark: Theis drawdowns at several wells on a
radial deck, and an Ogata-Banks breakthrough with retardation.

The measured values are the analytical solutions (scipy.special), never
the program's output; the decks are fine enough that the program's own
discretisation error (about 2e-4 of the drawdown, 1e-4 of the source
concentration) lies well below what the tests ask of the estimates."""

from __future__ import annotations

import math
from pathlib import Path
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
                retardation: float = RETARDATION,
                velocity: Optional[float] = None) -> np.ndarray:
    """C / C0 for a constant concentration at x = 0 from time 0, uniform
    flow at the pore velocity v (default DARCY / POROSITY), dispersion
    alpha v, retardation R (Ogata and Banks)."""
    v = DARCY / POROSITY if velocity is None else velocity
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


# The plume of the examples (examples/plume): a sorbing, decaying solute
# from a constant source of 100 mg/L; metres and days. The measured
# concentrations come from the example's own deck at its values (the
# tests check them against the analytical solution); a prediction at a
# farther node and a later time.
PLUME_DECK = Path(__file__).resolve().parents[2] / "examples" / "plume" / \
    "VELDA.INP"
PLUME_TRUE: Dict[str, float] = {"media[1].dispersivity": 10.0,
                                "media[1].retardation": 2.0,
                                "media[1].decay": 5.0e-4}
PLUME_NODES = {11: 100.0, 21: 200.0}        # the observation wells
PLUME_TIMES = tuple(float(t) for t in np.arange(40.0, 1001.0, 40.0))


def plume_analytical(x: np.ndarray, t: np.ndarray, alpha: float = 10.0,
                     retardation: float = 2.0, decay: float = 5.0e-4
                     ) -> np.ndarray:
    """The plume's concentration (mg/L) for a constant 100 mg/L at x = 0
    from time 0 in uniform flow (pore velocity 0.4 m/d) with dispersion
    alpha v, retardation R and first-order decay of dissolved and sorbed
    solute (README of the example)."""
    v = 0.1 / 0.25
    d = alpha * v
    u = v * np.sqrt(1 + 4 * d * retardation * decay / v ** 2)
    root = 2 * np.sqrt(d * retardation * t)
    return 50.0 * (np.exp(x * (v - u) / (2 * d))
                   * erfc((retardation * x - u * t) / root)
                   + np.exp(x * (v + u) / (2 * d))
                   * erfc((retardation * x + u * t) / root))


def plume_deck() -> qmr.TransportDeck:
    deck = qmr.Deck.read(PLUME_DECK)
    assert isinstance(deck, qmr.TransportDeck)
    return deck


def plume_simulated() -> pd.DataFrame:
    """The example's observation series at its own values (full
    precision): a frame indexed by time, one column per node."""
    with qmr.run(plume_deck(), args=["--csv"], listing=False) as r:
        return r.read_csv("obs")


def plume_observations(simulated: pd.DataFrame, noise: float = 0.02,
                       seed: int = 4, nodes: Sequence[int] = (11, 21),
                       end: float = 1000.0) -> pd.DataFrame:
    """Concentrations at the wells every 40 days to `end`, those above a
    detection limit of 0.1 mg/L, with multiplicative noise (sd = noise *
    the value)."""
    times = [t for t in PLUME_TIMES if t <= end]
    c = simulated.loc[times, list(nodes)].to_numpy().T.ravel()
    x = np.repeat([PLUME_NODES[n] for n in nodes], len(times))
    t = np.tile(times, len(nodes))
    rng = np.random.default_rng(seed)
    measured = c * (1 + noise * rng.standard_normal(len(c)))
    df = pd.DataFrame({"name": [f"x{int(a)}_t{int(b)}" for a, b in zip(x, t)],
                       "x": x, "time": t, "value": measured,
                       "sd": noise * measured, "kind": "concentration"})
    return df[c > 0.1].reset_index(drop=True)


def plume_parameters(start: Tuple[float, float, float] = (30.0, 6.0, 1.5e-4),
                     decay_upper: float = 0.1) -> pd.DataFrame:
    """Dispersivity, retardation and decay, log-transformed, from a factor
    of three off."""
    return pd.DataFrame({
        "parameter": list(PLUME_TRUE), "value": list(start),
        "lower": [0.1, 1.0, 1e-7], "upper": [1000.0, 100.0, decay_upper],
        "transform": ["log", "log", "log"]})


# A chain: a steady confined flow between two heads (conductivity K,
# gradient 0.005) writes one block of velocities; the transport run reads
# it (Darcy velocity K * 0.005 = 0.1 m/d, porosity 0.25: the Ogata-Banks
# case above without retardation). Metres and days.
CHAIN_K, CHAIN_GRADIENT, CHAIN_LENGTH, CHAIN_ELEMENTS = 20.0, 0.005, 200.0, 50
CHAIN_NODES = {11: 40.0, 21: 80.0}
CHAIN_TIMES = tuple(float(t) for t in np.arange(12.0, 301.0, 12.0))
CHAIN_TRUE: Dict[str, float] = {"flow.media[1].conductivity": CHAIN_K,
                                "transport.media[1].dispersivity": ALPHA}


def chain_decks() -> Tuple[qmr.FlowDeck, qmr.TransportDeck]:
    """The flow deck (steady, velocity code 1: one block) and the transport
    deck that reads its velocity file (100 centred steps of 3 days)."""
    n = CHAIN_ELEMENTS
    flow = qmr.FlowDeck(
        title="Chain: steady confined flow between two heads - metres and "
        "days", listing="cflow.lst", graphic="cflow.grf", print_interval=1,
        time_scheme=1, velocity_code=1, velocity_file="chain.vel",
        velocity_note="one block: the steady flow", steady_state=1,
        property_input=1, zone_starts=[1],
        media=[qmr.FlowMedium(conductivity=CHAIN_K, thickness=10.0,
                              width=1.0)],
        prescribed_values=[
            qmr.PrescribedValue(node=1, value=10.0),
            qmr.PrescribedValue(node=n + 1, value=10.0 - CHAIN_GRADIENT
                                * CHAIN_LENGTH)],
        initial_value=10.0, observation_nodes=[n // 2 + 1], profile_steps=[])
    tran = qmr.TransportDeck(
        title="Chain: a breakthrough on the flow run's velocities - metres "
        "and days", listing="ctran.lst", graphic="ctran.grf",
        print_interval=1, time_scheme=0, velocity_code=1,
        velocity_file="chain.vel", velocity_note="written by the flow run",
        time_generation=1, initial_time=0.0, first_step=3.0,
        steps_per_decade=0, property_input=1, zone_starts=[1],
        media=[qmr.TransportMedium(dispersivity=ALPHA, porosity=POROSITY,
                                   retardation=1.0, width=1.0)],
        prescribed_values=[qmr.PrescribedValue(node=1, value=1.0)],
        initial_value=0.0, observation_nodes=list(CHAIN_NODES),
        profile_steps=[])
    for d in (flow, tran):
        d.mesh_code, d.elements = 1, n
        d.first_coordinate, d.last_coordinate, d.grading = \
            0.0, CHAIN_LENGTH, 1.0
    tran.steps = 100
    return flow, tran
