#!/usr/bin/env bash
# Publishes a tree with a fresh key pair, audits it clean, then breaks it in
# the ways a careless upload would and expects the audit to name each fault.
set -euo pipefail
publish=${1:?usage: publish_test.sh lumora_publish.py lumora_check WORKDIR}
checker=${2:?}
work=${3:?}
rm -rf "$work"; mkdir -p "$work/packages"; cd "$work"

minisign -G -W -p key.pub -s key.sec >/dev/null
minisign -G -W -p other.pub -s other.sec >/dev/null
for arch in .Win32 .x64 .ARM64; do head -c 5000 /dev/urandom > "packages/Lumora$arch.msi"; done

failures=0
expect() {  # expect NAME PATTERN: the last audit output holds PATTERN
  if grep -qF -- "$2" audit.txt; then echo "ok: $1"; else echo "FAILED: $1 (no '$2')"; cat audit.txt; failures=$((failures+1)); fi
}
audit() { python3 "$publish" check --tree tree --public-key key.pub --checker "$checker" "$@" > audit.txt || true; }

python3 "$publish" publish --packages packages --channel stable --channel 'beta,čć' \
  --package-url http://127.0.0.1:8080/pkgs/Lumora --number 1a2b --text "Lumora 5.14" \
  --secret-key key.sec --out tree > published.txt

# Every Windows version name plus the path without one, for each channel.
for name in win11 win10 win8_1 win8 win7sp1 win7; do
  test -f "tree/Lumora/Kestrup/$name-stable.txt.minisig"
  test -f "tree/Lumora/Kestrup/$name-čć.txt"
done
test -f tree/Lumora/Kestrup-beta.txt.minisig
test -f tree/pkgs/Lumora/Lumora.x64.msi.minisig
{
  printf '1A2B\nLumora 5.14\nhttp://127.0.0.1:8080/pkgs/Lumora\n'
  for arch in .ARM64 .Win32 .x64; do
    printf 'package Lumora%s.msi %s\n' "$arch" "$(b2sum -l 512 "packages/Lumora$arch.msi" | cut -d' ' -f1)"
  done
} | cmp - tree/Lumora/Kestrup/win10-stable.txt
grep -q "^trusted comment: timestamp:[0-9]*	file:win10-stable.txt	hashed$" tree/Lumora/Kestrup/win10-stable.txt.minisig
minisign -V -H -q -p key.pub -m tree/pkgs/Lumora/Lumora.ARM64.msi

audit --channel stable --channel beta
expect "clean tree" "0 problems"

audit --language .sl
expect "missing language package" "package pkgs/Lumora/Lumora.x64.sl.msi missing"

cp tree/pkgs/Lumora/Lumora.x64.msi saved.msi
printf 'x' >> tree/pkgs/Lumora/Lumora.x64.msi
audit
expect "extra byte" "pkgs/Lumora/Lumora.x64.msi: Invalid Minisign signature"
cp saved.msi tree/pkgs/Lumora/Lumora.x64.msi

# Another validly signed package in place of the one the descriptors list.
head -c 5000 /dev/urandom > tree/pkgs/Lumora/Lumora.x64.msi
minisign -S -s key.sec -m tree/pkgs/Lumora/Lumora.x64.msi >/dev/null
audit
expect "package not matching its line" "Lumora/Kestrup/win10-stable.txt: package pkgs/Lumora/Lumora.x64.msi does not match its package line"
cp saved.msi tree/pkgs/Lumora/Lumora.x64.msi
minisign -S -s key.sec -m tree/pkgs/Lumora/Lumora.x64.msi >/dev/null

# The ARM64 package's signature holds the comment signed for the x64 one.
cp tree/pkgs/Lumora/Lumora.x64.msi tree/pkgs/Lumora/Lumora.ARM64.msi
cp tree/pkgs/Lumora/Lumora.x64.msi.minisig tree/pkgs/Lumora/Lumora.ARM64.msi.minisig
audit
expect "signature for another file" "pkgs/Lumora/Lumora.ARM64.msi: Minisign signature is for another file"
sed -i '3s/$/ (edited)/' tree/pkgs/Lumora/Lumora.ARM64.msi.minisig
audit
expect "altered trusted comment" "pkgs/Lumora/Lumora.ARM64.msi: Invalid Minisign signature"

# A descriptor whose package lines are damaged or incomplete.
{ printf '1\ntext\nhttp://127.0.0.1:8080/pkgs/Lumora\n'; printf 'package Lumora.Win32.msi 12ab\n'; } \
  > tree/Lumora/Kestrup/win11-beta.txt
minisign -S -s key.sec -m tree/Lumora/Kestrup/win11-beta.txt >/dev/null
audit
expect "package line without hash" "Lumora/Kestrup/win11-beta.txt: package line of Lumora.Win32.msi has no BLAKE2b-512 of 128 hex digits"
expect "package not listed" "Lumora/Kestrup/win11-beta.txt: package pkgs/Lumora/Lumora.x64.msi not listed in the descriptor"

minisign -S -s other.sec -m tree/Lumora/Kestrup/win7-beta.txt >/dev/null
audit
expect "other key" "Lumora/Kestrup/win7-beta.txt: Untrusted Minisign key"

minisign -S -l -s key.sec -m tree/Lumora/Kestrup/win7-beta.txt >/dev/null
audit
expect "legacy signature" "Lumora/Kestrup/win7-beta.txt: Unsupported Minisign signature"

printf '1\ntext\nftp://host/dir/\n' > tree/Lumora/Kestrup/win8-beta.txt
minisign -S -s key.sec -m tree/Lumora/Kestrup/win8-beta.txt >/dev/null
printf '1\ntext\n/relative/only\n' > tree/Lumora/Kestrup/win8_1-beta.txt
minisign -S -s key.sec -m tree/Lumora/Kestrup/win8_1-beta.txt >/dev/null
printf '1\ntext\nhttp://host/no-final-line-feed' > tree/Lumora/Kestrup/win10-beta.txt
minisign -S -s key.sec -m tree/Lumora/Kestrup/win10-beta.txt >/dev/null
audit
expect "unsupported scheme" "Lumora/Kestrup/win8-beta.txt: Unrecognized scheme"
expect "relative URL" "Lumora/Kestrup/win8_1-beta.txt: Failed to parse URL"
expect "third line without line feed" "Lumora/Kestrup/win10-beta.txt: update URL unavailable"

rm tree/Lumora/Kestrup/win11-stable.txt tree/Lumora/Kestrup/win11-stable.txt.minisig tree/pkgs/Lumora/Lumora.Win32.msi.minisig
audit --channel stable
expect "missing descriptor" "Lumora/Kestrup/win11-stable.txt: descriptor missing for channel stable"
expect "unsigned package" "pkgs/Lumora/Lumora.Win32.msi: no .minisig beside it"

echo "$((18 - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
