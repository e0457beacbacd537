#!/usr/bin/env bash
# Builds qmr and runs a bundled example deck in out/<example>/.
# Usage: scripts/example.sh [example]   (default: valley; see examples/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
example=${1:-valley}
"$root/scripts/setup.sh" python3-numpy python3-pandas python3-matplotlib
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" -j2 --target qmr >/dev/null
"$root/scripts/run-deck.sh" "$root/examples/$example" "$root/out/$example"
