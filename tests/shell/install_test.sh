#!/usr/bin/env bash
# `cmake --install` into a scratch root (DESTDIR) puts every file in its place under the
# prefix, the installed programs run and tell their version, and the `uninstall` target removes
# all of it again, with the directories that belong to tidewrack alone, even after another
# installation from the same tree (as cpack makes one). A file that belongs to a Debian package
# is never removed.
#
# Usage: install_test.sh <build directory> <project version>
set -euo pipefail
build=$(realpath "$1") version=$2
# shellcheck source=scratch_for_installs.sh
source "$(dirname "$0")/scratch_for_installs.sh"

root=$scratch/root
prefix=/usr/local
DESTDIR=$root cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" ||
    { cat "$scratch/install.log"; fail "cmake --install failed"; exit 1; }

installed=(
    bin/tidewrack
    bin/tidewrack-report
    share/man/man1/tidewrack.1.gz
    share/man/man1/tidewrack-report.1.gz
    share/bash-completion/completions/tidewrack
    share/bash-completion/completions/tidewrack-report
    share/doc/tidewrack/README.md
    share/doc/tidewrack/examples/web-session.pcap
    share/doc/tidewrack/examples/port-scan.pcap
    share/doc/tidewrack/examples/office-lan.pcap
    share/doc/tidewrack/examples/rare-protocols.pcap
)
for file in "${installed[@]}"; do
    [[ -f $root$prefix/$file ]] || fail "not installed: $prefix/$file"
done
unexpected=$(cd "$root$prefix" && find . -type f | sed 's|^\./||' | sort |
    comm -23 - <(printf '%s\n' "${installed[@]}" | sort))
[[ -z $unexpected ]] || fail "installed but not expected: $unexpected"
[[ -x $root$prefix/bin/tidewrack ]] || fail "the program is not executable"

"$root$prefix/bin/tidewrack" -V | grep -qx "Version:  $version" ||
    fail "the installed program does not tell version $version"
"$root$prefix/bin/tidewrack-report" -V | grep -qx "tidewrack-report $version" ||
    fail "the installed report program does not tell version $version"
# Read whole before it is searched: grep -q leaves at its first match, and zcat still writing
# into the closed pipe would fail the pipeline.
grep -q "^\.TH TIDEWRACK 1 .*\"tidewrack $version\"" <<<"$(zcat "$root$prefix/share/man/man1/tidewrack.1.gz")" ||
    fail "the installed manual page does not carry version $version"

# Another installation from the same tree, elsewhere, as cpack stages the package's files.
DESTDIR=$scratch/other cmake --install "$build" --prefix /usr >"$scratch/other.log" ||
    fail "the second installation failed"

DESTDIR=$root cmake --build "$build" --target uninstall >"$scratch/uninstall.log" ||
    { cat "$scratch/uninstall.log"; fail "the uninstall target failed"; }
left=$(cd "$root" && find . -type f)
[[ -z $left ]] || fail "left after uninstall: $left"
[[ ! -e $root$prefix/share/doc/tidewrack ]] || fail "share/doc/tidewrack left after uninstall"
[[ -d $root$prefix/share/man/man1 ]] || fail "uninstall removed the shared directory share/man/man1"
[[ -x $scratch/other/usr/bin/tidewrack ]] || fail "uninstall removed the other installation"

# A file of a package stays, even when a list of files to uninstall names it.
owned=/etc/debian_version
if [[ $(id -u) == 0 && -f $owned ]] && dpkg -S "$owned" >/dev/null 2>&1; then
    cp -p "$owned" "$scratch/owned.saved"
    echo "$owned" >"$scratch/list.txt"
    cmake -D MANIFEST="$scratch/list.txt" -P "$(dirname "$0")/../../cmake/uninstall.cmake" \
        >"$scratch/owned.log" 2>&1 || true
    [[ -f $owned ]] || { cp -p "$scratch/owned.saved" "$owned"; fail "uninstall removed $owned"; }
fi

((failures == 0)) && echo "install and uninstall: all checks passed"
exit $((failures > 0))
