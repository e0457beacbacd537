"""One model run of a calibration: the decks run with the parameters at
full precision (``--parameters``), the measured data (``--observations``)
and the derivatives of every parameter that follows the estimates
(``--sensitivity``); the match table and its exact Jacobian read back.

A chain runs its flow deck first: the flow run writes the derivatives of
its velocities, which the transport run carries on (``flow.`` paths)."""

from __future__ import annotations

import warnings
from pathlib import Path
from typing import Dict, List, Optional, Sequence, Tuple

import numpy as np
import pandas as pd

from ..deck import Deck, DigitsLostWarning
from ..deck.paths import _Decks, _kind, set_value
from ..io.csv import sens_path
from ..runner import PathLike, _chain, _run_name
from ..sensitivities import (_Parameter, _unrounded, parameter_names,
                             parameters_text)
from .observations import observation_csv
from .params import CalibrationError, ParameterTable

__all__ = ["Model", "match_path", "MATCH_COLUMNS"]

MATCH_COLUMNS = ("name", "group", "kind", "x", "time", "measured",
                 "simulated", "residual", "weight", "weighted_residual")


def match_path(graphic: PathLike) -> Path:
    """``X.match.csv`` beside the graphic file ``X.GRF``."""
    s = sens_path(graphic)
    return s.with_name(s.name[:-len(".sens.csv")] + ".match.csv")


def read_match(path: PathLike) -> pd.DataFrame:
    """The match table a run wrote (``X.match.csv``), numbers read back to
    the doubles written."""
    df = pd.read_csv(path, dtype={"name": str, "group": str, "kind": str},
                     keep_default_na=False, float_precision="round_trip")
    if tuple(df.columns) != MATCH_COLUMNS:
        raise CalibrationError(f"{Path(path).name}: not a match table "
                               f"(columns {', '.join(map(str, df.columns))})")
    return df


def read_match_derivatives(path: PathLike) -> pd.DataFrame:
    """The ``output=match`` rows of a sensitivities file: parameter, name,
    value, derivative, flag."""
    df = pd.read_csv(path, dtype=str, keep_default_na=False)
    if "name" not in df.columns:
        raise CalibrationError(f"{Path(path).name}: no column 'name' (a "
                               "run without --observations?)")
    df = df[df["output"] == "match"]
    out = pd.DataFrame({"parameter": df["parameter"].to_numpy(),
                        "name": df["name"].to_numpy(),
                        "value": df["value"].astype(float).to_numpy(),
                        "derivative": df["derivative"].astype(float)
                        .to_numpy(),
                        "flag": df["flag"].to_numpy()})
    return out


class Model:
    """The decks of a calibration and how each run is made (see the
    module). `observations` is the checked observation table (with a
    ``deck`` column in a chain)."""

    def __init__(self, decks: _Decks, aux: Dict[str, bytes],
                 table: ParameterTable, observations: pd.DataFrame, *,
                 folder: Path, exe: Optional[PathLike] = None,
                 args: Sequence[str] = (), timeout: Optional[float] = None
                 ) -> None:
        self.decks = decks
        self.aux = dict(aux)
        self.table = table
        self.folder = folder
        self.exe = exe
        self.args = list(args)
        self.timeout = timeout
        if decks.chain and [_kind(d) for d in decks.decks] != ["flow",
                                                               "transport"]:
            raise CalibrationError("a chain for calibration is a flow deck, "
                                   "then the transport deck that reads its "
                                   "velocity file")
        if decks.chain and len({_run_name(d.graphic or "").lower()
                                for d in decks.decks}) == 1:
            raise CalibrationError("the decks of the chain write one graphic "
                                   "file, beside which both runs write their "
                                   "match tables")
        for d in decks.decks:
            if not d.graphic:
                raise CalibrationError("a deck writes no graphic file, "
                                       "beside which the match table goes")
        names = parameter_names(exe)
        self.varied = table.varied
        self.asked = [_Parameter(p.path, decks, names) for p in self.varied]
        self.fixed_paths = [_Parameter(p.path, decks, names)
                            for p in table.params if p not in self.varied]
        # the rows of each deck, in the table's order
        obs = observations.reset_index(drop=True)
        if decks.chain:
            last = decks.names[-1]
            which = obs["deck"].replace("", last)
            bad = ~which.isin(list(decks.aliases))
            if bad.any():
                raise CalibrationError(
                    f"observation {obs['name'][bad].iloc[0]}: no deck "
                    f"{which[bad].iloc[0]!r} (the decks: "
                    f"{', '.join(decks.names)})")
            idx = which.map(decks.aliases).to_numpy(int)
        else:
            idx = np.zeros(len(obs), int)
        self.obs_deck = idx
        self.observations = obs
        self.n_obs = len(obs)
        self.fixed_values: List[Dict[str, float]] = []
        self.quiet = True
        start = table.values()
        for i, d in enumerate(decks.decks):
            mine = [p.inner for p in self.asked if p.deck == i] + \
                [p.inner for p in self.fixed_paths if p.deck == i]
            trial = d.copy()
            for p in self.asked + self.fixed_paths:
                if p.deck == i:
                    set_value(trial, p.inner, start[p.path])
            values, whole = _unrounded(trial, mine, names)
            self.quiet = self.quiet and whole
            self.fixed_values.append(values)
        self.runs = 0

    # -- one run -----------------------------------------------------------
    def run(self, values: Dict[str, float]
            ) -> Tuple[pd.DataFrame, np.ndarray, List[str]]:
        """Run the decks at `values` (every parameter of the table, by
        path). Returns the match table (the observations' order), the
        derivatives d simulated / d p (observations by varied parameters,
        in the order of ``self.varied``) and the flags of those rows."""
        decks = self.decks
        aux = dict(self.aux)
        deck_args: List[List[str]] = []
        for i in range(len(decks.decks)):
            name = f"qmr-calibration-{i + 1}.par"
            aux[name] = self.parameters_text(values, i).encode()
            a = ["--quiet", "--parameters", name]
            rows = self.observations[self.obs_deck == i]
            if len(rows):
                oname = f"qmr-observations-{i + 1}.csv"
                aux[oname] = observation_csv(rows).encode()
                a += ["--observations", oname]
            for p in self.asked:
                if p.deck <= i:
                    a += ["--sensitivity", p.program]
            deck_args.append(a)
        for d in decks.decks:      # no stale file is ever read
            g = self.folder / _run_name(d.graphic).replace("\\", "/")
            for f in (match_path(g), sens_path(g)):
                if f.exists():
                    f.unlink()
        with warnings.catch_warnings():
            if self.quiet:
                warnings.simplefilter("ignore", DigitsLostWarning)
            results = _chain(decks.decks, self.folder, self.exe, self.args,
                             aux, self.timeout, False, True, deck_args)
        self.runs += 1
        frames, derivs, flags = [], [], []
        order = {p.program: k for k, p in enumerate(self.asked)}
        for i, r in enumerate(results):
            if not (self.obs_deck == i).any():
                continue
            assert r.graphic is not None
            m = read_match(match_path(r.graphic))
            d = read_match_derivatives(sens_path(r.graphic))
            jac = np.zeros((len(m), len(self.asked)))
            flag = np.full(len(m), "", dtype=object)
            if len(d):
                row = pd.Index(m["name"]).get_indexer(d["name"])
                col = d["parameter"].map(order)
                ok = (row >= 0) & col.notna().to_numpy()
                jac[row[ok], col[ok].to_numpy(int)] = \
                    d["derivative"].to_numpy()[ok]
                fl = d["flag"].to_numpy()
                flagged = ok & (fl != "")
                flag[row[flagged]] = fl[flagged]
            frames.append((np.flatnonzero(self.obs_deck == i), m))
            derivs.append(jac)
            flags.append(flag)
        n = self.n_obs
        match = pd.concat([m for _, m in frames], ignore_index=True)
        where = np.concatenate([ix for ix, _ in frames])
        order_rows = np.argsort(where, kind="stable")
        match = match.iloc[order_rows].reset_index(drop=True)
        jac = np.vstack(derivs)[order_rows] if derivs else np.zeros(
            (n, len(self.asked)))
        flag_all = np.concatenate(flags)[order_rows].tolist()
        if len(match) != n or list(match["name"]) != list(
                self.observations["name"]):
            raise CalibrationError("the match tables do not hold the "
                                   "observations given")
        return match, jac, flag_all

    def parameters_text(self, values: Dict[str, float], deck: int = 0
                        ) -> str:
        """The ``--parameters`` file of deck `deck` at `values`: every
        parameter of the table and every value its field would round, at
        full precision."""
        vals = dict(self.fixed_values[deck])
        for p in self.asked + self.fixed_paths:
            if p.deck == deck:
                vals[p.inner] = values[p.path]
        return parameters_text(vals)

    def calibrated_decks(self, values: Dict[str, float]) -> List[Deck]:
        """Copies of the decks holding `values` (unrounded) and every value
        the run was given at full precision."""
        out = []
        for i, d in enumerate(self.decks.decks):
            c = d.copy()
            for k, v in self.fixed_values[i].items():
                set_value(c, k, v)
            for p in self.asked + self.fixed_paths:
                if p.deck == i:
                    set_value(c, p.inner, values[p.path])
            out.append(c)
        return out
