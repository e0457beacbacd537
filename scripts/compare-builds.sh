#!/usr/bin/env bash
# Compares two builds of qmr byte for byte on every deck the project has.
#
# Usage: scripts/compare-builds.sh REV [options]
#
# Side A is REV (any revision git knows: a commit, a branch, a tag), built
# from `git archive` in build-compare/rev-SHA/ (Release, target qmr; a build
# made before is reused). Side B is the working tree, built in build/
# (Release, target qmr). Both run on every case, one after the other in the
# same scratch folder (under /dev/shm when there is one), each run with a
# timeout; after every run of a case the exit status, the standard output
# and every file in the scratch tree are compared byte for byte. Standard
# error is not compared (warnings go there; --show-stderr shows it for the
# differing cases). Started as root, the program runs as the user nobody.
#
# The cases, by category:
#   examples  every folder of examples/ (deck1.inp, deck2.inp, ... are a chain
#             run in one folder; a VELDA.INP alone is one run)
#   regress   tests/regress/*.inp (split at a line "%%AUX" as below)
#   fuzz      the whole-run fuzzer's seeds, fuzz/corpus/run, split as the
#             fuzzer does (the text after a line "%%AUX" becomes AUX.DAT),
#             run in a folder seven levels deep
#   tests     with --with-test-decks: the decks the C++ tests run, harvested
#             by running ctest once with QMR_DUMP_DECKS set (cached in
#             build-compare/test-decks-HASH/ per state of tests/)
#   random    --count N cases (default 2000) of python/qmrdev/randomdeck.py from
#             --seed S on
#   beyond    with --beyond-legacy [N]: N cases (default 200) beyond the
#             legacy capacities; a case that side A refuses and side B runs
#             counts as "refused-A", not as a difference
#
# Options:
#   --exe-a PATH, --exe-b PATH   an executable instead of a build (REV is then
#                                not needed for side A)
#   --wrap-a CMD, --wrap-b CMD   a command prefix, e.g. --wrap-b wine
#   --args-a ARGS, --args-b ARGS extra arguments, e.g. --args-b "--csv --quiet";
#                                files only side B leaves are then listed, not
#                                counted as differences
#   --jobs N (2)  --timeout S (20)  --only CAT,CAT  --keep-diffs DIR
#   --show-stderr  --as-self (do not switch to the user nobody; use it with
#                  --wrap-b wine, which wants a home folder of its own)
#   --build DIR (working tree build folder, default build/)
#
# Prints the first difference of every differing case (file, line, the two
# texts) and a summary per category. Exit status 0 when every case is
# identical, 1 otherwise.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" git
exec /usr/bin/python3 "$root/scripts/compare_builds.py" "$@"
