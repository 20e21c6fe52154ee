#!/usr/bin/env bash
# The update server of the update tests: nginx on 127.0.0.1 serving a tree
# made by the publishing tool plus the files of the signed-download cases.
#
#   update_server.sh start DIR PORT SECRET_KEY   lays out DIR/www, starts nginx
#   update_server.sh stop DIR                    stops it (bounded waits)
#
# The access log DIR/access.log has one line per request
# (scripts/lumora_nginx.py says how).
set -euo pipefail
command=${1:?usage: update_server.sh start DIR PORT SECRET_KEY | stop DIR}
dir=${2:?}
here=$(cd "$(dirname "$0")" && pwd)
publish=$here/../../tools/publish/lumora_publish.py
nginx=$here/../../scripts/lumora_nginx.py

sign() {  # sign KEY FILE [minisign options]: a prehashed signature beside FILE
  local key=$1 file=$2; shift 2
  minisign -S -s "$key" -m "$file" "$@" >/dev/null
}

make_download_cases() {  # the files of the signed-download tests, in www/dl
  local key=$1 dl=$dir/www/dl
  mkdir -p "$dl" "$dir/www/nolength"
  minisign -G -W -f -p "$dir/other.pub" -s "$dir/other.key" >/dev/null
  head -c 300000 /dev/urandom > "$dl/good.bin"
  sign "$key" "$dl/good.bin"
  head -c 1048576 /dev/urandom > "$dl/big.bin"
  sign "$key" "$dl/big.bin"
  : > "$dl/empty.bin"
  sign "$key" "$dl/empty.bin"

  local variant
  for variant in legacy other crlf noisy comment-only blank-comment altered-trusted flipped truncated extra \
                 nocontent huge-signature; do
    cp "$dl/good.bin" "$dl/$variant.bin"
  done
  sign "$key" "$dl/legacy.bin" -l
  sign "$dir/other.key" "$dl/other.bin"
  sed 's/$/\r/' "$dl/good.bin.minisig" > "$dl/crlf.bin.minisig"
  awk 'NR == 2 { gsub(/.{10}/, "& *\t"); } { print }' "$dl/good.bin.minisig" > "$dl/noisy.bin.minisig"
  head -n 1 "$dl/good.bin.minisig" > "$dl/comment-only.bin.minisig"
  sed '1s/^/ /' "$dl/good.bin.minisig" > "$dl/blank-comment.bin.minisig"
  sed '3s/.*/trusted comment: not what was signed/' "$dl/good.bin.minisig" > "$dl/altered-trusted.bin.minisig"
  for variant in flipped truncated extra nocontent; do cp "$dl/good.bin.minisig" "$dl/$variant.bin.minisig"; done
  python3 - "$dl/flipped.bin" <<'PY'
import sys
with open(sys.argv[1], "r+b") as f:
    f.seek(1000); b = f.read(1); f.seek(1000); f.write(bytes([b[0] ^ 1]))
PY
  truncate -s -1 "$dl/truncated.bin"
  printf 'x' >> "$dl/extra.bin"
  rm "$dl/nocontent.bin"
  { cat "$dl/good.bin.minisig"; head -c 9000 /dev/zero | tr '\0' '#'; echo; } > "$dl/huge-signature.bin.minisig"
  cp "$dl/good.bin" "$dl/good.bin.minisig" "$dir/www/nolength/"
  cp "$dl/good.bin" "$dl/nosig.bin"

  # Descriptors beyond what a descriptor may be.
  head -c $((1024 * 1024 + 1)) /dev/zero | tr '\0' '\n' > "$dl/huge-descriptor.txt"
  sign "$key" "$dl/huge-descriptor.txt"
}

sign_at() {  # sign_at KEY FILE TIME: minisign's own comment layout with a chosen signing time
  local key=$1 file=$2 time=$3
  sign "$key" "$file" -t "$(printf 'timestamp:%s\tfile:%s\thashed' "$time" "$(basename "$file")")"
}

make_freshness_cases() {  # files of the signature freshness tests, in www/fresh
  local key=$1 fresh=$dir/www/fresh
  mkdir -p "$fresh"
  head -c 50000 /dev/urandom > "$fresh/new.bin"
  sign_at "$key" "$fresh/new.bin" 1800000000
  local variant
  for variant in swapped no-global no-comment crlf no-final-lf flipped custom bare-file; do
    cp "$fresh/new.bin" "$fresh/$variant.bin"
  done
  cp "$fresh/new.bin.minisig" "$fresh/swapped.bin.minisig"
  head -n 3 "$fresh/new.bin.minisig" > "$fresh/no-global.bin.minisig"
  head -n 2 "$fresh/new.bin.minisig" > "$fresh/no-comment.bin.minisig"
  sign_at "$key" "$fresh/crlf.bin" 1800000000
  sed -i 's/$/\r/' "$fresh/crlf.bin.minisig"
  sign_at "$key" "$fresh/no-final-lf.bin" 1800000000
  truncate -s -1 "$fresh/no-final-lf.bin.minisig"
  sign_at "$key" "$fresh/flipped.bin" 1800000000
  printf 'x' >> "$fresh/flipped.bin"
  sign "$key" "$fresh/custom.bin" -t "Lumora release 7"
  sign "$key" "$fresh/bare-file.bin" -t "file:bare-file.bin"
  cp "$fresh/new.bin" "$fresh/with space.bin"
  sign "$key" "$fresh/with space.bin"
}

make_update_tree() {  # published descriptors for the update client tests
  local key=$1 port=$2
  mkdir -p "$dir/packages"
  for arch in .Win32 .x64 .ARM64; do head -c 20000 /dev/urandom > "$dir/packages/Lumora$arch.msi"; done
  local channel
  for channel in stable beta čćž altered custom mixed ancient; do
    python3 "$publish" publish --packages "$dir/packages" --channel "$channel" \
      --package-url "http://127.0.0.1:$port/pkgs/$channel/" --number 1a2b --text "channel $channel" \
      --secret-key "$key" --out "$dir/www" >/dev/null
  done
  local kestrup=$dir/www/Lumora/Kestrup descriptor name
  # Channels for the freshness tests. altered: the trusted comments say
  # something else than was signed. custom: comments without fields. mixed:
  # the Win32 package is another validly signed file than the descriptor
  # lists. ancient: descriptors signed long ago. swap: beta's descriptors
  # served under the name of channel swap.
  for descriptor in "$kestrup"/*-altered.txt "$dir/www/Lumora/Kestrup-altered.txt"; do
    sed -i '3s/.*/trusted comment: timestamp:4000000000/' "$descriptor.minisig"
  done
  for descriptor in "$kestrup"/*-custom.txt "$dir/www/Lumora/Kestrup-custom.txt"; do
    sign "$key" "$descriptor" -t "Lumora test release"
  done
  head -c 20000 /dev/urandom > "$dir/www/pkgs/mixed/Lumora.Win32.msi"
  sign "$key" "$dir/www/pkgs/mixed/Lumora.Win32.msi"
  for descriptor in "$kestrup"/*-ancient.txt "$dir/www/Lumora/Kestrup-ancient.txt"; do
    sign_at "$key" "$descriptor" 1400000000
  done
  for descriptor in "$kestrup"/*-beta.txt "$dir/www/Lumora/Kestrup-beta.txt"; do
    name=${descriptor%-beta.txt}-swap.txt
    cp "$descriptor" "$name"; cp "$descriptor.minisig" "$name.minisig"
  done
  # replay: a newer descriptor to serve first and an older one signed for the
  # same name, both kept outside the served tree for the test to put in place.
  for time in 1700000000 1600000000; do
    python3 "$publish" publish --packages "$dir/packages" --channel replay \
      --package-url "http://127.0.0.1:$port/pkgs/stable/" --number 1a2b --text "replay $time" \
      --secret-key "$key" --out "$dir/variants/$time" >/dev/null
    for descriptor in "$dir/variants/$time"/Lumora/Kestrup/*.txt "$dir/variants/$time"/Lumora/Kestrup-replay.txt; do
      sign_at "$key" "$descriptor" "$time"
    done
  done
  cp -r "$dir/variants/1700000000/Lumora/." "$dir/www/Lumora/"
}

case $command in
start)
  port=${3:?}; key=${4:?}
  python3 "$nginx" stop "$dir"
  rm -rf "$dir"; mkdir -p "$dir/www" "$dir/tmp"
  make_update_tree "$key" "$port"
  make_download_cases "$key"
  make_freshness_cases "$key"
  python3 "$nginx" start "$dir" --port "$port" --root "$dir/www" --location nolength --location marker
  ;;
stop)
  python3 "$nginx" stop "$dir"
  ;;
*)
  echo "unknown command $command" >&2; exit 2
  ;;
esac
