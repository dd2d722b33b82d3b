#!/bin/sh
# bench/large_images.sh [BUILD] - peak memory of zfenc and zfdec on the
# widest block the format holds (32759 pixels) and on a very tall one
# (32767 lines), for every coding.  Coding streams line by line, so peak
# memory follows the width, not the height.  Needs GNU time (Debian: time).
set -eu
BUILD=${1:-build-release}
BIN=$(cd "$BUILD/bin" && pwd)
command -v /usr/bin/time >/dev/null || { echo "needs /usr/bin/time (apt-get install time)"; exit 1; }
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"

# raw RGB pictures with FAL companions: gradients with some noise
make_picture() { # name width height
    python3 - "$1" "$2" "$3" <<'PY'
import sys, random
name, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
random.seed(1)
with open(name + ".RGB", "wb") as f:
    for y in range(h):
        row = bytearray(3 * w)
        for x in range(0, w):
            n = random.randrange(8) if (x ^ y) & 15 == 0 else 0
            row[3 * x:3 * x + 3] = bytes(((x + n) & 255, (y + n) & 255, ((x + y) >> 3) & 255))
        f.write(row)
with open(name + ".FAL", "w") as f:
    f.write("F_ALL(V1.00)\n%5d%6d%6d%6d\n   1.00   255   255   255   0\n" % (w, h, 0, 0))
PY
}

peak() { # command... -> peak resident set in MiB
    /usr/bin/time -f "%M" -o peak.txt "$@" </dev/null >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    awk '{ printf "%.1f", $1 / 1024 }' peak.txt
}

echo "| picture | raw RGB | coding | zfenc peak MiB | zfdec peak MiB |"
echo "|---|---|---|---|---|"
for shape in "wide 32759 64" "tall 640 32767" "small 640 64"; do
    set -- $shape
    make_picture "$1" "$2" "$3"
    for opt in -b "" -2; do
        coding=${opt:-(fast)}
        enc=$(peak "$BIN/zfenc" "$1" out -m1 -nh $opt)
        dec=$(peak "$BIN/zfdec" out back.RGB)
        cmp -s "$1.RGB" back.RGB || { echo "round trip differs: $1 $coding" >&2; exit 1; }
        echo "| $1 $2 x $3 | $(( $2 * $3 * 3 / 1048576 )) MiB | $coding | $enc | $dec |"
    done
    rm -f "$1.RGB" "$1.FAL" out.ZF back.RGB back.FAL
done
