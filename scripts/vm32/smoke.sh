#!/usr/bin/env bash
# smoke.sh [BUILD]: the shipped 32-bit program's main paths in the emulated
# machine, within a bound, in a 32-bit prefix (./test.sh runs it where this
# machine runs no 32-bit code):
#   - the happy path, with Wine's msiexec installing the demo product;
#   - a Cancel during the package;
#   - a crash on the worker reported and uploaded, the 449 reply answered by
#     the .bxr.
# Prints how long it took. Exits non-zero when a case fails or the bound
# (LUMORA_VM32_SMOKE_SECONDS, 2400 s) runs out.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$(cd "$here/../.." && pwd)/build/win}
cases='^(setup_e2e_wine_msiexec_installs_demo|setup_e2e_cancel_during_package|crash_smoke)$'
started=$(date +%s)
LUMORA_VM32_SUITE_SECONDS=${LUMORA_VM32_SMOKE_SECONDS:-2400} "$here/run-suite.sh" "$build" -R "$cases"
status=$?
echo "32-bit smoke in the emulated machine: $(( $(date +%s) - started )) s, exit $status"
exit $status
