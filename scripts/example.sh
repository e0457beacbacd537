#!/usr/bin/env bash
# Builds qmr, runs a bundled example deck in out/<example>/ and writes its
# report there (out/<example>/report.html, a self-contained HTML page whose
# path is the last line printed).
# Usage: scripts/example.sh [example]   (default: valley; see examples/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
example=${1:-valley}
"$root/scripts/setup.sh" python3-numpy python3-pandas python3-matplotlib python3-pint
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" -j2 --target qmr >/dev/null
"$root/scripts/run-deck.sh" "$root/examples/$example" "$root/out/$example"
# The examples are in metres and days; the transport runs in mg/L.
case $example in
  chain | plume) units=m,d,mg/L ;;
  *) units=m,d ;;
esac
decks=("$root/examples/$example"/deck*.inp)
[ -e "${decks[0]}" ] || decks=("$root/examples/$example/VELDA.INP")
# The report runs the decks again with --csv (every digit), in the same
# folder, and prints its path.
QMR_EXE="$root/build/qmr" "$root/tools/qmr-report" --units "$units" \
  --folder "$root/out/$example" "${decks[@]}"
