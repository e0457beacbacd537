"""Benchmark: realizations per second of an ensemble, serial against the
local process pool and against a local Dask cluster.

Two runs: a transport run of 300 elements and 100 steps, and a tiny one
(10 elements, 10 steps). For each:

- the bare run: the program alone on a deck already written, as a plain
  subprocess (the median of --repeat x 20 runs), and how much faster bare
  runs go one per core at a time than one after another (on a machine
  loaded by other work this ceiling falls towards 1, and every engine's
  gain with it);
- serial: qmr.ensemble on one thread in this process;
- pool: qmr.ensemble on the default pool of local processes (one per core);
- dask: qmr.ensemble on a local Dask cluster (one single-threaded worker
  process per core; its start is not timed).

Every ensemble appends its results to a results file, as the command does.
Each figure is the median of --repeat ensembles. The overhead per
realization is the serial time per realization less the bare run.

    QMR_EXE=build/qmr /usr/bin/python3 python/bench/ensemble_bench.py \
        [--repeat 3] [--big 600] [--tiny 2000] [--batch N]

With ``--before DIR`` (the python/ folder of an earlier checkout, e.g.
from ``git archive``) the serial and pool ensembles of that package and of
this one run alternately, each in a fresh process, and the table compares
them: realizations per second, the pool's gain against the ceiling of two
bare runs at a time, and the parent's processor time per realization
beyond the run (serial: all of this process's time less the bare runs';
pool: this process's own time, the workers' left out).

The ensembles are long enough (several seconds serial) that starting the
pool and reading the files at the end weigh little against the
realizations themselves.
"""

from __future__ import annotations

import argparse
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path
from typing import Any, Callable, Dict, List, Tuple

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent))
sys.path.insert(0, str(HERE.parent / "tests"))

import qmr  # noqa: E402
from ensemble_cases import transient_deck  # noqa: E402
from qmr.ensembles.realize import _scratch_root  # noqa: E402

DISP = "media[1].dispersivity"


def bare_run(deck: qmr.Deck, folder: Path, times: int
             ) -> Tuple[float, float]:
    """Median wall-clock and processor seconds of the program alone on a
    deck already written."""
    exe = qmr.find_exe()
    folder.mkdir(parents=True, exist_ok=True)
    deck.write(folder / "VELDA.INP")
    wall, proc = [], []
    for _ in range(times):
        w, c = timed(lambda: subprocess.run([exe], cwd=folder, check=True,
                                            capture_output=True))
        wall.append(w)
        proc.append(c)
    return statistics.median(wall), statistics.median(proc)


def cpu() -> float:
    """Processor seconds of this process and of its children waited for
    (the program's runs, the pool's processes once shut down)."""
    a = resource.getrusage(resource.RUSAGE_SELF)
    b = resource.getrusage(resource.RUSAGE_CHILDREN)
    return a.ru_utime + a.ru_stime + b.ru_utime + b.ru_stime


def timed(fn: Callable[[], Any]) -> Tuple[float, float]:
    """Wall-clock and processor seconds of fn()."""
    c, t = cpu(), time.perf_counter()
    fn()
    return time.perf_counter() - t, cpu() - c


def bare_ceiling(deck: qmr.Deck, folder: Path, n: int, cores: int
                 ) -> float:
    """How much faster `n` bare runs go `cores` at a time than one after
    another: the most any engine can gain on this machine as loaded now."""
    exe = qmr.find_exe()
    dirs = []
    for i in range(cores):
        d = folder / f"c{i}"
        d.mkdir(parents=True, exist_ok=True)
        deck.write(d / "VELDA.INP")
        dirs.append(d)

    def runs(d: Path, k: int) -> None:
        for _ in range(k):
            subprocess.run([exe], cwd=d, check=True, capture_output=True)

    one, _ = timed(lambda: runs(dirs[0], n))
    with ThreadPoolExecutor(cores) as ex:
        many, _ = timed(lambda: list(ex.map(runs, dirs,
                                            [n // cores] * cores)))
    return one / many * (n // cores * cores) / n


CHILD = """
import json, os, resource, sys, time
from concurrent.futures import ThreadPoolExecutor
sys.path[:0] = [{python!r}, {tests!r}]
import qmr
from ensemble_cases import transient_deck
def use():
    a = resource.getrusage(resource.RUSAGE_SELF)
    b = resource.getrusage(resource.RUSAGE_CHILDREN)
    return a.ru_utime + a.ru_stime, b.ru_utime + b.ru_stime
deck = transient_deck({elements}, {steps})
p = qmr.random_sample({{"media[1].dispersivity": qmr.Uniform(5.0, 20.0)}},
                      {n}, seed=1).round(4)
ex = ThreadPoolExecutor(1) if {engine!r} == "serial" else None
s0, c0 = use()
t = time.perf_counter()
qmr.ensemble(deck, p, executor=ex, results_file={results!r})
wall = time.perf_counter() - t
s1, c1 = use()
print(json.dumps({{"wall": wall, "self": s1 - s0, "children": c1 - c0}}))
"""


def child(python: Path, engine: str, elements: int, steps: int, n: int,
          results: Path) -> Dict[str, float]:
    """One ensemble in a fresh process over the package in `python`."""
    import json
    code = CHILD.format(python=str(python), tests=str(python / "tests"),
                        elements=elements, steps=steps, n=n, engine=engine,
                        results=str(results))
    out = subprocess.run([sys.executable, "-c", code], check=True,
                         capture_output=True, text=True)
    return json.loads(out.stdout.strip().splitlines()[-1])


def compare(before: Path, a: Any) -> None:
    """Before and after, alternated: see the module's docstring."""
    cores = os.cpu_count() or 1
    after = HERE.parent
    print(f"{cores} cores; load average before: "
          f"{' '.join(f'{x:.1f}' for x in os.getloadavg())}")
    cases = [("300-element transport run", 300, 100, a.big),
             ("tiny run", 10, 10, a.tiny)]
    with tempfile.TemporaryDirectory(dir=_scratch_root()) as scratch_dir, \
            tempfile.TemporaryDirectory() as tmp:
        root, scratch = Path(tmp), Path(scratch_dir)
        for title, elements, steps, n in cases:
            deck = transient_deck(elements, steps)
            bare, bare_cpu = bare_run(deck, scratch / "bare", 20 * a.repeat)
            got: Dict[Tuple[str, str], List[Dict[str, float]]] = {}
            ceilings = []
            k = 0
            for _ in range(a.repeat):
                ceilings.append(bare_ceiling(deck, scratch / "ceiling", 20,
                                             cores))
                for side, python in (("before", before), ("after", after)):
                    for engine in ("serial", "pool"):
                        k += 1
                        got.setdefault((side, engine), []).append(child(
                            python, engine, elements, steps, n,
                            root / f"r{k}.csv"))
            ceiling = statistics.median(ceilings)
            print(f"\n{title}: {n} realizations, bare run "
                  f"{bare * 1e3:.1f} ms (processor {bare_cpu * 1e3:.1f} ms);"
                  f" two bare runs at a time: {ceiling:.2f} x one after "
                  "another (the ceiling)")
            print("  side    serial r/s  pool r/s  pool/serial  of ceiling"
                  "  parent ms/realization (serial, pool)")
            for side in ("before", "after"):
                def med(engine: str, key: str) -> float:
                    return statistics.median(r[key] for r in
                                             got[(side, engine)])
                serial = n / med("serial", "wall")
                pool = n / med("pool", "wall")
                over = (med("serial", "self") + med("serial", "children")) \
                    / n - bare_cpu
                parent = med("pool", "self") / n
                print(f"  {side:6s} {serial:10.1f} {pool:9.1f} "
                      f"{pool / serial:12.2f} {pool / serial / ceiling:10.0%}"
                      f"  {over * 1e3:6.2f}, {parent * 1e3:5.2f}")
                walls = {e: " ".join(f"{r['wall']:.2f}" for r in
                                     got[(side, e)])
                         for e in ("serial", "pool")}
                print(f"         walls: serial {walls['serial']} s; pool "
                      f"{walls['pool']} s")
    print(f"\nload average after: "
          f"{' '.join(f'{x:.1f}' for x in os.getloadavg())}")


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--big", type=int, default=600,
                    help="realizations of the 300-element run")
    ap.add_argument("--tiny", type=int, default=2000,
                    help="realizations of the tiny run")
    ap.add_argument("--batch", type=int, default=None,
                    help="realizations per task of the pool and of Dask "
                    "(default: the ensemble's own choice)")
    ap.add_argument("--no-dask", action="store_true")
    ap.add_argument("--before", type=Path, metavar="DIR",
                    help="compare with the package in DIR (an earlier "
                    "checkout's python/ folder), alternately")
    a = ap.parse_args()
    if a.before is not None:
        compare(a.before.resolve(), a)
        return
    cores = os.cpu_count() or 1
    print(f"{cores} cores; load average before: "
          f"{' '.join(f'{x:.1f}' for x in os.getloadavg())}")

    client = cluster = None
    if not a.no_dask:
        from distributed import Client, LocalCluster
        cluster = LocalCluster(n_workers=cores, threads_per_worker=1,
                               processes=True, dashboard_address=None)
        client = Client(cluster)

    cases = [("300-element transport run", transient_deck(300, 100), a.big),
             ("tiny run", transient_deck(10, 10), a.tiny)]
    # The bare runs where the ensembles' scratch folders go.
    with tempfile.TemporaryDirectory(dir=_scratch_root()) as scratch_dir, \
            tempfile.TemporaryDirectory() as tmp:
        root, scratch = Path(tmp), Path(scratch_dir)
        for title, deck, n in cases:
            p = qmr.random_sample({DISP: qmr.Uniform(5.0, 20.0)}, n,
                                  seed=1).round(4)
            bare, bare_cpu = bare_run(deck, scratch / "bare", 20 * a.repeat)
            ceiling = statistics.median(
                bare_ceiling(deck, scratch / "ceiling", 20, cores)
                for _ in range(a.repeat))
            engines: Dict[str, Callable[[], Any]] = {
                "serial": lambda: ThreadPoolExecutor(1),
                "pool": lambda: None,
            }
            if client is not None:
                engines["dask"] = lambda: client
            seconds: Dict[str, List[float]] = {k: [] for k in engines}
            cpus: Dict[str, List[float]] = {k: [] for k in engines}
            k = 0
            for _ in range(a.repeat):
                for name, make in engines.items():
                    k += 1
                    res = root / f"r{k}.csv"
                    ex = make()
                    w, c = timed(lambda: qmr.ensemble(
                        deck, p, executor=ex, results_file=res,
                        batch=None if name == "serial" else a.batch))
                    seconds[name].append(w)
                    cpus[name].append(c)
                    if isinstance(ex, ThreadPoolExecutor):
                        ex.shutdown()
            med = {k: statistics.median(v) for k, v in seconds.items()}
            rate = {k: n / v for k, v in med.items()}
            print(f"\n{title}: {n} realizations, bare run "
                  f"{bare * 1e3:.1f} ms ({1 / bare:.1f} runs/s, processor "
                  f"{bare_cpu * 1e3:.1f} ms)")
            print(f"  the program alone, {cores} runs at a time: "
                  f"{ceiling:.2f} x one after another (the most any engine "
                  "can gain on this machine now)")
            for name in engines:
                print(f"  {name:6s} {rate[name]:7.1f} realizations/s "
                      f"({rate[name] / rate['serial']:.2f} x serial; "
                      f"runs {', '.join(f'{s:.2f}' for s in seconds[name])}"
                      " s)")
            over_cpu = statistics.median(cpus["serial"]) / n - bare_cpu
            print(f"  overhead per realization beyond the run (serial): "
                  f"{(med['serial'] / n - bare) * 1e3:.1f} ms wall-clock, "
                  f"{over_cpu * 1e3:.1f} ms processor")
            print(f"  processor time per realization: serial "
                  f"{statistics.median(cpus['serial']) / n * 1e3:.1f} ms, "
                  f"pool {statistics.median(cpus['pool']) / n * 1e3:.1f} ms")
    if client is not None:
        client.close()
        cluster.close()  # type: ignore[union-attr]
    print(f"\nload average after: "
          f"{' '.join(f'{x:.1f}' for x in os.getloadavg())}")


if __name__ == "__main__":
    main()
