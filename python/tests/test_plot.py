"""Figures of graphic files and the qmr-plot command: what the figures hold
(labels, lines, scales, overlays) and the command's pictures, messages and
exit statuses, on hand-written files and on real runs."""

import math
import os
import subprocess
from dataclasses import dataclass
from pathlib import Path

import numpy as np
import pandas as pd
import pytest

from qmr import plot as P
from qmr import io as R
from qmr.cli.common import load_function
from qmr.cli.plot import main
from runs import BARE, HAND, flow_deck, needs_qmr, row, run_qmr

TOOL = Path(__file__).resolve().parents[2] / "tools" / "qmr-plot"

# Three observation nodes at 0, 50 and 100 (nodes 1, 2, 3), four steps of
# a drawdown growing at every node; profiles after steps 2 and 4.
DRAW = "\n".join([
    "1.TIMESTEP   2.TIMEVAL   3.LOGTIME   OBS.(  1)   OBS.(  2)   OBS.(  3)"
    "   OBS.(",
    " ",
    row(1, " 0.1000E+00", "-0.1000E+01", " 0.9000E+01", " 0.9500E+01",
        " 0.1000E+02"),
    row(2, " 0.1000E+01", " 0.0000E+00", " 0.8000E+01", " 0.9000E+01",
        " 0.9900E+01"),
    row(3, " 0.1000E+02", " 0.1000E+01", " 0.7000E+01", " 0.8500E+01",
        " 0.9800E+01"),
    row(4, " 0.1000E+03", " 0.2000E+01", " 0.6000E+01", " 0.8000E+01",
        " 0.9700E+01"),
    "",
    "",
    "    1.NODE  2.DISTANCE   3.LOGDIST  PROF.(  2)  PROF.(  4)  PROF.(",
    " ",
    row(1, " 0.0000E+00", " 0.0000E+00", " 0.8000E+01", " 0.6000E+01"),
    row(2, " 0.5000E+02", " 0.1699E+01", " 0.9000E+01", " 0.8000E+01"),
    row(3, " 0.1000E+03", " 0.2000E+01", " 0.9900E+01", " 0.9700E+01"),
    "",
    ""])


def legend(ax):
    return [t.get_text() for t in ax.get_legend().get_texts()]


def drawn(ax):
    """The lines of a panel that carry data (not the legend's proxies)."""
    return [ln for ln in ax.get_lines() if len(ln.get_xdata())]


class TestSeries:
    def test_labels_by_coordinate_and_time(self):
        g = R.parse_graphic(DRAW)
        obs = P.observation_series(g, units=("m", "d"))
        assert [s.label for s in obs] == ["x = 0 m", "x = 50 m", "x = 100 m"]
        prof = P.profile_series(g, units="m,d")
        assert [s.label for s in prof] == ["t = 1 d", "t = 100 d"]
        # Without units, and where the coordinate or time is unknown.
        assert P.observation_series(g)[1].label == "x = 50"
        h = R.parse_graphic(HAND)
        assert [s.label for s in P.observation_series(h)] == ["node 5",
                                                              "node 12"]
        assert [s.label for s in P.profile_series(h, units="m,d")] == [
            "t = 1 d", "t = 100 d"]
        assert [P.format_number(v) for v in (9.9, 0.1259, 1000.0, 1.5e6,
                                             2.5e-5, 0.0)] == [
            "9.9", "0.1259", "1000", "1.5e+06", "2.5e-05", "0"]

    def test_logarithmic_axes_and_gaps(self):
        text = HAND.replace(row(1, " 0.1000E+01", " 0.0000E+00"),
                            row(1, " 0.0000E+00", "  -Infinity"))
        g = R.parse_graphic(text)
        node5 = P.observation_series(g)[0]
        assert node5.x.tolist() == [0.0, 10.0, 100.0, 1000.0, 10000.0]
        # Infinity cannot be drawn: a gap, as the asterisks.
        assert np.isnan(node5.y[2:4]).all()
        node12 = P.observation_series(g, logtime=True)[1]
        assert node12.x.tolist() == [10.0, 100.0, 1000.0, 10000.0]
        assert node12.y[-1] == 0.002
        step3 = P.profile_series(g, logdist=True)[1]
        assert step3.x.tolist() == [50.0, 100.0]
        assert step3.y.tolist() == [7.0, -4.0]
        # A logarithmic value axis leaves out values at or below zero.
        step3 = P.profile_series(g, logvalue=True)[1]
        assert step3.y[:2].tolist() == [10.0, 7.0] and np.isnan(step3.y[2])

    def test_drawdown(self):
        g = R.parse_graphic(DRAW)
        obs = P.observation_series(g, drawdown=10.0)
        assert obs[0].y.tolist() == [1.0, 2.0, 3.0, 4.0]
        # Initial values by node (as a restart file gives them).
        initial = pd.Series([10.0, 9.5, 10.0], index=[1, 2, 3])
        prof = P.profile_series(g, drawdown=initial)
        assert prof[1].y.tolist() == [4.0, 1.5, 0.3000000000000007]


class TestFigures:
    def test_panels_labels_lines_and_scales(self):
        g = R.parse_graphic(DRAW)
        fig = P.plot_graphic(g, units=("m", "d"), logtime=True,
                             quantity="hydraulic head")
        obs, prof = fig.axes[:2]
        assert obs.get_xlabel() == "time (d)"
        assert obs.get_ylabel() == "hydraulic head"
        assert obs.get_xscale() == "log" and obs.get_yscale() == "linear"
        assert prof.get_xlabel() == "distance x (m)"
        assert prof.get_xscale() == "linear"
        assert len(drawn(obs)) == 3 and len(drawn(prof)) == 2
        assert legend(obs) == ["x = 0 m", "x = 50 m", "x = 100 m"]
        assert legend(prof) == ["t = 1 d", "t = 100 d"]
        assert fig._suptitle.get_text() == "graphic file"
        fig = P.plot_graphic(g, units="m,d,mg/L", logdist=True,
                             logvalue=True, title="run")
        obs, prof = fig.axes[:2]
        assert prof.get_xscale() == "log" and prof.get_yscale() == "log"
        assert obs.get_yscale() == "log"
        assert obs.get_ylabel() == "head or concentration (mg/L)"
        assert fig._suptitle.get_text() == "run"

    def test_drawdown_with_measured_data_and_an_analytical_solution(self):
        g = R.parse_graphic(DRAW)
        measured = pd.DataFrame({"node 1": [1.1, 2.9], "well B": [0.2, 0.4]},
                                index=pd.Index([0.1, 10.0], name="time"))
        calls = []

        def solution(x, t):
            calls.append((np.ndim(x), np.ndim(t)))
            return 0.01 * np.asarray(x) + np.log10(t) + 2.0

        fig = P.plot_graphic(g, units=("m", "d"), drawdown=10.0,
                             measured=measured, analytical=solution,
                             analytical_label="Theis")
        obs, prof = fig.axes[:2]
        assert obs.get_ylabel() == "drawdown (m)"
        # Three computed lines, three analytical, two measured series.
        assert len(drawn(obs)) == 8
        # A measured column of a node is named as its line.
        assert legend(obs) == ["x = 0 m", "x = 50 m", "x = 100 m", "Theis",
                               "x = 0 m (measured)", "well B (measured)"]
        # Measured node 1 in node 1's colour, as crosses.
        lines = {ln.get_label(): ln for ln in drawn(obs)}
        assert lines["x = 0 m (measured)"].get_color() == \
            lines["x = 0 m"].get_color()
        assert lines["x = 0 m (measured)"].get_marker() == "x"
        assert lines["x = 0 m (measured)"].get_ydata().tolist() == [1.1, 2.9]
        # The function of (x, t): over time at each node's coordinate, over
        # distance at each profile's time.
        assert calls[:3] == [(0, 1)] * 3 and calls[3:] == [(1, 0)] * 2
        dashed = [ln for ln in drawn(prof) if ln.get_linestyle() == "--"]
        assert len(dashed) == 2
        assert np.allclose(dashed[1].get_ydata(),
                           0.01 * dashed[1].get_xdata() + 4.0)

    def test_steady_run_shown_as_profiles(self):
        lines = DRAW.split("\n")
        steady = "\n".join(lines[:3] + lines[6:]).replace(
            "PROF.(  2)  PROF.(  4)", "PROF.(  1)  PROF.(  1)")
        g = R.parse_graphic(steady)
        assert g.steady
        fig = P.plot_graphic(g, units="m,d")
        assert len(fig.axes) == 1
        ax = fig.axes[0]
        assert ax.get_title() == "steady state"
        assert ax.get_xlabel() == "distance x (m)"
        # Two profiles of step 1 and a marker at each observation node.
        assert legend(ax) == ["t = 0.1 d", "t = 0.1 d", "node 1", "node 2",
                              "node 3"]
        # Without a profile the observations alone make the picture.
        g = R.parse_graphic(steady.replace("PROF.(  1)  PROF.(  1)",
                                           "PROF.(  7)  PROF.(  7)"))
        fig = P.plot_graphic(g)
        assert legend(fig.axes[0]) == ["node 1", "node 2", "node 3"]
        # Cut short after its one step: the time series of one point.
        g = R.parse_graphic("\n".join(lines[:3]) + "\n")
        fig = P.plot_graphic(g, units="m,d")
        assert [ax.get_title() for ax in fig.axes] == [
            "observation time series"]
        assert legend(fig.axes[0]) == ["node 1", "node 2", "node 3"]

    def test_nothing_to_draw(self):
        notes = []
        assert P.plot_graphic(R.parse_graphic(BARE), notes=notes) is None
        assert notes == ["no observation nodes", "no profiles"]

    def test_measured_csv_and_function_file(self, tmp_path):
        csv = tmp_path / "m.csv"
        csv.write_text("time,node 3,5\n1,2.5,\n10,3.0,1\n")
        m = P.read_measured(csv)
        assert list(m.columns) == ["node 3", "5"]
        assert math.isnan(m.loc[1.0, "5"])
        lines = [P.Series("x = 10 m", np.zeros(0), np.zeros(0), 3, 10.0),
                 P.Series("x = 50 m", np.zeros(0), np.zeros(0), 5, 50.0)]
        got = {c: P._match(c, lines) for c in (
            "node 3", "5", "x=50", "W1 x = 10 m", "10", "step 2", "B")}
        assert got == {
            "node 3": (3, "x = 10 m (measured)"),
            "5": (5, "x = 50 m (measured)"),        # no well at 5: a node
            "x=50": (5, "x = 50 m (measured)"),
            "W1 x = 10 m": (3, "W1, x = 10 m (measured)"),
            "10": (3, "x = 10 m (measured)"),       # a coordinate
            "step 2": (2, "step 2 (measured)"),
            "B": (None, "B (measured)")}
        py = tmp_path / "sol.py"
        py.write_text("def f(x, t):\n    return x + t\n")
        assert load_function(f"{py}:f")(1, 2) == 3
        for bad in (f"{py}", f"{py}:g"):
            with pytest.raises(ValueError):
                load_function(bad)


def run_exe(*args):
    """The command as a user runs it (a new process)."""
    env = dict(os.environ, MPLBACKEND="Agg")
    return subprocess.run([str(TOOL), *map(str, args)], env=env,
                          capture_output=True, text=True, timeout=120)


@dataclass
class Outcome:
    returncode: int
    stderr: str


@pytest.fixture
def run_tool(capsys):
    """The command's main function run in this process (as fast as a test
    can be): its exit status and standard error."""
    def run(*args):
        capsys.readouterr()
        try:
            code = main([str(a) for a in args])
        except SystemExit as e:  # usage errors
            code = e.code
        return Outcome(code, capsys.readouterr().err)
    return run


def assert_png(path):
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    assert len(data) > 20000


class TestCommand:
    def write(self, folder, name, text):
        path = folder / name
        path.write_text(text, encoding="latin-1")
        return path

    def test_png_by_default_and_svg(self, tmp_path, run_tool):
        g = self.write(tmp_path, "run.grf", HAND)
        r = run_exe(g)
        assert r.returncode == 0, r.stderr
        assert_png(tmp_path / "run.png")
        assert "4 value(s)" in r.stderr  # the unreadable values
        r = run_tool(g, "-o", tmp_path / "run.svg", "--logtime", "--quantity",
                     "head", "--title", "my run", "--units", "m,d")
        assert r.returncode == 0, r.stderr
        svg = (tmp_path / "run.svg").read_text()
        assert "<svg" in svg
        for text in ("node 5", "node 12", "t = 1 d", "t = 100 d", "time (d)",
                     "distance x (m)", "head", "my run"):
            assert text in svg

    def test_overlays_drawdown_and_netcdf(self, tmp_path, run_tool):
        g = self.write(tmp_path, "d.grf", DRAW)
        self.write(tmp_path, "m.csv",
                   "time,W2 x=50 m,W9\n1,0.9,1\n100,2.1,2\n")
        self.write(tmp_path, "sol.py",
                   "import numpy as np\n"
                   "def s(x, t):\n    return np.log10(t) + 2 - x / 100\n")
        r = run_tool(g, "-o", tmp_path / "d.svg", "--units", "m,d",
                     "--drawdown", "10", "--measured", tmp_path / "m.csv",
                     "--function", f"{tmp_path / 'sol.py'}:s",
                     "--function-label", "line source", "--logtime",
                     "--netcdf", tmp_path / "d.nc")
        assert (r.returncode, r.stderr) == (0, "")
        svg = (tmp_path / "d.svg").read_text()
        for text in ("drawdown (m)", "line source",
                     "W2, x = 50 m (measured)", "W9 (measured)"):
            assert text in svg
        import xarray as xr
        with xr.open_dataset(tmp_path / "d.nc") as ds:
            assert ds.observation.shape == (3, 4)
        # A restart file of initial values.
        self.write(tmp_path, "init.rst",
                   "".join("%5d%15.7E%15.7E\n" % (n, 50.0 * (n - 1), 10.0)
                           for n in (1, 2, 3)))
        r = run_tool(g, "-o", tmp_path / "e.png", "--drawdown",
                     tmp_path / "init.rst")
        assert r.returncode == 0, r.stderr

    def test_one_panel_and_nothing_to_draw(self, tmp_path, run_tool):
        only_obs = HAND.replace("PROF.(  1)  PROF.(  3)",
                                "PROF.(  7)  PROF.(  8)")
        r = run_tool(self.write(tmp_path, "a.grf", only_obs), "-o",
                     tmp_path / "a.svg")
        assert r.returncode == 0, r.stderr
        svg = (tmp_path / "a.svg").read_text()
        assert "node 5" in svg and "step 7" not in svg
        assert "no profiles" in r.stderr
        assert "never stored" in r.stderr
        r = run_tool(self.write(tmp_path, "b.grf", BARE))
        assert r.returncode == 1
        assert "no observation nodes" in r.stderr
        assert "no profiles" in r.stderr
        assert not (tmp_path / "b.png").exists()

    def test_cut_short_still_drawn(self, tmp_path, run_tool):
        cut = "\n".join(HAND.split("\n")[:6])
        r = run_tool(self.write(tmp_path, "c.grf", cut), "-o",
                     tmp_path / "c.png")
        assert r.returncode == 0, r.stderr
        assert "cut short" in r.stderr
        assert "no profile table" in r.stderr
        assert_png(tmp_path / "c.png")

    def test_errors(self, tmp_path, run_tool):
        text = self.write(tmp_path, "listing.lst", " QMR listing\n")
        r = run_tool(text, "-o", tmp_path / "l.png")
        assert r.returncode == 2
        assert "not a qmr graphic file" in r.stderr
        assert not (tmp_path / "l.png").exists()
        g = self.write(tmp_path, "run.grf", HAND)
        for args, message in (
                ((tmp_path / "none.grf",), "cannot read"),
                ((g, "-o", tmp_path / "run.pdf"), ".png or .svg"),
                ((g, "-o", tmp_path / "x.png", "--bad"), "--bad"),
                ((g, "--units", "m,d,x,y"), "units"),
                ((g, "--drawdown", tmp_path / "none.rst"), "none.rst"),
                ((g, "--function", "nofile.py"), "FILE.py:NAME"),
                ((g, "--measured", tmp_path / "none.csv"), "none.csv")):
            r = run_tool(*args)
            assert r.returncode == 2, args
            assert message in r.stderr, (args, r.stderr)
        p = self.write(tmp_path, "run.png", HAND)  # its own picture
        r = run_tool(p)
        assert r.returncode == 2
        assert p.read_text() == HAND


@needs_qmr
class TestRealRuns:
    def test_steady_run(self, tmp_path, run_tool):
        run_qmr(tmp_path, flow_deck(0, [1, 6, 11], [1]))
        for name in ("steady.png", "steady.svg"):
            r = run_tool(tmp_path / "FLOW.GRA", "-o", tmp_path / name,
                         "--units", "m,d")
            assert (r.returncode, r.stderr) == (0, "")
        assert_png(tmp_path / "steady.png")
        svg = (tmp_path / "steady.svg").read_text()
        for label in ("node 1", "node 6", "node 11", "t = 1 d",
                      "steady state"):
            assert label in svg
        assert "observation time series" not in svg
        # The default name: the graphic file's name with .png.
        r = run_exe(tmp_path / "FLOW.GRA")
        assert r.returncode == 0, r.stderr
        assert_png(tmp_path / "FLOW.png")

    def test_transient_run_and_its_failure(self, tmp_path, run_tool):
        run_qmr(tmp_path, flow_deck(9, [3, 6, 9], [1, 3, 5, 9]))
        grf = tmp_path / "FLOW.GRA"
        g = R.read_graphic(grf)
        fig = P.plot_graphic(g, units=("m", "d"), logtime=True, logdist=True)
        obs, prof = fig.axes[:2]
        assert legend(obs) == ["x = 20 m", "x = 50 m", "x = 80 m"]
        assert legend(prof) == ["t = 1 d", "t = 10 d", "t = 100 d",
                                "t = 10000 d"]
        r = run_tool(grf, "-o", tmp_path / "log.png", "--logtime",
                     "--logdist")
        assert (r.returncode, r.stderr) == (0, "")
        assert_png(tmp_path / "log.png")
        # The run's flux file is not a graphic file.
        r = run_tool(tmp_path / "FLOW.FLX", "-o", tmp_path / "flux.png")
        assert r.returncode == 2
        assert "flux file" in r.stderr
        # The same file cut short inside step 6, as a failed run leaves it.
        lines = grf.read_text(encoding="latin-1").split("\n")
        cut = "\n".join(lines[:7]) + "\n" + lines[7][:40]
        (tmp_path / "cut.grf").write_text(cut, encoding="latin-1")
        g = R.parse_graphic(cut)
        assert list(g.obs.keys) == list(range(1, 7)) and g.prof is None
        r = run_tool(tmp_path / "cut.grf", "--logtime")
        assert r.returncode == 0, r.stderr
        assert "cut short" in r.stderr
        assert_png(tmp_path / "cut.png")
