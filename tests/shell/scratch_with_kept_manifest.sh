# Sourced by the installation and package tests, which both rewrite the build tree's
# install_manifest.txt (cmake --install and cpack write it): makes a scratch directory, keeps
# the manifest that was there, and on exit puts it back (so that `uninstall` still removes a
# real installation made from this tree) and removes the scratch directory. Also counts
# failures with `fail`.
#
# Expects $build, the build directory; sets $scratch and $failures.
manifest=$build/install_manifest.txt
scratch=$(mktemp -d)
restore_manifest() {
    if [[ -e $scratch/manifest.saved ]]; then
        cp -p "$scratch/manifest.saved" "$manifest"
    else
        rm -f "$manifest"
    fi
    rm -rf "$scratch"
}
trap restore_manifest EXIT
[[ ! -e $manifest ]] || cp -p "$manifest" "$scratch/manifest.saved"

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
