"""The results and status files of an ensemble: what earlier runs
recorded, and the rows of new realizations appended as they finish, so
that an interrupted ensemble resumes where it stopped."""

from __future__ import annotations

import os
import time
from pathlib import Path
from typing import Any, Iterable, List, Optional, Sequence, Tuple

import pandas as pd

from .outputs import (RESULT_COLUMNS, STATUS_COLUMNS, Block, EnsembleError,
                      _long)
from .realize import Outcome


# ---------------------------------------------------------------------------
# Results and status files
# ---------------------------------------------------------------------------

def _csv_safe_rewrite_tail(path: Path) -> None:
    """Cut a last line that an interrupted write left unfinished."""
    if not path.is_file():
        return
    size = path.stat().st_size
    if size == 0:
        return
    with open(path, "rb+") as fh:
        fh.seek(size - 1)
        if fh.read(1) == b"\n":
            return
        back = min(size, 1 << 20)
        while True:
            fh.seek(size - back)
            chunk = fh.read(back)
            cut = chunk.rfind(b"\n")
            if cut >= 0 or back == size:
                fh.truncate(size - back + cut + 1 if cut >= 0 else 0)
                return
            back = min(size, back * 2)


def _read_status(path: Path) -> pd.DataFrame:
    return pd.read_csv(path, dtype=str, keep_default_na=False)


def _read_results(path: Path, usecols: Optional[Sequence[str]] = None
                  ) -> pd.DataFrame:
    return pd.read_csv(path, usecols=usecols, float_precision="round_trip",
                       dtype={"realization": str, "output": str,
                              "step": "Int64", "node": "Int64"},
                       keep_default_na=False, na_values=[""])


class _Store:
    """The results and status files: what earlier runs recorded, and the
    rows of new realizations appended as they finish."""

    def __init__(self, results: Optional[Path], status: Optional[Path],
                 params: List[str]) -> None:
        self.results, self.status, self.params = results, status, params
        self.rows: List[Tuple[str, List[Block]]] = []
        self.texts: List[bytes] = []    # lines formatted by the workers
        self.states: List[List[Any]] = []
        self.kept: List[Tuple[str, List[Block]]] = []   # in memory
        self.kept_status: List[List[Any]] = []
        self.last = time.monotonic()
        self.nrows = 0

    def earlier(self) -> pd.DataFrame:
        """The last status row of every realization recorded before."""
        if self.status is None or not self.status.is_file() or \
                self.status.stat().st_size == 0:
            if self.results is not None and self.results.is_file() and \
                    self.results.stat().st_size > 0:
                raise EnsembleError(
                    f"{self.results} exists without its status file "
                    f"{self.status}: remove it, or name other files")
            return pd.DataFrame(columns=["realization", *self.params,
                                         *STATUS_COLUMNS])
        _csv_safe_rewrite_tail(self.status)
        st = _read_status(self.status)
        have = list(st.columns)
        want = ["realization", *self.params, *STATUS_COLUMNS]
        if have != want:
            raise EnsembleError(
                f"{self.status} records the columns {have[1:-2]}, the "
                f"parameter table has {self.params}: name other files to "
                "start a new ensemble")
        return st.drop_duplicates("realization", keep="last") \
            .set_index("realization")

    def prune(self, done: Iterable[str]) -> None:
        """Drop result rows of realizations without a successful status
        row (written before an interruption cut the status row off)."""
        if self.results is None or not self.results.is_file():
            return
        _csv_safe_rewrite_tail(self.results)
        if self.results.stat().st_size == 0:
            return
        real = _read_results(self.results, ["realization"])["realization"]
        orphan = ~real.isin(set(done))
        if orphan.any():
            full = _read_results(self.results)
            tmp = self.results.with_name(self.results.name + ".tmp")
            _write_results(full[~orphan.to_numpy()], tmp, header=True)
            os.replace(tmp, self.results)

    def start(self) -> None:
        """Both files with their headers, so that a results file never
        exists without its status file."""
        if self.results is None or self.status is None:
            return
        if not self.status.is_file() or self.status.stat().st_size == 0:
            with open(self.status, "w", newline="") as fh:
                fh.write(",".join(_csv_field(c) for c in [
                    "realization", *self.params, *STATUS_COLUMNS]) + "\n")
        if not self.results.is_file() or self.results.stat().st_size == 0:
            _write_results(_long([]), self.results, header=True)

    def add(self, key: str, values: List[str], o: Outcome) -> None:
        row = [key, *values, o.status, o.diagnostic]
        if self.results is None:
            self.kept.append((key, o.blocks))
            self.kept_status.append(row)
            return
        if o.text:
            self.texts.append(o.text)
            self.nrows += o.nrows
        else:
            self.rows.append((key, o.blocks))
            self.nrows += sum(len(b[1]) for b in o.blocks)
        self.states.append(row)
        if self.nrows > 200_000 or time.monotonic() - self.last > 0.5:
            self.flush()

    def flush(self) -> None:
        if self.results is None or self.status is None:
            return
        if self.rows:
            _write_results(_long(self.rows), self.results, header=False)
        if self.texts:
            with open(self.results, "ab") as fh:
                fh.write(b"".join(self.texts))
                fh.flush()
        if self.states:
            st = pd.DataFrame(self.states, columns=[
                "realization", *self.params, *STATUS_COLUMNS])
            with open(self.status, "a", newline="") as fh:
                st.to_csv(fh, header=False, index=False,
                          lineterminator="\n")
                fh.flush()
        self.rows, self.states, self.texts, self.nrows = [], [], [], 0
        self.last = time.monotonic()


def _csv_field(text: str) -> str:
    """A header field as the csv module quotes it."""
    if any(c in text for c in ',"\r\n'):
        return '"' + text.replace('"', '""') + '"'
    return text


def _write_results(df: pd.DataFrame, path: Path, header: bool) -> None:
    with open(path, "w" if header else "a", newline="") as fh:
        df.to_csv(fh, header=header, index=False, lineterminator="\n",
                  columns=list(RESULT_COLUMNS))
        fh.flush()
