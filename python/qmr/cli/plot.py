"""The command ``qmr-plot``: draws the observation time series and the
profiles of a qmr graphic file (see :mod:`qmr.plot`)."""

from __future__ import annotations

import argparse
import io
import os
import sys
from typing import Optional, Sequence

import pandas as pd

from ..deck import Deck
from ..io import OutputFileError, read_graphic, read_restart
from ..io.netcdf import parse_units
from ..plot import Initial, plot_graphic, read_measured
from ..units import Units
from .common import Parser, load_function, one_line

EXIT_OK = 0
EXIT_NOTHING = 1
EXIT_ERROR = 2


def _initial(text: str) -> Initial:
    """``--drawdown``: a number, or a restart file of initial values."""
    try:
        return float(text)
    except ValueError:
        pass
    restart = read_restart(text)
    return restart["value"]


def _parser() -> argparse.ArgumentParser:
    ap = Parser(
        prog="qmr-plot",
        description="Draws the graphic file of a qmr run: the observation "
        "time series (value against time, one line per observation node) "
        "and the stored profiles (value against distance, one line per "
        "profile), as two panels of one figure. A run of one step (steady "
        "state) is shown as profiles. A panel with nothing to draw is left "
        "out, with a note on standard error.",
        epilog="Exit status: 0 picture written; 1 nothing to draw (no "
        "observation nodes and no profiles); 2 error (usage, unreadable "
        "file, not a graphic file, a line that cannot be read, matplotlib "
        "missing). A graphic file cut short (a run that failed) is drawn as "
        "far as it goes, with a warning on standard error.")
    ap.add_argument("graphic", help="graphic file written by qmr")
    ap.add_argument("-o", "--output", metavar="FILE",
                    help="picture to write, PNG or SVG by its extension "
                    "(.png, .svg); default: the graphic file's name with .png")
    ap.add_argument("--units", metavar="LENGTH,TIME[,CONCENTRATION]",
                    help="units of the axes, e.g. m,d or m,d,mg/L: a flow "
                    "run's heads and a drawdown are in the length unit, a "
                    "transport run's values in the third (without a deck, "
                    "the third is the value's unit)")
    ap.add_argument("--logtime", action="store_true",
                    help="logarithmic time axis (rows with time <= 0 are "
                    "left out)")
    dist = ap.add_mutually_exclusive_group()
    dist.add_argument("--logdist", action="store_true", default=None,
                      help="logarithmic distance axis (nodes with distance "
                      "<= 0 are left out); the default for a radial run")
    dist.add_argument("--lindist", dest="logdist", action="store_false",
                      help="linear distance axis, also for a radial run")
    ap.add_argument("--deck", metavar="DECK",
                    help="the deck of the run, which names the value (head "
                    "or concentration) and tells a radial run (default: "
                    "VELDA.INP beside the graphic file, when it names this "
                    "graphic file)")
    ap.add_argument("--logvalue", action="store_true",
                    help="logarithmic value axis (values <= 0 are left out)")
    ap.add_argument("--drawdown", metavar="INITIAL",
                    help="draw initial minus current value; INITIAL is the "
                    "uniform initial value or a restart file holding the "
                    "initial value of every node")
    ap.add_argument("--measured", metavar="CSV", action="append",
                    help="measured time series to draw over the "
                    "observations: first column time, one column per node "
                    "headed with its number (repeatable)")
    ap.add_argument("--measured-profile", metavar="CSV", action="append",
                    help="measured profiles: first column distance, one "
                    "column per profile (repeatable)")
    ap.add_argument("--function", metavar="FILE.py:NAME",
                    help="analytical solution NAME(x, t) from a Python file, "
                    "drawn dashed at every observation node and profile time")
    ap.add_argument("--function-label", default="analytical",
                    help="legend of the analytical solution (default: "
                    "%(default)s)")
    ap.add_argument("--title", help="figure title (default: the file name)")
    ap.add_argument("--quantity",
                    help="label of the value axis (default: \"head\" or "
                    "\"concentration\" by the deck's run type, \"head or "
                    "concentration\" without a deck, or \"drawdown\")")
    ap.add_argument("--netcdf", metavar="FILE",
                    help="also write the graphic file as CF NetCDF")
    return ap


def _deck(given: Optional[str], graphic: str) -> Optional[Deck]:
    """The deck named by --deck, or VELDA.INP beside the graphic file when
    it names that file as its graphic file (else None)."""
    if given:
        return Deck.read(given)
    folder = os.path.dirname(os.path.abspath(graphic))
    for name in ("VELDA.INP", "velda.inp"):
        path = os.path.join(folder, name)
        if not os.path.isfile(path):
            continue
        try:
            d = Deck.read(path)
        except (OSError, ValueError):
            return None
        named = (d.graphic or "").strip().replace("\\", "/")
        if os.path.basename(named).lower() == \
                os.path.basename(graphic).lower():
            return d
        return None
    return None


def _measured(paths: Optional[list[str]]) -> Optional[pd.DataFrame]:
    if not paths:
        return None
    frames = [read_measured(p) for p in paths]
    return frames[0] if len(frames) == 1 else pd.concat(frames, axis=1)


def main(argv: Optional[Sequence[str]] = None) -> int:
    """The ``qmr-plot`` command; returns its exit status."""
    ap = _parser()
    args = ap.parse_args(argv)
    out = args.output or os.path.splitext(args.graphic)[0] + ".png"
    if os.path.splitext(out)[1].lower() not in (".png", ".svg"):
        ap.error(f"{out}: the picture must end in .png or .svg")
    if os.path.abspath(out) == os.path.abspath(args.graphic):
        ap.error(f"{out}: the picture would replace the graphic file")
    try:
        parse_units(args.units)
        Units.parse(args.units)         # units pint knows
    except ValueError as e:
        ap.error(str(e))
    name = os.path.basename(args.graphic)

    def fail(message: str) -> int:
        print(f"qmr-plot: {' '.join(message.split())}", file=sys.stderr)
        return EXIT_ERROR

    try:
        g = read_graphic(args.graphic, warn=False)
    except OSError as e:
        return fail(f"cannot read {args.graphic}: {e.strerror}")
    except OutputFileError as e:
        return fail(one_line(e))
    try:
        drawdown = _initial(args.drawdown) if args.drawdown else None
        measured = _measured(args.measured)
        measured_profiles = _measured(args.measured_profile)
        analytical = load_function(args.function) if args.function else None
        deck = _deck(args.deck, args.graphic)
    except (OSError, ValueError, SyntaxError) as e:
        return fail(one_line(e))
    # Warnings are told once the picture is drawn: a refusal is one line.
    said = [f"warning: {w}" for w in g.warnings]
    if g.unreadable:
        said.append(f"warning: {g.unreadable} value(s) shown as asterisks, "
                    f"NaN or Infinity in {name}: left out of the picture")
    notes: list[str] = []
    try:
        fig = plot_graphic(g, units=args.units, quantity=args.quantity,
                           logtime=args.logtime, logdist=args.logdist,
                           logvalue=args.logvalue, drawdown=drawdown,
                           deck=deck, measured=measured,
                           measured_profiles=measured_profiles,
                           analytical=analytical,
                           analytical_label=args.function_label,
                           title=args.title or name, notes=notes)
    except Exception as e:  # a user's function may raise anything
        return fail(f"cannot draw {name}: {type(e).__name__}: {e}")
    if args.netcdf:
        try:
            named = None if deck is None else \
                "head" if deck.imode == 1 else "concentration"
            kind = None if deck is None else \
                "flow" if deck.imode == 1 else "transport"
            g.to_netcdf(args.netcdf, units=args.units,
                        quantity=args.quantity or named, kind=kind)
        except (OSError, ImportError, ValueError) as e:
            return fail(f"cannot write {args.netcdf}: {e}")
    if fig is None:
        for n in said + notes:
            print(f"qmr-plot: {n}", file=sys.stderr)
        print(f"qmr-plot: {name}: nothing to draw; no picture written",
              file=sys.stderr)
        return EXIT_NOTHING
    if out.lower().endswith(".svg"):
        import matplotlib
        matplotlib.rcParams["svg.fonttype"] = "none"  # SVG text stays text
    picture = io.BytesIO()              # drawn whole before it is written
    try:
        fig.savefig(picture, dpi=100, format=out.rsplit(".", 1)[1].lower())
    except (ValueError, RuntimeError) as e:   # matplotlib cannot draw it
        return fail(f"cannot draw {name}: {one_line(e)}")
    try:
        with open(out, "wb") as fh:
            fh.write(picture.getvalue())
    except OSError as e:
        return fail(f"cannot write {out}: {e.strerror}")
    for n in said + notes:
        print(f"qmr-plot: {n}", file=sys.stderr)
    return EXIT_OK


if __name__ == "__main__":
    sys.exit(main())
