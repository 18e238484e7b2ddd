#!/usr/bin/env bash
# The bash completion, driven the way bash drives it: options by prefix, every option that the
# program's --help names offered and every option offered known to the program (-d, -m and -x
# among them, which its usage leaves out), file names after the file options (also in the
# --option=file form), adapter names and numbers from the program's own list, and the analysis
# modes.
#
# Usage: completion_test.sh <completion script> <tidewrack binary>
set -euo pipefail
completion=$(realpath "$1") program=$(realpath "$2")
# shellcheck source=program_options.sh
source "$(dirname "$0")/program_options.sh"

completion_function=_tidewrack completed_command="$program"
# shellcheck source=completion_harness.sh
source "$(dirname "$0")/completion_harness.sh"
touch "sample one.pcap" sample.db other.txt
mkdir samples

expect "--database" tidewrack --da
expect "--filter
--filter-file" tidewrack -r x.pcap --fil
expect "" tidewrack -c ""
expect "" tidewrack -f "ip and"
expect "1
2" tidewrack -d new.db -m ""

# File names, spaces included, for every option that names a file.
expect "sample one.pcap
sample.db
samples" tidewrack -r sa
expect "sample one.pcap
sample.db
samples" tidewrack --write-dump = sa
expect "other.txt
sample one.pcap
sample.db
samples" tidewrack --database =
expect "sample.db" tidewrack -F sample.

# Every option that --help names is offered, short and long, and the program knows every option
# offered.
offered=$(complete_words tidewrack -)
options=0
while read -r short long; do
    options=$((options + 1))
    for option in "--$long" "-$short"; do
        grep -qxe "$option" <<<"$offered" || {
            echo "FAIL: option $option is not offered"
            failures=$((failures + 1))
        }
    done
done < <(help_options "$program")
((options > 0)) || { echo "FAIL: $program --help names no options"; failures=$((failures + 1)); }
while read -r option; do
    said=$(accepts_option "$program" "$option") || {
        echo "FAIL: $option is offered; $said"
        failures=$((failures + 1))
    }
done <<<"$offered"

# Adapters: names after -i and numbers after -I, as many as the program lists.
listed=$("$program" -l | grep -c '^[0-9]*\. ' || true)
names=$(complete_words tidewrack -i "")
numbers=$(complete_words tidewrack --ifnum "")
if ((listed > 0)); then
    [[ $(wc -l <<<"$names") == "$listed" ]] || { echo "FAIL: adapter names: $names"; failures=$((failures + 1)); }
    [[ $numbers == $(seq 1 "$listed" | LC_ALL=C sort) ]] || { echo "FAIL: adapter numbers: $numbers"; failures=$((failures + 1)); }
fi
if grep -qx '[0-9]*\. lo' < <("$program" -l); then
    expect "lo" tidewrack --interface lo
fi

((failures == 0)) && echo "bash completion: all checks passed"
exit $((failures > 0))
