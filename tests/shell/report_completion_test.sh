#!/usr/bin/env bash
# The bash completion of tidewrack-report, driven the way bash drives it: every option of the
# program offered, long and short; databases, that is any file, as its words; HTML pages and
# directories after -o; nothing after --top.
#
# Usage: report_completion_test.sh <completion script> <report_options.cpp with the options>
set -euo pipefail
completion=$(realpath "$1") options_source=$(realpath "$2")

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
touch "web session.db" web.html notes.txt
mkdir pages

# shellcheck source=/dev/null
source "$completion"

failures=0
complete_words() {
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _tidewrack_report
    ((${#COMPREPLY[@]} == 0)) || printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort
}
expect() {
    local expected=$1 actual
    shift
    actual=$(complete_words "$@")
    if [[ $actual != "$expected" ]]; then
        printf 'FAIL: completing "%s"\n  expected: %s\n  actual:   %s\n' "$*" \
            "${expected//$'\n'/ | }" "${actual//$'\n'/ | }"
        failures=$((failures + 1))
    fi
}

expect "--json" tidewrack-report --j
expect "" tidewrack-report --top ""
expect "notes.txt
pages
web session.db
web.html" tidewrack-report -t 5 ""
expect "pages
web.html" tidewrack-report -o ""
expect "web.html" tidewrack-report --output = we

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
