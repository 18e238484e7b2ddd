#!/usr/bin/env bash
# Keeps the README's walk-through true: every command of a ```console block is run in a
# scratch directory beside the sample traces and must print what the block shows, and every
# ```sql block is run by the sqlite3 shell in that directory and must print the ```text block
# that follows it.
#
# Console output is taken as a terminal shows it: standard output line-buffered and mixed with
# standard error, the spinner's backspaces applied, and durations (which vary) compared as
# hh:mm:ss. Times in the database are local, so the runs use TZ=UTC.
#
# Usage: readme_walkthrough_test.sh <README.md> <tidewrack binary> <samples directory>
#                                   <tidewrack-report binary>
set -euo pipefail
readme=$(realpath "$1") program=$(realpath "$2") samples=$(realpath "$3") report=$(realpath "$4")
export TZ=UTC LC_ALL=C
unset COLUMNS  # the report's tables are shown as they come out into a file, 80 columns wide

command -v sqlite3 >/dev/null || {
    echo "FAIL: the sqlite3 shell is needed (apt-get install sqlite3)"
    exit 1
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/blocks" "$scratch/run"
ln -s "$samples" "$scratch/run/samples"

# Splits the README into its fenced blocks: blocks/N holds the text of block N, and the list
# on standard output gives "N language" for each, in order.
awk -v dir="$scratch/blocks" '
    /^```/ && !inside { inside = 1; n++; lang = substr($0, 4); file = dir "/" n;
                        printf "" > file; print n, (lang == "" ? "-" : lang); next }
    /^```/ && inside  { inside = 0; close(file); next }
    inside            { print > file }
' "$readme" >"$scratch/blocks.list"

# What a terminal shows: each character followed by a backspace is wiped, and durations are
# made comparable.
as_terminal() {
    perl -pe '1 while s/[^\n\x08]\x08//; s/\x08//g' |
        sed -E 's/(in|took): [0-9]{2,}:[0-9]{2}:[0-9]{2}/\1: hh:mm:ss/'
}

failures=0 consoles=0 queries=0
report() {
    echo "FAIL: $1"
    diff -u --label README --label actual "$2" "$3" || true
    failures=$((failures + 1))
}

cd "$scratch/run"

# run_console FILE: runs each "$ command" line of a console block and compares its output
# with the lines up to the next command.
run_console() {
    local line expected=$scratch/expected actual=$scratch/actual command=""
    finish() {
        [[ -n $command ]] || return 0
        as_terminal <"$actual" >"$actual.shown"
        as_terminal <"$expected" >"$expected.shown"
        cmp -s "$expected.shown" "$actual.shown" || report "\$ $command" "$expected.shown" \
            "$actual.shown"
    }
    while IFS= read -r line || [[ -n $line ]]; do
        if [[ $line == '$ '* ]]; then
            finish
            command=${line#'$ '}
            : >"$expected"
            read -r -a words <<<"$command"
            case ${words[0]} in
            tidewrack | */tidewrack)
                # stdbuf preloads its own library, which a sanitized build must be told to allow.
                ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0 \
                    stdbuf -oL "$program" "${words[@]:1}" >"$actual" 2>&1 || true
                ;;
            tidewrack-report | */tidewrack-report)
                "$report" "${words[@]:1}" >"$actual" 2>&1 || true
                ;;
            sqlite3)
                # A query given on the command line, quoted as a shell takes it.
                eval "$command" >"$actual" 2>&1 || true
                ;;
            rm)
                [[ ${words[1]} == -f && $command != */* ]] || {
                    echo "FAIL: only 'rm -f' of files in the current directory is run: $command"
                    failures=$((failures + 1))
                }
                rm -f "${words[@]:2}"
                : >"$actual"
                ;;
            *)
                echo "FAIL: a console block runs only tidewrack, tidewrack-report, sqlite3 and rm -f: $command"
                failures=$((failures + 1))
                command=""
                ;;
            esac
            consoles=$((consoles + 1))
        elif [[ -n $command ]]; then
            printf '%s\n' "$line" >>"$expected"
        fi
    done <"$1"
    finish
}

pending_sql=""
while read -r n lang; do
    block=$scratch/blocks/$n
    if [[ -n $pending_sql ]]; then
        if [[ $lang != text ]]; then
            echo "FAIL: the sql block $pending_sql is not followed by a text block of its output"
            failures=$((failures + 1))
        else
            sqlite3 -header -column traffic.db <"$scratch/blocks/$pending_sql" 2>&1 |
                sed -E 's/[[:space:]]+$//' >"$scratch/actual" || true
            cmp -s "$block" "$scratch/actual" ||
                report "query:"$'\n'"$(cat "$scratch/blocks/$pending_sql")" "$block" \
                    "$scratch/actual"
            queries=$((queries + 1))
        fi
        pending_sql=""
    fi
    case $lang in
    console) run_console "$block" ;;
    sql) pending_sql=$n ;;
    esac
done <"$scratch/blocks.list"
[[ -z $pending_sql ]] || {
    echo "FAIL: the last sql block has no output block"
    failures=$((failures + 1))
}

# A README whose blocks were no longer recognised would otherwise pass with nothing checked.
((consoles >= 2 && queries >= 6)) || {
    echo "FAIL: only $consoles console commands and $queries queries were found and checked"
    failures=$((failures + 1))
}
((failures == 0)) && echo "README: $consoles console commands and $queries queries as shown"
exit $((failures > 0))
