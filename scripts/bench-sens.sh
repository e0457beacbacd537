#!/usr/bin/env bash
# The cost of exact sensitivities (bench/bench_sens.cpp): for each benchmark
# deck, the CPU time of whole runs with the derivatives of P = 1, 4 and 12
# parameters over the plain run (P = 0). The four counts of every deck run
# alternately, N rounds (default 5) of one measurement each, and each keeps
# its least time (the run least disturbed by the rest of the machine).
#
# Usage: scripts/bench-sens.sh [--rounds N] [--against REV]
#
# With --against, REV's benchmark (built from `git archive` in
# build-compare/bench-sens-SHA/) runs beside the working tree's, round by
# round, and both tables are printed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" libbenchmark-dev bc

rounds=5
rev=""
while (($#)); do
  case $1 in
  --rounds) rounds=$2; shift 2 ;;
  --against) rev=$2; shift 2 ;;
  *) echo "bench-sens.sh: unknown option $1" >&2; exit 64 ;;
  esac
done

build() { # source folder, build folder
  cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release -DQMR_BENCH=ON \
    -DQMR_TESTS=OFF >/dev/null
  cmake --build "$2" -j2 --target bench_sens >/dev/null
}

sides=("$root/build-bench/bench/bench_sens")
names=("working tree")
build "$root" "$root/build-bench"
if [ -n "$rev" ]; then
  sha=$(git -C "$root" rev-parse --short=12 "$rev")
  base="$root/build-compare/bench-sens-$sha"
  if [ ! -x "$base/build/bench/bench_sens" ]; then
    rm -rf "$base/src"
    mkdir -p "$base/src"
    git -C "$root" archive "$sha" | tar -x -C "$base/src"
    build "$base/src" "$base/build"
  fi
  sides=("$base/build/bench/bench_sens" "${sides[@]}")
  names=("$rev" "${names[@]}")
fi

decks=(BM_ConfinedFlow BM_WaterTableCapped BM_Transport BM_ConfinedFlow3000)
declare -A best
for ((r = 0; r < rounds; r++)); do
  for s in "${!sides[@]}"; do
    for m in "${decks[@]}"; do
      for p in 0 1 4 12; do
        t=$("${sides[$s]}" --benchmark_filter="$m/$p\$" \
          --benchmark_min_time=0.15 --benchmark_format=csv 2>/dev/null |
          tail -1 | cut -d, -f4)
        k="$s/$m/$p"
        if [ -z "${best[$k]:-}" ] || (($(echo "$t < ${best[$k]}" | bc))); then
          best[$k]=$t
        fi
      done
    done
  done
done

for s in "${!sides[@]}"; do
  echo "${names[$s]}: CPU time of the plain run, and of P parameters over it"
  printf "  %-22s %10s %7s %7s %7s\n" deck "P=0 (ms)" "P=1" "P=4" "P=12"
  for m in "${decks[@]}"; do
    b0=${best[$s/$m/0]}
    printf "  %-22s %10.2f" "${m#BM_}" "$b0"
    for p in 1 4 12; do
      printf " %7.2f" "$(echo "${best[$s/$m/$p]} / $b0" | bc -l)"
    done
    echo
  done
done
