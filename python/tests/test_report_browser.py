"""The reports in a real browser: headless Chromium (Debian's chromium and
chromium-driver, driven by python3-selenium) opens the report of every
example, of an ensemble and of a calibration from a file:// URL with the
network cut, reads the page's console (no error), checks that every figure
was drawn with data and that nothing was fetched, and saves a screenshot
(into $QMR_SCREENSHOTS, the build folder under CTest)."""

from __future__ import annotations

import os
import shutil
import tempfile
from pathlib import Path

import pytest

import qmr
from report_cases import (EXAMPLE_UNITS, calibration, example_decks,
                          write_ensemble)

CHROMIUM = shutil.which("chromium")
DRIVER = shutil.which("chromedriver")
try:
    import selenium  # noqa: F401
    HAVE_SELENIUM = True
except ImportError:
    HAVE_SELENIUM = False

if not (CHROMIUM and DRIVER and HAVE_SELENIUM):
    pytest.skip("chromium is not installed (Debian packages chromium, "
                "chromium-driver, python3-selenium; scripts/test.sh "
                "installs them): the reports were not opened in a browser",
                allow_module_level=True)

pytest.importorskip("pint")

# What the page says of each figure once its script ran: drawn, and how
# many data elements (lines with points, markers, bars, bands) it holds.
FIGURES = """
return Array.from(document.querySelectorAll('figure.plot')).map(f => ({
  id: f.id, drawn: f.getAttribute('data-drawn') === '1',
  data: Array.from(f.querySelectorAll('svg .data .series')).filter(e =>
    e.tagName !== 'path' || (e.getAttribute('d') || '').length > 2).length
}));
"""


@pytest.fixture(scope="module")
def shots() -> Path:
    where = os.environ.get("QMR_SCREENSHOTS")
    p = Path(where) if where else Path(tempfile.mkdtemp(prefix="qmr-shots-"))
    p.mkdir(parents=True, exist_ok=True)
    return p


@pytest.fixture(scope="module")
def browser():
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    opts = webdriver.ChromeOptions()
    opts.binary_location = CHROMIUM
    for a in ("--headless=new", "--no-sandbox", "--disable-gpu",
              "--disable-dev-shm-usage", "--window-size=1100,1600",
              # The network cut: no name resolves, every request goes to a
              # proxy where nothing listens.
              "--host-resolver-rules=MAP * ~NOTFOUND",
              "--proxy-server=http://127.0.0.1:9",
              "--proxy-bypass-list=<-loopback>"):
        opts.add_argument(a)
    opts.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    d = webdriver.Chrome(service=Service(DRIVER), options=opts)
    d.set_page_load_timeout(60)
    yield d
    d.quit()


def open_and_check(browser, report: Path, shot: Path) -> list:
    """Opens a report; returns its figures after checking the console,
    the requests and that every figure holds data."""
    browser.get_log("browser")                     # drop earlier messages
    browser.get(report.resolve().as_uri())
    errors = [e for e in browser.get_log("browser")
              if e.get("level") in ("SEVERE", "WARNING")]
    assert errors == [], errors
    fetched = browser.execute_script(
        "return performance.getEntriesByType('resource').map(e => e.name)")
    assert fetched == []
    figs = browser.execute_script(FIGURES)
    assert figs, "no figure"
    empty = [f["id"] for f in figs if not f["drawn"] or f["data"] == 0]
    assert empty == [], f"figures without data: {empty}"
    height = browser.execute_script(
        "return document.documentElement.scrollHeight")
    browser.set_window_size(1100, min(int(height) + 100, 16000))
    assert browser.save_screenshot(str(shot))
    assert shot.stat().st_size > 10_000
    browser.set_window_size(1100, 1600)
    return figs


@pytest.mark.parametrize("example", sorted(EXAMPLE_UNITS))
def test_each_example_report_opens_offline(browser, shots, tmp_path,
                                           example):
    report = qmr.report.report_decks(example_decks(example),
                                     tmp_path / example,
                                     units=EXAMPLE_UNITS[example])
    size = report.stat().st_size
    assert size < 3_000_000
    figs = open_and_check(browser, report, shots / f"report-{example}.png")
    assert len(figs) >= 5        # mesh, steps, series, profiles, balance


def test_ensemble_report_opens_offline(browser, shots, tmp_path):
    report = qmr.report.ensemble_report(write_ensemble(tmp_path),
                                        units="m,d", threshold=7.0,
                                        kind="flow")
    open_and_check(browser, report, shots / "report-ensemble.png")


def test_calibration_report_opens_offline(browser, shots, tmp_path):
    report = qmr.report.calibration_report(calibration(tmp_path))
    open_and_check(browser, report, shots / "report-calibration.png")


def test_a_calibrated_pumping_test_reports_offline(browser, shots, tmp_path):
    """The report of a real calibration (Theis drawdowns at three wells,
    from a decade off), through Calibration.report()."""
    import calibration_cases as cc
    cal = qmr.calibrate(cc.theis_deck(), cc.theis_parameters(),
                        cc.theis_observations(), tmp_path / "cal")
    report = cal.report(units="m,d")
    assert report.is_file() and report.parent == cal.folder
    text = report.read_text()
    for path in cal.estimates.index:
        assert path in text
    open_and_check(browser, report, shots / "report-calibrated-theis.png")


def test_the_figures_respond_to_the_reader(browser, tmp_path):
    """A series toggled off leaves the figure; a log axis and a zoom
    redraw it; hovering shows the values."""
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    report = qmr.report.report_decks(example_decks("valley"),
                                     tmp_path / "v", units="m,d")
    browser.get(report.resolve().as_uri())
    fig = browser.find_elements(By.CSS_SELECTOR, "figure.plot")[2]
    count = "return arguments[0].querySelectorAll('svg .data path').length"
    before = browser.execute_script(count, fig)
    fig.find_elements(By.CSS_SELECTOR, ".legend button")[0].click()
    assert browser.execute_script(count, fig) == before - 1
    area = fig.find_element(By.CSS_SELECTOR, "svg rect.area")
    ActionChains(browser).move_to_element(area).perform()
    tip = fig.find_element(By.CSS_SELECTOR, ".tip")
    assert "t = " in tip.text and "head = " in tip.text
    ticks = "return Array.from(arguments[0].querySelectorAll(" \
        "'svg .grid text')).map(t => t.textContent).join('|')"
    whole = browser.execute_script(ticks, fig)
    ActionChains(browser).move_to_element_with_offset(area, -150, -60) \
        .click_and_hold().move_by_offset(120, 80).release().perform()
    assert browser.execute_script(ticks, fig) != whole       # zoomed
    errors = [e for e in browser.get_log("browser")
              if e.get("level") == "SEVERE"]
    assert errors == []
