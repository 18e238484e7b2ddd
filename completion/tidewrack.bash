# bash completion for tidewrack: its options, file names after -r, -w, -d and -F, adapter names
# after -i and adapter numbers after -I (both from `tidewrack -l`), and the analysis modes
# after -m. It needs nothing but bash itself.

# Prints the adapters that `tidewrack -l` lists, one "number name" pair per line. The list
# shows each adapter as "N. name" with its description on the next line in parentheses.
_tidewrack_adapters() {
    local line
    "$1" -l 2>/dev/null | while IFS= read -r line; do
        if [[ $line =~ ^([0-9]+)\.\ (.+)$ ]]; then
            printf '%s %s\n' "${BASH_REMATCH[1]}" "${BASH_REMATCH[2]}"
        fi
    done
}

_tidewrack() {
    local program=${1:-tidewrack} cur=${COMP_WORDS[COMP_CWORD]} prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    # bash splits "--read-dump=file" at the equals sign: the option is then one or two words
    # before the word being completed.
    if [[ $cur == = ]]; then
        cur=
    elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then
        prev=${COMP_WORDS[COMP_CWORD - 2]}
    fi
    COMPREPLY=()

    case $prev in
    -r | --read-dump | -w | --write-dump | -d | --database | -F | --filter-file)
        compopt -o filenames 2>/dev/null || :
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return
        ;;
    -i | --interface)
        mapfile -t COMPREPLY < <(compgen -W "$(_tidewrack_adapters "$program" | cut -d' ' -f2-)" \
            -- "$cur")
        return
        ;;
    -I | --ifnum)
        mapfile -t COMPREPLY < <(compgen -W "$(_tidewrack_adapters "$program" | cut -d' ' -f1)" \
            -- "$cur")
        return
        ;;
    -m | --mode)
        mapfile -t COMPREPLY < <(compgen -W "1 2" -- "$cur")
        return
        ;;
    -c | --count | -s | --snaplen | -f | --filter)
        return # a number or a filter expression: nothing to offer
        ;;
    esac

    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "-i -I -c -f -F -r -w -s -m -d -l -h -v -V -x
            --interface --ifnum --count --filter --filter-file --read-dump --write-dump
            --snaplen --mode --database --list --help --verbose --version --extended" -- "$cur")
    fi
}

complete -F _tidewrack tidewrack
