#!/usr/bin/env bash
# The online form under load, over loopback on this machine's cores: a Release velkdesk form
# behind a "proxy" (the client passes each customer's address in X-Forwarded-For), with the
# review station polled by a clerk and an import of a generated mbox running on the same
# database. Prints sustained submissions per second with p50/p99 latency, then a flood from one
# address beside a trickle from 20 others (results also in $VELK_BUILD/form-bench/results.md).
#   FORM_BENCH_SECONDS  length of each phase (default 10)
#   FORM_BENCH_THREADS  connections of the sustained phase (default 32)
#   FORM_BENCH_MAILS    messages of the import running beside it (default 20000; 0: no import)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
: "${VELK_BUILD:=$repo/build}"
seconds=${FORM_BENCH_SECONDS:-10}
threads=${FORM_BENCH_THREADS:-32}
mails=${FORM_BENCH_MAILS:-20000}
build="$VELK_BUILD/desk-release"
out="$VELK_BUILD/form-bench"
mkdir -p "$out"

echo "== building (native, Release)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "${VELK_JOBS:-1}" --target velkdesk desk_mbox_gen >/dev/null
exe="$build/bin/velkdesk"

db="$out/bench.db"
rm -f "$db" "$db-wal" "$db-shm"
mbox="$out/registrations-$mails.mbox"
[ "$mails" = 0 ] || [ -s "$mbox" ] || "$build/bin/desk_mbox_gen" "$mbox" "$mails" >/dev/null

pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT

# The station without accounts prints an address that opens one session: the clerk's.
"$exe" --db "$db" serve --listen 127.0.0.1:0 >"$out/serve.out" 2>"$out/serve.err" &
pids+=($!)
"$exe" --db "$db" form --listen 127.0.0.1:0 --trust-proxy 127.0.0.1 >"$out/form.out" 2>"$out/form.log" &
pids+=($!)
for _ in $(seq 50); do [ -s "$out/serve.out" ] && [ -s "$out/form.out" ] && break; sleep 0.1; done
station=$(head -1 "$out/serve.out")
form=$(head -1 "$out/form.out")

# The import runs again and again (the first round stores, the next ones find known mails)
# until the measurement ends, so it writes beside all of it.
import_loop() {
    local round=0
    while :; do
        round=$((round + 1))
        "$exe" --db "$db" import "$mbox" >"$out/import.out" 2>/dev/null
        echo "$round" >"$out/import.rounds"
    done
}
if [ "$mails" = 0 ]; then sleep infinity & else import_loop & fi
import_pid=$!
pids+=($import_pid)
sleep 0.5

status=0
/usr/bin/python3 bench/form_bench.py "$form" "$station" --seconds "$seconds" --threads "$threads" \
    --flood-seconds "$seconds" --max 200000 | tee "$out/results.md" || status=$?
kill "$import_pid" 2>/dev/null || true
[ "$mails" = 0 ] || echo "imports of $mails mails finished beside it: $(cat "$out/import.rounds" 2>/dev/null || echo 0)" \
    | tee -a "$out/results.md"
# The form's spool is emptied when it ends.
kill "${pids[1]}" 2>/dev/null || true
wait "${pids[1]}" 2>/dev/null || true
echo "web registrations stored: $(/usr/bin/sqlite3 "$db" "SELECT count(*) FROM registration WHERE channel = 'web'" 2>/dev/null || echo '?')" | tee -a "$out/results.md"
echo "Machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)" | tee -a "$out/results.md"
exit $status
