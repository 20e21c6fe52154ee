#!/usr/bin/env bash
# Fuzzes every libFuzzer target of a host build for longer than ctest does.
#
#   fuzz/run-long.sh [seconds] [build folder]
#
# seconds: time per target (default 600); build folder: a configured host
# build made with clang (default build/host). The targets are those declared
# with lumora_fuzz_target in fuzz/CMakeLists.txt; they are built first, then
# run one after the other, each on its scratch corpus in
# <build>/fuzz/work/<target>/corpus (seeded from the repository's fuzz/corpus).
# Crashing inputs land in <build>/fuzz/work/<target>/artifacts; a finding makes
# the script exit non-zero after all targets ran. The last lines of each run
# give its number of executions (stat::number_of_executed_units).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
seconds=${1:-600}
build=${2:-$here/../build/host}
list=$build/fuzz/targets.list

if [ ! -s "$list" ]; then
  echo "no fuzz targets in $build (configure a host build with clang first)" >&2
  exit 2
fi
names=$(cut -f1 "$list")
# shellcheck disable=SC2086
cmake --build "$build" --target $names -j2 || exit 1

status=0
while IFS=$'\t' read -r name binary seeds work dict; do
  echo "== $name: $seconds s"
  mkdir -p "$work"
  if ! "$here/run-target.sh" "$binary" "$seeds" "$work" "$seconds" "$dict" 2>"$work.log"; then
    status=1
    echo "== $name: FINDING, see $work.log and $work/artifacts" >&2
  fi
  grep -E '^(stat::number_of_executed_units|stat::new_units_added|stat::peak_rss_mb)' "$work.log" || true
done <"$list"
exit $status
