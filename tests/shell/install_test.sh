#!/usr/bin/env bash
# `cmake --install` into a scratch root (DESTDIR) puts every file in its place under the
# prefix, the installed programs run and tell their version, and the `uninstall` target removes
# all of it again, with the directories that belong to tidewrack alone.
#
# Usage: install_test.sh <build directory> <project version>
set -euo pipefail
build=$(realpath "$1") version=$2
# shellcheck source=scratch_with_kept_manifest.sh
source "$(dirname "$0")/scratch_with_kept_manifest.sh"

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
zcat "$root$prefix/share/man/man1/tidewrack.1.gz" | grep -q "^\.TH TIDEWRACK 1 .*\"tidewrack $version\"" ||
    fail "the installed manual page does not carry version $version"

DESTDIR=$root cmake --build "$build" --target uninstall >"$scratch/uninstall.log" ||
    { cat "$scratch/uninstall.log"; fail "the uninstall target failed"; }
left=$(cd "$root" && find . -type f)
[[ -z $left ]] || fail "left after uninstall: $left"
[[ ! -e $root$prefix/share/doc/tidewrack ]] || fail "share/doc/tidewrack left after uninstall"
[[ -d $root$prefix/share/man/man1 ]] || fail "uninstall removed the shared directory share/man/man1"

((failures == 0)) && echo "install and uninstall: all checks passed"
exit $((failures > 0))
