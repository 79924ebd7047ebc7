#!/usr/bin/env bash
# Builds everything and runs every test: the Windows-side and end-to-end tests under Wine, and
# beside them the native unit tests (under AddressSanitizer and UBSan) and a bounded fuzzing
# run. Installs what is missing.
#   VELK_BUILD       build root (default: <repo>/build)
#   VELK_FUZZ_TOTAL  seconds of fuzzing, spread over all targets (default 48)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
started=$(date +%s)
# Section headers carry the run's elapsed time, so a slow CI run shows where it went.
section() {
    local t=$(( $(date +%s) - started ))
    printf '== [%d:%02d] %s\n' $((t / 60)) $((t % 60)) "$*"
}
section "installing what is missing"
bash scripts/install-deps.sh

: "${VELK_BUILD:=$repo/build}"
export VELK_BUILD
jobs=${VELK_JOBS:-2}

# shellcheck source=wine-env.sh
. scripts/wine-env.sh
side_pid=""
stop_all() {
    if [ -n "$side_pid" ]; then kill "$side_pid" 2>/dev/null || true; fi
    velk_wine_stop
}
trap stop_all EXIT
# The Wine prefix is made while the Windows programs build.
mkdir -p "$VELK_BUILD"
velk_start_display
velk_make_prefix >"$VELK_BUILD/wine-prefix.log" 2>&1 &
prefix_pid=$!

section "Windows build (MinGW-w64, i686)"
cmake -S . -B "$VELK_BUILD/win" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$VELK_BUILD/win" -j "$jobs"

wait "$prefix_pid" || { cat "$VELK_BUILD/wine-prefix.log"; exit 1; }
velk_wine_start
if [ -x scripts/printer-setup.sh ]; then bash scripts/printer-setup.sh; fi

# Every GoogleTest program leaves an XML report; the summary at the end counts the cases.
results="$VELK_BUILD/test-results"
rm -rf "$results"
mkdir -p "$results/native" "$results/win"

status=0
# The Wine tests mostly wait for windows, so the native build, its unit tests and the fuzzers
# run beside them, at a lower priority so that the windows still come up in time; their report
# follows the Wine tests'. The sheet reader's tests compute while the browser tests wait.
side_log="$VELK_BUILD/native-and-fuzz.log"
(
    rc=0
    section "native build (ASan + UBSan)"
    cmake -S . -B "$VELK_BUILD/native" -DVELK_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
    nice -n 10 cmake --build "$VELK_BUILD/native" -j "$jobs" >/dev/null
    # The fuzzers' build (clang) fills what the browser tests leave idle; the fuzzing follows
    # alone, so that no input runs past its time limit for want of a core.
    section "native unit tests, the fuzzers built beside them"
    fuzz_log="$VELK_BUILD/fuzz-build.log"
    VELK_JOBS="$jobs" nice -n 15 bash scripts/fuzz.sh --build-only >"$fuzz_log" 2>&1 &
    fuzz_pid=$!
    (cd "$VELK_BUILD/native" && GTEST_OUTPUT="xml:$results/native/" nice -n 10 ctest -j $((jobs + 1)) --output-on-failure) || rc=1
    wait "$fuzz_pid" || { cat "$fuzz_log"; rc=1; }
    section "fuzzing (bounded)"
    VELK_FUZZ_TOTAL="${VELK_FUZZ_TOTAL:-48}" VELK_JOBS="$jobs" nice -n 10 bash scripts/fuzz.sh || rc=1
    section "native side done"
    exit $rc
) >"$side_log" 2>&1 &
side_pid=$!

section "Windows-side and end-to-end tests under Wine"
rm -rf "$VELK_BUILD/win/bin/desk-e2e"
(cd "$VELK_BUILD/win" && GTEST_OUTPUT="xml:$(winepath -w "$results/win")\\" ctest --output-on-failure) || status=1
wait "$side_pid" || status=1
side_pid=""
section "Wine tests done; the native side's report follows"
cat "$side_log"
section "registration desk: the mail VelkRun sent, through velkdesk; the online form against VelkRun's"
VELK_DESK_E2E_DIR="$VELK_BUILD/win/bin/desk-e2e" GTEST_OUTPUT="xml:$results/native/" \
    "$VELK_BUILD/native/bin/desk_e2e_test" || status=1

# Screenshots the tests left, as PNG for people to look at.
shots="$VELK_BUILD/win/screenshots"
if [ -d "$shots" ] && command -v convert >/dev/null; then
    for bmp in "$shots"/*.bmp; do
        [ -e "$bmp" ] || continue
        convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
    done
    echo "Screenshots: $shots"
fi
section "summary"
/usr/bin/python3 scripts/summarize-tests.py "$results"
elapsed=$(( $(date +%s) - started ))
echo "whole run: $((elapsed / 60)) min $((elapsed % 60)) s"
exit $status
