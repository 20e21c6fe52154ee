#!/usr/bin/env bash
# run-in-guest.sh [--timeout SECONDS] [--smp N] [--memory SIZE] [--] COMMAND...
# Runs COMMAND (its words joined by spaces and read by bash, as ssh does; in
# the current folder) inside a virtual x86-64
# machine emulated by qemu (TCG, no KVM needed) whose Debian kernel runs 32-bit
# code, for hosts whose kernel does not. The guest sees the host's own file
# system read-only, with its writes kept in guest memory, except this checkout,
# which it shares read-write: what COMMAND writes there stays. COMMAND's output
# is shown as it runs; the exit status is COMMAND's, 124 when it ran out of
# time, 125 when the guest failed to run it.
# Everything made lives under build/vm32 of the checkout (see build-guest.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
checkout=$(cd "$here/../.." && pwd)
out=$checkout/build/vm32

limit=3600 smp=2 memory=4G
while [ $# -gt 0 ]; do
  case $1 in
    --timeout) limit=$2; shift 2 ;;
    --smp) smp=$2; shift 2 ;;
    --memory) memory=$2; shift 2 ;;
    --) shift; break ;;
    -*) echo "run-in-guest.sh: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: run-in-guest.sh [--timeout SECONDS] [--smp N] [--memory SIZE] [--] COMMAND..." >&2; exit 2; }
command -v qemu-system-x86_64 >/dev/null ||
  { echo "run-in-guest.sh: qemu-system-x86_64 is missing (package qemu-system-x86)" >&2; exit 125; }

"$here/build-guest.sh" "$out" >/dev/null

# One guest at a time uses the run folder.
run=$out/run
mkdir -p "$run"
exec 9>"$out/run.lock"
flock -n 9 || { echo "run-in-guest.sh: another guest is running from $out" >&2; exit 125; }
rm -f "$run/status" "$run/output.log" "$run/console.log"
: > "$run/output.log"

# The job: COMMAND, in this folder, with this PATH, bounded in time.
{
  echo '#!/bin/bash'
  printf 'cd %q || exit 125\n' "$PWD"
  printf 'export PATH=%q HOME=/root LANG=%q TERM=dumb\n' "$PATH" "${LANG:-C.UTF-8}"
  # Wine starts about twelve times slower here: a new prefix needs far more
  # than the bounds made for a real processor.
  printf 'export LUMORA_WINE_TIME_FACTOR=%q\n' "${LUMORA_WINE_TIME_FACTOR:-6}"
  printf 'timeout -k 20 %d bash -c %q vm32-job' "$limit" "$*"
  printf ' >%q 2>&1 </dev/null\n' "$run/output.log"
  printf 'echo $? > %q\n' "$run/status"
} > "$run/job.sh"

started=$(date +%s.%N)
# The host's clock bounds the guest too: its boot, the job, and its power-off.
# SMAP is off: qemu 7.2 faults on the iret of 32-bit user code with it, and
# the guest kernel then kills every 32-bit Wine process.
timeout -k 10 $((limit + 300)) nice -n 5 qemu-system-x86_64 \
  -accel tcg,thread=multi -cpu max,smap=off -smp "$smp" -m "$memory" \
  -nodefaults -no-user-config -display none -no-reboot \
  -kernel "$out/vmlinuz" -initrd "$out/initramfs.gz" \
  -append "console=ttyS0 quiet panic=-1 vm32_share=$checkout vm32_job=$run/job.sh" \
  -serial "file:$run/console.log" \
  -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
  -virtfs "local,path=$checkout,mount_tag=checkout,security_model=none,multidevs=remap" &
qemu=$!
# Interrupted, this script takes the guest with it.
trap 'kill $qemu 2>/dev/null || true' EXIT
trap 'exit 130' INT TERM
tail -n +1 -f --pid=$qemu "$run/output.log" &
follower=$!
qemu_status=0
wait $qemu || qemu_status=$?
trap - EXIT
wait $follower 2>/dev/null || true
elapsed=$(echo "$(date +%s.%N) - $started" | bc 2>/dev/null || echo "?")

if [ ! -s "$run/status" ]; then
  echo "run-in-guest.sh: the guest did not finish the job (qemu exit $qemu_status); its console:" >&2
  tail -n 30 "$run/console.log" >&2
  exit 125
fi
status=$(cat "$run/status")
echo "run-in-guest.sh: exit $status, ${elapsed%.*} s in the guest (boot included)" >&2
exit "$status"
