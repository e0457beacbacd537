"""Graphic files of any size in the exact layout qmr writes, made with numpy
from known values, for the tests and the benchmark of the readers."""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np


@dataclass
class Synthetic:
    """A graphic file and the values it holds."""

    data: bytes
    steps: np.ndarray
    times: np.ndarray
    obs_nodes: list[int]
    obs: np.ndarray  # (steps, nodes)
    prof_steps: list[int]
    x: np.ndarray
    prof: np.ndarray  # (nodes, profiles)


def _fields(mant: np.ndarray, exp: np.ndarray, neg: np.ndarray,
            ) -> np.ndarray:
    """E11.4 fields "[-]0.ddddE+ee" (bytes, last axis 11) of the values
    (-1)^neg * mant * 10^(exp - 4); a zero mantissa gives 0.0000E+00."""
    zero = mant == 0
    exp = np.where(zero, 0, exp)
    out = np.empty(mant.shape + (11,), dtype=np.uint8)
    out[..., 0] = np.where(neg & ~zero, ord("-"), ord(" "))
    out[..., 1] = ord("0")
    out[..., 2] = ord(".")
    for j in range(4):
        out[..., 3 + j] = ord("0") + (mant // 10 ** (3 - j)) % 10
    out[..., 7] = ord("E")
    out[..., 8] = np.where(exp < 0, ord("-"), ord("+"))
    out[..., 9] = ord("0") + np.abs(exp) // 10
    out[..., 10] = ord("0") + np.abs(exp) % 10
    return out


def _value(mant: np.ndarray, exp: np.ndarray, neg: np.ndarray) -> np.ndarray:
    text = [f"{'-' if n else ''}0.{m:04d}E{e:+03d}"
            for m, e, n in zip(mant.ravel(), exp.ravel(), neg.ravel())]
    return np.array([float(t) for t in text]).reshape(mant.shape)


def _rows(numbers: np.ndarray, fields: np.ndarray) -> np.ndarray:
    """Rows "(I10,42(1X,E11.4))" with a line end, as one byte array."""
    n, k, _ = fields.shape
    width = 10 + 12 * k
    out = np.full((n, width + 1), ord(" "), dtype=np.uint8)
    for j in range(10):
        digit = (numbers // 10 ** (9 - j)) % 10
        show = numbers >= 10 ** (9 - j)
        out[:, j] = np.where(show, ord("0") + digit, ord(" "))
    blocks = out[:, 10:width].reshape(n, k, 12)
    blocks[:, :, 1:] = fields
    out[:, width] = ord("\n")
    return out


def _heading(head: str, item: str, numbers: list[int]) -> bytes:
    parts = [head] + [f"{item}{n:3d})" for n in numbers]
    if len(numbers) < 40:
        parts.append(item)
    elif item.strip() == "OBS.(":
        parts.append("*")
    return ("".join(parts) + "\n").encode()


def graphic(nsteps: int, nnodes: int, nobs: int, nprof: int,
            seed: int = 1, exact: bool = True) -> Synthetic:
    """A graphic file of ``nsteps`` steps and ``nnodes`` nodes with
    ``nobs`` observation nodes and ``nprof`` profiles of random values of
    every sign and magnitude (exponents -20..20). With ``exact`` the
    expected values are computed from the texts with ``float()`` (slow for
    large files); otherwise the expected arrays are left empty."""
    rng = np.random.default_rng(seed)
    steps = np.arange(1, nsteps + 1)
    obs_nodes = sorted(rng.choice(np.arange(1, nnodes + 1), nobs,
                                  replace=False).tolist())
    prof_steps = sorted(rng.choice(steps, nprof, replace=False).tolist())

    def random(shape: tuple) -> tuple:
        mant = rng.integers(1000, 10000, shape)
        mant[rng.random(shape) < 0.05] = 0
        return mant, rng.integers(-20, 21, shape), rng.random(shape) < 0.5

    tm = np.full(nsteps, 1000) + (steps % 9000)
    te = np.full(nsteps, 3)
    tn = np.zeros(nsteps, bool)
    om, oe, on = random((nsteps, nobs))
    xm = np.full(nnodes, 1000) + np.arange(nnodes) % 9000
    xe = np.full(nnodes, 4)
    xn = np.zeros(nnodes, bool)
    pm, pe, pn = random((nnodes, nprof))
    logs = np.zeros(nsteps, np.int64)
    obs_fields = np.concatenate([
        _fields(tm, te, tn)[:, None], _fields(logs, logs, tn)[:, None],
        _fields(om, oe, on)], axis=1)
    logx = np.zeros(nnodes, np.int64)
    prof_fields = np.concatenate([
        _fields(xm, xe, xn)[:, None], _fields(logx, logx, xn)[:, None],
        _fields(pm, pe, pn)], axis=1)
    data = b"".join([
        _heading("1.TIMESTEP   2.TIMEVAL   3.LOGTIME", "   OBS.(", obs_nodes),
        b" \n", _rows(steps, obs_fields).tobytes(), b"\n\n",
        _heading("    1.NODE  2.DISTANCE   3.LOGDIST", "  PROF.(",
                 prof_steps),
        b"\n\n \n" if nprof == 40 else b" \n",
        _rows(np.arange(1, nnodes + 1), prof_fields).tobytes(), b"\n"])
    times = _value(tm, te, tn)
    x = _value(xm, xe, xn)
    if exact:
        obs, prof = _value(om, oe, on), _value(pm, pe, pn)
    else:
        obs, prof = np.zeros((0, nobs)), np.zeros((0, nprof))
    return Synthetic(data, steps, times, obs_nodes, obs, prof_steps, x, prof)
