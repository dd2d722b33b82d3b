#!/bin/sh
# make demo: writes a sample ZEFA file through the library and shows it.
set -eu
BUILD=${1:-build}
OUT=$BUILD/demo
mkdir -p "$OUT"
echo "== writing $OUT/sample.ZF through the library (palette, comment, two uncompressed blocks)"
"$BUILD/examples/write_sample" "$OUT/sample.ZF"
echo "== $(wc -c < "$OUT/sample.ZF") bytes written"
