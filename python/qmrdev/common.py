"""What the development tools and the tests share: the split of a deck of
the fuzz corpus or of tests/regress at its ``%%AUX`` line, the Ew.d form
the program writes its numbers in, and the run of one or more decks in a
folder (standard library only)."""

from __future__ import annotations

import os
import shutil
import subprocess
from pathlib import Path
from typing import Dict, List, Mapping, Optional, Sequence, Tuple, Union

AUX_MARK = b"\n%%AUX\n"
AUX_NAME = "AUX.DAT"
DECK_NAME = "VELDA.INP"

Text = Union[str, bytes]


def split_aux(data: bytes) -> Tuple[bytes, Dict[str, bytes]]:
    """A deck and the files beside it: the text after a line ``%%AUX``
    becomes the file AUX.DAT (the deck keeps the line end before the
    mark); a deck without the line has no file beside it."""
    cut = data.find(AUX_MARK)
    if cut < 0:
        return data, {}
    return data[:cut + 1], {AUX_NAME: data[cut + len(AUX_MARK):]}


def ew(value: float, width: int, d: int) -> str:
    """`value` in the Ew.d form the program writes, right-justified in
    `width` columns: ``0.1234567E+02``, ``-0.5000E-03``, ``0.0000E+00``."""
    if value == 0.0:
        body = "0." + "0" * d + "E+00"
    else:
        m, e = f"{abs(value):.{d - 1}e}".split("e")
        e10 = int(e) + 1
        body = "0." + m.replace(".", "") + "E" + \
            ("-" if e10 < 0 else "+") + f"{abs(e10):02d}"
        if value < 0:
            body = "-" + body
    return body.rjust(width)


def _bytes(t: Text) -> bytes:
    return t if isinstance(t, bytes) else t.encode("latin-1")


def place_deck(folder: Path, deck: Text) -> None:
    """Write `deck` as the folder's VELDA.INP, replacing whatever stands
    under that name (a file, a link, a folder a run made)."""
    velda = folder / DECK_NAME
    if velda.is_dir() and not velda.is_symlink():
        shutil.rmtree(velda)
    elif velda.is_symlink() or velda.exists():
        velda.unlink()
    velda.write_bytes(_bytes(deck))


def run_decks(folder: Union[str, "os.PathLike[str]"], decks: Sequence[Text],
              files: Optional[Mapping[str, Text]] = None, *,
              command: Sequence[str] = (), exe: Optional[str] = None,
              timeout: Optional[float] = 60, fresh: bool = False,
              stop_at_failure: bool = True, **kw: object
              ) -> List[subprocess.CompletedProcess]:
    """Run the program on `decks` in turn in `folder` (made when missing;
    emptied first with `fresh`), each written as VELDA.INP, after `files`
    (name -> text) are placed there. `command` is the program with its
    wrappers and options (default: `exe`, else QMR_EXE). Returns the
    completed runs, up to the first that failed (with `stop_at_failure`).
    A run past `timeout` raises subprocess.TimeoutExpired."""
    where = Path(folder)
    if fresh and where.exists():
        shutil.rmtree(where)
    where.mkdir(parents=True, exist_ok=True)
    for name, text in (files or {}).items():
        (where / name).write_bytes(_bytes(text))
    cmd = list(command) or [exe or os.environ["QMR_EXE"]]
    done = []
    for deck in decks:
        place_deck(where, deck)
        p = subprocess.run(cmd, cwd=where, capture_output=True,
                           stdin=subprocess.DEVNULL, timeout=timeout,
                           **kw)  # type: ignore[call-overload]
        done.append(p)
        if stop_at_failure and p.returncode != 0:
            break
    return done
