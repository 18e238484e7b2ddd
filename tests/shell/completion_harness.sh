# Sourced by the completion tests: runs a completion function the way bash does, in a scratch
# directory, and counts failures.
#
# Expects $completion (the script under test), $completion_function (its function) and
# $completed_command (the first word bash passes it); sets $scratch (the working directory)
# and $failures.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"

# shellcheck source=/dev/null
source "$completion"

failures=0
# complete_words WORD... : the completions bash would offer for the last word, one per line,
# sorted.
complete_words() {
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    "$completion_function" "$completed_command" "${COMP_WORDS[COMP_CWORD]}" \
        "${COMP_WORDS[COMP_CWORD - 1]}"
    ((${#COMPREPLY[@]} == 0)) || printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort
}
# expect EXPECTED WORD... : the completions of the last word are EXPECTED.
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
