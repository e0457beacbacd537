"""Units declared once, and the reports of runs, ensembles and
calibrations (their content; tests/test_report_browser.py opens them in a
browser)."""

from __future__ import annotations

import math
import re
import subprocess
import sys
import warnings
from pathlib import Path

import numpy as np
import pandas as pd
import pytest

import qmr
from qmr.report import page as P
from qmr.report.calibration import parameter_dimension
from qmr.units import Units, dimension
from report_cases import (EXAMPLES, ROOT, calibration, example_decks,
                          figures, write_ensemble)

pytest.importorskip("pint")
EXE = qmr.find_exe() if Path(str(qmr.find_exe())).is_file() else None
needs_qmr = pytest.mark.skipif(EXE is None, reason="needs the built qmr")

FT = 0.3048        # metres in a foot


# ---------------------------------------------------------------------------
# Units
# ---------------------------------------------------------------------------

class TestUnits:
    def test_dimensions_and_their_units(self):
        assert dimension("C L3/T") == (("C", 1), ("L", 3), ("T", -1))
        assert dimension("1/L") == (("L", -1),)
        assert dimension("") == ()
        u = Units("m", "d", "mg/L")
        assert [u.unit(d) for d in ("L/T", "L2/T", "1/T", "L3", "C")] == [
            "m/d", "m²/d", "1/d", "m³", "mg/L"]
        # 1 mg/L × 1 m³ = 1000 mg = 1 g: a solute mass and its rate.
        assert u.unit("C L3") == "g" and u.unit("C L3/T") == "g/d"
        # No mass unit is exact for ppm: the product stays written out.
        assert Units("m", "d", "ppm").unit("C L3/T") == "ppm·m³/d"
        with pytest.raises(ValueError):
            dimension("L/X")

    def test_neutral_words_where_undeclared(self):
        none = Units()
        assert not none and none.unit("L") is None
        assert none.words("L2/T") == "length²/time"
        assert none.label("distance x", "L") == "distance x (length)"
        assert none.label("time", "T") == "time"      # the word itself
        assert none.label("porosity", "") == "porosity (-)"
        assert Units("m").words("L/T") == "m/time"
        assert Units.parse("m,d").label("head", "L") == "head (m)"

    def test_parsing_checking_and_conversion(self):
        assert Units.parse("m, d ,mg/L") == Units("m", "d", "mg/L")
        assert Units.parse(["ft", "h"]) == Units("ft", "h")
        assert Units.parse(None) == Units()
        assert str(Units("m", "d", "mg/L")) == "m,d,mg/L"
        for bad in ("d,m", "m,d,x,y", "m,parsecs-per-fortnight"):
            with pytest.raises(ValueError):
                Units.parse(bad)
        u = Units("m", "d")
        # 1 m/d = (1 / 0.3048) ft per 24 h.
        assert math.isclose(u.factor("L/T", "ft,h"), 1 / FT / 24,
                            rel_tol=1e-12)
        assert math.isclose(u.factor("L2/T", "ft,h"), 1 / FT ** 2 / 24,
                            rel_tol=1e-12)
        assert u.factor("", "ft,h") == 1.0
        with pytest.raises(ValueError):
            Units("m").factor("L/T", "ft,h")      # time undeclared

    def test_units_are_no_part_of_the_deck_text_or_equality(self):
        a = qmr.Deck.read(EXAMPLES / "valley" / "VELDA.INP")
        b = a.copy()
        assert a.units == Units()
        b.units = "m,d"
        assert b.units == Units("m", "d") and b.copy().units == b.units
        assert a == b and a.to_bytes() == b.to_bytes()
        c = qmr.FlowDeck(units=("ft", "s"))
        assert c.units == Units("ft", "s")
        with pytest.raises(ValueError):
            b.units = "d,d"


@needs_qmr
class TestLabelledOutputs:
    @pytest.fixture(scope="class")
    def valley(self, tmp_path_factory):
        deck = qmr.Deck.read(EXAMPLES / "valley" / "VELDA.INP")
        deck.units = "m,d"
        r = qmr.run(deck, tmp_path_factory.mktemp("valley"), args=["--csv"])
        return r

    def test_frames_carry_their_units_and_convert(self, valley):
        csv = valley.read_csv()
        obs = csv["obs"]
        assert obs.attrs["units"] == {"time": "d", "value": "m", "x": "m"}
        assert csv["flux"].attrs["units"]["rate"] == "m³/d"
        assert csv["balance"].attrs["units"]["storage_increase"] == "m³"
        assert valley.read_graphic().profiles.attrs["units"]["x"] == "m"
        assert valley.read_listing().balance.attrs["units"]["imbalance"] \
            == "m³"
        assert list(obs.columns) == list(valley.read_graphic()
                                         .observations.columns)
        # Converted: hours and feet, by the factors of the definitions.
        ft = qmr.convert(obs, "ft,h")
        assert np.allclose(ft.index, obs.index * 24.0, rtol=1e-14)
        assert np.allclose(ft.to_numpy(), obs.to_numpy() / FT, rtol=1e-14)
        assert np.allclose(ft.attrs["x"], np.array(obs.attrs["x"]) / FT)
        assert ft.attrs["units"]["value"] == "ft"
        flux = qmr.convert(csv["flux"], "ft,h")
        assert np.allclose(flux["rate"].to_numpy(),
                           csv["flux"]["rate"].to_numpy() / FT ** 3 / 24)
        # Read without units: the neutral words.
        plain = qmr.io.read_csv_outputs(valley.graphic, kinds=("obs",))
        assert plain["obs"].attrs["units"]["value"] == \
            "head or concentration"

    def test_netcdf_variables_carry_cf_units(self, valley, tmp_path):
        pytest.importorskip("netCDF4")
        import netCDF4
        g = valley.read_graphic()
        g.to_netcdf(tmp_path / "v.nc")
        with netCDF4.Dataset(tmp_path / "v.nc") as nc:
            assert nc["observation"].units == "m"      # heads: the length
            assert nc["profile"].units == "m"
            assert nc["time"].units == "d" and nc["x"].units == "m"
            assert "head" in nc["observation"].long_name

    def test_standard_error_is_kept_beside_the_graphic_file(self, tmp_path):
        deck = qmr.Deck.read(EXAMPLES / "plume" / "VELDA.INP")
        deck.media[1].porosity = 25.0           # typed a column off
        with pytest.warns(qmr.QmrWarning):
            r = qmr.run(deck, tmp_path)
        kept = qmr.runner.stderr_path(r.graphic).read_text()
        assert kept == r.stderr and "porosity 25" in kept


# ---------------------------------------------------------------------------
# The page
# ---------------------------------------------------------------------------

class TestPage:
    def test_thinning_keeps_ends_and_extremes(self):
        n = 100_000
        x = np.arange(n, dtype=float)
        y = np.sin(x / 5000.0)
        y[31_337] = 50.0                    # one spike
        y[77_777] = -50.0
        keep = P.thin(x, y, 2000)
        assert len(keep) <= 2000
        assert {0, n - 1, 31_337, 77_777} <= set(keep.tolist())
        assert np.all(np.diff(keep) > 0)
        assert len(P.thin(x[:50], y[:50], 2000)) == 50

    def test_a_page_holds_its_data_and_says_when_thinned(self, tmp_path):
        page = P.Page("t</script>", limit=100)
        page.figure("f", "x (m)", "y (m)", [
            P.Series("long", np.arange(1000.0), np.arange(1000.0)),
            P.Series("gap", [1.0, 2.0, 3.0], [1.0, np.nan, np.inf])])
        assert page.figure("empty", "x", "y",
                           [P.Series("nan", [1.0], [np.nan])]) is None
        html = page.write(tmp_path / "p.html").read_text()
        assert "Thinned for the page" in html
        assert "<title>t&lt;/script&gt;</title>" in html
        figs = figures(html)
        s = figs["fig1"]["series"]
        assert len(s[0]["x"]) <= 100 and s[0]["x"][-1] == 999.0
        assert s[1]["y"] == [1.0, None, None]
        assert "http" not in re.sub(r'xmlns="http://www.w3.org/2000/svg"',
                                    "", html.replace(
                                        "http://www.w3.org/2000/svg", ""))


# ---------------------------------------------------------------------------
# Run reports
# ---------------------------------------------------------------------------

def all_labels_carry_units(figs: dict, words: tuple) -> list:
    """Axis labels that carry neither a unit in parentheses nor one of the
    neutral words."""
    bad = []
    for f in figs.values():
        for label in (f["xlabel"], f["ylabel"]):
            if "(" not in label and label not in words:
                bad.append(label)
    return bad


@needs_qmr
class TestRunReport:
    def test_report_of_a_result_with_units_and_warnings(self, tmp_path):
        deck = qmr.Deck.read(EXAMPLES / "plume" / "VELDA.INP")
        deck.media[1].porosity = 25.0
        deck.units = "m,d,mg/L"
        with pytest.warns(qmr.QmrWarning):
            r = qmr.run(deck, tmp_path, args=["--csv"])
        path = r.report()
        assert path == tmp_path / "report.html"
        html = path.read_text()
        for text in ("transport (concentrations)", "dispersivity (m)",
                     "diffusion (m²/d)", "decay (1/d)", "porosity (-)",
                     "recharge concentration (mg/L)",
                     "deck.media[1].porosity", "porosity 25 is outside",
                     "Breakthrough curves", "Solute mass balance",
                     "Relative imbalance", "uniform Darcy velocity 0.1 m/d"):
            assert text in html, text
        figs = figures(html)
        assert all_labels_carry_units(figs, ("time",)) == []
        assert any(f["ylabel"] == "concentration (mg/L)"
                   for f in figs.values())
        assert any(f["ylabel"] == "amount over the step (g)"
                   for f in figs.values())

    def test_without_units_the_labels_say_the_neutral_words(self, tmp_path):
        deck = qmr.Deck.read(EXAMPLES / "valley" / "VELDA.INP")
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            r = qmr.run(deck, tmp_path, args=["--csv"])
        figs = figures(r.report().read_text())
        labels = {f["xlabel"] for f in figs.values()} | {
            f["ylabel"] for f in figs.values()}
        assert {"time", "distance x (length)", "head (length)",
                "amount over the step (length³)"} <= labels
        assert all_labels_carry_units(figs, ("time",)) == []
        assert "m" not in {u for f in figs.values()
                           for u in re.findall(r"\((\w+)\)", f["ylabel"])}

    def test_pumping_test_profiles_are_drawdowns(self, tmp_path):
        out = tmp_path / "run"
        path = qmr.report.report_decks(example_decks("pumping"), out,
                                       units="m,d")
        figs = figures(path.read_text())
        prof = next(f for f in figs.values() if f["title"].startswith(
            "Drawdown profiles"))
        assert prof["logx"] and prof["xlabel"] == "radius r (m)"
        assert prof["ylabel"] == "drawdown (m)"
        csv = qmr.read_csv_outputs(out / "pumping.grf")["prof"]
        last = csv.iloc[:, -1].to_numpy()
        # Initial head 50 m everywhere: drawdown = 50 - head.
        want = 50.0 - last
        got = np.array(prof["series"][-1]["y"], dtype=float)
        assert np.allclose(got, want, rtol=1e-6, atol=1e-9)
        assert (out / "VELDA.INP").is_file()

    def test_folder_of_a_chain_and_the_command(self, tmp_path):
        out = tmp_path / "chain"
        r = subprocess.run(
            [sys.executable, str(ROOT / "tools" / "qmr-report"),
             *map(str, example_decks("chain")), "--folder", str(out),
             "--units", "m,d,mg/L"], capture_output=True, text=True)
        assert r.returncode == 0, r.stderr
        assert r.stdout.strip() == str(out / "report.html")
        html = (out / "report.html").read_text()
        assert "Run 1 (deck1.inp)" in html and "Run 2 (deck2.inp)" in html
        # Read again from the folder: the same figures.
        again = qmr.report.run_report(out, tmp_path / "again.html",
                                      units="m,d,mg/L")
        assert figures(again.read_text()) == figures(html)
        assert (out / "flow.stderr.txt").is_file() or any(
            out.glob("*.stderr.txt"))
        bad = subprocess.run(
            [sys.executable, str(ROOT / "tools" / "qmr-report"),
             str(tmp_path / "nothing"), "--units", "m,d"],
            capture_output=True, text=True)
        assert bad.returncode == 2 and "qmr-report:" in bad.stderr
        bad = subprocess.run(
            [sys.executable, str(ROOT / "tools" / "qmr-report"), str(out),
             "--units", "d,m"], capture_output=True, text=True)
        assert bad.returncode == 2 and "not a length" in bad.stderr

    def test_relative_imbalance_by_hand(self):
        b = pd.DataFrame({"time": [1.0, 2.0, 3.0],
                          "prescribed_value": [10.0, -4.0, 0.0],
                          "recharge": [2.0, 2.0, 0.0],
                          "storage_increase": [11.0, -2.5, 0.0],
                          "imbalance": [1.0, 0.5, 0.0]})
        rel = qmr.report.relative_imbalance(b)
        assert rel.iloc[0] == pytest.approx(1.0 / 23.0)
        assert rel.iloc[1] == pytest.approx(0.5 / 8.5)
        assert math.isnan(rel.iloc[2])


# ---------------------------------------------------------------------------
# Ensemble and calibration reports
# ---------------------------------------------------------------------------

class TestEnsembleReport:
    def test_percentiles_chances_and_rank_correlations(self, tmp_path):
        results = write_ensemble(tmp_path)
        path = qmr.report.ensemble_report(results, units="m,d",
                                          threshold=7.0, kind="flow")
        assert path == tmp_path / "report.html"
        html = path.read_text()
        figs = figures(html)
        band = next(f for f in figs.values()
                    if f["title"].startswith("observations, node 5"))
        s = {x["name"]: x for x in band["series"]}
        # Values k*step, k = 1..5: 5 % at 1.2*step, median 3*step, 95 %
        # at 4.8*step (linear interpolation between the order statistics).
        assert s["median"]["y"] == [3.0, 6.0, 9.0]
        assert s["5-95 %"]["y"] == pytest.approx([1.2, 2.4, 3.6])
        assert s["5-95 %"]["y2"] == pytest.approx([4.8, 9.6, 14.4])
        assert band["ylabel"] == "observations (m)"
        assert band["xlabel"] == "time (d)"
        chance = next(f for f in figs.values()
                      if f["title"].startswith("Chance that observations"))
        node5 = next(x for x in chance["series"] if "node 5" in x["name"])
        assert node5["y"] == pytest.approx([0.0, 0.4, 0.6])
        # Rank correlations: +1 and -1 with k; with 5,3,1,4,2 by hand
        # 1 - 6*30/(5*24) = -0.5. The failed realization left out.
        table = html[html.rindex("Rank correlation"):]
        rows = re.findall(r"<tr><td class=\"text\"[^>]*>([^<]*)</td>"
                          r"<td[^>]*>([^<]*)</td><td[^>]*>([^<]*)</td>",
                          table)
        got = {r[0]: (float(r[1]), float(r[2])) for r in rows}
        assert got["observations, node 5"] == (1.0, -0.5)
        assert got["observations, node 9"] == (-1.0, 0.5)
        assert "qmr: no convergence" in html
        assert "Distribution of media[1].conductivity" in html

    @needs_qmr
    def test_an_ensemble_result_reports_itself(self, tmp_path):
        deck = qmr.Deck.read(EXAMPLES / "valley" / "VELDA.INP")
        params = pd.DataFrame({"media[1].conductivity": [20.0, 25.0, 30.0]})
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            res = qmr.ensemble(deck, params, workers=1,
                               results_file=tmp_path / "r.csv")
        path = res.report(units="m,d", threshold=10.0, kind="flow")
        figs = figures(path.read_text())
        assert any(f["title"].startswith("Chance that observations")
                   for f in figs.values())
        assert all_labels_carry_units(figs, ()) == []


class TestCalibrationReport:
    def test_parameter_units_from_their_paths(self):
        deck = qmr.Deck.read(EXAMPLES / "valley" / "VELDA.INP")
        assert parameter_dimension(deck, "media[2].conductivity") == "L/T"
        assert parameter_dimension(deck, "flow.media[1].leakance") == "1/T"
        assert parameter_dimension(deck, "prescribed_values[1].value") \
            == "L"
        assert parameter_dimension(deck, "media[1].storativity") == ""
        assert parameter_dimension(deck, "nonsense[1].x") is None

    def test_the_report_of_a_calibration(self, tmp_path):
        cal = calibration(tmp_path)
        path = qmr.report.calibration_report(cal)
        assert path == tmp_path / "report.html"
        html = path.read_text()
        for text in ("converged: objective changed", "media[1].conductivity",
                     '<td class="text">m/d</td>', '<td class="text">m</td>',
                     "media[1].conductivity and media[1].recharge (-0.970)",
                     "1 parameter combination(s) the data do not resolve",
                     "Group heads: measured and simulated head",
                     "Weighted residuals", "Statistics by group"):
            assert text in html, text
        figs = figures(html)
        fit = next(f for f in figs.values() if f["title"].startswith(
            "Group heads: measured"))
        assert fit["ylabel"] == "head (m)"
        assert fit["xlabel"] == "time (d)"
        # one series of measured and one of simulated values per well, not
        # one per measurement (each has a name of its own)
        assert [s["name"] for s in fit["series"]] == [
            "x = 1000 m measured", "x = 1000 m simulated",
            "x = 5000 m measured", "x = 5000 m simulated"]
        flux = next(f for f in figs.values() if f["title"].startswith(
            "Group fluxes: measured"))
        assert flux["ylabel"] == "flux (m³/d)"
        sv = next(f for f in figs.values() if f["title"].startswith(
            "Singular"))
        assert sv["series"][0]["y"] == [12.0, 3.0, 0.02] and sv["logy"]
        assert all_labels_carry_units(figs, ()) == []
        other = qmr.report.calibration_report(cal, tmp_path / "x.html",
                                              units="ft,h")
        assert "<td class=\"text\">ft/h</td>" in other.read_text()
