#!/usr/bin/env bash
# Installs what is missing, checks the layers and the code style, builds the
# three builds and runs every test:
#   build/host   the portable code natively, under ASan and UBSan, with the
#                fuzz targets and the crash view's tests;
#   build/win64  the whole program for x64 Windows, every test of it under
#                Wine's 64-bit loader (full speed on any x86-64 machine);
#   build/win    the shipped 32-bit program: its whole suite under 32-bit Wine
#                where this machine runs 32-bit code; elsewhere the checks of
#                the executables and a smoke of it in the emulated machine of
#                scripts/vm32.
# Exits non-zero on any failure; ctest's summaries are the last output.
set -uo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh || exit 1
# Both take seconds: the folders include one another only downwards, and
# every C++ file is laid out as .clang-format says.
python3 scripts/check-layers.py || exit 1
./scripts/check-format.sh || exit 1

mkdir -p build
for preset in host win64 win; do
  log=build/$preset-build.log
  if ! { cmake --preset $preset && cmake --build --preset $preset; } >"$log" 2>&1; then
    tail -n 60 "$log"; echo "build of $preset failed (whole log: $log)" >&2; exit 1
  fi
  grep -E 'warning:' "$log" | head -n 20 || true
done

status=0
ctest --preset host || status=1
ctest --preset win64 || status=1
if reason=$(./scripts/wine-can-run.sh); then
  ctest --preset win || status=1
else
  # No 32-bit Windows program can execute on this machine. The checks of the
  # built executables need no Wine (label pe); the shipped program's main
  # paths run in the emulated machine.
  cat <<TXT

==========================================================================
This machine runs no 32-bit code: $reason
Every test of the program ran above against the 64-bit build. The 32-bit
program is checked here (label pe) and its smoke runs in the emulated
machine; for its whole suite: scripts/vm32/run-suite.sh
==========================================================================
TXT
  ctest --preset win -L pe || status=1
  ./scripts/vm32/smoke.sh build/win || status=1
fi
exit $status
