# Sourced by the tests of the manual pages and of the bash completions: what a program says of
# its options, asked of the program itself.

# help_options PROGRAM: the options that PROGRAM --help names, one "SHORT LONG" a line (i top).
help_options() {
    "$1" --help | sed -n 's/^ *-\([A-Za-z]\), --\([a-z-]*\).*/\1 \2/p'
}

# accepts_option PROGRAM OPTION: whether PROGRAM knows OPTION; when not, prints what it said.
# The option is given an argument, which one that takes none leaves as an operand, and -V
# follows it, which both programs answer with their version and nothing else.
accepts_option() {
    local said
    said=$("$1" "$2" 1 -V 2>&1 >/dev/null) || true
    if grep -qiE 'unrecognized option|invalid option|unknown option' <<<"$said"; then
        echo "the program refuses it: $said"
        return 1
    fi
}
