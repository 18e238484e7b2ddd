#!/usr/bin/env bash
# Checks the benchmark's ground rules on a small trace: the generator writes the same bytes on
# every run, and both SQL baselines (SQL text, prepared statements) write exactly the database
# that tidewrack writes, in both analysis modes, so that the benchmark compares them on the same
# work.
#
# Usage: check_baseline.sh <tidewrack binary> <directory of the benchmark programs>
set -euo pipefail
tidewrack=$1 bin=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$bin/generate_trace" 5000 "$work/a.pcap" >/dev/null
"$bin/generate_trace" 5000 "$work/b.pcap" >/dev/null
cmp "$work/a.pcap" "$work/b.pcap"

for mode in 1 2; do
    "$tidewrack" -r "$work/a.pcap" -d "$work/program-$mode.db" -m "$mode" >/dev/null
    for baseline in bare_sql_loop bare_prepared_loop; do
        "$bin/$baseline" "$mode" "$work/a.pcap" "$work/$baseline-$mode.db" >/dev/null
        "$bin/compare_databases" "$work/program-$mode.db" "$work/$baseline-$mode.db"
    done
done
