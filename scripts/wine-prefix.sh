#!/usr/bin/env bash
# wine-prefix.sh PREFIX [win32|win64|win64-only]: creates (once) a Wine
# prefix for the tests under the build folder and applies the test settings to
# its registry every time. win32 (the default) is a 32-bit Windows; win64 a
# 64-bit Windows where the 32-bit programs run under WOW64; win64-only a
# 64-bit Windows for 64-bit programs alone (the win64 build), made and
# run with Wine's 64-bit loader so that it works where no 32-bit code can run.
# The prefix remembers its architecture in .lumora-ready; one made for another
# architecture is made again.
set -euo pipefail
prefix=${1:?usage: wine-prefix.sh PREFIX [win32|win64]}
arch=${2:-win32}
case $arch in
  win32|win64) wine=wine ;;
  # /usr/bin/wine would pick the 32-bit loader whenever wine32 is installed.
  win64-only) wine=/usr/lib/wine/wine64 ;;
  *) echo "wine-prefix.sh: unknown architecture '$arch' (win32, win64 or win64-only)" >&2; exit 2 ;;
esac
export WINEPREFIX=$prefix WINEARCH=${arch%-only} WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
unset DISPLAY

ready=$prefix/.lumora-ready

# The system binaries of the prefixes under the project's build folder are
# one file each (they take 0.6 to 1.3 GiB per prefix).
share_system_files() {
  local build
  build=$(cd "$(dirname "$0")/.." && pwd)/build
  case $(realpath -m "$prefix") in
    "$build"/*) python3 "$(dirname "$0")/share-prefix-files.py" "$prefix" "$build" ;;
  esac
}

made=
# Wine's start-up bounds, scaled where everything runs slower (the emulated
# guest of scripts/vm32 sets LUMORA_WINE_TIME_FACTOR).
factor=${LUMORA_WINE_TIME_FACTOR:-1}
if [ -f "$ready" ]; then
  # A prefix made before the architecture was recorded is a 32-bit one.
  made=$(cat "$ready"); made=${made:-win32}
fi
if [ "$made" != "$arch" ]; then
  rm -rf "$prefix"
  # Wine makes the prefix folder itself, but not its parents.
  mkdir -p "$(dirname "$prefix")"
  log=$(dirname "$prefix")/wineboot-$(basename "$prefix").log
  started=$(date +%s)
  if ! timeout $((240 * factor)) "$wine" wineboot.exe -i >"$log" 2>&1 || ! timeout $((60 * factor)) wineserver -w; then
    echo "wineboot failed for $prefix:"; tail -n 20 "$log"; exit 1
  fi
  # Without a working 32-bit Wine (wine32), or on a kernel that runs no
  # 32-bit code, a 64-bit prefix comes out without its 32-bit half.
  if [ "$arch" = win64 ] && [ ! -f "$prefix/drive_c/windows/syswow64/kernel32.dll" ]; then
    echo "the 64-bit prefix $prefix has no 32-bit system (syswow64): is wine32 installed, and can this machine run 32-bit programs?"
    tail -n 20 "$log"; rm -rf "$prefix"; exit 1
  fi
  echo "$arch prefix made in $(( $(date +%s) - started )) s: $prefix"
  echo "$arch" > "$ready"
  share_system_files
fi

# No crash may wait for a debugger: Wine's automatic debugger is turned off.
# A 64-bit Windows keeps this setting once per registry view; the 32-bit
# programs read the one under Wow6432Node.
settings=$(mktemp --suffix=.reg)
trap 'rm -f "$settings"' EXIT
{
  echo 'REGEDIT4'
  aedebug_keys=('HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\AeDebug')
  if [ "$arch" != win32 ]; then
    aedebug_keys+=('HKEY_LOCAL_MACHINE\Software\Wow6432Node\Microsoft\Windows NT\CurrentVersion\AeDebug')
  fi
  for key in "${aedebug_keys[@]}"; do
    printf '\n[%s]\n"Auto"="0"\n"Debugger"=-\n' "$key"
  done
  printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\n"ShowCrashDialog"=dword:00000000\n'
} > "$settings"
timeout $((60 * factor)) "$wine" regedit.exe /S "$("$wine" winepath.exe -w "$settings" 2>/dev/null)"
timeout $((60 * factor)) wineserver -w
