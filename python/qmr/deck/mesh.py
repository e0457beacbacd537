"""A deck's mesh and time steps set from where and when things are
measured: nodes exactly at given coordinates (wells, piezometers) and step
ends exactly at given times (measurements).

:func:`set_mesh` types the node coordinates of a uniform, graded or
logarithmic (radial) mesh through the given points; :func:`set_times`
types the step times of uniform or logarithmic steps through the given
times. Both carry the deck's node or step numbers over to the new mesh or
steps (prescribed values and fluxes, initial values, observation nodes,
medium assignment; profile steps) by position, and give the numbers of the
points asked for. Every value they write is one its ten-column field holds
exactly, so the program uses the very coordinates and times asked for.
"""

from __future__ import annotations

import math
from typing import List, Sequence

import numpy as np

from .fields import format_real, parse_real
from .objects import Deck

__all__ = ["set_mesh", "set_times", "node_coordinates", "step_times"]


def _field(v: float, width: int = 10) -> float:
    """The value a field of `width` columns gives back for `v`."""
    return parse_real(format_real(float(v), width)[0])


def _exact(values: Sequence[float], what: str) -> np.ndarray:
    out = np.asarray([float(v) for v in values], float)
    for v in out:
        if not math.isfinite(v) or _field(v) != v:
            raise ValueError(f"{what} {v!r} cannot be written exactly in a "
                             "ten-column field (round it)")
    return out


def node_coordinates(deck: Deck) -> np.ndarray:
    """The node coordinates of a deck's mesh, typed or generated (graded
    as the program grades it, logarithmic as a geometric series)."""
    code = deck.mesh_code
    if code not in (1, 2, 3, 4):
        return np.asarray(list(deck.coordinates), float)
    n = int(deck.elements)
    a, b = float(deck.first_coordinate), float(deck.last_coordinate)
    if n <= 0:
        return np.asarray([a], float)
    k = np.arange(n + 1) / n
    if code == 3:
        return a * (b / a) ** k
    f = float(deck.grading) or 1.0
    x = a + (b - a) * k ** f
    if code == 2:
        lengths = np.diff(x)[::-1]
        x = a + np.concatenate([[0.0], np.cumsum(lengths)])
    return x


def step_times(deck: Deck) -> np.ndarray:
    """The times at the ends of a deck's steps, typed or generated."""
    if deck.steady_state == 1:
        return np.asarray([1.0])
    if deck.time_generation == 0:
        return np.asarray(list(deck.times), float)
    n = int(deck.steps)
    t0, dt = float(deck.initial_time), float(deck.first_step)
    k = np.arange(1, n + 1)
    if deck.steps_per_decade > 0:
        return t0 + dt * 10.0 ** ((k - 1) / deck.steps_per_decade)
    return t0 + dt * k


def _merge(base: np.ndarray, pinned: np.ndarray) -> np.ndarray:
    """The base points with the pinned ones put in, base points closer to
    a pinned one than half their local spacing dropped, the rest rounded
    to nine columns, so that a blank stands before each in its field."""
    base = np.unique(base)
    keep = np.ones(len(base), bool)
    spacing = np.gradient(base) if len(base) > 1 else np.ones(1)
    for p in pinned:
        keep &= np.abs(base - p) >= 0.5 * np.abs(spacing)
    rounded = np.array([_field(v, 9) for v in base[keep]])
    out = np.unique(np.concatenate([rounded, pinned]))
    return out


def _nearest(grid: np.ndarray, values: Sequence[float]) -> List[int]:
    """The numbers (from 1) of the grid points nearest each value."""
    if len(grid) == 0:
        return []
    v = np.asarray(values, float)
    i = np.clip(np.searchsorted(grid, v), 1, len(grid) - 1) \
        if len(grid) > 1 else np.zeros(len(v), int)
    if len(grid) > 1:
        left = grid[i - 1]
        i = np.where(np.abs(v - left) <= np.abs(grid[i] - v), i - 1, i)
    return [int(k) + 1 for k in np.atleast_1d(i)]


def set_mesh(deck: Deck, start: float, end: float, *,
             through: Sequence[float] = (), elements: int = 50,
             spacing: str = "uniform", growth: float = 1.0) -> np.ndarray:
    """Type the deck's node coordinates: `elements` elements from `start`
    to `end` (a few more or fewer once the points are put in), with nodes
    exactly at `start`, `end` and every coordinate of `through`.

    `spacing` ``"uniform"`` spaces the nodes evenly, or, with `growth`
    other than 1, makes each element `growth` times as long as the one
    before; ``"log"`` spaces them geometrically (a radial mesh around a
    well: `start` is the well's radius, above 0). Base nodes closer to a
    point of `through` than half their spacing give way to it.

    The deck's node numbers (prescribed values and fluxes, initial
    values, observation nodes, the interpolation nodes or zone starts and
    the medium of each element) follow their coordinates to the nearest
    node of the new mesh. Returns the node numbers of `through`, in its
    order. Raises ValueError for a point outside [start, end] or one a
    ten-column field cannot hold exactly."""
    if spacing not in ("uniform", "log"):
        raise ValueError(f"spacing {spacing!r}: uniform or log")
    if elements < 1:
        raise ValueError("at least one element")
    ends = _exact([start, end], "coordinate")
    pts = _exact(through, "coordinate")
    if not ends[0] < ends[1]:
        raise ValueError(f"start {start!r} is not below end {end!r}")
    if len(pts) and (pts.min() < ends[0] or pts.max() > ends[1]):
        raise ValueError("a point of `through` lies outside [start, end]")
    if spacing == "log":
        if ends[0] <= 0:
            raise ValueError("a logarithmic mesh starts above 0")
        base = ends[0] * (ends[1] / ends[0]) ** (np.arange(elements + 1)
                                                 / elements)
    elif growth == 1.0:
        base = np.linspace(ends[0], ends[1], elements + 1)
    else:
        lengths = growth ** np.arange(elements)
        base = ends[0] + (ends[1] - ends[0]) * np.concatenate(
            [[0.0], np.cumsum(lengths)]) / lengths.sum()
    x = _merge(base, np.unique(np.concatenate([ends, pts])))
    x = x[(x >= ends[0]) & (x <= ends[1])]
    old = node_coordinates(deck)
    _renumber_nodes(deck, old, x)
    deck.mesh_code = 0
    deck.coordinates = [float(v) for v in x]
    return np.asarray(_nearest(x, pts), int)


def _renumber_nodes(deck: Deck, old: np.ndarray, new: np.ndarray) -> None:
    """Carry the deck's node and element numbers from the mesh `old` to
    the mesh `new` by coordinate."""
    if len(old) == 0:
        return

    def at(node: int) -> float:
        return float(old[min(max(node, 1), len(old)) - 1])

    for items in (deck.prescribed_values, deck.prescribed_fluxes,
                  deck.initial_values):
        for it in items:
            it.node = _nearest(new, [at(it.node)])[0]
    deck.observation_nodes = _nearest(
        new, [at(k) for k in deck.observation_nodes])
    if deck.property_input == 0 and len(old) > 1:
        mid = 0.5 * (new[1:] + new[:-1])
        element = np.clip(np.searchsorted(old, mid) - 1, 0, len(old) - 2)
        media = list(deck.medium_numbers)
        if media:
            deck.medium_numbers = [media[min(int(e), len(media) - 1)]
                                   for e in element]
    elif deck.property_input == 2:
        deck.zone_starts = _nearest(new, [at(k) for k in deck.zone_starts])
    elif deck.property_input == 1:
        starts = [min(k, len(new) - 1) for k in
                  _nearest(new, [at(k) for k in deck.zone_starts])]
        deck.zone_starts = [1 if i == 0 else k
                            for i, k in enumerate(starts)]


def set_times(deck: Deck, end: float, *, through: Sequence[float] = (),
              steps: int = 50, per_decade: int = 0,
              first_step: float = 0.0) -> np.ndarray:
    """Type the deck's step times from its initial time to `end`, with a
    step ending exactly at `end` and at every time of `through`.

    `per_decade` above 0 makes the elapsed time grow by a factor ten every
    `per_decade` steps from `first_step` (default: a thousandth of the
    span), as at the start of a pumping test; otherwise `steps` uniform
    steps. Base times closer to a time of `through` than half their step
    give way to it. The deck's profile steps follow their times to the
    nearest new step. Returns the step numbers of `through`, in its
    order. Raises ValueError for a time not after the initial time or
    beyond `end`, one a ten-column field cannot hold exactly, or a
    steady-state deck."""
    if deck.steady_state == 1:
        raise ValueError("a steady-state deck has no time steps")
    t0 = float(deck.initial_time)
    stop = _exact([end], "time")[0]
    pts = _exact(through, "time")
    if stop <= t0:
        raise ValueError(f"end {end!r} is not after the initial time {t0!r}")
    if len(pts) and (pts.min() <= t0 or pts.max() > stop):
        raise ValueError("a time of `through` is not after the initial "
                         "time or lies beyond `end`")
    if per_decade > 0:
        dt = first_step if first_step > 0 else (stop - t0) / 1000.0
        n = max(int(math.ceil(per_decade * math.log10((stop - t0) / dt))),
                0)
        base = t0 + dt * 10.0 ** (np.arange(n + 1) / per_decade)
    else:
        if steps < 1:
            raise ValueError("at least one step")
        base = t0 + (stop - t0) * np.arange(1, steps + 1) / steps
    base = base[base < stop]
    t = _merge(np.concatenate([[t0], base]),
               np.unique(np.concatenate([[stop], pts])))
    t = t[(t > t0) & (t <= stop)]
    old = step_times(deck) if deck.time_generation == 0 or deck.steps \
        else np.zeros(0)
    if len(old) and len(deck.profile_steps):
        deck.profile_steps = sorted(set(_nearest(
            t, [old[min(max(k, 1), len(old)) - 1]
                for k in deck.profile_steps])))
    deck.time_generation = 0
    deck.times = [float(v) for v in t]
    return np.asarray(_nearest(t, pts), int)
