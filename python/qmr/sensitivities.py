"""Exact sensitivities from Python: the program's ``--sensitivity`` run on
deck objects at their unrounded values, read into a long-form frame and an
xarray dataset (rows of outputs by parameters)."""

from __future__ import annotations

import difflib
import re
import subprocess
import warnings
from dataclasses import dataclass
from typing import Any, Dict, List, Optional, Sequence, Tuple

import numpy as np
import pandas as pd
import xarray as xr

from .deck import Deck, DigitsLostWarning, PathError
from .deck.paths import _Decks, _kind, get_value, set_value
from .ensembles.base import _load_base
from .ensembles.collect import at_times
from .ensembles.outputs import Output, _as_output
from .io.csv import SENS_COLUMNS, read_sensitivities, sens_path
from .runner import PathLike, RunError, _chain, _run_name, find_exe

__all__ = ["Sensitivities", "sensitivities", "parameter_names"]

# The outputs of the program's --sensitivity-outputs, by selector kind.
_PROGRAM_OUTPUT = {"observations": "observations", "profiles": "profiles",
                   "fluxes": "fluxes", "accumulated": "fluxes",
                   "balance": "balance"}
# The `output` column's word for each selector kind (balance: the rest).
_ROW_OUTPUT = {"observations": "observation", "profiles": "profile",
               "fluxes": "flux", "accumulated": "accumulated_flux"}

_NAMES: Dict[str, Tuple[str, ...]] = {}


def parameter_names(exe: Optional[PathLike] = None) -> Tuple[str, ...]:
    """The parameter paths the program differentiates and sets
    (``qmr --parameter-names``), numbers left out: ``media[].conductivity``,
    ``initial_value``, ... Raises RunError when the program cannot say (a
    build without sensitivities)."""
    path = find_exe(exe)
    if path not in _NAMES:
        p = subprocess.run([path, "--parameter-names"], capture_output=True,
                           text=True)
        if p.returncode != 0:
            raise RunError(p.returncode, None, p.stderr)
        _NAMES[path] = tuple(ln.strip() for ln in p.stdout.splitlines()
                             if ln.strip())
    return _NAMES[path]


def _generic(inner: str) -> str:
    return re.sub(r"\[-?\d+\]", "[]", inner)


def _inner(segs: Sequence[Tuple[str, Optional[int]]]) -> str:
    return ".".join(n if k is None else f"{n}[{k}]" for n, k in segs)


class _Parameter:
    """One parameter asked for: the path as given, its deck, its path
    within the deck and as the program is given it, its value."""

    def __init__(self, path: str, decks: _Decks, names: Sequence[str]
                 ) -> None:
        self.path = path
        self.deck, segs = decks.split(path)
        self.inner = _inner(segs)
        if _generic(self.inner) not in names:
            close = difflib.get_close_matches(_generic(self.inner), names,
                                              n=3, cutoff=0.6)
            num = re.search(r"\[-?\d+\]", self.inner)
            close = [c.replace("[]", num[0] if num else "[1]")
                     for c in close]
            hint = f" (did you mean {' or '.join(close)}?)" if close else ""
            raise PathError(f"parameter {path!r} is not one the program "
                            f"differentiates{hint}")
        d = decks.decks[self.deck]
        self.value = float(get_value(d, self.inner))
        self.program = f"{_kind(d)}.{self.inner}" if decks.chain \
            else self.inner


def _deck_paths(deck: Deck, names: Sequence[str]) -> List[str]:
    """Every parameter path of the deck (the names numbered over its
    lists), less those the program refuses for this deck (an initial value
    with a restart file, the default velocity with a velocity file)."""
    out = []
    for name in names:
        head, sep, rest = name.partition("[].")
        if name.startswith("initial_value") and deck.restart_read == 1:
            continue
        if name.startswith("default_") and deck.velocity_code > 0:
            continue
        if not sep:
            if hasattr(deck, name):
                out.append(name)
            continue
        items = getattr(deck, head, None)
        if items is None:
            continue
        out += [f"{head}[{i}].{rest}" for i, it in enumerate(items, 1)
                if hasattr(it, rest)]
    return out


def parameters_text(values: Dict[str, float]) -> str:
    """The text of a ``--parameters`` file: a line ``PATH VALUE`` per
    value, each written with every digit it needs to read back the same."""
    return "".join(f"{k} {float(v)!r}\n" for k, v in values.items())


def _unrounded(deck: Deck, asked: Sequence[str], names: Sequence[str]
               ) -> Tuple[Dict[str, float], bool]:
    """The values to give the run at full precision: those asked for and
    every other parameter its field would round; and whether, with them,
    no value of the deck is lost to its field."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DigitsLostWarning)
        back = Deck.from_bytes(deck.to_bytes())
    out: Dict[str, float] = {p: float(get_value(deck, p)) for p in asked}
    for p in _deck_paths(deck, names):
        v = get_value(deck, p)
        if p not in out and isinstance(v, float) and get_value(back, p) != v:
            out[p] = v
    for p, v in out.items():
        set_value(back, p, v)
    return out, back.values() == deck.values()


@dataclass(frozen=True)
class _Balance(Output):
    """The terms of the mass balance (the name "balance")."""

    kind = "balance"


def _selectors(outputs: Any, decks: _Decks) -> List[Tuple[int, Output]]:
    """The outputs asked for, each with the deck it applies to."""
    items = [outputs] if isinstance(outputs, (str, Output)) \
        else list(outputs)
    out = []
    for o in items:
        if isinstance(o, str) and o.rpartition(".")[2] == "balance":
            o = _Balance(deck=o.rpartition(".")[0] or None)
        else:
            o = _as_output(o)
        if o.kind not in _PROGRAM_OUTPUT:
            raise ValueError(f"output {o.kind}: no derivative (observations,"
                             " profiles, fluxes, accumulated or balance)")
        if o.deck is not None:
            if o.deck not in decks.aliases:
                raise ValueError(f"output {o.kind}: no deck {o.deck!r} (the "
                                 f"decks: {', '.join(decks.names)})")
            out.append((decks.aliases[o.deck], o))
        else:
            out += [(i, o) for i in range(len(decks.decks))]
    return out


def _keep(frame: pd.DataFrame, o: Output) -> np.ndarray:
    """The rows of one deck's frame an output selector keeps."""
    kind = o.kind
    if kind == "balance":
        keep = ~frame["output"].isin(list(_ROW_OUTPUT.values())).to_numpy()
    else:
        keep = (frame["output"] == _ROW_OUTPUT[kind]).to_numpy()
    nodes = getattr(o, "nodes", None)
    if nodes is not None:
        keep &= frame["node"].isin(list(nodes)).fillna(False).to_numpy(bool)
    steps = getattr(o, "steps", None)
    if steps is not None:
        keep &= frame["step"].isin(list(steps)).to_numpy()
    if o.times is not None:
        keep &= at_times(frame["time"].to_numpy(), o.times)
    return keep


class Sensitivities:
    """The derivatives of a run's outputs with respect to its parameters
    (see :func:`sensitivities`).

    - :meth:`frame`: the long form, the columns of the program's
      ``X.sens.csv`` (``parameter, output, step, time, node, x, value,
      derivative, flag``); in a chain ``output`` names its deck first
      (``transport.observation``).
    - :attr:`dataset`: an xarray Dataset on dimensions ``row`` (one output
      at one step and node) and ``parameter``: ``value`` (row),
      ``derivative`` and ``flag`` (row, parameter); coordinates ``output``,
      ``step``, ``time``, ``node`` (0 for a balance term), ``x`` and
      ``name`` (a measurement's, "" for the other outputs) on ``row``,
      ``parameter_value`` (the value the run used) on ``parameter``. In a
      chain the flow outputs do not depend on the transport parameters:
      their derivatives are 0.
    - :meth:`scaled`: d ln y / d ln p.
    - :meth:`match`: the derivatives of the measurements' simulated values
      (``--observations``), measurement by parameter.
    - :attr:`parameters`: path -> the value the run used.
    """

    def __init__(self, frame: pd.DataFrame, parameters: Dict[str, float]
                 ) -> None:
        self._frame = frame
        self.parameters = dict(parameters)
        self._dataset: Optional[xr.Dataset] = None

    def __repr__(self) -> str:
        n = self._frame["output"].nunique()
        return (f"Sensitivities({len(self.parameters)} parameters, "
                f"{n} outputs, {len(self._frame)} rows)")

    def frame(self) -> pd.DataFrame:
        """The long form: one row per parameter, output, step and node (a
        copy)."""
        return self._frame.copy()

    @property
    def dataset(self) -> xr.Dataset:
        """The derivatives as an xarray Dataset (see the class)."""
        if self._dataset is None:
            self._dataset = self._build()
        return self._dataset

    def _build(self) -> xr.Dataset:
        f = self._frame
        params = list(self.parameters)
        node = f["node"].fillna(0).to_numpy(np.int64)
        keys = pd.MultiIndex.from_arrays(
            [f["output"].to_numpy(), f["step"].to_numpy(), node,
             f["name"].to_numpy(str)])
        row, uniq = pd.factorize(keys)
        col = pd.Categorical(f["parameter"], categories=params).codes
        n, m = len(uniq), len(params)
        first = np.full(n, -1)
        first[row[::-1]] = np.arange(len(f))[::-1]
        deriv = np.zeros((n, m))
        flag = np.full((n, m), "", dtype=object)
        deriv[row, col] = f["derivative"].to_numpy(float)
        flag[row, col] = f["flag"].to_numpy(object)
        at = f.iloc[first] if n else f
        return xr.Dataset(
            {"value": ("row", at["value"].to_numpy(float)),
             "derivative": (("row", "parameter"), deriv),
             "flag": (("row", "parameter"), flag.astype(str))},
            coords={"row": np.arange(n), "parameter": params,
                    "parameter_value": ("parameter",
                                        np.array([self.parameters[p]
                                                  for p in params])),
                    "output": ("row", at["output"].to_numpy(str)),
                    "step": ("row", at["step"].to_numpy(np.int64)),
                    "time": ("row", at["time"].to_numpy(float)),
                    "node": ("row", node[first] if n else node),
                    "x": ("row", at["x"].to_numpy(float)),
                    "name": ("row", at["name"].to_numpy(str))})

    def match(self) -> pd.DataFrame:
        """The Jacobian of the measurements (``output=match`` rows, a run
        given ``--observations``): the derivative of each one's simulated
        value, a frame indexed by the measurement's name (in the order of
        its file) with one column per parameter; empty without
        measurements."""
        f = self._frame[self._frame["output"].str.rpartition(".")[2]
                        == "match"]
        names = pd.unique(f["name"])
        out = f.pivot(index="name", columns="parameter", values="derivative")
        return out.reindex(index=names,
                           columns=[p for p in self.parameters
                                    if p in out.columns])

    def scaled(self) -> xr.DataArray:
        """The scaled sensitivities d ln y / d ln p = derivative * p / y on
        (row, parameter), p the value the run used; NaN where y is 0."""
        ds = self.dataset
        y = ds["value"].where(ds["value"] != 0)
        out = ds["derivative"] * ds["parameter_value"] / y
        return out.rename("scaled")


def sensitivities(deck_or_chain: Any, parameters: Sequence[str],
                  outputs: Any = None, *, folder: Optional[PathLike] = None,
                  exe: Optional[PathLike] = None, args: Sequence[str] = (),
                  files: Optional[Dict[str, Any]] = None,
                  timeout: Optional[float] = None) -> Sensitivities:
    """The exact derivatives of a run's outputs with respect to
    `parameters`, computed by the program in one run (``--sensitivity``).

    `deck_or_chain`: a deck (object or file), or a chain of a flow deck
    that writes a velocity file and the transport deck that reads it (a
    list, or a mapping of names as :func:`qmr.ensemble` takes); the decks
    are not changed. `parameters`: paths, in a chain prefixed with their
    deck (``flow.media[1].conductivity``, ``transport.media[1].porosity``);
    the derivatives of the transport outputs with respect to the flow
    parameters come through the velocities. `outputs`: None for the
    observations and the fluxes (rates and accumulated), else selectors of
    the ensembles, :class:`Observations` (``nodes``), :class:`Profiles`
    (``steps``), :class:`Fluxes` (``nodes``, ``accumulated``), with their
    ``deck`` and ``times``, or their names; ``"balance"`` for the terms of
    the mass balance.

    The run takes the deck objects' values unrounded: those asked for and
    every other parameter whose field would round it are given at full
    precision (``--parameters``). `folder`, `exe`, `args`, `files` and
    `timeout` are those of :func:`qmr.run_chain` (without `folder` a
    scratch folder, removed after).

    Raises PathError for a path that names no parameter of the decks,
    RunError for a failed run, ValueError for a chain that is not a flow
    run and its transport run or an output without a derivative.
    """
    decks, aux = _load_base(deck_or_chain, files)
    if decks.chain and [_kind(d) for d in decks.decks] != ["flow",
                                                           "transport"]:
        raise ValueError("a chain for sensitivities is a flow deck, then the "
                         "transport deck that reads its velocity file")
    if decks.chain and len({_run_name(d.graphic or "").lower()
                            for d in decks.decks}) == 1:
        # the transport run would overwrite the flow run's derivatives
        raise ValueError("the decks of the chain write one graphic file, "
                         "beside which both runs write their derivatives")
    if isinstance(parameters, str):
        parameters = [parameters]
    names = parameter_names(exe)
    asked = [_Parameter(str(p), decks, names) for p in parameters]
    if not asked:
        raise ValueError("no parameters")
    twice = [p.path for i, p in enumerate(asked)
             if any((q.deck, q.inner) == (p.deck, p.inner) for q in asked[:i])]
    if twice:
        raise ValueError(f"parameter {twice[0]!r} given twice")
    selected = _selectors(outputs, decks) if outputs is not None else None
    want = ",".join(sorted({_PROGRAM_OUTPUT[o.kind] for _, o in selected})) \
        if selected else ""
    deck_args: List[List[str]] = []
    quiet = True
    for i, d in enumerate(decks.decks):
        mine = [p for p in asked if p.deck == i]
        # a transport run takes the flow parameters through the velocities
        through = [p for p in asked if p.deck < i]
        values, whole = _unrounded(d, [p.inner for p in mine], names)
        quiet = quiet and whole
        name = f"qmr-sensitivities-{i + 1}.par"
        aux[name] = parameters_text(values)
        a = ["--parameters", name]
        for p in through + mine:
            a += ["--sensitivity", p.program]
        if want:
            a += ["--sensitivity-outputs", want]
        deck_args.append(a)
    with warnings.catch_warnings():
        if quiet:   # every value the fields round is given unrounded
            warnings.simplefilter("ignore", DigitsLostWarning)
        results = _chain(decks.decks, folder, exe, args, aux, timeout,
                         False, False, deck_args)
    try:
        frames = []
        for i, r in enumerate(results):
            if r.graphic is None:
                raise ValueError(f"deck {decks.names[i]} writes no graphic "
                                 "file, beside which the derivatives go")
            f = read_sensitivities(sens_path(r.graphic))
            if selected is not None:
                keep = np.zeros(len(f), bool)
                for j, o in selected:
                    if j == i:
                        keep |= _keep(f, o)
                keep |= (f["output"] == "match").to_numpy()  # measurements
                f = f[keep]
            if decks.chain:
                f = f.assign(output=decks.names[i] + "." + f["output"])
            frames.append(f)
    finally:
        results[0].close()
    back = {p.program: p.path for p in asked}
    frame = pd.concat(frames, ignore_index=True) if frames else \
        pd.DataFrame(columns=list(SENS_COLUMNS))
    frame["parameter"] = frame["parameter"].map(back)
    return Sensitivities(frame, {p.path: p.value for p in asked})
