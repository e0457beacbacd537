"""The command ``qmr-ensemble``: one qmr realization per row of a
parameter table, results appended to CSV files (docs/ensembles.md)."""

from __future__ import annotations

import re
import sys
from pathlib import Path
from typing import Any, Callable, List, Optional, Sequence, Tuple

import numpy as np
import pandas as pd

from ..ensembles.api import PathLike, ensemble
from ..ensembles.base import _load_base
from ..ensembles.outputs import (EnsembleError, Fluxes, Function, Imbalance,
                                 Observations, Output, Profiles)
from .common import Parser, load_function, one_line


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
    p = Parser(
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
    g.add_argument("--at-time", metavar="TIMES",
                   help="keep the rows of these times alone (3652.5 or "
                   "365.25,3652.5), for every output")
    g.add_argument("--deck", metavar="NAME",
                   help="in a chain, collect from this deck alone (flow, "
                   "transport, deck1, ...)")
    g.add_argument("--function", action="append", default=[],
                   metavar="FILE.py:NAME",
                   help="a function of the run's qmr.Result (repeatable)")
    p.add_argument("--exe", metavar="PATH", help="the qmr program")
    p.add_argument("--arg", action="append", default=[], metavar="ARG",
                   help="an option passed to qmr (repeatable; --arg --csv "
                   "and --arg=--csv alike)")
    p.add_argument("--listing", action="store_true",
                   help="the runs write their listings (by default only "
                   "when an output needs one)")
    p.add_argument("--four-digits", action="store_true",
                   help="read the graphic file's four digits instead of "
                   "the CSV files' full precision")
    p.add_argument("--timeout", type=float, metavar="SECONDS",
                   help="time limit of one run")
    bar = p.add_mutually_exclusive_group()
    bar.add_argument("--progress", dest="progress", action="store_true",
                     default=None, help="progress bar (default: when "
                     "standard error is a terminal)")
    bar.add_argument("--no-progress", dest="progress", action="store_false")
    return p


def _cli_outputs(a: Any) -> Optional[List[Output]]:
    kw: dict = {}
    if a.deck:
        kw["deck"] = a.deck
    if a.at_time:
        try:
            kw["times"] = tuple(float(t) for t in a.at_time.split(",")
                                if t.strip())
        except ValueError:
            raise ValueError(f"--at-time {a.at_time!r}: not a list of "
                             "times (365.25,3652.5)") from None
    out: List[Output] = []
    if a.observations is not None:
        out.append(Observations(nodes=_numbers(a.observations or None),
                                **kw))
    if a.profiles is not None:
        out.append(Profiles(steps=_numbers(a.profiles or None), **kw))
    if a.fluxes is not None:
        out.append(Fluxes(nodes=_numbers(a.fluxes or None), **kw))
    if a.accumulated is not None:
        out.append(Fluxes(nodes=_numbers(a.accumulated or None),
                          accumulated=True, **kw))
    if a.imbalance:
        out.append(Imbalance(**kw))
    for wanted in a.function:
        fn = _load_function(wanted)
        out.append(Function(name=wanted.rpartition(":")[2], fn=fn))
    if not out and kw:
        out = [Observations(**kw), Imbalance(**kw)]
    return out or None


def _table_fault(path: PathLike, what: str) -> EnsembleError:
    return EnsembleError(f"{path}: {what}")


def read_parameters(path: PathLike, base: Any = None) -> pd.DataFrame:
    """A parameter table from a CSV file: a header line, then one row per
    realization. The first column labels the realizations (kept as text)
    and the others are named by deck paths; a table whose first column is
    itself a deck path of the `base` decks (or, without them, names a
    list item or a value of one, ``media[1].conductivity``) has no label
    column and its realizations are numbered 1..n.

    Raises :class:`EnsembleError` with one line naming the file for a
    table that is missing, empty, without rows, with a column named twice,
    a label missing or given twice, or a value that is not a number in a
    column of numbers."""
    p = Path(path)
    try:
        raw = pd.read_csv(p, header=None, dtype=str, keep_default_na=False,
                          encoding="utf-8-sig", skipinitialspace=True)
    except FileNotFoundError:
        raise _table_fault(path, "no such file") from None
    except IsADirectoryError:
        raise _table_fault(path, "is a folder, not a table") from None
    except UnicodeDecodeError:
        raise _table_fault(path, "is not a text file (CSV, UTF-8)") \
            from None
    except pd.errors.EmptyDataError:
        raw = pd.DataFrame()
    except (ValueError, OSError) as e:
        raise _table_fault(path, "not a CSV table: "
                           + " ".join(str(e).split())) from None
    names = [str(h).strip() for h in raw.iloc[0]] if len(raw) else []
    if not any(names):
        raise _table_fault(path, "empty: the first line names the columns "
                           "(a label column, then deck paths), each row "
                           "below is one realization")
    twice = sorted({n for n in names if names.count(n) > 1})
    if twice:
        raise _table_fault(path, f"column {twice[0]!r} named twice")
    df = raw.iloc[1:].reset_index(drop=True)
    df.columns = names
    if len(df) == 0:
        raise _table_fault(path, "no realization: the header has no rows "
                           "below it")
    if _is_path(names[0], base):
        df.index = pd.RangeIndex(1, len(df) + 1, name="realization")
    else:
        labels = df[names[0]].str.strip()
        if (labels == "").any():
            row = int(np.flatnonzero(labels == "")[0]) + 2
            raise _table_fault(path, f"line {row}: no label in the first "
                               f"column ({names[0]!r}), which labels the "
                               "realizations")
        dup = labels[labels.duplicated()]
        if len(dup):
            raise _table_fault(path, f"realization {dup.iloc[0]!r} labelled "
                               "twice (the first column labels the "
                               "realizations)")
        df = df.drop(columns=names[0])
        df.index = pd.Index(labels.to_numpy(), name=names[0])
    if df.shape[1] == 0:
        raise _table_fault(path, "no parameter column: after the label "
                           "column, one column per deck path")
    out = {}
    for col in df.columns:
        text = df[col].str.strip()
        given = text != ""
        num = pd.to_numeric(text.where(given), errors="coerce")
        bad = given & num.isna()
        if bad.any() and not bad.all():
            k = df.index[np.flatnonzero(bad.to_numpy())[0]]
            raise _table_fault(path, f"realization {k}, column {col!r}: "
                               f"{text[bad].iloc[0]!r} is not a number")
        out[col] = num if not bad.any() else text.where(given)
    return pd.DataFrame(out, index=df.index)


def _is_path(name: str, base: Any) -> bool:
    """Whether a column name is a deck path: of the base decks when they
    are given, else by its form (an item of a list, or a dotted path)."""
    from ..deck.paths import PathError, _Decks, _walk
    if base is not None:
        try:
            decks = base if isinstance(base, _Decks) else _Decks(base)
            i, segs = decks.split(name)
            _walk(decks.decks[i].copy(), segs, name)
            return True
        except (PathError, EnsembleError):
            return False
    return "[" in name or "." in name


def _join_arg_values(argv: Sequence[str]) -> List[str]:
    """``--arg X`` taken as ``--arg=X``, so that the value may begin with
    a dash (``--arg --csv``)."""
    out: List[str] = []
    it = iter(argv)
    for a in it:
        if a == "--arg":
            nxt = next(it, None)
            out.append("--arg" if nxt is None else f"--arg={nxt}")
        else:
            out.append(a)
    return out


def main(argv: Optional[Sequence[str]] = None) -> int:
    """The command ``qmr-ensemble``; returns its exit status: 0 when every
    realization succeeded, 1 when some failed, 2 when the ensemble was
    refused (a bad option, table or deck), 130 when interrupted."""
    if argv is None:
        argv = sys.argv[1:]
    a = _parser().parse_args(_join_arg_values(argv))
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
        base = _load_base(a.files[:-1], None)[0]
        params = read_parameters(a.files[-1], base)
        outputs = _cli_outputs(a)
        res = ensemble(
            a.files[:-1], params, outputs,
            executor=a.scheduler, folder=a.folder, results_file=a.out,
            status_file=a.status, keep=a.keep, retry_failed=a.retry_failed,
            workers=a.workers, security=tuple(tls) if all(tls) else None,
            exe=a.exe, args=a.arg, timeout=a.timeout, progress=progress,
            full_precision=not a.four_digits,
            listing=True if a.listing else None)
    except KeyboardInterrupt:
        print(f"{prog}: interrupted; what finished is in {a.out}: run the "
              "same command again to continue", file=sys.stderr)
        return EXIT_INTERRUPTED
    except (EnsembleError, ValueError, OSError, TypeError) as e:
        print(f"{prog}: {one_line(e)}", file=sys.stderr)
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
