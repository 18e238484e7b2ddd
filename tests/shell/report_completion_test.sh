#!/usr/bin/env bash
# The bash completion of tidewrack-report, driven the way bash drives it: every option of the
# program offered, long and short; databases, that is any file, as its words; HTML pages and
# directories after -o; every section the program declares, and list, after --csv; nothing
# after --top.
#
# Usage: report_completion_test.sh <completion script> <report_options.cpp with the options>
#                                  <report_sections.cpp with the sections>
set -euo pipefail
completion=$(realpath "$1") options_source=$(realpath "$2") sections_source=$(realpath "$3")

completion_function=_tidewrack_report completed_command=tidewrack-report
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
expect "$( (echo list; sed -n 's/^ *{\.id = "\([a-z_]*\)".*/\1/p' "$sections_source") |
    LC_ALL=C sort)" tidewrack-report --csv ""
expect "port_scans
protocols" tidewrack-report -c p

offered=$(complete_words tidewrack-report -)
options=0
while read -r long short; do
    options=$((options + 1))
    for option in "--$long" "-$short"; do
        grep -qxe "$option" <<<"$offered" || { echo "FAIL: $option is not offered"; failures=$((failures + 1)); }
    done
done < <(sed -n 's/^ *{"\([a-z-]*\)", [a-z_]*, nullptr, '"'"'\(.\)'"'"'},.*/\1 \2/p' "$options_source")
if ((options == 0 || $(wc -l <<<"$offered") != 2 * options)); then
    echo "FAIL: the program has $options options; offered: $offered"
    failures=$((failures + 1))
fi

((failures == 0)) && echo "bash completion of tidewrack-report: all checks passed"
exit $((failures > 0))
