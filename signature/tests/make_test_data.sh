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

# Signature files around the trusted comment, each judged by the minisign
# program: variants/NAME.minisig beside a copy of content.bin named NAME, and
# variants/NAME.verdict holding "accept" or "reject" as minisign -V decided.
minisign -S -s trusted.key -m content.bin -x default.minisig >/dev/null
mkdir variants
variant() {  # variant NAME: the signature file comes on standard input
  cat > "variants/$1.minisig"
  cp content.bin "variants/$1"
  if minisign -V -q -p trusted.pub -m "variants/$1" -x "variants/$1.minisig" >/dev/null 2>&1; then
    echo accept > "variants/$1.verdict"
  else
    echo reject > "variants/$1.verdict"
  fi
}
variant as_signed < default.minisig
variant custom_comment < content.bin.minisig
sed 's/$/\r/' default.minisig | variant crlf
printf '%s' "$(cat default.minisig)" | variant no_final_line_feed
sed '3s/$/\r\r/' default.minisig | variant comment_ends_in_two_cr
sed '3s/$/ /' default.minisig | variant comment_with_trailing_blank
sed '3s/timestamp:1/timestamp:2/' default.minisig | variant altered_timestamp
sed '3s/file:content.bin/file:other.bin/' default.minisig | variant altered_file
sed '3s/trusted comment: /trusted comment:/' default.minisig | variant prefix_without_blank
sed '3s/trusted comment: /Trusted comment: /' default.minisig | variant prefix_capital
sed '2a\\' default.minisig | variant blank_line_before_comment
head -n 3 default.minisig | variant no_global_signature
head -n 2 default.minisig | variant no_trusted_comment
sed '4s/==$/=/' default.minisig | variant global_short_padding
sed '4s/==$/==AAAA/' default.minisig | variant global_too_long
sed '4s/^\(.\{10\}\)/\1 /' default.minisig | variant global_with_blank
sed '4s/^./A/;4s/^AA/BA/' default.minisig | variant global_first_byte_changed
{ sed -n 1,2p default.minisig; sed -n 3,4p empty.bin.minisig; } | variant comment_of_another_signature
{ cat default.minisig; echo "extra line"; } | variant extra_line_after
minisign -S -s other.key -m content.bin -x other-default.minisig >/dev/null
{ sed -n 1,3p default.minisig; sed -n 4p other-default.minisig; } | variant global_by_other_key
