#!/usr/bin/env bash
# run-suite.sh [BUILD] [CTEST ARGUMENTS...]: the 32-bit program's whole test
# suite (BUILD, default build/win, built beforehand) in the emulated machine,
# for machines that run no 32-bit code. ctest's time limits are multiplied by
# LUMORA_VM32_TEST_FACTOR (12: the guest runs code about twelve times slower)
# in a copy of the build's test files (scaled-tests.py); the waits of Wine's
# start-up and of the end-to-end driver are scaled by LUMORA_WINE_TIME_FACTOR
# there (run-in-guest.sh). Extra arguments go to ctest, e.g. -R or -L to run
# a part. Exits with ctest's status (124 when the guest ran out of time).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
checkout=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$checkout/build/win}" && pwd)
shift || true
factor=${LUMORA_VM32_TEST_FACTOR:-12}
limit=${LUMORA_VM32_SUITE_SECONDS:-14400}
scaled=$build/vm32-tests
rm -rf "$scaled"
python3 "$here/scaled-tests.py" "$build" "$scaled" "$factor"
cd "$checkout"
# run-in-guest.sh reads its words as one bash command line, as ssh does.
exec "$here/run-in-guest.sh" --timeout "$limit" \
  "$(printf '%q ' ctest --test-dir "$scaled" --output-on-failure -j 2 "$@")"
