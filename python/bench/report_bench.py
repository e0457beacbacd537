"""The report of a large run (not a test): a flow run of 99,998 elements
(the program's limit), 200 steps, 40 observation nodes and 40 profiles,
run with --csv; then the time to write its report, the report's size and
the time headless Chromium takes to open it and draw every figure (from
the start of the navigation to the last figure drawn).

    QMR_EXE=build/qmr PYTHONPATH=python /usr/bin/python3 \\
        python/bench/report_bench.py [FOLDER]
"""

from __future__ import annotations

import shutil
import sys
import tempfile
import time
import warnings
from pathlib import Path

import qmr

ELEMENTS = 99_998
STEPS = 200


def big_deck() -> qmr.FlowDeck:
    """A valley of 99,998 elements of 10 m, recharge, fixed heads at both
    ends and a well pumping in the middle."""
    n = ELEMENTS + 1
    return qmr.FlowDeck(
        listing="big.lst", graphic="big.grf", title="99,998 elements",
        mesh_code=1, elements=ELEMENTS, first_coordinate=0.0,
        last_coordinate=10.0 * ELEMENTS, grading=1.0, property_input=0,
        medium_numbers=[1] * ELEMENTS,
        media=[qmr.FlowMedium(conductivity=25.0, specific_storage=0.0,
                              storativity=0.001, thickness=15.0,
                              recharge=1e-4, width=500.0)],
        time_generation=1, steps=STEPS, initial_time=0.0, first_step=0.1,
        steps_per_decade=20,
        prescribed_values=[qmr.PrescribedValue(1, value=14.0),
                           qmr.PrescribedValue(n, value=6.0)],
        prescribed_fluxes=[qmr.FlowFlux(node=n // 2, rate=-500.0)],
        initial_value=10.0, print_interval=1000,
        observation_nodes=list(range(1, n, n // 40))[:40],
        profile_steps=list(range(5, STEPS + 1, 5)), units="m,d")


def open_time(report: Path) -> float:
    """Seconds from the start of the navigation to the last figure drawn,
    in headless Chromium with the network cut."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    opts = webdriver.ChromeOptions()
    for a in ("--headless=new", "--no-sandbox", "--disable-gpu",
              "--window-size=1100,1600",
              "--host-resolver-rules=MAP * ~NOTFOUND",
              "--proxy-server=http://127.0.0.1:9"):
        opts.add_argument(a)
    opts.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    d = webdriver.Chrome(service=Service(shutil.which("chromedriver")),
                         options=opts)
    try:
        start = time.perf_counter()
        d.get(report.resolve().as_uri())   # returns after the load event
        d.execute_script("return document.querySelectorAll("
                         "'figure.plot[data-drawn]').length")
        wall = time.perf_counter() - start
        errors = [e for e in d.get_log("browser")
                  if e.get("level") == "SEVERE"]
        if errors:
            print("console errors:", errors)
        inpage = d.execute_script(
            "return performance.now() / 1000")
        print(f"  in-page time at the end of drawing: {inpage:.2f} s")
        return wall
    finally:
        d.quit()


def main() -> None:
    folder = Path(sys.argv[1]) if len(sys.argv) > 1 else \
        Path(tempfile.mkdtemp(prefix="qmr-report-bench-"))
    deck = big_deck()
    t = time.perf_counter()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        r = qmr.run(deck, folder, args=["--csv"], listing=False)
    print(f"run: {ELEMENTS} elements x {STEPS} steps in "
          f"{time.perf_counter() - t:.1f} s ({folder})")
    t = time.perf_counter()
    report = r.report()
    print(f"report written in {time.perf_counter() - t:.2f} s: {report}, "
          f"{report.stat().st_size / 1e6:.2f} MB")
    print(f"opened and drawn in headless Chromium in {open_time(report):.2f}"
          " s (navigation to the last figure)")


if __name__ == "__main__":
    main()
