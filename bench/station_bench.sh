#!/usr/bin/env bash
# The review station under load: builds velkdesk in Release, makes a database of registrations
# (a tenth needing review, each with its stored page), serves it on loopback and lets clerks
# settle registrations at once; prints round-trip times and the server's memory (also written to
# $VELK_BUILD/station-bench/station-results.md). Not part of CI.
#   STATION_BENCH_REGISTRATIONS  registrations in the database (default 100000)
#   STATION_BENCH_CLERKS         clerks at once (default 8)
#   STATION_BENCH_SECONDS        how long they work (default 60)
#   STATION_BENCH_STRIP_ROWS     rows per strip of the stored page (default 128, as import stores
#                                it; 0 for one strip, as earlier imports stored it)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
: "${VELK_BUILD:=$repo/build}"
build="$VELK_BUILD/desk-release"
out="$VELK_BUILD/station-bench"
mkdir -p "$out"

echo "== building (native, Release)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELK_TESTS=OFF >/dev/null
cmake --build "$build" -j "${VELK_JOBS:-1}" --target velkdesk >/dev/null

echo "== $(nproc) cores; ${STATION_BENCH_CLERKS:-8} clerks for ${STATION_BENCH_SECONDS:-60} s"
/usr/bin/python3 bench/station_bench.py --velkdesk "$build/bin/velkdesk" --folder "$out" \
    --registrations "${STATION_BENCH_REGISTRATIONS:-100000}" --clerks "${STATION_BENCH_CLERKS:-8}" \
    --seconds "${STATION_BENCH_SECONDS:-60}" --strip-rows "${STATION_BENCH_STRIP_ROWS:-128}"
