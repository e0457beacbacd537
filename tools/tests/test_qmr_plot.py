"""qmr-plot: the reading of graphic files (hand-written and written by real
runs of qmr) and the pictures drawn from them.

The real-run tests need the environment variable QMR_EXE (the qmr program);
they are skipped without it."""

import importlib.machinery
import importlib.util
import math
import os
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

TOOL = Path(__file__).resolve().parent.parent / "qmr-plot"
_loader = importlib.machinery.SourceFileLoader("qmr_plot", str(TOOL))
_found = importlib.util.spec_from_loader("qmr_plot", _loader)
qp = importlib.util.module_from_spec(_found)
_loader.exec_module(qp)

# Two observation nodes (5 and 12), five steps, two profiles (steps 1 and 3)
# over three nodes; the value fields show every form a field can take.
def row(number, *fields):
    """A row as qmr writes it: the number in ten columns, then each
    11-column field after one blank."""
    assert all(len(f) == 11 for f in fields), fields
    return "%10d" % number + "".join(" " + f for f in fields)


HAND = "\n".join([
    "1.TIMESTEP   2.TIMEVAL   3.LOGTIME   OBS.(  5)   OBS.( 12)   OBS.(",
    " ",
    row(1, " 0.1000E+01", " 0.0000E+00", " 0.1234E+02", "-0.1234E+02"),
    row(2, " 0.1000E+02", " 0.1000E+01", " 0.1234+100", " -.1234-100"),
    row(3, " 0.1000E+03", " 0.2000E+01", "***********", "        NaN"),
    row(4, " 0.1000E+04", " 0.3000E+01", "   Infinity", "  -Infinity"),
    row(5, " 0.1000E+05", " 0.4000E+01", " 0.0000E+00", " 0.2000E-02"),
    "",
    "",
    "    1.NODE  2.DISTANCE   3.LOGDIST  PROF.(  1)  PROF.(  3)  PROF.(",
    " ",
    row(1, " 0.0000E+00", " 0.0000E+00", " 0.1000E+02", " 0.1000E+02"),
    row(2, " 0.5000E+02", " 0.1699E+01", " 0.9500E+01", " 0.7000E+01"),
    row(3, " 0.1000E+03", " 0.2000E+01", " 0.4000E+01", "-0.4000E+01"),
    "",
    ""])

# No observation nodes and no profiles: only the headings and the fixed
# columns.
BARE = "\n".join([
    "1.TIMESTEP   2.TIMEVAL   3.LOGTIME   OBS.(",
    " ",
    row(1, " 0.1000E+01", " 0.0000E+00"),
    "",
    "",
    "    1.NODE  2.DISTANCE   3.LOGDIST  PROF.(",
    " ",
    row(1, " 0.0000E+00", " 0.0000E+00"),
    row(2, " 0.1000E+02", " 0.1000E+01"),
    "",
    ""])

# The first lines of a flux file: the same heading form as the graphic file,
# then the flux history table.
FLUX = "\n".join([
    "1.TIMESTEP   2.TIMEVAL   3.LOGTIME   OBS.(  1)   OBS.(",
    " ",
    row(1, " 0.1000E+01", " 0.0000E+00", " 0.6000E+00"),
    "",
    "",
    "    1.STEP  2.TIMVALUE   3.LOGTIME  PROF.(  1)  PROF.(",
    " ",
    row(1, " 0.1000E+01", " 0.0000E+00", " 0.6000E+00"),
    "",
    ""])


def nan_list(values):
    """Lists compare NaN as equal to NaN only through a stand-in."""
    return ["nan" if isinstance(v, float) and math.isnan(v) else v
            for v in values]


def run_tool(*args, cwd=None):
    env = dict(os.environ, MPLBACKEND="Agg")
    return subprocess.run([str(TOOL), *map(str, args)], cwd=cwd, env=env,
                          capture_output=True, text=True, timeout=120)


class ValueFields(unittest.TestCase):
    def test_every_written_form(self):
        cases = [(" 0.1234E+02", 12.34), ("-0.1234E+02", -12.34),
                 (" 0.1234+100", 1.234e99), ("-.1234-100", -1.234e-101),
                 ("-0.1234-100", -1.234e-101), (" 0.0000E+00", 0.0),
                 (" 0.2000E-14", 2.0e-15), (" 0.1000E+01", 1.0),
                 ("   Infinity", math.inf), ("  -Infinity", -math.inf),
                 ("       -Inf", -math.inf)]
        for text, want in cases:
            with self.subTest(text=text):
                self.assertEqual(qp.parse_value(text), want)
        for text in ("***********", "        NaN", "           "):
            with self.subTest(text=text):
                self.assertTrue(math.isnan(qp.parse_value(text)))

    def test_blanks_inside_and_digits_without_point(self):
        # Blanks inside a field are ignored; without a point the last four
        # digits are the fraction.
        self.assertEqual(qp.parse_value(" 0.12 34E+0 2"), 12.34)
        self.assertEqual(qp.parse_value("      12345"), 1.2345)

    def test_not_numbers(self):
        for text in (" 0.12X4E+02", " 1.2.3E+01", "       E+02",
                     "   --1.0E+0"):
            with self.subTest(text=text):
                with self.assertRaises(ValueError):
                    qp.parse_value(text)


class Reading(unittest.TestCase):
    def test_complete_file(self):
        g = qp.parse(HAND)
        self.assertEqual(g.warnings, [])
        self.assertEqual(g.obs.labels, ["5", "12"])
        self.assertEqual(g.obs.keys, [1, 2, 3, 4, 5])
        self.assertEqual(g.obs.x, [1.0, 10.0, 100.0, 1000.0, 10000.0])
        self.assertEqual(g.obs.logx, [0.0, 1.0, 2.0, 3.0, 4.0])
        node5, node12 = g.obs.columns
        self.assertEqual(nan_list(node5),
                         [12.34, 1.234e99, "nan", math.inf, 0.0])
        self.assertEqual(nan_list(node12),
                         [-12.34, -1.234e-101, "nan", -math.inf, 0.002])
        self.assertEqual(g.prof.labels, ["1", "3"])
        self.assertEqual(g.prof.keys, [1, 2, 3])
        self.assertEqual(g.prof.x, [0.0, 50.0, 100.0])
        self.assertEqual(g.prof.logx, [0.0, 1.699, 2.0])
        self.assertEqual(g.prof.columns, [[10.0, 9.5, 4.0], [10.0, 7.0, -4.0]])
        self.assertTrue(g.obs.complete and g.prof.complete)
        # Asterisks, NaN and the two infinities cannot be drawn.
        self.assertEqual(qp.count_unreadable(g), 4)

    def test_windows_line_ends(self):
        g = qp.parse(HAND.replace("\n", "\r\n"))
        self.assertEqual(g.warnings, [])
        self.assertEqual(g.obs.keys, [1, 2, 3, 4, 5])
        self.assertEqual(g.prof.columns[1], [10.0, 7.0, -4.0])

    def test_without_observation_nodes_or_profiles(self):
        g = qp.parse(BARE)
        self.assertEqual(g.warnings, [])
        self.assertEqual(g.obs.labels, [])
        self.assertEqual(g.obs.keys, [1])
        self.assertEqual(g.obs.x, [1.0])
        self.assertEqual(g.prof.labels, [])
        self.assertEqual(g.prof.x, [0.0, 10.0])
        self.assertEqual(qp.obs_series(g), [])
        self.assertEqual(qp.prof_series(g), [])

    def test_cut_short(self):
        lines = HAND.split("\n")
        # After three complete rows: no profile table.
        g = qp.parse("\n".join(lines[:5]) + "\n")
        self.assertIsNone(g.prof)
        self.assertEqual(g.obs.keys, [1, 2, 3])
        self.assertIn("cut short", g.warnings[0])
        # Inside the fourth row, in its first value: the time is kept, the
        # cut value and the ones after it are missing.
        g = qp.parse("\n".join(lines[:5]) + "\n" + lines[5][:30])
        self.assertEqual(g.obs.keys, [1, 2, 3, 4])
        self.assertEqual(g.obs.x[3], 1000.0)
        self.assertEqual(nan_list([g.obs.logx[3], g.obs.columns[1][3]]),
                         ["nan", "nan"])
        self.assertEqual(len(g.warnings), 1)
        # Only the asterisks and the NaN of row 3 count as unreadable, not
        # the values the cut line never had.
        self.assertEqual(qp.count_unreadable(g), 2)
        # Inside the step number of the fourth row: the row is left out.
        g = qp.parse("\n".join(lines[:5]) + "\n     ")
        self.assertEqual(g.obs.keys, [1, 2, 3])
        # Between the two empty lines, after the profile heading, and in the
        # profile rows.
        for n, rows in ((8, None), (10, 0), (13, 2)):
            with self.subTest(lines=n):
                g = qp.parse("\n".join(lines[:n]) + "\n")
                self.assertEqual(g.obs.keys, [1, 2, 3, 4, 5])
                self.assertIn("cut short", g.warnings[0])
                if rows is None:
                    self.assertIsNone(g.prof)
                else:
                    self.assertEqual(g.prof.labels, ["1", "3"])
                    self.assertEqual(len(g.prof.keys), rows)
        # Only the heading.
        g = qp.parse(lines[0] + "\n")
        self.assertEqual((g.obs.labels, g.obs.keys), (["5", "12"], []))

    def test_wide_and_full_headings(self):
        # A run beyond the legacy capacities: numbers of four or five digits
        # take as many columns; forty labels end the observation heading
        # with "*" and the profile heading with nothing.
        nodes = [31 * k for k in range(1, 41)]
        obs = qp.OBS_HEAD + "".join(
            "   OBS.(%3d)" % n for n in nodes) + "*"
        self.assertEqual(qp.parse_heading(obs, qp.OBS_HEAD, qp.OBS_ITEM),
                         [str(n) for n in nodes])
        prof = qp.PROF_HEAD + "".join(
            "  PROF.(%3d)" % s for s in range(960, 1000))
        self.assertEqual(qp.parse_heading(prof, qp.PROF_HEAD, qp.PROF_ITEM),
                         [str(s) for s in range(960, 1000)])
        wide = qp.PROF_HEAD + "  PROF.(500)  PROF.(99999)  PROF.("
        self.assertEqual(qp.parse_heading(wide, qp.PROF_HEAD, qp.PROF_ITEM),
                         ["500", "99999"])
        # A "*" or a missing end after fewer than forty labels, and a label
        # narrower than three columns, are no heading.
        for bad in (qp.OBS_HEAD + "   OBS.(  5)*",
                    qp.OBS_HEAD + "   OBS.(  5)",
                    qp.OBS_HEAD + "   OBS.( 5)   OBS.("):
            self.assertIsNone(
                qp.parse_heading(bad, qp.OBS_HEAD, qp.OBS_ITEM), bad)

    def test_not_a_graphic_file(self):
        cases = [("", "empty"),
                 ("\n QMR listing\n", "not a qmr graphic file"),
                 ("1.TIMESTEP   2.TIMEVAL   3.LOGTIME   OBS.(  5)\n",
                  "not a qmr graphic file"),
                 ("1.TIMESTEP   2.TIMEVAL   3.LOGTIME   OBS.(  5   OBS.(\n",
                  "not a qmr graphic file"),
                 (FLUX, "flux file")]
        for text, message in cases:
            with self.subTest(text=text[:20]):
                with self.assertRaises(qp.GraphicFileError) as e:
                    qp.parse(text, "x.grf")
                self.assertIn(message, str(e.exception))

    def test_malformed_lines_are_named(self):
        lines = HAND.split("\n")

        def fails(n, new, message):
            bad = list(lines)
            bad[n] = new
            with self.subTest(line=n + 1, text=new):
                with self.assertRaises(qp.GraphicFileError) as e:
                    qp.parse("\n".join(bad))
                self.assertIn(f"line {n + 1}", str(e.exception))
                self.assertIn(message, str(e.exception))

        fails(3, lines[3].replace("0.1234+100", "0.12a4+100"), "columns 36-46")
        fails(3, lines[3] + "  0.1000E+01", "more values")
        fails(3, lines[3][:46], "fewer values")
        fails(3, "       2.5" + lines[3][10:], "whole number")
        fails(3, lines[3][:10] + "x" + lines[3][11:], "column 11")
        fails(1, "x", "one blank")
        fails(8, "x", "second empty line")
        fails(9, "    1.NODE  2.DISTANCE   3.LOGDIST  PROF.(  1)",
              "profile heading")
        fails(12, lines[12][:34] + "     a" + lines[12][40:], "columns 36-46")

    def test_profiles_never_stored(self):
        # Steps 9 (beyond the five steps of the run) and, listed after step 3,
        # step 2 were never stored: their columns are zeros, not drawn.
        for heading, kept in (
                ("PROF.(  1)  PROF.(  9)", ["step 1"]),
                ("PROF.(  3)  PROF.(  2)", ["step 3"]),
                ("PROF.(  3)  PROF.(  3)", ["step 3", "step 3"])):
            with self.subTest(heading=heading):
                g = qp.parse(HAND.replace("PROF.(  1)  PROF.(  3)", heading))
                self.assertEqual([s[0] for s in qp.prof_series(g)], kept)
                self.assertEqual(len(g.warnings), 2 - len(kept))
                if len(kept) < 2:
                    self.assertIn("never stored", g.warnings[0])

    def test_series_on_logarithmic_axes(self):
        text = HAND.replace(row(1, " 0.1000E+01", " 0.0000E+00"),
                            row(1, " 0.0000E+00", "  -Infinity"))
        g = qp.parse(text)
        node5 = qp.obs_series(g)[0]
        self.assertEqual(node5[0], "node 5")
        self.assertEqual(node5[1], [0.0, 10.0, 100.0, 1000.0, 10000.0])
        # Infinity cannot be drawn: a gap, as the asterisks.
        self.assertEqual(nan_list(node5[2]),
                         [12.34, 1.234e99, "nan", "nan", 0.0])
        node12 = qp.obs_series(g, logtime=True)[1]
        self.assertEqual(node12[1], [10.0, 100.0, 1000.0, 10000.0])
        self.assertEqual(nan_list(node12[2]),
                         [-1.234e-101, "nan", "nan", 0.002])
        step3 = qp.prof_series(g, logdist=True)[1]
        self.assertEqual(step3, ("step 3", [50.0, 100.0], [7.0, -4.0]))


class Pictures(unittest.TestCase):
    def setUp(self):
        self.dir = Path(tempfile.mkdtemp(prefix="qmr-plot-"))
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def write(self, name, text):
        path = self.dir / name
        path.write_text(text, encoding="latin-1")
        return path

    def assertPicture(self, path, kind):
        self.assertTrue(path.exists(), path)
        data = path.read_bytes()
        if kind == "png":
            self.assertEqual(data[:8], b"\x89PNG\r\n\x1a\n")
            self.assertGreater(len(data), 20000)
        else:
            text = data.decode("utf-8")
            self.assertIn("<svg", text)
            return text

    def test_png_by_default_and_svg(self):
        g = self.write("run.grf", HAND)
        r = run_tool(g)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertPicture(self.dir / "run.png", "png")
        self.assertIn("4 value(s)", r.stderr)  # the unreadable values
        r = run_tool(g, "-o", self.dir / "run.svg", "--logtime", "--quantity",
                     "head (m)", "--title", "my run")
        self.assertEqual(r.returncode, 0, r.stderr)
        svg = self.assertPicture(self.dir / "run.svg", "svg")
        for text in ("node 5", "node 12", "step 1", "step 3", "time",
                     "distance", "head (m)", "my run"):
            self.assertIn(text, svg)

    def test_one_panel_and_nothing_to_draw(self):
        only_obs = HAND.replace("PROF.(  1)  PROF.(  3)",
                                "PROF.(  7)  PROF.(  8)")
        r = run_tool(self.write("a.grf", only_obs), "-o", self.dir / "a.svg")
        self.assertEqual(r.returncode, 0, r.stderr)
        svg = self.assertPicture(self.dir / "a.svg", "svg")
        self.assertIn("node 5", svg)
        self.assertNotIn("step 7", svg)
        self.assertIn("no profiles", r.stderr)
        r = run_tool(self.write("b.grf", BARE))
        self.assertEqual(r.returncode, 1)
        self.assertIn("no observation nodes", r.stderr)
        self.assertIn("no profiles", r.stderr)
        self.assertFalse((self.dir / "b.png").exists())

    def test_cut_short_still_drawn(self):
        cut = "\n".join(HAND.split("\n")[:6])
        r = run_tool(self.write("c.grf", cut), "-o", self.dir / "c.png")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("cut short", r.stderr)
        self.assertIn("no profile table", r.stderr)
        self.assertPicture(self.dir / "c.png", "png")

    def test_errors(self):
        text = self.write("listing.lst", " QMR listing\n")
        r = run_tool(text, "-o", self.dir / "l.png")
        self.assertEqual(r.returncode, 2)
        self.assertIn("not a qmr graphic file", r.stderr)
        self.assertFalse((self.dir / "l.png").exists())
        g = self.write("run.grf", HAND)
        for args, message in (
                ((self.dir / "none.grf",), "cannot read"),
                ((g, "-o", self.dir / "run.pdf"), ".png or .svg"),
                ((g, "-o", self.dir / "x.png", "--bad"), "--bad")):
            with self.subTest(args=args):
                r = run_tool(*args)
                self.assertEqual(r.returncode, 2)
                self.assertIn(message, r.stderr)
        p = self.write("run.png", HAND)  # would be replaced by its own picture
        r = run_tool(p)
        self.assertEqual(r.returncode, 2)
        self.assertEqual(p.read_text(), HAND)


def flow_deck(nts, obs, profiles):
    """A flow deck: ten elements of 10 over 0..100, transmissivity 5 x 2,
    storage coefficient 0.1, heads fixed at 10 (node 1) and 4 (node 11),
    initial head 10. nts = 0 makes it a steady-state run; otherwise the
    steps are fully implicit, two per factor of ten of time from 1."""
    steady = nts == 0
    lines = ["F", "FLOW.LST", "FLOW.GRA", "FLOW.FLX", "flow run",
             "%5d%5d%5d%5d%5d%5d%5d%5d" % (10, max(nts, 1), 1, 2, 0, 0,
                                           len(obs), len(profiles)),
             "%5d%5d%5d%5d%5d%5d%5d%5d%5d%5d%5d" % (1, 0, 1, 1, 0, 0, 0, 1, 0,
                                                   int(steady), 1),
             "       0.0     100.0       1.0",  # graded mesh, factor 1
             "    1",  # one zone from element 1
             "       5.0       0.0       0.1       2.0       0.0       0.0"
             "       0.0       1.0"]
    if not steady:
        lines.append("       0.0       1.0    2")
    lines += ["    1    1      10.0", "   11    1       4.0", "      10.0"]
    lines += ["%5d" % n for n in obs + profiles]
    return "\n".join(lines) + "\n"


@unittest.skipUnless(os.environ.get("QMR_EXE"), "QMR_EXE is not set")
class RealRuns(unittest.TestCase):
    def run_qmr(self, deck):
        folder = Path(tempfile.mkdtemp(prefix="qmr-plot-run-"))
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        (folder / "VELDA.INP").write_text(deck)
        r = subprocess.run([os.environ["QMR_EXE"]], cwd=folder,
                           capture_output=True, timeout=120)
        self.assertEqual(r.returncode, 0, r.stderr)
        return folder

    def test_steady_run_linear_profile(self):
        folder = self.run_qmr(flow_deck(0, [1, 6, 11], [1]))
        g = qp.parse((folder / "FLOW.GRA").read_text(encoding="latin-1"))
        self.assertEqual(g.warnings, [])
        # One step at time 1: log 0; heads 10, 7, 4 at x = 0, 50, 100.
        self.assertEqual(g.obs.labels, ["1", "6", "11"])
        self.assertEqual((g.obs.keys, g.obs.x, g.obs.logx),
                         ([1], [1.0], [0.0]))
        self.assertEqual(g.obs.columns, [[10.0], [7.0], [4.0]])
        self.assertEqual(g.prof.labels, ["1"])
        self.assertEqual(g.prof.keys, list(range(1, 12)))
        self.assertEqual(g.prof.x, [10.0 * k for k in range(11)])
        for x, h in zip(g.prof.x, g.prof.columns[0]):
            self.assertAlmostEqual(h, 10.0 - 0.06 * x, delta=5e-4)
        for name in ("steady.png", "steady.svg"):
            r = run_tool(folder / "FLOW.GRA", "-o", folder / name)
            self.assertEqual((r.returncode, r.stderr), (0, ""))
        self.assertPicture(folder / "steady.png")
        svg = (folder / "steady.svg").read_text()
        for label in ("node 1", "node 6", "node 11", "step 1"):
            self.assertIn(label, svg)
        # The default name: the graphic file's name with .png.
        r = run_tool(folder / "FLOW.GRA")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertPicture(folder / "FLOW.png")

    def test_transient_run_logarithmic_steps(self):
        folder = self.run_qmr(flow_deck(9, [3, 6, 9], [1, 3, 5, 9]))
        grf = folder / "FLOW.GRA"
        g = qp.parse(grf.read_text(encoding="latin-1"))
        self.assertEqual(g.warnings, [])
        self.assertEqual(g.obs.keys, list(range(1, 10)))
        for k, (t, logt) in enumerate(zip(g.obs.x, g.obs.logx)):
            self.assertAlmostEqual(t, 10.0 ** (k / 2), delta=5e-4 * t)
            self.assertAlmostEqual(logt, k / 2, delta=5e-4)
        # The drawdown from the fixed head 4 spreads from node 11 and falls
        # steadily at every node towards the line 10 - 0.06 x.
        for node, col in zip((3, 6, 9), g.obs.columns):
            x = 10.0 * (node - 1)
            self.assertLessEqual(col[0], 10.0)
            self.assertTrue(all(a >= b for a, b in zip(col, col[1:])), col)
            self.assertAlmostEqual(col[-1], 10.0 - 0.06 * x, delta=5e-4)
        self.assertGreater(g.obs.columns[1][0] - g.obs.columns[1][-1], 2.5)
        # A profile holds the same values as the observation row of its step.
        for k, step in enumerate((1, 3, 5, 9)):
            for n, node in enumerate((3, 6, 9)):
                self.assertEqual(g.prof.columns[k][node - 1],
                                 g.obs.columns[n][step - 1])
        r = run_tool(grf, "-o", folder / "log.png", "--logtime", "--logdist")
        self.assertEqual((r.returncode, r.stderr), (0, ""))
        self.assertPicture(folder / "log.png")
        # The run's flux file is not a graphic file.
        r = run_tool(folder / "FLOW.FLX", "-o", folder / "flux.png")
        self.assertEqual(r.returncode, 2)
        self.assertIn("flux file", r.stderr)
        # The same file cut short inside step 6, as a failed run leaves it.
        text = grf.read_text(encoding="latin-1")
        cut = self.cut(text, 7, 40)
        g = qp.parse(cut)
        self.assertEqual(g.obs.keys, list(range(1, 7)))
        self.assertIsNone(g.prof)
        (folder / "cut.grf").write_text(cut, encoding="latin-1")
        r = run_tool(folder / "cut.grf", "--logtime")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("cut short", r.stderr)
        self.assertPicture(folder / "cut.png")

    @staticmethod
    def cut(text, line, column):
        lines = text.split("\n")
        return "\n".join(lines[:line]) + "\n" + lines[line][:column]

    def assertPicture(self, path):
        data = path.read_bytes()
        self.assertEqual(data[:8], b"\x89PNG\r\n\x1a\n")
        self.assertGreater(len(data), 20000)


if __name__ == "__main__":
    unittest.main()
