#!/usr/bin/env bash
# Fetches the corpus of real captures that the corpus tests read: each capture listed in
# captures.tsv beside this script, from its public repository at the pinned commit, checked
# against its size and SHA-256. The captures were written by others and stay under their own
# licenses (the last column of captures.tsv); they are not part of this repository.
#
#   tools/corpus/fetch.sh [DIR]          fetch into DIR (default: ../shared/corpus beside the
#                                        repository, where the build looks first)
#   tools/corpus/fetch.sh --check DIR    check the captures already in DIR, fetching nothing
#
# Point the tests at another directory with `cmake --preset release -DTIDEWRACK_CORPUS_DIR=DIR`,
# or at run time with the environment variable TIDEWRACK_CORPUS_DIR. Without a corpus, the tests
# that need it are skipped, and say so.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
list="$here/captures.tsv"
check_only=0
if [ "${1:-}" = "--check" ]; then
    check_only=1
    shift
fi
dir=${1:-"$here/../../../shared/corpus"}
[ "$check_only" = 1 ] || mkdir -p "$dir"

failed=0
while IFS=$'\t' read -r file bytes sha256 repository commit path license; do
    case "$file" in '#'* | '') continue ;; esac
    target="$dir/$file"
    if [ "$check_only" = 0 ] && ! { [ -f "$target" ] && echo "$sha256  $target" | sha256sum -c --status; }; then
        url="https://raw.githubusercontent.com/$repository/$commit/$path"
        if ! curl -fsSL --retry 3 -o "$target.part" "$url"; then
            echo "$file: cannot fetch $url" >&2
            rm -f "$target.part"
            failed=1
            continue
        fi
        mv "$target.part" "$target"
    fi
    if [ ! -f "$target" ]; then
        echo "$file: missing" >&2
        failed=1
    elif [ "$(stat -c %s "$target")" != "$bytes" ] || ! echo "$sha256  $target" | sha256sum -c --status; then
        echo "$file: not the capture of $repository at $commit ($license): its SHA-256 differs" >&2
        failed=1
    fi
done < "$list"
if [ "$check_only" = 1 ]; then
    for capture in "$dir"/*.pcap "$dir"/*.pcapng; do
        [ -e "$capture" ] || continue
        if ! cut -f1 "$list" | grep -qxF "$(basename "$capture")"; then
            echo "$(basename "$capture"): in $dir but not listed, so its source is unknown" >&2
            failed=1
        fi
    done
fi
[ "$failed" = 0 ] && echo "$(grep -vc '^#' "$list") captures in $dir, each as its source published it"
exit "$failed"
