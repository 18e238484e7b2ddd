# bash completion for tidewrack-report: its options, the databases (any file name) as its
# words (and after --baseline), an HTML file name after -o, the sections after --csv, the
# orders after --by, the TCP states after --state (a comma between two), the sections after
# --columns (whose keys follow an equals sign: --columns list names them), and nothing after
# --top, --min-duration and the filters, which take a number, an address, a name or a time. The
# sections are those the program being completed names (--csv list), so
# that they are always its own; when it cannot be run, list alone is offered.

_tidewrack_report() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    # bash splits "--output=file" at the equals sign: the option is then one or two words
    # before the word being completed.
    if [[ $cur == = ]]; then
        cur=
    elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then
        prev=${COMP_WORDS[COMP_CWORD - 2]}
    fi
    COMPREPLY=()

    case $prev in
    -t | --top | -m | --min-duration | -H | --host | -p | --port | -P | --protocol | -f | --from | -T | --to | -i | --id)
        return # a number, an address, a name or a time: nothing to offer
        ;;
    -b | --by)
        mapfile -t COMPREPLY < <(compgen -W "bytes frames duration rate" -- "$cur")
        return
        ;;
    -s | --state)
        # The codes given before the last comma stay as they are, and are not offered again.
        local given=${cur%"${cur##*,}"} codes=" S0 REJ S1 SF S2 S3 RSTO RSTR OTH " code
        for code in ${given//,/ }; do
            codes=${codes/ $code / }
        done
        mapfile -t COMPREPLY < <(compgen -P "$given" -W "$codes" -- "${cur##*,}")
        return
        ;;
    -c | --csv | -C | --columns)
        # $1 is the program as the line names it: ~/bin/tidewrack-report, say.
        local sections
        sections=$("${1/#\~/$HOME}" --csv list 2>/dev/null) || sections=
        mapfile -t COMPREPLY < <(compgen -W "list $sections" -- "$cur")
        return
        ;;
    -o | --output)
        compopt -o filenames 2>/dev/null || :
        mapfile -t COMPREPLY < <(compgen -f -X '!*.html' -- "$cur"; compgen -d -- "$cur")
        return
        ;;
    esac

    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "-t -o -j -c -b -m -s -H -p -P -f -T -i -B -C -h -V --top
            --output --json --csv --by --min-duration --state --host --port --protocol --from --to
            --id --baseline --columns --help --version" \
            -- "$cur")
    else
        compopt -o filenames 2>/dev/null || :
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    fi
}

complete -F _tidewrack_report tidewrack-report
