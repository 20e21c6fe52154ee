#!/usr/bin/env bash
# Installs what is missing, builds the Windows program (build/win) and the
# native build of its portable code (build/host), and runs every test: the
# Windows tests under 32-bit Wine, the native ones under sanitizers.
# Exits non-zero on any failure; ctest's summary is the last output.
set -uo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh || exit 1
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
  # Nothing of the Windows side can execute here, in either prefix. Say so
  # loudly, and run what needs no Wine: the checks of the built executables
  # (label pe).
  cat <<TXT

==========================================================================
The Windows tests were NOT run: $reason
Wine runs 32-bit Windows programs only where the machine runs 32-bit x86
code. Run ./test.sh on such a machine to test the Windows program.
==========================================================================
TXT
  ctest --preset win -L pe || status=1
fi
exit $status
