"""The corpus of deck mistakes in tests/mistakes: each mistake is told on
standard error, naming the record where the deck went wrong, and a case
with nothing wrong tells nothing."""
import json
import os
import pathlib
import subprocess

import pytest
from qmrdev.common import run_decks

ROOT = pathlib.Path(__file__).resolve().parents[2]
MISTAKES = ROOT / "tests" / "mistakes"
CASES = json.loads((MISTAKES / "cases.json").read_text())
QMR = os.environ.get("QMR_EXE", str(ROOT / "build" / "qmr"))


def run_case(name: str, folder: pathlib.Path) -> subprocess.CompletedProcess:
    """Runs the decks of a case in name order in one folder; returns the
    last run."""
    decks = [p.read_bytes() for p in sorted((MISTAKES / name).iterdir())]
    return run_decks(folder, decks, exe=QMR, timeout=60,
                     stop_at_failure=False)[-1]


@pytest.mark.parametrize("case", CASES, ids=[c["name"] for c in CASES])
def test_mistake_is_told(case: dict, tmp_path: pathlib.Path) -> None:
    result = run_case(case["name"], tmp_path)
    err = result.stderr.decode("utf-8", "replace")
    assert result.returncode == case["status"], err
    for text in case["expect"]:
        assert text in err, f"{text!r} not in:\n{err}"
    for text in case["forbid"]:
        assert text not in err, f"{text!r} in:\n{err}"
    # Every line on standard error is one warning or the one diagnostic.
    for line in err.splitlines():
        assert line.startswith("qmr: "), line


def test_misspelt_velocity_file_is_not_created(tmp_path: pathlib.Path) -> None:
    run_case("chain-velocity-file-misspelt", tmp_path)
    assert (tmp_path / "chain.vel").exists()
    assert not (tmp_path / "chian.vel").exists()


def test_byte_order_mark_changes_nothing(tmp_path: pathlib.Path) -> None:
    """A deck saved with a byte-order mark gives the bytes of the deck
    without it."""
    plain = tmp_path / "plain"
    marked = tmp_path / "marked"
    plain.mkdir()
    marked.mkdir()
    valley = (ROOT / "examples" / "valley" / "VELDA.INP").read_bytes()
    assert run_decks(plain, [valley], exe=QMR)[0].returncode == 0
    run_case("valley-byte-order-mark", marked)
    for out in ("valley.lst", "valley.grf", "valley.flx"):
        assert (plain / out).read_bytes() == (marked / out).read_bytes(), out
