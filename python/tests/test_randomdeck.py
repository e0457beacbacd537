"""Tests of the random deck generator (qmrdev.randomdeck).

The decks are read back here by a reader of their own, section by section
from the counts and codes, so that the columns the generator writes are
checked independently of how it wrote them; runs of the program (QMR_EXE)
check that the decks it calls valid run to a normal end.
"""

from __future__ import annotations

import math
import os
from pathlib import Path

import pytest

from qmrdev import randomdeck as rd
from qmrdev.common import run_decks

LIMITS = rd.LEGACY_LIMITS


def fields(line: str, width: int, count: int) -> list[str]:
    line = line.ljust(width * count)
    return [line[k * width:(k + 1) * width] for k in range(count)]


def real(text: str) -> float:
    """An F10.0 field as the program reads it, written out once more here:
    blanks ignored, E/D or a bare sign before the exponent."""
    t = text.replace(" ", "").upper()
    if not t:
        return 0.0
    t = t.replace("D", "E")
    if "E" not in t:
        k = max(t.rfind("+"), t.rfind("-"))
        if k > 0:
            t = t[:k] + "E" + t[k:]
    return float(t)


def integer(text: str) -> int:
    t = text.replace(" ", "")
    return int(t) if t else 0


def well_placed(text: str) -> bool:
    """A field whose number has a blank before it and no blank inside."""
    body = text.strip()
    return text[:1] == " " and " " not in body


class Reader:
    """Walks a deck section by section, as the program would."""

    def __init__(self, text: str) -> None:
        assert text.endswith("\n")
        self.lines = text[:-1].split("\n")
        self.k = 0
        self.bad: list[str] = []

    def line(self) -> str:
        line = self.lines[self.k]
        self.k += 1
        return line

    def ints(self, n: int) -> list[int]:
        f = fields(self.line(), 5, n)
        self.bad += [x for x in f if x.strip() and not well_placed(x)]
        return [integer(x) for x in f]

    def reals(self, n: int, per: int = 8) -> list[float]:
        out: list[float] = []
        while len(out) < n:
            f = fields(self.line(), 10, min(per, n - len(out)))
            self.bad += [x for x in f if x.strip() and not well_placed(x)]
            out += [real(x) for x in f]
        return out

    def mixed(self, ni: int, nr: int) -> tuple[list[int], list[float]]:
        line = self.line().ljust(5 * ni + 10 * nr)
        fi = fields(line[:5 * ni], 5, ni)
        fr = fields(line[5 * ni:], 10, nr)
        self.bad += [x for x in fi + fr if x.strip() and not well_placed(x)]
        return [integer(x) for x in fi], [real(x) for x in fr]


def read_deck(text: str) -> dict:
    r = Reader(text)
    d: dict = {}
    first = r.line().ljust(4)
    d["run"] = first[0]
    flux = first[2:4] not in ("05", "OW", "AN")
    d["names"] = [r.line(), r.line()] + ([r.line()] if flux else [])
    r.line()
    counts = r.ints(8)
    (d["ne"], d["nts"], d["nmat"], d["nbt"], d["ndf"], d["nonu"], d["nobs"],
     d["ntprof"]) = counts
    codes = r.ints(11)
    (imshgn, iaxsym, istep, ikall, ioread, iowrit, iodarc, itsgn, i2dwt,
     isstat, ipcode) = codes
    d["codes"] = codes
    np_ = d["ne"] + 1
    for flag in (ioread == 1, iowrit == 1, iodarc > 0):
        if flag:
            r.line()
            r.line()
    if imshgn in (1, 2, 4):
        d["mesh"] = r.reals(3)
    elif imshgn == 3:
        d["mesh"] = r.reals(2)
    else:
        d["coords"] = r.reals(np_)
    d["lmat"] = [r.ints(1)[0] for _ in range(d["ne"] if ipcode == 0
                                             else d["nmat"])]
    nprop = 9 if d["run"] == "F" else 8
    d["media"] = [r.reals(nprop, 9) for _ in range(d["nmat"])]
    if isstat != 1:
        if itsgn == 0:
            d["times"] = r.reals(d["nts"] + 1)
        else:
            i, f = r.mixed(0, 2)
            d["time_args"] = f + [integer(r.lines[r.k - 1].ljust(25)[20:25])]
    d["pvals"] = [r.mixed(2, 1) for _ in range(d["nbt"])]
    d["pflux"] = [r.mixed(2, 1 if d["run"] == "F" else 2)
                  for _ in range(d["ndf"])]
    if ioread != 1:
        d["hdeflt"] = r.reals(1)[0]
    d["nonuni"] = [r.mixed(1, 1) for _ in range(d["nonu"])]
    if i2dwt == 1:
        d["criteria"] = r.mixed(1, 2)
    if d["run"] == "T" and iodarc <= 0:
        d["default_vel"] = r.reals(2)
    d["obs"] = [r.ints(1)[0] for _ in range(d["nobs"])]
    d["prof"] = [r.ints(1)[0] for _ in range(d["ntprof"])]
    d["left"] = len(r.lines) - r.k
    d["bad"] = r.bad
    return d


def test_same_seed_same_case_and_seeds_differ() -> None:
    for seed in (0, 1, 77, 123456789):
        assert rd.generate_case(seed) == rd.generate_case(seed)
        assert rd.generate_case(seed, beyond_legacy=True) == \
            rd.generate_case(seed, beyond_legacy=True)
    texts = {tuple(rd.generate_case(s)["decks"]) for s in range(50)}
    assert len(texts) == 50


def test_command_line_writes_the_cases(tmp_path: Path) -> None:
    assert rd.main(["--seed", "40", "--count", "3",
                    "--out", str(tmp_path)]) == 0
    for k in range(3):
        case = rd.generate_case(40 + k)
        folder = tmp_path / f"case-{k:05d}"
        for j, text in enumerate(case["decks"], start=1):
            assert (folder / f"deck{j}.inp").read_text("latin-1") == text
        for name, text in case["files"].items():
            assert (folder / name).read_text("latin-1") == text


def test_columns_read_back_to_the_chosen_values() -> None:
    checked = 0
    for seed in range(150):
        case = rd.make_case(seed)
        for deck, text in zip(case.decks, case.texts):
            got = read_deck(text)
            assert got["bad"] == [], (seed, got["bad"])
            assert got["left"] == 0, seed
            assert [got[k] for k in ("ne", "nts", "nmat", "nbt", "ndf",
                                     "nonu", "nobs", "ntprof")] == \
                [deck.ne, deck.nts, deck.nmat, deck.nbt, deck.ndf,
                 deck.nonu, deck.nobs, deck.ntprof]
            assert got["codes"] == [deck.imshgn, deck.iaxsym, deck.istep,
                                    deck.ikall, deck.ioread, deck.iowrit,
                                    deck.iodarc, deck.itsgn, deck.i2dwt,
                                    deck.isstat, deck.ipcode]
            if "coords" in got:
                assert got["coords"] == deck.coords
            else:
                assert tuple(got["mesh"]) == deck.mesh_args
            assert got["lmat"] == deck.lmat
            assert [m[:len(got["media"][0])] for m in deck.media] == \
                got["media"]
            if "times" in got:
                assert got["times"] == deck.times
            if "time_args" in got:
                assert tuple(got["time_args"]) == deck.time_args
            assert [tuple(i) + tuple(f) for i, f in got["pvals"]] == \
                [tuple(p) for p in deck.pvals]
            assert [tuple(i) + tuple(f) for i, f in got["pflux"]] == \
                [tuple(p) for p in deck.pflux]
            assert [tuple(i) + tuple(f) for i, f in got["nonuni"]] == \
                [tuple(p) for p in deck.nonuni]
            if deck.ioread != 1:
                assert got["hdeflt"] == deck.hdeflt
            if "criteria" in got:
                i, f = got["criteria"]
                assert tuple(i + f) == deck.criteria
            if "default_vel" in got:
                assert tuple(got["default_vel"]) == deck.default_vel
            assert got["obs"] == deck.obs and got["prof"] == deck.prof
            checked += 1
    assert checked > 150


def test_valid_decks_are_plausible() -> None:
    """What a later check calls implausible never appears in a deck the
    generator calls valid (read back from the text)."""
    for seed in range(150):
        case = rd.generate_case(seed)
        if case["label"].startswith(rd.EXPECT_FAIL):
            continue
        for text in case["decks"]:
            d = read_deck(text)
            np_ = d["ne"] + 1
            steps = 1 if d["codes"][9] == 1 else d["nts"]
            assert d["nmat"] >= 1
            if "coords" in d:
                c = d["coords"]
                assert all(b > a for a, b in zip(c, c[1:])), seed
            elif d["codes"][0] == 3:
                assert 0 < d["mesh"][0] < d["mesh"][1]
            else:
                assert d["mesh"][0] < d["mesh"][1] and d["mesh"][2] > 0
            if d["codes"][1] != 0:  # radial: radii above zero
                assert (d.get("coords") or d["mesh"])[0] > 0
            for m in d["media"]:
                if d["run"] == "F":
                    assert min(m[0], m[1], m[2], m[7]) >= 0 and m[0] > 0
                    if d["codes"][8] == 0:
                        assert m[3] > 0
                else:
                    assert 0 < m[2] <= 1 and m[3] >= 1
                    assert min(m[0], m[1], m[4], m[7]) >= 0
            if "times" in d:
                t = d["times"]
                assert all(b > a for a, b in zip(t, t[1:])), seed
            if "time_args" in d:
                assert d["time_args"][1] > 0
            nodes = [i[0] for i, _ in d["pvals"]]
            assert len(set(nodes)) == len(nodes)
            assert all(1 <= n <= np_ for n in nodes)
            assert len(set(d["obs"])) == len(d["obs"])
            assert all(1 <= n <= np_ for n in d["obs"])
            p = d["prof"]
            assert all(b > a for a, b in zip(p, p[1:]))
            assert all(1 <= s <= steps for s in p)
            assert all(d[k] <= LIMITS[k] for k in LIMITS), seed


def test_beyond_cases_exceed_a_capacity_and_say_so() -> None:
    for seed in range(30):
        case = rd.generate_case(seed, beyond_legacy=True)
        assert not case["legacy"] and case["label"].startswith(rd.BEYOND)
        decks = [read_deck(text) for text in case["decks"]]
        assert [k for d in decks for k, lim in LIMITS.items()
                if d[k] > lim], seed
        assert all(d["ne"] <= 5000 and not d["bad"] for d in decks)
    assert all(rd.generate_case(s)["legacy"] for s in range(100))


def test_velocity_files_match_the_mesh() -> None:
    """A velocity file made here holds whole blocks of the transport mesh's
    elements, numbered in step, in (I5,4E15.7)."""
    seen = 0
    for seed in range(250):
        case = rd.make_case(seed)
        for name, text in case.files.items():
            deck = case.decks[0]
            if not name.endswith(("vel", "VEL", "DAT", "darcy")) or \
                    deck.iodarc <= 0:
                continue
            lines = text.splitlines()
            assert len(lines) % deck.ne == 0
            for k, line in enumerate(lines):
                assert len(line) == 65
                assert int(line[:5]) == k % deck.ne + 1
                for j in range(4):
                    v = line[5 + 15 * j:20 + 15 * j]
                    assert math.isfinite(float(v))
            seen += 1
    assert seen > 3


def _exe() -> str:
    exe = os.environ.get("QMR_EXE", "")
    if not exe or not os.path.exists(exe):
        pytest.skip("QMR_EXE names no built qmr")
    return exe


def test_valid_cases_run_to_a_normal_end(tmp_path: Path) -> None:
    exe = _exe()
    n_fail = 0
    n = 120
    for seed in range(1000, 1000 + n):
        case = rd.generate_case(seed)
        folder = tmp_path / f"c{seed}"
        rd.write_case(case, str(folder))
        expect_fail = case["label"].startswith(rd.EXPECT_FAIL)
        runs = run_decks(folder, [(folder / f"deck{k}.inp").read_bytes()
                                  for k in range(1, len(case["decks"]) + 1)],
                         exe=exe, timeout=60)
        statuses = [p.returncode for p in runs]
        for p in runs:
            assert p.returncode != 0 or p.stderr == b"", \
                (seed, case["label"], p.stderr)
        if expect_fail:
            n_fail += 1
            # a framed failure of a deck the program accepted
            assert statuses[-1] == 1, (seed, case["label"], statuses)
        else:
            assert all(s == 0 for s in statuses), \
                (seed, case["label"], statuses, p.stderr)
    assert 0 < n_fail <= 0.1 * n
