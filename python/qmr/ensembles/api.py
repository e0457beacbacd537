"""Ensembles: one model run many times with varied parameters, on the cores
of this machine or across machines with Dask.

:func:`ensemble` takes a base deck (or the decks of a chain), a table of
parameters (one row per realization, one column per deck value named by
its path in the deck object), and the outputs to collect. Each realization
runs in its own scratch folder, in a pool of local processes, in any
``concurrent.futures.Executor``, or on a Dask cluster. Results come back as
DataFrames indexed by realization and, when files are named, are appended
as realizations finish to a results file in long form and a status file,
so that an interrupted ensemble resumes where it stopped.

See docs/ensembles.md.
"""

from __future__ import annotations

import concurrent.futures as cf
import math
import os
import pickle
import sys
import tempfile
import time
import warnings
from collections import Counter, deque
from pathlib import Path
from typing import (Any, Callable, Dict, List, Mapping, Optional, Sequence,
                    Union)

import pandas as pd

from ..deck import DigitsLostWarning
from ..deck.paths import PathError
from .base import _check_parameters, _load_base, _run_args, _same, _text
from .engines import _DaskEngine, _engine, _ExecutorEngine, _PoolEngine
from .outputs import STATUS_COLUMNS, EnsembleError, PathLike, _outputs
from .realize import Outcome, _Task
from .outputs import _long
from .store import _read_results, _read_status, _Store

# The report of an ensemble (qmr.report installs it: this part does not
# import the parts above it).
REPORT: Optional[Callable[..., Path]] = None


# ---------------------------------------------------------------------------
# The results
# ---------------------------------------------------------------------------

class EnsembleResult:
    """The results of an ensemble.

    - ``status``: one row per realization of the table (indexed by its
      label): its parameter values, ``status`` (the exit status, 0 for
      success, :data:`FAILED_OUTSIDE` for a failure outside the program,
      missing for a realization not run) and ``diagnostic``;
    - ``long``: every collected value in long form (columns realization,
      output, step, time, node, x, value);
    - ``result[name]`` (or :meth:`frame`): one output as a DataFrame
      indexed by realization;
    - ``succeeded``, ``failed``: the labels; ``outputs``: the output names;
      ``results_file``, ``status_file``, ``folder`` (scratch folders kept).
    """

    def __init__(self, labels: pd.Index, status: pd.DataFrame,
                 long: Optional[pd.DataFrame],
                 results_file: Optional[Path], status_file: Optional[Path],
                 folder: Optional[Path], ran: int, lost: int) -> None:
        self._labels = labels
        self.status = status
        self._long = long
        self.results_file = results_file
        self.status_file = status_file
        self.folder = folder
        self.ran = ran          # realizations run by this call
        self.lost = lost        # runs lost with a worker and run again

    @property
    def long(self) -> pd.DataFrame:
        """Every value collected, in long form, realizations labelled as
        in the parameter table."""
        if self._long is None:
            df = _read_results(self.results_file) if self.results_file \
                and self.results_file.is_file() else _long([])
            back = {str(k): k for k in self._labels}
            df = df[df["realization"].isin(back)].copy()
            df["realization"] = df["realization"].map(back)
            self._long = df.reset_index(drop=True)
        return self._long

    @property
    def outputs(self) -> List[str]:
        """The names of the outputs collected."""
        return list(pd.unique(self.long["output"]))

    @property
    def succeeded(self) -> pd.Index:
        return self.status.index[self.status["status"] == 0]

    @property
    def failed(self) -> pd.Index:
        s = self.status["status"]
        return self.status.index[s.notna() & (s != 0)]

    def frame(self, output: str, columns: Optional[Sequence[str]] = None
              ) -> Union[pd.DataFrame, pd.Series]:
        """One output, indexed by realization (every realization of the
        table, failed ones as missing values). `columns` are the keys of
        the columns: by default those of ``node`` and ``step`` that the
        output has (``("node", "time")`` gives the times instead); an output
        of one value per realization is a Series."""
        df = self.long[self.long["output"] == output]
        if df.empty and output not in self.outputs:
            raise KeyError(f"no output {output!r} (outputs: "
                           f"{', '.join(self.outputs)})")
        if columns is None:
            columns = [c for c in ("node", "step") if df[c].notna().any()]
            if not columns:
                columns = [c for c in ("time", "x") if df[c].notna().any()]
        columns = list(columns)
        if not columns:
            s = df.set_index("realization")["value"]
            return s.reindex(self._labels).rename(output)
        wide = df.set_index(["realization", *columns])["value"] \
            .unstack(columns)
        return wide.reindex(self._labels)

    def __getitem__(self, output: str) -> Union[pd.DataFrame, pd.Series]:
        return self.frame(output)

    def summary(self) -> str:
        """One line: how many realizations succeeded and failed."""
        s = self.status["status"]
        ok = int((s == 0).sum())
        bad = s[s.notna() & (s != 0)]
        text = f"{len(s)} realizations: {ok} succeeded, {len(bad)} failed"
        if len(bad):
            by = Counter(int(v) for v in bad)
            text += " (" + ", ".join(f"exit status {k}: {n}" for k, n in
                                     sorted(by.items())) + ")"
        missing = int(s.isna().sum())
        if missing:
            text += f", {missing} not run"
        return text

    def __repr__(self) -> str:
        return f"EnsembleResult({self.summary()})"

    def report(self, out: Optional[PathLike] = None, units: Any = None,
               threshold: Optional[float] = None,
               kind: Optional[str] = None) -> Path:
        """The ensemble's report, one self-contained HTML file (default
        ``report.html`` beside the results file): percentile bands of
        every output, the chance of exceeding `threshold`, the parameters'
        distributions and rank correlations (see
        :func:`qmr.report.ensemble_report`)."""
        if REPORT is None:
            raise NotImplementedError("import qmr to write reports")
        return REPORT(self, out=out, units=units, threshold=threshold,
                      kind=kind)


# ---------------------------------------------------------------------------
# The ensemble
# ---------------------------------------------------------------------------


def _status_frame(rows: Sequence[Sequence[Any]], params: List[str],
                  labels: pd.Index) -> pd.DataFrame:
    st = pd.DataFrame(list(rows), columns=["realization", *params,
                                           *STATUS_COLUMNS], dtype=object)
    st = st.drop_duplicates("realization", keep="last") \
        .set_index("realization")
    st = st.reindex([str(k) for k in labels])
    st.index = labels
    st["status"] = pd.to_numeric(st["status"], errors="coerce") \
        .astype("Int64")
    for p in params:
        given = st[p].notna() & (st[p].astype(str) != "")
        conv = pd.to_numeric(st[p].where(given), errors="coerce")
        if conv.notna().sum() == given.sum():
            st[p] = conv
    st["diagnostic"] = st["diagnostic"].fillna("").astype(str)
    return st


def ensemble(base: Any, parameters: pd.DataFrame, outputs: Any = None,
             executor: Any = None, folder: Optional[PathLike] = None, *,
             results_file: Optional[PathLike] = None,
             status_file: Optional[PathLike] = None, keep: bool = False,
             retry_failed: bool = False, workers: Optional[int] = None,
             security: Any = None,
             files: Optional[Mapping[str, Any]] = None,
             exe: Optional[PathLike] = None, args: Sequence[str] = (),
             timeout: Optional[float] = None, progress: bool = False,
             on_result: Optional[Callable[[Outcome], None]] = None,
             max_losses: int = 3, batch: Optional[int] = None,
             full_precision: bool = True, listing: Optional[bool] = None
             ) -> EnsembleResult:
    """Run one realization of `base` per row of `parameters`.

    - `base`: a deck (object or file), or the decks of a chain run in turn
      in one folder (a list, or a mapping name -> deck); files the decks
      read and no earlier deck writes are taken from the decks' folder (or
      the working folder), or given in `files` (name -> text, bytes or
      path).
    - `parameters`: one row per realization, labelled by its row label;
      each column names a deck value by its path, numbered from 1 as in
      the deck (``media[1].conductivity``, ``prescribed_values[2].value``,
      in a chain ``flow.media[1].conductivity``). A missing value (NaN)
      leaves the base's.
    - `outputs`: what to collect (default: every observation series and
      the mass-balance imbalance of every step): :class:`Observations`,
      :class:`Profiles`, :class:`Fluxes`, :class:`Imbalance`,
      :class:`Function`, their names ("observations", "profiles",
      "fluxes", "accumulated", "imbalance", "transport.observations"), a
      function of the run's :class:`qmr.Result`, or a mapping name ->
      any of those.
    - `executor`: None (a pool of local processes, `workers` of them, one
      per core by default), any ``concurrent.futures.Executor``, a
      ``distributed.Client``, or the address of a Dask scheduler
      (``"tls://10.0.0.5:8786"``) with `security` (a
      ``distributed.security.Security`` or (CA, certificate, key) files).
    - `folder`: where the scratch folders go (one per realization, named
      after its label); by default each worker's QMR_SCRATCH, else
      /dev/shm when it has 1 GiB free, else its temporary folder. They are
      removed once read unless `keep`.
    - `results_file`, `status_file`: CSV files the realizations are
      appended to as they finish (the status file defaults to the results
      file's name with ``.status.csv``). Run again with the same files, the
      ensemble runs only the realizations missing from them, refuses to go
      on when a label's parameter values differ from those recorded, and
      runs the failed ones again only with `retry_failed`.
    - `exe`, `args`, `timeout`: the program (found on each worker as
      :func:`qmr.find_exe` finds it when None), its options, and a time
      limit in seconds per run.
    - `full_precision`: the program writes its CSV files (``--csv``) and
      the values come from them, every digit (False: from the graphic
      file's four digits). `listing`: whether the runs write their
      listings; by default only when an output needs one (a function of
      the result, or fluxes of a deck without a flux file): leaving it
      out (``--no-listing``) saves most of a short run's cost.
    - `progress`: a tqdm progress bar on standard error; `on_result` is
      called in this process with each :class:`Outcome`.

    - `batch`: realizations per task sent to the engine (by default up
      to 8 on local processes and 16 on Dask, as long as each worker still
      gets at least 16 tasks); batches cut the per-task cost of the engine
      for short runs. The realizations of a task are recorded when the
      whole task is done.

    A realization that fails (its exit status and diagnostic recorded)
    never stops the others; one lost with its worker is run again, up to
    `max_losses` times, after which the ensemble stops (and can be
    resumed).
    """
    decks, aux = _load_base(base, files)
    try:
        _check_parameters(parameters, decks)
    except PathError as e:
        raise EnsembleError(str(e)) from None
    wanted = _outputs(outputs, decks)
    args = _run_args(args, wanted, decks, full_precision, listing)
    params = [str(c) for c in parameters.columns]
    labels = parameters.index
    keys = [str(k) for k in labels]

    rpath = Path(results_file) if results_file is not None else None
    spath = Path(status_file) if status_file is not None else (
        rpath.with_name(rpath.stem + ".status.csv") if rpath else None)
    store = _Store(rpath, spath, params)
    rows = dict(zip(keys, parameters.itertuples(index=False, name=None)))
    texts = {k: [_text(v) for v in row] for k, row in rows.items()}

    before = store.earlier()
    changed = [k for k in keys if k in before.index and not all(
        _same(a, b) for a, b in zip(texts[k], before.loc[k, params]))]
    if changed:
        raise EnsembleError(
            f"{len(changed)} realizations have other parameter values than "
            f"{spath} records (labels {', '.join(changed[:5])}"
            f"{', ...' if len(changed) > 5 else ''}): give them new labels, "
            "or name other files")
    status_before = pd.to_numeric(before["status"], errors="coerce")
    done_before = set(before.index[status_before == 0])
    failed_before = set(before.index[status_before != 0])
    store.prune(done_before)
    todo = [k for k in keys if k not in done_before
            and (retry_failed or k not in failed_before)]

    root = Path(folder).resolve() if folder is not None else None
    if keep and root is None:
        root = Path(tempfile.mkdtemp(prefix="qmr-ensemble-"))
    blob = pickle.dumps((decks.decks, decks.names))
    scratch = f"qmr-ensemble-{os.getpid()}-{time.time_ns():x}"
    exe_s = os.fspath(exe) if exe is not None else None

    # With a results file, the workers format their rows as its lines: the
    # parent then only appends them (unless on_result wants the rows).
    as_text = rpath is not None and on_result is None

    def task(k: str) -> _Task:
        vals = [(c, v) for c, v in zip(params, rows[k])
                if not (v is None or (isinstance(v, float) and math.isnan(v)))]
        return _Task(k, blob, vals, wanted, aux, exe_s, tuple(args), timeout,
                     str(root) if root is not None else None, keep, scratch,
                     as_text)

    losses: Counter = Counter()
    recorded: set = set()
    rounded, first_rounded = 0, ""
    engine = _engine(executor, workers, security) if todo else None
    if isinstance(engine, (_PoolEngine, _ExecutorEngine)) and \
            not isinstance(executor, cf.ThreadPoolExecutor):
        try:
            pickle.dumps(wanted)
        except Exception as e:
            engine.close()
            raise EnsembleError(
                f"the outputs cannot be sent to other processes ({e}): "
                "define output functions at the top of a module") from None
    store.start()
    bar = None
    if progress and todo:
        from tqdm import tqdm
        bar = tqdm(total=len(todo), unit="run", file=sys.stderr,
                   dynamic_ncols=True)
    if batch is None and engine is not None:
        # Every task costs the engine's machinery: a Dask task about a
        # millisecond of the scheduler, a local one a few tenths in this
        # process (pickling, the pool's threads, a pipe each way) besides
        # the wake-ups. A few realizations per task, still at least 16
        # tasks per worker so that the work stays evenly spread.
        most = 16 if isinstance(engine, _DaskEngine) else 8
        batch = max(1, min(most, len(todo) // (16 * engine.workers)))
    batch = max(1, int(batch or 1))

    def lose(keys: List[str], cause: Optional[BaseException]) -> None:
        for k in reversed(keys):
            losses[k] += 1
            if losses[k] > max_losses:
                raise EnsembleError(
                    f"realization {k} was lost with its worker {losses[k]} "
                    "times; run the ensemble again to continue") from cause
            queue.appendleft(k)

    def restart() -> None:
        # The pool lost a process: every task still in it is lost too.
        # Start a new pool and give them to it.
        for fut, keys in list(pending.items()):
            if fut.done() and not fut.cancelled() and \
                    fut.exception() is None:
                continue
            pending.pop(fut)
            lose(keys, None)
        engine.replace()  # type: ignore

    try:
        queue = deque(todo)
        pending: Dict[cf.Future, List[str]] = {}
        window = max(8, 4 * engine.workers) if engine else 0
        while queue or pending:
            while queue and len(pending) < window:
                keys = [queue.popleft()
                        for _ in range(min(batch, len(queue)))]
                try:
                    fut = engine.submit(  # type: ignore
                        [task(k) for k in keys])
                except Exception as e:
                    queue.extendleft(reversed(keys))
                    if not (isinstance(engine, _PoolEngine)
                            and engine.lost(e)):
                        raise
                    restart()    # it broke since the last look
                    continue
                pending[fut] = keys
            finished, _ = cf.wait(list(pending),
                                  return_when=cf.FIRST_COMPLETED)
            broke = False
            for fut in finished:
                keys = pending.pop(fut)
                try:
                    outs = fut.result()
                except BaseException as e:
                    if not (engine and engine.lost(e)):
                        if isinstance(e, (KeyboardInterrupt, SystemExit)):
                            raise
                        # A realization's own failures come back as its
                        # outcome: this is the engine's (a worker that
                        # cannot import qmr, a task it cannot unpickle).
                        raise EnsembleError(
                            f"the workers could not run realization "
                            f"{keys[0]}: {type(e).__name__}: {e} (is the "
                            "qmr package importable where they run?)") \
                            from e
                    lose(keys, e)
                    broke = broke or isinstance(engine, _PoolEngine)
                    continue
                for out in outs:
                    k = out.key
                    if k in recorded:
                        continue
                    recorded.add(k)
                    if out.digits_lost:
                        rounded += 1
                        first_rounded = first_rounded or out.digits_lost
                    store.add(k, texts[k], out)
                    if bar is not None:
                        bar.update()
                    if on_result is not None:
                        on_result(out)
            if broke:
                restart()
    finally:
        store.flush()
        if bar is not None:
            bar.close()
        if engine is not None:
            # Folders of realizations lost with their workers: on Dask
            # through the workers, before the client goes; locally once
            # the pool has stopped.
            dask = isinstance(engine, _DaskEngine)
            try:
                if root is None and dask:
                    engine.remove_scratch(scratch)
            finally:
                engine.close()
            if root is None and not dask:
                engine.remove_scratch(scratch)

    if rounded:
        warnings.warn(DigitsLostWarning(
            f"{rounded} realizations ran with values rounded to fit their "
            f"deck fields (the status file keeps the table's); the first: "
            f"{first_rounded}"), stacklevel=2)
    if rpath is not None and spath is not None and spath.is_file():
        st_rows = _read_status(spath).values.tolist()
        long = None
    else:
        st_rows = store.kept_status
        long = _long(store.kept)
        back = {str(k): k for k in labels}
        long["realization"] = long["realization"].map(back)
    status = _status_frame(st_rows, params, labels)
    return EnsembleResult(labels, status, long, rpath, spath,
                          root if keep else None, len(recorded),
                          sum(losses.values()))
