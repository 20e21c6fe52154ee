#!/usr/bin/env bash
# Installs what is missing, builds the Windows program (build/win) and the
# native build of its portable code (build/host), and runs every test: the
# Windows tests under 32-bit Wine, the native ones under sanitizers. Where
# Wine cannot run 32-bit code, the library tests run built for 64-bit Windows
# instead (build/win64-tests).
# Exits non-zero on any failure; ctest's summary is the last output.
set -uo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh || exit 1
# The folders include one another only downwards (seconds, before any build).
python3 scripts/check-layers.py || exit 1
mkdir -p build
for preset in win host; do
  log=build/$preset-build.log
  if ! { cmake --preset $preset && cmake --build --preset $preset; } >"$log" 2>&1; then
    tail -n 60 "$log"; echo "build of $preset failed (whole log: $log)" >&2; exit 1
  fi
  grep -E 'warning:' "$log" | head -n 20 || true
done

status=0
ctest --preset host || status=1
if reason=$(./scripts/wine-can-run.sh); then
  ctest --preset win || status=1
else
  # No 32-bit Windows program can execute here, in either prefix. Say so
  # loudly, and run what needs no Wine: the checks of the built executables
  # (label pe).
  cat <<TXT

==========================================================================
The 32-bit Windows tests were NOT run: $reason
Wine runs 32-bit Windows programs only where the machine runs 32-bit x86
code. Only the library tests run here, built for 64-bit Windows; run
./test.sh on such a machine to test the Windows program itself (its
dialog, the crash reporter, the end-to-end and WOW64 tests).
==========================================================================
TXT
  ctest --preset win -L pe || status=1
  # The libraries and their tests run all the same, built for 64-bit Windows
  # (the win64-tests build), which Wine's 64-bit loader runs here.
  log=build/win64-tests-build.log
  if { cmake --preset win64-tests && cmake --build --preset win64-tests; } >"$log" 2>&1; then
    grep -E 'warning:' "$log" | head -n 20 || true
    ctest --preset win64-tests || status=1
  else
    tail -n 60 "$log"; echo "build of win64-tests failed (whole log: $log)" >&2; status=1
  fi
fi
exit $status
