#!/usr/bin/env bash
# The demo round on Windows, under Wine (scripts/demo.sh --windows [--smoke]):
# cross-builds kelvora-demo.exe and its newer build, serves a signed info file
# and the newer build from 127.0.0.1, and runs the demo under Wine. With
# --smoke, or without a display, on a virtual display (Xvfb) and unattended:
# the demo presses its button, answers Yes and OK in the native windows, the
# updater replaces it and starts it again, and the restarted demo must be
# told it is up to date; the script checks every step.
#
# KELVORA_DEMO_WIN_BUILD_DIR (default build-demo-win) and
# KELVORA_DEMO_BUILD_DIR (default build-demo, for kelvora-publish) choose the
# build trees; KELVORA_DEMO_KEEP=1 keeps the run's scratch folder.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
smoke=${1:-0}
winbuild=${KELVORA_DEMO_WIN_BUILD_DIR:-$root/build-demo-win}
build=${KELVORA_DEMO_BUILD_DIR:-$root/build-demo}
wine=/usr/lib/wine/wine64
fail() { echo "demo: FAILED: $*" >&2; exit 1; }

"$root/scripts/deps.sh" --windows
"$root/scripts/deps.sh" --publish

echo "== building kelvora-demo.exe in $winbuild"
zstd=$("$root/scripts/zstd-source.sh" 2>/dev/null) || zstd=""  # none: no patches
[ -f "$winbuild/CMakeCache.txt" ] || cmake -S "$root" -B "$winbuild" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVORA_BUILD_TESTS=OFF -DKELVORA_ZSTD_SOURCE="$zstd" >/dev/null
cmake --build "$winbuild" -j2 --target kelvora-demo kelvora-demo-next >/dev/null
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKELVORA_BUILD_TESTS=OFF -DKELVORA_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target kelvora-publish >/dev/null
demo_exe=$winbuild/demo/win32/kelvora-demo.exe
next_exe=$winbuild/demo/win32/kelvora-demo-next.exe
publish=$build/tools/publish/kelvora-publish

work=$(mktemp -d /tmp/kelvora-demo-win.XXXXXX)
server_pid=""
source "$root/tests/win32/wine-display.sh"
cleanup() {
  kv_cleanup_display
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  if [ -z "${KELVORA_DEMO_KEEP:-}" ]; then rm -rf "$work"; fi
}
trap cleanup EXIT
trap "exit 143" INT TERM

mkdir -p "$work/app" "$work/www"
cp "$demo_exe" "$work/app/kelvora-demo.exe"
cp "$next_exe" "$work/www/kelvora-demo.exe"
next_date="12/31/2030"  # KELVORA_DEMO_NEXT_DATE in demo/DemoLayout.cmake

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
base="http://127.0.0.1:$port"
public_key=$("$publish" keygen "$work/release-key.pem")
cat >"$work/release.json" <<JSON
{"date": "$next_date", "message": "A newer build of the demo, served from this machine.",
 "files": [{"path": "www/kelvora-demo.exe", "url": "$base/kelvora-demo.exe", "target": "kelvora-demo.exe"}]}
JSON
"$publish" make "$work/release.json" -o "$work/www/kelvora-demo-info.txt" --key "$work/release-key.pem"
python3 -m http.server --bind 127.0.0.1 --directory "$work/www" "$port" >"$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 100); do
  python3 -c 'import sys, urllib.request; urllib.request.urlopen(sys.argv[1], timeout=1).read()' \
    "$base/kelvora-demo-info.txt" 2>/dev/null && break
  sleep 0.1
done
echo "== update server on $base (files in $work/www)"

export KELVORA_DEMO_INFO_URL="$base/kelvora-demo-info.txt" KELVORA_DEMO_EXE_URL="$base/kelvora-demo.exe"
export KELVORA_DEMO_PUBLIC_KEY="$public_key"
kv_wine_prefix "$work/wineprefix"
if [ "$smoke" = 0 ] && [ -n "${DISPLAY:-}" ]; then
  echo "== running $work/app/kelvora-demo.exe under Wine on $DISPLAY (the server stays up until the demo has gone)"
  python3 "$root/scripts/run-tree.py" "$wine" "$work/app/kelvora-demo.exe"
  exit 0
fi

kv_start_display
export KELVORA_DEMO_AUTOPILOT=1 KELVORA_DEMO_REPORT="Z:$work/report.txt"
echo "== smoke run under Wine on the virtual display $DISPLAY"
start=$(date +%s)
# The addresses and the key on the command line, as a person starts it: the
# restarted demo must get them again to find itself up to date.
unset KELVORA_DEMO_INFO_URL KELVORA_DEMO_EXE_URL KELVORA_DEMO_PUBLIC_KEY
python3 "$root/scripts/run-tree.py" --limit 300 "$wine" "$work/app/kelvora-demo.exe" \
  "--info-url=$base/kelvora-demo-info.txt" "--exe-url=$base/kelvora-demo.exe" "--public-key=$public_key" \
  || fail "the demo ended with status $? ($(cat "$work/report.txt" 2>/dev/null))"
report=$(tr -d '\r' <"$work/report.txt" 2>/dev/null || true)
grep -q "starting the updater" <<<"$report" || fail "no upgrade: $report"
! grep -q "failed" <<<"$report" || fail "$report"
grep -q "restarted after upgrade" <<<"$report" || fail "the updater did not restart the demo: $report"
cmp -s "$work/app/kelvora-demo.exe" "$next_exe" || fail "restarted, but the program was not replaced"
[ ! -e "$work/app/kelvora-demo.exe.uTMP" ] || fail "the download was left next to the program"
grep -qF "restarted after upgrade (release $next_date)" <<<"$report" || fail "the restarted demo is not the newer build: $report"
grep -qF "no update available (release $next_date)" <<<"$report" || fail "the second check did not answer: $report"
echo "demo: OK (Windows, $(( $(date +%s) - start )) s under Wine): downloaded in the native wizard, replaced by the updater, restarted with /afterupgrade, up to date on the second check"
