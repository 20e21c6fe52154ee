#!/usr/bin/env bash
# build-guest.sh [OUT]: makes the guest that run-in-guest.sh boots, under OUT
# (default: build/vm32 of the checkout): a Debian kernel, unpacked from its
# package without installing it, and a small initramfs (static busybox, the
# kernel modules that mount the host's file system over virtio-9p, and init).
# Nothing outside OUT changes. The kernel is fetched once; the initramfs,
# which takes a second, is made every time, so that it follows guest-init.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/../../build/vm32}
mkdir -p "$out"; out=$(cd "$out" && pwd)

# The kernel: the version Debian's linux-image-amd64 points at.
if [ ! -f "$out/vmlinuz" ] || [ ! -d "$out/modules" ]; then
  pkg=$(apt-cache depends linux-image-amd64 | sed -n 's/^ *Depends: \(linux-image-[0-9].*-amd64\)$/\1/p' | head -n1)
  [ -n "$pkg" ] || { echo "build-guest.sh: apt-cache knows no linux-image-amd64 (run apt-get update)" >&2; exit 1; }
  rm -rf "$out/dl" "$out/kernel" "$out/modules"; mkdir -p "$out/dl"
  (cd "$out/dl" && apt-get -q -o APT::Sandbox::User=root download "$pkg")
  dpkg-deb -x "$out"/dl/"$pkg"_*.deb "$out/kernel"
  grep -qx 'CONFIG_IA32_EMULATION=y' "$out"/kernel/boot/config-* ||
    { echo "build-guest.sh: $pkg runs no 32-bit code" >&2; exit 1; }
  cp "$out"/kernel/boot/vmlinuz-* "$out/vmlinuz"
  mv "$out"/kernel/lib/modules/* "$out/modules"
  rm -rf "$out/dl" "$out/kernel"
fi

# The modules init loads, each after those it depends on (read from the
# module's own "depends=" entry, as this host has no modinfo).
wanted=(virtio_pci 9pnet_virtio 9p overlay)
declare -A path=() loaded=()
while IFS= read -r ko; do name=${ko##*/}; path[${name%.ko}]=$ko; done < <(find "$out/modules" -name '*.ko')
order=()
add_module() {
  local name=${1//-/_} dep
  [ -n "${loaded[$name]:-}" ] && return 0
  local ko=${path[$name]:-${path[${1//_/-}]:-}}
  [ -n "$ko" ] || { echo "build-guest.sh: no kernel module $1" >&2; exit 1; }
  loaded[$name]=1
  for dep in $(tr '\0' '\n' < "$ko" | sed -n 's/^depends=//p' | tr ',' ' '); do add_module "$dep"; done
  order+=("$ko")
}
for m in "${wanted[@]}"; do add_module "$m"; done

busybox=/bin/busybox
file -L "$busybox" | grep -q 'statically linked' ||
  { echo "build-guest.sh: $busybox is not static (package busybox-static)" >&2; exit 1; }

stage=$(mktemp -d "$out/initramfs.XXXXXX")
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage"/{bin,dev,proc,sys,modules,lower,rw,newroot}
cp "$busybox" "$stage/bin/busybox"
ln -s busybox "$stage/bin/sh"
for ko in "${order[@]}"; do cp "$ko" "$stage/modules/"; basename "$ko" >> "$stage/modules/order"; done
install -m 755 "$here/guest-init" "$stage/init"
(cd "$stage" && find . | LC_ALL=C sort | busybox cpio -o -H newc -R 0:0 2>/dev/null | gzip -1) > "$out/initramfs.gz.tmp"
mv "$out/initramfs.gz.tmp" "$out/initramfs.gz"
echo "guest ready: $out/vmlinuz, $out/initramfs.gz (modules: $(tr '\n' ' ' < "$stage/modules/order"))"
