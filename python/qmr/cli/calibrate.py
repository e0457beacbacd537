"""The commands ``qmr-calibrate`` (a calibration from the command line)
and ``qmr-pest`` (the calibration suites' files and their check); see
docs/calibration.md."""

from __future__ import annotations

import argparse
import sys
from pathlib import Path
from typing import Any, NoReturn, Optional, Sequence

import pandas as pd

from ..calibration.api import calibrate
from ..calibration.params import CalibrationError
from ..calibration.suite import write_suite
from ..calibration.suitecheck import check_suite
from ..deck import DeckError
from ..runner import RunError
from .common import one_line

EXIT_CONVERGED = 0
EXIT_NOT_CONVERGED = 1
EXIT_BAD_INPUT = 2
EXIT_USAGE = 64


class _Parser(argparse.ArgumentParser):
    """A usage mistake: one line on standard error, exit status 64."""

    def error(self, message: str) -> NoReturn:
        print(f"{self.prog}: {' '.join(message.split())} (see {self.prog} "
              "--help)", file=sys.stderr)
        sys.exit(EXIT_USAGE)


def _refuse(prog: str, e: BaseException) -> int:
    print(f"{prog}: {one_line(e)}", file=sys.stderr)
    return EXIT_BAD_INPUT


_BAD_INPUT = (CalibrationError, DeckError, RunError, OSError, ValueError,
              KeyError)


# ---------------------------------------------------------------------------
# qmr-calibrate
# ---------------------------------------------------------------------------

def summary(cal: Any) -> str:
    """A plain text account of a calibration: how it ended, the
    estimates with their standard errors and 95 % intervals, the fit per
    group."""
    state = "converged" if cal.converged else "did not converge"
    lines = [f"Calibration {state}: {cal.stop_reason}; objective "
             f"{cal.objective:.6g} after {cal.runs} runs, "
             f"{len(cal.history) - 1} iterations", ""]
    est = pd.DataFrame({"estimate": cal.estimates,
                        "std_error": cal.std_errors,
                        "lower_95": cal.intervals["lower"],
                        "upper_95": cal.intervals["upper"]})
    lines += [est.to_string(float_format=lambda v: f"{v:.6g}"), ""]
    lines += [cal.statistics.to_string(float_format=lambda v: f"{v:.4g}")]
    if len(cal.unresolved):
        lines += ["", "Combinations the data cannot resolve:",
                  cal.unresolved.to_string(float_format=lambda v: f"{v:.3f}")]
    lines += ["", f"Files: {cal.folder}"]
    return "\n".join(lines) + "\n"


def _report(cal: Any) -> str:
    try:
        text = cal.report()
    except ImportError:
        return summary(cal)
    return text if isinstance(text, str) else summary(cal)


def calibrate_main(argv: Optional[Sequence[str]] = None) -> int:
    """``qmr-calibrate DECK... PARAMS.csv OBS.csv [--out DIR]``."""
    p = _Parser(prog="qmr-calibrate",
                description="Calibrates deck parameters on measured data "
                "with the program's exact derivatives (docs/calibration.md)."
                " Exit status 0 when it converged, 1 when it stopped "
                "without converging, 2 on input it cannot use, 64 on a "
                "usage error.")
    p.add_argument("files", nargs="+", metavar="DECK... PARAMS.csv OBS.csv",
                   help="the deck (two decks: a flow deck and the transport "
                   "deck that reads its velocity file), the parameter "
                   "table, the observation table")
    p.add_argument("--out", metavar="DIR",
                   help="folder of the results (default: "
                   "./calibration)")
    p.add_argument("--max-iterations", type=int, default=50, metavar="N")
    p.add_argument("--max-runs", type=int, default=200, metavar="N")
    p.add_argument("--no-plots", action="store_true",
                   help="write no figures")
    p.add_argument("--quiet", action="store_true",
                   help="no progress line")
    a = p.parse_args(argv)
    if len(a.files) < 3:
        p.error("give the deck, the parameter table and the observation "
                "table")
    decks = a.files[:-2]
    if len(decks) > 2:
        p.error("one deck, or a flow deck and a transport deck")
    out = Path(a.out or "calibration")
    tty = sys.stderr.isatty()

    def progress(row: dict) -> None:
        if a.quiet:
            return
        text = (f"qmr-calibrate: iteration {row['iteration']}, objective "
                f"{row['objective']:.6g}, {row['runs']} runs")
        print(("\r" + text + "   ") if tty else text, end="" if tty
              else "\n", file=sys.stderr, flush=True)

    try:
        cal = calibrate(decks[0] if len(decks) == 1 else decks,
                        a.files[-2], a.files[-1], out,
                        max_iterations=a.max_iterations,
                        max_runs=a.max_runs, plots=not a.no_plots,
                        progress=progress)
    except _BAD_INPUT as e:
        if tty and not a.quiet:
            print(file=sys.stderr)
        return _refuse("qmr-calibrate", e)
    if tty and not a.quiet:
        print(file=sys.stderr)
    sys.stdout.write(_report(cal))
    return EXIT_CONVERGED if cal.converged else EXIT_NOT_CONVERGED


# ---------------------------------------------------------------------------
# qmr-pest
# ---------------------------------------------------------------------------

def pest_main(argv: Optional[Sequence[str]] = None) -> int:
    """``qmr-pest DECK PARAMS.csv OBS.csv --out DIR`` writes the suite's
    files; ``qmr-pest check DIR`` runs them once per parameter."""
    argv = list(sys.argv[1:] if argv is None else argv)
    if argv[:1] == ["check"]:
        p = _Parser(prog="qmr-pest check",
                    description="Runs the model command of the suite's "
                    "files once at the starting values and once per "
                    "adjustable parameter, perturbed by 1 %, and shows that "
                    "every observation responds and no value is lost to a "
                    "field width. Exit status 0 when so, 1 when not.")
        p.add_argument("folder", metavar="DIR")
        p.add_argument("--relative", type=float, default=0.01,
                       help="the relative perturbation (default 0.01)")
        a = p.parse_args(argv[1:])
        try:
            res = check_suite(a.folder, relative=a.relative)
        except _BAD_INPUT as e:
            return _refuse("qmr-pest check", e)
        table = res.responses.copy()
        table.insert(0, "simulated", res.base)
        print(table.to_string(float_format=lambda v: f"{v:.4g}"))
        print(f"\n{res.runs} runs.")
        for n in res.unresponsive:
            print(f"qmr-pest check: observation {n} responds to no "
                  "parameter")
        for n in res.lost:
            print(f"qmr-pest check: value lost: {n}")
        if res.ok:
            print("Every observation responds; no value is lost to a field "
                  "width.")
        return 0 if res.ok else 1
    p = _Parser(prog="qmr-pest",
                description="Writes the files of the general calibration "
                "suites for a deck: the control file (keyword format, "
                "control file version 2), a template of the --parameters "
                "file, an instruction file reading X.match.csv, the model "
                "command (docs/calibration.md). `qmr-pest check DIR` runs "
                "them once per parameter.")
    p.add_argument("deck", metavar="DECK")
    p.add_argument("parameters", metavar="PARAMS.csv")
    p.add_argument("observations", metavar="OBS.csv")
    p.add_argument("--out", required=True, metavar="DIR")
    p.add_argument("--exe", metavar="QMR",
                   help="the program the command runs (default: the one "
                   "the package finds)")
    a = p.parse_args(argv)
    try:
        path = write_suite(a.deck, a.parameters, a.observations, a.out,
                           exe=a.exe)
    except _BAD_INPUT as e:
        return _refuse("qmr-pest", e)
    print(f"qmr-pest: wrote {path} and the files it names in {path.parent}")
    return 0
