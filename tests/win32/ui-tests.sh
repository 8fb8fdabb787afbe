#!/usr/bin/env bash
# Runs the native-window tests under Wine on a virtual display (Xvfb), once
# at 100 % (96 dpi) and once at 200 % (192 dpi, the prefix's LogPixels), with
# a prefix of their own; the pictures land in <screenshot dir>.
# Usage: ui-tests.sh <win32_ui_tests.exe> <screenshot dir>
set -euo pipefail

exe=$(realpath "$1")
shots=$(realpath -m "$2")
wine=${KV_WINE:-/usr/lib/wine/wine64}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-display.sh"

mkdir -p "$shots"
rm -f "$shots"/*.png
kv_wine_prefix "$(dirname "$exe")/wineprefix-ui"
kv_start_display
for dpi in 96 192; do
  kv_wine_dpi "$dpi"
  echo "== at $dpi dpi"
  KV_SHOT_DIR="Z:$shots" "$wine" "$exe" 2>&1 | tr -d '\r' | tee "$shots/run-$dpi.log"
  grep -q "\[  PASSED  \]" "$shots/run-$dpi.log" || { echo "ui-tests: FAILED at $dpi dpi"; exit 1; }
  ! grep -q "\[  FAILED  \]" "$shots/run-$dpi.log" || { echo "ui-tests: FAILED at $dpi dpi"; exit 1; }
done
echo "ui-tests: OK ($(ls "$shots"/*.png | wc -l) pictures in $shots)"
