"""Running qmr on decks: the program found, run in a folder, its warnings
turned into Python warnings and its failure into :class:`RunError`."""

from __future__ import annotations

import os
import re
import shutil
import subprocess
import tempfile
import warnings
import weakref
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Callable, Dict, List, Optional, Sequence, Union

from . import io
from .deck import Deck, objects
from .deck.schema import NO_FLUX_VARIANTS

__all__ = [
    "Diagnostic",
    "QmrWarning",
    "RunError",
    "Result",
    "find_exe",
    "run",
    "run_chain",
    "check_deck",
    "parse_diagnostic",
    "stderr_path",
]

PathLike = Union[str, "os.PathLike[str]"]

# The name every qmr build reads its deck from.
DECK_NAME = "VELDA.INP"

# The report of a run (qmr.report installs it: this module does not import
# the parts above it).
REPORT: Optional[Callable[..., Path]] = None


def stderr_path(graphic_path: Union[str, Path]) -> Path:
    """Where a run keeps what the program wrote on standard error: beside
    the graphic file, named as the CSV files are (``X.GRF`` gives
    ``X.stderr.txt``)."""
    path = Path(graphic_path)
    stem = path.with_suffix("") if path.suffix else path
    return stem.parent / f"{stem.name}.stderr.txt"


@dataclass
class Diagnostic:
    """One line the program wrote on standard error, taken apart:
    ``qmr: [warning: ]FILE, record N, columns A-B (SECTION): MESSAGE``.
    Parts the line does not carry are None."""

    message: str
    file: Optional[str] = None
    record: Optional[int] = None
    columns: Optional[tuple] = None
    section: Optional[str] = None
    warning: bool = False
    line: str = ""
    where: Optional[str] = None    # the value of the deck object meant

    def __str__(self) -> str:
        return self.line or self.message


class QmrWarning(UserWarning):
    """A warning of the program (``qmr: warning: ...``); ``diagnostic``
    holds it taken apart."""

    def __init__(self, diagnostic: Diagnostic) -> None:
        super().__init__(diagnostic.line or diagnostic.message)
        self.diagnostic = diagnostic


class RunError(RuntimeError):
    """A run (or check) that failed: ``status`` is the exit status,
    ``diagnostic`` the program's failure line taken apart (None when it
    wrote none), ``stderr`` all it wrote on standard error, ``warnings``
    the warnings before the failure, ``folder`` where it ran."""

    def __init__(self, status: int, diagnostic: Optional[Diagnostic],
                 stderr: str = "", warnings: Sequence[Diagnostic] = (),
                 folder: Optional[Path] = None) -> None:
        what = diagnostic.line if diagnostic else stderr.strip() or \
            "no diagnostic"
        if diagnostic is not None and diagnostic.where:
            what += f" [deck.{diagnostic.where}]"
        super().__init__(f"qmr ended with exit status {status}: {what}")
        self.status = status
        self.diagnostic = diagnostic
        self.stderr = stderr
        self.warnings = list(warnings)
        self.folder = folder


_DIAG = re.compile(
    r"^qmr: (?P<warning>warning: )?"
    r"(?:(?P<file>[^,:]+?)"
    r"(?:, record (?P<record>\d+))?"
    r"(?:, columns? (?P<c1>\d+)(?:-(?P<c2>\d+))?)?"
    r"(?: \((?P<section>[^)]*)\))?: )?"
    r"(?P<message>.*)$")


def parse_diagnostic(line: str) -> Optional[Diagnostic]:
    """A ``qmr: ...`` line of standard error taken apart, or None."""
    line = line.rstrip("\r\n")
    m = _DIAG.match(line)
    if not m:
        return None
    file, record = m["file"], m["record"]
    main = re.fullmatch(r"main input record (\d+)", file or "")
    if main and not record:
        # "qmr: main input record 14: prescribed value node 9 is ..."
        file, record = "main input", main[1]
    cols = None
    if m["c1"]:
        a = int(m["c1"])
        cols = (a, int(m["c2"]) if m["c2"] else a)
    return Diagnostic(message=m["message"], file=file,
                      record=int(record) if record else None,
                      columns=cols, section=m["section"],
                      warning=bool(m["warning"]), line=line)


def _diagnostics(stderr: str, deck: Optional[Deck] = None,
                 deck_name: str = DECK_NAME) -> List[Diagnostic]:
    """The diagnostics of standard error; those about the deck's records
    get the name of the value they mean in the deck object."""
    out = []
    for ln in stderr.splitlines():
        d = parse_diagnostic(ln)
        if d is None:
            continue
        if deck is not None and d.record and d.file is not None and (
                Path(d.file).name == deck_name or d.file == "main input"):
            try:
                d.where = deck.locate(d.record,
                                      d.columns[0] if d.columns else None)
            except IndexError:
                pass
        out.append(d)
    return out


def find_exe(exe: Optional[PathLike] = None) -> str:
    """The qmr executable: `exe`, else the environment variable QMR_EXE
    (a relative path taken from the current folder),
    else ``build/qmr`` of the checkout this package lies in, else ``qmr``
    on PATH. Raises FileNotFoundError when none is found."""
    given = os.fspath(exe) if exe is not None else \
        os.environ.get("QMR_EXE")
    if given:
        # runs start in their own folder: a relative path is taken from
        # here (a bare name is looked up on PATH)
        return os.path.abspath(given) if os.sep in given else given
    here = Path(__file__).resolve().parent
    for cand in (here.parent.parent / "build" / "qmr",):
        if cand.is_file() and os.access(cand, os.X_OK):
            return str(cand)
    found = shutil.which("qmr")
    if found:
        return found
    raise FileNotFoundError(
        "qmr executable not found: pass exe=, set QMR_EXE, build it in "
        "build/ of the checkout, or put it on PATH")


def _run_name(name: str) -> str:
    """A file name of a deck as the program takes it: without trailing
    blanks and without a leading folder C:\\QMR\\."""
    n = name.rstrip(" ")
    return n[7:] if n[:7].upper() == "C:\\QMR\\" else n


def _local(name: Optional[str], folder: Path) -> Optional[Path]:
    """Path of a file named in a deck, as the program resolves it in the
    folder it runs in."""
    if not name:
        return None
    return folder / _run_name(name).replace("\\", "/")


class _Scratch:
    """A scratch folder made for runs, removed when closed or when the last
    result that holds it is gone (or at the interpreter's exit)."""

    def __init__(self) -> None:
        self.path = Path(tempfile.mkdtemp(prefix="qmr-"))
        self._finalizer = weakref.finalize(self, shutil.rmtree, self.path,
                                           ignore_errors=True)

    def keep(self) -> None:
        """Leave the folder in place."""
        self._finalizer.detach()

    def close(self) -> None:
        self._finalizer()


class Result:
    """The outcome of a run: the deck, the folder, the paths of the output
    files (None for a file the deck does not ask for or a listing left
    out), standard output and error, the warnings, and readers of the
    outputs.

    A run in a scratch folder (no folder given) keeps it while the result
    is open: :meth:`close`, the end of a ``with`` block, or the result's
    last reference gone removes it (the results of :func:`run_chain` share
    their folder: closing one closes it). Read the outputs before."""

    def __init__(self, deck: Deck, folder: Path, stdout: str, stderr: str,
                 diagnostics: List[Diagnostic], listing: bool = True,
                 scratch: Optional[_Scratch] = None) -> None:
        self.deck = deck
        self.folder = folder
        self.stdout = stdout
        self.stderr = stderr
        self.warnings = [d for d in diagnostics if d.warning]
        self._scratch = scratch
        self.listing = _local(deck.listing, folder) if listing else None
        self.graphic = _local(deck.graphic, folder)
        self.flux = _local(deck.flux_file, folder) if deck.flux_file \
            is not None and deck.variant not in NO_FLUX_VARIANTS else None
        self.restart = (_local(deck.restart_out, folder)
                        if deck.restart_write == 1 else None)
        self.velocity = (_local(deck.velocity_file, folder)
                         if deck.velocity_code > 0 and deck.imode == 1
                         else None)
        self.csv: Dict[str, Path] = {}
        if self.graphic is not None:
            self.csv = {k: p for k, p in io.csv_paths(self.graphic).items()
                        if p.is_file()}

    def __repr__(self) -> str:
        return f"Result(folder={str(self.folder)!r})"

    def close(self) -> None:
        """Remove the scratch folder the run made (a folder given to
        :func:`run`, or one kept, stays)."""
        if self._scratch is not None:
            self._scratch.close()

    def __enter__(self) -> "Result":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def _file(self, path: Optional[Path], what: str) -> Path:
        if path is None:
            raise FileNotFoundError(f"the run wrote no {what}")
        if self._scratch is not None and not self.folder.exists():
            raise FileNotFoundError(f"the run's scratch folder {self.folder} "
                                    "was removed when its result was closed")
        return path

    @property
    def kind(self) -> str:
        """"flow" or "transport", by the deck's run type."""
        return "flow" if self.deck.imode == 1 else "transport"

    def read_graphic(self) -> "io.GraphicFile":
        """The graphic file (:func:`qmr.io.read_graphic`, four digits),
        labelled with the deck's units."""
        return io.read_graphic(self._file(self.graphic, "graphic file"),
                               units=self.deck.units, kind=self.kind)

    def read_flux(self) -> "io.FluxFile":
        """The flux file (:func:`qmr.io.read_flux`)."""
        return io.read_flux(self._file(self.flux, "flux file"),
                            units=self.deck.units, kind=self.kind)

    def read_restart(self) -> Any:
        """The restart file written (:func:`qmr.io.read_restart`)."""
        return io.read_restart(self._file(self.restart, "restart file"),
                               units=self.deck.units, kind=self.kind)

    def read_velocity(self) -> Any:
        """The velocity file written (:func:`qmr.io.read_velocity`)."""
        return io.read_velocity(self._file(self.velocity, "velocity file"),
                                units=self.deck.units)

    def report(self, out: Optional[PathLike] = None, units: Any = None
               ) -> Path:
        """The run's report, one self-contained HTML file (default
        ``report.html`` in the run's folder): see
        :func:`qmr.report.run_report`. `units` replace the deck's."""
        if REPORT is None:
            raise NotImplementedError("import qmr to write reports")
        self._file(self.graphic, "graphic file")
        return REPORT(self, out=out, units=units)

    def read_csv(self, kind: Optional[str] = None) -> Any:
        """The CSV outputs of a run with ``--csv`` (full precision): all of
        them as a dict (:func:`qmr.io.read_csv_outputs`), or with `kind`
        ("obs", "prof", "flux" or "balance") that one file alone, read
        without the others."""
        g = self._file(self.graphic, "graphic file")
        label = {"units": self.deck.units, "kind": self.kind}
        if kind is None:
            return io.read_csv_outputs(g, **label)
        if kind not in io.CSV_KINDS:
            raise ValueError(f"kind {kind!r}: one of "
                             f"{', '.join(io.CSV_KINDS)}")
        got = io.read_csv_outputs(g, kinds=(kind,), **label)
        if kind not in got:
            raise FileNotFoundError(f"the run wrote no {kind} CSV file (run "
                                    "with args=['--csv'])")
        return got[kind]

    def read_listing(self) -> "io.Listing":
        """The listing (:func:`qmr.io.read_listing`)."""
        return io.read_listing(self._file(self.listing, "listing"),
                               units=self.deck.units)


def _execute(exe: str, args: Sequence[str], folder: Path,
             timeout: Optional[float]) -> subprocess.CompletedProcess:
    return subprocess.run([exe, *args], cwd=folder, capture_output=True,
                          timeout=timeout)


def _decode(b: bytes) -> str:
    return b.decode("utf-8", "replace")


def _folder(folder: Optional[PathLike]) -> Path:
    p = Path(folder)  # type: ignore[arg-type]
    p.mkdir(parents=True, exist_ok=True)
    return p


NO_LISTING = "--no-listing"


def _run_in(deck: Deck, where: Path, exe: Optional[PathLike],
            args: Sequence[str], files: Optional[Dict[str, Union[str, bytes]]],
            timeout: Optional[float], listing: bool,
            scratch: Optional[_Scratch]) -> Result:
    for name, text in (files or {}).items():
        data = text.encode() if isinstance(text, str) else text
        (where / name).write_bytes(data)
    deck.write(where / DECK_NAME)
    args = list(args)
    if not listing and NO_LISTING not in args:
        args.append(NO_LISTING)
    proc = _execute(find_exe(exe), args, where, timeout)
    out, err = _decode(proc.stdout), _decode(proc.stderr)
    _keep_stderr(deck, where, proc.stderr)
    diags = _diagnostics(err, deck)
    warns = [d for d in diags if d.warning]
    for d in warns:
        warnings.warn(QmrWarning(d), stacklevel=4)  # the caller's
    if proc.returncode != 0:
        fails = [d for d in diags if not d.warning]
        if scratch is not None:
            scratch.keep()
        raise RunError(proc.returncode, fails[-1] if fails else None, err,
                       warns, where)
    return Result(deck, where, out, err, diags,
                  listing=listing and NO_LISTING not in args,
                  scratch=scratch)


def _keep_stderr(deck: Deck, where: Path, data: bytes) -> None:
    """Standard error of the run kept beside its graphic file (see
    :func:`stderr_path`), for a report made later from the folder."""
    graphic = _local(deck.graphic, where)
    if graphic is None:
        return
    try:
        stderr_path(graphic).write_bytes(data)
    except OSError:
        pass        # a folder the graphic file cannot be written in either


def run(deck: Deck, folder: Optional[PathLike] = None,
        exe: Optional[PathLike] = None, *, args: Sequence[str] = (),
        files: Optional[Dict[str, Union[str, bytes]]] = None,
        timeout: Optional[float] = None, listing: bool = True,
        keep: bool = False) -> Result:
    """Run qmr on `deck`.

    The deck is written into `folder` as VELDA.INP, which every build of
    the program reads; `files` (name -> text) are placed there first;
    `args` are passed to the program; `listing=False` leaves the listing
    out (``--no-listing``: the run's trouble reports come on standard
    error instead). The program's warnings become :class:`QmrWarning`
    warnings; a failure raises :class:`RunError` with the exit status and
    the parsed diagnostic.

    Without `folder` the run gets a scratch folder, removed when the
    :class:`Result` is closed (``with qmr.run(deck) as r:``) or dropped;
    `keep` leaves it, and so does a failure (``RunError.folder``).
    """
    return _chain([deck], folder, exe, args, files, timeout, listing,
                  keep)[0]


def run_chain(decks: Sequence[Deck], folder: Optional[PathLike] = None,
              exe: Optional[PathLike] = None, *, args: Sequence[str] = (),
              files: Optional[Dict[str, Union[str, bytes]]] = None,
              timeout: Optional[float] = None, listing: bool = True,
              keep: bool = False) -> List[Result]:
    """Run decks one after the other in one folder (a flow run, then the
    transport run that reads its velocity file, ...), with the arguments
    of :func:`run` (`files` placed before the first). Stops at the first
    failure (RunError). Returns one Result per deck; without `folder` they
    share one scratch folder, removed as :func:`run` says."""
    return _chain(decks, folder, exe, args, files, timeout, listing, keep)


def _chain(decks: Sequence[Deck], folder: Optional[PathLike],
           exe: Optional[PathLike], args: Sequence[str],
           files: Optional[Dict[str, Union[str, bytes]]],
           timeout: Optional[float], listing: bool, keep: bool,
           deck_args: Optional[Sequence[Sequence[str]]] = None
           ) -> List[Result]:
    """The runs of :func:`run_chain`; `deck_args` adds arguments of each
    deck's own to the common `args`."""
    scratch = _Scratch() if folder is None else None
    where = scratch.path if scratch is not None else _folder(folder)
    if scratch is not None and keep:
        scratch.keep()
    out = []
    try:
        for i, d in enumerate(decks):
            own = list(deck_args[i]) if deck_args is not None else []
            out.append(_run_in(d, where, exe, [*args, *own], files, timeout,
                               listing, scratch))
            files = None
    except RunError:
        raise                           # the folder kept for a look
    except BaseException:
        if scratch is not None and not keep:
            scratch.close()
        raise
    return out


# Executables already asked whether they take the command line.
_TAKES_OPTIONS: Dict[str, bool] = {}


def supports_check(exe: Optional[PathLike] = None) -> bool:
    """Whether the program takes the command line (``--check``): a build
    that does answers ``--version`` with exit status 0 in an empty folder,
    where an older build looks for its deck and fails."""
    path = find_exe(exe)
    if path not in _TAKES_OPTIONS:
        with tempfile.TemporaryDirectory(prefix="qmr-") as tmp:
            try:
                p = subprocess.run([path, "--version"], cwd=tmp,
                                   capture_output=True, timeout=10)
                ok = p.returncode == 0 and not os.listdir(tmp)
            except OSError:
                ok = False
        _TAKES_OPTIONS[path] = ok
    return _TAKES_OPTIONS[path]


def check_deck(deck: Deck, folder: Optional[PathLike] = None,
               exe: Optional[PathLike] = None) -> List[Diagnostic]:
    """``qmr --check`` on the deck: see :meth:`qmr.Deck.check`."""
    path = find_exe(exe)
    if not supports_check(path):
        raise NotImplementedError(
            f"{path} takes no command line (no --check): build a newer qmr")
    scratch = folder is None
    where = Path(tempfile.mkdtemp(prefix="qmr-")) if scratch \
        else _folder(folder)
    fd, name = tempfile.mkstemp(prefix=".qmr-check-", suffix=".inp",
                                dir=where)
    os.close(fd)
    try:
        deck.write(name)
        proc = _execute(path, ["--check", os.path.basename(name)], where,
                        None)
    finally:
        os.unlink(name)
        if scratch:
            shutil.rmtree(where, ignore_errors=True)
    err = _decode(proc.stderr)
    diags = _diagnostics(err, deck, os.path.basename(name))
    warns = [d for d in diags if d.warning]
    if proc.returncode != 0:
        fails = [d for d in diags if not d.warning]
        raise RunError(proc.returncode, fails[-1] if fails else None, err,
                       warns, None)
    return warns


# Decks check themselves through this module (the deck package does not
# import it).
objects.CHECK = check_deck
