#!/usr/bin/env bash
# End-to-end benchmark of LumoraSetup.exe as a user runs it (not a test: it
# prints figures and ratios).
#
#   bench/e2e.sh [BUILD_DIR]     the Windows build with its tests (default build/win)
#
# Builds LumoraSetup.exe (Release, stripped as shipped) for an update server
# on 127.0.0.1 at a port of this build and a bench key made with minisign
# here, publishes a tree with a 1 GiB package and one with a 10 kB package
# (tools/publish), serves them with nginx and runs the program under Wine
# with its task dialog on a private Xvfb display; a recording stand-in takes
# msiexec.exe's place. Every run is timed as a whole Wine process:
#   fresh   no package on disk: download, hash, verify, start the installer
#   reuse   the valid package of the last run is on disk: hash and verify only
# and, in the same run, the references: bench's bare WinHTTP download
# program (winhttp_reference.exe) as a whole Wine process, and
# `b2sum -l 512` over the same file. Per-byte cost is the time with the
# 1 GiB package less the time with the 10 kB one; the 10 kB time is the
# fixed cost, beside the time of a Wine process that does nearly nothing.
# Also: the stripped program's size, and the time from a click
# on Cancel to the end of the process while the package arrives from a
# server sending a few hundred bytes per second.
#
# BENCH_RUNS (default 3) sets the runs per case; min and median are shown.
# The last lines ("e2e ...") are what bench/run.sh prints beside its own.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/win}" && pwd)
runs=${BENCH_RUNS:-3}
work=$build/bench-e2e
mkdir -p "$work"

# A port of this build folder, so that benches of two work trees do not meet.
port=$(( 25300 + $(printf '%s' "$work" | cksum | cut -d' ' -f1) % 500 ))
if (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null; then
  echo "port $port on 127.0.0.1 is taken; the bench program is built for it" >&2
  exit 1
fi

say() { echo "-- $*" >&2; }

# The bench key, made here; never a key of the tests or of a release.
if [ ! -f "$work/keys/bench.key" ]; then
  mkdir -p "$work/keys"
  minisign -G -W -f -p "$work/keys/bench.pub" -s "$work/keys/bench.key" >/dev/null
fi

say "building LumoraSetup.exe for 127.0.0.1:$port and the bench key"
cmake -S "$root" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DLUMORA_DEPS_DIR="$root/build/deps" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DLUMORA_UPDATE_HOST=127.0.0.1 -DLUMORA_UPDATE_PORT="$port" \
  -DLUMORA_TRUSTED_KEY_FILE="$work/keys/bench.pub" >"$work/configure.log" \
  || { tail -n 30 "$work/configure.log" >&2; exit 1; }
cmake --build "$work/build" --target LumoraSetup >"$work/build.log" \
  || { tail -n 40 "$work/build.log" >&2; exit 1; }
cmake --build "$build" --target winhttp_reference setup_gui_driver msiexec_recorder >/dev/null
program=$work/build/setup/LumoraSetup.exe
say "LumoraSetup.exe (Release, stripped): $(stat -c %s "$program") bytes"

# The trees: one package each, Lumora.Win32.msi (a 32-bit prefix asks for it).
publish() {  # publish NAME BYTES
  local tree=$work/www-$1
  [ -f "$tree/.complete" ] && return 0
  say "publishing the $1 tree"
  rm -rf "$tree" "$work/packages-$1" && mkdir -p "$work/packages-$1"
  head -c "$2" /dev/urandom >"$work/packages-$1/Lumora.Win32.msi"
  python3 "$root/tools/publish/lumora_publish.py" publish --packages "$work/packages-$1" --channel stable \
    --package-url "http://127.0.0.1:$port/Lumora/packages/" --number 1 --text "Lumora bench" \
    --secret-key "$work/keys/bench.key" --out "$tree" >/dev/null
  rm -rf "$work/packages-$1"
  touch "$tree/.complete"
}
publish 1GiB $((1024 * 1024 * 1024))
publish 10kB 10240

# nginx serves $work/www, a link to the tree of the case.
nginx() { python3 "$root/scripts/lumora_nginx.py" "$@"; }
serve() {  # serve [BYTES_PER_SECOND]: the package limited to that rate
  local limit=()
  [ -n "${1:-}" ] && limit=(--limit-rate '\.msi$' "$1")
  nginx start "$work/nginx" --port "$port" --root "$work/www" "${limit[@]}"
}

# A prefix of the bench's own: its msiexec.exe is replaced by the recorder.
export WINEPREFIX=$work/wineprefix
[ -f "$WINEPREFIX/.lumora-ready" ] || "$root/scripts/wine-prefix.sh" "$WINEPREFIX" >&2
cp "$build/setup/msiexec_recorder.exe" "$WINEPREFIX/drive_c/windows/system32/msiexec.exe"
# Wine prefers its built-in msiexec unless told to load the native one.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;msiexec.exe=n,b"
export LUMORA_MSIEXEC_RECORD='C:\lumora-msiexec.txt'
record=$WINEPREFIX/drive_c/lumora-msiexec.txt
mkdir -p "$work/app" && cp "$program" "$work/app/LumoraSetup.exe"
cp "$build/setup/msiexec_recorder.exe" "$work/app/empty.exe"

"$root/scripts/xvfb.sh" start "$work/xvfb"
export LUMORA_XVFB_DIR=$work/xvfb
# One wineserver for the whole bench: every run, program or reference, finds
# it running, as on Windows the system is always up.
wineserver_started=
cleanup() {
  nginx stop "$work/nginx"
  "$root/scripts/xvfb.sh" stop "$work/xvfb"
  [ -n "$wineserver_started" ] && WINEPREFIX=$work/wineprefix wineserver -k 2>/dev/null || true
  rm -f "$work"/reference-*.bin
}
trap cleanup EXIT
wineserver -p && wineserver_started=1

stored_packages() {
  find "$WINEPREFIX/drive_c/users" -maxdepth 6 -path '*Temp*' -name 'Lumora*' 2>/dev/null
}
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f\n", b - a }'; }

# run_program fresh|reuse: one whole run of the program; prints its seconds.
run_program() {
  [ "$1" = fresh ] && stored_packages | while read -r f; do rm -f "$f"; done
  rm -f "$record"
  local start end status=0
  start=$(now)
  "$root/scripts/wine-run.sh" "$work/app/LumoraSetup.exe" || status=$?
  end=$(now)
  if [ "$status" -ne 0 ] || [ ! -f "$record" ]; then
    echo "LumoraSetup.exe ($1) ended with status $status; installer started: $([ -f "$record" ] && echo yes || echo no)" >&2
    return 1
  fi
  elapsed "$start" "$end"
}
run_reference() {  # run_reference PATH
  local start end
  start=$(now)
  "$root/scripts/wine-run.sh" "$build/update/winhttp_reference.exe" "$port" "$1" \
    "Z:$work/reference-out.bin" >/dev/null
  end=$(now)
  elapsed "$start" "$end"
}
# The start and end of a Wine process that does nearly nothing (the
# recorder writes one line): the part of the fixed cost no program avoids.
run_empty() {
  local start end
  start=$(now)
  "$root/scripts/wine-run.sh" "$work/app/empty.exe"
  end=$(now)
  elapsed "$start" "$end"
}
run_b2sum() {  # run_b2sum FILE
  local start end
  start=$(now)
  b2sum -l 512 "$1" >/dev/null
  end=$(now)
  elapsed "$start" "$end"
}

# summary NAME TIMES...: "NAME min median" of the times.
summary() {
  local name=$1; shift
  printf '%s\n' "$@" | sort -g | awk -v name="$name" '
    { t[NR] = $1 }
    END { m = (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2; printf "%s %.3f %.3f\n", name, t[1], m }'
}

package_path=/Lumora/packages/Lumora.Win32.msi
results=$work/results.txt
: >"$results"
serve
for tree in 1GiB 10kB; do
  ln -sfn "www-$tree" "$work/www"
  file=$work/www-$tree$package_path
  cat "$file" >/dev/null  # in the page cache for every contender alike
  say "$tree: $runs runs of each case"
  fresh=() reuse=() reference=() b2=()
  for i in $(seq "$runs"); do
    t=$(run_program fresh); fresh+=("$t")
    t=$(run_program reuse); reuse+=("$t")
    t=$(run_reference "$package_path"); reference+=("$t")
    t=$(run_b2sum "$file"); b2+=("$t")
  done
  cmp -s "$file" "$work/reference-out.bin" || { echo "the reference download differs" >&2; exit 1; }
  stored=$(stored_packages | head -n 1)
  cmp -s "$file" "$stored" || { echo "the stored package differs" >&2; exit 1; }
  summary "fresh-$tree" "${fresh[@]}" >>"$results"
  summary "reuse-$tree" "${reuse[@]}" >>"$results"
  summary "reference-$tree" "${reference[@]}" >>"$results"
  summary "b2sum-$tree" "${b2[@]}" >>"$results"
done
nginx stop "$work/nginx"
empty=()
for i in $(seq "$runs"); do t=$(run_empty); empty+=("$t"); done
summary empty "${empty[@]}" >>"$results"

# Cancel while the package trickles in at 300 bytes per second.
say "Cancel during a slow package download ($runs runs)"
ln -sfn www-1GiB "$work/www"
serve 300
cancel=()
for i in $(seq "$runs"); do
  stored_packages | while read -r f; do rm -f "$f"; done
  report=$work/cancel-report.txt
  "$root/scripts/wine-run.sh" "$build/setup/setup_gui_driver.exe" "Z:$report" "Z:$work/app/LumoraSetup.exe" \
    wait-progress-page 60 sleep 3000 click 2 wait-exit 120 >/dev/null || true
  ms=$(sed -n 's/^exit-after-click-ms: //p' "$report" | tr -d '\r')
  code=$(sed -n 's/^exit: //p' "$report" | tr -d '\r')
  if [ -z "$ms" ] || [ "$code" != 1223 ]; then
    echo "the Cancel run did not end as cancelled:" >&2
    cat "$report" >&2
    exit 1
  fi
  cancel+=("$(awk -v ms="$ms" 'BEGIN { printf "%.3f\n", ms / 1000 }')")
done
nginx stop "$work/nginx"
summary cancel "${cancel[@]}" >>"$results"
echo "size $(stat -c %s "$program")" >>"$results"

python3 - "$results" "$runs" <<'PY'
import sys
figures = {}
for line in open(sys.argv[1]):
    name, *values = line.split()
    figures[name] = [float(v) for v in values]
runs = sys.argv[2]

def row(label, name, reference):
    p, r = figures[name], figures[reference]
    print(f"e2e {label:<31} min {p[0]:7.2f} s  median {p[1]:7.2f} s   "
          f"({reference.split('-')[0]}: min {r[0]:6.2f} s  median {r[1]:6.2f} s)")

print(f"\nLumoraSetup.exe end to end, whole Wine processes, dialog on Xvfb ({runs} runs each):")
row("fresh 1 GiB", "fresh-1GiB", "reference-1GiB")
row("fresh 10 kB (fixed cost)", "fresh-10kB", "reference-10kB")
row("reuse 1 GiB", "reuse-1GiB", "b2sum-1GiB")
row("reuse 10 kB (fixed cost)", "reuse-10kB", "b2sum-10kB")
e = figures["empty"]
print(f"e2e {'Wine process doing nothing':<31} min {e[0]:7.2f} s  median {e[1]:7.2f} s   (part of every fixed cost)")

def per_byte(name, reference, i):
    own = figures[f"{name}-1GiB"][i] - figures[f"{name}-10kB"][i]
    ref = figures[f"{reference}-1GiB"][i] - figures[f"{reference}-10kB"][i]
    return own, ref, own / ref

for name, reference, label, target in (("fresh", "reference", "bare WinHTTP", 1.15),
                                       ("reuse", "b2sum", "b2sum -l 512", 1.5)):
    own, ref, ratio = per_byte(name, reference, 1)
    _, _, ratio_min = per_byte(name, reference, 0)
    print(f"e2e per-byte {name} / {label:<13} {ratio:5.2f} (medians {own:.2f} s / {ref:.2f} s; "
          f"of minima {ratio_min:.2f})   (target <= {target})")
c = figures["cancel"]
print(f"e2e Cancel to exit, slow server     min {c[0]:.2f} s  median {c[1]:.2f} s   (target < 1 s)")
size = int(figures["size"][0])
print(f"e2e LumoraSetup.exe stripped        {size} bytes ({size / 1e6:.2f} MB)   (aim < 1.2 MB)")
PY
