"""Benchmark: reading a graphic file of the largest size into pandas.

Makes a graphic file of 99,999 observation rows and 99,999 profile rows of
40 columns each, in the exact layout qmr writes (103 MB), then reads it
with qmr.io.read_graphic several times and prints the wall-clock and
processor times of each read.

    /usr/bin/python3 python/bench/read_graphic.py [--repeat N]
"""

from __future__ import annotations

import argparse
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent))
sys.path.insert(0, str(HERE.parent / "tests"))

import synthetic  # noqa: E402
from qmr.io import read_graphic  # noqa: E402


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--repeat", type=int, default=5)
    ap.add_argument("--steps", type=int, default=99999)
    ap.add_argument("--nodes", type=int, default=99999)
    args = ap.parse_args()
    s = synthetic.graphic(args.steps, args.nodes, 40, 40, exact=False)
    with tempfile.TemporaryDirectory() as folder:
        path = Path(folder) / "largest.grf"
        path.write_bytes(s.data)
        print(f"graphic file: {len(s.data) / 1e6:.1f} MB, {args.steps} "
              f"observation rows and {args.nodes} profile rows of 40 columns")
        best = None
        for k in range(args.repeat):
            wall, cpu = time.perf_counter(), time.process_time()
            g = read_graphic(path)
            wall, cpu = time.perf_counter() - wall, time.process_time() - cpu
            best = min(best or wall, wall)
            print(f"read {k + 1}: {wall:.3f} s wall-clock, {cpu:.3f} s "
                  f"processor; observations {g.observations.shape}, "
                  f"profiles {g.profiles.shape}")
        print(f"best: {best:.3f} s")


if __name__ == "__main__":
    main()
