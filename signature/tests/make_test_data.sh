#!/usr/bin/env bash
# Makes the signature tests' data with the minisign program: two key pairs,
# a content file signed prehashed, legacy and by the other key, and an empty
# file with its signature. Everything stays in the folder given.
set -euo pipefail
dir=${1:?usage: make_test_data.sh DIR}
rm -rf "$dir"; mkdir -p "$dir"; cd "$dir"

minisign -G -W -p trusted.pub -s trusted.key >/dev/null
minisign -G -W -p other.pub -s other.key >/dev/null

head -c 100000 /dev/urandom > content.bin
: > empty.bin
minisign -S -s trusted.key -m content.bin -x content.bin.minisig -t "release 1" >/dev/null
minisign -S -s trusted.key -m empty.bin -x empty.bin.minisig >/dev/null
minisign -S -l -s trusted.key -m content.bin -x legacy.minisig >/dev/null
minisign -S -s other.key -m content.bin -x other.minisig >/dev/null
