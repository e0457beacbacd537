"""One realization, in a worker: decks with their values set, run in a
scratch folder, outputs collected, folder removed unless kept."""

from __future__ import annotations

import hashlib
import os
import pickle
import re
import shutil
import socket
import subprocess
import tempfile
import time
import warnings
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Dict, List, Optional, Tuple

from ..deck import DigitsLostWarning
from ..deck.paths import _assign, _Decks
from ..runner import run, RunError
from .collect import _collect, _function_blocks, _Reads
from .outputs import rows_csv, Block, FAILED_OUTSIDE, Function, _Wanted


# ---------------------------------------------------------------------------
# One realization, in a worker
# ---------------------------------------------------------------------------

@dataclass
class _Task:
    key: str                       # the realization's label as text
    base: bytes                    # the pickled decks
    values: List[Tuple[str, Any]]  # (path, value); NaN values left out
    wanted: List[_Wanted]
    files: Dict[str, bytes]
    exe: Optional[str]
    args: Tuple[str, ...]
    timeout: Optional[float]
    root: Optional[str]            # where scratch folders go
    keep: bool
    scratch: str = ""              # this ensemble's folder under the
    #                                workers' scratch place, when no root
    as_text: bool = False          # send the rows as the results file's
    #                                lines (formatted here, in parallel)


@dataclass
class Outcome:
    """What a worker sends back for one realization: its label (as text),
    exit status (0: success), diagnostic, the rows of its outputs, its
    folder (when kept), the machine and process it ran in and its
    duration."""

    key: str
    status: int
    diagnostic: str
    blocks: List[Block] = field(default_factory=list)
    folder: str = ""
    host: str = ""
    pid: int = 0
    seconds: float = 0.0
    digits_lost: str = ""   # a value rounded to fit its deck field
    text: bytes = b""       # the rows as lines of the results file, when
    nrows: int = 0          # the task asked for them (then no blocks)


def _folder_name(key: str) -> str:
    if re.fullmatch(r"[A-Za-z0-9._-]{1,80}", key) and key not in (".", ".."):
        return key
    clean = re.sub(r"[^A-Za-z0-9._-]", "_", key)[:60]
    return f"{clean}-{hashlib.sha1(key.encode()).hexdigest()[:10]}"


def _one_line(text: str) -> str:
    return " / ".join(ln.strip() for ln in text.strip().splitlines()
                      if ln.strip())


_SCRATCH: List[Optional[str]] = []


def _scratch_root() -> Optional[str]:
    """Where this process makes scratch folders: QMR_SCRATCH when set,
    else a memory-backed /dev/shm with at least 1 GiB free (removing a
    folder there costs a tenth of a millisecond, on a disk several
    milliseconds), else the temporary folder (TMPDIR)."""
    if not _SCRATCH:
        root = os.environ.get("QMR_SCRATCH")
        if not root:
            try:
                st = os.statvfs("/dev/shm")
                if st.f_bavail * st.f_frsize >= 1 << 30 and \
                        os.access("/dev/shm", os.W_OK | os.X_OK):
                    root = "/dev/shm"
            except OSError:
                pass
        _SCRATCH.append(root or None)
    return _SCRATCH[0]


def _scratch_base(name: str) -> Path:
    """This process's folder of an ensemble's scratch folders."""
    return Path(_scratch_root() or tempfile.gettempdir()) / name


def _remove_scratch(name: str) -> None:
    """Remove an ensemble's scratch folders on this machine: those of
    realizations whose worker died before it could remove them."""
    shutil.rmtree(_scratch_base(name), ignore_errors=True)


def _realize(task: _Task) -> Outcome:
    """Run one realization: decks with their values set, run in a scratch
    folder, outputs read, folder removed (unless kept). Never raises for a
    failure of the realization: it is recorded in the outcome."""
    t0 = time.perf_counter()
    if task.root is not None or task.scratch:
        where = (Path(task.root) if task.root is not None
                 else _scratch_base(task.scratch)) / _folder_name(task.key)
        if where.exists():            # a realization run again
            shutil.rmtree(where)
        where.mkdir(parents=True)
    else:
        where = Path(tempfile.mkdtemp(prefix="qmr-real-",
                                      dir=_scratch_root()))
    out = Outcome(task.key, 0, "", host=socket.gethostname(), pid=os.getpid())
    name = ""
    try:
        decks, names = pickle.loads(task.base)
        d = _Decks(decks, names)
        for path, value in task.values:
            i, segs = d.split(path)
            _assign(decks[i], segs, path, value)
        results = []
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            for i, deck in enumerate(decks):
                name = f"{names[i]}: " if len(decks) > 1 else ""
                r = run(deck, where, task.exe, args=task.args,
                        files=task.files if i == 0 else None,
                        timeout=task.timeout)
                results.append(r)
                out.blocks += _collect(task.wanted, _Reads(r), i)
            name = ""
            for w in task.wanted:
                if isinstance(w.wanted, Function):
                    fn = w.wanted.fn
                    assert fn is not None
                    name = f"output {w.name}: "
                    v = fn(results[0] if len(results) == 1 else results)
                    out.blocks += _function_blocks(w.name, v)
        lost = [str(c.message) for c in caught
                if issubclass(c.category, DigitsLostWarning)]
        out.digits_lost = lost[0] if lost else ""
    except RunError as e:
        out.status = e.status
        diag = e.diagnostic.line if e.diagnostic else _one_line(e.stderr)
        out.diagnostic = name + (diag or "no diagnostic")
        out.blocks = []
    except subprocess.TimeoutExpired:
        out.status = FAILED_OUTSIDE
        out.diagnostic = f"{name}timed out after {task.timeout} s"
        out.blocks = []
    except Exception as e:
        out.status = FAILED_OUTSIDE
        out.diagnostic = name + _one_line(f"{type(e).__name__}: {e}")
        out.blocks = []
    finally:
        if task.keep:
            out.folder = str(where)
        else:
            shutil.rmtree(where, ignore_errors=True)
    if task.as_text and out.blocks:
        out.text = rows_csv(task.key, out.blocks)
        out.nrows = sum(len(b[1]) for b in out.blocks)
        out.blocks = []
    out.seconds = time.perf_counter() - t0
    return out


def _realize_all(tasks: List[_Task]) -> List[Outcome]:
    """Run a batch of realizations one after the other."""
    return [_realize(t) for t in tasks]
