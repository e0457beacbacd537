"""What the commands share: functions loaded from a user's file, and the
one-line refusal."""

from __future__ import annotations

import argparse
import importlib.util
import sys
from typing import Any, Callable, NoReturn


def load_function(where: str, module_name: str = "qmr_plot_function",
                  register: bool = False) -> Callable[..., Any]:
    """A function named in ``FILE.py:NAME``, loaded from that file; with
    ``register`` its module is entered in ``sys.modules`` under
    ``module_name``, so that other processes can find it."""
    path, sep, name = where.rpartition(":")
    if not sep or not path or not name:
        raise ValueError(f"{where}: name the function as FILE.py:NAME")
    found = importlib.util.spec_from_file_location(module_name, path)
    if found is None or found.loader is None:
        raise ValueError(f"{path}: not a Python file")
    module = importlib.util.module_from_spec(found)
    if register:
        sys.modules[module_name] = module
    found.loader.exec_module(module)
    f = getattr(module, name, None)
    if not callable(f):
        raise ValueError(f"{path} has no function {name}")
    return f


class Parser(argparse.ArgumentParser):
    """The commands' option parser: a usage mistake is one line on
    standard error ("PROG: MESSAGE (see PROG --help)") and exit status 2."""

    def error(self, message: str) -> NoReturn:
        print(f"{self.prog}: {' '.join(message.split())} (see {self.prog} "
              "--help)", file=sys.stderr)
        sys.exit(2)


def one_line(e: BaseException) -> str:
    """An exception's message on one line."""
    text = " ".join(str(e).split())
    return text or type(e).__name__
