#!/bin/sh
# bench/batch_scaling.sh - how zfconv's batch (-d) scales from 1 to nproc
# jobs on a folder of real pictures (bench/real_pictures.sh, each picture
# twice): PNG to ZEFA (fast and optimizing coding) and ZEFA to PNG, timed
# with hyperfine (median of RUNS runs after a warm-up).  A run of J jobs is
# held to J cores (taskset), since one job alone already puts the private
# chunk of a ZEFA file's PNG on a second thread.  Prints a table of seconds
# and the speed-up over one core.
#
#   bench/batch_scaling.sh          RUNS=5 by default; JOBS="1 2 4" to choose
set -eu
cd "$(dirname "$0")/.."
ROOT=$(pwd)
RUNS=${RUNS:-5}
JOBS=${JOBS:-$(seq 1 "$(nproc)")}

if ! command -v hyperfine >/dev/null; then
    SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    $SUDO apt-get update -qq -o DPkg::Lock::Timeout=300 </dev/null
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq -o DPkg::Lock::Timeout=300 \
        --no-install-recommends hyperfine </dev/null >/dev/null
fi
sh scripts/install-deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DZEFA_TESTS=OFF >/dev/null
cmake --build build-release --target zfconv >/dev/null
ZFCONV=$ROOT/build-release/bin/zfconv

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
sh bench/real_pictures.sh "$WORK/real"
mkdir "$WORK/png" "$WORK/zf" "$WORK/zfss" "$WORK/out"
for f in "$WORK"/real/*.png; do
    b=$(basename "$f" .png)
    cp "$f" "$WORK/png/$b.png"
    cp "$f" "$WORK/png/$b-again.png"
done
"$ZFCONV" -q -d "$WORK/zf" "$WORK"/png/*.png
"$ZFCONV" -q --coding=optimizing -d "$WORK/zfss" "$WORK"/png/*.png
files=$(ls "$WORK/png" | wc -l)
pixels=$(for f in "$WORK"/real/*.RGB; do echo $(($(stat -c %s "$f") / 3)); done | awk '{s += 2 * $1} END {print s}')

time_jobs() { # NAME ARGS...: median seconds per -j value into $WORK/NAME.J
    name=$1; shift
    for j in $JOBS; do
        hyperfine -N --warmup 1 --runs "$RUNS" --style none --export-json "$WORK/$name.json" \
            "taskset -c 0-$((j - 1)) $ZFCONV -q -j $j $*" >/dev/null 2>&1
        python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["results"][0]["median"])' \
            "$WORK/$name.json" >"$WORK/$name.$j"
    done
}
time_jobs tozf -d "$WORK/out" --to=zf "$WORK"/png/*.png
time_jobs tozfss -d "$WORK/out" --to=zf --coding=optimizing "$WORK"/png/*.png
time_jobs topng -d "$WORK/out" "$WORK"/zf/*.ZF
time_jobs sstopng -d "$WORK/out" "$WORK"/zfss/*.ZF

echo
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
echo "Batch: $files real pictures, $((pixels / 1000000)) megapixels; median of $RUNS runs (hyperfine $(hyperfine --version | cut -d' ' -f2))"
echo
echo "| jobs on cores | PNG to ZEFA (fast) | PNG to ZEFA (optimizing) | ZEFA (fast) to PNG | ZEFA (optimizing) to PNG |"
echo "|---|---|---|---|---|"
for j in $JOBS; do
    row="| $j |"
    for name in tozf tozfss topng sstopng; do
        row="$row $(awk -v one="$(cat "$WORK/$name.1")" '{printf "%.2f s, x%.2f", $1, one / $1}' "$WORK/$name.$j") |"
    done
    echo "$row"
done
