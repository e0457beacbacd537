"""Running decks: results, chains, warnings and failures of the program."""

import os
import stat
from pathlib import Path

import pytest

import qmr
from qmr.runner import parse_diagnostic, supports_check

ROOT = Path(__file__).resolve().parents[2]
EXE = os.environ.get("QMR_EXE") or qmr.find_exe()
needs_qmr = pytest.mark.skipif(not Path(EXE).is_file(),
                               reason=f"qmr executable {EXE} not built")


def steady_deck():
    """Steady confined flow between fixed heads of 50 m at x = 0 and 45 m at
    x = 100 m: the head is linear, 47.5 m at the middle node."""
    return qmr.FlowDeck(
        listing="s.lst", graphic="s.grf", flux_file="s.flx", title="steady",
        mesh_code=1, first_coordinate=0.0, last_coordinate=100.0, grading=1.0,
        elements=4, steady_state=1, steps=1, property_input=1, zone_starts=[1],
        restart_write=1, restart_out="s.rst",
        media=[qmr.FlowMedium(conductivity=10.0, thickness=5.0, width=2.0)],
        prescribed_values=[qmr.PrescribedValue(1, value=50.0),
                           qmr.PrescribedValue(5, value=45.0)],
        initial_value=50.0, observation_nodes=[3], profile_steps=[1])


def test_parse_diagnostics():
    d = parse_diagnostic('qmr: VELDA.INP, record 12, columns 1-10: "   x   '
                         '25." is not a number (layout (9F10.0))')
    assert (d.file, d.record, d.columns, d.warning) == \
        ("VELDA.INP", 12, (1, 10), False)
    assert d.message.startswith('"   x   25." is not a number')
    w = parse_diagnostic("qmr: warning: VELDA.INP, record 12, columns 11-20 "
                         "(medium record of medium 1): digits straddle")
    assert (w.warning, w.section, w.columns, w.message) == \
        (True, "medium record of medium 1", (11, 20), "digits straddle")
    w = parse_diagnostic("qmr: warning: VELDA.INP, record 3 (velocity file "
                         "name): no such file")
    assert (w.record, w.columns, w.section) == (3, None, "velocity file name")
    m = parse_diagnostic("qmr: main input record 14: prescribed value node "
                         "9 is outside 1..5")
    assert (m.file, m.record, m.message) == \
        ("main input", 14, "prescribed value node 9 is outside 1..5")
    assert parse_diagnostic("not ours") is None
    assert parse_diagnostic("qmr: something went wrong").message == \
        "something went wrong"


@needs_qmr
def test_run_gives_outputs_and_the_linear_head(tmp_path):
    r = qmr.run(steady_deck(), tmp_path / "run")
    for p in (r.listing, r.graphic, r.flux, r.restart):
        assert p.is_file()
    assert r.velocity is None
    assert "SUCCESSFUL TERMINATION" in r.listing.read_text("latin-1")
    heads = [float(line[20:35]) for line in r.restart.read_text().split("\n")
             if line.strip()]
    assert heads == pytest.approx([50.0, 48.75, 47.5, 46.25, 45.0], abs=1e-6)
    # A scratch folder when none is given.
    r2 = qmr.run(steady_deck())
    assert r2.folder.is_dir() and r2.listing.read_bytes() == \
        r.listing.read_bytes()


@needs_qmr
def test_failure_raises_run_error_with_the_diagnostic(tmp_path):
    d = steady_deck()
    d.prescribed_values[2].node = 9          # beyond the 5 nodes
    with pytest.raises(qmr.RunError) as e:
        qmr.run(d, tmp_path)
    assert e.value.status != 0
    diag = e.value.diagnostic
    assert diag is not None and diag.file is not None
    assert "9" in diag.message and "outside" in diag.message
    assert diag.where == "prescribed_values[2]" or \
        diag.where.startswith("prescribed_values[2].")
    assert "[deck.prescribed_values[2]" in str(e.value)
    assert e.value.folder == tmp_path


@needs_qmr
def test_chain_of_the_example(tmp_path):
    flow = qmr.Deck.read(ROOT / "examples/chain/deck1.inp")
    transport = qmr.Deck.read(ROOT / "examples/chain/deck2.inp")
    results = qmr.run_chain([flow, transport], tmp_path)
    assert results[0].velocity == tmp_path / "chain.vel"
    assert results[0].velocity.stat().st_size > 0
    assert results[1].velocity is None       # read, not written
    text = results[1].listing.read_text("latin-1")
    assert "SUCCESSFUL TERMINATION" in text


def fake_exe(tmp_path, script):
    p = tmp_path / "fake-qmr"
    p.write_text("#!/bin/sh\n" + script)
    p.chmod(p.stat().st_mode | stat.S_IEXEC)
    return p


def test_program_warnings_become_python_warnings(tmp_path):
    exe = fake_exe(tmp_path, (
        "echo 'qmr: warning: VELDA.INP, record 10, columns 11-20 (mesh "
        "record): a number straddles two fields' >&2\n"
        "test -f VELDA.INP || exit 9\n"))
    with pytest.warns(qmr.QmrWarning) as rec:
        r = qmr.run(steady_deck(), tmp_path / "w", exe=exe)
    w = rec[0].message
    assert w.diagnostic.record == 10 and w.diagnostic.columns == (11, 20)
    assert w.diagnostic.where == "last_coordinate"   # graded mesh record
    assert r.warnings == [w.diagnostic]


def test_exe_is_found_from_argument_and_environment(tmp_path, monkeypatch):
    exe = fake_exe(tmp_path, "exit 0\n")
    assert qmr.find_exe(exe) == str(exe)
    monkeypatch.setenv("QMR_EXE", str(exe))
    assert qmr.find_exe() == str(exe)
    monkeypatch.delenv("QMR_EXE")
    monkeypatch.setenv("PATH", str(tmp_path))
    found = qmr.find_exe()
    assert found.endswith("build/qmr") or found == str(tmp_path / "qmr")


@needs_qmr
def test_check_gives_warnings_or_the_failure(tmp_path):
    if not supports_check(EXE):
        pytest.skip(f"{EXE} takes no command line yet (qmr --check)")
    assert isinstance(steady_deck().check(tmp_path), list)
    assert sorted(os.listdir(tmp_path)) == []      # --check writes nothing
    d = steady_deck()
    d.prescribed_values[2].node = 9
    with pytest.raises(qmr.RunError) as e:
        d.check()
    assert e.value.status == 1 and e.value.diagnostic is not None


def test_check_through_the_agreed_command_line(tmp_path):
    # A stand-in for a qmr with the command line: it answers --version,
    # and --check DECK prints a warning, and a failure when the deck's title
    # says so.
    exe = fake_exe(tmp_path, (
        'case "$1" in\n'
        '--version) echo "qmr 10.0"; exit 0;;\n'
        '--check) test -f "$2" || exit 66\n'
        '  echo "qmr: warning: $2, record 14, columns 1-5 (prescribed-value '
        'record 2): node 5 is given twice" >&2\n'
        '  if grep -q "^broken" "$2"; then\n'
        '    echo "qmr: $2, record 12, columns 1-10: \\"   x\\" is not a '
        'number (layout (9F10.0))" >&2; exit 1; fi\n'
        '  exit 0;;\n'
        'esac\nexit 64\n'))
    folder = tmp_path / "work"
    folder.mkdir()
    warns = steady_deck().check(folder, exe=exe)
    assert len(warns) == 1 and warns[0].record == 14
    assert warns[0].section == "prescribed-value record 2"
    assert warns[0].where == "prescribed_values[2].node"
    assert os.listdir(folder) == []          # the deck written is removed
    d = steady_deck()
    d.title = "broken deck"
    with pytest.raises(qmr.RunError) as e:
        d.check(exe=exe)
    assert e.value.status == 1
    assert (e.value.diagnostic.record, e.value.diagnostic.columns) == \
        (12, (1, 10))
    assert e.value.diagnostic.where == "media[1].conductivity"
    assert len(e.value.warnings) == 1
    # A build without the command line is told apart.
    old = fake_exe(tmp_path / "work", "exit 2\n")
    with pytest.raises(NotImplementedError):
        steady_deck().check(exe=old)


@needs_qmr
def test_result_readers_darcy_flux_through_the_fixed_heads(tmp_path):
    pytest.importorskip("qmr.io", reason="the readers of the outputs "
                        "(qmr.io) have not landed on this branch")
    r = qmr.run(steady_deck(), tmp_path)
    restart = r.read_restart()
    assert restart["value"].to_numpy() == pytest.approx(
        [50.0, 48.75, 47.5, 46.25, 45.0], abs=1e-6)
    assert restart["x"].to_numpy() == pytest.approx([0, 25, 50, 75, 100])
    # Darcy: K b w (h1 - h2) / L = 10 * 5 * 2 * 5 / 100 = 5 m3/d enters at
    # node 1 and leaves at node 5.
    rates = r.read_flux().rates
    assert rates.iloc[-1].to_numpy() == pytest.approx([5.0, -5.0], rel=1e-3)
    heads = r.read_graphic().observations
    assert heads.iloc[-1].to_numpy() == pytest.approx([47.5], abs=1e-3)
    # The readers are served by the package itself too.
    assert qmr.read_restart(r.restart).equals(restart)
