"""``qmr.calibrate``: Levenberg-Marquardt on the program's exact
Jacobian of the simulated values at the measurements."""

from __future__ import annotations

import math
import tempfile
from pathlib import Path
from typing import Any, Callable, Dict, Mapping, Optional, Sequence, Union

import numpy as np
import pandas as pd

from ..ensembles.base import _load_base
from ..runner import PathLike
from .lm import levenberg_marquardt
from .model import Model
from .observations import read_observations
from .params import ParameterTable, read_parameters
from .result import (Calibration, _summary_by_group, linear_statistics,
                     write_folder)

__all__ = ["calibrate"]


def calibrate(deck_or_chain: Any,
              parameters: Union[PathLike, pd.DataFrame, ParameterTable],
              observations: Union[PathLike, pd.DataFrame],
              folder: Optional[PathLike] = None, *,
              max_iterations: int = 50, max_runs: int = 200,
              xtol: float = 1e-7, ftol: float = 1e-10,
              plots: bool = True, exe: Optional[PathLike] = None,
              args: Sequence[str] = (),
              files: Optional[Mapping[str, Any]] = None,
              timeout: Optional[float] = None,
              progress: Optional[Callable[[dict], None]] = None
              ) -> Calibration:
    """Estimate deck parameters from measured data.

    `deck_or_chain`: a deck (object or file) or a chain (a flow deck that
    writes a velocity file, then the transport deck that reads it, as a
    list or a mapping of names); the decks are not changed.
    `parameters`: the parameter table (:func:`read_parameters`: a CSV file
    or a DataFrame). `observations`: the measured data (a CSV file or a
    DataFrame as ``qmr --observations`` reads: ``name``, ``x`` or
    ``node``, ``time``, ``value``, optionally ``sd``, ``group``, ``kind``;
    in a chain ``deck``, default the last deck;
    :meth:`qmr.Observations.from_dates` turns dates into times).

    Every iteration is one run of the program (a chain: one run of each
    deck) with the parameters at full precision, ``--observations`` and
    ``--sensitivity`` for every estimated parameter: the simulated values
    and their exact derivatives. Levenberg-Marquardt works on the free
    parameters, log10-transformed where the table says so, within their
    bounds; tied parameters keep their starting ratio, fixed ones their
    value, priors add weighted residuals (prior - value) / prior_sd (for
    a log parameter in log10, the standard deviation carried over at the
    prior). It stops on the first of the rules of
    :data:`qmr.calibration.lm.STOP_RULES` (``stop_reason``):
    `xtol` relative parameter change, `ftol` relative objective change,
    `max_iterations`, `max_runs`.

    `folder` receives the files (estimates.csv, residuals.csv,
    history.csv, calibrated.inp, parameters.txt, the plots unless `plots`
    is False; see :class:`Calibration`) and the runs (in ``runs/``);
    without it, a new folder ``qmr-calibration-*`` in the temporary
    folder, left in place. `exe`, `args`, `files`, `timeout` are those of
    :func:`qmr.run_chain`. `progress` gets each history row.

    Raises CalibrationError (one line) for a table that cannot be used,
    PathError for a path that names no parameter, RunError for a run that
    fails (a measurement outside the run's span or mesh, say).
    """
    from scipy import stats
    decks, aux = _load_base(deck_or_chain, files)
    table = read_parameters(parameters)
    obs = read_observations(observations, chain=decks.chain)
    out = Path(folder) if folder is not None else \
        Path(tempfile.mkdtemp(prefix="qmr-calibration-"))
    work = out / "runs"
    work.mkdir(parents=True, exist_ok=True)
    model = Model(decks, aux, table, obs, folder=work, exe=exe, args=args,
                  timeout=timeout)
    free = table.free
    u0 = np.array([p.to_u(p.value) for p in free], float)
    with np.errstate(divide="ignore"):
        lower = np.array([p.to_u(p.lower) if not (p.log and p.lower <= 0)
                          else -np.inf for p in free], float)
        upper = np.array([p.to_u(p.upper) for p in free], float)
    priors = [(j, p) for j, p in enumerate(free) if p.prior is not None]
    prior_u = np.array([p.prior_u()[0] for _, p in priors], float)
    prior_sd = np.array([p.prior_u()[1] for _, p in priors], float)
    prior_col = np.array([j for j, _ in priors], int)
    dummy = _Jacobian(table)

    def evaluate(u: np.ndarray):
        values = table.values(u)
        match, deriv, flags = model.run(values)
        w = match["weight"].to_numpy(float)
        r = match["weighted_residual"].to_numpy(float)
        jac = -w[:, None] * dummy.to_u(deriv, u)
        if len(priors):
            rp = (prior_u - u[prior_col]) / prior_sd
            jp = np.zeros((len(priors), len(u)))
            jp[np.arange(len(priors)), prior_col] = -1.0 / prior_sd
            r = np.concatenate([r, rp])
            jac = np.vstack([jac, jp])
        return r, jac, (match, deriv, flags)

    lm = levenberg_marquardt(
        evaluate, u0, lower, upper,
        log=np.array([p.log for p in free], bool),
        max_iterations=max_iterations, max_runs=max_runs, xtol=xtol,
        ftol=ftol, callback=progress)
    match, deriv, _ = lm.payload
    values = table.values(lm.u)
    paths = [p.path for p in free]
    scale = np.array([1.0 / math.log(10.0) if p.log else abs(values[p.path])
                      or 1.0 for p in free], float)
    st = linear_statistics(lm.jacobian, lm.objective, len(lm.residuals),
                           scale)
    cov = st["cov"]
    var_u = np.diag(cov)
    se_u = np.sqrt(var_u)
    dof = st["dof"]
    tq = float(stats.t.ppf(0.975, dof)) if dof > 0 else math.inf
    est = pd.Series({p.path: values[p.path] for p in table.params},
                    name="estimate", dtype=float)
    se: Dict[str, float] = {}
    lo: Dict[str, float] = {}
    hi: Dict[str, float] = {}
    for j, p in enumerate(free):
        v = values[p.path]
        se[p.path] = float(se_u[j] * p.dp_du(v))
        with np.errstate(over="ignore", invalid="ignore"):
            lo[p.path] = float(p.from_u(lm.u[j] - tq * se_u[j]))
            hi[p.path] = float(p.from_u(lm.u[j] + tq * se_u[j]))
    for p in table.params:
        if p.fixed:
            se[p.path], lo[p.path], hi[p.path] = 0.0, p.value, p.value
        elif p.tied_to is not None:
            parent = table.by_path[p.tied_to]
            if parent.fixed:
                se[p.path] = 0.0
                lo[p.path] = hi[p.path] = values[p.path]
            else:
                se[p.path] = abs(p.ratio) * se[parent.path]
                a, b = p.ratio * lo[parent.path], p.ratio * hi[parent.path]
                lo[p.path], hi[p.path] = min(a, b), max(a, b)
    order = [p.path for p in table.params]
    std_errors = pd.Series(se, name="std_error").reindex(order)
    intervals = pd.DataFrame({"lower": pd.Series(lo), "upper": pd.Series(hi)}
                             ).reindex(order)
    intervals.index.name = "parameter"
    with np.errstate(invalid="ignore", divide="ignore"):
        corr = cov / np.outer(se_u, se_u)
    np.fill_diagonal(corr, 1.0)
    correlation = pd.DataFrame(corr, index=paths, columns=paths)
    n_obs = len(match)
    js = lm.jacobian[:n_obs] * scale
    css = pd.Series(np.sqrt(np.mean(js ** 2, axis=0)) if n_obs else
                    np.zeros(len(free)), index=paths,
                    name="composite_sensitivity")
    prior_res = lm.residuals[n_obs:] if len(priors) else None
    statistics = _summary_by_group(match, prior_res)
    history = pd.DataFrame(lm.history,
                           columns=["iteration", "objective", "lambda",
                                    "runs"])
    cal_decks = model.calibrated_decks(values)
    cal = Calibration(
        estimates=est, std_errors=std_errors, intervals=intervals,
        correlation=correlation, singular_values=st["singular"],
        unresolved=pd.DataFrame(st["unresolved"], columns=paths),
        composite_sensitivities=css, residuals=match,
        statistics=statistics, history=history, runs=model.runs,
        converged=lm.converged, stop_reason=lm.stop_reason,
        deck=cal_decks if decks.chain else cal_decks[0], folder=out,
        objective=lm.objective,
        covariance=pd.DataFrame(cov, index=paths, columns=paths),
        dof=dof, error_variance=st["s2"], table=table, u=lm.u, exe=exe,
        files=files)
    texts = [model.parameters_text(values, i)
             for i in range(len(decks.decks))]
    write_folder(cal, texts, list(decks.names), plots=plots)
    return cal


class _Jacobian:
    """Derivatives by the varied parameters carried to the free
    parameters' transformed space (tied ones through their ratio)."""

    def __init__(self, table: ParameterTable) -> None:
        free = table.free
        col = {p.path: k for k, p in enumerate(free)}
        self.free = free
        self.map = np.zeros((len(table.varied), len(free)))
        for k, p in enumerate(table.varied):
            root = p.tied_to or p.path
            self.map[k, col[root]] = p.ratio if p.tied_to else 1.0

    def to_u(self, deriv: np.ndarray, u: np.ndarray) -> np.ndarray:
        dp = np.array([p.dp_du(float(p.from_u(u[j])))
                       for j, p in enumerate(self.free)], float)
        return (deriv @ self.map) * dp
