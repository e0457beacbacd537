"""The command ``qmr-report``: one self-contained HTML report of a run, a
chain of runs or an ensemble (see :mod:`qmr.report`)."""

from __future__ import annotations

import sys
import warnings
from pathlib import Path
from typing import Any, Optional, Sequence

from ..report import ensemble_report, run_report
from ..report.run import run_decks, write_run_report
from ..runner import RunError
from ..units import Units
from .common import Parser, one_line

EXIT_OK = 0
EXIT_FAILED = 1
EXIT_ERROR = 2


def _parser() -> Any:
    p = Parser(
        prog="qmr-report",
        description="Writes one self-contained HTML report (it opens "
        "offline in any browser): given decks, runs them with --csv in a "
        "folder (a chain: in turn, in one folder) and reports them; given "
        "the folder of a finished run, reports what is there; with "
        "--ensemble, reports an ensemble's results file. Prints the "
        "report's path.",
        epilog="Exit status: 0 report written; 1 report written of a run "
        "that failed; 2 error (usage, unreadable input, no report).")
    p.add_argument("inputs", nargs="*", metavar="DECK_OR_FOLDER",
                   help="the deck(s) to run (a chain in order), or the "
                   "folder of a finished run")
    p.add_argument("--units", metavar="LENGTH,TIME[,CONCENTRATION]",
                   help="units of the model, e.g. m,d or m,d,mg/L "
                   "(default: none declared; labels then say length, time "
                   "and concentration)")
    p.add_argument("--out", metavar="FILE",
                   help="the report (default: report.html in the run's "
                   "folder, or beside the results file)")
    p.add_argument("--folder", metavar="DIR",
                   help="where decks are run (default: a folder named "
                   "after the first deck's folder with -run, in the "
                   "working folder)")
    p.add_argument("--exe", metavar="PATH", help="the qmr program")
    p.add_argument("--ensemble", metavar="RESULTS.csv",
                   help="report the results file of qmr-ensemble")
    p.add_argument("--status", metavar="STATUS.csv",
                   help="its status file (default: RESULTS.status.csv)")
    p.add_argument("--threshold", type=float, metavar="VALUE",
                   help="with --ensemble: the chance that each output "
                   "exceeds VALUE")
    p.add_argument("--kind", choices=("flow", "transport"),
                   help="with --ensemble: the run type, which names the "
                   "observations' values (head or concentration)")
    return p


def _default_folder(first: Path) -> Path:
    base = first.resolve().parent.name or first.stem
    return Path.cwd() / f"{base}-run"


def main(argv: Optional[Sequence[str]] = None) -> int:
    """The ``qmr-report`` command; returns its exit status."""
    ap = _parser()
    a = ap.parse_args(argv)
    try:
        units = Units.parse(a.units)
    except ValueError as e:
        ap.error(str(e))
    if a.ensemble and a.inputs:
        ap.error("give decks, a folder, or --ensemble, not both")
    if not a.ensemble and not a.inputs:
        ap.error("give the deck(s) or the folder of a run, or --ensemble")

    def fail(message: str) -> int:
        print(f"qmr-report: {' '.join(message.split())}", file=sys.stderr)
        return EXIT_ERROR

    status = EXIT_OK
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            if a.ensemble:
                path = ensemble_report(a.ensemble, a.out, units,
                                       threshold=a.threshold,
                                       status=a.status, kind=a.kind)
            else:
                given = [Path(p) for p in a.inputs]
                if len(given) == 1 and given[0].is_dir():
                    path = run_report(given[0], a.out, units)
                else:
                    missing = [str(p) for p in given if not p.is_file()]
                    if missing:
                        return fail(f"{', '.join(missing)}: no such deck or "
                                    "folder")
                    folder = Path(a.folder) if a.folder else \
                        _default_folder(given[0])
                    runs = run_decks(given, folder, a.exe)
                    path = write_run_report(
                        runs, a.out or folder / "report.html", units)
                    if runs[-1].failed or len(runs) < len(given):
                        status = EXIT_FAILED
    except RunError as e:
        return fail(one_line(e))
    except (OSError, ValueError, KeyError, ImportError) as e:
        return fail(one_line(e))
    print(path)
    return status


if __name__ == "__main__":
    sys.exit(main())
