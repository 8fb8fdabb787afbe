#!/usr/bin/env bash
# Builds the demo, serves an info file, a newer build of the demo and a patch
# from the installed build to the newer one from a local server on 127.0.0.1,
# and runs the demo against it. The server stays up until the last demo
# process this script started has exited: the demo, the updater it starts,
# and the demo the updater starts again after the upgrade.
#
#   scripts/demo.sh           the window on $DISPLAY; without a display the
#                             unattended run below, since nobody could click
#   scripts/demo.sh --smoke   unattended and offscreen: the demo presses its
#                             button, answers Yes and OK; the restarted demo
#                             checks again and must find no update; the script
#                             checks every step (the patch was downloaded, the
#                             full build was not, the installed program is the
#                             newer build byte for byte) and exits non-zero on
#                             failure
#   scripts/demo.sh --windows [--smoke]
#                             the same round with kelvora-demo.exe under Wine
#                             (scripts/demo-windows.sh)
#
# KELVORA_DEMO_BUILD_DIR chooses the build tree (default build-demo);
# KELVORA_DEMO_KEEP=1 keeps the run's scratch folder.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${KELVORA_DEMO_BUILD_DIR:-$root/build-demo}
smoke=0
windows=0
for arg in "$@"; do
  case "$arg" in
    --smoke) smoke=1 ;;
    --windows) windows=1 ;;
    *) echo "usage: $0 [--windows] [--smoke]" >&2; exit 2 ;;
  esac
done
if [ "$windows" = 1 ]; then exec "$root/scripts/demo-windows.sh" "$smoke"; fi
if [ "$smoke" = 0 ] && [ -z "${DISPLAY:-}" ]; then
  echo "demo: no display here: running the demo unattended (offscreen); use a desktop session to click yourself"
  smoke=1
fi

fail() { echo "demo: FAILED: $*" >&2; exit 1; }

"$root/scripts/deps.sh"

echo "== building kelvora-demo in $build"
if [ -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" >/dev/null  # an existing tree keeps its settings
else
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVORA_BUILD_TESTS=OFF -DKELVORA_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j2 --target kelvora-demo kelvora-demo-next kelvora-publish >/dev/null
demo_bin=$build/demo/kelvora-demo
next_bin=$build/demo/kelvora-demo-next
[ -x "$demo_bin" ] && [ -x "$next_bin" ] || fail "no $demo_bin (is qt6-base-dev installed?)"

work=$(mktemp -d /tmp/kelvora-demo.XXXXXX)
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  if [ -z "${KELVORA_DEMO_KEEP:-}" ]; then rm -rf "$work"; fi
}
trap cleanup EXIT
trap "exit 143" INT TERM

# The installed program, and the newer build on the server: the same program
# released later (its stored release date is the one the info file announces,
# so after the upgrade it is up to date).
mkdir -p "$work/app" "$work/www" "$work/tmp" "$work/old"
chmod 700 "$work/tmp"
cp "$demo_bin" "$work/app/kelvora-demo"
cp "$demo_bin" "$work/old/kelvora-demo"  # the release the newer build replaces, kept by the publisher
cp "$next_bin" "$work/www/kelvora-demo"
next_date="12/31/2030"  # KELVORA_DEMO_NEXT_DATE in demo/CMakeLists.txt

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
base="http://127.0.0.1:$port"
# The release is signed, as a publisher would: the demo accepts only an info
# file signed with this key, and checks the download's size and SHA-256.
publish=$build/tools/publish/kelvora-publish
public_key=$("$publish" keygen "$work/release-key.pem")
cat >"$work/release.json" <<JSON
{"date": "$next_date", "message": "A newer build of the demo, served from this machine.",
 "files": [{"path": "www/kelvora-demo", "url": "$base/kelvora-demo", "target": "kelvora-demo"}]}
JSON
# With a patch from the installed build: the demo downloads a few kilobytes
# instead of the whole program (level 3, the smaller of the two formats: some
# seconds for the matched one; 19 is smaller still).
"$publish" make "$work/release.json" -o "$work/www/kelvora-demo-info.txt" --key "$work/release-key.pem" \
  --previous "$work/old" --patches "$work/www" --patch-level 3
patch_name=$(sed -n 's|^#patch1\.1=.* [0-9]* [^ ]*/\([^/ ]*\)\r\{0,1\}$|\1|p' "$work/www/kelvora-demo-info.txt")
[ -n "$patch_name" ] || fail "the info file offers no patch"
"$publish" verify "$work/www/kelvora-demo-info.txt" --public-key "$public_key" --files "$work/www" \
  --previous "$work/old" >/dev/null

python3 -m http.server --bind 127.0.0.1 --directory "$work/www" "$port" >"$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 100); do
  python3 - "$base/kelvora-demo-info.txt" <<'PY' 2>/dev/null && break
import sys, urllib.request
urllib.request.urlopen(sys.argv[1], timeout=1).read()
PY
  sleep 0.1
done
echo "== update server on $base (files in $work/www)"

export KELVORA_DEMO_INFO_URL="$base/kelvora-demo-info.txt"
export KELVORA_DEMO_EXE_URL="$base/kelvora-demo"
export KELVORA_DEMO_PUBLIC_KEY="$public_key"
# The updater program and the queue file go to a private folder of this run.
export XDG_RUNTIME_DIR="$work/tmp"

# Runs the demo and waits for every process it leads to (run-tree.py).
run_demo() { python3 "$root/scripts/run-tree.py" "$@" "$work/app/kelvora-demo"; }

if [ "$smoke" = 0 ]; then
  echo "== running $work/app/kelvora-demo (the server stays up until the last demo window is closed)"
  run_demo
  exit 0
fi

export QT_QPA_PLATFORM=offscreen KELVORA_DEMO_AUTOPILOT=1 KELVORA_DEMO_REPORT="$work/report.txt"
echo "== smoke run"
# The addresses and the key on the command line, as a person starts it: the
# restarted demo must get them again to find itself up to date.
unset KELVORA_DEMO_INFO_URL KELVORA_DEMO_EXE_URL KELVORA_DEMO_PUBLIC_KEY
python3 "$root/scripts/run-tree.py" --limit 180 "$work/app/kelvora-demo" "--info-url=$base/kelvora-demo-info.txt" \
  "--exe-url=$base/kelvora-demo" "--public-key=$public_key" || fail "the demo ended with status $? ($(cat "$work/report.txt" 2>/dev/null))"
report=$(cat "$work/report.txt")
grep -q "starting the updater" <<<"$report" || fail "no upgrade: $report"
! grep -q "failed" <<<"$report" || fail "$report"

# The updater replaced the program and started it again with /afterupgrade;
# that run checked once more against the same server.
if grep -q "restarted after upgrade" <<<"$report"; then
  cmp -s "$work/app/kelvora-demo" "$next_bin" || fail "restarted, but the program is not the newer build"
  # What crossed the line (http.server logs one line per request): the patch
  # and not the whole build.
  grep -qE "\"GET /$patch_name HTTP/[0-9.]+\" 200" "$work/server.log" ||
    fail "the patch was not downloaded: $(grep GET "$work/server.log")"
  ! grep -qE "\"GET /kelvora-demo[ ?]" "$work/server.log" || fail "the whole build was downloaded, not the patch"
  [ ! -e "$work/app/kelvora-demo.uTMP" ] || fail "the download was left next to the program"
  grep -qF "restarted after upgrade (release $next_date)" <<<"$report" || fail "the restarted demo is not the newer build: $report"
  grep -qF "no update available (release $next_date)" <<<"$report" || fail "the second check did not answer: $report"
  echo "demo: OK: the patch only downloaded ($(stat -c %s "$work/www/$patch_name") of $(stat -c %s "$next_bin") bytes)," \
    "the newer build installed byte for byte by the updater, restarted with /afterupgrade, up to date on the second check"
else
  fail "the updater did not restart the demo: $report"
fi
