#!/usr/bin/env bash
# Builds the benchmark programs, runs them under the project's Wine prefix with the CUPS PDF
# printer set up, and prints the results as a Markdown table (also written to
# $VELK_BUILD/bench/results.md). Not part of the test run; takes a few minutes.
#   VELK_BUILD    build root (default: <repo>/build)
#   BENCH_PAIRS   measured pairs per ratio and repeated runs per route (default 31, at least 15)
#   BENCH_WARMUP  warm-up pairs or runs, not counted (default 3)
#   BENCH_COLD    print and mail runs each in a fresh process (default 9)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
bash scripts/install-deps.sh

: "${VELK_BUILD:=$repo/build}"
export VELK_BUILD
pairs=${BENCH_PAIRS:-31}
warmup=${BENCH_WARMUP:-3}
cold=${BENCH_COLD:-9}

echo "== building (MinGW-w64, i686, Release)"
cmake -S . -B "$VELK_BUILD/win" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$VELK_BUILD/win" -j "${VELK_JOBS:-2}" --target startup_bench output_bench >/dev/null

# shellcheck source=../scripts/wine-env.sh
. scripts/wine-env.sh
trap velk_wine_stop EXIT
velk_wine_start
bash scripts/printer-setup.sh

out="$VELK_BUILD/bench"
mkdir -p "$out"
rm -f "$out/startup.tsv" "$out/output.tsv"
bin="$VELK_BUILD/win/bin"
load=$(cut -d' ' -f1-3 /proc/loadavg)

# Every program runs inside a Wine virtual desktop. On a bare Xvfb there is no window manager,
# and Wine's X11 driver then waits about 2 s for one whenever a top-level window is hidden
# (the Print dialog, the mail box, every closed window), which no user's system does.
in_desktop() { wine explorer /desktop=velkbench,1280x1024 "$(winepath -w "$1")" "${@:2}" </dev/null; }

echo "== start-up and sizes ($pairs pairs after $warmup warm-up pairs)"
in_desktop "$bin/startup_bench.exe" --ini "$(winepath -w "$repo/scripts/demo/VelkRun.ini")" \
    --out "$(winepath -w "$out/startup.tsv")" --pairs "$pairs" --warmup "$warmup" || true
echo "== print, mail and start-up work inside the process"
in_desktop "$bin/output_bench.exe" --out "$(winepath -w "$out/output.tsv")" --runs "$pairs" \
    --warmup "$warmup" --cold "$cold" --ini "$(winepath -w "$repo/scripts/demo/VelkRun.ini")" || true

cpu=$(grep -m1 '^model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
machine="${cpu:-unknown CPU}, $(nproc) cores, $(( $(grep MemTotal /proc/meminfo | awk '{print $2}') / 1024 )) MB RAM, $(wine --version), $(. /etc/os-release && echo "$PRETTY_NAME"), load average at start $load"

/usr/bin/python3 - "$out" "$(date '+%Y-%m-%d %H:%M %Z')" "$machine" "$pairs" "$warmup" "$cold" <<'PY'
import sys
out, date, machine, pairs, warmup, cold = sys.argv[1:]
rows = {}
fails = []
for name in ("startup.tsv", "output.tsv"):
    try:
        lines = open(f"{out}/{name}", encoding="ascii").read().splitlines()
    except OSError:
        fails.append(f"{name}: not written (the program did not run)")
        continue
    for line in lines:
        f = line.split("\t")
        if f[0] == "fail":
            fails.append(f"{f[1]}: {f[2]}")
        elif f[0] in ("ratio", "ms", "bytes"):
            rows[f[1]] = f

def ratio(id, label, goal=None, unit="ms"):
    r = rows.get(id)
    if not r:
        return f"| {label} | – | – | – | – | – | {goal or ''} | not measured |"
    med, lo, hi, n, a, b = float(r[2]), float(r[3]), float(r[4]), r[5], float(r[6]), float(r[7])
    if unit == "kb":
        a_s, b_s = f"{a/1024:.1f} MB", f"{b/1024:.1f} MB"
    else:
        a_s, b_s = f"{a:.1f} ms", f"{b:.1f} ms"
    verdict = ""
    if goal:
        verdict = "holds" if med <= goal else "**does not hold**"
    return f"| {label} | **{med:.3f}** | {lo:.3f} | {hi:.3f} | {a_s} | {b_s} | {'≤ %.2f' % goal if goal else ''} | {verdict} |"

def ms(id, label):
    r = rows.get(id)
    if not r:
        return f"| {label} | – | – | – | – |"
    return f"| {label} | **{float(r[2]):.1f}** | {float(r[3]):.1f} | {float(r[4]):.1f} | {r[5]} |"

def size(id):
    r = rows.get(id)
    return int(r[2]) if r else None

def kb(n):
    return "–" if n is None else f"{n:,} bytes ({n/1024:.1f} KB)"

md = []
md.append("## Benchmark results")
md.append("")
md.append(f"{date} · {machine}")
md.append("")
md.append(f"Ratios are VelkRun / baseline, median of {pairs} alternating pairs after {warmup} warm-up pairs, "
          "all on the same Wine prefix in one run, inside a Wine virtual desktop; min and max are those of the "
          "per-pair ratios. A window counts as visible once it is shown, answers a message and has nothing "
          "left to paint, in itself or its controls.")
md.append("")
md.append("| Ratio | Median | Min | Max | VelkRun (median) | Baseline (median) | Goal | |")
md.append("|---|---|---|---|---|---|---|---|")
md.append(ratio("optout", "Opt-out route: start of `VelkRun.exe` (flag set) → product running, vs. a program that only calls `ShellExecuteExA`", 1.05))
md.append(ratio("form_bare", "Short form: start → registration form visible and painted, vs. its bare twin (template 129, lists filled, country preselected)", 1.1))
md.append(ratio("runner_bare", "Long form: start → runner visible and painted, vs. its bare twin (template 102, bitmap 140 painted)", 1.1))
md.append(ratio("form", "Short form, second view: vs. an empty dialog", None))
md.append(ratio("runner", "Long form, second view: vs. an empty dialog", None))
md.append(ratio("form_bare.peakws", "Peak working set with the form open, vs. its bare twin", None, "kb"))
md.append(ratio("runner_bare.peakws", "Peak working set with the runner open, vs. its bare twin", None, "kb"))
md.append(ratio("form.peakws", "Peak working set with the form open, vs. the empty dialog", None, "kb"))
md.append(ratio("runner.peakws", "Peak working set with the runner open, vs. the empty dialog", None, "kb"))
md.append("")
md.append(f"Start-up work inside VelkRun's process before its first dialog shows (milliseconds), the "
          f"first time in a fresh process, {cold} processes, with the demo settings file. *Template* is "
          "what any program showing the window pays (the bare twins too); the rest is VelkRun's own.")
md.append("")
md.append("| Step | Median | Min | Max | Runs |")
md.append("|---|---|---|---|---|")
md.append(ms("startup.cold.settings", "Settings file read (`VelkRun.ini`, line scan)"))
md.append(ms("startup.cold.form_create", "Form, template: dialog and its 65 controls created, lists filled"))
md.append(ms("startup.cold.form_init", "Form, VelkRun's own: mail client lookup, 35 labels from the string table, article and title, list selections, VIP box"))
md.append(ms("startup.cold.mailclient", "of which the mail client lookup (`Software\\Clients\\Mail`, `DLLPath`)"))
md.append(ms("startup.cold.runner_create", "Runner, template: dialog and its controls created"))
md.append(ms("startup.cold.runner_init", "Runner, VelkRun's own: icons, bold reminder label, six texts from the settings"))
md.append("")
md.append(f"Print and mail, timed inside the process (milliseconds). *First*: the first job of a fresh "
          f"process, {cold} processes. *Repeated*: {pairs} more in one process after {warmup} warm-up runs. "
          "The time the Print dialog or the mail explanation box waited for OK is left out.")
md.append("")
md.append("| Route | Median | Min | Max | Runs |")
md.append("|---|---|---|---|---|")
for when, label in (("cold", "first"), ("warm", "repeated")):
    md.append(ms(f"print.{when}.total", f"Print, {label}: whole route (printer check, Print dialog up, OK → job ended)"))
    md.append(ms(f"print.{when}.ok_enddoc", f"Print, {label}: OK in the Print dialog → `EndDoc` returned"))
    md.append(ms(f"print.{when}.job", f"Print, {label}: `StartDoc` → `EndDoc` returned (page drawn, job spooled)"))
for when, label in (("cold", "first"), ("warm", "repeated")):
    md.append(ms(f"mail.{when}.total", f"Mail, {label}: whole route (text, clipboard, box up, OK → hand-off returned)"))
    md.append(ms(f"mail.{when}.ok_return", f"Mail, {label}: OK in the box → `MAPISendMail` of the test client returned and library unloaded"))
md.append("")
total, pics, nopics, text = (size(x) for x in ("size.velkrun", "size.velkrun.pictures", "size.velkrun.nopictures", "size.velkrun.text"))
md.append("| Size | |")
md.append("|---|---|")
md.append(f"| `VelkRun.exe` | {kb(total)} |")
md.append(f"| `VelkRun.exe` without the two pictures (bitmap 140, USER 139: {kb(pics)}) | {kb(nopics)} |")
md.append(f"| of which code (`.text`) | {kb(text)} |")
md.append(f"| `startstub.exe` | {kb(size('size.startstub'))} |")
md.append(f"| for comparison: the empty-dialog baseline | {kb(size('size.empty_dialog'))} |")
md.append(f"| for comparison: the bare twins of the form and the runner (with VelkRun's resources) | {kb(size('size.bare_form'))}, {kb(size('size.bare_runner'))} |")
if fails:
    md.append("")
    md.append("Not measured:")
    for f in fails:
        md.append(f"- {f}")
text = "\n".join(md) + "\n"
open(f"{out}/results.md", "w", encoding="utf-8").write(text)
print(text)
PY
echo "Written to $out/results.md (raw samples: $out/startup.tsv, $out/output.tsv)"
