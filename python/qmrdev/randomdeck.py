"""Seeded random input decks for qmr, for comparing builds and for tests.

Every case is a small job: one deck, or a chain of decks run one after the
other in one folder (a flow run leaving a velocity or restart file that a
later run reads), with any auxiliary files the first run needs.  The same
seed always gives the same case, byte for byte, on every machine (only
``random.Random`` and exact decimal text are used).

The generator draws a model of each deck (:class:`Deck`, by the deck's
code names) and writes it through the package's deck objects and their
one writer (:func:`as_deck`, :func:`render`), whose spelling hook gives
every number one of the forms users type, to exercise the reader: E, e
and D exponents, a sign alone as exponent, no point for a whole number,
``100.``, a blank for zero, a number left in its field.

By default the decks are physically plausible and within the legacy
capacities: coordinates increase, lengths, storage, widths and thicknesses
are positive, porosity lies in (0, 1], retardation is at least 1, times
increase, profile steps increase within the run, nodes are not repeated
where repetition means nothing, a velocity file matches the mesh of the run
that reads it, and every number stands in its own field with at least one
blank column before it.  Almost every case runs to a normal end; a few are
made to fail in a way the program accepts as input (a non-linear step that
cannot converge, a missing restart file, a velocity file with too few
blocks); their label starts with ``expect-fail``.

With ``beyond_legacy=True`` the cases exceed at least one legacy capacity
(elements, time steps, media, prescribed-value nodes, prescribed-flux
nodes, observation nodes or profiles); their label starts with ``beyond``
and their ``legacy`` flag is False.

Command line::

    PYTHONPATH=python /usr/bin/python3 -m qmrdev.randomdeck --seed S \\
        --count N --out DIR [--beyond-legacy]

writes DIR/case-NNNNN/ (NNNNN counting from 0; case k has the seed S + k)
holding deck1.inp, deck2.inp, ... and the auxiliary files, and prints one
line per case: its folder name and label.

The module is over 500 lines because the generator draws every record of
every kind of deck in one pass whose order fixes the byte-exact output of
each seed; cut into parts, the draws would still have to stay in that
order.
"""

from __future__ import annotations

import argparse
import math
import os
import random
import sys
from dataclasses import dataclass, field
from decimal import Decimal
from typing import TYPE_CHECKING, Optional

from .common import ew as e_text

if TYPE_CHECKING:
    import qmr

# The capacities of the legacy program.
LEGACY_LIMITS = {"ne": 300, "nts": 101, "nmat": 10, "nbt": 10, "ndf": 301,
                 "nobs": 20, "ntprof": 20}

EXPECT_FAIL = "expect-fail"
BEYOND = "beyond"


# ---------------------------------------------------------------------------
# Numbers and fields


def sig(x: float, digits: int = 4) -> float:
    """``x`` rounded to ``digits`` significant decimal digits."""
    if x == 0.0:
        return 0.0
    return float(f"{x:.{digits - 1}e}")


def _decimal_parts(x: float) -> tuple[int, str, int]:
    """Sign (1 when negative), significant digits and decimal exponent of
    the shortest decimal text of ``x``: x = digits x 10**exponent."""
    d = Decimal(repr(abs(x))).normalize()
    t = d.as_tuple()
    digits = "".join(str(k) for k in t.digits)
    return (1 if x < 0 else 0), digits, int(t.exponent)


def fixed_text(x: float, point: bool = True) -> str:
    """Plain decimal text of ``x`` (``100.0``, ``0.0015``, ``-2.5``);
    without ``point`` an integral value has no decimal point."""
    neg, digits, exp = _decimal_parts(x)
    if x == 0.0:
        return "0.0" if point else "0"
    if exp >= 0:
        body = digits + "0" * exp + (".0" if point else "")
    elif -exp >= len(digits):
        body = "0." + "0" * (-exp - len(digits)) + digits
    else:
        body = digits[:exp] + "." + digits[exp:]
    return ("-" if neg else "") + body


def exp_text(x: float, letter: str = "E", plus: bool = False,
             two: bool = False) -> str:
    """Exponent form of ``x`` with one digit before the point (``1.5E-3``);
    ``letter`` "" gives the sign-only form (``1.5-3``, ``2.0+1``)."""
    if x == 0.0:
        return "0.0" + (letter or "") + ("+00" if two else "0")
    neg, digits, exp = _decimal_parts(x)
    e10 = exp + len(digits) - 1
    mant = digits[0] + "." + (digits[1:] or "0")
    if two:
        e = f"{abs(e10):02d}"
    else:
        e = str(abs(e10))
    sign = "-" if e10 < 0 else ("+" if (plus or not letter) else "")
    return ("-" if neg else "") + mant + letter + sign + e


def fits(x: float, width: int = 10) -> bool:
    """True when ``x`` can be written exactly in ``width`` - 1 columns."""
    return min(len(fixed_text(x)), len(exp_text(x))) <= width - 1


def real_field(x: float, rng: random.Random, width: int = 10) -> str:
    """A real field of ``width`` columns holding ``x`` exactly, in one of the
    forms the reader takes (plain, E/D/sign-only exponent, no point for a
    whole number, blank for zero), always with a blank first column."""
    room = width - 1
    cands: list[str] = []
    if x == 0.0:
        cands = ["0.0", "0.0", "0.", "0", ""]
    else:
        f = fixed_text(x)
        if len(f) <= room:
            cands += [f] * 6
            if float(x).is_integer() and len(fixed_text(x, False)) <= room:
                cands.append(fixed_text(x, False))
                cands.append(fixed_text(x)[:-1])  # "100."
        for letter, plus, two in (("E", False, False), ("E", True, True),
                                  ("e", False, False), ("D", False, False),
                                  ("", False, False)):
            t = exp_text(x, letter, plus, two)
            if len(t) <= room:
                cands.append(t)
    if not cands:
        raise ValueError(f"{x!r} does not fit a field of {width} columns")
    text = rng.choice(cands)
    if text and len(text) < room and rng.random() < 0.08:
        # Left in the field, with blanks after it; column 1 stays blank.
        lead = rng.randint(1, width - len(text))
        return (" " * lead + text).ljust(width)
    return text.rjust(width)


def int_field(v: int, rng: Optional[random.Random] = None,
              width: int = 5) -> str:
    """An integer field, right-justified (now and then left in the field
    with blanks after it), always with a blank first column."""
    text = str(v)
    if len(text) > width - 1:
        raise ValueError(f"{v} does not fit an integer field of {width}")
    if rng is not None and len(text) < width - 1 and rng.random() < 0.05:
        lead = rng.randint(1, width - len(text))
        return (" " * lead + text).ljust(width)
    return text.rjust(width)


# ---------------------------------------------------------------------------
# The model of one deck


@dataclass
class Deck:
    """Everything one deck says, as values; ``render`` writes it."""

    run: str                    # "F" or "T"
    col2: str = " "
    variant: str = "05"         # columns 3-4 of record 1
    listing: str = "run.lst"
    graphic: str = "run.grf"
    flux: Optional[str] = None  # flux file name (when variant asks)
    title: str = ""
    head_note: str = ""         # text after column 4 of record 1
    # counts
    ne: int = 1
    nts: int = 1
    nmat: int = 1
    nbt: int = 0
    ndf: int = 0
    nonu: int = 0
    nobs: int = 0
    ntprof: int = 0
    # option codes
    imshgn: int = 0
    iaxsym: int = 0
    istep: int = 1
    ikall: int = 0
    ioread: int = 0
    iowrit: int = 0
    iodarc: int = 0
    itsgn: int = 0
    i2dwt: int = 0
    isstat: int = 0
    ipcode: int = 0
    # auxiliary file names (each with the note record after it)
    restart_in: str = ""
    restart_out: str = ""
    velocity: str = ""
    # mesh: manual coordinates, or (first, last, factor), or (first, last)
    coords: list[float] = field(default_factory=list)
    mesh_args: tuple = ()
    # material properties
    lmat: list[int] = field(default_factory=list)
    media: list[list[float]] = field(default_factory=list)
    # time steps: manual (tima + times) or generated (tima, delta1, ntslog)
    times: list[float] = field(default_factory=list)
    time_args: tuple = ()
    pvals: list[tuple] = field(default_factory=list)   # (node, dof, value)
    pflux: list[tuple] = field(default_factory=list)   # (node, dof, q...)
    hdeflt: float = 0.0
    nonuni: list[tuple] = field(default_factory=list)  # (node, value)
    criteria: tuple = ()                               # nitmax, toler, relax
    default_vel: tuple = ()                            # darcy, thickness
    obs: list[int] = field(default_factory=list)
    prof: list[int] = field(default_factory=list)
    notes: list[str] = field(default_factory=lambda: ["", "", ""])

    @property
    def np(self) -> int:
        return self.ne + 1


# Integer fields written plain (no draw of the generator): the counts, the
# option codes and the steps per decade.
_PLAIN_INTS = {"ne", "nts", "nmat", "nbt", "ndf", "nonu", "nobs", "ntprof",
               "imshgn", "iaxsym", "istep", "ikall", "ioread", "iowrit",
               "iodarc", "itsgn", "i2dwt", "isstat", "ipcode", "ntslog"}


def as_deck(d: Deck) -> "qmr.Deck":
    """The deck object of the package that holds what ``d`` says (the
    note after column 4 of record 1 aside, which no deck object keeps)."""
    import qmr
    q = qmr.FlowDeck() if d.run == "F" else qmr.TransportDeck()
    plain = {"column2": d.col2, "variant": d.variant, "listing": d.listing,
             "graphic": d.graphic, "flux_file": d.flux, "title": d.title,
             "elements": d.ne, "steps": d.nts, "mesh_code": d.imshgn,
             "radial": d.iaxsym, "print_interval": d.istep,
             "time_scheme": d.ikall, "restart_read": d.ioread,
             "restart_write": d.iowrit, "velocity_code": d.iodarc,
             "time_generation": d.itsgn, "water_table": d.i2dwt,
             "steady_state": d.isstat, "property_input": d.ipcode,
             "restart_in": d.restart_in, "restart_in_note": d.notes[0],
             "restart_out": d.restart_out, "restart_out_note": d.notes[1],
             "velocity_file": d.velocity, "velocity_note": d.notes[2],
             "initial_value": d.hdeflt,
             "observation_nodes": list(d.obs), "profile_steps": list(d.prof)}
    for name, value in plain.items():
        setattr(q, name, value)
    if d.imshgn in (1, 2, 4):
        q.first_coordinate, q.last_coordinate, q.grading = d.mesh_args
    elif d.imshgn == 3:
        q.first_coordinate, q.last_coordinate = d.mesh_args[:2]
    else:
        q.coordinates = list(d.coords)
    if d.ipcode == 0:
        q.medium_numbers = list(d.lmat)
    else:
        q.zone_starts = list(d.lmat)
    medium = qmr.FlowMedium if d.run == "F" else qmr.TransportMedium
    q.media = [medium(*m[:8 if d.run == "T" else 9]) for m in d.media]
    if d.isstat != 1 and d.itsgn == 0:
        q.initial_time, q.times = d.times[0], list(d.times[1:])
    elif d.isstat != 1:
        q.initial_time, q.first_step, q.steps_per_decade = d.time_args
    q.prescribed_values = [qmr.PrescribedValue(*p) for p in d.pvals]
    flux = qmr.FlowFlux if d.run == "F" else qmr.TransportFlux
    q.prescribed_fluxes = [flux(*p) for p in d.pflux]
    q.initial_values = [qmr.InitialValue(*p) for p in d.nonuni]
    if d.i2dwt == 1:
        q.max_iterations, q.tolerance, q.relaxation = d.criteria
    if d.run == "T" and d.iodarc <= 0:
        q.default_velocity, q.default_thickness = d.default_vel
    return q


def render(d: Deck, rng: random.Random) -> str:
    """The deck text of ``d`` (LF line ends), written by the package's deck
    writer with the generator's spellings: every number in one of the forms
    the program reads (plain, an exponent with E, e or D or a sign alone,
    no point for a whole number, ``100.``, blank for zero), now and then
    left in its field, always with a blank first column."""
    def spell(f: "qmr.deck.schema.Field", v: object) -> str:
        if f.kind == "F":
            return real_field(float(v), rng, f.width)  # type: ignore[arg-type]
        if f.code in _PLAIN_INTS:
            return int_field(int(v), width=f.width)  # type: ignore[arg-type]
        return int_field(int(v), rng, f.width)  # type: ignore[arg-type]

    q = as_deck(d)
    lines = q.to_bytes(spell=spell).decode("latin-1").split("\n")
    if d.head_note:
        lines[0] = lines[0].ljust(4) + d.head_note.rstrip()
    # A transport medium's columns 81-90, which the program reads and no
    # deck object keeps.
    first = 0
    for _, rec, rows in q._rows():
        if rec.key == "transport_medium":
            for k, m in enumerate(d.media):
                if len(m) > 8:
                    i = first + k
                    lines[i] = lines[i][:80].ljust(80) + real_field(m[8], rng)
            break
        first += len(rows)
    return "\n".join(line.rstrip() for line in lines)


# ---------------------------------------------------------------------------
# A site: what the decks of one chain share


@dataclass
class Site:
    ne: int
    radial: int                  # iaxsym
    imshgn: int
    coords: list[float]          # node coordinates (manual: as typed)
    mesh_args: tuple
    nmat: int
    ipcode: int
    lmat: list[int]
    widths: list[float]          # per medium, as typed (0 = 1)
    isstat: int
    nts: int
    itsgn: int
    times: list[float]
    time_args: tuple
    head: float                  # reference head
    length: float                # domain length

    @property
    def np(self) -> int:
        return self.ne + 1


@dataclass
class Case:
    """One case: its label, the decks (values and texts), auxiliary files
    and whether it stays within the legacy capacities."""

    label: str
    decks: list[Deck]
    texts: list[str]
    files: dict[str, str]
    legacy: bool

    def as_dict(self) -> dict:
        return {"label": self.label, "decks": list(self.texts),
                "files": dict(self.files), "legacy": self.legacy}


class _Gen:
    """Draws one case from a seeded generator."""

    def __init__(self, seed: int, beyond: bool) -> None:
        self.rng = random.Random(seed)
        self.beyond = beyond
        self.tags: list[str] = []
        self.big: set[str] = set()

    # -- small helpers
    def chance(self, p: float) -> bool:
        return self.rng.random() < p

    def logu(self, lo: float, hi: float, digits: int = 3) -> float:
        """Log-uniform in [lo, hi], rounded."""
        v = math.exp(self.rng.uniform(math.log(lo), math.log(hi)))
        return sig(v, digits)

    def uni(self, lo: float, hi: float, digits: int = 3) -> float:
        return sig(self.rng.uniform(lo, hi), digits)

    def pick(self, weighted: list[tuple]) -> object:
        total = sum(w for _, w in weighted)
        x = self.rng.uniform(0, total)
        for v, w in weighted:
            x -= w
            if x <= 0:
                return v
        return weighted[-1][0]

    # -- sizes
    def sizes(self) -> dict:
        g = self.rng
        if self.beyond:
            keys = ["ne", "nts", "nmat", "nbt", "ndf", "nobs", "ntprof"]
            weights = [3, 3, 2, 2, 1, 2, 2]
            while not self.big:
                for k, w in zip(keys, weights):
                    if g.random() < w / 12:
                        self.big.add(k)
        ne = self.pick([(g.randint(1, 8), 20), (g.randint(9, 25), 40),
                        (g.randint(26, 60), 28), (g.randint(61, 150), 8),
                        (g.randint(151, 299), 2), (300, 2)])
        nts = self.pick([(g.randint(1, 10), 40), (g.randint(11, 30), 40),
                         (g.randint(31, 100), 14), (101, 3)])
        if ne * nts > 8000:
            nts = max(1, 8000 // ne)
        nmat = self.pick([(1, 35), (2, 30), (3, 15), (g.randint(4, 9), 17),
                          (10, 3)])
        if "ne" in self.big:
            ne = self.pick([(g.randint(301, 800), 6),
                            (g.randint(801, 3000), 3),
                            (g.randint(3001, 5000), 1)])
            nts = max(1, min(nts, 20000 // ne))
        if "nts" in self.big:
            nts = g.randint(102, 600)
            ne = min(ne, max(2, 12000 // nts))
        if "nmat" in self.big:
            nmat = g.randint(11, 40)
        need = 2
        for k in ("nbt", "nobs", "ndf"):
            if k in self.big:
                need = max(need, 45)
        ne = max(ne, need)
        if "ntprof" in self.big:
            nts = max(nts, g.randint(41, 120))
            ne = min(ne, max(need, 12000 // nts))
        return {"ne": ne, "nts": nts, "nmat": nmat}

    # -- site
    def site(self, *, radial: Optional[int] = None,
             steady: Optional[bool] = None,
             sizes: Optional[dict] = None) -> Site:
        g = self.rng
        sz = sizes or self.sizes()
        ne = sz["ne"]
        np_ = ne + 1
        if radial is None:
            radial = self.pick([(0, 80), (1, 18), (2, 2)])
        # mesh
        if radial:
            kind = self.pick([("log", 60), ("manual", 25), ("graded", 15)])
        else:
            kind = self.pick([("manual", 35), ("graded", 45), ("log", 20)])
        if radial or kind == "log":
            x1 = self.logu(0.05, 20.0, 2)
            xn = sig(x1 * self.logu(20.0, 1e4, 2), 3)
        else:
            x1 = self.pick([(0.0, 60), (self.uni(-500, 5000, 3), 40)])
            xn = sig(x1 + self.logu(5.0, 2e4, 3), 5)
        if kind == "manual":
            imshgn = self.pick([(0, 85), (5, 5), (-1, 5), (7, 5)])
            coords = self._manual_coords(x1, xn, ne)
            args: tuple = ()
        elif kind == "graded":
            imshgn = self.pick([(1, 45), (2, 45), (4, 10)])
            factor = self.pick([(1.0, 30), (self.uni(0.5, 3.0, 2), 70)])
            args = (x1, xn, factor)
            coords = self._graded_coords(x1, xn, factor, ne, imshgn)
        else:
            imshgn = 3
            args = (x1, xn)
            coords = [x1 * (xn / x1) ** (k / ne) for k in range(np_)]
        length = coords[-1] - coords[0]
        # media layout
        nmat = sz["nmat"]
        ipcode = self.pick([(0, 30), (1, 45), (2, 25)])
        if ipcode == 1 and nmat > ne:
            ipcode = 0
        if ipcode == 2 and (nmat < 2 or nmat > np_):
            ipcode = 0 if nmat > np_ or nmat == 1 else 1
            if ipcode == 1 and nmat > ne:
                ipcode = 0
        if ipcode == 0:
            lmat = [g.randint(1, nmat) for _ in range(ne)]
            if nmat > 1 and self.chance(0.6):  # contiguous layers
                cuts = sorted(g.sample(range(1, ne), min(nmat - 1, ne - 1))) \
                    if ne > 1 else []
                lmat = []
                prev = 0
                for m, c in enumerate(cuts + [ne], start=1):
                    lmat += [m] * (c - prev)
                    prev = c
        elif ipcode == 1:
            lmat = [1] + sorted(g.sample(range(2, ne + 1), nmat - 1))
        else:
            inner = sorted(g.sample(range(2, np_), nmat - 2))
            lmat = [1] + inner + [np_]
        if radial:
            widths = [0.0 if self.chance(0.8) else 1.0 for _ in range(nmat)]
        else:
            w0 = self.pick([(0.0, 25), (self.logu(1.0, 3000.0, 3), 75)])
            widths = [w0 if w0 == 0.0 or self.chance(0.5)
                      else self.logu(1.0, 3000.0, 3) for _ in range(nmat)]
        # time steps
        if steady is None:
            steady = self.chance(0.12) and not (self.big & {"nts", "ntprof"})
        isstat = 1 if steady else self.pick([(0, 90), (2, 10)])
        nts = sz["nts"]
        itsgn = 0
        times: list[float] = []
        targs: tuple = ()
        if not steady:
            scheme = self.pick([("manual", 30), ("uniform", 35), ("log", 35)])
            tima = self.pick([(0.0, 70), (self.logu(0.1, 5000.0, 3), 30)])
            if scheme == "manual":
                times = self._manual_times(tima, nts)
            else:
                itsgn = self.pick([(1, 85), (2, 10), (-1, 5)])
                if scheme == "uniform":
                    targs = (tima, self.logu(0.01, 100.0, 3),
                             self.pick([(0, 80), (-1, 10), (-3, 10)]))
                else:
                    # at most about six factors of ten over the run
                    ntslog = self.pick([(g.randint(1, 5), 40),
                                        (g.randint(6, 20), 60)])
                    ntslog = max(ntslog, -(-nts // 6))
                    targs = (tima, self.logu(1e-4, 10.0, 3), ntslog)
        head = self.uni(10.0, 200.0, 4)
        return Site(ne=ne, radial=radial, imshgn=imshgn, coords=coords,
                    mesh_args=args, nmat=nmat, ipcode=ipcode, lmat=lmat,
                    widths=widths, isstat=isstat, nts=nts, itsgn=itsgn,
                    times=times, time_args=targs, head=head,
                    length=length if length > 0 else 1.0)

    def _manual_coords(self, x1: float, xn: float, ne: int) -> list[float]:
        """Increasing coordinates, each exactly writable, from x1 on."""
        g = self.rng
        span = xn - x1
        w = [g.uniform(0.3, 3.0) for _ in range(ne)]
        tot = sum(w)
        coords = [x1]
        pos = x1
        for k in range(ne):
            pos += span * w[k] / tot
            digits = 6
            while True:
                c = sig(pos, digits)
                if c > coords[-1] and fits(c):
                    break
                digits += 1
                if digits > 9:
                    c = coords[-1] + abs(coords[-1]) * 1e-3 + 1.0
                    c = sig(c, 6)
                    break
            coords.append(c)
        return coords

    @staticmethod
    def _graded_coords(x1: float, xn: float, f: float, ne: int,
                       code: int) -> list[float]:
        d = xn - x1
        lens = [d * ((k / ne) ** f - ((k - 1) / ne) ** f)
                for k in range(1, ne + 1)]
        if code == 2:
            lens.reverse()
        c = [x1]
        for v in lens:
            c.append(c[-1] + v)
        return c

    def _manual_times(self, tima: float, nts: int) -> list[float]:
        g = self.rng
        dt0 = self.logu(0.01, 50.0, 3)
        growth = self.pick([(1.0, 50), (g.uniform(1.05, 1.6), 50)])
        out = [tima]
        t = tima
        for k in range(nts):
            t = t + dt0 * growth ** k * g.uniform(0.7, 1.3)
            digits = 5
            while True:
                v = sig(t, digits)
                if v > out[-1] and fits(v):
                    break
                digits += 1
                if digits > 9:
                    raise ValueError("times too close")
            out.append(v)
            t = v
        return out

    # -- shared pieces of a deck
    def names(self, d: Deck, k: int, flux: Optional[bool] = None) -> None:
        g = self.rng
        stem = self.pick([(f"run{k}", 50), (f"RUN{k}", 30),
                          (f"C:\\QMR\\RUN{k}", 20)])
        ext = self.pick([(("lst", "grf", "flx"), 60),
                         (("LST", "GRF", "FLX"), 40)])
        d.listing = f"{stem}.{ext[0]}"
        d.graphic = f"{stem}.{ext[1]}"
        if flux is None:
            flux = self.chance(0.5)
        if flux:
            d.variant = self.pick([("", 40), ("  ", 10), ("01", 15),
                                   ("ow", 10), ("X1", 5), ("10", 20)])
            d.flux = f"{stem}.{ext[2]}"
        else:
            d.variant = self.pick([("05", 50), ("OW", 30), ("AN", 20)])
            d.flux = None
        d.col2 = self.pick([(" ", 85), ("-", 5), ("1", 5), ("X", 5)])
        if d.variant == "" and d.col2 != " ":
            d.variant = "  "
        if self.chance(0.1):
            d.head_note = self.pick([(" generated deck", 1),
                                     ("  job " + str(g.randint(1, 999)), 1)])
        d.title = self.pick([
            (f"Random {'flow' if d.run == 'F' else 'transport'} deck {k}", 4),
            ("", 1),
            ("Valley aquifer, metres and days - generated test deck", 2)])

    def apply_site(self, d: Deck, s: Site) -> None:
        d.ne = s.ne
        d.nmat = s.nmat
        d.imshgn = s.imshgn
        d.iaxsym = s.radial
        d.ipcode = s.ipcode
        d.lmat = list(s.lmat)
        d.coords = list(s.coords) if s.imshgn not in (1, 2, 3, 4) else []
        d.mesh_args = s.mesh_args
        d.isstat = s.isstat
        d.nts = s.nts if s.isstat != 1 else self.pick(
            [(1, 60), (0, 20), (s.nts, 20)])
        d.itsgn = s.itsgn
        d.times = list(s.times)
        d.time_args = s.time_args
        d.ikall = self.pick([(0, 60), (1, 35), (2, 5)])

    def steps(self, d: Deck) -> int:
        """Number of steps the run makes."""
        return 1 if d.isstat == 1 else d.nts

    def observe(self, d: Deck) -> None:
        g = self.rng
        np_ = d.np
        cap = 40 if "nobs" in self.big else 20
        n = min(np_, self.pick([(0, 10), (g.randint(1, 5), 60),
                                (g.randint(6, cap), 30)]))
        if "nobs" in self.big:
            n = min(np_, g.randint(21, 40))
        d.obs = g.sample(range(1, np_ + 1), n)
        if self.chance(0.6):
            d.obs.sort()
        d.nobs = len(d.obs)
        steps = self.steps(d)
        cap = 40 if "ntprof" in self.big else 20
        n = min(steps, self.pick([(0, 25), (g.randint(1, 4), 55),
                                  (g.randint(5, cap), 20)]))
        if "ntprof" in self.big:
            n = min(steps, g.randint(21, 40))
        d.prof = sorted(g.sample(range(1, steps + 1), n)) if n > 0 else []
        d.ntprof = len(d.prof)

    def pick_nodes(self, np_: int, n: int, ends: bool = True,
                   both_ends: bool = False) -> list[int]:
        g = self.rng
        pool = list(range(1, np_ + 1))
        first: list[int] = []
        if both_ends:
            first = [1, np_] if np_ > 1 else [1]
            n = max(n, len(first))
        elif ends and n > 0:
            first = [self.pick([(1, 50), (np_, 30), (g.randint(1, np_), 20)])]
            if n > 1 and np_ > 1 and self.chance(0.7):
                other = np_ if first[0] != np_ else 1
                first.append(other)
        rest = [p for p in pool if p not in first]
        more = g.sample(rest, min(len(rest), n - len(first)))
        return (first + more)[:n]

    def nonuniform(self, d: Deck, base: float, spread: float) -> None:
        g = self.rng
        n = self.pick([(0, 75), (g.randint(1, 3), 20),
                       (g.randint(4, max(4, min(12, d.np))), 5)])
        n = min(n, d.np)
        nodes = g.sample(range(1, d.np + 1), n)
        d.nonuni = [(p, self.uni(base - spread, base + spread, 4))
                    for p in nodes]
        d.nonu = len(d.nonuni)

    def nbt_count(self, np_: int, lo: int = 0) -> int:
        g = self.rng
        if "nbt" in self.big:
            return min(np_, g.randint(11, 40))
        n = self.pick([(0, 8), (1, 40), (2, 40), (g.randint(3, 10), 12)])
        return max(lo, min(n, np_))

    # -- flow deck
    def flow(self, s: Site, k: int, *, wt: Optional[bool] = None,
             cap: Optional[bool] = None,
             media_of: Optional[Deck] = None) -> Deck:
        g = self.rng
        d = Deck(run="F")
        self.names(d, k)
        self.apply_site(d, s)
        d.istep = self.pick([(1, 70), (g.randint(2, 5), 30)])
        if wt is None:
            wt = self.chance(0.25)
        if cap is None:
            cap = self.chance(0.12)
        d.i2dwt = 1 if wt else 0
        L = max(s.length, 1e-3)
        h0 = s.head
        media = []
        for m in range(s.nmat):
            K = self.logu(0.05, 300.0)
            # thickness, or saturated depth above the base
            b = self.uni(8.0 if wt else 3.0, 60.0, 3)
            if wt:
                bott = sig(h0 - b, 4)
                ss = self.pick([(0.0, 60), (self.logu(1e-6, 1e-4, 2), 40)])
                sy = self.uni(0.02, 0.3, 2)
            else:
                bott = b
                ss = self.pick([(0.0, 30), (self.logu(1e-6, 1e-4, 2), 70)])
                sy = self.pick([(0.0, 40), (self.logu(1e-5, 5e-3, 2), 60)])
            T = K * b
            # recharge of at most 5 mm/d raising the heads by a metre or so
            rech = self.pick([(0.0, 55),
                              (sig(min(g.uniform(0.05, 1.0) * 4 * T / L**2,
                                       self.logu(1e-5, 5e-3)), 2), 45)])
            if rech > 0 and not fits(rech):
                rech = 0.0
            leak = self.pick([(0.0, 55), (self.logu(1e-5, 1e-2, 2), 45)])
            if cap and m == 0 and leak == 0.0:
                leak = self.logu(1e-4, 1e-2, 2)
            # near the aquifer's heads even without leakage: interpolated
            # media mix it with a neighbour's leakage coefficient
            hfix = sig(h0 + g.uniform(-4.0, 4.0), 4) if leak or \
                s.ipcode == 2 else self.pick([(0.0, 60), (sig(h0, 4), 40)])
            qmax = 0.0
            if cap and leak > 0:
                # A cap that clearly binds: the aquitard head stands well
                # above the aquifer's (a cap near the point where it starts
                # to act can make the iteration swing without converging).
                hfix = sig(h0 + g.uniform(3.0, 6.0), 4)
                qmax = sig(leak * g.uniform(0.1, 1.0), 2)
            media.append([K, ss, sy, bott, rech, leak, hfix,
                          s.widths[m], qmax])
        if media_of is not None:  # the same aquifer as an earlier run
            media = [list(m) for m in media_of.media]
        d.media = media
        if any(m[8] > 0 for m in media) and d.ikall == 0:
            # The capped leakage is iterated with the heads of the step's
            # end and of its start; with the centred scheme this swings
            # without converging on many a deck: fully implicit steps.
            d.ikall = 1
        # a step must be solvable: a prescribed head, or storage, or leakage
        nbt = self.nbt_count(d.np)
        stor = all(m[1] > 0 or m[2] > 0 for m in media) and d.isstat != 1
        leaky = all(m[5] > 0 for m in media)
        capped = any(m[8] > 0 for m in media)
        if nbt == 0 and (wt or capped or not (stor or leaky)):
            nbt = 1  # (a capped leakage cannot balance every pumping)
        nodes = self.pick_nodes(d.np, nbt)
        d.pvals = [(p, self.pick([(1, 85), (0, 10), (2, 5)]),
                    sig(h0 + self.rng.uniform(-3.0, 3.0), 4)) for p in nodes]
        d.nbt = len(d.pvals)
        # prescribed fluxes: wells and injections, a node may repeat
        Tw = min(m[0] * (m[3] if not wt else h0 - m[3]) *
                 (m[7] or 1.0) for m in media)
        ndf = self.pick([(0, 45), (1, 35), (g.randint(2, 4), 20)])
        if "ndf" in self.big:
            ndf = g.randint(302, 400)
        d.pflux = []
        for _ in range(ndf):
            p = g.randint(1, d.np)
            # drawdowns of a metre or so
            scale = Tw / L if not s.radial else Tw / 10.0
            q = sig(-scale * g.uniform(0.05, 1.0), 3)
            if self.chance(0.25):
                q = -q
            if not fits(q) or q == 0.0:
                q = -1.0
            d.pflux.append((p, self.pick([(1, 80), (0, 15), (3, 5)]), q))
        d.ndf = len(d.pflux)
        d.hdeflt = sig(h0 + self.rng.uniform(-2.0, 2.0), 4)
        self.nonuniform(d, h0, 2.0)
        if wt:
            d.criteria = (self.pick([(g.randint(50, 99), 60), (100, 40)]),
                          self.pick([(self.logu(1e-5, 1e-2, 1), 70),
                                     (0.0, 10), (1e-3, 20)]),
                          self.pick([(1.0, 20), (self.uni(0.6, 0.95, 2), 80)]))
        self.observe(d)
        d.notes = [self.pick([("restart file of the previous run", 1),
                              ("", 1)]),
                   self.pick([("restart file for the next run", 1), ("", 1)]),
                   self.pick([("velocity file", 1),
                              ("velocities for the transport run", 1),
                              ("", 1)])]
        return d

    # -- transport deck
    def transport(self, s: Site, k: int, *, default_velocity: bool) -> Deck:
        g = self.rng
        d = Deck(run="T")
        self.names(d, k)
        self.apply_site(d, s)
        d.istep = self.pick([(1, 60), (0, 20), (g.randint(2, 5), 20)])
        media = []
        for m in range(s.nmat):
            alpha = self.logu(0.1, 50.0, 2)
            dif = self.pick([(0.0, 40), (self.logu(1e-5, 0.1, 2), 60)])
            if d.isstat == 1 and dif == 0.0:
                dif = self.logu(1e-4, 0.1, 2)
            por = self.pick([(self.uni(0.05, 0.45, 2), 95), (1.0, 5)])
            ret = self.pick([(1.0, 55), (self.uni(1.0, 5.0, 3), 45)])
            dec = self.pick([(0.0, 60), (self.logu(1e-5, 1e-2, 2), 40)])
            crech = self.pick([(0.0, 60), (self.uni(0.0, 100.0, 3), 40)])
            cleak = self.pick([(0.0, 60), (self.uni(0.0, 100.0, 3), 40)])
            rec = [alpha, dif, por, ret, dec, crech, cleak, s.widths[m]]
            if self.chance(0.05):
                rec.append(self.uni(0.0, 9.0, 2))  # columns 81-90: ignored
            media.append(rec)
        d.media = media
        c0 = self.pick([(0.0, 70), (self.uni(0.0, 10.0, 3), 30)])
        nbt = self.nbt_count(d.np)
        # A steady plume needs its concentration held where water may
        # enter: at both ends.
        nodes = self.pick_nodes(d.np, nbt, both_ends=d.isstat == 1)
        d.pvals = [(p, self.pick([(1, 85), (0, 15)]),
                    self.pick([(self.uni(1.0, 100.0, 3), 80), (0.0, 20)]))
                   for p in nodes]
        d.nbt = len(d.pvals)
        ndf = self.pick([(0, 60), (1, 30), (g.randint(2, 4), 10)])
        if "ndf" in self.big:
            ndf = g.randint(302, 400)
        d.pflux = []
        for _ in range(ndf):
            p = g.randint(1, d.np)
            qc = self.pick([(0.0, 50), (self.logu(0.01, 100.0, 3), 50)])
            qw = self.pick([(0.0, 40), (self.logu(0.01, 50.0, 3), 60)])
            if self.chance(0.04):
                qc = -self.logu(0.01, 10.0, 2)  # legacy warns in the listing
            d.pflux.append((p, self.pick([(1, 80), (0, 20)]), qc, qw))
        d.ndf = len(d.pflux)
        d.hdeflt = c0
        self.nonuniform(d, c0 + 5.0, 5.0)
        if self.chance(0.08):
            d.i2dwt = 1
            d.criteria = (g.randint(2, 10), self.logu(1e-6, 1e-2, 1), 1.0)
        if default_velocity:
            d.iodarc = self.pick([(0, 85), (-1, 15)])
            d.default_vel = (self.logu(1e-3, 2.0, 3), self.uni(2.0, 50.0, 3))
            if self.chance(0.1):
                d.default_vel = (-d.default_vel[0], d.default_vel[1])
        self.observe(d)
        d.notes = ["restart file", "restart file to write",
                   self.pick([("velocity file of the flow run", 1), ("", 1)])]
        return d

    # -- auxiliary files made here
    def restart_text(self, coords: list[float], base: float,
                     spread: float) -> str:
        lines = []
        for p, x in enumerate(coords, start=1):
            v = self.uni(base - spread, base + spread, 5)
            lines.append(f"{p:5d}" + e_text(x, 15, 7) + e_text(v, 15, 7))
        return "".join(line + "\n" for line in lines)

    def velocity_text(self, s: Site, blocks: int) -> str:
        g = self.rng
        lines = []
        q = self.logu(1e-3, 1.0, 3) * (1 if self.chance(0.85) else -1)
        th = self.uni(3.0, 40.0, 3)
        wid = [(s.widths[m] or 1.0) for m in range(s.nmat)]
        for _ in range(blocks):
            for ie in range(1, s.ne + 1):
                if s.ipcode == 0:
                    w = wid[s.lmat[ie - 1] - 1]
                else:  # the zone the element lies in (near enough)
                    w = wid[max(m for m in range(s.nmat)
                                if s.lmat[m] <= ie)]
                v = q * w * g.uniform(0.8, 1.2)
                leak = self.pick([(0.0, 60), (g.uniform(-1e-3, 1e-2), 40)])
                rech = self.pick([(0.0, 60), (g.uniform(0.0, 1e-3), 40)])
                lines.append(f"{ie:5d}" + e_text(v, 15, 7) +
                             e_text(th * g.uniform(0.9, 1.1), 15, 7) +
                             e_text(leak, 15, 7) + e_text(rech, 15, 7))
            q *= g.uniform(0.9, 1.1)
        return "".join(line + "\n" for line in lines)

    # -- cases
    def case(self) -> Case:
        for _ in range(100):
            c = self._case()
            if not self.beyond or not c.legacy:
                return c
            self.big = set()  # the counts came out small: draw again
        raise AssertionError("no beyond-legacy case drawn")

    def _case(self) -> Case:
        kinds = [("flow", 33), ("transport-default", 15),
                 ("transport-velfile", 6), ("flow>transport", 20),
                 ("flow>flow-restart", 8), ("flow>transport>transport", 5),
                 ("transport>transport-restart", 4),
                 ("transport-restartfile", 3), ("flow-restartfile", 2),
                 ("fail", 4)]
        if self.beyond:
            kinds = [("flow", 40), ("transport-default", 25),
                     ("flow>transport", 35)]
        kind = self.pick(kinds)
        decks: list[Deck] = []
        files: dict[str, str] = {}
        g = self.rng
        vel = self.pick([("chain.vel", 40), ("VEL.DAT", 30),
                         ("C:\\QMR\\DARCY.VEL", 15), ("darcy", 15)])
        rst = self.pick([("chain.rst", 50), ("RESTART.DAT", 35),
                         ("C:\\QMR\\HEADS.RST", 15)])
        if kind == "flow":
            s = self.site()
            d = self.flow(s, 1)
            if d.isstat != 1 and not self.beyond and self.chance(0.02):
                d.nts = 0  # a run without time steps
                d.times = d.times[:1]
                self._fix_prof(d)
            if self.chance(0.25):
                d.iodarc = self.pick([(1, 40), (2, 40), (3, 20)])
                d.velocity = vel
            if self.chance(0.2):
                d.iowrit = 1
                d.restart_out = rst
            decks = [d]
            label = "flow " + self._flow_label(d)
        elif kind == "transport-default":
            s = self.site()
            decks = [self.transport(s, 1, default_velocity=True)]
            label = "transport default velocity " + self._site_label(s)
            if self.chance(0.15):
                decks[0].iowrit = 1
                decks[0].restart_out = rst
        elif kind == "transport-velfile":
            s = self.site()
            d = self.transport(s, 1, default_velocity=False)
            d.iodarc = self.pick([(1, 50), (2, 50)])
            d.velocity = vel
            blocks = self.steps(d) if d.iodarc == 2 else g.randint(1, 2)
            files[self._host(vel)] = self.velocity_text(s, blocks)
            decks = [d]
            label = f"transport velocity file code {d.iodarc} " + \
                self._site_label(s)
        elif kind == "flow>transport":
            s = self.site()
            f = self.flow(s, 1)
            f.iodarc = self.pick([(1, 40), (2, 50), (3, 10)])
            f.velocity = vel
            t = self.transport(s, 2, default_velocity=False)
            t.iodarc = 2 if f.iodarc == 2 and self.chance(0.8) else 1
            t.velocity = vel
            if t.iodarc == 2:
                t.nts = min(t.nts, f.nts) if t.isstat != 1 else t.nts
                if t.itsgn == 0 and t.isstat != 1:
                    t.times = t.times[:t.nts + 1]
                    self._fix_prof(t)
            else:
                self._retime(t)
            decks = [f, t]
            label = f"flow>transport velocity code {f.iodarc}/{t.iodarc} " + \
                self._flow_label(f)
        elif kind == "flow>flow-restart":
            s = self.site()
            f1 = self.flow(s, 1)
            f1.iowrit = 1
            f1.restart_out = rst
            f2 = self.flow(s, 2, wt=bool(f1.i2dwt), media_of=f1)
            self._retime(f2)
            f2.ioread = 1
            f2.restart_in = rst
            if self.chance(0.4):
                f2.iowrit = 1
                f2.restart_out = rst  # read at the start, replaced at the end
            decks = [f1, f2]
            label = "flow>flow restart " + self._flow_label(f1)
        elif kind == "flow>transport>transport":
            s = self.site()
            f = self.flow(s, 1)
            f.iodarc = 1
            f.velocity = vel
            t1 = self.transport(s, 2, default_velocity=False)
            t1.iodarc = 1
            t1.velocity = vel
            t1.iowrit = 1
            t1.restart_out = rst
            self._retime(t1)
            t2 = self.transport(s, 3, default_velocity=False)
            t2.iodarc = 1
            t2.velocity = vel
            t2.ioread = 1
            t2.restart_in = rst
            self._retime(t2)
            decks = [f, t1, t2]
            label = "flow>transport>transport velocity+restart " + \
                self._flow_label(f)
        elif kind == "transport>transport-restart":
            s = self.site()
            t1 = self.transport(s, 1, default_velocity=True)
            t1.iowrit = 1
            t1.restart_out = rst
            t2 = self.transport(s, 2, default_velocity=True)
            self._retime(t2)
            t2.ioread = 1
            t2.restart_in = rst
            decks = [t1, t2]
            label = "transport>transport restart " + self._site_label(s)
        elif kind == "transport-restartfile":
            s = self.site()
            t = self.transport(s, 1, default_velocity=True)
            t.ioread = 1
            t.restart_in = rst
            files[self._host(rst)] = self.restart_text(s.coords, 20.0, 20.0)
            decks = [t]
            label = "transport restart file " + self._site_label(s)
        elif kind == "flow-restartfile":
            s = self.site()
            f = self.flow(s, 1)
            f.ioread = 1
            f.restart_in = rst
            files[self._host(rst)] = self.restart_text(s.coords, s.head, 1.0)
            decks = [f]
            label = "flow restart file " + self._flow_label(f)
        else:
            decks, files, label = self._failing(vel, rst)
        self._unique_names(decks)
        legacy = all(self._within(d) for d in decks)
        if self.beyond:
            over = sorted({k for d in decks for k, lim in LEGACY_LIMITS.items()
                           if getattr(d, k) > lim})
            label = f"{BEYOND} ({','.join(over)}) " + label
        texts = [render(d, self.rng) for d in decks]
        return Case(label=label, decks=decks, texts=texts, files=files,
                    legacy=legacy)

    def _failing(self, vel: str, rst: str) -> tuple:
        g = self.rng
        why = self.pick([("nonconvergence", 40), ("restart-missing", 25),
                         ("velocity-short", 25),
                         ("transport-nonconvergence", 10)])
        files: dict[str, str] = {}
        if why == "nonconvergence":
            s = self.site(steady=False)
            d = self.flow(s, 1, wt=True)
            d.criteria = (1, 1e-3, 1.0)
            d.nbt = max(d.nbt, 1)
            if not d.pvals:
                d.pvals = [(1, 1, 0.0)]
            node, dof, _ = d.pvals[0]
            d.pvals[0] = (node, dof, sig(d.hdeflt + 3.0, 4))
            d.nonuni = [p for p in d.nonuni if p[0] != node]
            d.nonu = len(d.nonuni)
            decks = [d]
        elif why == "restart-missing":
            s = self.site()
            d = self.flow(s, 1) if self.chance(0.5) else \
                self.transport(s, 1, default_velocity=True)
            d.ioread = 1
            d.restart_in = rst
            decks = [d]
        elif why == "velocity-short":
            s = self.site(steady=False)
            while s.nts < 2:
                s = self.site(steady=False)
            d = self.transport(s, 1, default_velocity=False)
            d.iodarc = 2
            d.velocity = vel
            files[self._host(vel)] = self.velocity_text(
                s, g.randint(0, d.nts - 1))
            decks = [d]
        else:
            s = self.site()
            d = self.transport(s, 1, default_velocity=True)
            d.i2dwt = 1
            d.criteria = (g.randint(1, 5), 0.0, 1.0)
            decks = [d]
        return decks, files, f"{EXPECT_FAIL} {why}"

    def _retime(self, d: Deck) -> None:
        """New time steps (same count and scheme family) for a later run."""
        s2 = self.site(sizes={"ne": d.ne, "nts": d.nts, "nmat": d.nmat},
                       steady=d.isstat == 1)
        d.isstat = s2.isstat
        d.itsgn = s2.itsgn
        d.times = s2.times
        d.time_args = s2.time_args
        self._fix_prof(d)

    def _fix_prof(self, d: Deck) -> None:
        steps = self.steps(d)
        d.prof = [p for p in d.prof if p <= steps]
        d.ntprof = len(d.prof)

    def _unique_names(self, decks: list[Deck]) -> None:
        """Output names of the runs of a chain distinct from each other and
        from the restart and velocity files, whatever their letter case."""
        aux = {self._host(x).lower() for d in decks
               for x in (d.restart_in, d.restart_out, d.velocity) if x}
        for k, d in enumerate(decks, start=1):
            for attr in ("listing", "graphic", "flux"):
                name = getattr(d, attr)
                if name is None:
                    continue
                if self._host(name).lower() in aux or \
                        self._host(name).lower() in ("velda.inp",):
                    setattr(d, attr, f"r{k}{attr[:3]}.out")
                aux.add(self._host(getattr(d, attr)).lower())

    @staticmethod
    def _host(name: str) -> str:
        """The file name as it lands in the run folder."""
        if name.upper().startswith("C:\\QMR\\"):
            return name[7:]
        return name

    def _within(self, d: Deck) -> bool:
        lim = LEGACY_LIMITS
        return (d.ne <= lim["ne"] and d.nts <= lim["nts"]
                and d.nmat <= lim["nmat"] and d.nbt <= lim["nbt"]
                and d.ndf <= lim["ndf"] and d.nobs <= lim["nobs"]
                and d.ntprof <= lim["ntprof"])

    @staticmethod
    def _site_label(s: Site) -> str:
        return _shape_label(s, s.radial)

    def _flow_label(self, d: Deck) -> str:
        extra = []
        if d.i2dwt:
            extra.append("water-table")
        if any(m[8] > 0 for m in d.media):
            extra.append("leakage-cap")
        elif any(m[5] > 0 for m in d.media):
            extra.append("leakage")
        return (_shape_label(d, d.iaxsym) + " "
                + " ".join(extra)).rstrip()


def _shape_label(d: Deck | Site, radial: int) -> str:
    """Elements, mesh, times, media and properties of a deck or site."""
    mesh = {0: "manual", 1: "graded", 2: "graded-rev", 3: "log",
            4: "graded"}.get(d.imshgn, "manual")
    if d.isstat == 1:
        t = "steady"
    elif d.itsgn == 0:
        t = "manual-times"
    else:
        t = "log-times" if d.time_args[2] > 0 else "uniform-times"
    props = ["per-element", "zones", "interpolated"][d.ipcode]
    rad = " radial" if radial else ""
    return f"ne={d.ne} mesh={mesh} {t} media={d.nmat} {props}{rad}"


def make_case(seed: int, *, beyond_legacy: bool = False) -> Case:
    """The case of ``seed`` with the chosen values of every deck kept (for
    tests); ``generate_case`` gives the same case as plain data."""
    g = _Gen(seed, beyond_legacy)
    return g.case()


def generate_case(seed: int, *, beyond_legacy: bool = False) -> dict:
    """The case of ``seed``: a dict with ``label`` (str), ``decks`` (deck
    texts, run in this order in one folder), ``files`` (name -> text of the
    files to place in the folder before the first run) and ``legacy``
    (True when every count is within the legacy capacities)."""
    return make_case(seed, beyond_legacy=beyond_legacy).as_dict()


def write_case(case: dict, folder: str) -> None:
    """Writes a case into ``folder``: deck1.inp, deck2.inp, ... and its
    files."""
    os.makedirs(folder, exist_ok=True)
    for k, text in enumerate(case["decks"], start=1):
        with open(os.path.join(folder, f"deck{k}.inp"), "w",
                  encoding="latin-1", newline="") as fh:
            fh.write(text)
    for name, text in case["files"].items():
        path = os.path.join(folder, name)
        os.makedirs(os.path.dirname(path) or folder, exist_ok=True)
        with open(path, "w", encoding="latin-1", newline="") as fh:
            fh.write(text)


def main(argv: Optional[list[str]] = None) -> int:
    """Command line: writes ``--count`` cases from ``--seed`` on."""
    p = argparse.ArgumentParser(prog="python3 -m qmrdev.randomdeck",
                                description=__doc__.split("\n")[0])
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--count", type=int, default=1)
    p.add_argument("--out", required=True)
    p.add_argument("--beyond-legacy", action="store_true")
    a = p.parse_args(argv)
    for k in range(a.count):
        case = generate_case(a.seed + k, beyond_legacy=a.beyond_legacy)
        name = f"case-{k:05d}"
        write_case(case, os.path.join(a.out, name))
        print(f"{name}\t{case['label']}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
