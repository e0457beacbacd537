"""Property-based tests (Hypothesis) of the package and a fuzz of every
tool's inputs: decks written and read back equal and run; parameter tables
of every shape; readers and commands on truncated and damaged files.

The contract checked: a function either succeeds or raises the package's
documented exception (DeckError, OutputFileError, EnsembleError) with a
one-line message; a command exits 0, or prints one line on standard error
and exits non-zero; never a traceback.
"""

from __future__ import annotations

import contextlib
import io
import math
import os
import warnings
from pathlib import Path

import numpy as np
import pandas as pd
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import qmr
from ensemble_cases import steady_deck, transient_deck
from qmr.cli import ensemble as ensemble_cli
from qmr.cli import plot as plot_cli
from qmrdev.randomdeck import generate_case

EXE = os.environ.get("QMR_EXE", "")
needs_qmr = pytest.mark.skipif(not Path(EXE).is_file(),
                               reason="QMR_EXE is not the built program")
# QMR_FUZZ_EXAMPLES=2000 searches longer than the suite does.
SOME = settings(max_examples=int(os.environ.get("QMR_FUZZ_EXAMPLES", 60)),
                deadline=None, database=None,
                suppress_health_check=[HealthCheck.too_slow,
                                       HealthCheck.function_scoped_fixture])


def one_line(e: BaseException) -> None:
    text = str(e)
    assert text.strip() and "\n" not in text.strip(), repr(text)


# ---------------------------------------------------------------------------
# Decks
# ---------------------------------------------------------------------------

# Values a field may be given: anything a float holds, within what ten
# columns can spell.
reals = st.floats(min_value=-9.9e99, max_value=9.9e99, allow_nan=False,
                  allow_infinity=False).filter(
    lambda v: v == 0 or 1e-98 < abs(v))


@SOME
@given(k=reals.filter(lambda v: v > 0), s=reals.filter(lambda v: v > 0),
       h=st.floats(-1e6, 1e6), seed=st.integers(0, 10 ** 6))
def test_decks_read_back_as_written(k, s, h, seed):
    """Any deck object written reads back equal to what its text says: the
    value itself when its field holds it, else the warned rounding; and a
    deck read and written again gives the same bytes."""
    d = steady_deck()
    d.media[1].conductivity = k
    d.media[1].storativity = s
    d.prescribed_values[1].value = h
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        text = d.to_bytes()
    back = qmr.Deck.from_bytes(text)
    lost = [str(c.message) for c in caught
            if issubclass(c.category, qmr.DigitsLostWarning)]
    for value, got in ((k, back.media[1].conductivity),
                       (s, back.media[1].storativity),
                       (h, back.prescribed_values[1].value)):
        if got != value:
            assert any(repr(value) in m for m in lost), (value, got)
        else:
            assert math.copysign(1, got) == math.copysign(1, value) or \
                value == 0
    # Read back and written again, the deck holds the same values, and from
    # then on the same bytes.
    again = back.to_bytes()
    assert qmr.Deck.from_bytes(again) == back
    assert qmr.Deck.from_bytes(again).to_bytes() == again
    # A random case of the generator, read and written again.
    case = generate_case(seed)
    for deck in case["decks"]:
        first = qmr.Deck.from_bytes(deck.encode("latin-1"))
        again = qmr.Deck.from_bytes(first.to_bytes())
        assert again == first


@needs_qmr
@settings(max_examples=12, deadline=None, database=None)
@given(k=st.floats(0.01, 1000.0), h=st.floats(40.0, 60.0))
def test_written_decks_run_to_the_linear_heads(k, h):
    """Steady flow between two fixed heads: the heads are linear in x
    whatever the conductivity, from the deck as written."""
    d = steady_deck(h1=h, k=k)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", qmr.DigitsLostWarning)
        d = qmr.Deck.from_bytes(d.to_bytes())   # the values as written
    with qmr.run(d, args=["--csv"], listing=False) as r:
        obs = r.read_csv("obs").to_numpy()[0]
    h1 = d.prescribed_values[1].value
    x = np.array([20.0, 50.0, 80.0])
    np.testing.assert_allclose(obs, h1 + (45.0 - h1) * x / 100.0,
                               rtol=1e-11)


@SOME
@given(data=st.data())
def test_damaged_decks_are_refused_in_one_line(data):
    text = bytearray(steady_deck().to_bytes())
    damage = data.draw(st.sampled_from(["cut", "flip", "insert", "drop"]))
    at = data.draw(st.integers(0, len(text)))
    if damage == "cut":
        text = text[:at]
    elif damage == "flip":
        text[min(at, len(text) - 1)] = data.draw(st.integers(0, 255))
    elif damage == "insert":
        text[at:at] = data.draw(st.binary(min_size=1, max_size=20))
    else:
        lines = bytes(text).split(b"\n")
        del lines[at % len(lines)]
        text = bytearray(b"\n".join(lines))
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            qmr.Deck.from_bytes(bytes(text))
    except qmr.DeckError as e:
        one_line(e)


# ---------------------------------------------------------------------------
# Parameter tables
# ---------------------------------------------------------------------------

PATHS = ["media[1].conductivity", "media[1].storativity",
         "prescribed_values[1].value", "initial_value", "title",
         "media[2].conductivity", "media[1].conductivty", "steps",
         "observation_nodes[1]", "nothing", "media[x].k", ""]
CELLS = st.one_of(
    st.floats(allow_nan=False, allow_infinity=False).map(repr),
    st.integers(-5, 20).map(str), st.sampled_from(["", " ", "ten", "1e400",
                                                   "nan", '"a,b"', "1,5"]),
    st.text(alphabet="abc019.-e ,\"'\\\t", max_size=6))


@SOME
@given(header=st.lists(st.sampled_from(PATHS + ["id", "run"]), min_size=0,
                       max_size=4),
       rows=st.lists(st.lists(CELLS, min_size=0, max_size=5), max_size=6),
       end=st.sampled_from(["\n", "\r\n", ""]))
def test_parameter_tables_of_every_shape(tmp_path, header, rows, end):
    path = tmp_path / "p.csv"
    path.write_text(end.join([",".join(header)] + [",".join(r) for r in rows])
                    + end)
    base = [steady_deck()]
    try:
        table = ensemble_cli.read_parameters(path, base)
    except qmr.EnsembleError as e:
        one_line(e)
        assert str(path) in str(e)
        return
    assert len(table) >= 1 and table.index.is_unique
    assert table.shape[1] >= 1
    # The table as the ensemble checks it against the deck: accepted or
    # refused in one line, before anything runs.
    try:
        from qmr.ensembles.base import _check_parameters, _load_base
        decks = _load_base(base, None)[0]
        _check_parameters(table, decks)
    except (qmr.EnsembleError, qmr.PathError) as e:
        one_line(e)


# ---------------------------------------------------------------------------
# Output files, truncated and damaged
# ---------------------------------------------------------------------------

@pytest.fixture(scope="module")
def outputs(tmp_path_factory) -> dict:
    """The output files of a flow run and of a transport run."""
    if not Path(EXE).is_file():
        pytest.skip("QMR_EXE is not the built program")
    folder = tmp_path_factory.mktemp("outputs")
    flow = steady_deck()
    flow.restart_write, flow.restart_out = 1, "s.rst"
    flow.velocity_code, flow.velocity_file = 1, "s.vel"
    qmr.run(flow, folder, args=["--csv"])
    qmr.run(transient_deck(), folder, args=["--csv"])
    return Files({p.name: p.read_bytes() for p in folder.iterdir()
                  if p.name != "VELDA.INP"
                  and not p.name.endswith(".stderr.txt")})


class Files(dict):
    """File name -> bytes, shown by its names in Hypothesis' reports."""

    def __repr__(self) -> str:
        return f"Files({sorted(self)})"


READERS = {".grf": qmr.read_graphic, ".flx": qmr.read_flux,
           ".lst": qmr.read_listing, ".rst": qmr.read_restart,
           ".vel": qmr.read_velocity}


def damage(data: bytes, draw) -> bytes:
    b = bytearray(data)
    how = draw(st.sampled_from(["cut", "flip", "insert", "drop", "swap"]))
    at = draw(st.integers(0, max(len(b) - 1, 0)))
    if how == "cut":
        return bytes(b[:at])
    if how == "flip" and b:
        b[at] = draw(st.sampled_from(b"0123456789 .-+EeX*\n\x00\xff"))
    elif how == "insert":
        b[at:at] = draw(st.binary(min_size=1, max_size=30))
    else:
        lines = bytes(b).split(b"\n")
        k = at % len(lines)
        if how == "drop":
            del lines[k]
        else:
            lines[k], lines[-1 - k] = lines[-1 - k], lines[k]
        return b"\n".join(lines)
    return bytes(b)


@SOME
@given(data=st.data())
def test_readers_end_damaged_files_with_a_clear_error(outputs, tmp_path,
                                                      data):
    name = data.draw(st.sampled_from(sorted(outputs)))
    path = tmp_path / name
    path.write_bytes(damage(outputs[name], data.draw))
    suffix = "".join(path.suffixes[-2:]) if name.endswith(".csv") \
        else path.suffix
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        try:
            if suffix.endswith(".csv"):
                kind = path.suffixes[-2][1:]
                qmr.read_csv_outputs(tmp_path / (name.split(".")[0] +
                                                 ".grf"), kinds=(kind,))
            else:
                READERS[suffix](path)
        except qmr.OutputFileError as e:
            one_line(e)


# ---------------------------------------------------------------------------
# The commands
# ---------------------------------------------------------------------------

def command(main, argv: list) -> tuple:
    err = io.StringIO()
    with contextlib.redirect_stderr(err), contextlib.redirect_stdout(
            io.StringIO()), warnings.catch_warnings():
        warnings.simplefilter("ignore")
        try:
            status = main([str(a) for a in argv])
        except SystemExit as e:
            status = e.code
    return status, err.getvalue()


def refused_in_one_line(status, err: str) -> None:
    """Exit status 2 (refused) comes with one line; 0 and 1 (nothing to
    draw, some realizations failed) say what they did."""
    assert "Traceback" not in err
    assert status in (0, 1, 2), (status, err)
    if status == 2:
        lines = [ln for ln in err.splitlines() if ln.strip()]
        assert len(lines) == 1 and lines[0].startswith("qmr-"), err


@SOME
@given(data=st.data())
def test_qmr_plot_never_shows_a_traceback(outputs, tmp_path, data):
    pytest.importorskip("matplotlib")
    graphic = tmp_path / "g.grf"
    graphic.write_bytes(damage(outputs[data.draw(st.sampled_from(
        ["s.grf", "t.grf"]))], data.draw))
    measured = tmp_path / "m.csv"
    measured.write_text(data.draw(st.sampled_from([
        "time,x=20,W9\n1,2,3\n", "time\n1\n", "", "a,b\nx,y\n",
        "time,node 3\n1,\n,2\n"])))
    argv = [graphic, "-o", tmp_path / "g.png"]
    argv += data.draw(st.lists(st.sampled_from([
        ["--logtime"], ["--logdist"], ["--lindist"], ["--logvalue"],
        ["--measured", measured], ["--drawdown", "10"],
        ["--drawdown", measured], ["--units", "m,d"], ["--units", "m"],
        ["--function", "nowhere.py:f"], ["--deck", measured],
        ["--bogus"]]), max_size=3).map(lambda xs: sum(xs, [])))
    status, err = command(plot_cli.main, argv)
    refused_in_one_line(status, err)


@needs_qmr
@settings(max_examples=25, deadline=None, database=None,
          suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(data=st.data())
def test_qmr_ensemble_never_shows_a_traceback(tmp_path, data):
    deck = tmp_path / "base.inp"
    text = steady_deck().to_bytes()
    deck.write_bytes(data.draw(st.sampled_from([text, text[:200], b"",
                                                b"F\nx\n"])))
    table = tmp_path / "p.csv"
    table.write_text(data.draw(st.sampled_from([
        "id,media[1].conductivity\na,5\n",
        "media[1].conductivity\n5\n6\n",
        "id,media[1].conductivity\na,\n",
        "id,media[9].conductivity\na,5\n",
        "id\na\n", "", "\x00\x01", "id,steps\na,2.5\n"])))
    argv = [deck, table, "--out", tmp_path / "r.csv", "--workers", "1",
            "--no-progress"]
    argv += data.draw(st.lists(st.sampled_from([
        ["--arg", "--csv"], ["--observations", "3,6"],
        ["--observations", "x"], ["--at-time", "1"], ["--at-time", "a"],
        ["--deck", "transport"], ["--profiles"], ["--imbalance"],
        ["--timeout", "-1"], ["--function", "none.py:f"], ["--bogus"],
        ["--tls-cert", "c"]]), max_size=3).map(lambda xs: sum(xs, [])))
    # Each run starts afresh (no status file of an earlier example).
    for p in tmp_path.glob("r*.csv"):
        p.unlink()
    status, err = command(ensemble_cli.main, argv)
    refused_in_one_line(status, err)
    if status == 0:
        assert "succeeded" in err
        pd.read_csv(tmp_path / "r.csv")
