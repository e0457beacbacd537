#!/usr/bin/env bash
# Cross-builds qmr.exe for 64-bit Windows with MinGW-w64 in build-win/:
# statically linked (no runtime DLL beside it), the same warnings and
# floating-point options as the Linux build. With --test, also builds
# GoogleTest and the tests for Windows and runs them under wine (a wine
# prefix of its own in build-win/wine unless WINEPREFIX is set). With
# --examples, runs every example under wine as a Windows user would (the
# deck as VELDA.INP in a folder, its file names under C:\QMR\, qmr.exe
# started there from the command interpreter) and compares every file and
# the console output with the Linux build's run of the same deck.
# Usage: scripts/windows.sh [--test | --examples]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tests=OFF
mode=${1:-}
[ "$mode" = "--test" ] && tests=ON
pkgs=(g++-mingw-w64-x86-64-posix)
[ "$tests" = ON ] && pkgs+=(wine wine64 googletest python3-mpmath)
[ "$mode" = "--examples" ] && pkgs+=(wine wine64)
"$root/scripts/setup.sh" "${pkgs[@]}"
opts=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release)
# The tests stay in a folder that has them; a new folder has none unless asked.
if [ "$tests" = ON ]; then
  opts+=(-DQMR_TESTS=ON -DQMR_WINE=ON)
elif [ ! -f "$root/build-win/CMakeCache.txt" ]; then
  opts+=(-DQMR_TESTS=OFF)
fi
cmake -S "$root" -B "$root/build-win" "${opts[@]}" >/dev/null
export WINEPREFIX=${WINEPREFIX:-$root/build-win/wine} WINEDEBUG=${WINEDEBUG:--all}
if [ "$tests" = ON ]; then
  cmake --build "$root/build-win" -j2
else
  cmake --build "$root/build-win" -j2 --target qmr
fi
echo "built $root/build-win/qmr.exe"
if [ "$tests" = ON ]; then
  # A test that fails is run again, up to three times in all: on a loaded
  # machine a test program now and then cannot reach the wine server
  # ("wine client error: recvmsg: Connection reset by peer") or start the
  # program. A test that really fails fails every time.
  (cd "$root/build-win" && ctest --output-on-failure -j2 --timeout 300 \
    --repeat until-pass:3)
fi
if [ "$mode" = "--examples" ]; then
  cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$root/build" -j2 --target qmr >/dev/null
  out=$root/out/windows-examples
  rm -rf "$out"
  status=0
  for ex in "$root"/examples/*/; do
    name=$(basename "$ex")
    decks=("$ex"deck*.inp)
    [ -e "${decks[0]}" ] || decks=("$ex"VELDA.INP)
    for side in linux windows; do
      mkdir -p "$out/$side/$name"
      n=0
      for deck in "${decks[@]}"; do
        n=$((n + 1))
        # The output names of records 2-4 (a word with an extension)
        # under C:\QMR\.
        sed -E '2,4s/^([^ ]+\.[A-Za-z0-9]+ *)$/C:\\QMR\\\1/' "$deck" >"$out/$side/$name/VELDA.INP"
        if [ $side = linux ]; then
          (cd "$out/$side/$name" && "$root/build/qmr" >"console-$n.txt")
        else
          (cd "$out/$side/$name" &&
            wine cmd /c "$(winepath -w "$root/build-win/qmr.exe") > console-$n.txt")
        fi
      done
    done
    if diff -r "$out/linux/$name" "$out/windows/$name" >/dev/null; then
      echo "$name: identical ($(ls "$out/windows/$name" | wc -l) files)"
    else
      echo "$name: DIFFERENT"
      status=1
    fi
  done
  exit $status
fi
