"""Samples of named parameters for ensembles: Latin hypercube and plain
random samples with uniform, log-uniform and normal distributions, seeded.

A sample is a DataFrame with one row per realization (labelled 0, 1, ...)
and one column per parameter, named by the parameter's path in the deck
(``media[1].conductivity``), ready for :func:`qmr.ensemble`::

    >>> import qmr
    >>> p = qmr.latin_hypercube({
    ...     "media[1].conductivity": qmr.LogUniform(1.0, 100.0),
    ...     "media[1].storativity": qmr.Uniform(1e-4, 1e-3),
    ...     "prescribed_values[1].value": qmr.Normal(10.0, 0.5)},
    ...     n=500, seed=1)

The same seed gives the same sample. Distributions may also be given as
tuples: ``("uniform", low, high)``, ``("loguniform", low, high)``,
``("normal", mean, sd)``.
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Any, Mapping, Optional, Sequence, Union

import numpy as np
import pandas as pd

__all__ = ["Distribution", "Uniform", "LogUniform", "Normal",
           "latin_hypercube", "random_sample"]

Seed = Union[None, int, np.random.Generator]


class Distribution:
    """A distribution of one parameter: draws from it and maps
    probabilities in (0, 1) to values (its inverse distribution
    function)."""

    def ppf(self, u: np.ndarray) -> np.ndarray:
        """Values of probabilities `u` (the inverse distribution
        function)."""
        raise NotImplementedError

    def draw(self, rng: np.random.Generator, n: int) -> np.ndarray:
        """`n` independent draws."""
        raise NotImplementedError


@dataclass(frozen=True)
class Uniform(Distribution):
    """Uniform between `low` and `high`."""

    low: float
    high: float

    def __post_init__(self) -> None:
        if not self.low < self.high:
            raise ValueError(f"uniform: low {self.low} is not below high "
                             f"{self.high}")

    def ppf(self, u: np.ndarray) -> np.ndarray:
        return self.low + u * (self.high - self.low)

    def draw(self, rng: np.random.Generator, n: int) -> np.ndarray:
        return rng.uniform(self.low, self.high, n)


@dataclass(frozen=True)
class LogUniform(Distribution):
    """Log-uniform between `low` and `high` (both positive): the logarithm
    is uniform, so each decade is as likely as any other."""

    low: float
    high: float

    def __post_init__(self) -> None:
        if not 0 < self.low < self.high:
            raise ValueError(f"log-uniform: needs 0 < low < high, got "
                             f"{self.low}, {self.high}")

    def ppf(self, u: np.ndarray) -> np.ndarray:
        a, b = math.log(self.low), math.log(self.high)
        return np.exp(a + u * (b - a))

    def draw(self, rng: np.random.Generator, n: int) -> np.ndarray:
        return self.ppf(rng.random(n))


@dataclass(frozen=True)
class Normal(Distribution):
    """Normal of mean `mean` and standard deviation `sd`."""

    mean: float
    sd: float

    def __post_init__(self) -> None:
        if not self.sd > 0:
            raise ValueError(f"normal: the standard deviation {self.sd} is "
                             "not positive")

    def ppf(self, u: np.ndarray) -> np.ndarray:
        from scipy.special import ndtri
        return self.mean + self.sd * ndtri(u)

    def draw(self, rng: np.random.Generator, n: int) -> np.ndarray:
        return rng.normal(self.mean, self.sd, n)


_NAMES = {"uniform": Uniform, "loguniform": LogUniform,
          "log-uniform": LogUniform, "normal": Normal}


def _distribution(name: str, d: Any) -> Distribution:
    if isinstance(d, Distribution):
        return d
    if isinstance(d, (tuple, list)) and d and isinstance(d[0], str):
        kind = _NAMES.get(d[0].lower())
        if kind is not None and len(d) == 3:
            return kind(float(d[1]), float(d[2]))  # type: ignore[abstract]
    raise TypeError(f"{name}: {d!r} is not a distribution (Uniform, "
                    "LogUniform, Normal, or ('uniform'|'loguniform'|"
                    "'normal', a, b))")


def _frame(params: Mapping[str, Any], columns: Sequence[np.ndarray],
           n: int, index: Optional[Sequence[Any]]) -> pd.DataFrame:
    idx = pd.RangeIndex(n) if index is None else pd.Index(index)
    if len(idx) != n:
        raise ValueError(f"{len(idx)} labels for {n} realizations")
    idx.name = "realization"
    return pd.DataFrame(dict(zip(params, columns)), index=idx)


def latin_hypercube(params: Mapping[str, Any], n: int, seed: Seed = None,
                    index: Optional[Sequence[Any]] = None) -> pd.DataFrame:
    """A Latin hypercube sample of `n` realizations: each parameter's range
    is cut into `n` intervals of equal probability, and each interval holds
    exactly one realization, the intervals of the parameters paired at
    random. `params` maps parameter paths to distributions; `seed` (an
    integer or a numpy Generator) makes the sample repeatable; `index`
    labels the rows (default 0..n-1)."""
    from scipy.stats import qmc
    dists = [_distribution(k, d) for k, d in params.items()]
    if n < 1:
        raise ValueError("n must be at least 1")
    rng = np.random.default_rng(seed)
    u = qmc.LatinHypercube(d=len(dists), seed=rng).random(n) \
        if dists else np.zeros((n, 0))
    return _frame(params, [d.ppf(u[:, i]) for i, d in enumerate(dists)], n,
                  index)


def random_sample(params: Mapping[str, Any], n: int, seed: Seed = None,
                  index: Optional[Sequence[Any]] = None) -> pd.DataFrame:
    """A plain random sample of `n` realizations, each parameter drawn
    independently from its distribution (arguments as for
    :func:`latin_hypercube`)."""
    dists = [_distribution(k, d) for k, d in params.items()]
    if n < 1:
        raise ValueError("n must be at least 1")
    rng = np.random.default_rng(seed)
    return _frame(params, [d.draw(rng, n) for d in dists], n, index)
