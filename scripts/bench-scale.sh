#!/usr/bin/env bash
# Runs of qmr beyond the legacy capacities, each under /usr/bin/time: CPU time
# and peak memory of the program itself, and the size of its listing.
#   transport 300 elements x 100 steps and 3,000 x 200 (every step printed):
#     CPU time per element-step;
#   flow 99,998 elements x 100 steps, nodal table every 100th step;
#   flow 1,000 elements x 20,000 steps, nodal table every 1,000th step.
# Usage: scripts/bench-scale.sh [FOLDER]  (scratch folder, default a new one
# under /tmp; the decks and outputs stay there)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" libbenchmark-dev time bc
cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=Release -DQMR_BENCH=ON >/dev/null
cmake --build "$root/build-bench" -j2 --target bench_scale qmr >/dev/null
out=${1:-$(mktemp -d /tmp/qmr-scale-XXXXXX)}
printf '%-34s %10s %10s %12s %16s\n' run cpu_s peak_kb listing_b ns/element-step
for run in transport,300,100,1 transport,3000,200,1 flow,99998,100,100 \
            flow,1000,20000,1000; do
  IFS=, read -r kind ne nts istep <<<"$run"
  dir="$out/$kind-$ne-$nts"
  "$root/build-bench/bench/bench_scale" --write-deck="$run,$dir"
  (cd "$dir" && /usr/bin/time -f '%U %S %M' -o time.txt "$root/build-bench/qmr" >/dev/null)
  read -r user sys peak <"$dir/time.txt"
  cpu=$(echo "$user + $sys" | bc -l)
  size=$(stat -c %s "$dir/scale.lst")
  per=$(echo "$cpu * 1000000000 / ($ne * $nts)" | bc -l)
  printf '%-34s %10.2f %10d %12d %16.1f\n' "$kind $ne x $nts (istep $istep)" "$cpu" "$peak" "$size" "$per"
done
