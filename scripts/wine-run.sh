#!/usr/bin/env bash
# Runs a Windows program under 32-bit Wine in the test prefix ($WINEPREFIX,
# made by wine-prefix.sh). Without LUMORA_XVFB_DIR it runs headless; with it,
# on the display of the Xvfb that xvfb.sh started there.
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
export WINEPREFIX WINEARCH=win32 WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=,winemenubuilder.exe=d}
if [ -n "${LUMORA_XVFB_DIR:-}" ]; then
  export DISPLAY=$(cat "$LUMORA_XVFB_DIR/display")
else
  unset DISPLAY
fi
exec wine "$@"
