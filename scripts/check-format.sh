#!/usr/bin/env bash
# Fails on any C++ file of the checkout whose layout differs from what the
# project's .clang-format (clang-format 14) makes of it, and names each. Fix
# with: clang-format -i FILE.
set -uo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang-format >/dev/null; then
  echo "check-format.sh: clang-format is missing (run scripts/install-deps.sh)" >&2; exit 2
fi
if [ -d .git ] || git rev-parse --git-dir >/dev/null 2>&1; then
  mapfile -d '' files < <(git ls-files -z -- '*.cpp' '*.hpp' '*.h' '*.c')
else
  mapfile -d '' files < <(find . -path ./build -prune -o \( -name '*.cpp' -o -name '*.hpp' -o -name '*.h' -o -name '*.c' \) -print0)
fi
drifted=$(clang-format --dry-run --Werror "${files[@]}" 2>&1 | sed -n 's/^\([^ :]*\):[0-9]*:[0-9]*: error: .*/\1/p' | sort -u)
if [ -n "$drifted" ]; then
  echo "code style: these files differ from .clang-format (clang-format -i FILE):"
  sed 's/^/  /' <<<"$drifted"
  exit 1
fi
echo "code style: ${#files[@]} files as .clang-format lays them out"
