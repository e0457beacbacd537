"""Samples of named parameters for ensembles: Latin hypercube and plain
random samples with uniform, log-uniform, normal and log-normal
distributions, any of them truncated, seeded.

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
``("normal", mean, sd)``, ``("lognormal", median, sd_log10)``.

The contract of a distribution (docs/ensembles.md): ``cdf(x)`` is its
distribution function, ``ppf(u)`` its inverse on probabilities in (0, 1)
(the Latin hypercube maps its strata through it) and ``draw(rng, n)`` gives
`n` independent values. A class with these three methods may be passed
wherever a distribution is.
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Any, Mapping, Optional, Sequence, Union

import numpy as np
import pandas as pd

__all__ = ["Distribution", "Uniform", "LogUniform", "Normal", "LogNormal",
           "Truncated", "latin_hypercube", "random_sample",
           "round_significant"]

Seed = Union[None, int, np.random.Generator]


class Distribution:
    """A distribution of one parameter: draws from it and maps
    probabilities in (0, 1) to values (its inverse distribution
    function)."""

    def cdf(self, x: np.ndarray) -> np.ndarray:
        """Probabilities of values at most `x` (the distribution
        function)."""
        raise NotImplementedError

    def ppf(self, u: np.ndarray) -> np.ndarray:
        """Values of probabilities `u` (the inverse distribution
        function)."""
        raise NotImplementedError

    def draw(self, rng: np.random.Generator, n: int) -> np.ndarray:
        """`n` independent draws."""
        return self.ppf(rng.random(n))


@dataclass(frozen=True)
class Uniform(Distribution):
    """Uniform between `low` and `high`."""

    low: float
    high: float

    def __post_init__(self) -> None:
        if not self.low < self.high:
            raise ValueError(f"uniform: low {self.low} is not below high "
                             f"{self.high}")

    def cdf(self, x: np.ndarray) -> np.ndarray:
        return np.clip((np.asarray(x, float) - self.low)
                       / (self.high - self.low), 0.0, 1.0)

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

    def cdf(self, x: np.ndarray) -> np.ndarray:
        a, b = math.log(self.low), math.log(self.high)
        x = np.maximum(np.asarray(x, float), self.low)
        return np.clip((np.log(x) - a) / (b - a), 0.0, 1.0)

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

    def cdf(self, x: np.ndarray) -> np.ndarray:
        from scipy.special import ndtr
        return ndtr((np.asarray(x, float) - self.mean) / self.sd)

    def ppf(self, u: np.ndarray) -> np.ndarray:
        from scipy.special import ndtri
        return self.mean + self.sd * ndtri(u)

    def draw(self, rng: np.random.Generator, n: int) -> np.ndarray:
        return rng.normal(self.mean, self.sd, n)


@dataclass(frozen=True)
class LogNormal(Distribution):
    """Log-normal of median `median` (positive): the decimal logarithm of
    the value is normal, of mean log10(median) and standard deviation
    `sd_log10` (in decades; 0.5 puts two thirds of the values within a
    factor of about 3.2 of the median). The usual distribution of hydraulic
    conductivity."""

    median: float
    sd_log10: float

    def __post_init__(self) -> None:
        if not self.median > 0:
            raise ValueError(f"log-normal: the median {self.median} is not "
                             "positive")
        if not self.sd_log10 > 0:
            raise ValueError(f"log-normal: the standard deviation "
                             f"{self.sd_log10} is not positive")

    def cdf(self, x: np.ndarray) -> np.ndarray:
        from scipy.special import ndtr
        x = np.asarray(x, float)
        with np.errstate(divide="ignore", invalid="ignore"):
            z = (np.log10(np.where(x > 0, x, np.nan))
                 - math.log10(self.median)) / self.sd_log10
        return np.where(x > 0, ndtr(z), 0.0)

    def ppf(self, u: np.ndarray) -> np.ndarray:
        from scipy.special import ndtri
        return self.median * 10.0 ** (self.sd_log10 * ndtri(u))

    def draw(self, rng: np.random.Generator, n: int) -> np.ndarray:
        return self.median * 10.0 ** rng.normal(0.0, self.sd_log10, n)


@dataclass(frozen=True)
class Truncated(Distribution):
    """`dist` cut to the values between `low` and `high` (either may be
    None: no bound on that side), the probability within renormalised:
    ``Truncated(Normal(10, 2), low=0)`` never draws a negative value."""

    dist: Any
    low: Optional[float] = None
    high: Optional[float] = None

    def _bounds(self) -> tuple:
        a = 0.0 if self.low is None else float(self.dist.cdf(self.low))
        b = 1.0 if self.high is None else float(self.dist.cdf(self.high))
        return a, b

    def __post_init__(self) -> None:
        if self.low is not None and self.high is not None and \
                not self.low < self.high:
            raise ValueError(f"truncated: low {self.low} is not below high "
                             f"{self.high}")
        a, b = self._bounds()
        if not b > a:
            raise ValueError(f"truncated: {self.dist!r} has no probability "
                             f"between {self.low} and {self.high}")

    def cdf(self, x: np.ndarray) -> np.ndarray:
        a, b = self._bounds()
        return np.clip((self.dist.cdf(x) - a) / (b - a), 0.0, 1.0)

    def ppf(self, u: np.ndarray) -> np.ndarray:
        a, b = self._bounds()
        v = self.dist.ppf(a + np.asarray(u, float) * (b - a))
        lo = -np.inf if self.low is None else self.low
        hi = np.inf if self.high is None else self.high
        return np.clip(v, lo, hi)


_NAMES = {"uniform": Uniform, "loguniform": LogUniform,
          "log-uniform": LogUniform, "normal": Normal,
          "lognormal": LogNormal, "log-normal": LogNormal}


def _distribution(name: str, d: Any) -> Distribution:
    if isinstance(d, Distribution):
        return d
    if isinstance(d, (tuple, list)) and d and isinstance(d[0], str):
        kind = _NAMES.get(d[0].lower())
        if kind is not None and len(d) == 3:
            return kind(float(d[1]), float(d[2]))  # type: ignore[abstract]
    if all(callable(getattr(d, m, None)) for m in ("cdf", "ppf", "draw")):
        return d                  # a distribution of the caller's own
    raise TypeError(f"{name}: {d!r} is not a distribution (Uniform, "
                    "LogUniform, Normal, LogNormal, Truncated, or "
                    "('uniform'|'loguniform'|'normal'|'lognormal', a, b))")


def round_significant(values: Any, digits: int) -> Any:
    """`values` (a number, array, Series or DataFrame of numbers) rounded
    to `digits` significant digits each: 1.23456789e-4 to 6 digits is
    1.23457e-4, where rounding to 6 decimal places would leave 0.000123.
    Zeros and non-finite values are left as they are."""
    if digits < 1:
        raise ValueError(f"digits {digits}: at least 1")
    if isinstance(values, pd.DataFrame):
        return values.apply(lambda c: round_significant(c, digits))
    if isinstance(values, pd.Series):
        return pd.Series(round_significant(values.to_numpy(float), digits),
                         index=values.index, name=values.name)
    a = np.asarray(values, dtype=float)
    # The decimal of that many digits, read back as its nearest double
    # (a sample is thousands of values, not a file's millions).
    out = np.array([float(f"{v:.{digits - 1}e}") if math.isfinite(v) else v
                    for v in a.ravel()], dtype=float).reshape(a.shape)
    return out if a.ndim else float(out)


def _frame(params: Mapping[str, Any], columns: Sequence[np.ndarray],
           n: int, index: Optional[Sequence[Any]],
           digits: Optional[int] = None) -> pd.DataFrame:
    if digits is not None:
        columns = [round_significant(c, digits) for c in columns]
    idx = pd.RangeIndex(n) if index is None else pd.Index(index)
    if len(idx) != n:
        raise ValueError(f"{len(idx)} labels for {n} realizations")
    idx.name = "realization"
    return pd.DataFrame(dict(zip(params, columns)), index=idx)


def latin_hypercube(params: Mapping[str, Any], n: int, seed: Seed = None,
                    index: Optional[Sequence[Any]] = None,
                    digits: Optional[int] = None) -> pd.DataFrame:
    """A Latin hypercube sample of `n` realizations: each parameter's range
    is cut into `n` intervals of equal probability, and each interval holds
    exactly one realization, the intervals of the parameters paired at
    random. `params` maps parameter paths to distributions; `seed` (an
    integer or a numpy Generator) makes the sample repeatable; `index`
    labels the rows (default 0..n-1); `digits` rounds every value to that
    many significant digits (:func:`round_significant`), so that the deck
    fields hold them exactly and the table records what ran."""
    from scipy.stats import qmc
    dists = [_distribution(k, d) for k, d in params.items()]
    if n < 1:
        raise ValueError("n must be at least 1")
    rng = np.random.default_rng(seed)
    u = qmc.LatinHypercube(d=len(dists), seed=rng).random(n) \
        if dists else np.zeros((n, 0))
    return _frame(params, [d.ppf(u[:, i]) for i, d in enumerate(dists)], n,
                  index, digits)


def random_sample(params: Mapping[str, Any], n: int, seed: Seed = None,
                  index: Optional[Sequence[Any]] = None,
                  digits: Optional[int] = None) -> pd.DataFrame:
    """A plain random sample of `n` realizations, each parameter drawn
    independently from its distribution (arguments as for
    :func:`latin_hypercube`)."""
    dists = [_distribution(k, d) for k, d in params.items()]
    if n < 1:
        raise ValueError("n must be at least 1")
    rng = np.random.default_rng(seed)
    return _frame(params, [d.draw(rng, n) for d in dists], n, index, digits)
