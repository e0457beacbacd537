"""The command ``qmr-ensemble``: one qmr realization per row of a
parameter table, results appended to CSV files (docs/ensembles.md)."""

from __future__ import annotations

import re
import sys
from pathlib import Path
from typing import Any, Callable, List, Optional, Sequence, Tuple

import pandas as pd

from .common import load_function
from ..ensembles.api import ensemble, PathLike
from ..ensembles.outputs import (EnsembleError, Fluxes, Function, Imbalance,
                                 Observations, Output, Profiles)


# ---------------------------------------------------------------------------
# The command: tools/qmr-ensemble
# ---------------------------------------------------------------------------

EXIT_ALL_OK = 0
EXIT_SOME_FAILED = 1
EXIT_REFUSED = 2
EXIT_INTERRUPTED = 130


def _numbers(text: Optional[str]) -> Optional[Tuple[int, ...]]:
    if text is None:
        return None
    try:
        return tuple(int(t) for t in text.split(",") if t.strip())
    except ValueError:
        raise ValueError(f"{text!r} is not a list of numbers (11,21,41)") \
            from None


def _load_function(wanted: str) -> Callable[[Any], Any]:
    """The output function of ``--function FILE.py:NAME``, its module
    registered so that local workers find it and, with cloudpickle, sent
    by value to Dask workers elsewhere."""
    file = wanted.rpartition(":")[0]
    mod_name = "qmr_ensemble_" + re.sub(r"\W", "_", Path(file).stem)
    fn = load_function(wanted, mod_name, register=True)
    try:
        import cloudpickle
        cloudpickle.register_pickle_by_value(sys.modules[mod_name])
    except (ImportError, AttributeError):
        pass
    return fn


def _parser() -> Any:
    import argparse
    p = argparse.ArgumentParser(
        prog="qmr-ensemble",
        description="Runs one qmr realization per row of a parameter table "
        "and appends the results to CSV files (see docs/ensembles.md).")
    p.add_argument("files", nargs="+", metavar="BASE... PARAMS.csv",
                   help="the base deck (several decks: a chain run in "
                   "turn in one folder), then the parameter table: a CSV "
                   "file whose first column labels the realizations and "
                   "whose other columns are named by deck paths "
                   "(media[1].conductivity, in a chain "
                   "flow.media[1].conductivity)")
    p.add_argument("--out", required=True, metavar="RESULTS.csv",
                   help="results file, long form: realization, output, "
                   "step, time, node, x, value")
    p.add_argument("--status", metavar="STATUS.csv",
                   help="status file (default: RESULTS.status.csv)")
    p.add_argument("--scheduler", metavar="ADDRESS",
                   help="a Dask scheduler (tcp://host:8786, tls://...); "
                   "default: local processes")
    p.add_argument("--workers", type=int, metavar="N",
                   help="local processes (default: one per core)")
    p.add_argument("--tls-ca-file", metavar="FILE")
    p.add_argument("--tls-cert", metavar="FILE")
    p.add_argument("--tls-key", metavar="FILE")
    p.add_argument("--folder", metavar="DIR",
                   help="where the scratch folders go")
    p.add_argument("--keep", action="store_true",
                   help="keep each realization's folder")
    p.add_argument("--retry-failed", action="store_true",
                   help="run the realizations recorded as failed again")
    g = p.add_argument_group(
        "outputs (default: --observations --imbalance; any of these "
        "replaces the default)")
    g.add_argument("--observations", nargs="?", const="", metavar="NODES",
                   help="observation series (of nodes 11,21,... or all)")
    g.add_argument("--profiles", nargs="?", const="", metavar="STEPS",
                   help="profiles (of steps 25,50,... or all)")
    g.add_argument("--fluxes", nargs="?", const="", metavar="NODES",
                   help="flux rates at prescribed-value nodes")
    g.add_argument("--accumulated", nargs="?", const="", metavar="NODES",
                   help="accumulated fluxes of the flux history")
    g.add_argument("--imbalance", action="store_true",
                   help="mass-balance imbalance of every printed step")
    g.add_argument("--function", action="append", default=[],
                   metavar="FILE.py:NAME",
                   help="a function of the run's qmr.Result (repeatable)")
    p.add_argument("--exe", metavar="PATH", help="the qmr program")
    p.add_argument("--arg", action="append", default=[], metavar="ARG",
                   help="an option passed to qmr (repeatable)")
    p.add_argument("--timeout", type=float, metavar="SECONDS",
                   help="time limit of one run")
    bar = p.add_mutually_exclusive_group()
    bar.add_argument("--progress", dest="progress", action="store_true",
                     default=None, help="progress bar (default: when "
                     "standard error is a terminal)")
    bar.add_argument("--no-progress", dest="progress", action="store_false")
    return p


def _cli_outputs(a: Any) -> Optional[List[Output]]:
    out: List[Output] = []
    if a.observations is not None:
        out.append(Observations(nodes=_numbers(a.observations or None)))
    if a.profiles is not None:
        out.append(Profiles(steps=_numbers(a.profiles or None)))
    if a.fluxes is not None:
        out.append(Fluxes(nodes=_numbers(a.fluxes or None)))
    if a.accumulated is not None:
        out.append(Fluxes(nodes=_numbers(a.accumulated or None),
                          accumulated=True))
    if a.imbalance:
        out.append(Imbalance())
    for wanted in a.function:
        fn = _load_function(wanted)
        out.append(Function(name=wanted.rpartition(":")[2], fn=fn))
    return out or None


def read_parameters(path: PathLike) -> pd.DataFrame:
    """A parameter table from a CSV file: the first column labels the
    realizations (kept as text), the others are named by deck paths."""
    df = pd.read_csv(path, converters={0: str}, float_precision="round_trip")
    if df.shape[1] < 1:
        raise EnsembleError(f"{path}: no label column")
    return df.set_index(df.columns[0])


def main(argv: Optional[Sequence[str]] = None) -> int:
    """The command ``qmr-ensemble``; returns its exit status: 0 when every
    realization succeeded, 1 when some failed, 2 when the ensemble was
    refused (a bad option, table or deck), 130 when interrupted."""
    a = _parser().parse_args(argv)
    prog = "qmr-ensemble"
    if len(a.files) < 2:
        print(f"{prog}: give the base deck(s) and the parameter table",
              file=sys.stderr)
        return EXIT_REFUSED
    tls = [a.tls_ca_file, a.tls_cert, a.tls_key]
    if any(tls) and not all(tls):
        print(f"{prog}: TLS needs --tls-ca-file, --tls-cert and --tls-key",
              file=sys.stderr)
        return EXIT_REFUSED
    progress = a.progress if a.progress is not None else sys.stderr.isatty()
    try:
        params = read_parameters(a.files[-1])
        outputs = _cli_outputs(a)
        res = ensemble(
            a.files[:-1], params, outputs,
            executor=a.scheduler, folder=a.folder, results_file=a.out,
            status_file=a.status, keep=a.keep, retry_failed=a.retry_failed,
            workers=a.workers, security=tuple(tls) if all(tls) else None,
            exe=a.exe, args=a.arg, timeout=a.timeout, progress=progress)
    except KeyboardInterrupt:
        print(f"{prog}: interrupted; what finished is in {a.out}: run the "
              "same command again to continue", file=sys.stderr)
        return EXIT_INTERRUPTED
    except (EnsembleError, ValueError, OSError, TypeError) as e:
        print(f"{prog}: {e}", file=sys.stderr)
        return EXIT_REFUSED
    print(f"{prog}: {res.summary()}; {res.ran} run now; results in "
          f"{res.results_file}, status in {res.status_file}",
          file=sys.stderr)
    if res.folder is not None:
        print(f"{prog}: the realizations' folders are in {res.folder}",
              file=sys.stderr)
    for k, row in res.status.loc[res.failed].head(5).iterrows():
        print(f"{prog}: realization {k}: exit status {row['status']}: "
              f"{row['diagnostic']}", file=sys.stderr)
    return EXIT_ALL_OK if len(res.failed) == 0 else EXIT_SOME_FAILED


if __name__ == "__main__":
    sys.exit(main())
