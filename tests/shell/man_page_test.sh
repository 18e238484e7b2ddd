#!/usr/bin/env bash
# The manual page as installed: groff formats it without a single warning, it carries the
# project version, it documents every option that the program's --help names, long and short,
# and the program accepts every option it documents.
#
# Usage: man_page_test.sh <configured PROGRAM.1> <project version> <PROGRAM binary>
set -euo pipefail
page=$1 version=$2 program=$3
# shellcheck source=program_options.sh
source "$(dirname "$0")/program_options.sh"
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

warnings=$(groff -ww -man -z "$page" 2>&1 >/dev/null) || fail "groff failed"
[[ -z $warnings ]] || fail "groff warns:"$'\n'"$warnings"

title=$(basename "$page" .1)
grep -q "^\.TH ${title^^} 1 .*\"tidewrack ${version//./\\.}\"" "$page" ||
    fail "the title line does not carry version $version: $(grep '^\.TH' "$page")"

options=0
while read -r short long; do
    options=$((options + 1))
    grep -qF -- "\\-\\-${long//-/\\-}" "$page" || fail "--$long is not documented"
    grep -qE -- "^\.B[IR]* \\\\-$short( |$)" "$page" || fail "-$short is not documented"
done < <(help_options "$program")
((options > 0)) || fail "$program --help names no options"

documented=0
while read -r short long; do
    documented=$((documented + 1))
    for option in "-$short" "--$long"; do
        said=$(accepts_option "$program" "$option") || fail "$option is documented; $said"
    done
done < <(sed -n 's/^\.BR \\-\(.\) ", " \\-\\-\([a-z\\-]*\).*/\1 \2/p' "$page" | sed 's/\\-/-/g')
((documented >= options)) || fail "the manual documents $documented options, --help names $options"

((failures == 0)) && echo "manual page: all checks passed"
exit $((failures > 0))
