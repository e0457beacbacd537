#!/usr/bin/env bash
# Builds the fuzzers and runs each for a number of executions, one after the
# other.
#
# Usage: scripts/fuzz.sh [RUNS] [reader] [run]
#   RUNS     executions per fuzzer (default 1000000)
#   reader   the record reader fuzzer; run: the whole-run fuzzer (default both)
#
# New corpus entries, findings (crash-*, timeout-*, oom-*, leak-*) and the log
# of each fuzzer go to build-fuzz/work/NAME/. The seeds in fuzz/corpus/NAME
# are only read. The whole-run fuzzer writes the files its decks name in a
# scratch tree under $TMPDIR (/dev/shm when there is one); started as root,
# the fuzzers run as the user nobody, so a deck can write nothing outside
# what that user may write.
#
# To replay a finding:  build-fuzz/fuzz/fuzz_run FILE
# To minimise a crash:  build-fuzz/fuzz/fuzz_run -minimize_crash=1 -runs=10000 FILE
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

runs=1000000
if [[ ${1:-} =~ ^[0-9]+$ ]]; then
  runs=$1
  shift
fi
targets=("$@")
((${#targets[@]})) || targets=(reader run)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
missing=()
for p in clang-14 libclang-rt-14-dev cmake make; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
cc=$(command -v clang || command -v clang-14)
cxx=$(command -v clang++ || command -v clang++-14)

build="$root/build-fuzz"
CC=$cc CXX=$cxx cmake -S "$root" -B "$build" -DQMR_FUZZ=ON -DQMR_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build" -j2 --target fuzz_reader fuzz_run

scratch=${TMPDIR:-/tmp}
[ -d /dev/shm ] && [ -w /dev/shm ] && scratch=/dev/shm

as=()
if [ "$(id -u)" -eq 0 ]; then
  as=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi

status=0
for t in "${targets[@]}"; do
  work="$build/work/$t"
  mkdir -p "$work/corpus" "$work/artifacts"
  ((${#as[@]})) && chown -R nobody:nogroup "$work"
  # Records are cut at 4096 columns: the reader's inputs may reach past that.
  maxlen=4096
  [ "$t" = reader ] && maxlen=9000
  dict=()
  [ -f "$root/fuzz/$t.dict" ] && dict=(-dict="$root/fuzz/$t.dict")
  echo "== fuzz_$t: $runs runs; log in $work/fuzz.log"
  # Paths must be absolute: the whole-run fuzzer changes its working folder.
  if ! (cd "$work" && TMPDIR=$scratch ASAN_OPTIONS=malloc_context_size=8 \
    "${as[@]}" "$build/fuzz/fuzz_$t" -runs="$runs" -timeout=10 \
    -rss_limit_mb=2048 -max_len=$maxlen -print_final_stats=1 "${dict[@]}" \
    -artifact_prefix="$work/artifacts/" \
    "$work/corpus" "$root/fuzz/corpus/$t" >"$work/fuzz.log" 2>&1); then
    status=1
    echo "   finding: see $work/fuzz.log and $work/artifacts/"
  fi
  grep -E '^(Done|stat::number_of_executed_units)' "$work/fuzz.log" || true
done
exit $status
