#!/usr/bin/env bash
# Runs one libFuzzer target for a bounded time on a scratch corpus.
#
#   run-target.sh <fuzzer binary> <seed folder> <work folder> <seconds> [dictionary]
#
# The seeds are copied into <work>/corpus (inputs found in earlier runs stay
# there); crashing, leaking or slow inputs land in <work>/artifacts. The exit
# status is the fuzzer's: non-zero on any finding.
set -euo pipefail
if [ $# -lt 4 ]; then
  sed -n '2,9p' "$0" >&2
  exit 2
fi
binary=$1 seeds=$2 work=$3 seconds=$4 dict=${5:-}

mkdir -p "$work/corpus" "$work/artifacts"
if [ -d "$seeds" ]; then
  cp -n "$seeds"/* "$work/corpus/" 2>/dev/null || true
fi
args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
      -artifact_prefix="$work/artifacts/")
if [ -n "$dict" ]; then
  args+=(-dict="$dict")
fi
exec "$binary" "${args[@]}" "$work/corpus"
