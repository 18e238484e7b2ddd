# bash completion for tidewrack-report: its options, the databases (any file name) as its
# words (and after --baseline), an HTML file name after -o, the sections after --csv, the
# orders after --by, and nothing after --top and the filters, which take a number, an address,
# a name or a time. It needs nothing but bash itself.

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
    -t | --top | -H | --host | -p | --port | -P | --protocol | -f | --from | -T | --to)
        return # a number, an address, a name or a time: nothing to offer
        ;;
    -b | --by)
        mapfile -t COMPREPLY < <(compgen -W "bytes frames duration rate" -- "$cur")
        return
        ;;
    -c | --csv)
        mapfile -t COMPREPLY < <(compgen -W "list databases summary protocols not_analysed
            vlans timeline busiest_intervals endpoints conversations tcp_states handshake_servers
            handshake_services services_by_traffic tcp_services udp_services icmp_messages
            port_scans icmp_errors unanswered_syns new_endpoints new_servers new_services
            endpoint_changes endpoint_changes_relative" -- "$cur")
        return
        ;;
    -o | --output)
        compopt -o filenames 2>/dev/null || :
        mapfile -t COMPREPLY < <(compgen -f -X '!*.html' -- "$cur"; compgen -d -- "$cur")
        return
        ;;
    esac

    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "-t -o -j -c -b -H -p -P -f -T -B -h -V --top --output
            --json --csv --by --host --port --protocol --from --to --baseline --help --version" \
            -- "$cur")
    else
        compopt -o filenames 2>/dev/null || :
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    fi
}

complete -F _tidewrack_report tidewrack-report
