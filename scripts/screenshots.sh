#!/usr/bin/env bash
# Screenshots of the desktop for docs/screenshots/, taken on a private Xvfb display from the demo
# (the station and its peer on virtual air, in real time: about three minutes).
#   scripts/screenshots.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
out=$here/docs/screenshots
mkdir -p "$out"
command -v xvfb-run >/dev/null || { echo "screenshots: xvfb-run is missing (scripts/install-deps.sh)" >&2; exit 2; }
[ -x "$build/bin/app_tests" ] || { echo "screenshots: $build/bin/app_tests is not built" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
KAVRA_SCREENSHOTS=$out QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24" \
  "$build/bin/app_tests" --gtest_filter='DesktopEndToEnd.Screenshots'
ls -1 "$out"
