"""The faults a first calibration and a first Monte Carlo study met: each
case here failed before its fix."""

from __future__ import annotations

import inspect
import math
import os
import subprocess
import sys
import tempfile
from pathlib import Path

import numpy as np
import pandas as pd
import pytest

import qmr
from ensemble_cases import ROOT, steady_deck, transient_deck
from qmr.deck.objects import _join_fields
from qmr.deck.schema import Field
from runs import HAND

EXE = os.environ.get("QMR_EXE", "")
needs_qmr = pytest.mark.skipif(not Path(EXE).is_file(),
                               reason="QMR_EXE is not the built program")
TOOL = ROOT / "tools" / "qmr-ensemble"


# ---------------------------------------------------------------------------
# The package as users meet it
# ---------------------------------------------------------------------------

def test_the_public_api_is_listed_and_plain():
    names = dir(qmr)
    for n in ("ensemble", "latin_hypercube", "LogUniform", "LogNormal",
              "Truncated", "Observations", "run", "read_graphic",
              "OutputFileError", "PathError"):
        assert n in names and n in qmr.__all__, n
    # Functions, not modules standing in for them.
    assert inspect.isfunction(qmr.ensemble) and inspect.isfunction(qmr.run)
    assert "one realization" in (qmr.ensemble.__doc__ or "")


def test_read_only_fields_are_taken_when_equal():
    d = qmr.FlowDeck(run_type="F", imode=1, observation_nodes=[3, 6],
                     observation_count=2)
    assert d.run_type == "F" and list(d.observation_nodes) == [3, 6]
    with pytest.raises(qmr.DeckError, match="build a TransportDeck"):
        qmr.FlowDeck(run_type="T")
    with pytest.raises(AttributeError, match="length of"):
        qmr.FlowDeck(observation_nodes=[3, 6], observation_count=3)


def test_a_misspelt_path_gets_the_name_meant():
    d = steady_deck()
    with pytest.raises(qmr.PathError, match="did you mean conductivity"):
        qmr.set_value(d, "media[1].conductivty", 1.0)
    with pytest.raises(qmr.PathError, match="did you mean media"):
        qmr.get_value(d, "medai[1].conductivity")


# ---------------------------------------------------------------------------
# The deck writer: a blank between fields where no digit is lost
# ---------------------------------------------------------------------------

F10 = Field("x", "x", "F", 10)


def test_fields_get_a_blank_where_no_digit_is_lost():
    def line(*texts: str) -> str:
        return _join_fields([F10] * len(texts),
                            [t.encode() for t in texts]).decode()
    # A plain decimal before a full field moves one column left.
    assert line("0.0", "1.234567-4") == "      0.0 1.234567-4"
    # A full field whose value holds in nine columns gets its blank.
    assert line("1.5", "1.500000-4") == "       1.5   0.00015"
    # Two full fields that need every column touch: nothing else is exact.
    assert line("1.234567-4", "1.258925-7") == "1.234567-41.258925-7"
    # An integer-valued text without a point may not take a trailing blank
    # (blanks read as zeros would make 100 into 1000).
    assert line("100", "1.258925-7") == "       1001.258925-7"
    # A decimal of nine columns stays put when its move would start it
    # right after the number before it (the program reads that as a record
    # typed a column to the left); a shorter one still moves.
    assert line("0.25", "2.0338463", "4.365211-4") == \
        "      0.25 2.03384634.365211-4"
    assert line("0.25", "2.03", "4.365211-4") == \
        "      0.25     2.03 4.365211-4"
    assert line("0.25 ", "2.0338463", "4.365211-4") == \
        "     0.25 2.0338463 4.365211-4"


@needs_qmr
def test_a_written_deck_draws_no_warning_from_the_program(tmp_path):
    """Estimates that fill a field and the one before it, written as a
    calibration writes them: the program reads every value and warns of
    no record typed out of its columns."""
    d = qmr.Deck.read(ROOT / "examples" / "plume" / "VELDA.INP")
    d.media[1].retardation = 2.0338463046970547
    d.media[1].decay = 0.00043652107951271286
    with pytest.warns(qmr.DigitsLostWarning):
        d.write(tmp_path / "plume.inp")
    line = (tmp_path / "plume.inp").read_text().splitlines()[8]
    assert line.startswith("      10.0       0.0      0.25 2.0338463")
    p = subprocess.run([EXE, "--check", "plume.inp"], cwd=tmp_path,
                       capture_output=True, text=True)
    assert p.returncode == 0 and "warning" not in p.stderr, p.stderr
    back = qmr.Deck.read(tmp_path / "plume.inp")
    assert back.media[1].retardation == 2.0338463
    assert back.media[1].decay == 4.365211e-4


def test_written_decks_read_back_every_value():
    d = steady_deck()
    d.media[1].conductivity = 1.122018e-7
    d.media[1].storativity = 1.234567e-4
    text = d.to_text()
    back = qmr.Deck.from_bytes(text.encode())
    assert back.media[1].conductivity == 1.122018e-7
    assert back.media[1].storativity == 1.234567e-4
    media = [ln for ln in text.splitlines() if "1.122018-7" in ln]
    assert len(media) == 1
    assert media[0].startswith("1.122018-7      0.0 1.234567-4")


def test_a_spelling_hook_writes_what_it_is_given_when_it_reads_true():
    d = steady_deck()
    d.media[1].conductivity = 0.0015

    def spell(field, value):
        if field.name == "conductivity":
            return "1.5D-3    "               # left in the field, D exponent
        return None
    text = d.to_bytes(spell=spell).decode()
    media = [ln for ln in text.splitlines() if ln.startswith("1.5D-3")]
    assert len(media) == 1
    assert qmr.Deck.from_bytes(text.encode()).media[1].conductivity == 0.0015
    with pytest.raises(qmr.DeckError, match="reads as 0.0016"):
        d.to_bytes(spell=lambda f, v: "1.6D-3    "
                   if f.name == "conductivity" else None)
    with pytest.raises(qmr.DeckError, match="not 10 columns"):
        d.to_bytes(spell=lambda f, v: "1.5D-3"
                   if f.name == "conductivity" else None)


# ---------------------------------------------------------------------------
# Runs: scratch folders, the listing, one CSV file
# ---------------------------------------------------------------------------

@needs_qmr
def test_scratch_folders_are_removed_unless_kept(tmp_path, monkeypatch):
    monkeypatch.setattr(tempfile, "tempdir", str(tmp_path))
    for _ in range(3):
        r = qmr.run(steady_deck())
        assert r.read_graphic().observations.shape == (1, 3)
        del r
    with qmr.run(steady_deck()) as r:
        folder = r.folder
        assert folder.is_dir()
    assert not folder.exists()
    with pytest.raises(FileNotFoundError, match="removed"):
        r.read_graphic()
    kept = qmr.run(steady_deck(), keep=True)
    kept.close()
    assert kept.folder.is_dir()
    bad = steady_deck()
    bad.prescribed_values[2].node = 99
    with pytest.raises(qmr.RunError) as e:
        qmr.run(bad)
    assert e.value.folder.is_dir()          # kept for the post-mortem
    chain = qmr.run_chain([steady_deck(), steady_deck()])
    assert chain[0].folder == chain[1].folder
    del chain
    assert sorted(p.name for p in tmp_path.iterdir()) == sorted(
        [kept.folder.name, e.value.folder.name])


@needs_qmr
def test_a_listing_without_printed_steps_reads_empty(tmp_path):
    d = transient_deck(steps=3)
    d.print_interval = 10           # more than the steps: none printed
    with pytest.warns(qmr.QmrWarning):
        flow = steady_deck()
        flow.steady_state, flow.steps, flow.print_interval = 0, 3, 10
        r = qmr.run(flow, tmp_path)
    lst = r.read_listing()
    assert lst.values.shape == (0, 0) and lst.completed
    assert list(lst.values.index.names) == ["node"]


@needs_qmr
def test_no_listing_and_one_csv_file(tmp_path):
    (tmp_path / "s.lst").write_bytes(b"an older listing\n")
    r = qmr.run(steady_deck(), tmp_path, args=["--csv"], listing=False)
    assert r.listing is None
    assert (tmp_path / "s.lst").read_bytes() == b"an older listing\n"
    # One file is read without the others: a damaged profile file does not
    # stop the observations.
    (tmp_path / "s.prof.csv").write_text("garbage\n")
    obs = r.read_csv("obs")
    x = np.array([20.0, 50.0, 80.0])
    np.testing.assert_allclose(obs.to_numpy()[0], 50 - 5 * x / 100,
                               rtol=1e-13)
    with pytest.raises(qmr.OutputFileError):
        r.read_csv()
    with pytest.raises(ValueError, match="one of"):
        r.read_csv("profiles")


# ---------------------------------------------------------------------------
# Samples
# ---------------------------------------------------------------------------

def test_log_normal_and_truncated_distributions():
    ln = qmr.LogNormal(1e-4, 0.5)
    # The median, and one standard deviation of the logarithm above it
    # (the normal distribution function at 1 is 0.8413447460685429).
    np.testing.assert_allclose(ln.ppf(np.array([0.5, 0.8413447460685429])),
                               [1e-4, 1e-4 * 10 ** 0.5], rtol=1e-12)
    np.testing.assert_allclose(ln.cdf(np.array([1e-4, 1e-4 * 10 ** 0.5])),
                               [0.5, 0.8413447460685429], rtol=1e-12)
    t = qmr.Truncated(qmr.Normal(10.0, 2.0), low=9.0)
    # Half of N(10, 2) above 10 is 0.5 of the 0.6914624612740131 above 9.
    assert t.cdf(np.array([10.0]))[0] == pytest.approx(
        (0.5 - 0.3085375387259869) / 0.6914624612740131, rel=1e-12)
    p = qmr.latin_hypercube({"k": ln, "h": t}, 400, seed=3, digits=6)
    assert (p["h"] >= 9.0).all()
    # One realization per stratum of each truncated distribution.
    strata = np.floor(t.cdf(p["h"].to_numpy()) * 400)
    assert len(np.unique(np.clip(strata, 0, 399))) >= 398  # 6 digits
    with pytest.raises(ValueError, match="no probability"):
        qmr.Truncated(qmr.Uniform(0, 1), low=2.0)


def test_rounding_keeps_significant_digits():
    p = qmr.latin_hypercube({"s": qmr.LogUniform(1e-5, 1e-3)}, 200, seed=1,
                            digits=6)
    assert p["s"].nunique() == 200      # round(6) left about 160
    assert qmr.round_significant(1.23456789e-4, 6) == 1.23457e-4
    assert qmr.round_significant(-987654.321, 3) == -988000.0
    s = qmr.round_significant(pd.Series([0.0, math.inf, 2.5e-9]), 1)
    assert s.tolist() == [0.0, math.inf, 3e-9]


# ---------------------------------------------------------------------------
# Ensembles: outputs at a time and of one deck; the command's tables
# ---------------------------------------------------------------------------

@needs_qmr
def test_outputs_at_a_time_every_digit(tmp_path):
    d = transient_deck()
    d.first_step = 2.5                      # times 2.5, 5, 7.5, ...
    p = pd.DataFrame({"media[1].dispersivity": [5.0, 10.0]},
                     index=["a", "b"])
    res = qmr.ensemble(d, p, qmr.Observations(times=(7.5,)),
                       executor=__import__("concurrent.futures").futures
                       .ThreadPoolExecutor(2))
    long = res.long
    assert set(long["time"]) == {7.5} and set(long["step"]) == {3}
    assert len(long) == 2 * len(d.observation_nodes)
    # Every digit: the values are those of the CSV file of a plain run.
    d.media[1].dispersivity = 10.0
    with qmr.run(d, args=["--csv"]) as r:
        ref = r.read_csv("obs").loc[7.5]
    got = long[long.realization == "b"].set_index("node")["value"]
    np.testing.assert_array_equal(got.to_numpy(), ref.to_numpy())


def _tool(*args: str, cwd: Path) -> subprocess.CompletedProcess:
    return subprocess.run([sys.executable, str(TOOL), *args], cwd=cwd,
                          capture_output=True, text=True, timeout=120)


@needs_qmr
def test_a_table_without_labels_is_numbered(tmp_path):
    steady_deck().write(tmp_path / "base.inp")
    (tmp_path / "p.csv").write_text(
        "prescribed_values[1].value,media[1].conductivity\n47,10\n49,20\n")
    r = _tool("base.inp", "p.csv", "--out", "r.csv", "--arg", "--csv",
              "--observations", "6", cwd=tmp_path)
    assert r.returncode == 0, r.stderr
    got = pd.read_csv(tmp_path / "r.csv").sort_values("realization")
    assert got["realization"].tolist() == [1, 2]
    # The head halfway between 47 (or 49) and 45 m.
    np.testing.assert_allclose(got["value"], [46.0, 47.0], rtol=1e-12)


def test_bad_tables_are_refused_in_one_line(tmp_path):
    steady_deck().write(tmp_path / "base.inp")
    cases = {
        "missing.csv": None,
        "empty.csv": "",
        "header.csv": "id,media[1].conductivity\n",
        "unknown.csv": "id,media[1].conductivty\na,1\n",
        "word.csv": "id,media[1].conductivity\na,1\nb,ten\n",
        "twice.csv": "id,media[1].conductivity\na,1\na,2\n",
        "column.csv": "id,media[1].conductivity,media[1].conductivity\n"
                      "a,1,2\n",
    }
    said = {}
    for name, text in cases.items():
        if text is not None:
            (tmp_path / name).write_text(text)
        r = _tool("base.inp", name, "--out", "r.csv", cwd=tmp_path)
        assert r.returncode == 2, (name, r.stderr)
        assert len(r.stderr.strip().splitlines()) == 1, (name, r.stderr)
        assert "Traceback" not in r.stderr
        said[name] = r.stderr
    assert "no such file" in said["missing.csv"]
    assert "did you mean conductivity" in said["unknown.csv"]
    assert "'ten' is not a number" in said["word.csv"]
    assert "labelled twice" in said["twice.csv"]
    assert "named twice" in said["column.csv"]
    for name in ("empty.csv", "header.csv"):
        assert name in said[name]


# ---------------------------------------------------------------------------
# Figures: the run's own words and axes
# ---------------------------------------------------------------------------

def test_figures_name_the_value_and_log_a_radial_distance():
    pytest.importorskip("matplotlib")
    from qmr.plot import plot_graphic
    g = qmr.io.parse_graphic(HAND)
    flow = plot_graphic(g, deck=qmr.FlowDeck(radial=1))
    assert [a.get_ylabel() for a in flow.axes[:2]] == ["head", "head"]
    assert flow.axes[1].get_xscale() == "log"
    tr = plot_graphic(g, deck=qmr.TransportDeck(), logdist=None)
    assert tr.axes[0].get_ylabel() == "concentration"
    assert tr.axes[1].get_xscale() == "linear"
    planar = plot_graphic(g, deck=qmr.FlowDeck(radial=1), logdist=False)
    assert planar.axes[1].get_xscale() == "linear"
