#!/usr/bin/env bash
# Benchmark of the signed download (not a test: it prints figures and ratios).
#
#   bench/run.sh [BUILD_DIR]     the Windows build of the library-level part
#                                (default build/win64, the 64-bit program)
# It installs what it needs and configures the builds it uses, so that it
# also runs on a fresh clone.
#
# 1. Reuse: a valid 1 GiB package already on disk is only hashed and checked;
#    compared with `b2sum -l 512` over the same file (target ratio <= 1.5).
# 2. Fresh download and verification of 1 GiB from nginx on 127.0.0.1,
#    compared with a bare asynchronous WinHTTP download that reads the same
#    8192-byte blocks and writes them to a file (target ratio <= 1.10).
# 3. Peak memory (maximum resident size of the Wine process, /usr/bin/time -v)
#    of the 1 GiB download against a 1 MiB one (target: at most 8 MiB more).
# Times are the best of three runs, measured inside the programs around the
# download alone, so Wine's start-up is not counted.
# 4. End to end (bench/e2e.sh): LumoraSetup.exe itself with its dialog, fresh
#    and reuse with a 1 GiB and a 10 kB package, as whole Wine processes, with
#    the references of the same run built for the same processor; its
#    program size, peak memory and Cancel latency. The 64-bit program
#    always, the 32-bit one too where this machine runs 32-bit code
#    (BENCH_E2E_PROGRAMS=64, 32 or both chooses). BENCH_E2E=0 leaves it out;
#    the size of this build's program is printed then.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# On a fresh clone: what the benches need is installed, and the builds they
# use are configured (each bench builds only the targets it runs).
"$root/scripts/install-deps.sh" >&2
presets=(win64)
"$root/scripts/wine-can-run.sh" >/dev/null && presets+=(win)
for preset in "${presets[@]}"; do
  [ -f "$root/build/$preset/CMakeCache.txt" ] || (cd "$root" && cmake --preset "$preset" >/dev/null)
done
build=$(cd "${1:-$root/build/win64}" && pwd)
# Report uploads (no Wine), the crash view's own bench: its failure is
# reported and leaves the download's figures to come.
/usr/bin/python3 "$root/tools/crash-view/bench_uploads.py" "$build" \
  || echo "bench_uploads.py failed (status $?): no upload figures"
echo
nginx() { python3 "$root/scripts/lumora_nginx.py" "$@"; }

cmake --build "$build" --target bench_download winhttp_reference >/dev/null
export WINEPREFIX=$build/wineprefix
# The prefix the build's tests use: 64-bit alone for the 64-bit program.
prefix_arch=win32
grep -q '^CMAKE_TOOLCHAIN_FILE:.*mingw-x86_64' "$build/CMakeCache.txt" && prefix_arch=win64-only
"$root/scripts/wine-prefix.sh" "$WINEPREFIX" "$prefix_arch" >/dev/null
key=$build/test-keys/trusted.key
[ -f "$key" ] || cmake --build "$build" --target lumora_test_trusted_keys >/dev/null

work=$build/bench-work
mkdir -p "$work/www"
if [ ! -f "$work/www/big.bin.minisig" ]; then
  echo "making the 1 GiB package and its signature..."
  head -c $((1024 * 1024 * 1024)) /dev/urandom > "$work/www/big.bin"
  head -c $((1024 * 1024)) /dev/urandom > "$work/www/small.bin"
  minisign -S -s "$key" -m "$work/www/big.bin" "$work/www/small.bin" >/dev/null
fi
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
nginx start "$work/nginx" --port "$port" --root "$work/www"
trap 'nginx stop "$work/nginx"; rm -f "$work"/out-*.bin' EXIT

wine_run() { "$root/scripts/wine-run.sh" "$@"; }
seconds_of() { sed -n 's/.*seconds=\([0-9.]*\).*/\1/p'; }
best() { sort -g | head -n 1; }
z() { echo "Z:$1"; }

echo "libsodium: $(wine_run "$build/update/bench_download.exe" "$port" /small.bin "$(z "$work/out-probe.bin")" fresh)"

# 1. Reuse of a valid package on disk.
cp "$work/www/big.bin" "$work/out-reuse.bin"
reuse=$(for i in 1 2 3; do
  wine_run "$build/update/bench_download.exe" "$port" /big.bin "$(z "$work/out-reuse.bin")" reuse | seconds_of
done | best)
b2sum_time=$(for i in 1 2 3; do
  /usr/bin/time -f %e b2sum -l 512 "$work/www/big.bin" 2>&1 >/dev/null | tail -n 1
done | best)

# 2. Fresh download and verification.
fresh=$(for i in 1 2 3; do
  wine_run "$build/update/bench_download.exe" "$port" /big.bin "$(z "$work/out-fresh.bin")" fresh | seconds_of
done | best)
cmp "$work/www/big.bin" "$work/out-fresh.bin"
reference=$(for i in 1 2 3; do
  wine_run "$build/update/winhttp_reference.exe" "$port" /big.bin "$(z "$work/out-reference.bin")" | seconds_of
done | best)

# 3. Peak memory.
peak_kib() {
  rm -f "$work/out-memory.bin"
  /usr/bin/time -v "$root/scripts/wine-run.sh" "$build/update/bench_download.exe" "$port" "$1" \
    "$(z "$work/out-memory.bin")" fresh 2>&1 >/dev/null | sed -n 's/.*Maximum resident set size (kbytes): //p'
}
small_peak=$(peak_kib /small.bin)
big_peak=$(peak_kib /big.bin)

echo
echo "reuse of a valid 1 GiB package:   ${reuse} s   (b2sum -l 512: ${b2sum_time} s)"
echo "fresh 1 GiB download + check:     ${fresh} s   (bare WinHTTP download: ${reference} s)"
echo "peak resident size:               1 GiB ${big_peak} KiB, 1 MiB ${small_peak} KiB"
library=$(python3 - "$reuse" "$b2sum_time" "$fresh" "$reference" "$big_peak" "$small_peak" <<'PY'
import sys
reuse, b2, fresh, ref, big, small = map(float, sys.argv[1:])
print(f"ratio reuse / b2sum:            {reuse / b2:.2f}   (target <= 1.5)")
print(f"ratio download / bare WinHTTP:  {fresh / ref:.2f}   (target <= 1.10 on a quiet machine)")
print(f"peak memory difference:         {(big - small) / 1024:.1f} MiB   (target <= 8 MiB)")
PY
)
echo "$library"
if [ "${BENCH_E2E:-1}" != 0 ]; then
  nginx stop "$work/nginx"
  echo
  echo "end to end (bench/e2e.sh)..."
  e2e=$("$root/bench/e2e.sh" ${BENCH_E2E_PROGRAMS:+"$BENCH_E2E_PROGRAMS"})
  echo
  echo "library level (the signed download alone, times inside the programs, best of 3):"
  echo "$library" | sed 's/^/  /'
  echo "$e2e"
else
  # Without the end-to-end part, the size of this build's program, stripped
  # as shipped (bench/e2e.sh reports the Release program's).
  cmake --build "$build" --target LumoraSetup >/dev/null
  size=$(stat -c %s "$build/setup/LumoraSetup.exe")
  echo "LumoraSetup.exe stripped ($(basename "$build")): $size bytes ($(awk -v s="$size" 'BEGIN { printf "%.2f", s / 1e6 }') MB)   (aim < 1.2 MB)"
fi
