#!/usr/bin/env bash
# The tidewrack-report benchmark: times the report against the report of an earlier revision
# and against tidewrack building the database it reads, and checks the report's peak memory,
# all measured in the same run.
#
# Pairs, run one right after the other in alternating order, several rounds (medians of the
# per-round ratios):
#   tidewrack-report DB         (text to a file)  vs  the earlier report, the same   goal <= 1.5
#   tidewrack-report -o page.html DB              vs  the earlier report, the same   goal <= 1.5
#   tidewrack-report --host H DB, --port P --protocol TCP DB, --from F --to T DB (text)
#                                                 vs  the earlier report's text      goal <= 1.5
#   tidewrack-report --baseline DB DB (text)      vs  the earlier report's text      goal <= 1.5
#   tidewrack-report -o page.html DB              vs  tidewrack -r T -d DB (mode 1)  goal <= 0.5
#   tidewrack-report DB         (text to a file)  vs  the same                       goal <= 0.5
#   tidewrack-report -o page.html D1..D200        vs  tidewrack-report -o page.html DB goal <= 1.5
# where T is the 1M-packet benchmark trace, DB its mode-1 database, and D1..D200 are 200
# databases of a 5,000-packet trace. Memory: the peak RSS of every report of those at most
# 64 MiB. Also measured, without a goal: --json on DB, the page of T's mode-2 database, and
# the page of T's database made with -x (DBX: its frames merged with FRAMES6 by number and
# placed on the axis of real time by DAYS), against the page of DB.
#
# Then the memory the report needs whatever the traffic: C5M, a frames table of 5 million
# distinct conversations (and about 6 million endpoints) made with sqlite3, is reported as
# text (--rounds5m times), and once against itself as a baseline; goal: peak RSS at most
# 128 MiB. The earlier report reads it once, for the memory and time ratios (--no-baseline-5m
# skips it).
#
# Then the report of many conversations: TC, a 1M-packet trace of 45,000 TCP connections
# (generate_trace --connections), its mode-1 database DBC reported as text against the report of
# 9bbaf38 (the report before the temporary store, the states and the handshakes), the same
# alternating rounds; goal: at most 1.25 times its wall time. And, as times are noisy on a shared
# machine, the instructions of both (callgrind) on the database of a 200k-packet slice of the
# same kind (9,000 connections), once.
#
# Usage: bench/run_report.sh [--reps N] [--rounds5m N] [--no-baseline-5m] [--no-build]
#                            [--baseline-rev REV | --baseline PROGRAM]
#                            [--conversations-rev REV] [--conversations-only]
#   --reps N        rounds of the 1M pairs (default 5)
#   --rounds5m N    reports of C5M (default 1; each takes about a minute)
#   --no-baseline-5m  do not run the earlier report on C5M
#   --no-build      use the binaries already built
#   --baseline-rev REV  the earlier report, built from that git revision of this repository
#                   (default bd70d00, the report before TCP states, handshake times, filters
#                   and baselines) in $BENCH_DIR/baseline-report-REV, once
#   --baseline PROGRAM  an earlier tidewrack-report already built, instead
#   --conversations-rev REV  the earlier report the many conversations are measured against
#                   (default 9bbaf38), built as --baseline-rev is
#   --conversations-only  measure the many conversations only
#   --records-only  measure the report of databases read from their connection record only:
#                   under callgrind on the 200k slice of many conversations, the report of its
#                   -x database against the report of its classic database (goal <= 0.5), and
#                   tidewrack -x -m 3 then its report against argus then racluster (goal: no
#                   more) and nfpcapd then nfdump -a; and one wall time of each pair on the
#                   1M-packet trace of many conversations
# Environment: BUILD (default build/release), BENCH_DIR (traces and report, default
# /tmp/tidewrack-bench; bench/run.sh keeps its traces there too), OUT_DIR (databases and
# pages, default a directory in /dev/shm: see bench/run.sh on why), TMPDIR (where the report
# keeps its temporary database). The report is printed and saved as
# $BENCH_DIR/report-program.md.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
# shellcheck source=earlier_build.sh
source "$here/earlier_build.sh"
build=${BUILD:-$repo/build/release}
work=${BENCH_DIR:-/tmp/tidewrack-bench}
out=${OUT_DIR:-}
if [[ -z $out ]]; then
    out=$work/report-out
    [[ -d /dev/shm && -w /dev/shm ]] && out=/dev/shm/tidewrack-report-bench
fi
reps=5 rounds5m=1 baseline5m=1 compile=1 baseline_rev=bd70d00 baseline_program=
conversations_rev=9bbaf38 conversations_only=0 records_only=0
while (($#)); do
    case $1 in
    --reps) reps=$2; shift ;;
    --rounds5m) rounds5m=$2; shift ;;
    --no-baseline-5m) baseline5m=0 ;;
    --no-build) compile=0 ;;
    --baseline-rev) baseline_rev=$2; shift ;;
    --baseline) baseline_program=$(realpath "$2"); shift ;;
    --conversations-rev) conversations_rev=$2; shift ;;
    --conversations-only) conversations_only=1 ;;
    --records-only) records_only=1 ;;
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

# The earlier report: a release build of the given revision's sources, made once.
if ((conversations_only || records_only)); then
    baseline_name=
elif [[ -z $baseline_program ]]; then
    commit=$(git -C "$repo" rev-parse --short "$baseline_rev^{commit}")
    prev_dir=$work/baseline-report-$commit
    baseline_program=$(earlier_build "$repo" "$commit" tidewrack-report "$prev_dir")
    baseline_name="tidewrack-report $commit"
else
    baseline_name=$baseline_program
fi
before=$baseline_program

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
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", a / b}'; }
verdict() { awk -v v="$1" -v goal="$2" 'BEGIN {print (v <= goal) ? "met" : "NOT met"}'; }
# row RUN-TEXT RUN BASE AGAINST [GOAL]: RUN's time and memory, and the median of its time over
# BASE's, round by round, against GOAL when there is one.
row() {
    local ratio goal="|"
    ratio=$(round_ratio "$2" "$3")
    [[ -z ${5:-} ]] || goal="<= $5 | $(verdict "$ratio" "$5")"
    say "| $1 | $(seconds_of "$2") | $(kib_of "$2") | $4 | $ratio | $goal |"
}

rm -rf "$work/report-results" "$work/report-stderr.log"
mkdir -p "$work/report-results"

# The reports of databases read from their connection record, and flow tools beside them.
if ((records_only)); then
    irs() {  # irs COMMAND...: the instructions of COMMAND, its output to /dev/null
        valgrind --tool=callgrind --callgrind-out-file="$out/callgrind.out" "$@" \
            >/dev/null 2>"$work/report-callgrind.log" || {
            echo "failed under callgrind: $* (see $work/report-callgrind.log)" >&2
            exit 1
        }
        awk '/^(summary|totals):/ {print $2; exit}' "$out/callgrind.out"
    }
    g() { awk -v n="$1" 'BEGIN {printf "%.3f G", n / 1e9}'; }
    slice=$work/trace-200000-connections-9000.pcap full=$work/trace-1000000-connections-45000.pcap
    for n in "200000 9000 $slice" "1000000 45000 $full"; do
        set -- $n
        [[ -s $3 ]] || "$bin/generate_trace" --connections "$2" "$1" "$3" >"$3.info"
    done
    rm -rf "$out/records" && mkdir -p "$out/records/nf"
    r=$out/records
    "$tw" -r "$slice" -d "$r/classic.db" >/dev/null
    "$tw" -x -r "$slice" -d "$r/x1.db" >/dev/null
    echo "  reports under callgrind" >&2
    classic_ir=$(irs "$report" "$r/classic.db") x1_ir=$(irs "$report" "$r/x1.db")
    x3_ir=$(irs "$tw" -x -m 3 -r "$slice" -d "$r/x3.db") x3_report_ir=$(irs "$report" "$r/x3.db")
    have_argus=0 have_nf=0
    if command -v argus >/dev/null && command -v racluster >/dev/null; then
        have_argus=1
        argus_ir=$(irs argus -r "$slice" -w "$r/argus.out") racluster_ir=$(irs racluster -r "$r/argus.out")
    fi
    if command -v nfpcapd >/dev/null && command -v nfdump >/dev/null; then
        have_nf=1
        nfpcapd_ir=$(irs nfpcapd -r "$slice" -w "$r/nf") nfdump_ir=$(irs nfdump -R "$r/nf" -a)
    fi
    : >"$summary"
    say "# tidewrack-report benchmark, databases read from their connection record, $(date -u '+%Y-%m-%d %H:%M UTC')"
    say ""
    say "- CPU: $(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo), $(nproc) cores; load average: $(cut -d' ' -f1-3 /proc/loadavg)"
    say "- trace: $(basename "$slice") (generate_trace --connections 9000 200000)"
    say ""
    say "| run (instructions, 200k slice) | instructions | against | ratio | goal |"
    say "|---|---|---|---|---|"
    say "| report of the classic database | $(g "$classic_ir") | | | |"
    say "| report of the -x database (read from its record) | $(g "$x1_ir") | the classic one's | $(ratio "$x1_ir" "$classic_ir") | <= 0.5 |"
    say "| tidewrack -x -m 3, then its report | $(g "$x3_ir") + $(g "$x3_report_ir") | | | |"
    if ((have_argus)); then
        say "| argus, then racluster | $(g "$argus_ir") + $(g "$racluster_ir") | tidewrack -x -m 3 + report | $(ratio $((x3_ir + x3_report_ir)) $((argus_ir + racluster_ir))) | <= 1 |"
    fi
    if ((have_nf)); then
        say "| nfpcapd, then nfdump -a | $(g "$nfpcapd_ir") + $(g "$nfdump_ir") | tidewrack -x -m 3 + report | $(ratio $((x3_ir + x3_report_ir)) $((nfpcapd_ir + nfdump_ir))) | |"
    fi
    say ""
    echo "  wall times, 1M packets" >&2
    rm -f "$r/x3-1m.db" && rm -rf "$r/nf" && mkdir -p "$r/nf"
    measure x3 /dev/null "$tw" -x -m 3 -r "$full" -d "$r/x3-1m.db"
    measure x3_report /dev/null "$report" "$r/x3-1m.db"
    say "| run, 1M packets | wall s | peak RSS KiB |"
    say "|---|---|---|"
    say "| tidewrack -x -m 3 | $(seconds_of x3) | $(kib_of x3) |"
    say "| its report | $(seconds_of x3_report) | $(kib_of x3_report) |"
    if ((have_argus)); then
        measure argus /dev/null argus -r "$full" -w "$r/argus-1m.out"
        measure racluster /dev/null racluster -r "$r/argus-1m.out"
        say "| argus | $(seconds_of argus) | $(kib_of argus) |"
        say "| racluster | $(seconds_of racluster) | $(kib_of racluster) |"
    fi
    if ((have_nf)); then
        measure nfpcapd /dev/null nfpcapd -r "$full" -w "$r/nf"
        measure nfdump /dev/null nfdump -R "$r/nf" -a
        say "| nfpcapd | $(seconds_of nfpcapd) | $(kib_of nfpcapd) |"
        say "| nfdump -a | $(seconds_of nfdump) | $(kib_of nfdump) |"
    fi
    rm -rf "$out"
    echo "report saved in $summary" >&2
    exit 0
fi

# The report of many conversations, against the earlier report of $conversations_rev.
commit=$(git -C "$repo" rev-parse --short "$conversations_rev^{commit}")
earlier=$(earlier_build "$repo" "$commit" tidewrack-report "$work/baseline-report-$commit")
rich() {  # rich PACKETS CONNECTIONS: the path of such a trace, generated once
    local path=$work/trace-$1-connections-$2.pcap
    if [[ ! -s $path ]]; then
        echo "generating a $1-packet trace of $2 connections..." >&2
        "$bin/generate_trace" --connections "$2" "$1" "$path" >"$path.info"
    fi
    echo "$path"
}
instructions() {  # instructions PROGRAM DB: the instructions of the text report of DB
    valgrind --tool=callgrind --callgrind-out-file="$out/callgrind.out" "$1" "$2" \
        >/dev/null 2>"$work/report-callgrind.log" || {
        echo "failed under callgrind: $1 $2 (see $work/report-callgrind.log)" >&2
        exit 1
    }
    awk '/^(summary|totals):/ {print $2; exit}' "$out/callgrind.out"
}
dbc=$out/connections-1m.db dbc_slice=$out/connections-200k.db
rm -f "$dbc" "$dbc_slice"
"$tw" -r "$(rich 1000000 45000)" -d "$dbc" >/dev/null
"$tw" -r "$(rich 200000 9000)" -d "$dbc_slice" >/dev/null
many_text() { measure many_text "$out/report.txt" "$report" "$dbc"; }
earlier_many_text() { measure earlier_many_text "$out/report.txt" "$earlier" "$dbc"; }
for ((r = 1; r <= reps; r++)); do
    echo "  many conversations, round $r of $reps" >&2
    if ((r % 2)); then many_text && earlier_many_text; else earlier_many_text && many_text; fi
done
echo "  many conversations under callgrind" >&2
now_ir=$(instructions "$report" "$dbc_slice") earlier_ir=$(instructions "$earlier" "$dbc_slice")
report_conversations() {
    say "Many conversations: TC, $(awk '{print $2}' "$(rich 1000000 45000).info") packets of $(awk '{print $4}' "$(rich 1000000 45000).info") conversations, its mode-1 database DBC, text report; earlier report: tidewrack-report $commit"
    say ""
    say "| run | wall s (median of $reps) | peak RSS KiB | against | ratio | goal | status |"
    say "|---|---|---|---|---|---|---|"
    row "\`tidewrack-report DBC\`" "many_text" "earlier_many_text" "the earlier report ($(seconds_of earlier_many_text) s)" 1.25
    say "| instructions, 200k-packet slice | $now_ir | | the earlier report ($earlier_ir) | $(ratio "$now_ir" "$earlier_ir") | | |"
    say ""
}
if ((conversations_only)); then
    : >"$summary"
    say "# tidewrack-report benchmark, many conversations, $(date -u '+%Y-%m-%d %H:%M UTC')"
    say ""
    say "- CPU: $(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo), $(nproc) cores; load average: $(cut -d' ' -f1-3 /proc/loadavg)"
    say ""
    report_conversations
    rm -rf "$out"
    echo "report saved in $summary" >&2
    exit 0
fi
big=$(trace 1000000) small=$(trace 5000)
db=$out/traffic-1m.db db2=$out/frames-1m.db dbx=$out/extended-1m.db c5m=$out/conversations-5m.db
page=$out/page.html
echo "building the databases..." >&2
rm -rf "$db" "$db2" "$dbx" "$c5m" "$out/many" && mkdir -p "$out/many"
"$tw" -r "$big" -d "$db" >/dev/null
"$tw" -r "$big" -d "$db2" -m 2 >/dev/null
"$tw" -x -r "$big" -d "$dbx" >/dev/null
"$tw" -r "$small" -d "$out/many/1.db" >/dev/null
for i in $(seq 2 200); do cp "$out/many/1.db" "$out/many/$i.db"; done
many=()
for i in $(seq 1 200); do many+=("$out/many/$i.db"); done
# Five million frames in tidewrack's frames table (mode 2), each a conversation of its own:
# sources 10.x.y.z, destinations 172.16-31.x.y; 70 % TCP SYNs never answered, 20 % UDP to
# port 53, 10 % ICMP (half of them port unreachable errors), over an hour.
sqlite3 "$c5m" "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF;
CREATE TABLE frames (frame integer, sIP1 integer, sIP2 integer, sIP3 integer, sIP4 integer,
    sPort integer, dIP1 integer, dIP2 integer, dIP3 integer, dIP4 integer, dPort integer,
    ipproto varchar, flags varchar, time varchar, len integer);
WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 4999999)
INSERT INTO frames SELECT i + 1, 10, (i >> 16) & 255, (i >> 8) & 255, i & 255,
    CASE WHEN i % 10 = 9 THEN iif(i % 20 = 9, 771, 2048) ELSE 1024 + i % 60000 END,
    172, 16 + i % 16, (i >> 4) & 255, (i >> 12) & 255,
    CASE WHEN i % 10 < 7 THEN 1 + i % 1024 ELSE 53 END,
    CASE WHEN i % 10 < 7 THEN 'TCP' WHEN i % 10 < 9 THEN 'UDP' ELSE 'ICMP' END,
    iif(i % 10 < 7, 'SYN ', ''),
    printf('%02d:%02d:%02d.%06d', 12 + i * 720 / 3600000000, i * 720 / 60000000 % 60,
           i * 720 / 1000000 % 60, i * 720 % 1000000),
    60 + i % 1400 FROM n;" >/dev/null

build_db() { rm -f "$out/run.db" && measure build /dev/null "$tw" -r "$big" -d "$out/run.db"; }
html() { measure html /dev/null "$report" -o "$page" "$db"; }
text() { measure text "$out/report.txt" "$report" "$db"; }
before_html() { measure before_html /dev/null "$before" -o "$page" "$db"; }
before_text() { measure before_text "$out/report.txt" "$before" "$db"; }
json() { measure json "$out/report.json" "$report" --json "$db"; }
mode2() { measure mode2 /dev/null "$report" -o "$page" "$db2"; }
extended() { measure extended /dev/null "$report" -o "$page" "$dbx"; }
many() { measure many /dev/null "$report" -o "$page" "${many[@]}"; }
# The filters (the busiest /16 of the trace's servers; HTTPS; the middle half hour) and a
# baseline as large as the traffic, all in text.
host() { measure host "$out/report.txt" "$report" --host 185.199.0.0/16 "$db"; }
port() { measure port "$out/report.txt" "$report" --port 443 --protocol TCP "$db"; }
window() { measure window "$out/report.txt" "$report" --from 12:15 --to 12:45 "$db"; }
against() { measure against "$out/report.txt" "$report" --baseline "$db" "$db"; }
for ((r = 1; r <= reps; r++)); do
    echo "  round $r of $reps" >&2
    if ((r % 2)); then
        build_db && html && before_html && text && before_text && host && port && window &&
            against && many && json && mode2 && extended
    else
        extended && mode2 && json && many && against && window && port && host &&
            before_text && text && before_html && html && build_db
    fi
done
rm -f "$out/run.db"
for ((r = 1; r <= rounds5m; r++)); do
    echo "  5M conversations, round $r of $rounds5m" >&2
    measure c5m "$out/report.txt" "$report" "$c5m"
done
echo "  5M conversations against themselves as a baseline" >&2
measure c5m_against "$out/report.txt" "$report" --baseline "$c5m" "$c5m"
if ((baseline5m)); then
    echo "  5M conversations, the earlier report" >&2
    measure before_c5m "$out/report.txt" "$before" "$c5m"
fi

say "# tidewrack-report benchmark, $(date -u '+%Y-%m-%d %H:%M UTC')"
say ""
say "- CPU: $(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo), $(nproc) cores; load average at start of the report: $(cut -d' ' -f1-3 /proc/loadavg)"
say "- 1M trace: $(awk '{print $2}' "$big.info") packets, $(awk '{print $4}' "$big.info") conversations; 5k trace: $(awk '{print $2}' "$small.info") packets; databases on $(df --output=fstype "$out" | tail -1)"
say "- earlier report: $baseline_name"
say ""
say "| run | wall s (median of $reps) | peak RSS KiB | against | ratio (median of rounds) | goal | status |"
say "|---|---|---|---|---|---|---|"
say "| \`tidewrack -r T -d DB\` (mode 1, the baseline) | $(seconds_of build) | $(kib_of build) | | | | |"
row "\`tidewrack-report DB\` (text)" "text" "before_text" "the earlier report ($(seconds_of before_text) s)" 1.5
row "\`tidewrack-report -o page.html DB\`" "html" "before_html" "the earlier report ($(seconds_of before_html) s)" 1.5
row "\`tidewrack-report --host 185.199.0.0/16 DB\`" "host" "before_text" "the earlier report's text" 1.5
row "\`tidewrack-report --port 443 --protocol TCP DB\`" "port" "before_text" "the earlier report's text" 1.5
row "\`tidewrack-report --from 12:15 --to 12:45 DB\`" "window" "before_text" "the earlier report's text" 1.5
row "\`tidewrack-report --baseline DB DB\`" "against" "before_text" "the earlier report's text" 1.5
row "\`tidewrack-report -o page.html DB\`" "html" "build" "baseline" 0.5
row "\`tidewrack-report DB\` (text)" "text" "build" "baseline" 0.5
row "\`tidewrack-report --json DB\`" "json" "build" "baseline"
row "\`tidewrack-report -o page.html DB2\` (mode 2)" "mode2" "build" "baseline"
row "\`tidewrack-report -o page.html DBX\` (made with -x)" "extended" "html" "the page of DB"
row "\`tidewrack-report -o page.html D1..D200\`" "many" "html" "the page of DB" 1.5
highest=0
for label in html text json mode2 extended many host port window against; do
    kib=$(kib_of "$label")
    ((kib > highest)) && highest=$kib
done
say ""
say "- highest peak RSS of the report on those: $highest KiB (goal: at most 65536 KiB): $( ((highest <= 65536)) && echo met || echo NOT met)"
say ""
report_conversations
say "5 million distinct conversations (C5M, $(du -m "$c5m" | cut -f1) MB), text report:"
say ""
say "| run | wall s | peak RSS KiB | goal | status |"
say "|---|---|---|---|---|"
kib=$(kib_of c5m)
say "| \`tidewrack-report C5M\` | $(seconds_of c5m) | $kib | <= 131072 KiB | $( ((kib <= 131072)) && echo met || echo NOT met) |"
kib=$(kib_of c5m_against)
say "| \`tidewrack-report --baseline C5M C5M\` | $(seconds_of c5m_against) | $kib | <= 131072 KiB | $( ((kib <= 131072)) && echo met || echo NOT met) |"
kib=$(kib_of c5m)
if ((baseline5m)); then
    say "| the earlier report | $(seconds_of before_c5m) | $(kib_of before_c5m) | | |"
    say ""
    say "- against the earlier report: peak RSS $(ratio "$kib" "$(kib_of before_c5m)") times, wall time $(ratio "$(seconds_of c5m)" "$(seconds_of before_c5m)") times"
fi
rm -rf "$out"
echo "report saved in $summary" >&2
