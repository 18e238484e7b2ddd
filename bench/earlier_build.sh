# Sourced by the benchmark scripts: a release build of an earlier revision of this repository,
# for measuring a program against what it was.
#
# earlier_build REPO REV TARGET DIR: prints the path of TARGET built from revision REV of the
# repository REPO in DIR (its sources in DIR/src, its build in DIR/build); it is built the
# first time only.
earlier_build() {
    local repo=$1 rev=$2 target=$3 dir=$4
    local program=$dir/build/$target
    if [[ ! -x $program ]]; then
        echo "building $target of $rev..." >&2
        # Each step checked here: a command substitution does not stop on errors by itself.
        rm -rf "$dir" && mkdir -p "$dir/src" &&
            git -C "$repo" archive "$rev" | tar -x -C "$dir/src" &&
            cmake -S "$dir/src" -B "$dir/build" -DCMAKE_BUILD_TYPE=Release \
                -DTIDEWRACK_TESTS=OFF -DTIDEWRACK_BENCH=OFF >/dev/null &&
            cmake --build "$dir/build" -j2 --target "$target" >/dev/null || return 1
    fi
    echo "$program"
}
