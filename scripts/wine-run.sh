#!/usr/bin/env bash
# Runs a Windows program under Wine in a test prefix ($WINEPREFIX, made by
# wine-prefix.sh). The architecture is $WINEARCH (win32 or win64) when set,
# else the one the prefix was made for. Without LUMORA_XVFB_DIR it runs
# headless; with it, on the display of the Xvfb that xvfb.sh started there.
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
made=win32
if [ -s "$WINEPREFIX/.lumora-ready" ]; then
  made=$(cat "$WINEPREFIX/.lumora-ready")
fi
arch=${WINEARCH:-$made}
case $arch in
  win32|win64) ;;
  *) echo "wine-run.sh: unknown architecture '$arch' (win32 or win64)" >&2; exit 2 ;;
esac
if [ -f "$WINEPREFIX/.lumora-ready" ] && [ "$arch" != "$made" ]; then
  echo "wine-run.sh: $WINEPREFIX is a $made prefix, not $arch" >&2; exit 2
fi
export WINEPREFIX WINEARCH=$arch WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=,winemenubuilder.exe=d}
if [ -n "${LUMORA_XVFB_DIR:-}" ]; then
  export DISPLAY=$(cat "$LUMORA_XVFB_DIR/display")
else
  unset DISPLAY
fi
exec wine "$@"
