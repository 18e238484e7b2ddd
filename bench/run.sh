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
# and each of the five against the same run of an earlier build of the program (by default
# bf57aca, the program before its database start-up and SQLite set-up were made faster): the
# database modes at most 0.8 of its time, the others no slower (at most 1.05), the same peak
# memory, and byte-identical databases. The database modes are also set against
# bare_prepared_loop, which writes the same database through prepared statements: the ceiling
# of what SQLite can do, and the price of the program's SQL text.
# The extended record: tidewrack -x -r T -d db against tidewrack -r T -d db, in both modes, on the
# same IPv4 trace, goal <= 1.05, with the classic tables of the two databases the same rows; and
# tidewrack -x on the IPv6 twin of the trace (the same traffic, every packet IPv6) against the
# IPv4 run, goal <= 1.2: what an IPv6 frame costs against an IPv4 frame.
# The names of the extended record: tidewrack -x -r T -d db against the same run of the program
# as it was before it read names (by default a2f62f9, built once), goal <= 1.05, and against the
# classic run tidewrack -r T -d db, goal <= 1.15, on the large trace of which a fifth is DNS
# lookups (generate_trace --dns 20) and on the benchmark trace itself: wall times, peak memory,
# and the instructions of both modes under callgrind on the 100k-packet DNS trace, with the share
# of the instructions that reading names takes (callgrind_annotate).
# Start-up on a disk: the bundled sample analysed into a database on the root filesystem
# against the same run on tmpfs, goal <= 1.5 (each create statement commits on its own).
# Memory: peak RSS of mode 1 at 100k and 1M packets, equal within 1 MiB and under 16 MiB; at
# 5M packets no more than at 50k plus 1 MiB.
# Instructions: the same pairs once under callgrind on the 100k trace, counting the instructions
# each side executes in user space: a measure that other work on the machine cannot disturb.
# Audit: allocations, local-time conversions, text comparisons and flushes of the program's own
# code (count_allocations.so), a 100k run against a 1M run, also of the extended record on traces
# where a tenth of the frames are not IP; write calls of the spinner (strace).
# The connection record (CONNECTIONS, written under -x): the instructions of -x against the
# classic run, modes 1 and 2, under callgrind, on the 1M benchmark trace and on a 1M trace rich in
# connections (45,000 TCP connections), goal <= 1.10; and the peak RSS of -x on a SYN flood from 2
# million distinct sources, modes 1, 2 and 3, goal under 64 MiB.
#
# Usage: bench/run.sh [--quick] [--reps N] [--no-5m] [--no-callgrind] [--no-connections] [--keep]
#                     [--no-build] [--baseline-rev REV | --baseline PROGRAM]
#   --quick     the 100k-packet trace only (a few minutes), no 5M memory check, no callgrind, no
#               connection record
#   --reps N    runs of each program per pair (default 5)
#   --no-5m     skip the 5M-vs-50k memory check (it writes a 3 GB trace)
#   --no-callgrind  skip the instruction counts (they take a few minutes)
#   --no-connections  skip the connection record's measures (some 40 minutes under callgrind)
#   --keep      keep the generated traces in the work directory
#   --no-build  use the binaries already built
#   --baseline-rev REV  the earlier program to compare with, built from that git revision of
#               this repository (default bf57aca) in $BENCH_DIR/baseline-REV, once
#   --baseline PROGRAM  an earlier program already built, instead
#   --names-rev REV  the program before it read names, built from that revision (default
#               a2f62f9, the parent of the commit that wired the names in)
#   --no-names  skip the names section
# Environment: BUILD (default build/release), BENCH_DIR (traces and report, default
# /tmp/tidewrack-bench), OUT_DIR (databases and dumps written by the runs, default a directory in
# /dev/shm), DISK_DIR (the start-up runs on a disk, default /var/tmp/tidewrack-bench-disk).
# Outputs go to memory by default, so that the disk's own variations do not drown the
# comparison; give OUT_DIR on a disk to measure with it. The report is printed and saved as
# $BENCH_DIR/report.md.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
# shellcheck source=earlier_build.sh
source "$here/earlier_build.sh"
build=${BUILD:-$repo/build/release}
work=${BENCH_DIR:-/tmp/tidewrack-bench}
out=${OUT_DIR:-}
if [[ -z $out ]]; then
    out=$work/out
    [[ -d /dev/shm && -w /dev/shm ]] && out=/dev/shm/tidewrack-bench-out
fi
disk=${DISK_DIR:-/var/tmp/tidewrack-bench-disk}
reps=5 quick=0 big=1 keep=0 compile=1 callgrind=1 connections=1 baseline_rev=bf57aca
baseline_program= names_rev=a2f62f9 names=1
while (($#)); do
    case $1 in
    --baseline-rev) baseline_rev=$2; shift ;;
    --baseline) baseline_program=$(realpath "$2"); shift ;;
    --names-rev) names_rev=$2; shift ;;
    --no-names) names=0 ;;
    --quick) quick=1 big=0 callgrind=0 connections=0 ;;
    --no-callgrind) callgrind=0 ;;
    --no-connections) connections=0 ;;
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
        bare_prepared_loop run_measured compare_databases count_allocations >/dev/null
fi
tw=$build/tidewrack
bin=$build/bench
mkdir -p "$work" "$out" "$disk"

# The earlier program: a release build of the given revision's sources, made once.
if [[ -z $baseline_program ]]; then
    commit=$(git -C "$repo" rev-parse --short "$baseline_rev^{commit}")
    prev_dir=$work/baseline-$commit
    baseline_program=$(earlier_build "$repo" "$commit" tidewrack "$prev_dir")
    baseline_name="tidewrack $commit"
else
    baseline_name="$baseline_program"
fi
prev=$baseline_program
# The program before it read names: a release build of that revision, made once.
if ((names)); then
    names_commit=$(git -C "$repo" rev-parse --short "$names_rev^{commit}")
    before_names=$(earlier_build "$repo" "$names_commit" tidewrack "$work/baseline-$names_commit")
    names_name="tidewrack $names_commit"
fi
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

# trace N [OPTION...]: the path of an N-packet trace, generated once with the generator's options.
trace() {
    local n=$1
    shift
    local path=$work/trace-$n$(printf '%s' "$@" | tr -c 'a-z0-9' '-').pcap
    if [[ ! -s $path || ! -s $path.info ]]; then
        echo "generating $n-packet trace $*..." >&2
        "$bin/generate_trace" "$@" "$n" "$path" >"$path.info"
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

# One measured run of each program of each pair; they read the variables of pairs(). "prev" is
# the earlier program, "prep" the prepared-statement ceiling.
read_tw() { measure "$n.read.tw" "$text" "$tw" -r "$t"; }
read_prev() { measure "$n.read.prev" "$text" "$prev" -r "$t"; }
read_base() { measure "$n.read.base" "$text" "$bin/bare_read_loop" "$t"; }
dump_tw() { rm -f "$dump" && measure "$n.dump.tw" "$text" "$tw" -r "$t" -w "$dump"; }
dump_prev() { rm -f "$dump" && measure "$n.dump.prev" "$text" "$prev" -r "$t" -w "$dump"; }
dump_base() {
    rm -f "$dump" && measure "$n.dump.base" "$text" "$tcpdump_bin" "${tcpdump_user[@]}" -r "$t" -w "$dump"
}
verbose_tw() { measure "$n.verbose.tw" "$text" "$tw" -v -r "$t"; }
verbose_prev() { measure "$n.verbose.prev" "$text" "$prev" -v -r "$t"; }
verbose_base() { measure "$n.verbose.base" "$text" "$tcpdump_bin" "${tcpdump_user[@]}" -n -r "$t"; }
# Each program keeps its own database of the mode, so that the last ones can be compared.
mode_tw() { rm -f "$db.tw$m" && measure "$n.mode$m.tw" "$text" "$tw" -r "$t" -d "$db.tw$m" -m "$m"; }
mode_prev() {
    rm -f "$db.prev$m" && measure "$n.mode$m.prev" "$text" "$prev" -r "$t" -d "$db.prev$m" -m "$m"
}
mode_base() {
    rm -f "$db.base$m" && measure "$n.mode$m.base" /dev/null "$bin/bare_sql_loop" "$m" "$t" "$db.base$m"
}
mode_prep() {
    rm -f "$db.prep$m" &&
        measure "$n.mode$m.prep" /dev/null "$bin/bare_prepared_loop" "$m" "$t" "$db.prep$m"
}
ext_tw() { rm -f "$db.ext$m" && measure "$n.ext$m.tw" "$text" "$tw" -x -r "$t" -d "$db.ext$m" -m "$m"; }
ext6_tw() { rm -f "$db.six$m" && measure "$n.six$m.tw" "$text" "$tw" -x -r "$t6" -d "$db.six$m" -m "$m"; }
# in_turn A B...: in the order given in odd rounds, the other way round in even ones, so that no
# program always goes first; the program in the middle runs right beside both of its neighbours.
in_turn() {
    local f list=("$@")
    if ((r % 2 == 0)); then
        list=()
        for f in "$@"; do list=("$f" "${list[@]}"); done
    fi
    for f in "${list[@]}"; do $f; done
}

# pairs T SIZE: run every pair on trace T, several rounds.
pairs() {
    local t=$1 n=$2 db=$out/run.db dump=$out/dump.pcap text=$work/out.txt r m t6
    t6=$(trace "$n" --ipv6)
    for ((r = 1; r <= reps; r++)); do
        echo "  round $r of $reps ($n packets)" >&2
        in_turn read_prev read_tw read_base
        if [[ -n $tcpdump_bin ]]; then
            in_turn dump_prev dump_tw dump_base
            in_turn verbose_prev verbose_tw verbose_base
        fi
        for m in 1 2; do
            in_turn mode_prev mode_tw ext_tw ext6_tw mode_base mode_prep
        done
    done
    # The databases of the last round: the earlier program's file, byte for byte, and the
    # baselines' the same rows.
    for m in 1 2; do
        if cmp -s "$db.tw$m" "$db.prev$m"; then
            echo "byte-identical" >"$work/results/$n.mode$m.same"
        elif "$bin/compare_databases" "$db.tw$m" "$db.prev$m" >/dev/null; then
            echo "same rows, different bytes" >"$work/results/$n.mode$m.same"
        else
            echo "DIFFERENT" >"$work/results/$n.mode$m.same"
        fi
        for b in base prep; do
            "$bin/compare_databases" "$db.tw$m" "$db.$b$m" >/dev/null ||
                echo "the $b baseline wrote other rows than tidewrack in mode $m" >&2
        done
        if "$bin/compare_databases" --tables-of-first "$db.tw$m" "$db.ext$m" >/dev/null; then
            echo "same classic tables" >"$work/results/$n.ext$m.same"
        else
            echo "DIFFERENT classic tables" >"$work/results/$n.ext$m.same"
        fi
        rm -f "$db".*"$m"
    done
    rm -f "$dump"
}

verdict() { awk -v v="$1" -v goal="$2" 'BEGIN {print (v <= goal) ? "met" : "NOT met"}'; }
quotient() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
# round_ratio LABEL: the median of the ratios of the two runs of each round, which were measured
# one right after the other; it follows the program's cost even while the machine's load shifts.
# The second argument names the other side (default base).
round_ratio() { rounds_of "$1.tw" "$1.${2:-base}"; }
# rounds_of A B: the median of A's time over B's, round by round.
rounds_of() {
    paste -d' ' <(cut -d' ' -f1 "$work/results/$1") <(cut -d' ' -f1 "$work/results/$2") |
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

# against_prev N: the same runs of the earlier program, with peak memory and the databases.
prev_row() {  # prev_row N NAME LABEL GOAL
    local a b ca cb per_round ka kb same=
    a=$(seconds_of "$1.$3.tw") b=$(seconds_of "$1.$3.prev")
    ca=$(cpu_of "$1.$3.tw") cb=$(cpu_of "$1.$3.prev")
    ka=$(kib_of "$1.$3.tw") kb=$(kib_of "$1.$3.prev")
    per_round=$(round_ratio "$1.$3" prev)
    [[ -f $work/results/$1.$3.same ]] && same=$(cat "$work/results/$1.$3.same")
    say "| $2 | $a | $b | $(quotient "$a" "$b") | $per_round | <= $4 | $(
        verdict "$per_round" "$4") | $(quotient "$ca" "$cb") | $ka / $kb ($((ka - kb))) | $same |"
}
against_prev() {
    local n=$1
    say ""
    say "### $n packets: tidewrack against $baseline_name, medians of $reps runs"
    say ""
    say "| run | tidewrack s | earlier s | ratio of medians | median of round ratios | goal | status | CPU ratio | peak RSS KiB, now / earlier (difference) | databases |"
    say "|---|---|---|---|---|---|---|---|---|---|"
    prev_row "$n" '`-r T`' read 1.05
    if [[ -n $tcpdump_bin ]]; then
        prev_row "$n" '`-r T -w out`' dump 1.05
        prev_row "$n" '`-v -r T`' verbose 1.05
    fi
    prev_row "$n" '`-r T -d db` (mode 1)' mode1 0.8
    prev_row "$n" '`-r T -d db -m 2`' mode2 0.8
    say ""
    say "The ceiling: the same database through prepared statements and bound values."
    say ""
    say "| tidewrack | wall s | \`bare_prepared_loop\` s | ratio of medians | median of round ratios | \`bare_sql_loop\` / ceiling |"
    say "|---|---|---|---|---|---|"
    local m a b
    for m in 1 2; do
        a=$(seconds_of "$n.mode$m.tw") b=$(seconds_of "$n.mode$m.prep")
        say "| mode $m | $a | $b | $(quotient "$a" "$b") | $(round_ratio "$n.mode$m" prep) | $(
            quotient "$(seconds_of "$n.mode$m.base")" "$b") |"
    done
}

# extended N: the extended record against the classic run, and IPv6 against IPv4, mode by mode.
extended() {
    local n=$1 m a b per_round
    say ""
    say "### $n packets: the extended record (\`-x\`) against the classic run, and IPv6 against IPv4, medians of $reps runs"
    say ""
    say "| run | wall s | against | wall s | ratio of medians | median of round ratios | goal | status | peak RSS KiB | classic tables |"
    say "|---|---|---|---|---|---|---|---|---|---|"
    for m in 1 2; do
        a=$(seconds_of "$n.ext$m.tw") b=$(seconds_of "$n.mode$m.tw")
        per_round=$(rounds_of "$n.ext$m.tw" "$n.mode$m.tw")
        say "| \`-x -r T -d db -m $m\` | $a | \`-r T -d db -m $m\` | $b | $(quotient "$a" "$b") | $per_round | <= 1.05 | $(
            verdict "$per_round" 1.05) | $(kib_of "$n.ext$m.tw") / $(kib_of "$n.mode$m.tw") | $(
            cat "$work/results/$n.ext$m.same") |"
    done
    for m in 1 2; do
        a=$(seconds_of "$n.six$m.tw") b=$(seconds_of "$n.ext$m.tw")
        per_round=$(rounds_of "$n.six$m.tw" "$n.ext$m.tw")
        say "| \`-x -r T6 -d db -m $m\` (IPv6) | $a | \`-x -r T -d db -m $m\` (IPv4) | $b | $(quotient "$a" "$b") | $per_round | <= 1.2 | $(
            verdict "$per_round" 1.2) | $(kib_of "$n.six$m.tw") / $(kib_of "$n.ext$m.tw") | |"
    done
}

# names N C: the extended record as it reads names against itself before it did, and against the
# classic run, in mode 1, on the N-packet trace a fifth of which is DNS and on the benchmark
# trace; then the instructions of both modes under callgrind on the C-packet DNS trace.
names_x() { rm -f "$db.nx" && measure "$label.x" "$text" "$tw" -x -r "$t" -d "$db.nx"; }
names_prev() { rm -f "$db.np" && measure "$label.prev" "$text" "$before_names" -x -r "$t" -d "$db.np"; }
names_classic() { rm -f "$db.nc" && measure "$label.classic" "$text" "$tw" -r "$t" -d "$db.nc"; }
names_section() {
    local n=$1 c=$2 db=$out/names.db text=$work/out.txt t label r m kind dns
    say ""
    say "### $n packets: the names of \`-x\` against \`-x\` before them ($names_name) and against the classic run, mode 1, medians of $reps runs"
    say ""
    say "| trace | \`-x\` s | before names s | median of round ratios | goal | status | classic s | \`-x\` / classic | goal | status | peak RSS KiB: \`-x\` / before / classic | NAMES rows |"
    say "|---|---|---|---|---|---|---|---|---|---|---|---|"
    for kind in dns plain; do
        if [[ $kind == dns ]]; then t=$(trace "$n" --dns 20); else t=$(trace "$n"); fi
        label=$n.names.$kind
        for ((r = 1; r <= reps; r++)); do
            echo "  names, round $r of $reps ($n packets, $kind)" >&2
            in_turn names_prev names_x names_classic
        done
        local before classic rows
        before=$(rounds_of "$label.x" "$label.prev") classic=$(rounds_of "$label.x" "$label.classic")
        rows=$(sqlite3 "$db.nx" 'SELECT count(*) FROM NAMES' 2>/dev/null || echo '?')
        dns=$(sqlite3 "$db.nx" "SELECT printf('%.1f %%', 100.0 * sum(ipproto = 'UDP' AND (sPort = 53 OR dPort = 53)) / count(*)) FROM FRAMES" 2>/dev/null || echo '?')
        say "| $([[ $kind == dns ]] && echo "\`--dns 20\` ($dns DNS)" || echo "benchmark trace ($dns DNS)") | $(
            seconds_of "$label.x") | $(seconds_of "$label.prev") | $before | <= 1.05 | $(verdict "$before" 1.05) | $(
            seconds_of "$label.classic") | $classic | <= 1.15 | $(verdict "$classic" 1.15) | $(
            kib_of "$label.x") / $(kib_of "$label.prev") / $(kib_of "$label.classic") | $rows |"
        rm -f "$db".n?
    done
    if ((callgrind)) && command -v valgrind >/dev/null; then
        echo "counting the instructions of the names with callgrind ($c packets)..." >&2
        t=$(trace "$c" --dns 20)
        for m in 1 2; do
            rm -f "$db" && instructions "names$m.x" "$text" "$tw" -x -r "$t" -d "$db" -m "$m" keep
            rm -f "$db" && instructions "names$m.prev" "$text" "$before_names" -x -r "$t" -d "$db" -m "$m"
            rm -f "$db" && instructions "names$m.classic" "$text" "$tw" -r "$t" -d "$db" -m "$m"
        done
        rm -f "$db"
        say ""
        say "Instructions in user space (callgrind), $c packets of the \`--dns 20\` trace; \"names\" is what the reading of names takes inside \`-x\` (\`NameTracker::packet\` and \`ExtendedRecord::writeName\`, inclusive):"
        say ""
        say "| mode | \`-x\` | before names | ratio | goal | status | names | share | classic | \`-x\` / classic | goal | status |"
        say "|---|---|---|---|---|---|---|---|---|---|---|---|"
        local x p c own
        for m in 1 2; do
            x=$(cat "$work/results/names$m.x.ir") p=$(cat "$work/results/names$m.prev.ir")
            c=$(cat "$work/results/names$m.classic.ir")
            own=$(callgrind_annotate --inclusive=yes "$work/results/names$m.x.callgrind" 2>/dev/null |
                awk '/NameTracker::packet\(|ExtendedRecord::writeName\(/ {gsub(/,/, "", $1); sum += $1} END {print sum + 0}')
            say "| $m | $x | $p | $(quotient "$x" "$p") | <= 1.05 | $(verdict "$(quotient "$x" "$p")" 1.05) | $own | $(
                awk -v a="$own" -v b="$x" 'BEGIN {printf "%.2f %%", 100 * a / b}') | $c | $(quotient "$x" "$c") | <= 1.15 | $(
                verdict "$(quotient "$x" "$c")" 1.15) |"
            rm -f "$work/results/names$m.x.callgrind"
        done
    fi
}

# startup: the bundled sample into a database on the disk and on tmpfs, alternately.
startup() {
    local sample=$repo/samples/web-session.pcap r
    local on_disk=$disk/sample.db in_memory=$out/sample.db text=$work/out.txt
    sample_disk() { rm -f "$on_disk" && measure sample.disk.tw "$text" "$tw" -r "$sample" -d "$on_disk"; }
    sample_shm() { rm -f "$in_memory" && measure sample.shm.tw "$text" "$tw" -r "$sample" -d "$in_memory"; }
    sample_prev() { rm -f "$on_disk" && measure sample.disk.prev "$text" "$prev" -r "$sample" -d "$on_disk"; }
    for ((r = 1; r <= reps; r++)); do
        in_turn sample_prev sample_disk sample_shm
    done
    rm -f "$on_disk" "$in_memory"
    local a b c
    a=$(seconds_of sample.disk.tw) b=$(seconds_of sample.shm.tw) c=$(seconds_of sample.disk.prev)
    local per_round
    per_round=$(rounds_of sample.disk.tw sample.shm.tw)
    say ""
    say "### Start-up: the 72-packet sample into a new database, medians of $reps runs"
    say ""
    say "| run | wall s | against tmpfs (median of round ratios) | goal | status |"
    say "|---|---|---|---|---|"
    say "| tidewrack, database on tmpfs ($out) | $b | 1 | | |"
    say "| tidewrack, database on disk ($disk, $(df --output=fstype "$disk" | tail -1)) | $a | $(
        quotient "$a" "$b") ($per_round) | <= 1.5 | $(verdict "$per_round" 1.5) |"
    say "| $baseline_name, database on disk | $c | $(quotient "$c" "$b") | | |"
}

# instructions LABEL OUT COMMAND... [keep]: user-space instructions of one run under callgrind;
# with a last word "keep", its profile is kept as results/LABEL.callgrind.
instructions() {
    local label=$1 stdout_file=$2 keep_profile=0
    shift 2
    if [[ ${*: -1} == keep ]]; then
        keep_profile=1
        set -- "${@:1:$#-1}"
    fi
    if ! valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" "$@" \
        >"$stdout_file" 2>"$work/callgrind.log"; then
        echo "failed under callgrind: $* (see $work/callgrind.log)" >&2
        exit 1
    fi
    awk '/^(summary|totals):/ {print $2; exit}' "$work/callgrind.out" >"$work/results/$label.ir"
    if ((keep_profile)); then
        mv "$work/callgrind.out" "$work/results/$label.callgrind"
    fi
    rm -f "$work/callgrind.out"
}
instruction_row() {  # instruction_row NAME LABEL BASELINE
    local a b
    a=$(cat "$work/results/$2.tw.ir") b=$(cat "$work/results/$2.base.ir")
    say "| $1 | $a | $3 | $b | $(quotient "$a" "$b") |"
}

# audit N: the counting library on one run in mode 1 with a dump, one verbose run in mode 2, and
# one run of the extended record in mode 1 on a trace a tenth of which is not IP.
audit() {
    local t n=$1 name
    t=$(trace "$n")
    for name in quiet verbose extended; do
        rm -f "$out/audit.db" "$out/dump.pcap"
        local args=(-r "$t" -w "$out/dump.pcap" -d "$out/audit.db")
        [[ $name == verbose ]] && args=(-v -r "$t" -d "$out/audit.db" -m 2)
        [[ $name == extended ]] && args=(-x -r "$(trace "$n" --other 10)" -d "$out/audit.db")
        COUNT_ALLOCATIONS_REPORT=$work/results/audit.$name.$n \
            LD_PRELOAD=$bin/libcount_allocations.so "$tw" "${args[@]}" >/dev/null
    done
    rm -f "$out/audit.db" "$out/dump.pcap"
}
count_of() { awk -v k="$2" '$1 == k {print $2}' "$work/results/$1"; }

# connection_record: the connection record's cost in instructions against the classic run, on the
# benchmark trace and on one rich in connections, and the peak memory of a SYN flood.
connection_record() {
    local n=1000000 db=$out/run.db text=$work/out.txt rich flood kind t m a b
    rich=$(trace "$n" --connections 45000)
    flood=$(trace 2000000 --syn-flood)
    say ""
    say "### The connection record: \`-x\` against the classic run, in instructions (callgrind)"
    say ""
    if ((callgrind)) && command -v valgrind >/dev/null; then
        echo "counting the connection record's instructions with callgrind..." >&2
        say "| trace | mode | classic | \`-x\` | ratio | goal | status | rows of CONNECTIONS |"
        say "|---|---|---|---|---|---|---|---|"
        for kind in benchmark rich; do
            t=$(trace "$n")
            [[ $kind == rich ]] && t=$rich
            for m in 1 2; do
                rm -f "$db" && instructions "conn.$kind.classic$m" "$text" "$tw" -r "$t" -d "$db" -m "$m"
                rm -f "$db" && instructions "conn.$kind.x$m" "$text" "$tw" -x -r "$t" -d "$db" -m "$m"
                a=$(cat "$work/results/conn.$kind.classic$m.ir") b=$(cat "$work/results/conn.$kind.x$m.ir")
                say "| $kind, $n packets, $(info "$t" conversations) conversations | $m | $a | $b | $(
                    quotient "$b" "$a") | <= 1.10 | $(verdict "$(quotient "$b" "$a")" 1.10) | $(
                    rows_of "$db" "SELECT count(*) FROM CONNECTIONS") |"
            done
        done
    else
        say "(no instruction counts: --no-callgrind, or valgrind is not installed)"
    fi
    say ""
    say "### A SYN flood from 2,000,000 distinct sources ($(info "$flood" bytes) bytes, 20 s)"
    say ""
    say "| run | wall s | peak RSS KiB | goal | status | rows of CONNECTIONS by end |"
    say "|---|---|---|---|---|---|"
    for m in 1 2 3; do
        rm -f "$db" && measure "flood.x$m" "$text" "$tw" -x -r "$flood" -d "$db" -m "$m"
        a=$(kib_of "flood.x$m")
        say "| \`-x -r flood -d db -m $m\` | $(seconds_of "flood.x$m") | $a | < 65536 | $(
            ((a < 65536)) && echo met || echo NOT met) | $(rows_of "$db" \
            "SELECT group_concat(ended || ' ' || n, ', ') FROM (SELECT ended, count(*) AS n FROM CONNECTIONS GROUP BY 1)") |"
    done
    for m in 1 2; do
        rm -f "$db" && measure "flood.classic$m" "$text" "$tw" -r "$flood" -d "$db" -m "$m"
        say "| \`-r flood -d db -m $m\` (classic) | $(seconds_of "flood.classic$m") | $(kib_of "flood.classic$m") | | | |"
    done
    rm -f "$db"
}
# rows_of DB SQL: the query's result by the sqlite3 shell, or "?" without one.
rows_of() { command -v sqlite3 >/dev/null && sqlite3 "$1" "$2" || echo "?"; }

rm -rf "$work/results" "$work/stderr.log"
mkdir -p "$work/results"
small=100000 large=1000000
((quick)) && large=

say "# tidewrack benchmark, $(date -u '+%Y-%m-%d %H:%M UTC')"
say ""
say "- CPU: $(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo), $(nproc) cores; memory $(awk '/MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo); kernel $(uname -r)"
say "- libraries: $(dpkg-query -W -f '${Package} ${Version}, ' libpcap0.8 libsqlite3-0 2>/dev/null || true)$( [[ -n $tcpdump_bin ]] && "$tcpdump_bin" --version 2>&1 | head -1)"
say "- load average at start: $(cut -d' ' -f1-3 /proc/loadavg); databases and dumps written to $out ($(df --output=fstype "$out" | tail -1))"

say "- earlier program: $baseline_name ($prev)"

for n in $small $large; do
    pairs "$(trace "$n")" "$n"
done
for n in $small $large; do
    table "$n"
done
for n in $small $large; do
    against_prev "$n"
done
for n in $small $large; do
    extended "$n"
done
if ((names)); then
    names_section "${large:-$small}" "$small"
fi
startup
samples_same=
for sample in "$repo"/samples/*.pcap; do
    for m in 1 2; do
        rm -f "$out/a.db" "$out/b.db"
        "$tw" -r "$sample" -d "$out/a.db" -m "$m" >/dev/null 2>&1 || true
        "$prev" -r "$sample" -d "$out/b.db" -m "$m" >/dev/null 2>&1 || true
        cmp -s "$out/a.db" "$out/b.db" || samples_same="$samples_same $(basename "$sample") (mode $m)"
    done
done
rm -f "$out/a.db" "$out/b.db"
say ""
say "- databases of the bundled samples, both modes, against the earlier program's: $(
    [[ -z $samples_same ]] && echo byte-identical || echo "DIFFERENT:$samples_same")"

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
    instructions read.prev "$text" "$prev" -r "$t"
    instructions read.base "$text" "$bin/bare_read_loop" "$t"
    if [[ -n $tcpdump_bin ]]; then
        rm -f "$dump" && instructions dump.tw "$text" "$tw" -r "$t" -w "$dump"
        rm -f "$dump" && instructions dump.prev "$text" "$prev" -r "$t" -w "$dump"
        rm -f "$dump" && instructions dump.base "$text" "$tcpdump_bin" "${tcpdump_user[@]}" -r "$t" -w "$dump"
        instructions verbose.tw "$text" "$tw" -v -r "$t"
        instructions verbose.prev "$text" "$prev" -v -r "$t"
        instructions verbose.base "$text" "$tcpdump_bin" "${tcpdump_user[@]}" -n -r "$t"
    fi
    for m in 1 2; do
        rm -f "$db" && instructions "mode$m.tw" "$text" "$tw" -r "$t" -d "$db" -m "$m"
        rm -f "$db" && instructions "mode$m.prev" "$text" "$prev" -r "$t" -d "$db" -m "$m"
        rm -f "$db" && instructions "mode$m.base" "$text" "$bin/bare_sql_loop" "$m" "$t" "$db"
        rm -f "$db" && instructions "mode$m.prep" "$text" "$bin/bare_prepared_loop" "$m" "$t" "$db"
        rm -f "$db" && instructions "ext$m.tw" "$text" "$tw" -x -r "$t" -d "$db" -m "$m"
        rm -f "$db" && instructions "six$m.tw" "$text" "$tw" -x -r "$(trace "$small" --ipv6)" -d "$db" -m "$m"
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
    say ""
    say "| tidewrack | instructions | $baseline_name | ratio | \`bare_prepared_loop\` | ratio |"
    say "|---|---|---|---|---|---|"
    for label in read dump verbose mode1 mode2; do
        [[ -f $work/results/$label.tw.ir ]] || continue
        a=$(cat "$work/results/$label.tw.ir") b=$(cat "$work/results/$label.prev.ir") c= q=
        if [[ -f $work/results/$label.prep.ir ]]; then
            c=$(cat "$work/results/$label.prep.ir") q=$(quotient "$a" "$c")
        fi
        say "| $label | $a | $b | $(quotient "$a" "$b") | $c | $q |"
    done
    say ""
    say "| run | instructions | against | instructions | ratio |"
    say "|---|---|---|---|---|"
    for m in 1 2; do
        a=$(cat "$work/results/ext$m.tw.ir") b=$(cat "$work/results/mode$m.tw.ir")
        c=$(cat "$work/results/six$m.tw.ir")
        say "| \`-x\`, mode $m | $a | classic, mode $m | $b | $(quotient "$a" "$b") |"
        say "| \`-x\` on the IPv6 twin, mode $m | $c | \`-x\` on the IPv4 trace | $a | $(quotient "$c" "$a") |"
    done
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
    for name in quiet verbose extended; do
        for k in allocations_own allocations_sqlite allocations_pcap allocations_other \
            localtime_calls own_text_comparisons own_flushes; do
            a=$(count_of "audit.$name.$small" "$k") b=$(count_of "audit.$name.$large" "$k")
            say "| $name | $k | $a | $b | $(awk -v a="$a" -v b="$b" -v n="$extra" 'BEGIN {printf "%.4f", (b - a) / n}') |"
        done
    done
    say ""
    say "(quiet: \`-r T -w dump -d db\`; verbose: \`-v -r T -d db -m 2\`; extended: \`-x -r T -d db\` on a trace of which a tenth is ARP, LLDP and 802.3; distinct seconds in the traces: $(info "$(trace "$small")" distinct_seconds) and $(info "$(trace "$large")" distinct_seconds))"
fi

((connections)) && connection_record

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
rmdir "$out" "$disk" 2>/dev/null || true
say ""
say "- load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "report saved in $report" >&2
