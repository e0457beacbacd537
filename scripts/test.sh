#!/usr/bin/env bash
# Checks the formatting, builds qmr and runs every test: once in a release
# build, once in a build with the address and undefined-behaviour sanitizers,
# and once in the Windows cross build under wine (scripts/windows.sh --test).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" python3-numpy python3-pandas python3-matplotlib python3-xarray \
  python3-netcdf4 python3-scipy python3-pytest python3-mpmath flake8 python3-distributed python3-tqdm \
  python3-hypothesis python3-pint python3-selenium chromium chromium-driver \
  openssl clang-format
"$root/scripts/format.sh" --check
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release -DQMR_TESTS=ON >/dev/null
cmake --build "$root/build" -j2
(cd "$root/build" && ctest --output-on-failure -j2)
cmake -S "$root" -B "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DQMR_SANITIZE=ON -DQMR_TESTS=ON >/dev/null
cmake --build "$root/build-asan" -j2
(cd "$root/build-asan" && ctest --output-on-failure -j2)
"$root/scripts/windows.sh" --test
