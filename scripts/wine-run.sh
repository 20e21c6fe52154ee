#!/usr/bin/env bash
# Runs a Windows program under Wine in a test prefix ($WINEPREFIX, made by
# wine-prefix.sh). The architecture is $WINEARCH (win32 or win64) when set,
# else the one the prefix was made for; a win64-only prefix runs its 64-bit
# programs with Wine's 64-bit loader. Without LUMORA_XVFB_DIR it runs
# headless; with it, on the display of the Xvfb that xvfb.sh started there.
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
made=win32
if [ -s "$WINEPREFIX/.lumora-ready" ]; then
  made=$(cat "$WINEPREFIX/.lumora-ready")
fi
arch=${WINEARCH:-$made}
wine=wine
if [ "$made" = win64-only ] && [ "$arch" = win64 ]; then
  arch=win64-only
fi
case $arch in
  win32|win64) ;;
  # /usr/bin/wine would pick the 32-bit loader whenever wine32 is installed.
  win64-only) wine=/usr/lib/wine/wine64 ;;
  *) echo "wine-run.sh: unknown architecture '$arch' (win32, win64 or win64-only)" >&2; exit 2 ;;
esac
if [ -f "$WINEPREFIX/.lumora-ready" ] && [ "$arch" != "$made" ]; then
  echo "wine-run.sh: $WINEPREFIX is a $made prefix, not $arch" >&2; exit 2
fi
export WINEPREFIX WINEARCH=${arch%-only} WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=,winemenubuilder.exe=d}
if [ -n "${LUMORA_XVFB_DIR:-}" ]; then
  export DISPLAY=$(cat "$LUMORA_XVFB_DIR/display")
else
  unset DISPLAY
fi
exec "$wine" "$@"
