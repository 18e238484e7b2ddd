#!/usr/bin/env bash
# The script that makes the README's picture of the report writes a PNG. The pixels are not
# compared: they differ between browser versions and fonts. Exits 77 (skipped) without
# chromium.
#
# Usage: report_screenshot_test.sh <docs/make_report_screenshot.sh> <build directory>
set -euo pipefail
script=$1 build=$2
command -v chromium >/dev/null || { echo "chromium is not installed: skipped"; exit 77; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
bash "$script" "$build" "$scratch/report.png"
signature=$(head -c 8 "$scratch/report.png" | od -An -tx1 | tr -d ' \n')
[[ $signature == 89504e470d0a1a0a ]] || { echo "FAIL: not a PNG: $signature"; exit 1; }
echo "screenshot script: wrote a PNG of $(stat -c %s "$scratch/report.png") bytes"
