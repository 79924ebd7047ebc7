#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each for a bounded time.
#   scripts/fuzz.sh [seconds per target]   (default 30)
#   scripts/fuzz.sh --build-only            builds the targets and stops
#   VELK_FUZZ_TOTAL  without an argument: seconds for all targets together, spread evenly
#                    (at least 5 each); scripts/test.sh sets it so CI's share stays fixed
#                    however many targets there are
#   VELK_JOBS        targets fuzzed at once (default 2); also the build's jobs
# Seeds come from tests/fuzz/corpus/<target>; what a run adds stays in the build folder.
# A crash fails the run and leaves the input in $VELK_BUILD/fuzz/crashes.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
: "${VELK_BUILD:=$repo/build}"
out="$VELK_BUILD/fuzz"

cmake -S . -B "$out" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVELK_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$out" -j "${VELK_JOBS:-2}" --target fuzzers >/dev/null
[ "${1:-}" != "--build-only" ] || exit 0

targets=("$out"/bin/fuzz_*)
if [ -n "${1:-}" ]; then
    seconds=$1
elif [ -n "${VELK_FUZZ_TOTAL:-}" ]; then
    seconds=$(( VELK_FUZZ_TOTAL / ${#targets[@]} ))
    [ "$seconds" -ge 5 ] || seconds=5
else
    seconds=30
fi

mkdir -p "$out/crashes"
lanes=${VELK_JOBS:-2}
[ "$lanes" -ge 1 ] || lanes=1
echo "fuzz: ${#targets[@]} targets, $seconds s each, $lanes at a time"

# One target's run; its result line goes to $out/<target>.result.
fuzz_one() {
    local target=$1 name corpus seeds log start runs elapsed result
    name=$(basename "$target")
    corpus="$out/corpus/$name"
    mkdir -p "$corpus"
    seeds="tests/fuzz/corpus/$name"
    start=$(date +%s)
    log="$out/$name.log"
    if "$target" -max_total_time="$seconds" -max_len=65536 -timeout=3 -rss_limit_mb=2048 \
        -artifact_prefix="$out/crashes/$name-" -print_final_stats=1 "$corpus" ${seeds:+$([ -d "$seeds" ] && echo "$seeds")} \
        >"$log" 2>&1; then
        result="ok"
    else
        result="FAILED (see $log)"
    fi
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)
    elapsed=$(( $(date +%s) - start ))
    echo "${runs:-0} $elapsed $result" >"$out/$name.result"
}

running=0
for target in "${targets[@]}"; do
    if [ "$running" -ge "$lanes" ]; then wait -n || true; running=$((running - 1)); fi
    fuzz_one "$target" &
    running=$((running + 1))
done
wait

status=0
total_runs=0
total_cpu=0
for target in "${targets[@]}"; do
    name=$(basename "$target")
    read -r runs elapsed result <"$out/$name.result"
    [ "$result" = ok ] || status=1
    total_runs=$((total_runs + runs))
    total_cpu=$((total_cpu + elapsed))
    echo "fuzz $name: $runs inputs in $elapsed s: $result"
done
echo "fuzz total: $total_runs inputs in $total_cpu s of CPU time"
exit $status
