#!/bin/sh
# fuzz/run.sh [SECONDS] [TARGET...] - builds the fuzz targets with clang and
# runs each target for SECONDS (default 60), starting from its kept corpus
# (fuzz/regression/<target>/, merged by coverage from earlier runs).
# Findings land in fuzz/findings/.
#   fuzz/run.sh 3600              every target for an hour
#   fuzz/run.sh 600 fuzz_container
set -eu
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-60}
[ $# -gt 0 ] && shift
BUILD=build-fuzz
CC=clang CXX=clang++ cmake -S . -B $BUILD -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZEFA_FUZZ=ON -DZEFA_TESTS=OFF -DZEFA_BENCH=OFF >/dev/null
cmake --build $BUILD -j "$(nproc)" >/dev/null
TARGETS=${*:-$(cd $BUILD/fuzz && ls fuzz_* | grep -v '\.' )}
mkdir -p fuzz/findings
found_before=$(ls fuzz/findings | wc -l)
for t in $TARGETS; do
    corpus=fuzz/corpus/$t
    mkdir -p "$corpus" fuzz/regression/"$t"
    echo "== $t for ${SECONDS_EACH}s"
    ASAN_OPTIONS=detect_leaks=1 $BUILD/fuzz/$t -max_total_time="$SECONDS_EACH" -timeout=10 \
        -rss_limit_mb=2048 -artifact_prefix=fuzz/findings/"$t"- -print_final_stats=1 \
        "$corpus" fuzz/regression/"$t" 2>&1 | grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::peak_rss|==|SUMMARY)|cov:' | tail -3
done
found_after=$(ls fuzz/findings | wc -l)
if [ "$found_after" -gt "$found_before" ]; then
    echo "fuzzing found new failures:"; ls -t fuzz/findings | head -n $((found_after - found_before))
    exit 1
fi
