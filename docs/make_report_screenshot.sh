#!/usr/bin/env bash
# Makes the picture of the report that the README shows: the bundled web-session sample
# analysed by tidewrack, reported as an HTML page by tidewrack-report, and photographed by
# Debian's chromium, headless. Run it again whenever the page changes, and commit the PNG.
# Pixels differ between browser versions and fonts, so the test of this script checks only
# that it writes a PNG.
#
# Usage: docs/make_report_screenshot.sh [build directory [PNG to write]]
#   (defaults: build/release, and docs/report-web-session.png)
set -euo pipefail
docs=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$docs")
build=$(realpath "${1:-$repo/build/release}")
png=$(realpath -m "${2:-$docs/report-web-session.png}")

browser=$(command -v chromium || true)
[[ -n $browser ]] || { echo "chromium is needed: apt-get install chromium" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The database is named as in the README's walk-through, and the page names it so too.
TZ=UTC "$build/tidewrack" -r "$repo/samples/web-session.pcap" -d "$work/traffic.db" >/dev/null
(cd "$work" && "$build/tidewrack-report" -o report.html traffic.db)

# As root chromium runs only without its sandbox; the other switches keep it off the network.
timeout 120 "$browser" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$work/profile" --hide-scrollbars --window-size=1200,2000 \
    --screenshot="$png" "file://$work/report.html" >"$work/chromium.log" 2>&1 ||
    { cat "$work/chromium.log" >&2; exit 1; }
[[ -s $png ]] || { cat "$work/chromium.log" >&2; echo "no screenshot written" >&2; exit 1; }
echo "wrote $png"
