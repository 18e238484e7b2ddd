#!/usr/bin/env bash
# The manual page as installed: groff formats it without a single warning, it carries the
# project version, and it documents every option of the program, long and short.
#
# Usage: man_page_test.sh <configured PROGRAM.1> <project version> <source with the options table>
set -euo pipefail
page=$1 version=$2 options_source=$3
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
while read -r long short; do
    options=$((options + 1))
    grep -qF -- "\\-\\-${long//-/\\-}" "$page" || fail "--$long is not documented"
    grep -qE -- "^\.B[IR]* \\\\-$short( |$)" "$page" || fail "-$short is not documented"
done < <(sed -n 's/^ *{"\([a-z-]*\)", [a-z_]*, nullptr, '"'"'\(.\)'"'"'},.*/\1 \2/p' "$options_source")
((options > 0)) || fail "no options found in $options_source"

((failures == 0)) && echo "manual page: all checks passed"
exit $((failures > 0))
