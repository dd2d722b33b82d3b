#!/bin/sh
# make demo: encodes the bundled sample image with each compression type,
# decodes each file back, checks the pixels and prints the sizes.
set -eu
BUILD=${1:-build}
BIN=$(cd "$BUILD" && pwd)
SAMPLE=$(cd "$(dirname "$0")/../samples" && pwd)
OUT=$BUILD/demo
rm -rf "$OUT"
mkdir -p "$OUT"
cd "$OUT"

# The sample: a 24-bit 320 x 200 raw RGB picture and its FAL companion.
cp "$SAMPLE/sample.RGB" "$SAMPLE/sample.FAL" .
printf 'A bundled sample picture\nencoded by make demo\n' > sample.DOC

echo "== the library alone: a file written from C, shown with console_show_file"
"$BIN/bin/write_sample" library.ZF | sed 's/^/   /'

for mode in b "" 2; do
    case $mode in
        b) name=uncompressed ;;
        "") name=fast ;;
        2) name=optimizing ;;
    esac
    echo "== zfenc -m1 ${mode:+-$mode} -c  ->  $name.ZF"
    if ! "$BIN/bin/zfenc" sample "$name" -m1 ${mode:+-$mode} -c -nh </dev/null >"$name.enc.log" 2>&1; then
        echo "   not available yet: $(tail -1 "$name.enc.log")"
        continue
    fi
    "$BIN/bin/zfdec" "$name" "$name-back" </dev/null >"$name.dec.log" 2>&1
    if cmp -s sample.RGB "$name-back.RGB"; then same="pixels identical"; else same="PIXELS DIFFER"; fi
    printf '   %-13s %8d bytes  (raw %d bytes)  %s\n' "$name.ZF" "$(wc -c < "$name.ZF")" \
        "$(wc -c < sample.RGB)" "$same"
done

echo "== zfdec DJ505JM: the fast file as a grey DJP reduced to at most 160 x 100"
if [ -f fast.ZF ]; then
    "$BIN/bin/zfdec" DJ505JM fast grey.DJP -w160,100 </dev/null >/dev/null 2>&1
    printf '   grey.DJP %d bytes\n' "$(wc -c < grey.DJP)"
fi
echo "== header of fast.ZF (zfdec -i)"
[ -f fast.ZF ] && "$BIN/bin/zfdec" -i fast | sed 's/^/   /'
echo "== files are in $OUT"
