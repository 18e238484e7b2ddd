#!/usr/bin/env bash
# Makes the pictures of the report: the bundled web-session sample analysed by tidewrack,
# reported as an HTML page by tidewrack-report, and photographed whole by Debian's chromium,
# headless, 1280 and 390 pixels wide, in the light and in the dark colour scheme. The README
# shows the first. Run it again whenever the page changes, and commit the PNGs. Pixels differ
# between browser versions and fonts, so the test of this script checks only that it writes
# PNGs.
#
# A headless window is never narrower than 500 pixels, so the page is shown in an iframe of the
# width wanted, whose height is measured first by a script of this one.
#
# Usage: docs/make_report_screenshot.sh [build directory [directory of the PNGs]]
#   (defaults: build/release, and docs/). Writes report-web-session.png (1280 pixels, light),
#   report-web-session-dark.png, report-web-session-390.png and report-web-session-390-dark.png.
set -euo pipefail
docs=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$docs")
build=$(realpath "${1:-$repo/build/release}")
out=$(realpath -m "${2:-$docs}")

browser=$(command -v chromium || true)
[[ -n $browser ]] || { echo "chromium is needed: apt-get install chromium" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

# The database is named as in the README's walk-through, and the page names it so too.
TZ=UTC "$build/tidewrack" -r "$repo/samples/web-session.pcap" -d "$work/traffic.db" >/dev/null
(cd "$work" && "$build/tidewrack-report" -o report.html traffic.db)
page=$(sed 's/&/\&amp;/g; s/"/\&quot;/g' "$work/report.html")

# As root chromium runs only without its sandbox; the other switches keep it off the network.
chromium_run() {
    timeout 120 "$browser" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --user-data-dir="$work/profile" --hide-scrollbars "$@" 2>"$work/chromium.log" ||
        { cat "$work/chromium.log" >&2; exit 1; }
}
# frame WIDTH HEIGHT [SCRIPT]: a page of the report in an iframe of that size.
frame() {
    printf '<!DOCTYPE html><html><body style="margin:0">'
    printf '<iframe id="report" style="display:block;border:0;width:%spx;height:%spx" srcdoc="%s">' \
        "$1" "$2" "$page"
    printf '</iframe>%s</body></html>\n' "${3:-}"
}

for width in 1280 390; do
    frame "$width" 1000 "<script>addEventListener('load', () => document.body.dataset.height =
        document.getElementById('report').contentDocument.documentElement.scrollHeight)</script>" \
        >"$work/measure.html"
    height=$(chromium_run --window-size="$width,1000" --dump-dom "file://$work/measure.html" |
        sed -n 's/.*data-height="\([0-9]*\)".*/\1/p')
    [[ -n $height ]] || { echo "the page's height was not measured" >&2; exit 1; }
    frame "$width" "$height" >"$work/frame.html"
    for scheme in light dark; do
        name=report-web-session switches=()
        [[ $width == 1280 ]] || name+=-$width
        [[ $scheme == light ]] || { name+=-dark; switches=(--force-dark-mode); }
        name+=.png
        chromium_run --window-size="$width,$height" "${switches[@]}" \
            --screenshot="$out/$name" "file://$work/frame.html" >/dev/null
        [[ -s $out/$name ]] || { echo "no screenshot written: $name" >&2; exit 1; }
        echo "wrote $out/$name"
    done
done
