#!/usr/bin/env bash
# Brings a Debian 12 machine to everything the build and the tests need.
# Idempotent: on a ready machine it checks and returns within seconds.
#
# What it changes on the machine: it enables the i386 architecture in dpkg and
# installs Debian packages with apt-get. Everything else (the libsodium and
# googletest builds, the apt lists of the one source fetch) stays under the
# build folder given as $1 (default: build/deps).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
deps=${1:-$root/build/deps}
mkdir -p "$deps"

packages=(
  build-essential cmake ninja-build pkg-config dpkg-dev autoconf automake libtool clang llvm
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  libz-mingw-w64-dev
  wine wine32:i386 wine64 xvfb xauth x11-utils imagemagick
  googletest
  nginx-light minisign msitools wixl openssl python3 ca-certificates
  libsodium-dev zlib1g-dev libclang-rt-14-dev clang-format binutils file iproute2
  postgresql python3-psycopg2 chromium
  qemu-system-x86 busybox-static
)

have_all_packages() {
  local status
  status=$(dpkg-query -W -f='${Status}\n' "${packages[@]}" 2>/dev/null) || return 1
  [ "$(grep -c '^install ok installed$' <<<"$status")" -eq "${#packages[@]}" ]
}

export DEBIAN_FRONTEND=noninteractive
if ! have_all_packages; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${packages[@]}"
fi

# The cross compiler must use the posix thread model (std::thread, std::mutex).
for tool in {i686,x86_64}-w64-mingw32-{gcc,g++}; do
  if [ "$(readlink -f "$(command -v $tool)")" != "$(readlink -f /usr/bin/$tool-posix)" ]; then
    update-alternatives --set $tool /usr/bin/$tool-posix
  fi
done

# libsodium for i686-w64-mingw32 (the program) and x86_64-w64-mingw32 (the
# 64-bit program, the win64 build, for machines that run no 32-bit
# code), cross-built from Debian's source package into libsodium-<cpu>.
# -mxsave lets configure find the _xgetbv intrinsic; without it libsodium cannot
# see that the system saves AVX state and never runs its AVX2 BLAKE2b code
# (a build without it lacks the stamp file and is made again).
build_sodium_for() {
  local cpu=$1
  local sodium_prefix=$deps/libsodium-$cpu
  if [ -f "$sodium_prefix/lib/libsodium.a" ] && [ -f "$sodium_prefix/avx-detection" ]; then
    return 0
  fi
  rm -rf "$sodium_prefix"
  local src=$deps/libsodium-src-$cpu
  rm -rf "$src"; mkdir -p "$src/lists/partial"
  # A sources list of our own, used for this one fetch only, so no deb-src line
  # is added to the machine's apt configuration.
  cat > "$src/deb-src.list" <<'LIST'
deb-src http://deb.debian.org/debian bookworm main
LIST
  local apt_src=(-o "Dir::Etc::SourceList=$src/deb-src.list" -o "Dir::Etc::SourceParts=/nonexistent"
                 -o "Dir::State::Lists=$src/lists" -o "APT::Sandbox::User=root")
  echo "Cross-building libsodium for $cpu from Debian's source package (log: $src/build.log)"
  if ! (
    apt-get "${apt_src[@]}" update -q &&
    (cd "$src" && apt-get "${apt_src[@]}" source --download-only libsodium && dpkg-source -x libsodium_*.dsc tree) &&
    cd "$src/tree" && autoreconf -fi &&
    ./configure --host=$cpu-w64-mingw32 --prefix="$sodium_prefix" --disable-shared --enable-static \
      --with-pic=no CFLAGS="-O3 -fno-stack-protector -mxsave" &&
    make -j"$(nproc)" && make install && touch "$sodium_prefix/avx-detection"
  ) >"$src/build.log" 2>&1; then
    tail -n 40 "$src/build.log"; echo "libsodium build for $cpu failed (log: $src/build.log)" >&2; exit 1
  fi
  rm -rf "$src"
}
build_sodium_for i686
build_sodium_for x86_64
