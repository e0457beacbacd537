"""The development tooling (python/qmrdev): what the tools share, and the
comparison of two builds run end to end on a few cases."""

from __future__ import annotations

import os
import stat
import subprocess
import sys
from pathlib import Path

import pytest

from qmrdev import common

ROOT = Path(__file__).resolve().parents[2]
EXE = os.environ.get("QMR_EXE", "")
needs_qmr = pytest.mark.skipif(not Path(EXE).is_file(),
                               reason="QMR_EXE is not the built program")


def test_split_aux_keeps_the_deck_line_end():
    deck, files = common.split_aux(b"F\nx\n%%AUX\n1 2\n3\n")
    assert (deck, files) == (b"F\nx\n", {"AUX.DAT": b"1 2\n3\n"})
    assert common.split_aux(b"F\nx\n") == (b"F\nx\n", {})
    # The mark must stand on a line of its own.
    assert common.split_aux(b"F %%AUX\n") == (b"F %%AUX\n", {})


def test_ew_is_the_programs_form():
    # By hand: 12.34567 is 0.1234567 x 10^2; -0.0005 is -0.5 x 10^-3.
    assert common.ew(12.34567, 14, 7) == " 0.1234567E+02"
    assert common.ew(-0.0005, 11, 4) == "-0.5000E-03"
    assert common.ew(0.0, 11, 4) == " 0.0000E+00"
    assert common.ew(9.99996, 11, 4) == " 0.1000E+02"   # rounds up a decade


@needs_qmr
def test_run_decks_in_turn_up_to_a_failure(tmp_path):
    good = (ROOT / "examples" / "valley" / "VELDA.INP").read_bytes()
    (tmp_path / "VELDA.INP").mkdir(parents=True)       # in the way
    runs = common.run_decks(tmp_path, [good, b"garbage\n", good], exe=EXE)
    assert [p.returncode == 0 for p in runs] == [True, False]
    assert (tmp_path / "VELDA.INP").read_bytes() == b"garbage\n"
    all_three = common.run_decks(tmp_path, [good, b"garbage\n", good],
                                 exe=EXE, stop_at_failure=False, fresh=True)
    assert len(all_three) == 3 and all_three[2].returncode == 0


def compare(tmp_path: Path, *args: str) -> subprocess.CompletedProcess:
    return subprocess.run(
        [sys.executable, str(ROOT / "scripts" / "compare_builds.py"),
         "--as-self", "--jobs", "1", "--only", "examples,regress", *args],
        capture_output=True, text=True, timeout=600, cwd=tmp_path)


@needs_qmr
def test_the_comparison_finds_identical_builds_and_a_changed_byte(tmp_path):
    same = compare(tmp_path, "--exe-a", EXE, "--exe-b", EXE)
    assert same.returncode == 0, same.stdout + same.stderr
    n, identical, differing = summary(same.stdout)
    assert n >= 6 and identical == n and differing == 0
    # A side B whose graphic files gain a blank at the end of the first
    # line: a difference in every case that writes one.
    wrapper = tmp_path / "changed.sh"
    wrapper.write_text(f"#!/bin/sh\n{EXE} \"$@\"; s=$?\n"
                       "for f in *.grf *.GRF; do [ -f \"$f\" ] && "
                       "sed -i '1s/$/ /' \"$f\"; done\nexit $s\n")
    wrapper.chmod(wrapper.stat().st_mode | stat.S_IEXEC)
    changed = compare(tmp_path, "--exe-a", EXE, "--exe-b", str(wrapper))
    assert changed.returncode == 1
    n, identical, differing = summary(changed.stdout)
    assert differing >= 4 and identical + differing == n   # the examples


def summary(report: str) -> tuple:
    """Cases, identical and differing of the report's line "all"."""
    line = next(ln for ln in report.splitlines()
                if ln.split()[:1] == ["all"])
    return tuple(int(v) for v in line.split()[1:4])
