#!/usr/bin/env bash
# Runs every libFuzzer target of a native clang build (the fuzz_* programs)
# for a given time or number of executions each, one after the other, and
# prints one summary line per target.
#
#   tools/run-fuzz.sh [-t SECONDS | -n RUNS] [-b BUILD_DIR] [-m BYTES] [TARGET...]
#
#   -t SECONDS   time per target (default 60)
#   -n RUNS      executions per target instead of a time
#   -b DIR       native build directory holding fuzz_* (default build/native)
#   -m BYTES     largest input (default 65536)
#   TARGET       names without the fuzz_ prefix (default: every fuzz_* in DIR)
#
# New inputs go to a scratch corpus under DIR/fuzz-work/NAME (kept between
# runs so that a later run starts where this one ended); the committed seeds
# in fuzz/corpus/NAME are read, never written. Crash, leak and timeout inputs
# land in DIR/fuzz-work/NAME/artifacts. The exit status is non-zero if any
# target failed.
set -u

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=60
runs=""
maxlen=65536
build="$root/build/native"
while getopts "t:n:b:m:" opt; do
    case $opt in
    t) seconds=$OPTARG ;;
    n) runs=$OPTARG ;;
    b) build=$(cd "$OPTARG" && pwd) ;;
    m) maxlen=$OPTARG ;;
    *) sed -n '2,20p' "$0"; exit 2 ;;
    esac
done
shift $((OPTIND - 1))

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for exe in "$build"/fuzz_*; do
        [ -x "$exe" ] && targets+=("$(basename "$exe" | sed 's/^fuzz_//')")
    done
fi
if [ ${#targets[@]} -eq 0 ]; then
    echo "no fuzz_* programs in $build (configure with clang and build them first)" >&2
    exit 2
fi

status=0
for name in "${targets[@]}"; do
    exe="$build/fuzz_$name"
    work="$build/fuzz-work/$name"
    mkdir -p "$work/corpus" "$work/artifacts"
    seeds=()
    [ -d "$root/fuzz/corpus/$name" ] && seeds=("$root/fuzz/corpus/$name")
    limit=(-max_total_time="$seconds")
    [ -n "$runs" ] && limit=(-runs="$runs")
    log="$work/last-run.log"
    "$exe" "${limit[@]}" -max_len="$maxlen" -timeout=10 -rss_limit_mb=2560 -print_final_stats=1 \
        -artifact_prefix="$work/artifacts/" "$work/corpus" "${seeds[@]}" >"$log" 2>&1
    rc=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    secs=$(sed -n 's/^stat::.*//; s/^Done \([0-9]*\) runs in \([0-9]*\) second.*/\2/p' "$log" | tail -1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
    if [ $rc -eq 0 ]; then
        echo "fuzz_$name: ok, ${execs:-?} executions${secs:+ in ${secs}s}, ${cov:-cov: ?}"
    else
        echo "fuzz_$name: FAILED (exit $rc) after ${execs:-?} executions; see $log"
        grep -m3 -E 'ERROR|SUMMARY|Test unit written' "$log" | sed 's/^/    /'
        status=1
    fi
done
exit $status
