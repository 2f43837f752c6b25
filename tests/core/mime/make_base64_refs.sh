#!/usr/bin/env bash
# Writes the reference files of the base64 file test into $1: data_N.bin of
# N deterministic bytes and data_N.b64, its coreutils encoding in lines of 72
# characters with CRLF line ends.
set -euo pipefail
out="$1"
mkdir -p "$out"
for size in 0 1 53 54 55 1619 1620 1621 1048576; do
  /usr/bin/python3 -c "import sys; sys.stdout.buffer.write(bytes((i * 131 + (i >> 7)) & 255 for i in range($size)))" \
    >"$out/data_$size.bin"
  base64 -w 72 "$out/data_$size.bin" | sed 's/$/\r/' >"$out/data_$size.b64"
done
