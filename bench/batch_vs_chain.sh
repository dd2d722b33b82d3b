#!/bin/sh
# bench/batch_vs_chain.sh - a batch of 24 ZEFA files to PNG: `zfconv -d`
# (default jobs) against zfdec then rawtoppm | pnmtopng run two at a time
# (xargs -P 2), timed with hyperfine (median of RUNS), with the CPU time
# of each (user + system, from GNU time) and the PNG bytes in total.  The
# 24 files are the real pictures of bench/real_pictures.sh (the first 12
# by name, each in fast and optimizing coding).
set -eu
cd "$(dirname "$0")/.."
ROOT=$(pwd)
RUNS=${RUNS:-3}
sh scripts/install-deps.sh
for p in hyperfine netpbm time; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || {
        SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
        DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq -o DPkg::Lock::Timeout=300 \
            --no-install-recommends "$p" </dev/null >/dev/null
    }
done
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-release --target zfconv zfdec >/dev/null
BIN=$ROOT/build-release/bin
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
sh bench/real_pictures.sh "$WORK/real"
mkdir "$WORK/zf" "$WORK/conv" "$WORK/chain"
for f in $(ls "$WORK"/real/*.png | head -12); do
    b=$(basename "$f" .png)
    "$BIN/zfconv" -q "$f" "$WORK/zf/$b-sf.ZF"
    "$BIN/zfconv" -q --coding=optimizing "$f" "$WORK/zf/$b-ss.ZF"
done
cat >"$WORK/chain.sh" <<EOS
#!/bin/sh
# one file through the chain: its size from the name (NAME-WxH-c.ZF)
f=\$1; b=\$(basename "\$f" .ZF)
wh=\$(echo "\$b" | sed 's/.*-\([0-9]*\)x\([0-9]*\)-[a-z]*\$/\1 \2/')
"$BIN/zfdec" "\$f" "$WORK/chain/\$b.RGB" >/dev/null 2>&1
rawtoppm \$wh "$WORK/chain/\$b.RGB" 2>/dev/null | pnmtopng >"$WORK/chain/\$b.png" 2>/dev/null
EOS
CONV="$BIN/zfconv -q -d $WORK/conv $(echo "$WORK"/zf/*.ZF)" # hyperfine -N expands no names
CHAIN="sh -c 'ls $WORK/zf/*.ZF | xargs -P 2 -n 1 sh $WORK/chain.sh'"
hyperfine -N --warmup 1 --runs "$RUNS" --style none --export-json "$WORK/t.json" \
    -n zfconv "$CONV" -n chain "$CHAIN" >/dev/null 2>&1
cpu() { /usr/bin/time -f '%U %S' sh -c "$1" 2>&1 >/dev/null | tail -1 | awk '{print $1 + $2}'; }
c1=$(cpu "$CONV")
c2=$(cpu "ls $WORK/zf/*.ZF | xargs -P 2 -n 1 sh $WORK/chain.sh")
rm -f "$WORK"/chain/*.RGB "$WORK"/chain/*.FAL
s1=$(cat "$WORK"/conv/*.png | wc -c)
s2=$(cat "$WORK"/chain/*.png | wc -c)
python3 - "$WORK/t.json" "$c1" "$c2" "$s1" "$s2" <<'EOP'
import json, sys
r = {x["command"]: x["median"] for x in json.load(open(sys.argv[1]))["results"]}
c1, c2, s1, s2 = map(float, sys.argv[2:])
print("| 24 files | time | CPU time | PNG bytes |")
print("|---|---|---|---|")
print(f"| zfconv -d | {r['zfconv']:.2f} s | {c1:.2f} s | {s1:.0f} |")
print(f"| chain, xargs -P 2 | {r['chain']:.2f} s | {c2:.2f} s | {s2:.0f} |")
print(f"| ratio | x{r['chain'] / r['zfconv']:.2f} | x{c2 / c1:.2f} | x{s1 / s2:.4f} |")
EOP
