#!/usr/bin/env bash
# Creates (once) the 32-bit Wine prefix the tests run in, under the build
# folder, and applies the test settings to its registry every time.
set -euo pipefail
prefix=${1:?usage: wine-prefix.sh PREFIX}
export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
unset DISPLAY

if [ ! -f "$prefix/.lumora-ready" ]; then
  rm -rf "$prefix"
  # Wine makes the prefix folder itself, but not its parents.
  mkdir -p "$(dirname "$prefix")"
  log=$(dirname "$prefix")/wineboot.log
  if ! timeout 240 wineboot -i >"$log" 2>&1 || ! timeout 60 wineserver -w; then
    echo "wineboot failed for $prefix:"; tail -n 20 "$log"; exit 1
  fi
  touch "$prefix/.lumora-ready"
fi

# No crash may wait for a debugger: Wine's automatic debugger is turned off.
settings=$(mktemp --suffix=.reg)
trap 'rm -f "$settings"' EXIT
cat > "$settings" <<'REG'
REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\AeDebug]
"Auto"="0"
"Debugger"=-

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000
REG
timeout 60 wine regedit /S "$(winepath -w "$settings" 2>/dev/null)"
timeout 60 wineserver -w
