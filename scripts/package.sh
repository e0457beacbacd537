#!/usr/bin/env bash
# Builds the release packages from this tree: a zip for 64-bit Windows
# (cross-built with MinGW-w64) and a compressed tarball for Linux, each
# with the program, the guides (docs/), the examples and a short README.
# They land in packages/ (qmr-VERSION-windows-x64.zip,
# qmr-VERSION-linux-x86_64.tar.gz).
# Usage: scripts/package.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" g++-mingw-w64-x86-64-posix
mkdir -p "$root/packages"
for side in linux windows; do
  if [ $side = windows ]; then
    dir=$root/build-win-release
    cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DQMR_TESTS=OFF >/dev/null
  else
    dir=$root/build-release
    # The C++ runtime linked in: the program needs only the C library.
    cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DQMR_TESTS=OFF \
      -DCMAKE_EXE_LINKER_FLAGS="-static-libstdc++ -static-libgcc" >/dev/null
  fi
  cmake --build "$dir" -j2 --target qmr
  (cd "$dir" && cpack -B "$dir/packages" >/dev/null)
  cp "$dir"/packages/qmr-*.{zip,tar.gz} "$root/packages/" 2>/dev/null || true
done
ls -l "$root/packages"
