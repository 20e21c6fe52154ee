#!/usr/bin/env bash
# End-to-end benchmark of LumoraSetup.exe as a user runs it (not a test: it
# prints figures and ratios).
#
#   bench/e2e.sh [64|32|both]     which program (default: both where this
#                                 machine runs 32-bit code, else 64)
#
# For each program (64: build/win64, x64 program in a 64-bit Wine prefix;
# 32: build/win, the shipped 32-bit program in a 32-bit prefix) it builds
# LumoraSetup.exe (Release, stripped as shipped) for an update server on
# 127.0.0.1 at a port of this checkout and a bench key made with minisign
# here, publishes a tree with a 1 GiB and one with a 10 kB package
# (tools/publish), serves them with nginx and runs the program under Wine
# with its task dialog on a private Xvfb display; a recording stand-in takes
# msiexec.exe's place. Every run is timed as a whole Wine process:
#   fresh   no package on disk: download, hash, verify, start the installer
#   reuse   the valid package of the last run is on disk: hash and verify only
# and, in the same run and built for the same processor, the references:
#   bare WinHTTP   winhttp_reference.exe, an asynchronous WinHTTP download in
#                  8192-byte blocks into a file (bench/winhttp_reference.cpp)
#   floor          floor_dialog.exe, a task dialog with a progress bar that
#                  downloads the same file with WinHTTP in 8192-byte blocks,
#                  moves the bar and ends (bench/floor_dialog.cpp)
#   b2sum          `b2sum -l 512` over the same file
# Per-byte cost is the time with the 1 GiB package less the time with the
# 10 kB one; the 10 kB time is the fixed cost, set against the floor's.
# Also: peak memory of the program's Wine process (its maximum resident set,
# from wait4 through /usr/bin/time), the fixed cost with the crash reporter
# switched off in the registry (what its start-up sender costs), the time
# from a click on Cancel to the end of the process while the package trickles
# in at 300 bytes per second, and the stripped program's size.
#
# BENCH_RUNS (default 3) sets the runs per case; min and median are shown.
# The 10 kB cases take a fraction of a second, where a stray wakeup of the
# machine weighs most: they run five times as often.
# The lines starting "e2e" are what bench/run.sh prints beside its own.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${BENCH_RUNS:-3}
case ${1:-} in
  64|32) programs=$1 ;;
  both) programs="64 32" ;;
  "")
    if "$root/scripts/wine-can-run.sh" >/dev/null; then programs="64 32"; else programs=64; fi ;;
  *) echo "usage: bench/e2e.sh [64|32|both]" >&2; exit 2 ;;
esac
shared=$root/build/bench-e2e
mkdir -p "$shared"

# A port of this checkout, so that benches of two work trees do not meet.
port=$(( 25300 + $(printf '%s' "$shared" | cksum | cut -d' ' -f1) % 500 ))
if (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null; then
  echo "port $port on 127.0.0.1 is taken; the bench program is built for it" >&2
  exit 1
fi

say() { echo "-- $*" >&2; }

# The bench key, made here; never a key of the tests or of a release.
if [ ! -f "$shared/keys/bench.key" ]; then
  mkdir -p "$shared/keys"
  minisign -G -W -f -p "$shared/keys/bench.pub" -s "$shared/keys/bench.key" >/dev/null
fi

# The trees: one package each, under the names of both programs (a 32-bit
# prefix asks for Lumora.Win32.msi, a 64-bit one for Lumora.x64.msi), one
# file on disk.
publish() {  # publish NAME BYTES|PACKAGE_FILE [PACKAGE_PORT]
  local tree=$shared/www-$1 packages=$shared/packages-$1
  [ -f "$tree/.complete" ] && return 0
  say "publishing the $1 tree"
  rm -rf "$tree" "$packages" && mkdir -p "$packages"
  if [ -f "$2" ]; then
    ln "$2" "$packages/Lumora.x64.msi"
  else
    head -c "$2" /dev/urandom >"$packages/Lumora.x64.msi"
  fi
  ln "$packages/Lumora.x64.msi" "$packages/Lumora.Win32.msi"
  python3 "$root/tools/publish/lumora_publish.py" publish --packages "$packages" --channel stable \
    --package-url "http://127.0.0.1:${3:-$port}/Lumora/packages/" --number 1 --text "Lumora bench" \
    --secret-key "$shared/keys/bench.key" --out "$tree" >/dev/null
  ln -f "$tree/Lumora/packages/Lumora.x64.msi" "$tree/Lumora/packages/Lumora.Win32.msi"
  rm -rf "$packages"
  touch "$tree/.complete"
}
publish 1GiB $((1024 * 1024 * 1024))
publish 10kB 10240
# The same 1 GiB package, fetched through the relay that breaks a download
# once (bench/reset_relay.py): the descriptor still comes from nginx.
relay_port=$((port + 1))
publish 1GiB-relay "$shared/www-1GiB/Lumora/packages/Lumora.x64.msi" "$relay_port"

# nginx serves $shared/www, a link to the tree of the case.
nginx() { python3 "$root/scripts/lumora_nginx.py" "$@"; }
serve() {  # serve [BYTES_PER_SECOND]: the packages limited to that rate
  local limit=()
  [ -n "${1:-}" ] && limit=(--limit-rate '\.msi$' "$1")
  nginx start "$shared/nginx" --port "$port" --root "$shared/www" "${limit[@]}"
}

"$root/scripts/xvfb.sh" start "$shared/xvfb"
export LUMORA_XVFB_DIR=$shared/xvfb
# One wineserver per prefix for the whole bench: every run, program or
# reference, finds it running, as on Windows the system is always up.
wineservers=()
cleanup() {
  nginx stop "$shared/nginx"
  "$root/scripts/xvfb.sh" stop "$shared/xvfb"
  local p
  for p in "${wineservers[@]}"; do WINEPREFIX=$p wineserver -k 2>/dev/null || true; done
  rm -f "$shared"/*/reference-out.bin "$shared"/*/floor-out.bin
}
relay_pid=
stop_relay() {
  if [ -n "$relay_pid" ]; then
    kill "$relay_pid" 2>/dev/null || true
    wait "$relay_pid" 2>/dev/null || true
  fi
  relay_pid=
}
trap 'stop_relay; cleanup' EXIT

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f\n", b - a }'; }
# timed OUT_PEAK COMMAND...: runs COMMAND (its output discarded), prints its
# seconds; its peak resident size in KiB is the last line of the file
# OUT_PEAK. Fails as COMMAND fails.
timed() {
  local peak=$1; shift
  local start end
  start=$(now)
  /usr/bin/time -f %M -o "$peak" "$@" >/dev/null
  end=$(now)
  elapsed "$start" "$end"
}

# summary NAME TIMES...: "NAME min median" of the values.
summary() {
  local name=$1; shift
  printf '%s\n' "$@" | sort -g | awk -v name="$name" '
    { t[NR] = $1 }
    END { m = (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2; printf "%s %.3f %.3f\n", name, t[1], m }'
}

# bench_program 64|32: every case for one build of the program; its figures
# go to $shared/$1/results.txt.
bench_program() {
  local bits=$1 build toolchain prefix_arch suffix
  if [ "$bits" = 64 ]; then
    build=$root/build/win64 toolchain=mingw-x86_64 prefix_arch=win64-only suffix=.x64
  else
    build=$root/build/win toolchain=mingw-i686 prefix_arch=win32 suffix=.Win32
  fi
  local work=$shared/$bits
  mkdir -p "$work"
  if [ ! -f "$build/CMakeCache.txt" ]; then
    echo "$build is not configured: run ./test.sh (or cmake --preset $(basename "$build")) first" >&2
    return 1
  fi

  say "$bits-bit: building LumoraSetup.exe for 127.0.0.1:$port and the bench key"
  cmake -S "$root" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake" \
    -DLUMORA_DEPS_DIR="$root/build/deps" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DLUMORA_UPDATE_HOST=127.0.0.1 -DLUMORA_UPDATE_PORT="$port" \
    -DLUMORA_TRUSTED_KEY_FILE="$shared/keys/bench.pub" >"$work/configure.log" \
    || { tail -n 30 "$work/configure.log" >&2; return 1; }
  nice -n 10 cmake --build "$work/build" --target LumoraSetup >"$work/build.log" \
    || { tail -n 40 "$work/build.log" >&2; return 1; }
  nice -n 10 cmake --build "$build" --target winhttp_reference floor_dialog setup_gui_driver msiexec_recorder \
    >"$work/references-build.log" || { tail -n 40 "$work/references-build.log" >&2; return 1; }
  local program=$work/build/setup/LumoraSetup.exe
  # The same program with resumable downloads, where this checkout has them.
  local resume_program=
  if grep -q LUMORA_DOWNLOAD_RESUME "$root/update/CMakeLists.txt" && [ "${BENCH_RESUME:-1}" != 0 ]; then
    cmake -S "$root" -B "$work/build-resume" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake" \
      -DLUMORA_DEPS_DIR="$root/build/deps" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
      -DLUMORA_UPDATE_HOST=127.0.0.1 -DLUMORA_UPDATE_PORT="$port" -DLUMORA_DOWNLOAD_RESUME=ON \
      -DLUMORA_TRUSTED_KEY_FILE="$shared/keys/bench.pub" >"$work/configure-resume.log" \
      || { tail -n 30 "$work/configure-resume.log" >&2; return 1; }
    nice -n 10 cmake --build "$work/build-resume" --target LumoraSetup >"$work/build-resume.log" \
      || { tail -n 40 "$work/build-resume.log" >&2; return 1; }
    resume_program=$work/build-resume/setup/LumoraSetup.exe
  fi
  say "$bits-bit LumoraSetup.exe (Release, stripped): $(stat -c %s "$program") bytes"

  # A prefix of the bench's own: its msiexec.exe is replaced by the recorder.
  export WINEPREFIX=$work/wineprefix
  "$root/scripts/wine-prefix.sh" "$WINEPREFIX" "$prefix_arch" >&2
  wineservers+=("$WINEPREFIX")
  wineserver -p
  # Xvfb runs no window manager, and Wine waits up to 2 s for one to confirm
  # that a managed window has gone when the dialog closes: a cost no user
  # meets on Windows, or with a window manager that answers. Unmanaged
  # windows skip that wait, for the program and the floor alike.
  "$root/scripts/wine-run.sh" reg.exe add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
    >/dev/null 2>&1
  # A new file in msiexec.exe's place: the prefix's system files are links to
  # the other test prefixes' (scripts/share-prefix-files.py).
  cp --remove-destination "$build/setup/msiexec_recorder.exe" "$WINEPREFIX/drive_c/windows/system32/msiexec.exe"
  # Wine prefers its built-in msiexec unless told to load the native one.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;msiexec.exe=n,b"
  export LUMORA_MSIEXEC_RECORD='C:\lumora-msiexec.txt'
  local record=$WINEPREFIX/drive_c/lumora-msiexec.txt
  mkdir -p "$work/app" && cp "$program" "$work/app/LumoraSetup.exe"
  [ -n "$resume_program" ] && mkdir -p "$work/app-resume" && cp "$resume_program" "$work/app-resume/LumoraSetup.exe"
  cp "$build/setup/msiexec_recorder.exe" "$work/app/empty.exe"

  local wine_run=$root/scripts/wine-run.sh
  # Where the program keeps its package: Common Files\Varnex\Kestrup when
  # elevated (Wine's default token), else the temporary folder.
  stored_packages() {
    find "$WINEPREFIX/drive_c/users" "$WINEPREFIX/drive_c/Program Files"*"/Common Files/Varnex" -maxdepth 6 \
      -name 'Lumora*' \( -path '*Temp*' -o -path '*Kestrup*' \) 2>/dev/null || true
  }
  remove_stored_packages() { stored_packages | while read -r f; do rm -f "$f"; done; }
  # run_program fresh|reuse [APP]: one whole run of the program (of the
  # folder APP, default app); prints its seconds.
  run_program() {
    [ "$1" = fresh ] && remove_stored_packages
    rm -f "$record"
    local seconds status=0
    seconds=$(timed "$work/peak" "$wine_run" "$work/${2:-app}/LumoraSetup.exe") || status=$?
    # The installer is a process of its own, which may write its record a
    # moment after the program has ended.
    for _ in $(seq 100); do [ -f "$record" ] && break; sleep 0.1; done
    if [ "$status" -ne 0 ] || [ ! -f "$record" ]; then
      echo "LumoraSetup.exe ($1) ended with status $status; installer started: $([ -f "$record" ] && echo yes || echo no)" >&2
      return 1
    fi
    echo "$seconds"
  }
  run_reference() {  # run_reference PROGRAM OUT: winhttp_reference or floor_dialog
    timed "$work/peak-$1" "$wine_run" "$build/update/$1.exe" "$port" "$package_path" "Z:$work/$2"
  }
  # The start and end of a Wine process that does nearly nothing (the
  # recorder writes one line): the part of the fixed cost no program avoids.
  run_empty() { timed "$work/peak-empty" "$wine_run" "$work/app/empty.exe"; }
  run_b2sum() { timed "$work/peak-b2sum" b2sum -l 512 "$1"; }
  # The crash reporter's switch (PrestrezajNapake, 64-bit view), 0 or absent.
  reporter_switch() {
    local key='HKLM\SOFTWARE\Varnex\Lumora\Brindlex'
    if [ "$1" = off ]; then
      "$wine_run" reg.exe add "$key" /v PrestrezajNapake /t REG_DWORD /d 0 /f /reg:64 >/dev/null 2>&1
    else
      "$wine_run" reg.exe delete "$key" /f /reg:64 >/dev/null 2>&1 || true
    fi
  }

  local package_path=/Lumora/packages/Lumora$suffix.msi
  local results=$work/results.txt
  : >"$results"
  reporter_switch on
  serve
  local tree i t
  for tree in 1GiB 10kB; do
    ln -sfn "www-$tree" "$shared/www"
    local file=$shared/www-$tree$package_path
    cat "$file" >/dev/null  # in the page cache for every contender alike
    local tree_runs=$runs
    [ "$tree" = 10kB ] && tree_runs=$((runs * 5))
    say "$bits-bit, $tree: $tree_runs runs of each case"
    local fresh=() reuse=() reference=() floor=() b2=() fresh_peak=() reuse_peak=()
    for i in $(seq "$tree_runs"); do
      t=$(run_program fresh); fresh+=("$t"); fresh_peak+=("$(tail -n 1 "$work/peak")")
      t=$(run_program reuse); reuse+=("$t"); reuse_peak+=("$(tail -n 1 "$work/peak")")
      t=$(run_reference winhttp_reference reference-out.bin); reference+=("$t")
      t=$(run_reference floor_dialog floor-out.bin); floor+=("$t")
      t=$(run_b2sum "$file"); b2+=("$t")
    done
    cmp -s "$file" "$work/reference-out.bin" || { echo "the reference download differs" >&2; return 1; }
    cmp -s "$file" "$work/floor-out.bin" || { echo "the floor program's download differs" >&2; return 1; }
    local stored
    stored=$(stored_packages | grep -m1 '\.msi$' || true)
    cmp -s "$file" "$stored" || { echo "the stored package differs" >&2; return 1; }
    summary "fresh-$tree" "${fresh[@]}" >>"$results"
    summary "reuse-$tree" "${reuse[@]}" >>"$results"
    summary "reference-$tree" "${reference[@]}" >>"$results"
    summary "floor-$tree" "${floor[@]}" >>"$results"
    summary "b2sum-$tree" "${b2[@]}" >>"$results"
    echo "peak-fresh-$tree $(printf '%s\n' "${fresh_peak[@]}" | sort -g | tail -n 1)" >>"$results"
    echo "peak-reuse-$tree $(printf '%s\n' "${reuse_peak[@]}" | sort -g | tail -n 1)" >>"$results"
  done

  # The fixed cost without the crash reporter: no start-up sender to wait for.
  say "$bits-bit: 10 kB with the crash reporter switched off ($((runs * 5)) runs)"
  reporter_switch off
  local quiet=()
  for i in $(seq $((runs * 5))); do t=$(run_program fresh); quiet+=("$t"); done
  reporter_switch on
  summary "fresh-10kB-no-reporter" "${quiet[@]}" >>"$results"
  nginx stop "$shared/nginx"
  local empty=()
  for i in $(seq $((runs * 5))); do t=$(run_empty); empty+=("$t"); done
  summary empty "${empty[@]}" >>"$results"

  # A download broken once at half of the package, resumed within the run,
  # against the same download unbroken; both through the relay, so that it
  # costs them alike.
  if [ -n "$resume_program" ]; then
    say "$bits-bit: 1 GiB with resume, unbroken and reset once at 50% ($runs runs each)"
    ln -sfn www-1GiB-relay "$shared/www"
    serve
    python3 "$root/bench/reset_relay.py" "$relay_port" "$port" "$work/relay-armed" >"$work/relay.log" 2>&1 &
    relay_pid=$!
    for _ in $(seq 100); do grep -q ready "$work/relay.log" 2>/dev/null && break; sleep 0.1; done
    local unbroken=() broken=() file=$shared/www-1GiB-relay$package_path
    for i in $(seq "$runs"); do
      rm -f "$work/relay-armed"
      t=$(run_program fresh app-resume); unbroken+=("$t")
      touch "$work/relay-armed"
      t=$(run_program fresh app-resume); broken+=("$t")
      [ ! -e "$work/relay-armed" ] || { echo "the relay did not break the download" >&2; return 1; }
      cmp -s "$file" "$(stored_packages | grep -m1 '\.msi$')" \
        || { echo "the resumed package differs" >&2; return 1; }
    done
    stop_relay
    nginx stop "$shared/nginx"
    summary resume-unbroken "${unbroken[@]}" >>"$results"
    summary resume-reset "${broken[@]}" >>"$results"
    # What the resume itself costs: from the reset to the request for the
    # rest (the wait before it, a new connection), as the relay saw them.
    local gaps
    mapfile -t gaps < <(awk '$2 == "reset" { at = $1; next } at && $2 == "GET" { printf "%.3f\n", $1 - at; at = 0 }' \
      "$work/relay.log")
    summary resume-gap "${gaps[@]}" >>"$results"
  fi

  # Cancel while the package trickles in at 300 bytes per second.
  say "$bits-bit: Cancel during a slow package download ($runs runs)"
  ln -sfn www-1GiB "$shared/www"
  serve 300
  local cancel=() report=$work/cancel-report.txt ms code
  for i in $(seq "$runs"); do
    remove_stored_packages
    "$wine_run" "$build/setup/setup_gui_driver.exe" "Z:$report" "Z:$work/app/LumoraSetup.exe" \
      wait-progress-page 60 sleep 3000 click 2 wait-exit 120 >/dev/null || true
    ms=$(sed -n 's/^exit-after-click-ms: //p' "$report" | tr -d '\r')
    code=$(sed -n 's/^exit: //p' "$report" | tr -d '\r')
    if [ -z "$ms" ] || [ "$code" != 1223 ]; then
      echo "the Cancel run did not end as cancelled:" >&2
      cat "$report" >&2
      return 1
    fi
    cancel+=("$(awk -v ms="$ms" 'BEGIN { printf "%.3f\n", ms / 1000 }')")
  done
  nginx stop "$shared/nginx"
  summary cancel "${cancel[@]}" >>"$results"
  echo "size $(stat -c %s "$program")" >>"$results"
  WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null || true
}

for bits in $programs; do
  bench_program "$bits"
done

for bits in $programs; do
  python3 - "$shared/$bits/results.txt" "$runs" "$bits" <<'PY'
import sys
figures = {}
for line in open(sys.argv[1]):
    name, *values = line.split()
    figures[name] = [float(v) for v in values]
runs, bits = sys.argv[2], sys.argv[3]
arch = "x64, 64-bit prefix" if bits == "64" else "i386, 32-bit prefix"

def row(label, name, reference):
    p, r = figures[name], figures[reference]
    print(f"e2e{bits} {label:<30} min {p[0]:7.2f} s  median {p[1]:7.2f} s   "
          f"({reference.rsplit('-', 1)[0]}: min {r[0]:6.2f} s  median {r[1]:6.2f} s; ratio of medians {p[1] / r[1]:.2f})")

print(f"\nLumoraSetup.exe end to end, {bits}-bit program ({arch}), whole Wine processes, "
      f"dialog on Xvfb ({runs} runs of each 1 GiB case, {int(runs) * 5} of each 10 kB one):")
row("fresh 1 GiB", "fresh-1GiB", "reference-1GiB")
row("fresh 10 kB (fixed cost)", "fresh-10kB", "floor-10kB")
row("reuse 1 GiB", "reuse-1GiB", "b2sum-1GiB")
row("reuse 10 kB", "reuse-10kB", "floor-10kB")
row("floor program 1 GiB", "floor-1GiB", "reference-1GiB")
row("fresh 10 kB, no crash reporter", "fresh-10kB-no-reporter", "fresh-10kB")
e = figures["empty"]
print(f"e2e{bits} {'Wine process doing nothing':<30} min {e[0]:7.2f} s  median {e[1]:7.2f} s   "
      "(part of every fixed cost)")

def per_byte(name, reference, i):
    own = figures[f"{name}-1GiB"][i] - figures[f"{name}-10kB"][i]
    ref = figures[f"{reference}-1GiB"][i] - figures[f"{reference}-10kB"][i]
    return own, ref, own / ref

for name, reference, label, target in (("fresh", "reference", "bare WinHTTP", 1.10),
                                       ("reuse", "b2sum", "b2sum -l 512", 1.2)):
    own, ref, ratio = per_byte(name, reference, 1)
    _, _, ratio_min = per_byte(name, reference, 0)
    print(f"e2e{bits} per-byte {name} / {label:<13} {ratio:5.2f} (medians {own:.2f} s / {ref:.2f} s; "
          f"of minima {ratio_min:.2f})   (target <= {target})")
floor = figures["floor-10kB"]
for name, target in (("fresh", "   (target <= 1.5)"), ("reuse", "")):
    fixed = figures[f"{name}-10kB"]
    print(f"e2e{bits} fixed cost {name} / floor      {fixed[1] / floor[1]:5.2f} (medians {fixed[1]:.2f} s / "
          f"{floor[1]:.2f} s; of minima {fixed[0] / floor[0]:.2f}){target}")
reporter = figures["fresh-10kB"][1] - figures["fresh-10kB-no-reporter"][1]
print(f"e2e{bits} crash reporter's share        {reporter:+.2f} s of the fixed cost (medians, on less off)")
c = figures["cancel"]
print(f"e2e{bits} Cancel to exit, slow server   min {c[0]:.2f} s  median {c[1]:.2f} s   (target < 0.5 s)")
big, small = figures["peak-fresh-1GiB"][0], figures["peak-fresh-10kB"][0]
print(f"e2e{bits} peak memory, fresh            1 GiB {big / 1024:.1f} MiB, 10 kB {small / 1024:.1f} MiB: "
      f"{(big - small) / 1024:+.1f} MiB   (target <= 8 MiB more)")
big, small = figures["peak-reuse-1GiB"][0], figures["peak-reuse-10kB"][0]
print(f"e2e{bits} peak memory, reuse            1 GiB {big / 1024:.1f} MiB, 10 kB {small / 1024:.1f} MiB: "
      f"{(big - small) / 1024:+.1f} MiB")
if "resume-reset" in figures:
    r, u = figures["resume-reset"], figures["resume-unbroken"]
    print(f"e2e{bits} reset once at 50%, resumed  {r[1] / u[1]:5.2f} (medians {r[1]:.2f} s / unbroken {u[1]:.2f} s; "
          f"of minima {r[0] / u[0]:.2f})   (target <= 1.1)")
    g = figures["resume-gap"]
    print(f"e2e{bits} reset to the resumed request min {g[0]:.2f} s  median {g[1]:.2f} s   "
          f"({g[1] / u[1]:.3f} of the unbroken download)")
size = int(figures["size"][0])
print(f"e2e{bits} LumoraSetup.exe stripped      {size} bytes ({size / 1e6:.2f} MB)   (aim < 1.2 MB)")
PY
done
