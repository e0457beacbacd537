#!/usr/bin/env bash
# Builds and runs the benchmarks: whole runs of qmr at full capacity (300
# elements, 101 steps, every output file), timed in-process, then single
# fields written and read (ns per field).
# Usage: scripts/bench.sh [Google Benchmark options, e.g. --benchmark_repetitions=5]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" libbenchmark-dev
cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=Release -DQMR_BENCH=ON >/dev/null
cmake --build "$root/build-bench" -j2 --target bench_runs bench_fields >/dev/null
"$root/build-bench/bench/bench_runs" "$@"
"$root/build-bench/bench/bench_fields" "$@"
