#!/usr/bin/env bash
# The registration desk's import speed and memory: generates mboxes of registration mails
# (mixed encodings, 10% duplicates, 1% damaged) in two sizes, imports each into a fresh
# database with a native Release build of velkdesk, checks the counts, and prints messages per
# second and peak memory (also written to $VELK_BUILD/desk-bench/results.md).
#   DESK_BENCH_SIZES  mbox sizes in messages (default "10000 40000")
#   DESK_BENCH_RUNS   imports per size, the median is reported (default 3)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
: "${VELK_BUILD:=$repo/build}"
sizes=${DESK_BENCH_SIZES:-10000 40000}
runs=${DESK_BENCH_RUNS:-3}
build="$VELK_BUILD/desk-release"
out="$VELK_BUILD/desk-bench"
mkdir -p "$out"

echo "== building (native, Release)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "${VELK_JOBS:-2}" --target velkdesk desk_mbox_gen >/dev/null

results="$out/results.md"
{
    echo "| mbox | size | import | messages/s | peak memory |"
    echo "|---|---|---|---|---|"
} >"$results"
for size in $sizes; do
    mbox="$out/registrations-$size.mbox"
    expected=$("$build/bin/desk_mbox_gen" "$mbox" "$size")
    bytes=$(stat -c %s "$mbox")
    # Each run in a fresh database; the child's peak resident set comes from wait4().
    line=$(/usr/bin/python3 - "$build/bin/velkdesk" "$mbox" "$out/bench.db" "$runs" "$expected" "$size" <<'PY'
import os, resource, statistics, subprocess, sys, time
exe, mbox, db, runs, expected, size = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5], int(sys.argv[6])
times, peaks = [], []
for _ in range(runs):
    for suffix in ("", "-wal", "-shm"):
        if os.path.exists(db + suffix): os.remove(db + suffix)
    start = time.monotonic()
    proc = subprocess.Popen([exe, "--db", db, "import", mbox], stdout=subprocess.PIPE)
    output = proc.stdout.read().decode().strip()
    _, status, usage = os.wait4(proc.pid, 0)
    times.append(time.monotonic() - start)
    peaks.append(usage.ru_maxrss / 1024)
    if status != 0 or output != expected:
        sys.exit(f"import of {mbox}: status {status}, '{output}', expected '{expected}'")
t = statistics.median(times)
print(f"{size}\t{t:.2f}\t{size / t:.0f}\t{max(peaks):.1f}")
PY
)
    IFS=$'\t' read -r n seconds rate peak <<<"$line"
    echo "| $n messages | $((bytes / 1048576)) MiB | $seconds s | $rate | $peak MiB |" | tee -a "$results"
    echo "   counts: $expected"
done
echo "Machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg); results in $results"
