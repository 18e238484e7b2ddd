#!/usr/bin/env bash
# The script that makes the pictures of the report writes its four PNGs, at 1280 and 390 pixels
# wide. The pixels are not compared: they differ between browser versions and fonts. Exits 77
# (skipped) without chromium.
#
# Usage: report_screenshot_test.sh <docs/make_report_screenshot.sh> <build directory>
set -euo pipefail
script=$1 build=$2
command -v chromium >/dev/null || { echo "chromium is not installed: skipped"; exit 77; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
bash "$script" "$build" "$scratch"
for name in report-web-session report-web-session-dark report-web-session-390 \
    report-web-session-390-dark; do
    png=$scratch/$name.png
    signature=$(head -c 8 "$png" | od -An -tx1 | tr -d ' \n')
    [[ $signature == 89504e470d0a1a0a ]] || { echo "FAIL: $name is not a PNG: $signature"; exit 1; }
    # The width is the big-endian word at byte 16 of the PNG.
    width=$(od -An -tu1 -j16 -N4 "$png" | awk '{print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4}')
    [[ $width == $([[ $name == *390* ]] && echo 390 || echo 1280) ]] ||
        { echo "FAIL: $name is $width pixels wide"; exit 1; }
done
echo "screenshot script: wrote four PNGs"
