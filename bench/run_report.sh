#!/usr/bin/env bash
# The tidewrack-report benchmark: times the report against tidewrack building the database it
# reads, both measured in the same run, and checks the report's peak memory.
#
# Pairs, run one right after the other in alternating order, several rounds (medians of the
# per-round ratios):
#   tidewrack-report -o page.html DB          vs  tidewrack -r T -d DB (mode 1)    goal <= 0.5
#   tidewrack-report DB      (text to a file) vs  the same                         goal <= 0.5
#   tidewrack-report -o page.html D1..D200    vs  tidewrack-report -o page.html DB goal <= 1.5
# where T is the 1M-packet benchmark trace, DB its mode-1 database, and D1..D200 are 200
# databases of a 5,000-packet trace. Memory: the peak RSS of every report run at most 64 MiB.
# Also measured, without a goal: --json on DB, and the page of T's mode-2 database.
#
# Usage: bench/run_report.sh [--reps N] [--no-build]
#   --reps N    rounds (default 5)
#   --no-build  use the binaries already built
# Environment: BUILD (default build/release), BENCH_DIR (traces and report, default
# /tmp/tidewrack-bench; bench/run.sh keeps its traces there too), OUT_DIR (databases and
# pages, default a directory in /dev/shm: see bench/run.sh on why). The report is printed and
# saved as $BENCH_DIR/report-program.md.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
build=${BUILD:-$repo/build/release}
work=${BENCH_DIR:-/tmp/tidewrack-bench}
out=${OUT_DIR:-}
if [[ -z $out ]]; then
    out=$work/report-out
    [[ -d /dev/shm && -w /dev/shm ]] && out=/dev/shm/tidewrack-report-bench
fi
reps=5 compile=1
while (($#)); do
    case $1 in
    --reps) reps=$2; shift ;;
    --no-build) compile=0 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
    esac
    shift
done

if ((compile)); then
    [[ -n ${BUILD:-} ]] || (cd "$repo" && cmake --preset release >/dev/null)
    cmake --build "$build" -j2 --target tidewrack tidewrack-report generate_trace run_measured \
        >/dev/null
fi
tw=$build/tidewrack report=$build/tidewrack-report bin=$build/bench
mkdir -p "$work" "$out"
summary=$work/report-program.md
: >"$summary"
say() { printf '%s\n' "$*" | tee -a "$summary"; }
export TZ=UTC

trace() {  # trace N: the path of an N-packet trace, generated once
    local path=$work/trace-$1.pcap
    if [[ ! -s $path || ! -s $path.info ]]; then
        echo "generating $1-packet trace..." >&2
        "$bin/generate_trace" "$1" "$path" >"$path.info"
    fi
    echo "$path"
}

# measure LABEL OUT COMMAND...: one measured run, appended to results/LABEL as
# "wall-seconds KiB CPU-seconds".
measure() {
    local label=$1 stdout_file=$2 seconds cpu kib status
    shift 2
    read -r seconds cpu kib status < <("$bin/run_measured" "$stdout_file" "$@" 2>>"$work/report-stderr.log")
    if [[ $status != 0 ]]; then
        echo "failed ($status): $*" >&2
        exit 1
    fi
    echo "$seconds $kib $cpu" >>"$work/report-results/$label"
}
median() { sort -n | awk '{v[NR] = $1} END {print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
seconds_of() { cut -d' ' -f1 "$work/report-results/$1" | median; }
kib_of() { cut -d' ' -f2 "$work/report-results/$1" | sort -n | tail -1; }
round_ratio() {  # round_ratio A B: the median of A's time over B's, round by round
    paste -d' ' <(cut -d' ' -f1 "$work/report-results/$1") <(cut -d' ' -f1 "$work/report-results/$2") |
        awk '{print $1 / $2}' | median | xargs printf '%.2f'
}
verdict() { awk -v v="$1" -v goal="$2" 'BEGIN {print (v <= goal) ? "met" : "NOT met"}'; }

rm -rf "$work/report-results" "$work/report-stderr.log"
mkdir -p "$work/report-results"
big=$(trace 1000000) small=$(trace 5000)
db=$out/traffic-1m.db db2=$out/frames-1m.db page=$out/page.html
echo "building the databases..." >&2
rm -rf "$db" "$db2" "$out/many" && mkdir -p "$out/many"
"$tw" -r "$big" -d "$db" >/dev/null
"$tw" -r "$big" -d "$db2" -m 2 >/dev/null
"$tw" -r "$small" -d "$out/many/1.db" >/dev/null
for i in $(seq 2 200); do cp "$out/many/1.db" "$out/many/$i.db"; done
many=()
for i in $(seq 1 200); do many+=("$out/many/$i.db"); done

build_db() { rm -f "$out/run.db" && measure build /dev/null "$tw" -r "$big" -d "$out/run.db"; }
html() { measure html /dev/null "$report" -o "$page" "$db"; }
text() { measure text "$out/report.txt" "$report" "$db"; }
json() { measure json "$out/report.json" "$report" --json "$db"; }
mode2() { measure mode2 /dev/null "$report" -o "$page" "$db2"; }
many() { measure many /dev/null "$report" -o "$page" "${many[@]}"; }
for ((r = 1; r <= reps; r++)); do
    echo "  round $r of $reps" >&2
    if ((r % 2)); then
        build_db && html && text && many && json && mode2
    else
        mode2 && json && many && text && html && build_db
    fi
done
rm -f "$out/run.db"

say "# tidewrack-report benchmark, $(date -u '+%Y-%m-%d %H:%M UTC')"
say ""
say "- CPU: $(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo), $(nproc) cores; load average at start of the report: $(cut -d' ' -f1-3 /proc/loadavg)"
say "- 1M trace: $(awk '{print $2}' "$big.info") packets, $(awk '{print $4}' "$big.info") conversations; 5k trace: $(awk '{print $2}' "$small.info") packets; databases on $(df --output=fstype "$out" | tail -1)"
say ""
say "| run | wall s (median of $reps) | peak RSS KiB | against | ratio (median of rounds) | goal | status |"
say "|---|---|---|---|---|---|---|"
say "| \`tidewrack -r T -d DB\` (mode 1, the baseline) | $(seconds_of build) | $(kib_of build) | | | | |"
ratio=$(round_ratio html build)
say "| \`tidewrack-report -o page.html DB\` | $(seconds_of html) | $(kib_of html) | baseline | $ratio | <= 0.5 | $(verdict "$ratio" 0.5) |"
ratio=$(round_ratio text build)
say "| \`tidewrack-report DB\` (text) | $(seconds_of text) | $(kib_of text) | baseline | $ratio | <= 0.5 | $(verdict "$ratio" 0.5) |"
ratio=$(round_ratio json build)
say "| \`tidewrack-report --json DB\` | $(seconds_of json) | $(kib_of json) | baseline | $ratio | | |"
ratio=$(round_ratio mode2 build)
say "| \`tidewrack-report -o page.html DB2\` (mode 2) | $(seconds_of mode2) | $(kib_of mode2) | baseline | $ratio | | |"
ratio=$(round_ratio many html)
say "| \`tidewrack-report -o page.html D1..D200\` | $(seconds_of many) | $(kib_of many) | the page of DB | $ratio | <= 1.5 | $(verdict "$ratio" 1.5) |"
highest=0
for label in html text json mode2 many; do
    kib=$(kib_of "$label")
    ((kib > highest)) && highest=$kib
done
say ""
say "- highest peak RSS of the report: $highest KiB (goal: at most 65536 KiB): $( ((highest <= 65536)) && echo met || echo NOT met)"
rm -rf "$out"
echo "report saved in $summary" >&2
