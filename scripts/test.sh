#!/usr/bin/env bash
# Builds everything and runs every test: the native unit tests (also under AddressSanitizer
# and UBSan), a bounded fuzzing run, then the Windows-side and end-to-end tests under Wine.
# Installs what is missing.
#   VELK_BUILD       build root (default: <repo>/build)
#   VELK_FUZZ_TOTAL  seconds of fuzzing, spread over all targets (default 80)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
started=$(date +%s)
bash scripts/install-deps.sh

: "${VELK_BUILD:=$repo/build}"
export VELK_BUILD
jobs=${VELK_JOBS:-2}

echo "== native build (ASan + UBSan)"
cmake -S . -B "$VELK_BUILD/native" -DVELK_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$VELK_BUILD/native" -j "$jobs"

echo "== Windows build (MinGW-w64, i686)"
cmake -S . -B "$VELK_BUILD/win" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$VELK_BUILD/win" -j "$jobs"

# shellcheck source=wine-env.sh
. scripts/wine-env.sh
fuzz_pid=""
stop_all() {
    if [ -n "$fuzz_pid" ]; then kill "$fuzz_pid" 2>/dev/null || true; fi
    velk_wine_stop
}
trap stop_all EXIT
velk_wine_start
if [ -x scripts/printer-setup.sh ]; then bash scripts/printer-setup.sh; fi

# Every GoogleTest program leaves an XML report; the summary at the end counts the cases.
results="$VELK_BUILD/test-results"
rm -rf "$results"
mkdir -p "$results/native" "$results/win"

status=0
# The fuzzers keep one core busy while the Wine tests mostly wait for windows, so the two run
# side by side; the fuzzers' report follows the Wine tests'.
fuzz_log="$VELK_BUILD/fuzz.log"
VELK_FUZZ_TOTAL="${VELK_FUZZ_TOTAL:-80}" bash scripts/fuzz.sh >"$fuzz_log" 2>&1 &
fuzz_pid=$!
echo "== native unit tests"
(cd "$VELK_BUILD/native" && GTEST_OUTPUT="xml:$results/native/" ctest --output-on-failure) || status=1
echo "== Windows-side and end-to-end tests under Wine"
(cd "$VELK_BUILD/win" && GTEST_OUTPUT="xml:$(winepath -w "$results/win")\\" ctest --output-on-failure) || status=1
echo "== fuzzing (bounded, ran beside the Wine tests)"
wait "$fuzz_pid" || status=1
fuzz_pid=""
cat "$fuzz_log"

# Screenshots the tests left, as PNG for people to look at.
shots="$VELK_BUILD/win/screenshots"
if [ -d "$shots" ] && command -v convert >/dev/null; then
    for bmp in "$shots"/*.bmp; do
        [ -e "$bmp" ] || continue
        convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
    done
    echo "Screenshots: $shots"
fi
echo "== summary"
/usr/bin/python3 scripts/summarize-tests.py "$results"
elapsed=$(( $(date +%s) - started ))
echo "whole run: $((elapsed / 60)) min $((elapsed % 60)) s"
exit $status
