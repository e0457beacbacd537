"""Levenberg-Marquardt on an abstract residual function: bounds, steps
limited per iteration, the stopping rule named.

The function gives, at a point `u` of the transformed space, the weighted
residuals r (measured - simulated, times the weights, with any prior
terms) and their Jacobian J = dr/du; the objective is r . r. Each call is
one model run. Marquardt's damping is scaled by the diagonal of J'J and
adapted after every trial (Nielsen's rule); a parameter at a bound that the
step would push beyond is held there for the iteration, and a step is cut
back to the bounds.
"""

from __future__ import annotations

import math
from dataclasses import dataclass, field
from typing import Any, Callable, List, Optional, Tuple

import numpy as np

__all__ = ["levenberg_marquardt", "LMResult", "STOP_RULES"]

# The stopping rules, by the name the result gives, and whether they mean
# convergence.
STOP_RULES = {
    "parameter change": True,    # the next step changes no parameter
    "objective change": True,    # an accepted step reduced it no more
    "gradient": True,            # the projected gradient vanished
    "zero objective": True,      # the data are matched exactly
    "iterations": False,         # max_iterations reached
    "runs": False,               # max_runs reached
    "no reduction": False,       # damping grew without a better point
}

Evaluation = Tuple[np.ndarray, np.ndarray, Any]


@dataclass
class LMResult:
    """The end of a minimisation: the point, its residuals, Jacobian and
    the payload of its evaluation; the objective; one history row per
    iteration (``iteration, objective, lambda, runs``); the evaluations
    made; whether it converged and the rule that stopped it."""

    u: np.ndarray
    residuals: np.ndarray
    jacobian: np.ndarray
    payload: Any
    objective: float
    history: List[dict] = field(default_factory=list)
    runs: int = 0
    iterations: int = 0
    converged: bool = False
    stop_reason: str = ""


def _solve(a: np.ndarray, g: np.ndarray, lam: float, d: np.ndarray,
           active: np.ndarray) -> np.ndarray:
    """The damped step on the parameters not held (-g = (A + lam D) s)."""
    step = np.zeros_like(g)
    keep = ~active
    if not keep.any():
        return step
    m = a[np.ix_(keep, keep)] + lam * np.diag(d[keep])
    try:
        step[keep] = np.linalg.solve(m, -g[keep])
    except np.linalg.LinAlgError:
        step[keep] = -np.linalg.lstsq(m, g[keep], rcond=None)[0]
    return step


def levenberg_marquardt(
        fn: Callable[[np.ndarray], Evaluation], u0: np.ndarray,
        lower: np.ndarray, upper: np.ndarray, *,
        log: Optional[np.ndarray] = None, max_iterations: int = 50,
        max_runs: int = 200, xtol: float = 1e-7, ftol: float = 1e-10,
        gtol: float = 1e-12, lambda0: float = 1e-3,
        max_change: float = 1.0,
        callback: Optional[Callable[[dict], None]] = None) -> LMResult:
    """Minimise r(u) . r(u) within [lower, upper] (see the module).

    `fn(u)` returns ``(r, J, payload)``. `log` marks the components that are
    decimal logarithms of a parameter: their changes are judged in decades
    (a change of `xtol` / ln 10 is a relative change of `xtol` of the
    parameter, and a step moves them at most `max_change` decades), the
    others relatively (at most `max_change` times their value, or their
    bound range for a value of 0).

    Stops, and says which in ``stop_reason`` (see :data:`STOP_RULES`):
    the next step changes every parameter by less than `xtol` relatively;
    an accepted step reduced the objective by less than `ftol` of it; the
    projected gradient is below `gtol` of the objective; the objective is
    0; `max_iterations` iterations or `max_runs` evaluations; or the
    damping grew beyond 1e16 without finding a lower objective.
    `callback` gets each history row as it is made.
    """
    u = np.clip(np.asarray(u0, float).copy(), lower, upper)
    n = len(u)
    lower = np.asarray(lower, float)
    upper = np.asarray(upper, float)
    is_log = np.zeros(n, bool) if log is None else np.asarray(log, bool)
    r, jac, payload = fn(u)
    runs = 1
    phi = float(r @ r)
    history = [{"iteration": 0, "objective": phi, "lambda": math.nan,
                "runs": runs}]
    if callback is not None:
        callback(history[-1])
    lam, nu = lambda0, 2.0
    stop = ""
    it = 0

    def typical(x: np.ndarray) -> np.ndarray:
        span = np.where(np.isfinite(upper - lower), upper - lower, 1.0)
        rel = np.where(x != 0, np.abs(x), 1e-3 * span)
        return np.where(is_log, 1.0 / math.log(10.0), rel)

    while not stop:
        if phi == 0.0:
            stop = "zero objective"
            break
        if it >= max_iterations:
            stop = "iterations"
            break
        g = jac.T @ r
        a = jac.T @ jac
        d = np.diag(a).copy()
        d[d <= 0] = max(float(d.max(initial=0.0)), 1.0) * 1e-12
        active = ((u <= lower) & (g > 0)) | ((u >= upper) & (g < 0))
        typ = typical(u)
        if np.all(np.abs(np.where(active, 0.0, g)) * typ
                  <= gtol * phi):
            stop = "gradient"
            break
        while True:
            step = _solve(a, g, lam, d, active)
            limit = np.where(is_log, max_change, max_change * typ)
            big = np.max(np.abs(step) / limit) if n else 0.0
            if big > 1.0:
                step = step / big
            trial = np.clip(u + step, lower, upper)
            step = trial - u
            if np.all(np.abs(step) <= xtol * typ):
                stop = "parameter change"
                break
            if runs >= max_runs:
                stop = "runs"
                break
            r2, jac2, payload2 = fn(trial)
            runs += 1
            phi2 = float(r2 @ r2)
            lin = r + jac @ step
            predicted = phi - float(lin @ lin)
            if np.isfinite(phi2) and phi2 < phi:
                rho = (phi - phi2) / predicted if predicted > 0 else 1.0
                small = phi - phi2 <= ftol * phi
                u, r, jac, payload = trial, r2, jac2, payload2
                it += 1
                history.append({"iteration": it, "objective": phi2,
                                "lambda": lam, "runs": runs})
                if callback is not None:
                    callback(history[-1])
                phi = phi2
                lam *= max(1.0 / 3.0, 1.0 - (2.0 * rho - 1.0) ** 3)
                lam = max(lam, 1e-12)
                nu = 2.0
                if small:
                    stop = "objective change"
                break
            lam *= nu
            nu *= 2.0
            if lam > 1e16:
                stop = "no reduction"
                break
    return LMResult(u=u, residuals=r, jacobian=jac, payload=payload,
                    objective=phi, history=history, runs=runs,
                    iterations=it, converged=STOP_RULES[stop],
                    stop_reason=stop)
