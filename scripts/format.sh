#!/usr/bin/env bash
# Formats the C++ sources with the checked-in style; with --check, only
# reports files that differ and fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
files=$(git ls-files '*.cpp' '*.hpp')
if [ "${1:-}" = "--check" ]; then
  clang-format --dry-run -Werror $files
else
  clang-format -i $files
fi
