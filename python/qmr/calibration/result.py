"""The result of a calibration (:class:`Calibration`): the estimates and
their linear statistics at the estimates, the match, the history, the
files of its folder, predictions with their standard deviations and
samples of the calibrated distribution."""

from __future__ import annotations

import math
import warnings
from pathlib import Path
from typing import Any, Dict, List, Optional

import numpy as np
import pandas as pd

from ..deck import Deck, DigitsLostWarning
from .params import ParameterTable

__all__ = ["Calibration", "linear_statistics"]

# A singular value below this fraction of the largest marks a parameter
# combination the data cannot resolve.
RCOND = 1e-7


def linear_statistics(jac: np.ndarray, objective: float, n_data: int,
                      scale: np.ndarray) -> Dict[str, Any]:
    """The linear statistics at the estimates from the weighted Jacobian
    `jac` (rows: observations and priors; columns: the free parameters in
    the transformed space), the objective and the number of rows.

    `scale` takes each column to d r / d ln p (1 / ln 10 for a log10
    parameter, the value for an untransformed one): the singular values
    and the combinations are those of that unit-free Jacobian. Returns the
    error variance, the degrees of freedom, the covariance in the
    transformed space (infinite variances for parameters in an unresolved
    combination), the singular values and the unresolved combinations
    (rows of unit vectors)."""
    m, n = jac.shape
    dof = m - n
    s2 = objective / dof if dof > 0 else math.nan
    js = jac * scale
    _, sv, vt = np.linalg.svd(js, full_matrices=False)
    top = sv[0] if len(sv) else 0.0
    bad = sv <= RCOND * top if top > 0 else np.ones(len(sv), bool)
    unresolved = vt[bad]
    good = ~bad
    inv = (vt[good].T / sv[good] ** 2) @ vt[good]
    cov = s2 * inv / np.outer(scale, scale)
    touched = np.zeros(n, bool)
    if bad.any():
        touched = np.any(np.abs(unresolved) > 1e-6, axis=0)
        cov[touched, :] = np.nan
        cov[:, touched] = np.nan
        cov[touched, touched] = math.inf
    return {"s2": s2, "dof": dof, "cov": cov, "singular": sv,
            "unresolved": unresolved, "unresolved_params": touched}


class Calibration:
    """The result of :func:`qmr.calibrate`.

    - ``estimates``: every parameter of the table by path (fixed ones at
      their value, tied ones at their ratio to the one they follow);
    - ``std_errors``: linear standard errors (in the parameter's units; 0
      for fixed parameters); ``intervals``: 95 % linear confidence
      intervals (columns ``lower``, ``upper``), symmetric in the
      transformed space (so in log10 for log parameters), Student's t with
      the degrees of freedom of the fit;
    - ``correlation``: of the free parameters (path by path);
    - ``singular_values``: of the weighted Jacobian with respect to the
      logarithms of the free parameters (unit-free), largest first;
      ``unresolved``: one row per combination of those logarithms the data
      cannot resolve (a singular value below 1e-7 of the largest), columns
      the paths, empty when there is none;
    - ``composite_sensitivities``: sqrt(mean over the observations of
      (weight * d simulated / d ln p)^2), per free parameter;
    - ``residuals``: the match table at the estimates; ``statistics``: per
      group ``n``, ``objective``, ``share`` (of the total), ``rmse``,
      ``mean_residual``, ``max_abs_residual``, ``weighted_rmse``;
    - ``history``: ``iteration, objective, lambda, runs`` per iteration;
      ``runs``, ``converged``, ``stop_reason``;
    - ``deck``: the calibrated deck (a list of decks for a chain), holding
      the estimates unrounded; ``folder``: the files written.
    """

    def __init__(self, **kw: Any) -> None:
        self.estimates: pd.Series = kw["estimates"]
        self.std_errors: pd.Series = kw["std_errors"]
        self.intervals: pd.DataFrame = kw["intervals"]
        self.correlation: pd.DataFrame = kw["correlation"]
        self.singular_values: np.ndarray = kw["singular_values"]
        self.unresolved: pd.DataFrame = kw["unresolved"]
        self.composite_sensitivities: pd.Series = \
            kw["composite_sensitivities"]
        self.residuals: pd.DataFrame = kw["residuals"]
        self.statistics: pd.DataFrame = kw["statistics"]
        self.history: pd.DataFrame = kw["history"]
        self.runs: int = kw["runs"]
        self.converged: bool = kw["converged"]
        self.stop_reason: str = kw["stop_reason"]
        self.deck: Any = kw["deck"]
        self.folder: Path = kw["folder"]
        self.objective: float = kw["objective"]
        self.covariance: pd.DataFrame = kw["covariance"]
        self.dof: int = kw["dof"]
        self.error_variance: float = kw["error_variance"]
        self._table: ParameterTable = kw["table"]
        self._u: np.ndarray = kw["u"]
        self._exe = kw.get("exe")
        self._files = kw.get("files")

    def __repr__(self) -> str:
        state = "converged" if self.converged else "not converged"
        return (f"Calibration({len(self._u)} free parameters, {state}: "
                f"{self.stop_reason}, objective {self.objective:.6g}, "
                f"{self.runs} runs)")

    def __str__(self) -> str:
        """The line of ``repr`` and the table of the estimates, their
        standard errors and 95 % intervals (five significant digits)."""
        table = pd.DataFrame({"estimate": self.estimates,
                              "std_error": self.std_errors,
                              "lower": self.intervals["lower"],
                              "upper": self.intervals["upper"]})
        return repr(self) + "\n" + table.to_string(
            float_format=lambda v: f"{v:.5g}")

    # -- reports --------------------------------------------------------
    def report(self, out: Any = None, units: Any = None) -> Any:
        """The calibration's report (see :mod:`qmr.report`)."""
        from qmr.report import calibration_report
        return calibration_report(self, out=out, units=units)

    # -- predictions ----------------------------------------------------
    def _jacobian_u(self, deriv: np.ndarray) -> np.ndarray:
        """Derivatives by the varied parameters (columns in the order of
        ``table.varied``) carried to the free parameters' transformed
        space."""
        table = self._table
        free = table.free
        col = {p.path: k for k, p in enumerate(free)}
        out = np.zeros((deriv.shape[0], len(free)))
        values = self.estimates
        for k, p in enumerate(table.varied):
            root = p.tied_to or p.path
            j = col[root]
            ratio = p.ratio if p.tied_to else 1.0
            out[:, j] += deriv[:, k] * ratio
        for j, p in enumerate(free):
            out[:, j] *= p.dp_du(float(values[p.path]))
        return out

    def predict(self, outputs: Any = None) -> pd.DataFrame:
        """Predictions at the estimates with their linear standard
        deviations: the outputs of :func:`qmr.sensitivities` (the
        ensembles' selectors ``Observations``, ``Profiles``, ``Fluxes``,
        with ``deck=`` and ``times=``; None: observations and fluxes) with
        a column ``sd`` = sqrt(g C g'), g the output's derivatives with
        respect to the free parameters (transformed) and C their
        covariance. One row per output, step and node; ``sd`` is infinite
        for an output that depends on an unresolved combination."""
        from ..sensitivities import sensitivities
        varied = [p.path for p in self._table.varied]
        s = sensitivities(self.deck, varied, outputs, exe=self._exe,
                          files=self._files)
        ds = s.dataset
        deriv = ds["derivative"].transpose("row", "parameter") \
            .sel(parameter=varied).to_numpy()
        g = self._jacobian_u(deriv)
        cov = self.covariance.to_numpy()
        finite = np.isfinite(np.diag(cov))
        var = np.einsum("ij,jk,ik->i", g[:, finite],
                        cov[np.ix_(finite, finite)], g[:, finite])
        sd = np.sqrt(np.maximum(var, 0.0))
        if (~finite).any():
            hit = np.any(g[:, ~finite] != 0, axis=1)
            sd = np.where(hit, math.inf, sd)
        return pd.DataFrame({
            "output": ds["output"].to_numpy(), "step": ds["step"].to_numpy(),
            "time": ds["time"].to_numpy(), "node": ds["node"].to_numpy(),
            "x": ds["x"].to_numpy(), "value": ds["value"].to_numpy(),
            "sd": sd})

    def sample(self, n: int, seed: Any = None) -> pd.DataFrame:
        """`n` parameter sets drawn from the calibrated distribution: the
        multivariate normal of the free parameters in the transformed
        space (mean the estimates, covariance ``covariance``), draws
        outside the bounds drawn again; tied parameters follow. One row
        per set (labelled 0, 1, ...), one column per free and tied
        parameter: the table :func:`qmr.ensemble` takes. Raises
        ValueError when a free parameter is unresolved (infinite
        variance)."""
        cov = self.covariance.to_numpy()
        if not np.all(np.isfinite(cov)):
            raise ValueError("an unresolved parameter has no distribution")
        rng = np.random.default_rng(seed)
        free = self._table.free
        lo = np.array([p.to_u(p.lower) if p.lower > 0 or not p.log
                       else -np.inf for p in free], float)
        hi = np.array([p.to_u(p.upper) for p in free], float)
        out = np.empty((0, len(free)))
        tries = 0
        while len(out) < n:
            draw = rng.multivariate_normal(self._u, cov, size=max(n, 16))
            ok = np.all((draw >= lo) & (draw <= hi), axis=1)
            out = np.vstack([out, draw[ok]])
            tries += 1
            if tries > 1000:
                raise ValueError("the bounds hold almost none of the "
                                 "calibrated distribution")
        out = out[:n]
        cols: Dict[str, np.ndarray] = {}
        for j, p in enumerate(free):
            cols[p.path] = np.asarray(p.from_u(out[:, j]), float)
        for p in self._table.tied:
            parent = self._table.by_path[p.tied_to or ""]
            if parent.free:
                cols[p.path] = p.ratio * cols[parent.path]
        order = [p.path for p in self._table.varied]
        return pd.DataFrame({k: cols[k] for k in order})


def _summary_by_group(match: pd.DataFrame, prior: Optional[np.ndarray]
                      ) -> pd.DataFrame:
    res = match["residual"].to_numpy(float)
    wres = match["weighted_residual"].to_numpy(float)
    df = pd.DataFrame({"group": match["group"].to_numpy(), "r": res,
                       "wr": wres, "wr2": wres ** 2})
    g = df.groupby("group", sort=False)
    out = pd.DataFrame({
        "n": g.size(),
        "objective": g["wr2"].sum(),
        "rmse": np.sqrt(g["r"].apply(lambda r: float(np.mean(r ** 2)))),
        "mean_residual": g["r"].mean(),
        "max_abs_residual": g["r"].apply(lambda r: float(np.max(np.abs(r)))),
        "weighted_rmse": np.sqrt(g["wr2"].mean())})
    if prior is not None and len(prior):
        out.loc["prior"] = [len(prior), float(prior @ prior), math.nan,
                            math.nan, math.nan,
                            float(np.sqrt(np.mean(prior ** 2)))]
    total = out["objective"].sum()
    out.insert(2, "share", out["objective"] / total if total > 0 else 0.0)
    out.index.name = "group"
    out["n"] = out["n"].astype(int)
    return out


def write_folder(cal: Calibration, texts: List[str], names: List[str],
                 plots: bool = True) -> None:
    """The files of a calibration's folder: estimates.csv, residuals.csv,
    history.csv, calibrated.inp and parameters.txt (one of each per deck
    of a chain, named after the deck), and the plots."""
    folder = cal.folder
    folder.mkdir(parents=True, exist_ok=True)
    est = pd.DataFrame({"parameter": cal.estimates.index,
                        "estimate": cal.estimates.to_numpy(),
                        "std_error": cal.std_errors.to_numpy(),
                        "lower": cal.intervals["lower"].to_numpy(),
                        "upper": cal.intervals["upper"].to_numpy()})
    est.to_csv(folder / "estimates.csv", index=False,
               float_format=_repr_format)
    cal.residuals.to_csv(folder / "residuals.csv", index=False)
    cal.history.to_csv(folder / "history.csv", index=False)
    decks = cal.deck if isinstance(cal.deck, list) else [cal.deck]
    for d, text, name in zip(decks, texts, names):
        suffix = f".{name}" if len(decks) > 1 else ""
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", DigitsLostWarning)
            assert isinstance(d, Deck)
            d.write(folder / f"calibrated{suffix}.inp")
        (folder / f"parameters{suffix}.txt").write_text(text)
    if plots:
        _plots(cal)


def _repr_format(v: float) -> str:
    return repr(float(v))


def _plots(cal: Calibration) -> None:
    """The figures: simulated against measured (1:1), the residuals
    against time and distance, the fitted curves over the data."""
    import matplotlib
    matplotlib.use("Agg", force=False)
    import matplotlib.pyplot as plt

    m = cal.residuals
    groups = list(pd.unique(m["group"]))
    folder = cal.folder

    fig, ax = plt.subplots(figsize=(5.5, 5.5))
    for g in groups:
        s = m[m["group"] == g]
        ax.plot(s["measured"], s["simulated"], "o", ms=3, label=g)
    lo = float(min(m["measured"].min(), m["simulated"].min()))
    hi = float(max(m["measured"].max(), m["simulated"].max()))
    ax.plot([lo, hi], [lo, hi], "k-", lw=0.8)
    ax.set_xlabel("measured")
    ax.set_ylabel("simulated")
    ax.set_title("Simulated against measured")
    ax.legend(fontsize="small")
    fig.tight_layout()
    fig.savefig(folder / "simulated_vs_measured.png", dpi=100)
    plt.close(fig)

    for col, label, name in (("time", "time", "residuals_vs_time.png"),
                             ("x", "distance", "residuals_vs_distance.png")):
        fig, ax = plt.subplots(figsize=(7, 4))
        for g in groups:
            s = m[m["group"] == g]
            ax.plot(s[col], s["weighted_residual"], "o", ms=3, label=g)
        ax.axhline(0.0, color="k", lw=0.8)
        ax.set_xlabel(label)
        ax.set_ylabel("weighted residual")
        ax.set_title(f"Weighted residuals against {label}")
        ax.legend(fontsize="small")
        fig.tight_layout()
        fig.savefig(folder / name, dpi=100)
        plt.close(fig)

    fig, ax = plt.subplots(figsize=(7, 4.5))
    series = m.groupby(["kind", "x"], sort=False)
    logt = bool((m["time"] > 0).all() and
                m["time"].max() > 100 * m["time"].min())
    for (kind, x), s in series:
        s = s.sort_values("time")
        line, = ax.plot(s["time"], s["simulated"], "-", lw=1)
        ax.plot(s["time"], s["measured"], "o", ms=3,
                color=line.get_color(), label=f"{kind} at x = {x:g}")
    if logt:
        ax.set_xscale("log")
    ax.set_xlabel("time")
    ax.set_ylabel("value")
    ax.set_title("Fitted (lines) over measured (points)")
    if series.ngroups <= 12:
        ax.legend(fontsize="small")
    fig.tight_layout()
    fig.savefig(folder / "fitted.png", dpi=100)
    plt.close(fig)
