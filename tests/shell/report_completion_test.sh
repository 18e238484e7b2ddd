#!/usr/bin/env bash
# The bash completion of tidewrack-report, driven the way bash drives it: every option that the
# program's --help names offered, long and short, and no other; databases, that is any file, as
# its words; HTML pages and directories after -o; the sections that the program names (--csv
# list), and list, after --csv and --columns, and list alone when the program cannot be run; the
# TCP states after --state, also after a comma; nothing after --top.
#
# Usage: report_completion_test.sh <completion script> <tidewrack-report binary>
set -euo pipefail
completion=$(realpath "$1") program=$(realpath "$2")
# shellcheck source=program_options.sh
source "$(dirname "$0")/program_options.sh"

completion_function=_tidewrack_report completed_command=$program
# shellcheck source=completion_harness.sh
source "$(dirname "$0")/completion_harness.sh"
touch "web session.db" web.html notes.txt
mkdir pages

expect "--json" tidewrack-report --j
expect "" tidewrack-report --top ""
expect "notes.txt
pages
web session.db
web.html" tidewrack-report -t 5 ""
expect "pages
web.html" tidewrack-report -o ""
expect "web.html" tidewrack-report --output = we
expect "REJ
RSTO
RSTR" tidewrack-report --state R
expect "S0,S1
S0,S2
S0,S3
S0,SF" tidewrack-report -s S0,S
expect "" tidewrack-report --min-duration ""

sections=$("$program" --csv list)
[[ -n $sections ]] || { echo "FAIL: --csv list names no sections"; failures=$((failures + 1)); }
expect "$( (echo list; echo "$sections") | LC_ALL=C sort)" tidewrack-report --csv ""
expect "$(grep '^p' <<<"$sections" | LC_ALL=C sort)" tidewrack-report -c p
expect "$( (echo list; echo "$sections") | LC_ALL=C sort)" tidewrack-report --columns ""
completed_command=$scratch/absent
expect "list" tidewrack-report --csv ""
completed_command=$program

offered=$(complete_words tidewrack-report -)
options=0
while read -r short long; do
    options=$((options + 1))
    for option in "--$long" "-$short"; do
        grep -qxe "$option" <<<"$offered" || { echo "FAIL: $option is not offered"; failures=$((failures + 1)); }
    done
done < <(help_options "$program")
if ((options == 0 || $(wc -l <<<"$offered") != 2 * options)); then
    echo "FAIL: --help names $options options; offered: $offered"
    failures=$((failures + 1))
fi

((failures == 0)) && echo "bash completion of tidewrack-report: all checks passed"
exit $((failures > 0))
