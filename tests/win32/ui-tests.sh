#!/usr/bin/env bash
# Runs the native-window tests under Wine on a virtual display (Xvfb), once
# at 100 % (96 dpi) and once at 200 % (192 dpi, the prefix's LogPixels), and
# the fitting of the long questions (Win32Fit) at 150 % (144 dpi) too, with
# a prefix of their own; the pictures land in <screenshot dir>.
# Usage: ui-tests.sh <win32_ui_tests.exe> <screenshot dir>
# (KV_UI_DPIS and KV_GTEST_FILTER narrow a run by hand; a DPI given as
# dpi:filter runs only that filter there.)
set -euo pipefail

exe=$(realpath "$1")
shots=$(realpath -m "$2")
wine=${KV_WINE:-/usr/lib/wine/wine64}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-display.sh"

mkdir -p "$shots"
rm -f "$shots"/*.png

# The server of the upgrade runs (a slow file to cancel, a protected one, one
# cut short, and the info files that list them).
work=$(mktemp -d /tmp/kv-win-ui.XXXXXX)
server_pid=""
stop_servers() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
mkdir -p "$work/app"
python3 -u "$here/ui_run_server.py" "$work/app" >"$work/server.out" 2>"$work/server.err" &
server_pid=$!
for _ in $(seq 100); do grep -q "^PORT" "$work/server.out" 2>/dev/null && break; sleep 0.1; done
port=$(awk '/^PORT/ {print $2}' "$work/server.out")
export KV_INFO_BASE="http://127.0.0.1:$port/"

kv_wine_prefix "$(dirname "$exe")/wineprefix-ui"
kv_start_display
trap 'kv_cleanup_display; stop_servers' EXIT
for run in ${KV_UI_DPIS:-96 144:Win32Fit.* 192}; do
  dpi=${run%%:*}
  filter=${KV_GTEST_FILTER:-}
  [ "$run" = "$dpi" ] || filter=${run#*:}
  kv_wine_dpi "$dpi"
  echo "== at $dpi dpi${filter:+ ($filter)}"
  KV_SHOT_DIR="Z:$shots" "$wine" "$exe" ${filter:+--gtest_filter=$filter} 2>&1 | tr -d '\r' | tee "$shots/run-$dpi.log"
  grep -q "\[  PASSED  \]" "$shots/run-$dpi.log" || { echo "ui-tests: FAILED at $dpi dpi"; exit 1; }
  ! grep -q "\[  FAILED  \]" "$shots/run-$dpi.log" || { echo "ui-tests: FAILED at $dpi dpi"; exit 1; }
done
leftovers=$(ls -A "$work/app")
[ -z "$leftovers" ] || { echo "ui-tests: FAILED: the stopped runs left files: $leftovers"; exit 1; }
echo "ui-tests: OK ($(ls "$shots"/*.png | wc -l) pictures in $shots)"
