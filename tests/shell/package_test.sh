#!/usr/bin/env bash
# The Debian package that cpack builds: named and versioned after the project, depending on
# the runtime libpcap, SQLite and OpenSSL packages, holding both programs, their manual pages and bash
# completions, the README and the samples under /usr; unpacked into a scratch root (dpkg -x),
# tidewrack tells its version and analyses the packaged sample, and tidewrack-report reports it.
#
# Usage: package_test.sh <cpack command> <build directory> <project version>
set -euo pipefail
cpack=$1 build=$(realpath "$2") version=$3
# shellcheck source=scratch_for_installs.sh
source "$(dirname "$0")/scratch_for_installs.sh"

"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/package" >"$scratch/cpack.log" ||
    { cat "$scratch/cpack.log"; fail "cpack failed"; exit 1; }
packages=("$scratch"/package/*.deb)
[[ ${#packages[@]} == 1 && -f ${packages[0]} ]] || { fail "no single package: ${packages[*]}"; exit 1; }
deb=${packages[0]}
[[ $(basename "$deb") == tidewrack_${version}_$(dpkg --print-architecture).deb ]] ||
    fail "package file name: $(basename "$deb")"

[[ $(dpkg-deb --field "$deb" Package) == tidewrack ]] || fail "package name"
[[ $(dpkg-deb --field "$deb" Version) == "$version" ]] || fail "package version"
depends=$(dpkg-deb --field "$deb" Depends)
for library in libpcap0.8 libsqlite3-0 libssl3; do
    grep -qE "(^|, )$library( |,|$)" <<<"$depends" || fail "Depends does not name $library: $depends"
done

dpkg -x "$deb" "$scratch/root"
root=$scratch/root/usr
for file in bin/tidewrack share/man/man1/tidewrack.1.gz share/bash-completion/completions/tidewrack \
    bin/tidewrack-report share/man/man1/tidewrack-report.1.gz \
    share/bash-completion/completions/tidewrack-report \
    share/doc/tidewrack/README.md share/doc/tidewrack/examples/web-session.pcap; do
    [[ -f $root/$file ]] || fail "not in the package: /usr/$file"
done

"$root/bin/tidewrack" -V | grep -qx "Version:  $version" ||
    fail "the packaged program does not tell version $version"
"$root/bin/tidewrack" -r "$root/share/doc/tidewrack/examples/web-session.pcap" \
    -d "$scratch/web.db" >"$scratch/run.log" 2>&1 || fail "the packaged program failed"
grep -q '^[0-9]* flows and service indices created in: ' "$scratch/run.log" ||
    { cat "$scratch/run.log"; fail "the packaged program did not build the flows"; }
# The output is read whole before it is searched: grep -q leaves at its first match, and a
# program still writing into the closed pipe would fail the pipeline.
report=$("$root/bin/tidewrack-report" "$scratch/web.db") ||
    fail "the packaged report program failed"
grep -q '^Traffic report: 1 database, 72 frames' <<<"$report" ||
    fail "the packaged report program did not report the sample"

((failures == 0)) && echo "Debian package: all checks passed"
exit $((failures > 0))
