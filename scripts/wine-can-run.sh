#!/usr/bin/env bash
# Exits 0 when this machine can run Wine's 32-bit loader, non-zero (with the
# reason on stdout) when it cannot. Some virtual machines run 64-bit user code
# only (the kernel's IA-32 emulation is off): there every 32-bit program, and
# so every 32-bit Windows program under Wine, fails with "Exec format error",
# in a 32-bit prefix and under WOW64 alike.
loader=/usr/lib/wine/wine
if [ ! -x "$loader" ]; then
  echo "Wine's 32-bit loader $loader is missing (package wine32:i386)"; exit 1
fi
if ! out=$("$loader" --version 2>&1); then
  echo "this machine cannot run 32-bit x86 programs: $loader --version says: ${out##*: }"
  dmesg 2>/dev/null | grep -m1 -i -E 'ia-?32 emulation|32-bit emulation' | sed 's/^/  kernel: /'
  exit 1
fi
