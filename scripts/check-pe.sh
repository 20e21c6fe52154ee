#!/usr/bin/env bash
# check-pe.sh console|gui EXE [i686|x86_64]: the executable is PE32 for i386
# (i686, the default) or PE32+ for x86-64 (x86_64), of the given subsystem,
# and imports no DLL beyond the system's (no libstdc++, libgcc or winpthread
# DLL, which a static link must have folded in).
set -euo pipefail
usage="usage: check-pe.sh console|gui EXE [i686|x86_64]"
kind=${1:?$usage}
exe=${2:?$usage}
cpu=${3:-i686}
description=$(file -b "$exe")
case $cpu in
  i686) format="PE32 executable" machine="Intel 80386" ;;
  x86_64) format="PE32+ executable" machine="x86-64" ;;
  *) echo "unknown processor $cpu" >&2; exit 2 ;;
esac
case $kind in
  gui) want="$format (GUI) $machine" ;;
  console) want="$format (console) $machine" ;;
  *) echo "unknown kind $kind" >&2; exit 2 ;;
esac
[[ $description == "$want"* ]] || { echo "$exe: '$description', wanted '$want'"; exit 1; }
system_dlls=' kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ole32.dll oleaut32.dll
  comctl32.dll winhttp.dll dbghelp.dll msvcrt.dll shlwapi.dll version.dll crypt32.dll ws2_32.dll
  bcrypt.dll ntdll.dll uxtheme.dll comdlg32.dll '
status=0
while read -r dll; do
  lower=${dll,,}
  if ! grep -qFw -- "$lower" <<<"$system_dlls"; then
    echo "$exe imports $dll, which is not a system DLL"; status=1
  fi
done < <($cpu-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')
[ $status -eq 0 ] && echo "$exe: $description; imports: $($cpu-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr '\n' ' ')"
exit $status
