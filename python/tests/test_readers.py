"""The readers: fields, graphic, flux, restart and velocity files, CSV
outputs and listings, on hand-written files with known values and on the
outputs of real runs checked against each other and against physics."""

import math
import warnings

import numpy as np
import pytest

import synthetic
from qmr import io as R
from qmr.io.columns import Lines, parse_value, read_floats, read_integers
from runs import BARE, FLUX, HAND, flow_deck, needs_qmr, run_example, \
    run_qmr


def nan_list(values):
    """Lists compare NaN as equal to NaN only through a stand-in."""
    return ["nan" if isinstance(v, float) and math.isnan(v) else v
            for v in values]


def fields(texts):
    """Texts of equal width as an array of bytes (one field per row)."""
    return np.frombuffer("".join(texts).encode(), np.uint8).reshape(
        len(texts), -1)


class TestFields:
    def test_every_written_form(self):
        cases = [(" 0.1234E+02", 12.34), ("-0.1234E+02", -12.34),
                 (" 0.1234+100", 1.234e99), ("-.1234-100", -1.234e-101),
                 ("-0.1234-100", -1.234e-101), (" 0.0000E+00", 0.0),
                 (" 0.2000E-14", 2.0e-15), (" 0.1000E+01", 1.0),
                 ("   Infinity", math.inf), ("  -Infinity", -math.inf),
                 ("       -Inf", -math.inf), (" 0.12 34E+0 2", 12.34),
                 ("      12345", 1.2345), ("  1.5D-3", 0.0015),
                 ("  1.5-3", 0.0015)]
        for text, want in cases:
            assert parse_value(text, 4) == want, text
        for text in ("***********", "        NaN", "           "):
            assert math.isnan(parse_value(text, 4)), text
        assert parse_value("      ", 7, blank=0.0) == 0.0
        for text in (" 0.12X4E+02", " 1.2.3E+01", "       E+02",
                     "   --1.0E+0"):
            with pytest.raises(ValueError):
                parse_value(text, 4)

    def test_columns_equal_decimal_reading(self):
        # Every E11.4 text of random digits, signs and exponents (two and
        # three digits) reads as Python reads its text; odd forms too.
        rng = np.random.default_rng(7)
        texts = []
        for _ in range(4000):
            m = rng.integers(0, 10000)
            e = rng.integers(-120, 121)
            sign = "-" if rng.random() < 0.5 else " "
            if abs(e) < 100:
                texts.append(f"{sign}0.{m:04d}E{e:+03d}")
            else:
                texts.append(f"{sign}0.{m:04d}{e:+04d}")
        texts += ["***********", "        NaN", "   Infinity", "  .1234E+02"]
        got, unreadable = read_floats(fields(texts), 4)
        want = [parse_value(t, 4) for t in texts]
        assert nan_list(list(got)) == nan_list(want)
        assert unreadable == 3
        # Wider fields with blanks in front, seven digits (restart file).
        texts = [" 0.1234567E+02", "-0.9999999E-30", " 0.1000000E+01"]
        got, _ = read_floats(fields([" " + t for t in texts]), 7)
        assert list(got) == [12.34567, -9.999999e-31, 1.0]

    def test_faults_name_the_field(self):
        seen = []
        got, _ = read_floats(fields([" 0.1000E+01", " 0.1x00E+01"]), 4,
                             fault=lambda i, t: seen.append((i, t)))
        assert got[0] == 1.0 and math.isnan(got[1])
        assert seen == [((1,), " 0.1x00E+01")]
        seen = []
        got = read_integers(fields(["   12", "    7", "  -3 ", " 1 2 ",
                                    "  1x "]),
                            fault=lambda i, t: seen.append(i))
        assert list(got) == [12, 7, -3, 12, -1]
        assert seen == [4]

    def test_lines(self):
        lines = Lines(b"ab\r\n\ncd\n   x")
        assert [lines.text(i) for i in range(len(lines))] == \
            ["ab", "", "cd", "   x"]
        assert lines.open_end
        assert lines.next_blank(0) == 1 and lines.next_blank(2) == 4
        assert Lines(b"ab\n").open_end is False
        assert len(Lines(b"")) == 0
        block = Lines(b"abc\nde\nfghij\n").block(0, 3, 4)
        assert [bytes(r) for r in block] == [b"abc ", b"de  ", b"fghi"]

    def test_gather_in_pieces(self, monkeypatch):
        import qmr.io.columns
        lines = Lines(b"".join(b"%5d\n" % k for k in range(1, 1001)))
        whole = lines.gather(np.arange(0, 1000, 3), 6)
        monkeypatch.setattr(qmr.io.columns, "_GATHER_BYTES", 7)
        assert np.array_equal(lines.gather(np.arange(0, 1000, 3), 6), whole)
        assert read_integers(whole).tolist() == list(range(1, 1001, 3))


class TestGraphic:
    def test_complete_file(self):
        g = R.parse_graphic(HAND)
        assert g.warnings == [] and g.complete and g.unreadable == 4
        obs = g.observations
        assert list(obs.columns) == [5, 12]
        assert list(obs.index) == [1.0, 10.0, 100.0, 1000.0, 10000.0]
        assert list(obs.attrs["step"]) == [1, 2, 3, 4, 5]
        # Nodes 5 and 12 are not among the three nodes of the profiles.
        assert nan_list(obs.attrs["x"]) == ["nan", "nan"]
        assert nan_list(list(obs[5])) == [12.34, 1.234e99, "nan", math.inf,
                                          0.0]
        assert nan_list(list(obs[12])) == [-12.34, -1.234e-101, "nan",
                                           -math.inf, 0.002]
        assert list(g.obs.logx) == [0.0, 1.0, 2.0, 3.0, 4.0]
        prof = g.profiles
        assert list(prof.columns) == [1, 3]
        assert list(prof.index) == [0.0, 50.0, 100.0]
        assert prof.attrs["time"] == [1.0, 100.0]
        assert list(prof.attrs["node"]) == [1, 2, 3]
        assert list(prof[1]) == [10.0, 9.5, 4.0]
        assert list(prof[3]) == [10.0, 7.0, -4.0]
        assert list(g.prof.logx) == [0.0, 1.699, 2.0]
        # CR LF line ends read the same.
        g2 = R.parse_graphic(HAND.replace("\n", "\r\n"))
        assert g2.warnings == []
        assert g2.profiles.equals(prof)
        assert g2.observations.iloc[4].tolist() == [0.0, 0.002]

    def test_observation_coordinates_from_the_profile_table(self):
        text = HAND.replace("OBS.(  5)   OBS.( 12)", "OBS.(  3)   OBS.(  2)")
        g = R.parse_graphic(text)
        assert g.observations.attrs["x"] == [100.0, 50.0]
        assert list(g.coordinates()) == [0.0, 50.0, 100.0]

    def test_without_observation_nodes_or_profiles(self):
        g = R.parse_graphic(BARE)
        assert g.warnings == []
        assert g.observations.shape == (1, 0)
        assert list(g.observations.index) == [1.0]
        assert g.profiles.shape == (2, 0)
        assert list(g.profiles.index) == [0.0, 10.0]

    def test_cut_short(self):
        lines = HAND.split("\n")
        # After three complete rows: no profile table.
        g = R.parse_graphic("\n".join(lines[:5]) + "\n")
        assert g.prof is None and not g.complete
        assert list(g.observations.attrs["step"]) == [1, 2, 3]
        assert g.profiles.shape == (0, 0)
        assert "cut short" in g.warnings[0]
        # Inside the fourth row, in its first value: the time is kept, the
        # cut value and the ones after it are missing.
        g = R.parse_graphic("\n".join(lines[:5]) + "\n" + lines[5][:30])
        assert list(g.obs.keys) == [1, 2, 3, 4]
        assert g.obs.x[3] == 1000.0
        assert nan_list([g.obs.logx[3], g.obs.values[3, 1]]) == ["nan",
                                                                 "nan"]
        assert len(g.warnings) == 1
        # Only the asterisks and the NaN of row 3 count as unreadable.
        assert g.unreadable == 2
        # Inside the step number of the fourth row: the row is left out.
        g = R.parse_graphic("\n".join(lines[:5]) + "\n     ")
        assert list(g.obs.keys) == [1, 2, 3]
        # Between the two empty lines, after the profile heading, and in
        # the profile rows.
        for n, rows in ((8, None), (10, 0), (13, 2)):
            g = R.parse_graphic("\n".join(lines[:n]) + "\n")
            assert list(g.obs.keys) == [1, 2, 3, 4, 5]
            assert "cut short" in g.warnings[0]
            if rows is None:
                assert g.prof is None
            else:
                assert g.prof.labels == ["1", "3"]
                assert len(g.prof.keys) == rows
        # Only the heading.
        g = R.parse_graphic(lines[0] + "\n")
        assert list(g.observations.columns) == [5, 12]
        assert len(g.observations) == 0

    def test_not_a_graphic_file(self):
        cases = [("", "empty"),
                 ("\n QMR listing\n", "not a qmr graphic file"),
                 ("1.TIMESTEP   2.TIMEVAL   3.LOGTIME   OBS.(  5)\n",
                  "not a qmr graphic file"),
                 ("1.TIMESTEP   2.TIMEVAL   3.LOGTIME   OBS.(  5   OBS.(\n",
                  "not a qmr graphic file"),
                 (FLUX, "flux file")]
        for text, message in cases:
            with pytest.raises(R.GraphicFileError) as e:
                R.parse_graphic(text, "x.grf")
            assert message in str(e.value)

    def test_malformed_lines_are_named(self):
        lines = HAND.split("\n")

        def fails(n, new, message):
            bad = list(lines)
            bad[n] = new
            with pytest.raises(R.GraphicFileError) as e:
                R.parse_graphic("\n".join(bad))
            assert f"line {n + 1}" in str(e.value)
            assert message in str(e.value)

        fails(3, lines[3].replace("0.1234+100", "0.12a4+100"),
              "columns 36-46")
        fails(3, lines[3] + "  0.1000E+01", "more values")
        fails(3, lines[3][:46], "fewer values")
        fails(3, "       2.5" + lines[3][10:], "whole number")
        fails(3, lines[3][:10] + "x" + lines[3][11:], "column 11")
        fails(1, "x", "one blank")
        fails(8, "x", "second empty line")
        fails(9, "    1.NODE  2.DISTANCE   3.LOGDIST  PROF.(  1)",
              "heading")
        fails(12, lines[12][:34] + "     a" + lines[12][40:], "columns 36-46")
        # Trailing blanks after the last value are no fault.
        ok = list(lines)
        ok[3] += "   "
        assert R.parse_graphic("\n".join(ok)).observations.shape == (5, 2)

    def test_profiles_never_stored(self):
        # Steps 9 (beyond the five steps of the run) and, listed after step
        # 3, step 2 were never stored: zeros in the file, NaN here.
        for heading, kept in (
                ("PROF.(  1)  PROF.(  9)", [0]),
                ("PROF.(  3)  PROF.(  2)", [0]),
                ("PROF.(  3)  PROF.(  3)", [0, 1])):
            g = R.parse_graphic(HAND.replace("PROF.(  1)  PROF.(  3)",
                                             heading))
            assert g.never_stored == [k for k in (0, 1) if k not in kept]
            assert len(g.warnings) == 2 - len(kept)
            if len(kept) < 2:
                assert "never stored" in g.warnings[0]
                assert g.profiles.iloc[:, 1].isna().all()
                assert math.isnan(g.profiles.attrs["time"][1])
            assert not g.profiles.iloc[:, 0].isna().any()

    def test_wider_headings_and_forty_columns(self):
        # A node number beyond three columns stands in a field just wide
        # enough; the value columns stay where they are.
        text = HAND.replace("OBS.( 12)", "OBS.(12345)").replace(
            "PROF.(  3)", "PROF.(1000)")
        g = R.parse_graphic(text)
        assert list(g.observations.columns) == [5, 12345]
        assert list(g.profiles.columns) == [1, 1000]
        assert g.never_stored == [1]
        # Asterisks of a legacy field too narrow are kept as written.
        g = R.parse_graphic(HAND.replace("PROF.(  3)", "PROF.(***)"))
        assert list(g.profiles.columns) == [1, "***"]
        # Forty columns: the observation heading ends with an asterisk,
        # the profile heading with two more empty lines.
        s = synthetic.graphic(60, 50, 40, 40)
        assert s.data.split(b"\n")[0].endswith(b")*")
        g = R.parse_graphic(s.data)
        assert g.warnings == []
        assert list(g.observations.columns) == s.obs_nodes
        assert list(g.profiles.columns) == s.prof_steps
        assert np.array_equal(g.observations.to_numpy(), s.obs)
        assert np.array_equal(g.profiles.to_numpy(), s.prof)
        assert np.array_equal(g.profiles.index.to_numpy(), s.x)
        assert g.profiles.attrs["time"] == [s.times[k - 1]
                                            for k in s.prof_steps]
        assert g.observations.attrs["x"] == [s.x[n - 1] for n in s.obs_nodes]

    def test_large_synthetic_file_reads_exactly(self, tmp_path):
        # Every field equals float() of its text, whatever its exponent.
        s = synthetic.graphic(3000, 2000, 17, 9, seed=3)
        path = tmp_path / "big.grf"
        path.write_bytes(s.data)
        g = R.read_graphic(path)
        assert np.array_equal(g.observations.to_numpy(), s.obs)
        assert np.array_equal(g.observations.index.to_numpy(), s.times)
        assert np.array_equal(g.profiles.to_numpy(), s.prof)
        assert g.name == "big.grf"

    def test_warnings_become_python_warnings(self, tmp_path):
        path = tmp_path / "cut.grf"
        path.write_text("\n".join(HAND.split("\n")[:5]) + "\n")
        with pytest.warns(UserWarning, match="cut short"):
            R.read_graphic(path)
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            R.read_graphic(path, warn=False)


class TestFluxRestartVelocity:
    def test_flux_file(self):
        f = R.parse_flux(FLUX)
        assert f.warnings == []
        assert list(f.rates.columns) == [1, 11]
        assert list(f.rates.index) == [1.0, 3.0]
        assert f.rates[1].tolist() == [0.6, 0.4]
        assert f.rates[11].tolist() == [-0.25, -1.0e99]
        assert f.accumulated[11].tolist() == [-0.25, -0.75]
        assert list(f.accumulated.attrs["step"]) == [1, 2]

    def test_flux_file_of_a_transport_run_and_of_a_failed_run(self):
        # A transport run writes no rates and a history of zeros.
        lines = FLUX.split("\n")
        text = "\n".join(lines[:2] + lines[4:])
        f = R.parse_flux(text)
        assert f.rates.shape == (0, 2)
        assert f.accumulated.shape == (2, 2)
        # A failed run has no history.
        f = R.parse_flux("\n".join(lines[:4]) + "\n")
        assert f.rates.shape == (2, 2) and f.accumulated.shape == (0, 2)
        assert "cut short" in f.warnings[0]
        with pytest.raises(R.OutputFileError, match="graphic file"):
            R.parse_flux(HAND)

    def test_restart_file(self, tmp_path):
        # As written, and as edited by hand: a value without a point has
        # seven decimals, a D exponent, a blank field is zero, surplus
        # columns are ignored, CR LF line ends.
        path = tmp_path / "r.rst"
        path.write_bytes(b"    1  0.0000000E+00  0.5000000E+02\r\n"
                         b"    2  0.5000000E+02 -0.4980171E-02\r\n"
                         b"    3       100.0000       12345678   extra\r\n"
                         b"    4         1.5D+2\r\n\r\n")
        r = R.read_restart(path)
        assert list(r.index) == [1, 2, 3, 4]
        assert r["x"].tolist() == [0.0, 50.0, 100.0, 150.0]
        assert r["value"].tolist() == [50.0, -0.004980171, 1.2345678, 0.0]
        path.write_text("    1  0.0000000E+00  0.50000x0E+02\n")
        with pytest.raises(R.OutputFileError, match="line 1: columns 21-35"):
            R.read_restart(path)
        path.write_text("")
        with pytest.raises(R.OutputFileError, match="empty"):
            R.read_restart(path)

    def test_velocity_file_blocks(self, tmp_path):
        rec = "%5d  0.%07dE+01  0.1000000E+02 -0.2500000E-01  0.4000000E-01\n"
        path = tmp_path / "v.vel"
        path.write_text("".join(rec % (e, 1000000 * b + e)
                                for b in (1, 2) for e in (1, 2, 3)))
        v = R.read_velocity(path)
        assert v.shape == (6, 4)
        assert list(v.columns) == ["darcy", "thickness", "leakage",
                                   "recharge"]
        assert v.loc[(2, 3), "darcy"] == 2.000003
        assert v.loc[(1, 1)].tolist() == [1.000001, 10.0, -0.025, 0.04]
        assert v.index.get_level_values("block").tolist() == [1] * 3 + [2] * 3


class TestCsv:
    def write(self, folder, name, text):
        (folder / name).write_text(text)

    def test_csv_outputs(self, tmp_path):
        self.write(tmp_path, "RUN.obs.csv",
                   "step,time,node 5 x=40,node 12 x=110.5\n"
                   "1,0.1,9.999999999999998,1e-300\n"
                   "2,0.30000000000000004,8.5,-0\n")
        self.write(tmp_path, "RUN.prof.csv",
                   "node,x,step 2 t=0.30000000000000004\n"
                   "1,0,10\n2,10.1,9.75\n")
        self.write(tmp_path, "RUN.flux.csv",
                   "step,time,rate node 1 x=0,accumulated node 1 x=0,"
                   "rate node 11 x=100,accumulated node 11 x=100\n"
                   "1,0.1,2.5,0.25,-1,-0.1\n2,0.3,1.5,0.55,-1,-0.3\n")
        self.write(tmp_path, "RUN.balance.csv",
                   "step,time,prescribed_value,storage,imbalance\n"
                   "1,0.1,3.5,3.5,0\n2,0.3,1,0.75,2.5e-17\n")
        out = R.read_csv_outputs(tmp_path / "RUN.GRF")
        assert sorted(out) == ["balance", "flux", "obs", "prof"]
        obs = out["obs"]
        assert list(obs.columns) == [5, 12]
        assert obs.attrs["x"] == [40.0, 110.5]
        assert list(obs.attrs["step"]) == [1, 2]
        # Full precision: the shortest texts read back to the same doubles.
        assert obs.index[1] == 0.1 + 0.2
        assert obs[5].tolist() == [9.999999999999998, 8.5]
        assert obs.loc[0.1, 12] == 1e-300
        prof = out["prof"]
        assert prof.attrs["time"] == [0.1 + 0.2]
        assert list(prof.index) == [0.0, 10.1]
        assert list(prof.columns) == [2] and list(prof.attrs["node"]) == [1,
                                                                          2]
        flux = out["flux"]
        assert flux["rate"][11].tolist() == [-1.0, -1.0]
        assert flux["accumulated"][1].tolist() == [0.25, 0.55]
        assert flux.attrs["x"] == {1: 0.0, 11: 100.0}
        bal = out["balance"]
        assert list(bal.columns)[-1] == "imbalance"
        assert bal.loc[2, "imbalance"] == 2.5e-17

    def test_names_and_headers(self, tmp_path):
        paths = R.csv_paths(tmp_path / "a.b" / "RUN.GRF")
        assert paths["obs"] == tmp_path / "a.b" / "RUN.obs.csv"
        assert R.csv_paths("out/run")["prof"].as_posix() == \
            "out/run.prof.csv"
        assert R.read_csv_outputs(tmp_path / "none.grf") == {}
        self.write(tmp_path, "x.obs.csv", "step,time,node 5\n1,1,1\n")
        with pytest.raises(R.OutputFileError, match="node 5"):
            R.read_csv_outputs(tmp_path / "x.grf")
        self.write(tmp_path, "y.balance.csv", "step,time,storage\n1,1,1\n")
        with pytest.raises(R.OutputFileError, match="imbalance"):
            R.read_csv_outputs(tmp_path / "y.grf")


# An excerpt of a flow listing: the restart echo (same layout as the step
# tables, not a step), one printed step with two prescribed heads, its mass
# balance, and the end.
LISTING = """\
 NODE     E-COORD   CONCENTRATION
 ----     -------   -------------


    1 0.00000E+00      0.50000E+02
    2 0.10000E+02      0.49000E+02
  HYDRAULIC CONDUCTIVITY          =  0.20000E+02

********************************************************************************

                          TIME STEP NUMBER    1
                          *********************

                          CURRENT TIME =  0.20000E+01
                         PREVIOUS TIME =  0.00000E+00
                             TIME STEP =  0.20000E+01
                          INITIAL TIME =  0.00000E+00
                          ELAPSED TIME =  0.20000E+01
                                 THETA =  0.10000E+01

                          ****************************


***** ITERATION   1 OF MAXIMUM   1 *****
      MAXIMUM HEAD DIFFERENCE OF  0.25000E+01 AT NODE     2


  SOLUTION VECTOR ASLOD(ID)

 NODE     E-COORD   HYDRAULIC HEAD
 ----     -------   --------------
    1 0.00000E+00      0.50000E+02
    2 0.10000E+02      0.47500E+02
    3 0.20000E+02      0.45000E+02

  RESULTING FLUX AT PRESCRIBED HEAD NODES
  ***************************************

  NODE   PRESCRIBED HEAD    RESULTING FLUX         FLUX RATE       ACCUMULATED
                            OVER TIME STEP      OVER TIME STEP        FLUX
  ----   ---------------    --------------      --------------     -----------

     1       0.50000E+02       0.30000E+01       0.15000E+01       0.30000E+01
     3       0.45000E+02      -0.30000E+01      -0.15000E+01      -0.30000E+01

           MASS BALANCE COMPUTATION
           ************************

   MASS ENTERING SYSTEM FROM PRESCRIBED HEAD NODES =  0.00000E+00
   MASS ENTERING SYSTEM FROM PRESCRIBED FLUX NODES =  0.10000E+01
   MASS ENTERING SYSTEM FROM RECHARGE CONDITION    =  0.50000E+00
   MASS ENTERING SYSTEM FROM AQUITARD LEAKAGE      = -0.25000E+00
   MASS INCREASE HELD IN STORAGE                   =  0.12500E+01

   MASS OUT OF BALANCE (MASS IN - MASS INCREASE)   =  0.10000+100


                     ***** TIME STEP  1 OF  2 COMPLETED *****
                     ***** TIME STEP  1 OF  2 COMPLETED *****
"""


class TestListing:
    def test_hand_written_step(self):
        lst = R.parse_listing(LISTING + " ****SOLUTION NOT CONVERGED - "
                              "PROGRAM TERMINATED****\n")
        assert lst.kind == "flow"
        assert not lst.completed
        assert lst.failure == "SOLUTION NOT CONVERGED - PROGRAM TERMINATED"
        assert lst.steps.loc[1].tolist() == [2.0, 0.0, 2.0, 0.0, 2.0, 1.0]
        # The restart echo before the first step is no step table.
        assert lst.values.shape == (3, 1)
        assert lst.values[1].tolist() == [50.0, 47.5, 45.0]
        assert list(lst.values.attrs["x"]) == [0.0, 10.0, 20.0]
        assert list(lst.values.attrs["time"]) == [2.0]
        assert lst.fluxes.loc[(1, 3)].tolist() == [45.0, -3.0, -1.5, -3.0]
        assert lst.balance.loc[1].tolist() == [0.0, 1.0, 0.5, -0.25, 1.25,
                                               1e99]
        assert lst.iterations.loc[(1, 1)].tolist() == [2.5, 2, 1]

    def test_listing_cut_inside_a_table(self):
        second = LISTING[LISTING.index("****\n\n   "):].replace(
            "NUMBER    1", "NUMBER    2").replace("0.47500E+02", "0.46500E+02")
        cut = LISTING + second[:second.index("    2 0.10000E+02")]
        lst = R.parse_listing(cut)
        assert list(lst.steps.index) == [1, 2]
        assert list(lst.values.columns) == [1, 2]
        assert nan_list(lst.values[2].tolist()) == [50.0, "nan", "nan"]
        assert lst.values[1].tolist() == [50.0, 47.5, 45.0]
        assert list(lst.balance.index) == [1]
        assert not lst.completed and lst.failure is None

    def test_wider_step_numbers_and_success(self):
        text = LISTING.replace("TIME STEP NUMBER    1",
                               "TIME STEP NUMBER 12345") + \
            "\n QMR - Quenmoor Model - SUCCESSFUL TERMINATION\n" \
            "\n QMR - Quenmoor Model - SUCCESSFUL TERMINATION\n"
        lst = R.parse_listing(text.replace("\n", "\r\n"))
        assert lst.completed and lst.failure is None
        assert list(lst.steps.index) == [12345]
        assert list(lst.values.columns) == [12345]
        assert lst.values[12345].tolist() == [50.0, 47.5, 45.0]
        assert list(lst.balance.index) == [12345]


def close(a, b, digits):
    """Values printed with different numbers of significant digits agree
    within half a unit of the coarser one's last digit."""
    a, b = np.asarray(a, float), np.asarray(b, float)
    scale = np.maximum(np.abs(a), np.abs(b))
    return np.all(np.abs(a - b) <= 0.5001 * 10.0 ** (1 - digits) * scale
                  + 1e-300)


@needs_qmr
class TestRealRuns:
    def test_steady_run_is_linear(self, tmp_path):
        run_qmr(tmp_path, flow_deck(0, [1, 6, 11], [1], restart=True,
                                    velocity=1))
        g = R.read_graphic(tmp_path / "FLOW.GRA")
        assert g.warnings == [] and g.complete
        # One step at time 1; heads 10, 7, 4 at x = 0, 50, 100.
        assert g.observations.index.tolist() == [1.0]
        assert g.observations.iloc[0].tolist() == [10.0, 7.0, 4.0]
        assert g.observations.attrs["x"] == [0.0, 50.0, 100.0]
        x = g.profiles.index.to_numpy()
        assert x.tolist() == [10.0 * k for k in range(11)]
        assert np.allclose(g.profiles[1], 10.0 - 0.06 * x, atol=5e-4)
        r = R.read_restart(tmp_path / "FLOW.RST")
        assert np.allclose(r["value"], 10.0 - 0.06 * r["x"], atol=1e-6)
        # Darcy velocity x width = conductivity 5 x gradient 0.06.
        v = R.read_velocity(tmp_path / "FLOW.VEL")
        assert v.shape == (10, 4)
        assert np.allclose(v["darcy"], 0.3, rtol=1e-6)
        assert (v["thickness"] == 2.0).all()
        lst = R.read_listing(tmp_path / "FLOW.LST")
        assert lst.kind == "flow" and lst.completed
        assert np.allclose(lst.values[1], 10.0 - 0.06 * x, atol=5e-5)
        # Steady: transmissivity 5 x 2 times the gradient 0.06 enters at
        # node 1 and leaves at node 11.
        assert np.allclose(lst.fluxes["rate"], [0.6, -0.6], rtol=1e-4)

    def test_transient_run_files_agree_with_the_listing(self, tmp_path):
        run_qmr(tmp_path, flow_deck(9, [3, 6, 9], [1, 3, 5, 9],
                                    restart=True, velocity=2))
        g = R.read_graphic(tmp_path / "FLOW.GRA")
        lst = R.read_listing(tmp_path / "FLOW.LST")
        f = R.read_flux(tmp_path / "FLOW.FLX")
        assert g.warnings == [] and f.warnings == []
        steps = lst.steps
        assert list(steps.index) == list(range(1, 10))
        # Two steps per factor ten of time from 1.
        assert close(steps["time"], 10.0 ** (np.arange(9) / 2), 5)
        assert close(g.observations.index, steps["time"], 4)
        assert close(g.obs.logx, np.arange(9) / 2, 4)
        # Observations and profiles: the listing's heads at their nodes.
        for node in (3, 6, 9):
            assert close(g.observations[node], lst.values.loc[node], 4)
        for step in (1, 3, 5, 9):
            assert close(g.profiles[step], lst.values[step], 4)
        assert g.profiles.attrs["time"] == [g.observations.index[s - 1]
                                            for s in (1, 3, 5, 9)]
        # Fluxes: rate x step = amount, accumulated = running sum; the flux
        # file's rates and history are the listing's.
        fl = lst.fluxes
        for node in (1, 11):
            one = fl.xs(node, level="node")
            assert close(one["rate"] * steps["delta"], one["amount"], 4)
            assert close(np.cumsum(one["amount"]), one["accumulated"], 4)
            assert close(f.rates[node], one["rate"], 4)
            assert close(f.accumulated[node], one["accumulated"], 4)
        # Mass balance: the inflows minus storage are the imbalance, which
        # is tiny; the prescribed-head term is the sum of the node fluxes.
        b = lst.balance
        terms = b.prescribed_head + b.prescribed_flux + b.recharge \
            + b.leakage - b.storage
        assert np.all(np.abs(b.imbalance) < 1e-6 * np.abs(b.storage).max())
        assert np.all(np.abs(terms) < 1e-3 * np.abs(b.storage).max())
        node_sum = fl.amount.groupby(level="step").sum()
        size = fl.amount.abs().groupby(level="step").sum()
        assert np.all(np.abs(b.prescribed_head - node_sum) <= 1e-4 * size)
        # Restart: the heads of the last step, seven digits against five.
        r = R.read_restart(tmp_path / "FLOW.RST")
        assert close(r["value"], lst.values[9], 5)
        # Velocity code 2: one block per step; the last block is the
        # gradient of the last heads times the conductivity.
        v = R.read_velocity(tmp_path / "FLOW.VEL")
        assert v.index.get_level_values("block").max() == 9
        h = r["value"].to_numpy()
        assert close(v.loc[9, "darcy"], -5.0 * np.diff(h) / 10.0, 4)

    def test_examples(self, tmp_path):
        run_example("valley", tmp_path)
        g = R.read_graphic(tmp_path / "valley.grf")
        lst = R.read_listing(tmp_path / "valley.lst")
        assert list(g.observations.columns) == [6, 16, 26, 36, 46]
        assert g.observations.attrs["x"] == [1000.0, 3000.0, 5000.0,
                                             7000.0, 9000.0]
        printed = list(lst.values.columns)
        assert printed == list(range(1, 42))
        for node in g.observations.columns:
            assert close(g.observations[node], lst.values.loc[node], 4)
        assert close(g.profiles[41], lst.values[41], 4)
        f = R.read_flux(tmp_path / "valley.flx")
        assert close(f.rates[1], lst.fluxes.xs(1, level="node").rate, 4)

    def test_chain_transport(self, tmp_path):
        run_example("chain", tmp_path)
        lst = R.read_listing(tmp_path / "transport.lst")
        assert lst.kind == "transport" and lst.completed
        assert lst.fluxes.empty and lst.balance.empty
        g = R.read_graphic(tmp_path / "transport.grf")
        for node in g.observations.columns:
            listed = lst.values.loc[node].to_numpy()
            # Observation rows write values below 0.001 as zero.
            listed = np.where(np.abs(listed) < 1e-3, 0.0, listed)
            assert close(g.observations[node], listed, 4)
        # The flow run prints every tenth of its 50 steps and writes one
        # velocity block of its 40 elements per step.
        flow = R.read_listing(tmp_path / "flow.lst")
        assert list(flow.steps.index) == list(range(1, 51))
        assert list(flow.values.columns) == [10, 20, 30, 40, 50]
        assert list(flow.balance.index) == [10, 20, 30, 40, 50]
        assert flow.values.shape[0] == 41
        v = R.read_velocity(tmp_path / "chain.vel")
        assert v.shape == (50 * 40, 4)
        assert v.loc[50].index.tolist() == list(range(1, 41))
        # The last block holds conductivity 100 x width 300 times the
        # gradient of the last heads (the listing's five digits resolve the
        # small head differences to about 2 %).
        h = np.array(flow.values[50])
        grad = -np.diff(h) / np.diff(flow.values.attrs["x"])
        ratio = v.loc[50, "darcy"].to_numpy() / grad
        assert np.allclose(ratio, 100.0 * 300.0, rtol=0.02)


class TestNetcdf:
    def test_round_trip(self, tmp_path):
        import netCDF4
        import xarray as xr
        text = HAND.replace("OBS.(  5)   OBS.( 12)", "OBS.(  3)   OBS.(  2)")
        g = R.parse_graphic(text, "run.grf")
        path = tmp_path / "run.nc"
        g.to_netcdf(path, units=("m", "d"), quantity="hydraulic head")
        with netCDF4.Dataset(path) as nc:
            assert nc.Conventions == "CF-1.8"
            assert nc.featureType == "timeSeries"
            assert nc["station"].cf_role == "timeseries_id"
            assert nc["observation"].dimensions == ("station", "time")
            assert set(nc["observation"].coordinates.split()) == {
                "time", "station_x", "step"}
            assert nc["time"].units == "d" and nc["time"].axis == "T"
            assert nc["time"].standard_name == "time"
            assert nc["station_x"].units == "m" and nc["x"].units == "m"
            assert nc["profile"].dimensions == ("profile_time", "x")
            assert "units" not in nc["observation"].ncattrs()
            assert "hydraulic head" in nc["observation"].long_name
        with xr.open_dataset(path) as ds:
            assert ds.station.values.tolist() == [3, 2]
            assert ds.station_x.values.tolist() == [100.0, 50.0]
            assert ds.step.values.tolist() == [1, 2, 3, 4, 5]
            assert ds.time.values.tolist() == [1.0, 10.0, 100.0, 1000.0,
                                               10000.0]
            obs = ds.observation.values
            want = g.observations.to_numpy().T
            assert np.array_equal(obs, want, equal_nan=True)
            assert obs[0, 3] == math.inf  # infinities survive the trip
            assert ds.x.values.tolist() == [0.0, 50.0, 100.0]
            assert ds.node.values.tolist() == [1, 2, 3]
            assert ds.profile_time.values.tolist() == [1.0, 100.0]
            assert ds.profile_step.values.tolist() == [1, 3]
            assert ds.profile.sel(profile_time=100.0).values.tolist() == [
                10.0, 7.0, -4.0]
        # One part alone; a value unit; no units at all.
        g.to_netcdf(tmp_path / "o.nc", units="m,d,m", part="observations")
        with xr.open_dataset(tmp_path / "o.nc") as ds:
            assert "profile" not in ds and ds.observation.units == "m"
        ds = g.to_xarray(part="profiles")
        assert "observation" not in ds and "featureType" not in ds.attrs
        assert "units" not in ds.x.attrs
        with pytest.raises(ValueError):
            g.to_xarray(part="both")
        with pytest.raises(ValueError):
            g.to_xarray(units="m,d,x,y")
