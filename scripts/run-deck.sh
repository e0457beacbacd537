#!/usr/bin/env bash
# Runs qmr on the deck(s) of an example folder, in an output folder.
# A folder with several decks (deck1.inp, deck2.inp, ... or VELDA.INP) is a
# chain: the decks run in turn in the same folder, so a later run reads the
# velocity or restart file an earlier one wrote. Each deck is named on the
# command line; the names in the decks are relative to the output folder.
# Usage: scripts/run-deck.sh EXAMPLE_FOLDER OUTPUT_FOLDER
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
src=$(cd "$1" && pwd)
out=$2
mkdir -p "$out"
shopt -s nullglob
decks=("$src"/deck*.inp)
[ ${#decks[@]} -gt 0 ] || decks=("$src/VELDA.INP")
for deck in "${decks[@]}"; do
  echo "== $(basename "$deck") in $out"
  "$root/build/qmr" --quiet -C "$out" "$deck"
  grep -h "SUCCESSFUL TERMINATION" "$out"/*.lst | head -n 1 || true
done
if [ -x "$root/tools/qmr-plot" ]; then
  for g in "$out"/*.grf; do
    "$root/tools/qmr-plot" "$g" -o "${g%.grf}.png" && echo "plot: ${g%.grf}.png"
  done
fi
