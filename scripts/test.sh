#!/usr/bin/env bash
# Builds everything and runs every test: the native unit tests (also under AddressSanitizer
# and UBSan), then the Windows-side and end-to-end tests under Wine. Installs what is missing.
#   VELK_BUILD  build root (default: <repo>/build)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
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
trap velk_wine_stop EXIT
velk_wine_start
if [ -x scripts/printer-setup.sh ]; then bash scripts/printer-setup.sh; fi

# Every GoogleTest program leaves an XML report; the summary at the end counts the cases.
results="$VELK_BUILD/test-results"
rm -rf "$results"
mkdir -p "$results/native" "$results/win"

status=0
echo "== native unit tests"
(cd "$VELK_BUILD/native" && GTEST_OUTPUT="xml:$results/native/" ctest --output-on-failure) || status=1
echo "== fuzzing (bounded)"
bash scripts/fuzz.sh "${VELK_FUZZ_SECONDS:-30}" || status=1
echo "== Windows-side and end-to-end tests under Wine"
rm -rf "$VELK_BUILD/win/bin/desk-e2e"
(cd "$VELK_BUILD/win" && GTEST_OUTPUT="xml:$(winepath -w "$results/win")\\" ctest --output-on-failure) || status=1
echo "== registration desk: the mail VelkRun sent, through velkdesk"
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
echo "== summary"
/usr/bin/python3 scripts/summarize-tests.py "$results"
exit $status
