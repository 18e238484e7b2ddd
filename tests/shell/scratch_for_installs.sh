# Sourced by the installation and package tests, which both install from the build tree
# (cmake --install and cpack do): makes a scratch directory, and on exit removes it, the
# records of the installations made meanwhile (install-records/) and the install manifest they
# rewrote, restored as it was. Also counts failures with `fail`.
#
# Expects $build, the build directory; sets $scratch and $failures.
manifest=$build/install_manifest.txt
records=$build/install-records
scratch=$(mktemp -d)
cleanup() {
    if [[ -e $scratch/manifest.saved ]]; then
        cp "$scratch/manifest.saved" "$manifest"
    else
        rm -f "$manifest"
    fi
    if [[ -d $records ]]; then
        comm -13 "$scratch/records.before" <(ls "$records" | sort) |
            while read -r record; do rm -f "$records/$record"; done
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT
[[ ! -e $manifest ]] || cp -p "$manifest" "$scratch/manifest.saved"
{ ls "$records" 2>/dev/null || true; } | sort >"$scratch/records.before"

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
