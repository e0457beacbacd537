"""Figures of a qmr graphic file with matplotlib (the command ``qmr-plot``
is :mod:`qmr.cli.plot`).

:func:`plot_graphic` draws one figure of up to two panels:

- the observation time series: the value at each observation node against
  time, one line per node, labelled with the node's coordinate
  ("x = 9.9 m");
- the profiles: the value at every node against distance along the valley,
  one line per stored profile, labelled with its time ("t = 0.1 d").

A run of one step (a steady-state run) has no time series to speak of: it
is shown as its profiles. Options give units to the axes, logarithmic axes,
the drawdown (initial minus current value) instead of the value, and
overlays of measured data and of an analytical solution ``f(x, t)``.

The figures are :class:`matplotlib.figure.Figure` objects made without
pyplot, so they draw with any backend and need no display.
"""

from __future__ import annotations

import math
import re
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Callable, Mapping, Optional, Sequence, Union

import numpy as np
import pandas as pd

from .io import GraphicFile
from .io.netcdf import DEFAULT_QUANTITY, parse_units
from .units import NEUTRAL, Units

Number = Union[int, float]
Initial = Union[Number, Mapping[int, float], pd.Series]
Analytical = Callable[[Any, Any], Any]


def format_number(v: float) -> str:
    """A coordinate or a time in a legend: four significant digits at
    most, without an exponent from 0.001 to a million."""
    if v == 0 or not math.isfinite(v):
        return "0" if v == 0 else str(v)
    if 1e-3 <= abs(v) < 1e6:
        return np.format_float_positional(v, precision=4, unique=False,
                                          fractional=False, trim="-")
    return f"{v:.4g}"


def _with_unit(text: str, unit: Optional[str],
               neutral: Optional[str] = None) -> str:
    """A label with its unit, or with the neutral word of an undeclared
    unit (left out where the label already is that word)."""
    unit = unit or neutral
    return f"{text} ({unit})" if unit and unit != text else text


def _label(symbol: str, v: float, unit: Optional[str]) -> str:
    return f"{symbol} = {format_number(v)}" + (f" {unit}" if unit else "")


@dataclass
class Series:
    """One line of a panel: its legend label, abscissae and values, and the
    key that matches it with measured data (node or profile step)."""

    label: str
    x: np.ndarray
    y: np.ndarray
    key: Any = None
    at: float = math.nan  # the node's coordinate or the profile's time


@dataclass
class Panel:
    """A panel: its lines, axis labels and scales."""

    kind: str  # "observations" or "profiles"
    series: list[Series]
    xlabel: str
    ylabel: str
    title: str
    logx: bool = False
    logy: bool = False
    markers: list[Series] = field(default_factory=list)


def _initial_by_node(initial: Initial, nodes: Sequence[Any]) -> np.ndarray:
    if isinstance(initial, (int, float, np.floating, np.integer)):
        return np.full(len(nodes), float(initial))
    lookup = pd.Series(initial)
    return np.array([float(lookup.get(n, np.nan)) for n in nodes])


def _keep(x: np.ndarray, y: np.ndarray, logx: bool, logy: bool,
          ) -> tuple[np.ndarray, np.ndarray]:
    """Points that can be drawn: a finite abscissa (positive on a
    logarithmic axis); values that cannot be drawn become gaps."""
    keep = np.isfinite(x) & ((x > 0) | (not logx))
    y = np.where(np.isfinite(y) & ((y > 0) | (not logy)), y, np.nan)
    return x[keep], y[keep]


def observation_series(g: GraphicFile, logtime: bool = False,
                       logvalue: bool = False,
                       units: Union[None, str, Sequence[str]] = None,
                       drawdown: Optional[Initial] = None) -> list[Series]:
    """One line per observation node: value (or drawdown) against time,
    labelled "x = X unit" (or "node N" when the coordinate is unknown)."""
    length, _, _ = parse_units(units)
    obs = g.observations
    t = obs.index.to_numpy(dtype=float)
    values = obs.to_numpy(dtype=float)
    if drawdown is not None:
        values = _initial_by_node(drawdown, list(obs.columns))[None, :] \
            - values
    out = []
    for k, node in enumerate(obs.columns):
        x = obs.attrs["x"][k] if k < len(obs.attrs.get("x", [])) \
            else math.nan
        label = _label("x", x, length) if math.isfinite(x) \
            else f"node {node}"
        xs, ys = _keep(t, values[:, k], logtime, logvalue)
        out.append(Series(label, xs, ys, node, x))
    return out


def profile_series(g: GraphicFile, logdist: bool = False,
                   logvalue: bool = False,
                   units: Union[None, str, Sequence[str]] = None,
                   drawdown: Optional[Initial] = None) -> list[Series]:
    """One line per stored profile: value (or drawdown) against distance,
    labelled "t = T unit" (or "step S" when the time is unknown). Profiles
    the run never stored are left out."""
    _, time, _ = parse_units(units)
    prof = g.profiles
    x = prof.index.to_numpy(dtype=float)
    values = prof.to_numpy(dtype=float)
    if drawdown is not None:
        values = _initial_by_node(drawdown, list(prof.attrs["node"]))[
            :, None] - values
    out = []
    for k, step in enumerate(prof.columns):
        if k in g.never_stored:
            continue
        t = prof.attrs["time"][k]
        label = _label("t", t, time) if math.isfinite(t) else f"step {step}"
        xs, ys = _keep(x, values[:, k], logdist, logvalue)
        out.append(Series(label, xs, ys, step, t))
    return out


def panels(g: GraphicFile, *, units: Union[None, str, Sequence[str]] = None,
           quantity: Optional[str] = None, logtime: bool = False,
           logdist: bool = False, logvalue: bool = False,
           drawdown: Optional[Initial] = None,
           notes: Optional[list[str]] = None,
           kind: Optional[str] = None) -> list[Panel]:
    """The panels :func:`plot_graphic` draws, with a note in ``notes`` for
    each one left out; ``kind`` "flow" gives the values the length
    unit."""
    notes = notes if notes is not None else []
    length, time, value = parse_units(units)
    if kind == "flow":
        value = length          # heads
    quantity = quantity or ("drawdown" if drawdown is not None
                            else DEFAULT_QUANTITY)
    ylabel = _with_unit(quantity, value or (length if drawdown is not None
                                            else None))
    # One step with its profile table: shown as profiles. (A file cut
    # short after one step keeps its single point of time series.)
    steady = g.steady and g.complete
    out = []
    if not len(g.observations.columns):
        notes.append("no observation nodes")
    elif not len(g.observations):
        notes.append("no observation rows")
    elif not steady:
        out.append(Panel("observations",
                         observation_series(g, logtime, logvalue, units,
                                            drawdown),
                         _with_unit("time", time, NEUTRAL["T"]), ylabel,
                         "observation time series", logtime, logvalue))
    profiles = profile_series(g, logdist, logvalue, units, drawdown)
    markers: list[Series] = []
    if steady and len(g.observations.columns):
        # The observation values of the one step, at their coordinates.
        for s in observation_series(g, False, logvalue, units, drawdown):
            if math.isfinite(s.at) and len(s.y):
                xs, ys = _keep(np.array([s.at]), s.y[:1], logdist, logvalue)
                markers.append(Series(f"node {s.key}", xs, ys, s.key, s.at))
    if g.prof is None:
        notes.append("no profile table")
    elif not len(g.profiles):
        notes.append("no profile rows")
    elif not profiles and not markers:
        notes.append("no profiles")
    if (profiles and len(g.profiles)) or markers:
        title = "steady state" if steady else "profiles"
        out.append(Panel("profiles", profiles if len(g.profiles) else [],
                         _with_unit("distance x", length, NEUTRAL["L"]),
                         ylabel, title,
                         logdist, logvalue, markers))
    return out


def read_measured(path: Union[str, Path]) -> pd.DataFrame:
    """Measured data from a CSV file with a header: the first column the
    time (or the distance, for profiles), every other column one series,
    headed with the well's coordinate ("x=10", "x = 10 m", or a name and
    the coordinate: "W1 x=10"), its name alone ("W1"), or, as before, a
    node number ("node 5", or "5" when no observation node lies at 5) or
    a profile's step ("step 3"). Empty cells are missing values."""
    try:
        df = pd.read_csv(path)
    except pd.errors.EmptyDataError:
        raise ValueError(f"{path}: empty; a CSV file of measured data has a "
                         "header line, then its rows") from None
    except (pd.errors.ParserError, UnicodeDecodeError) as e:
        raise ValueError(f"{path}: not a CSV file: "
                         + " ".join(str(e).split())) from None
    if df.shape[1] < 2:
        raise ValueError(f"{path}: a CSV file of measured data needs a "
                         f"first column of times or distances and at least "
                         f"one column of values")
    for k, col in enumerate(df.columns):
        num = pd.to_numeric(df[col], errors="coerce")
        bad = np.flatnonzero(num.isna().to_numpy() & df[col].notna()
                             .to_numpy())
        if len(bad):
            raise ValueError(f"{path}, line {bad[0] + 2}, column {k + 1}: "
                             f"{str(df[col].iloc[bad[0]])!r} is not a number")
        df[col] = num.astype(float)
    return df.set_index(df.columns[0])


_AT = re.compile(r"^(?P<name>.*?)[\s(\[,]*\bx\s*=\s*(?P<x>[-+0-9.eE]+)"
                 r"\s*[A-Za-z/]*[)\]]?\s*$")


def _match(name: Any, series: Sequence[Series] = ()) -> tuple[Any, str]:
    """The line a measured column goes with (its key, or None) and the
    column's legend: a coordinate heading takes the observation node
    there ("x = 10 m (measured)"), "node N" or "step S" that line, a bare
    number a coordinate or else a node number; any other heading is a
    well's own name."""
    text = str(name).strip()
    m = _AT.match(text)
    x = None
    if m:
        try:
            x = float(m["x"])
        except ValueError:
            x = None
    elif re.fullmatch(r"[-+]?(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?", text):
        x = float(text)
        if not any(_near(s.at, x) for s in series) and text.isdigit():
            x = None                    # a node number, as before
    if x is not None:
        for s in series:
            if _near(s.at, x):
                own = m["name"].strip() if m and m["name"].strip() else ""
                return s.key, f"{own + ', ' if own else ''}{s.label} " \
                    "(measured)"
        return None, f"{text} (measured)"
    for prefix in ("node", "step", ""):
        rest = text[len(prefix):].strip() if text.startswith(prefix) \
            else None
        if rest is not None and rest.lstrip("-").isdigit():
            key = int(rest)
            for s in series:
                if s.key == key:
                    return key, f"{s.label} (measured)"
            return key, f"{text} (measured)"
    return None, f"{text} (measured)"


def _near(a: float, b: float) -> bool:
    """Coordinates equal to the graphic file's four digits."""
    return math.isfinite(a) and abs(a - b) <= 5e-4 * max(abs(a), abs(b),
                                                         1e-12)


def _colours(n: int) -> Any:
    from matplotlib import colormaps
    return colormaps["tab10" if n <= 10 else "tab20"]


def _draw(ax: Any, panel: Panel, measured: Optional[pd.DataFrame],
          analytical: Optional[Analytical], analytical_label: str,
          span: tuple[float, float]) -> None:
    cmap = _colours(len(panel.series) + len(panel.markers))
    colour_of: dict[Any, Any] = {}
    for n, s in enumerate(panel.series):
        colour = cmap(n % cmap.N)
        colour_of.setdefault(s.key, colour)
        ax.plot(s.x, s.y, label=s.label, color=colour,
                marker="o" if len(s.x) <= 40 else None, markersize=3.5,
                linewidth=1.3)
    for n, s in enumerate(panel.markers, start=len(panel.series)):
        ax.plot(s.x, s.y, linestyle="none", marker="D", markersize=6,
                color=cmap(n % cmap.N), label=s.label)
    if analytical is not None:
        first = True
        lo, hi = span
        if panel.logx and lo > 0:
            grid = np.geomspace(lo, hi, 200)
        else:
            grid = np.linspace(lo, hi, 200)
        for s in panel.series:
            if not math.isfinite(s.at):
                continue
            if panel.kind == "observations":
                y = analytical(s.at, grid)
            else:
                y = analytical(grid, s.at)
            y = np.broadcast_to(np.asarray(y, dtype=float), grid.shape)
            ax.plot(grid, y, linestyle="--", linewidth=1.0,
                    color=colour_of.get(s.key, "black"))
            first = False
        if not first:  # one legend entry for all the dashed lines
            ax.plot([], [], linestyle="--", linewidth=1.0, color="black",
                    label=analytical_label)
    if measured is not None:
        t = measured.index.to_numpy(dtype=float)
        for n, name in enumerate(measured.columns):
            key, label = _match(name, panel.series)
            colour = colour_of.get(key, cmap((len(panel.series) + n)
                                             % cmap.N)) if key is not None \
                else cmap((len(panel.series) + n) % cmap.N)
            xs, ys = _keep(t, measured[name].to_numpy(dtype=float),
                           panel.logx, panel.logy)
            ax.plot(xs, ys, linestyle="none", marker="x", markersize=6,
                    markeredgewidth=1.5, color=colour, label=label)
    if panel.logx:
        ax.set_xscale("log")
    if panel.logy:
        ax.set_yscale("log")
    ax.set_xlabel(panel.xlabel)
    ax.set_ylabel(panel.ylabel)
    ax.set_title(panel.title)
    ax.grid(True, which="major", alpha=0.3)
    ax.legend(loc="upper left", bbox_to_anchor=(1.01, 1.0),
              fontsize="small", frameon=False)


def _span(panel: Panel) -> tuple[float, float]:
    xs = [s.x for s in panel.series + panel.markers if len(s.x)]
    if not xs:
        return 0.0, 1.0
    allx = np.concatenate(xs)
    return float(np.nanmin(allx)), float(np.nanmax(allx))


def plot_graphic(g: GraphicFile, *,
                 units: Union[None, str, Sequence[str]] = None,
                 quantity: Optional[str] = None, logtime: bool = False,
                 logdist: Optional[bool] = None, logvalue: bool = False,
                 drawdown: Optional[Initial] = None,
                 deck: Any = None,
                 measured: Optional[pd.DataFrame] = None,
                 measured_profiles: Optional[pd.DataFrame] = None,
                 analytical: Optional[Analytical] = None,
                 analytical_label: str = "analytical",
                 title: Optional[str] = None,
                 notes: Optional[list[str]] = None) -> Any:
    """Draws a graphic file; returns the matplotlib Figure, or None when
    there is nothing to draw (no observation nodes and no profiles).

    - ``units``: length and time units, optionally the value's
      (``("m", "d")``, ``"m,d,mg/L"``), shown on the axes and legends;
    - ``deck``: the deck of the run (a :class:`qmr.Deck`), which names the
      value ("head" for a flow run, "concentration" for a transport run)
      and draws a radial run's profiles on a logarithmic distance axis;
    - ``quantity``: the value axis' name (default: from the deck, "head or
      concentration" without it, or "drawdown");
    - ``logtime``, ``logdist``, ``logvalue``: logarithmic axes (points at
      zero or below are left out); ``logdist`` None: for a radial deck;
    - ``drawdown``: the initial value, uniform (a number) or by node (a
      mapping or Series, for example :func:`qmr.io.read_restart`'s
      ``value``): the panels show initial minus current value;
    - ``measured``: a DataFrame indexed by time (see :func:`read_measured`)
      drawn as crosses over the time series: a column headed with a
      coordinate ("x=10", "W1 x=10 m") takes the colour and the label of
      the observation node there, any other heading is a well's name;
      ``measured_profiles`` indexed by distance, over the profiles;
    - ``analytical``: a function ``f(x, t)`` drawn dashed for every node's
      coordinate (over time) and every profile's time (over distance), in
      what the panels show (value or drawdown).
    """
    from matplotlib.figure import Figure

    kind = None
    if deck is not None:
        quantity = quantity or (None if drawdown is not None else
                                "head" if deck.imode == 1 else
                                "concentration")
        if logdist is None:
            logdist = bool(deck.radial)
        kind = "flow" if deck.imode == 1 else "transport"
        if units is None:
            units = getattr(deck, "units", None)
    if isinstance(units, Units):
        units = (units.length, units.time, units.concentration)
    logdist = bool(logdist)
    found = panels(g, units=units, quantity=quantity, logtime=logtime,
                   logdist=logdist, logvalue=logvalue, drawdown=drawdown,
                   notes=notes, kind=kind)
    if not found:
        return None
    fig = Figure(figsize=(10, 4.2 * len(found)), layout="constrained")
    axes = fig.subplots(len(found), 1, squeeze=False)[:, 0]
    for ax, panel in zip(axes, found):
        extra = measured if panel.kind == "observations" \
            else measured_profiles
        _draw(ax, panel, extra, analytical, analytical_label, _span(panel))
    fig.suptitle(title if title is not None else g.name)
    return fig
