"""The outputs of one realization's runs read into long-form blocks: the
graphic file's tables (full precision from the CSV files when the
program wrote them), fluxes, imbalances and the values of functions."""

from __future__ import annotations

import re
from typing import Any, Dict, List, Optional, Sequence

import numpy as np
import pandas as pd

from ..io import OutputFileError, read_csv_outputs, read_flux, read_listing
from ..io.csv import OBS_COLUMN, PROF_COLUMN, header_columns, read_table
from ..io.graphic import GraphicArrays
from ..io.listing import _texts_to_floats
from ..runner import Result
from .outputs import (_block, Block, Fluxes, Imbalance, _node_numbers,
                      Observations, Profiles, _Wanted)


def _csv_arrays(result: Result, obs: bool) -> Optional[GraphicArrays]:
    """The observations (`obs`) or the profiles of the run's CSV file as
    arrays, read without building frames; None when the run wrote none."""
    kind = "obs" if obs else "prof"
    path = result.csv.get(kind)
    if path is None:
        return None
    names, v = read_table(path)
    if obs:
        if names[:2] != ["step", "time"]:
            raise OutputFileError(f"{path.name}: not an observation file")
        cols = header_columns(path, names, OBS_COLUMN, 2)
        nodes = np.array([int(n) for n, _ in cols], np.int64)
        return GraphicArrays(v[:, 0].astype(np.int64), v[:, 1], nodes,
                             v[:, 2:], np.array([float(x) for _, x in cols]),
                             *_NO_PROFILES)
    if names[:2] != ["node", "x"]:
        raise OutputFileError(f"{path.name}: not a profile file")
    cols = header_columns(path, names, PROF_COLUMN, 2)
    return GraphicArrays(*_NO_OBSERVATIONS,
                         np.array([int(s) for s, _ in cols], np.int64),
                         np.array([float(t) for _, t in cols]),
                         v[:, 0].astype(np.int64), v[:, 1], v[:, 2:])


_NO_OBSERVATIONS = (np.zeros(0, np.int64), np.zeros(0), np.zeros(0, np.int64),
                    np.zeros((0, 0)), np.zeros(0))
_NO_PROFILES = (np.zeros(0, np.int64), np.zeros(0), np.zeros(0, np.int64),
                np.zeros(0), np.zeros((0, 0)))


class _Reads:
    """The outputs of one deck's run, each file read once, and only those
    wanted: the CSV files at full precision when the run wrote them, else
    the graphic file."""

    def __init__(self, result: Result) -> None:
        self.result = result
        self._parts: Dict[str, Optional[GraphicArrays]] = {}
        self._graphic: Optional[GraphicArrays] = None
        self._csv: Dict[str, pd.DataFrame] = {}

    def csv(self, kind: str) -> Optional[pd.DataFrame]:
        """One CSV file as :func:`qmr.io.read_csv_outputs` reads it."""
        if kind not in self._csv and kind in self.result.csv:
            self._csv.update(read_csv_outputs(self.result.graphic,
                                              kinds=(kind,)))
        return self._csv.get(kind)

    def part(self, obs: bool) -> GraphicArrays:
        """The observation (`obs`) or profile tables as arrays."""
        key = "obs" if obs else "prof"
        if key not in self._parts:
            self._parts[key] = _csv_arrays(self.result, obs)
        got = self._parts[key]
        if got is None:
            if self._graphic is None:
                assert self.result.graphic is not None
                self._graphic = GraphicArrays.read(self.result.graphic)
            got = self._graphic
        return got

    def coordinates(self) -> pd.Series:
        g = self.part(obs=False)
        return pd.Series(g.prof_x, index=g.prof_nodes)


def _select(columns: np.ndarray, wanted: Optional[Sequence[int]]
            ) -> np.ndarray:
    """Positions of the columns to keep: the wanted ones, each once."""
    keep = np.ones(len(columns), bool)
    if wanted is not None:
        keep &= np.isin(columns, np.asarray(wanted, dtype=np.int64))
    _, first = np.unique(columns, return_index=True)
    once = np.zeros(len(columns), bool)
    once[first] = True
    return np.flatnonzero(keep & once)


def _series_blocks(name: str, frame: pd.DataFrame, wanted: Any,
                   coords: Optional[pd.Series]) -> Block:
    """Rows of a frame indexed by time with a column per node: node by
    node, step by step."""
    nodes = _node_numbers(frame.columns)
    cols = _select(nodes, wanted)
    vals = frame.to_numpy(dtype=float)[:, cols]
    ns, nn = vals.shape
    steps = np.asarray(frame.attrs.get("step", np.arange(1, ns + 1)),
                       dtype=np.int64)
    times = frame.index.to_numpy(dtype=float)
    if coords is not None:
        xs = coords.reindex(nodes[cols]).to_numpy(dtype=float)
    else:
        xs = np.full(nn, np.nan)
    return _block(name, ns * nn, np.tile(steps, nn), np.tile(times, nn),
                  np.repeat(nodes[cols], ns), np.repeat(xs, ns),
                  vals.T.ravel())


_STEP_TIME = re.compile(rb"TIME STEP NUMBER +(\S+)\r?\n.*\r?\n\r?\n"
                        rb" +CURRENT TIME = (.{12})")
_OUT_OF_BALANCE = re.compile(
    rb"MASS OUT OF BALANCE \(MASS IN - MASS INCREASE\) += (.{12})")


def _imbalance(name: str, reads: _Reads) -> List[Block]:
    b = reads.csv("balance")
    if b is not None:
        return [_block(name, len(b), b.index, b["time"], None, None,
                       b["imbalance"])]
    if reads.result.listing is None:
        return []
    data = reads.result.listing.read_bytes()
    heads = list(_STEP_TIME.finditer(data))
    found = list(_OUT_OF_BALANCE.finditer(data))
    if not found:
        return []
    at = np.array([m.start() for m in heads], np.int64)
    k = np.searchsorted(at, [m.start() for m in found], side="right") - 1
    steps = np.array([int(m[1]) for m in heads], np.int64)
    times = _texts_to_floats([m[2] for m in heads], 5)
    ok = k >= 0
    k = np.maximum(k, 0)
    values = _texts_to_floats([m[1] for m in found], 5)
    return [_block(name, int(ok.sum()), steps[k][ok], times[k][ok], None,
                   None, values[ok])]


def _fluxes(name: str, wanted: Fluxes, reads: _Reads) -> List[Block]:
    res = reads.result
    f = reads.csv("flux")
    coords = reads.coordinates() if res.graphic is not None else None
    if f is not None:
        part = f["accumulated" if wanted.accumulated else "rate"]
        part.attrs = {"step": f.attrs.get("step")}
        return [_series_blocks(name, part, wanted.nodes, coords)]
    if res.flux is not None and res.flux.is_file():
        ff = read_flux(res.flux, warn=False)
        part = ff.accumulated if wanted.accumulated else ff.rates
        return [_series_blocks(name, part, wanted.nodes, coords)]
    lst = read_listing(res.listing)
    t = lst.fluxes
    if wanted.nodes is not None:
        t = t[t.index.get_level_values("node").isin(wanted.nodes)]
    steps = t.index.get_level_values("step").to_numpy(np.int64)
    nodes = t.index.get_level_values("node").to_numpy(np.int64)
    times = lst.steps["time"][~lst.steps.index.duplicated()]
    tv = times.reindex(steps).to_numpy(dtype=float)
    xs = coords.reindex(nodes).to_numpy(dtype=float) \
        if coords is not None else None
    col = "accumulated" if wanted.accumulated else "rate"
    return [_block(name, len(t), steps, tv, nodes, xs, t[col])]


def _function_blocks(name: str, value: Any) -> List[Block]:
    if isinstance(value, pd.DataFrame):
        if "value" not in value.columns:
            raise ValueError(f"output {name}: the function's DataFrame has "
                             "no value column")
        bad = set(value.columns) - {"step", "time", "node", "x", "value"}
        if bad:
            raise ValueError(f"output {name}: unknown columns {sorted(bad)} "
                             "(step, time, node, x, value)")
        return [_block(name, len(value), **{
            ("time_" if k == "time" else k): value[k].to_numpy()
            for k in value.columns})]
    if isinstance(value, pd.Series):
        key = value.index.name
        if key not in ("step", "time", "node", "x"):
            raise ValueError(f"output {name}: a Series needs an index named "
                             "step, time, node or x")
        key = "time_" if key == "time" else key
        return [_block(name, len(value), **{key: value.index.to_numpy(),
                                            "value": value.to_numpy()})]
    return [_block(name, 1, value=[float(value)])]


def _collect(wanted: Sequence[_Wanted], reads: _Reads, deck: int
             ) -> List[Block]:
    blocks: List[Block] = []
    for w in wanted:
        if w.deck != deck:
            continue
        s = w.wanted
        if isinstance(s, Observations):
            if reads.result.graphic is None:
                continue
            g = reads.part(obs=True)
            cols = _select(g.nodes, s.nodes)
            vals = g.obs[:, cols]
            ns, nn = vals.shape
            blocks.append(_block(w.name, ns * nn, np.tile(g.steps, nn),
                                 np.tile(g.times, nn),
                                 np.repeat(g.nodes[cols], ns),
                                 np.repeat(g.node_x[cols], ns),
                                 vals.T.ravel()))
        elif isinstance(s, Profiles):
            if reads.result.graphic is None:
                continue
            g = reads.part(obs=False)
            cols = _select(g.prof_steps, s.steps)
            cols = cols[~np.all(np.isnan(g.prof[:, cols]), axis=0)]
            vals = g.prof[:, cols]
            nn, ns = vals.shape
            blocks.append(_block(w.name, nn * ns,
                                 np.repeat(g.prof_steps[cols], nn),
                                 np.repeat(g.prof_times[cols], nn),
                                 np.tile(g.prof_nodes, ns),
                                 np.tile(g.prof_x, ns), vals.T.ravel()))
        elif isinstance(s, Fluxes):
            blocks += _fluxes(w.name, s, reads)
        elif isinstance(s, Imbalance):
            blocks += _imbalance(w.name, reads)
    times = {w.name: w.wanted.times for w in wanted}
    return [_at_times(b, times[b[0]]) for b in blocks]


def _at_times(b: Block, times: Optional[Sequence[float]]) -> Block:
    """The rows of a block at the `times` (all without)."""
    if times is None:
        return b
    keep = at_times(b[2], times)
    return (b[0], *(a[keep] for a in b[1:]))  # type: ignore[return-value]


def at_times(column: np.ndarray, times: Sequence[float]) -> np.ndarray:
    """Which of the times of `column` are among `times` (to nine
    significant digits, as the program prints them)."""
    t = np.asarray(times, dtype=float)
    return np.isclose(np.asarray(column, dtype=float)[:, None], t[None, :],
                      rtol=1e-9, atol=0.0).any(axis=1)
