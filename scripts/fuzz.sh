#!/usr/bin/env bash
# Builds the fuzz programs with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer with float-cast-overflow) and runs each one for
# SECONDS (default 60), as many at a time as there are cores, starting from
# its seed corpus and the regression folder. Prints the executions of each
# target; fails when any target reports a finding, which is kept in
# build-fuzz/findings/TARGET/ to be copied into fuzz/regressions/TARGET/.
# Usage: bash scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
source "$(dirname "$0")/common.sh"

seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(bmp obj mtl framenames mdl conversion texture)

tarvex_install_packages clang libclang-rt-14-dev
build="$TARVEX_ROOT/build-fuzz"
tarvex_build "$build" -DCMAKE_CXX_COMPILER=clang++ -DTARVEX_FUZZ=ON -DTARVEX_BUILD_TESTS=OFF \
    -DTARVEX_BUILD_GUI=OFF -DTARVEX_BUILD_BENCH=OFF

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
findings="$build/findings"
rm -rf "$findings"
# The targets write their files in a scratch folder; memory is faster than disk.
scratch=/dev/shm
[ -w "$scratch" ] || scratch=$work

run_target()
{
    local name=$1
    local corpus="$work/corpus-$name"
    mkdir -p "$corpus" "$findings/$name"
    cp "$build/fuzz/seeds/$name/"* "$corpus/"
    if [ -d "$TARVEX_ROOT/fuzz/regressions/$name" ]; then
        find "$TARVEX_ROOT/fuzz/regressions/$name" -maxdepth 1 -type f ! -name '.*' \
            -exec cp {} "$corpus/" \;
    fi
    local status=0
    TMPDIR=$scratch ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$findings/$name/" "$corpus" \
        >"$work/$name.log" 2>&1 || status=$?
    echo "$status" >"$work/$name.status"
}

echo "tarvex: fuzzing ${targets[*]} for ${seconds} s each"
running=0
for name in "${targets[@]}"; do
    run_target "$name" &
    running=$((running + 1))
    if [ "$running" -ge "$(nproc)" ]; then
        wait -n || true
        running=$((running - 1))
    fi
done
wait

failed=0
printf '%-12s %12s %10s  %s\n' target executions corpus result
for name in "${targets[@]}"; do
    log="$work/$name.log"
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    units=$(sed -n 's/.*corp: \([0-9]*\)\/.*/\1/p' "$log" | tail -1)
    result=ok
    if [ "$(cat "$work/$name.status")" != 0 ] || [ -n "$(ls -A "$findings/$name")" ]; then
        result="FINDING (see $findings/$name)"
        failed=1
    fi
    printf '%-12s %12s %10s  %s\n' "$name" "${runs:-?}" "${units:-?}" "$result"
done
if [ "$failed" != 0 ]; then
    for name in "${targets[@]}"; do
        if [ "$(cat "$work/$name.status")" != 0 ]; then
            echo "---- fuzz_$name" >&2
            grep -v '^#[0-9]' "$work/$name.log" | tail -60 >&2
        fi
    done
    echo "tarvex: fuzzing found inputs that fail; add them to fuzz/regressions/TARGET/ and fix" >&2
    exit 1
fi
