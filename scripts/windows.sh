#!/usr/bin/env bash
# Cross-builds qmr.exe for 64-bit Windows with MinGW-w64 in build-win/:
# statically linked (no runtime DLL beside it), the same warnings and
# floating-point options as the Linux build. With --test, also builds
# GoogleTest and the tests for Windows and runs them under wine (a wine
# prefix of its own in build-win/wine unless WINEPREFIX is set).
# Usage: scripts/windows.sh [--test]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tests=OFF
[ "${1:-}" = "--test" ] && tests=ON
pkgs=(g++-mingw-w64-x86-64-posix)
[ "$tests" = ON ] && pkgs+=(wine wine64 googletest python3-mpmath)
"$root/scripts/setup.sh" "${pkgs[@]}"
cmake -S "$root" -B "$root/build-win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DQMR_TESTS=$tests -DQMR_WINE=$tests >/dev/null
export WINEPREFIX=${WINEPREFIX:-$root/build-win/wine} WINEDEBUG=${WINEDEBUG:--all}
cmake --build "$root/build-win" -j2
echo "built $root/build-win/qmr.exe"
if [ "$tests" = ON ]; then
  (cd "$root/build-win" && ctest --output-on-failure -j2 --timeout 300)
fi
