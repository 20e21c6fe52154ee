#!/usr/bin/env bash
# The maker's crash view, shown with real crashes:
#
#   tools/crash-view/demo.sh [--check] [BUILD_DIR]   a Windows build (default build/win)
#
# Files the unstripped test host in a symbol store, starts an indexing report
# server on 127.0.0.1 (asking for the .bxr report of every crash) with its
# crash page, crashes the test host under Wine once in each crash kind, waits
# until every report is read and grouped, and prints the page's address. The
# server runs until Ctrl-C. CRASH_VIEW_ADMIN_PORT sets the page's port
# (default 8470). Everything it makes stays under BUILD_DIR/crash-view-demo
# and the build's test Wine prefix: a 32-bit one for the 32-bit build (build/win),
# a 64-bit one without WOW64 for the 64-bit build (build/win64), which runs
# where no 32-bit code can.
#
# --check (the test crash_view_demo): builds nothing, takes a free port for
# the page, checks that it shows a group named by the faulting function of
# every crash kind, and ends.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
check=
if [ "${1:-}" = --check ]; then check=1; shift; fi
build=$(cd "${1:-$root/build/win}" && pwd)
admin_port=${CRASH_VIEW_ADMIN_PORT:-8470}
[ -z "$check" ] || admin_port=0

[ -n "$check" ] || cmake --build "$build" --target crash_host crash_driver trust_ca report_reader_native >/dev/null
host=$build/crashreport/crash_host.exe
# The prefix the build's tests use (cmake/testing.cmake), by the test host's
# machine: the Machine field of its PE header.
pe_header=$(od -An -tu4 -j60 -N4 "$host" | tr -d ' ')
case $(od -An -tx2 -j$((pe_header + 4)) -N2 "$host" | tr -d ' ') in
  8664) arch=win64-only ;;
  014c)
    arch=win32
    if ! reason=$("$root/scripts/wine-can-run.sh"); then
      echo "crash view demo: the 32-bit test host cannot crash on this machine: $reason" >&2
      echo "crash view demo: the 64-bit build (build/win64) runs here" >&2
      exit 1
    fi ;;
  *) echo "crash view demo: $host is no test host of a Windows build" >&2; exit 1 ;;
esac
work=$build/crash-view-demo
store=$work/store
rm -rf "$work"
mkdir -p "$work/temp" "$store"
export WINEPREFIX=$build/wineprefix
# wine-prefix.sh makes the prefix again when it was made for another architecture.
[ "$(cat "$WINEPREFIX/.lumora-ready" 2>/dev/null)" = "$arch" ] || "$root/scripts/wine-prefix.sh" "$WINEPREFIX" "$arch"
ca=$build/test-ca
[ -f "$ca/server.key" ] || python3 "$root/http/tests/servers/lumora_servers.py" ca "$ca" >/dev/null
"$root/scripts/wine-run.sh" "$build/http/trust_ca.exe" "Z:$ca/ca.pem" >/dev/null

reader=$build/tools/report-reader/native/report-reader
"$reader" --file-symbols "$store/symbols" "$build/crashreport/crash_host.full.exe" --shipped "$host"

/usr/bin/python3 "$root/tools/report-server/report_server.py" --cert "$ca/server-chain.pem" --key "$ca/server.key" \
  --store "$store" --index --reader "$reader" --ask-detailed --admin-port "$admin_port" >"$work/server.out" 2>&1 &
server=$!
"$root/scripts/xvfb.sh" start "$work/xvfb"
# The server ends by the signal, so its status is not ours: the demo's own
# exit status must survive the clean-up (set -e applies in the trap too).
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null || true; "$root/scripts/xvfb.sh" stop "$work/xvfb"' EXIT
for _ in $(seq 1 100); do
  grep -q '^port ' "$work/server.out" && break
  kill -0 $server 2>/dev/null || { cat "$work/server.out" >&2; exit 1; }
  sleep 0.1
done
port=$(sed -n 's/^port //p' "$work/server.out")
admin=$(sed -n 's/^admin //p' "$work/server.out")
[ -n "$port" ] && [ -n "$admin" ] || { echo "crash view demo: the report server did not start" >&2; exit 1; }

export LUMORA_XVFB_DIR=$work/xvfb LUMORA_REPORT_SERVER=127.0.0.1:$port
for kind in av-main av-worker divide-by-zero stack-overflow throw-object throw-object-std-thread av-main; do
  echo "crashing the test host: $kind"
  timeout 180 "$root/scripts/wine-run.sh" "$build/crashreport/crash_driver.exe" --temp "Z:$work/temp" \
    --answer yes --timeout 90 -- "Z:$host" "$kind" >/dev/null || true
done

# Wait (at most 2 minutes) until the page shows every stored report read;
# with --check, then look for each crash kind's group.
stored=$(find "$store/reports" -maxdepth 1 -type f ! -name '.*' | wc -l)
python3 - "$admin" "$stored" "$check" <<'PY'
import re, sys, time, urllib.request
admin, stored, check = sys.argv[1], int(sys.argv[2]), sys.argv[3]
deadline = time.monotonic() + 120
while True:
    page = urllib.request.urlopen(admin, timeout=10).read().decode()
    total = int(re.search(r'id="total">(\d+)<', page).group(1))
    unread = int(re.search(r'id="unread">(\d+)<', page).group(1))
    if total >= stored and unread == 0 or time.monotonic() > deadline:
        break
    time.sleep(0.2)
if check:
    titles = re.findall(r'<a href="/group/[0-9a-f]+">([^<]*)</a>', page)
    expected = ["EXCEPTION_ACCESS_VIOLATION in fault_access_violation", "EXCEPTION_INT_DIVIDE_BY_ZERO in fault_divide_by_zero",
                "EXCEPTION_STACK_OVERFLOW in fault_stack_overflow", "C++ exception (GCC) in fault_throw_object"]
    missing = [t for t in expected if t not in titles]
    if stored < 14 or unread or missing:
        sys.exit("crash view check: %d reports stored (14 expected), %d unread, groups missing: %s; groups: %s"
                 % (stored, unread, missing, titles))
    print("crash view check: %d reports in %d groups, every crash kind named by its function" % (stored, len(titles)))
PY
[ -z "$check" ] || exit 0
echo
echo "$stored reports stored. Crash view: $admin   (Ctrl-C ends the report server)"
wait $server
