#!/usr/bin/env bash
# The demo: installs what is missing, builds LumoraSetup.exe against a local
# update server and a demo signing key, publishes a signed update tree with a
# small demo product, serves it with nginx on 127.0.0.1 port 80 and runs the
# program under Wine, which downloads, verifies and installs the product.
#
# Everything it makes stays under build/demo: the key pair, the package, the
# published tree, nginx's files, the build, and the Wine prefix the product
# is installed into. nginx and (without a DISPLAY) Xvfb are started here and
# stopped at the end. Run as root (port 80); safe to run again.
#
# usage: ./run.sh [--program 64|32] [--arch win64|win32]
#   --program 64 (default): the program built for x64 Windows, on a 64-bit
#                    Windows (a 64-bit prefix, Wine's 64-bit loader); it
#                    installs Lumora.x64.msi into the 64-bit Program Files
#                    with Wine's 64-bit msiexec. Runs on any x86-64 machine.
#   --program 32:    the shipped 32-bit program. It needs a machine that runs
#                    32-bit x86 code; elsewhere the script says so and stops
#                    before Wine (its tests run in the emulated machine:
#                    scripts/vm32/run-suite.sh).
#   --arch win64 (default): a 64-bit Windows, the machine most users have; the
#                    32-bit program runs there under WOW64 and installs
#                    Lumora.x64.msi too.
#   --arch win32:    a 32-bit Windows (32-bit program only); it installs
#                    Lumora.Win32.msi.
set -euo pipefail
cd "$(dirname "$0")"
root=$PWD
demo=$root/build/demo
started=$(date +%s)

usage() { sed -n '/^# usage:/,/^[^#]/{/^#/s/^# \{0,1\}//p}' "$0"; }
arch=win64
bits=64
while [ $# -gt 0 ]; do
  case $1 in
    --arch) arch=${2:-}; shift 2 || shift ;;
    --arch=*) arch=${1#--arch=}; shift ;;
    --program) bits=${2:-}; shift 2 || shift ;;
    --program=*) bits=${1#--program=}; shift ;;
    -h|--help) usage; exit 0 ;;
    *) echo "unknown argument: $1" >&2; usage >&2; exit 2 ;;
  esac
done
case $arch in
  win64) suffix=.x64 ;;
  win32) suffix=.Win32 ;;
  *) echo "unknown architecture '$arch' (win64 or win32)" >&2; usage >&2; exit 2 ;;
esac
case $bits in
  64) toolchain=mingw-x86_64 build_dir=$demo/build64 ;;
  32) toolchain=mingw-i686 build_dir=$demo/build ;;
  *) echo "unknown program '$bits' (64 or 32)" >&2; usage >&2; exit 2 ;;
esac
if [ "$bits" = 64 ] && [ "$arch" = win32 ]; then
  echo "the 64-bit program does not run on a 32-bit Windows: use --program 32 with --arch win32" >&2; exit 2
fi

step() { printf '\n== [%3ds] %s\n' "$(( $(date +%s) - started ))" "$*"; }

step "Installing what is missing"
./scripts/install-deps.sh

if holder=$(ss -Hltnp 'sport = :80' 2>/dev/null) && [ -n "$holder" ]; then
  echo "Port 80 is in use; the demo's update server needs it. Stop that server and run again" >&2
  echo "(a system nginx installed with its default site: systemctl stop nginx):" >&2
  echo "$holder" >&2
  exit 1
fi

step "Demo signing key (minisign, without a password)"
mkdir -p "$demo/keys"
if [ ! -f "$demo/keys/demo.key" ]; then
  minisign -G -W -f -p "$demo/keys/demo.pub" -s "$demo/keys/demo.key" >/dev/null
fi
cat "$demo/keys/demo.pub"

step "Building the $bits-bit LumoraSetup.exe for the update server 127.0.0.1 and the demo key, refusing replayed files and resuming broken downloads (${build_dir#"$root/"})"
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake" \
  -DLUMORA_DEPS_DIR="$root/build/deps" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DLUMORA_UPDATE_HOST=127.0.0.1 -DLUMORA_UPDATE_PORT=80 -DLUMORA_SIGNATURE_FRESHNESS=ON -DLUMORA_DOWNLOAD_RESUME=ON \
  -DLUMORA_TRUSTED_KEY_FILE="$demo/keys/demo.pub" >"$demo/configure.log" \
  || { tail -n 30 "$demo/configure.log"; exit 1; }
cmake --build "$build_dir" --target LumoraSetup -j2 >"$demo/build.log" \
  || { tail -n 40 "$demo/build.log"; exit 1; }
program=$build_dir/setup/LumoraSetup.exe
file -b "$program"

step "Demo product packages (wixl): Lumora.Win32.msi and Lumora.x64.msi install Program Files\\Lumora Demo\\Lumora-demo.txt"
rm -rf "$demo/product" "$demo/packages" && mkdir -p "$demo/product" "$demo/packages"
cp setup/demo/LumoraDemo.wxs setup/demo/Lumora-demo.txt "$demo/product/"
# Both are published; the program asks for the one of the machine it finds.
(cd "$demo/product" && wixl -o "$demo/packages/Lumora.Win32.msi" LumoraDemo.wxs &&
  wixl -a x64 -D Platform=x64 -o "$demo/packages/Lumora.x64.msi" LumoraDemo.wxs)
ls -l "$demo/packages"

step "Publishing the update tree (tools/publish) into build/demo/www"
rm -rf "$demo/www"
python3 tools/publish/lumora_publish.py publish --packages "$demo/packages" --channel stable \
  --package-url http://127.0.0.1/Lumora/packages/ --number 1 --text "Lumora demo" \
  --secret-key "$demo/keys/demo.key" --out "$demo/www"

step "Serving it with nginx on 127.0.0.1:80"
nginx_dir=$demo/nginx
xvfb_started=
cleanup() {
  python3 scripts/lumora_nginx.py stop "$nginx_dir"
  if [ -n "$xvfb_started" ]; then ./scripts/xvfb.sh stop "$demo/xvfb"; fi
}
trap cleanup EXIT
# One left from an interrupted run stops first.
python3 scripts/lumora_nginx.py stop "$nginx_dir" && rm -rf "$nginx_dir"
python3 scripts/lumora_nginx.py start "$nginx_dir" --port 80 --root "$demo/www"

# Wine runs the 32-bit program only where this machine runs 32-bit x86 code,
# under WOW64 too; the 64-bit program runs on any x86-64 machine.
if [ "$bits" = 32 ] && ! reason=$(./scripts/wine-can-run.sh); then
  echo "Stopping before Wine: $reason"
  echo "The 32-bit program, the demo key and the update tree are ready in build/demo. Wine cannot run the"
  echo "32-bit program here; run ./run.sh without --program 32 to see the 64-bit program install, or"
  echo "scripts/vm32/run-suite.sh to run the 32-bit program's tests in the emulated machine."
  exit 1
fi

# One prefix per program and architecture; the 32-bit program's keep their
# earlier names. The 64-bit program's needs no 32-bit half (win64-only).
case $bits-$arch in
  32-win32) prefix_name=wineprefix prefix_arch=win32 ;;
  32-win64) prefix_name=wineprefix64 prefix_arch=win64 ;;
  64-win64) prefix_name=wineprefix-x64 prefix_arch=win64-only ;;
esac
step "Wine prefix build/demo/$prefix_name ($prefix_arch; the program asks for Lumora$suffix.msi)"
export WINEPREFIX=$demo/$prefix_name
unset WINEARCH
./scripts/wine-prefix.sh "$WINEPREFIX" "$prefix_arch"
# A fresh start each time: no package, log or product from an earlier run.
rm -rf "$WINEPREFIX/drive_c/Program Files"*"/Common Files/Varnex" "$WINEPREFIX/drive_c/Program Files"*"/Lumora Demo"
find "$WINEPREFIX/drive_c/users" -maxdepth 5 -name 'Lumora*' -path '*Temp*' -exec rm -f {} + 2>/dev/null || true

if [ -z "${DISPLAY:-}" ]; then
  ./scripts/xvfb.sh start "$demo/xvfb"
  xvfb_started=1
  export LUMORA_XVFB_DIR=$demo/xvfb
else
  # wine-run.sh runs on LUMORA_XVFB_DIR's display or headless; keep ours.
  mkdir -p "$demo/display" && echo "$DISPLAY" >"$demo/display/display"
  export LUMORA_XVFB_DIR=$demo/display
fi

step "Running the $bits-bit LumoraSetup.exe under Wine"
mkdir -p "$demo/run" && cp "$program" "$demo/run/LumoraSetup.exe"
set +e
timeout 300 ./scripts/wine-run.sh "$demo/run/LumoraSetup.exe"
exit_code=$?
set -e
# The installer runs on after the program; wait until the prefix is idle.
timeout 180 wineserver -w || true

step "What happened"
echo "Requests to the update server (nginx access log):"
sed 's/^/  /' "$nginx_dir/access.log"
# Either may find nothing (no Lumora Demo folder at all): that is reported
# below, not a failure of this script.
package=$(find "$WINEPREFIX/drive_c" -name "Lumora$suffix.msi" -not -path '*/windows/*' 2>/dev/null | head -n 1 || true)
# The product of the machine's architecture: an x64 one in the 64-bit Program Files.
product=$(find "$WINEPREFIX/drive_c/Program Files/Lumora Demo" -name Lumora-demo.txt 2>/dev/null | head -n 1 || true)
# Wine's own exit status is the low 8 bits of the Windows exit code.
case $exit_code in
  0) code=0 meaning="the installer was started" ;;
  199) code=1223 meaning="cancelled by the user" ;;
  67) code=1603 meaning="failed (the error box said why)" ;;
  255) code=-1 meaning="the dialog controller itself failed" ;;
  *) code=$exit_code meaning="unexpected (wine or timeout)" ;;
esac
echo "Exit code: $code ($meaning; wine's status $exit_code)"
if [ -n "$package" ]; then
  echo "Package stored at: $package"
  windows_path=${package#"$WINEPREFIX/drive_c/"}
  echo "  (in Windows terms: C:\\${windows_path//\//\\})"
  log=${package%.msi}.log
  [ -f "$log" ] && echo "Installer log: $log"
else
  echo "Package stored at: (not found)"
fi
if [ -n "$product" ]; then
  echo "Wine's msiexec installed the demo product: $product"
  echo "  content: $(cat "$product")"
else
  echo "The demo product was not installed."
fi
echo "Run time: $(( $(date +%s) - started )) s"
[ "$exit_code" -eq 0 ] && [ -n "$product" ]
