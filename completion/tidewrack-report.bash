# bash completion for tidewrack-report: its options, the databases (any file name) as its
# words, an HTML file name after -o, the sections after --csv, and nothing after --top, which
# takes a number. It needs nothing but bash itself.

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
    -t | --top)
        return # a number of rows: nothing to offer
        ;;
    -c | --csv)
        mapfile -t COMPREPLY < <(compgen -W "list databases summary protocols not_analysed
            vlans timeline busiest_intervals endpoints conversations tcp_services udp_services icmp_messages
            port_scans icmp_errors unanswered_syns" -- "$cur")
        return
        ;;
    -o | --output)
        compopt -o filenames 2>/dev/null || :
        mapfile -t COMPREPLY < <(compgen -f -X '!*.html' -- "$cur"; compgen -d -- "$cur")
        return
        ;;
    esac

    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "-t -o -j -c -h -V --top --output --json --csv
            --help --version" -- "$cur")
    else
        compopt -o filenames 2>/dev/null || :
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    fi
}

complete -F _tidewrack_report tidewrack-report
