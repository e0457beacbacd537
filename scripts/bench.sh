#!/usr/bin/env bash
# Builds and runs the benchmarks: whole runs of qmr at full capacity (300
# elements, 101 steps, every output file), timed in-process, then single
# fields written and read (ns per field).
#
# Usage: scripts/bench.sh [Google Benchmark options, e.g. --benchmark_repetitions=5]
#        scripts/bench.sh --against REV [--rounds N] [--filter REGEX]
#
# With --against, the whole-run benchmarks (bench/bench_runs.cpp) of REV
# (built from `git archive` in build-compare/bench-SHA/) and of the working
# tree run alternately, N rounds (default 15) of one measurement each, so
# that both see the same state of the machine; the table gives the median
# CPU time of each side and B/A - 1 (positive: the working tree is slower).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" libbenchmark-dev

build() { # source folder, build folder
  cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release -DQMR_BENCH=ON \
    -DQMR_TESTS=OFF >/dev/null
  cmake --build "$2" -j2 --target bench_runs bench_fields >/dev/null
}

if [ "${1:-}" != "--against" ]; then
  build "$root" "$root/build-bench"
  "$root/build-bench/bench/bench_runs" "$@"
  "$root/build-bench/bench/bench_fields" "$@"
  exit 0
fi

rev=${2:?"--against needs a revision"}
shift 2
rounds=15
filter=.
while (($#)); do
  case $1 in
  --rounds) rounds=$2; shift 2 ;;
  --filter) filter=$2; shift 2 ;;
  *) echo "bench.sh: unknown option $1" >&2; exit 64 ;;
  esac
done
sha=$(git -C "$root" rev-parse --verify "$rev^{commit}")
src="$root/build-compare/bench-src-$sha"
if [ ! -d "$src" ]; then
  mkdir -p "$src"
  git -C "$root" archive "$sha" | tar -x -C "$src"
fi
build "$src" "$root/build-compare/bench-$sha"
build "$root" "$root/build-bench"
a="$root/build-compare/bench-$sha/bench/bench_runs"
b="$root/build-bench/bench/bench_runs"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for ((i = 1; i <= rounds; i++)); do
  for side in a b; do
    exe=$a
    [ $side = b ] && exe=$b
    "$exe" --benchmark_filter="$filter" --benchmark_format=json \
      >"$out/$side-$i.json" 2>/dev/null
  done
done
/usr/bin/python3 - "$out" "$rev" <<'PY'
import json, pathlib, statistics, sys
out, rev = pathlib.Path(sys.argv[1]), sys.argv[2]
times = {}
for f in sorted(out.glob("*.json")):
    side = f.name[0]
    for b in json.loads(f.read_text())["benchmarks"]:
        times.setdefault(b["name"], {}).setdefault(side, []).append(b["cpu_time"])
print(f"median CPU time per run (ms), A = {rev}, B = working tree")
print(f"{'benchmark':40} {'A':>9} {'B':>9} {'B/A-1':>8}  rounds")
for name, t in times.items():
    ma, mb = statistics.median(t["a"]), statistics.median(t["b"])
    print(f"{name:40} {ma:9.3f} {mb:9.3f} {mb / ma - 1:+8.1%}  {len(t['a'])}")
PY
