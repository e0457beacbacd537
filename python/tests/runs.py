"""Hand-written output files and small runs of qmr shared by the reader and
plot tests. Runs need the environment variable QMR_EXE (the qmr program)."""

from __future__ import annotations

import os
import shutil
from pathlib import Path
from typing import Optional

import pytest
from qmrdev.common import run_decks


def row(number: int, *fields: str) -> str:
    """A row as qmr writes it: the number in ten columns, then each
    11-column field after one blank."""
    assert all(len(f) == 11 for f in fields), fields
    return "%10d" % number + "".join(" " + f for f in fields)


# Two observation nodes (5 and 12), five steps, two profiles (steps 1 and 3)
# over three nodes; the value fields show every form a field can take.
HAND = "\n".join([
    "1.TIMESTEP   2.TIMEVAL   3.LOGTIME   OBS.(  5)   OBS.( 12)   OBS.(",
    " ",
    row(1, " 0.1000E+01", " 0.0000E+00", " 0.1234E+02", "-0.1234E+02"),
    row(2, " 0.1000E+02", " 0.1000E+01", " 0.1234+100", " -.1234-100"),
    row(3, " 0.1000E+03", " 0.2000E+01", "***********", "        NaN"),
    row(4, " 0.1000E+04", " 0.3000E+01", "   Infinity", "  -Infinity"),
    row(5, " 0.1000E+05", " 0.4000E+01", " 0.0000E+00", " 0.2000E-02"),
    "",
    "",
    "    1.NODE  2.DISTANCE   3.LOGDIST  PROF.(  1)  PROF.(  3)  PROF.(",
    " ",
    row(1, " 0.0000E+00", " 0.0000E+00", " 0.1000E+02", " 0.1000E+02"),
    row(2, " 0.5000E+02", " 0.1699E+01", " 0.9500E+01", " 0.7000E+01"),
    row(3, " 0.1000E+03", " 0.2000E+01", " 0.4000E+01", "-0.4000E+01"),
    "",
    ""])

# No observation nodes and no profiles: only the headings and the fixed
# columns.
BARE = "\n".join([
    "1.TIMESTEP   2.TIMEVAL   3.LOGTIME   OBS.(",
    " ",
    row(1, " 0.1000E+01", " 0.0000E+00"),
    "",
    "",
    "    1.NODE  2.DISTANCE   3.LOGDIST  PROF.(",
    " ",
    row(1, " 0.0000E+00", " 0.0000E+00"),
    row(2, " 0.1000E+02", " 0.1000E+01"),
    "",
    ""])

# A flux file: rates at the prescribed nodes 1 and 11 per step, then the
# accumulated volumes.
FLUX = "\n".join([
    "1.TIMESTEP   2.TIMEVAL   3.LOGTIME   OBS.(  1)   OBS.( 11)   OBS.(",
    " ",
    row(1, " 0.1000E+01", " 0.0000E+00", " 0.6000E+00", "-0.2500E+00"),
    row(2, " 0.3000E+01", " 0.4771E+00", " 0.4000E+00", "-0.1000+100"),
    "",
    "",
    "    1.STEP  2.TIMVALUE   3.LOGTIME  PROF.(  1)  PROF.( 11)  PROF.(",
    " ",
    row(1, " 0.1000E+01", " 0.0000E+00", " 0.6000E+00", "-0.2500E+00"),
    row(2, " 0.3000E+01", " 0.4771E+00", " 0.1400E+01", "-0.7500E+00"),
    "",
    ""])


def flow_deck(nts: int, obs: list[int], profiles: list[int],
              restart: bool = False, velocity: int = 0) -> str:
    """A flow deck: ten elements of 10 over 0..100, conductivity 5,
    thickness 2, storage coefficient 0.1, heads fixed at 10 (node 1) and 4
    (node 11), initial head 10. nts = 0 makes it a steady-state run;
    otherwise the steps are fully implicit, two per factor of ten of time
    from 1. ``restart`` writes FLOW.RST; ``velocity`` is the velocity code
    (FLOW.VEL)."""
    steady = nts == 0
    lines = ["F", "FLOW.LST", "FLOW.GRA", "FLOW.FLX", "flow run",
             "%5d%5d%5d%5d%5d%5d%5d%5d" % (10, max(nts, 1), 1, 2, 0, 0,
                                           len(obs), len(profiles)),
             "%5d%5d%5d%5d%5d%5d%5d%5d%5d%5d%5d" % (
                 1, 0, 1, 1, 0, int(restart), velocity, 1, 0, int(steady),
                 1)]
    if restart:
        lines += ["FLOW.RST", ""]
    if velocity:
        lines += ["FLOW.VEL", ""]
    lines += ["       0.0     100.0       1.0",  # graded mesh, factor 1
              "    1",  # one zone from element 1
              "       5.0       0.0       0.1       2.0       0.0       0.0"
              "       0.0       1.0"]
    if not steady:
        lines.append("       0.0       1.0    2")
    lines += ["    1    1      10.0", "   11    1       4.0", "      10.0"]
    lines += ["%5d" % n for n in obs + profiles]
    return "\n".join(lines) + "\n"


def qmr_exe() -> Optional[str]:
    """The qmr program named by QMR_EXE, or None."""
    exe = os.environ.get("QMR_EXE")
    return exe if exe and os.path.exists(exe) else None


needs_qmr = pytest.mark.skipif(qmr_exe() is None,
                               reason="QMR_EXE does not name the program")


def run_qmr(folder: Path, deck: Optional[str | bytes] = None) -> Path:
    """Runs qmr in ``folder`` (on ``deck`` written there as VELDA.INP);
    asserts a normal end."""
    if deck is None:
        deck = (folder / "VELDA.INP").read_bytes()
    r = run_decks(folder, [deck], exe=qmr_exe(), timeout=300)[0]
    assert r.returncode == 0, r.stderr
    return folder


def run_example(name: str, folder: Path) -> Path:
    """Runs an example of the repository (a chain in turn) in ``folder``."""
    src = Path(__file__).resolve().parents[2] / "examples" / name
    decks = sorted(src.glob("deck*.inp")) or [src / "VELDA.INP"]
    for deck in decks:
        shutil.copy(deck, folder / "VELDA.INP")
        run_qmr(folder)
    return folder
