#!/usr/bin/env bash
# The tidewrack benchmark: times the program against baselines measured in the same run and
# checks its peak memory and its per-packet work.
#
# Pairs, each run alternately several times on one trace (medians and their ratio):
#   tidewrack -r T            (stdout to a file)  vs  bare_read_loop T           goal <= 1.5
#   tidewrack -r T -w out                         vs  tcpdump -r T -w out        goal <= 1.1
#   tidewrack -v -r T         (stdout to a file)  vs  tcpdump -n -r T (to a file) goal <= 0.8
#   tidewrack -r T -d db      (mode 1)            vs  bare_sql_loop 1 T db       goal <= 1.1
#   tidewrack -r T -d db -m 2                     vs  bare_sql_loop 2 T db       goal <= 1.1
# Memory: peak RSS of mode 1 at 100k and 1M packets, equal within 1 MiB and under 16 MiB; at
# 5M packets no more than at 50k plus 1 MiB.
# Instructions: the same pairs once under callgrind on the 100k trace, counting the instructions
# each side executes in user space: a measure that other work on the machine cannot disturb.
# Audit: allocations, local-time conversions, text comparisons and flushes of the program's own
# code (count_allocations.so), a 100k run against a 1M run; write calls of the spinner (strace).
#
# Usage: bench/run.sh [--quick] [--reps N] [--no-5m] [--no-callgrind] [--keep] [--no-build]
#   --quick     the 100k-packet trace only (about a minute), no 5M memory check, no callgrind
#   --reps N    runs of each program per pair (default 5)
#   --no-5m     skip the 5M-vs-50k memory check (it writes a 3 GB trace)
#   --no-callgrind  skip the instruction counts (they take a few minutes)
#   --keep      keep the generated traces in the work directory
#   --no-build  use the binaries already built
# Environment: BUILD (default build/release), BENCH_DIR (traces and report, default
# /tmp/tidewrack-bench), OUT_DIR (databases and dumps written by the runs, default a directory in
# /dev/shm). Outputs go to memory by default: with a shared disk, the fsync of each committed
# create statement varies by seconds from run to run and would drown the comparison; give
# OUT_DIR on a disk to measure with it. The report is printed and saved as $BENCH_DIR/report.md.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
build=${BUILD:-$repo/build/release}
work=${BENCH_DIR:-/tmp/tidewrack-bench}
out=${OUT_DIR:-}
if [[ -z $out ]]; then
    out=$work/out
    [[ -d /dev/shm && -w /dev/shm ]] && out=/dev/shm/tidewrack-bench-out
fi
reps=5 quick=0 big=1 keep=0 compile=1 callgrind=1
while (($#)); do
    case $1 in
    --quick) quick=1 big=0 callgrind=0 ;;
    --no-callgrind) callgrind=0 ;;
    --reps) reps=$2; shift ;;
    --no-5m) big=0 ;;
    --keep) keep=1 ;;
    --no-build) compile=0 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
    esac
    shift
done

if ((compile)); then
    if [[ -z ${BUILD:-} ]]; then
        (cd "$repo" && cmake --preset release >/dev/null)
    fi
    cmake --build "$build" -j2 --target tidewrack generate_trace bare_read_loop bare_sql_loop \
        run_measured compare_databases count_allocations >/dev/null
fi
tw=$build/tidewrack
bin=$build/bench
mkdir -p "$work" "$out"
report=$work/report.md
: >"$report"
say() { printf '%s\n' "$*" | tee -a "$report"; }

tcpdump_bin=$(command -v tcpdump || true)
if [[ -z $tcpdump_bin && $(id -u) == 0 ]] && command -v apt-get >/dev/null; then
    echo "installing tcpdump..." >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq tcpdump >/dev/null 2>&1 || true
    tcpdump_bin=$(command -v tcpdump || true)
fi
tcpdump_user=()
# As root, tcpdump would switch to its own user and could not write the dump, nor valgrind its
# counts, in the work directory.
[[ $(id -u) == 0 ]] && tcpdump_user=(-Z root)

# trace N: the path of an N-packet trace, generated once.
trace() {
    local path=$work/trace-$1.pcap
    if [[ ! -s $path || ! -s $path.info ]]; then
        echo "generating $1-packet trace..." >&2
        "$bin/generate_trace" "$1" "$path" >"$path.info"
    fi
    echo "$path"
}
info() { awk -v k="$2" '{for (i = 1; i < NF; i += 2) if ($i == k) print $(i + 1)}' "$1.info"; }

# measure LABEL OUT COMMAND...: one measured run, appended to results/LABEL as
# "wall-seconds KiB CPU-seconds".
measure() {
    local label=$1 stdout_file=$2
    shift 2
    local line
    line=$("$bin/run_measured" "$stdout_file" "$@" 2>>"$work/stderr.log")
    read -r seconds cpu kib status <<<"$line"
    if [[ $status != 0 ]]; then
        echo "failed ($status): $*" >&2
        exit 1
    fi
    echo "$seconds $kib $cpu" >>"$work/results/$label"
}
median() { sort -n | awk '{v[NR] = $1} END {print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
seconds_of() { cut -d' ' -f1 "$work/results/$1" | median; }
cpu_of() { cut -d' ' -f3 "$work/results/$1" | median; }
kib_of() { cut -d' ' -f2 "$work/results/$1" | sort -n | tail -1; }  # the highest peak seen

# One measured run of each program of each pair; they read the variables of pairs().
read_tw() { measure "$n.read.tw" "$text" "$tw" -r "$t"; }
read_base() { measure "$n.read.base" "$text" "$bin/bare_read_loop" "$t"; }
dump_tw() { rm -f "$dump" && measure "$n.dump.tw" "$text" "$tw" -r "$t" -w "$dump"; }
dump_base() {
    rm -f "$dump" && measure "$n.dump.base" "$text" "$tcpdump_bin" "${tcpdump_user[@]}" -r "$t" -w "$dump"
}
verbose_tw() { measure "$n.verbose.tw" "$text" "$tw" -v -r "$t"; }
verbose_base() { measure "$n.verbose.base" "$text" "$tcpdump_bin" "${tcpdump_user[@]}" -n -r "$t"; }
mode_tw() { rm -f "$db" && measure "$n.mode$m.tw" "$text" "$tw" -r "$t" -d "$db" -m "$m"; }
mode_base() { rm -f "$db" && measure "$n.mode$m.base" /dev/null "$bin/bare_sql_loop" "$m" "$t" "$db"; }
# in_turn A B: A then B in odd rounds, B then A in even ones, so neither always goes first.
in_turn() { if ((r % 2)); then $1 && $2; else $2 && $1; fi; }

# pairs T SIZE: run every pair on trace T, several rounds.
pairs() {
    local t=$1 n=$2 db=$out/run.db dump=$out/dump.pcap text=$work/out.txt r m
    for ((r = 1; r <= reps; r++)); do
        echo "  round $r of $reps ($n packets)" >&2
        in_turn read_tw read_base
        if [[ -n $tcpdump_bin ]]; then
            in_turn dump_tw dump_base
            in_turn verbose_tw verbose_base
        fi
        for m in 1 2; do
            in_turn mode_tw mode_base
        done
    done
    rm -f "$db" "$dump"
}

verdict() { awk -v v="$1" -v goal="$2" 'BEGIN {print (v <= goal) ? "met" : "NOT met"}'; }
quotient() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
# round_ratio LABEL: the median of the ratios of the two runs of each round, which were measured
# one right after the other; it follows the program's cost even while the machine's load shifts.
round_ratio() {
    paste -d' ' <(cut -d' ' -f1 "$work/results/$1.tw") <(cut -d' ' -f1 "$work/results/$1.base") |
        awk '{print $1 / $2}' | median | xargs printf '%.2f'
}
row() {  # row N NAME LABEL BASELINE GOAL
    local a b ca cb per_round
    a=$(seconds_of "$1.$3.tw") b=$(seconds_of "$1.$3.base")
    ca=$(cpu_of "$1.$3.tw") cb=$(cpu_of "$1.$3.base")
    per_round=$(round_ratio "$1.$3")
    say "| $2 | $a | $4 | $b | $(quotient "$a" "$b") | $per_round | <= $5 | $(
        verdict "$per_round" "$5") | $ca / $cb = $(quotient "$ca" "$cb") |"
}
table() {  # table N
    local n=$1
    say ""
    say "### $n packets ($(info "$(trace "$n")" bytes) bytes, $(info "$(trace "$n")" conversations) conversations), medians of $reps runs"
    say ""
    say "| tidewrack | wall s | baseline | wall s | ratio of medians | median of round ratios | goal | status | CPU s, ratio |"
    say "|---|---|---|---|---|---|---|---|---|"
    row "$n" '`-r T`' read '`bare_read_loop T`' 1.5
    if [[ -n $tcpdump_bin ]]; then
        row "$n" '`-r T -w out`' dump '`tcpdump -r T -w out`' 1.1
        row "$n" '`-v -r T`' verbose '`tcpdump -n -r T`' 0.8
    else
        say "| (tcpdump not available: its two pairs skipped) | | | | | | | | |"
    fi
    row "$n" '`-r T -d db` (mode 1)' mode1 '`bare_sql_loop 1 T db`' 1.1
    row "$n" '`-r T -d db -m 2`' mode2 '`bare_sql_loop 2 T db`' 1.1
}

# instructions LABEL OUT COMMAND...: user-space instructions of one run under callgrind.
instructions() {
    local label=$1 stdout_file=$2
    shift 2
    if ! valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" "$@" \
        >"$stdout_file" 2>"$work/callgrind.log"; then
        echo "failed under callgrind: $* (see $work/callgrind.log)" >&2
        exit 1
    fi
    awk '/^(summary|totals):/ {print $2; exit}' "$work/callgrind.out" >"$work/results/$label.ir"
    rm -f "$work/callgrind.out"
}
instruction_row() {  # instruction_row NAME LABEL BASELINE
    local a b
    a=$(cat "$work/results/$2.tw.ir") b=$(cat "$work/results/$2.base.ir")
    say "| $1 | $a | $3 | $b | $(quotient "$a" "$b") |"
}

# audit N: the counting library on one run in mode 1 with a dump, and one verbose run in mode 2.
audit() {
    local t n=$1 name
    t=$(trace "$n")
    for name in quiet verbose; do
        rm -f "$out/audit.db" "$out/dump.pcap"
        local args=(-r "$t" -w "$out/dump.pcap" -d "$out/audit.db")
        [[ $name == verbose ]] && args=(-v -r "$t" -d "$out/audit.db" -m 2)
        COUNT_ALLOCATIONS_REPORT=$work/results/audit.$name.$n \
            LD_PRELOAD=$bin/libcount_allocations.so "$tw" "${args[@]}" >/dev/null
    done
    rm -f "$out/audit.db" "$out/dump.pcap"
}
count_of() { awk -v k="$2" '$1 == k {print $2}' "$work/results/$1"; }

rm -rf "$work/results" "$work/stderr.log"
mkdir -p "$work/results"
small=100000 large=1000000
((quick)) && large=

say "# tidewrack benchmark, $(date -u '+%Y-%m-%d %H:%M UTC')"
say ""
say "- CPU: $(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo), $(nproc) cores; memory $(awk '/MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo); kernel $(uname -r)"
say "- libraries: $(dpkg-query -W -f '${Package} ${Version}, ' libpcap0.8 libsqlite3-0 2>/dev/null || true)$( [[ -n $tcpdump_bin ]] && "$tcpdump_bin" --version 2>&1 | head -1)"
say "- load average at start: $(cut -d' ' -f1-3 /proc/loadavg); databases and dumps written to $out ($(df --output=fstype "$out" | tail -1))"

for n in $small $large; do
    pairs "$(trace "$n")" "$n"
done
for n in $small $large; do
    table "$n"
done

say ""
say "### Peak resident memory, mode 1 (highest of the runs)"
say ""
say "| packets | peak RSS KiB |"
say "|---|---|"
say "| $small | $(kib_of "$small.mode1.tw") |"
if [[ -n $large ]]; then
    say "| $large | $(kib_of "$large.mode1.tw") |"
fi
if ((big)); then
    echo "5M-vs-50k memory check..." >&2
    for n in 50000 5000000; do
        rm -f "$out/run.db"
        measure "$n.mode1.tw" "$work/out.txt" "$tw" -r "$(trace "$n")" -d "$out/run.db"
        say "| $n | $(kib_of "$n.mode1.tw") |"
    done
    rm -f "$out/run.db"
fi
say ""
if [[ -n $large ]]; then
    a=$(kib_of "$small.mode1.tw") b=$(kib_of "$large.mode1.tw")
    say "- $small vs $large: difference $((b - a)) KiB (goal: within 1024 KiB, both under 16384 KiB): $(
        ((b - a <= 1024 && a - b <= 1024 && a < 16384 && b < 16384)) && echo met || echo NOT met)"
fi
if ((big)); then
    a=$(kib_of 50000.mode1.tw) b=$(kib_of 5000000.mode1.tw)
    say "- 50000 vs 5000000: difference $((b - a)) KiB (goal: at most 1024 KiB more): $(
        ((b - a <= 1024)) && echo met || echo NOT met)"
fi

if ((callgrind)) && command -v valgrind >/dev/null; then
    echo "counting instructions with callgrind..." >&2
    t=$(trace "$small") db=$out/run.db dump=$out/dump.pcap text=$work/out.txt
    instructions read.tw "$text" "$tw" -r "$t"
    instructions read.base "$text" "$bin/bare_read_loop" "$t"
    if [[ -n $tcpdump_bin ]]; then
        rm -f "$dump" && instructions dump.tw "$text" "$tw" -r "$t" -w "$dump"
        rm -f "$dump" && instructions dump.base "$text" "$tcpdump_bin" "${tcpdump_user[@]}" -r "$t" -w "$dump"
        instructions verbose.tw "$text" "$tw" -v -r "$t"
        instructions verbose.base "$text" "$tcpdump_bin" "${tcpdump_user[@]}" -n -r "$t"
    fi
    for m in 1 2; do
        rm -f "$db" && instructions "mode$m.tw" "$text" "$tw" -r "$t" -d "$db" -m "$m"
        rm -f "$db" && instructions "mode$m.base" "$text" "$bin/bare_sql_loop" "$m" "$t" "$db"
    done
    rm -f "$db" "$dump"
    say ""
    say "### Instructions executed in user space (callgrind), $small packets"
    say ""
    say "| tidewrack | instructions | baseline | instructions | ratio |"
    say "|---|---|---|---|---|"
    instruction_row '`-r T`' read '`bare_read_loop T`'
    if [[ -n $tcpdump_bin ]]; then
        instruction_row '`-r T -w out`' dump '`tcpdump -r T -w out`'
        instruction_row '`-v -r T`' verbose '`tcpdump -n -r T`'
    fi
    instruction_row '`-r T -d db` (mode 1)' mode1 '`bare_sql_loop 1 T db`'
    instruction_row '`-r T -d db -m 2`' mode2 '`bare_sql_loop 2 T db`'
fi

if [[ -n $large ]]; then
    echo "auditing the per-packet work..." >&2
    audit "$small"
    audit "$large"
    extra=$((large - small))
    say ""
    say "### Per-packet work: a $small-packet run against a $large-packet run"
    say ""
    say "| run | counter | $small | $large | per extra packet |"
    say "|---|---|---|---|---|"
    for name in quiet verbose; do
        for k in allocations_own allocations_sqlite allocations_pcap allocations_other \
            localtime_calls own_text_comparisons own_flushes; do
            a=$(count_of "audit.$name.$small" "$k") b=$(count_of "audit.$name.$large" "$k")
            say "| $name | $k | $a | $b | $(awk -v a="$a" -v b="$b" -v n="$extra" 'BEGIN {printf "%.4f", (b - a) / n}') |"
        done
    done
    say ""
    say "(quiet: \`-r T -w dump -d db\`; verbose: \`-v -r T -d db -m 2\`; distinct seconds in the traces: $(info "$(trace "$small")" distinct_seconds) and $(info "$(trace "$large")" distinct_seconds))"
fi

if command -v strace >/dev/null; then
    t=$(trace "$small")
    strace -f -e trace=write -o "$work/strace.txt" "$tw" -r "$t" >"$work/out.txt"
    say ""
    say "- spinner: $small packets wrote $(stat -c %s "$work/out.txt") bytes to standard output in $(grep -c '^[0-9]* *write(1,' "$work/strace.txt") write calls"
fi

if ((!keep)); then
    rm -f "$work"/trace-*.pcap "$work"/trace-*.pcap.info
fi
rm -f "$work/out.txt" "$work/strace.txt" "$work/callgrind.log"
rmdir "$out" 2>/dev/null || true
echo "report saved in $report" >&2
