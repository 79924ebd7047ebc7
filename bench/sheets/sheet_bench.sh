#!/usr/bin/env bash
# The reply-sheet benchmark: prints SHEET_BENCH_COUNT (default 60) random registrations through
# VelkRun's print route under Wine, turns them into 300 dpi scans, fine and standard faxes and
# 200 dpi scans of a letter (make_sheets.sh), reads every page with the desk's sheet reader and prints the accuracy table.
# A set already made with the same count and seed is reused.
#   SHEET_BENCH_COUNT  SHEET_BENCH_SEED (42)  VELK_BUILD (<repo>/build)
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
: "${VELK_BUILD:=$repo/build}"
export VELK_BUILD
count=${SHEET_BENCH_COUNT:-60}
seed=${SHEET_BENCH_SEED:-42}
set_dir="$VELK_BUILD/sheet-bench/set-$count-$seed"
jobs=${VELK_JOBS:-2}

cmake -S "$repo" -B "$VELK_BUILD/win" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$VELK_BUILD/win" -j "$jobs" --target sheet_print >/dev/null
cmake -S "$repo" -B "$VELK_BUILD/desk-release" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$VELK_BUILD/desk-release" -j "$jobs" --target sheet_bench velkdesk >/dev/null

if [ "$(ls "$set_dir/standard" 2>/dev/null | wc -l)" -lt "$count" ] ||
   [ "$(ls "$set_dir/post" 2>/dev/null | wc -l)" -lt "$count" ]; then
    bash "$repo/bench/sheets/make_sheets.sh" "$count" "$seed" "$set_dir"
fi
{
    echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
    echo
    "$VELK_BUILD/desk-release/bin/sheet_bench" "$set_dir"
    # The same pages through `velkdesk import`, which reads two files at once on two cores:
    # wall-clock seconds per page, the recogniser's start included.
    echo
    echo "| resolution | velkdesk import, s/page (wall clock, $(nproc) cores) |"
    echo "|---|---|"
    for res in 300 fine standard post; do
        db=$(mktemp -u /tmp/sheet-bench-XXXXXX.db)
        start=$(date +%s.%N)
        "$VELK_BUILD/desk-release/bin/velkdesk" --db "$db" import "$set_dir/$res" >/dev/null 2>&1 || true
        end=$(date +%s.%N)
        rm -f "$db"
        awk -v r="$res" -v s="$start" -v e="$end" -v n="$count" 'BEGIN { printf "| %s | %.2f |\n", r, (e - s) / n }'
    done
} | tee "$VELK_BUILD/sheet-bench/results.md"
