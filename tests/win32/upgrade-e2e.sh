#!/usr/bin/env bash
# A console program upgrades itself under Wine: nginx on 127.0.0.1 serves an
# info file and the newer build; the old build checks, downloads, hands over
# to the real updater and ends; the updater puts the new build in place and
# starts it with "/afterupgrade". Then the same with a server whose copy of
# the new build is cut short, and with one that announces more than it sends:
# the program must stay as it was, and nothing of the run may be left. Then
# a program killed halfway through its download continues the part in its
# next run and fetches only the rest. With KV_MAKE_PATCH (a build with
# patches): last, the new build from a patch.
# Usage: upgrade-e2e.sh <old build .exe> <new build .exe>
set -euo pipefail

old=$(realpath "$1")
new=$(realpath "$2")
wine=${KV_WINE:-/usr/lib/wine/wine64}
wineserver=/usr/lib/wine/wineserver
export WINEPREFIX=${WINEPREFIX:-$(dirname "$old")/wineprefix-e2e}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

work=$(mktemp -d /tmp/kv-win-e2e.XXXXXX)
nginx_pid=""
fault_pid=""
cleanup() {
  if [ -n "$nginx_pid" ]; then kill "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true; fi
  if [ -n "$fault_pid" ]; then kill "$fault_pid" 2>/dev/null || true; wait "$fault_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "upgrade-e2e: FAILED: $*" >&2
  for f in "$work"/run*.out "$work/app/kelvora-console.exe.log" "$work/nginx/access.log" "$work/nginx/error.log"; do
    [ -f "$f" ] && { echo "--- $f" >&2; cat "$f" >&2; }
  done
  ls -la "$work/app" "$work/app/.kelvora-console.exe.kelvora" >&2 2>/dev/null || true
  exit 1
}

# --- the fault server (a body cut short, reached through a redirect since an
# address in an info file holds no "="), then nginx on a free loopback port,
# serving $work/www (a few ports are tried)
mkdir -p "$work/www" "$work/app" "$work/nginx/tmp"
python3 "$(dirname "$(realpath "$0")")/../support/fault_server.py" --port 0 >"$work/fault.out" 2>&1 &
fault_pid=$!
for _ in $(seq 50); do grep -q '^PORT ' "$work/fault.out" && break; sleep 0.1; done
fport=$(sed -n 's/^PORT //p' "$work/fault.out")
[ -n "$fport" ] || fail "the fault server did not start"
user_line=""
[ "$(id -u)" -eq 0 ] && user_line="user $(id -un) $(id -gn);"
start_nginx() {
  cat >"$work/nginx/nginx.conf" <<CONF
$user_line
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log warn;
events { worker_connections 64; }
http {
  access_log $work/nginx/access.log;
  client_body_temp_path $work/nginx/tmp/body;
  proxy_temp_path $work/nginx/tmp/proxy;
  fastcgi_temp_path $work/nginx/tmp/fastcgi;
  uwsgi_temp_path $work/nginx/tmp/uwsgi;
  scgi_temp_path $work/nginx/tmp/scgi;
  default_type application/octet-stream;
  server {
    listen 127.0.0.1:$port; root $work/www;
    location = /cut/kelvora-console.exe { return 302 http://127.0.0.1:$fport/truncated?n=18000000&send=9000000; }
    location /slow/ { limit_rate_after 4m; limit_rate 256k;
      if (\$http_range) { set \$limit_rate 0; } }
  }
}
CONF
  nginx -p "$work/nginx" -e "$work/nginx/error.log" -c "$work/nginx/nginx.conf" -g "daemon off;" \
    >"$work/nginx/stderr.log" 2>&1 &
  nginx_pid=$!
  for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return 0
    kill -0 "$nginx_pid" 2>/dev/null || break  # it could not listen there
    sleep 0.1
  done
  kill "$nginx_pid" 2>/dev/null || true
  wait "$nginx_pid" 2>/dev/null || true
  nginx_pid=""
  return 1
}
for _ in $(seq 10); do
  port=$((20000 + RANDOM % 30000))
  start_nginx && break
done
[ -n "$nginx_pid" ] || fail "nginx did not start: $(cat "$work/nginx/stderr.log" "$work/nginx/error.log" 2>/dev/null)"

base="http://127.0.0.1:$port"
app="$work/app/kelvora-console.exe"
state="$work/app/.kelvora-console.exe.kelvora"

# The info file announces the new build with its size and SHA-256.
cat_info() {
  printf '#version=2.0.0\r\n#message={A newer build, served from this machine.}\r\n#url1=%s/kelvora-console.exe\r\n#hash1=sha256:%s %s\r\n' \
    "$base" "$(sha256sum "$new" | cut -d' ' -f1)" "$(stat -c %s "$new")" >"$work/www/info.txt"
}

# Runs the old build under Wine, bounded; its status in $status.
run_host() {
  local out=$1
  status=0
  timeout 120 "$wine" "$app" --yes "$base/info.txt" >"$out" 2>&1 || status=$?
}

# Nothing of a run may be left: no downloads or part files, no queue or
# staging record in the state folder, no updater in the temporary folders.
check_clean() {
  local left
  left=$(find "$work/app" -name '*.uTMP' -o -name '*.uPART' -o -name 'queue*' -o -name 'staging*')
  [ -z "$left" ] || fail "left behind after $1: $left"
  left=$(find "$WINEPREFIX/drive_c" "$state" -name 'AppUpdate*.exe' 2>/dev/null || true)
  [ -z "$left" ] || fail "the updater was left after $1: $left"
}

# First start of the prefix (made in the build tree, like the other tests).
timeout 120 "$wine" cmd /c exit >/dev/null 2>&1 || true

# Waits (bounded) for the new build's start with /afterupgrade, then until
# the updater and the restarted program have ended.
wait_restarted() {
  for _ in $(seq 600); do
    grep -qs "2.0.0: restarted after the upgrade" "$work/app/kelvora-console.exe.log" && break
    sleep 0.1
  done
  timeout 60 "$wineserver" -w || true
}

# --- 1. the upgrade
cp "$old" "$app"
cat_info
cp "$new" "$work/www/kelvora-console.exe"
run_host "$work/run1.out"
[ "$status" -eq 0 ] || fail "the old build ended with status $status"
grep -q "1.0.0: downloaded; the updater takes over" "$work/run1.out" || fail "no hand-over to the updater"
# Its output is a file here: plain lines, no redraw.
grep -q "^100% (all 100%)" "$work/run1.out" || fail "no progress lines"
! grep -q $'\r.' "$work/run1.out" || fail "control characters in the progress written to a file"
wait_restarted
grep -qs "2.0.0: restarted after the upgrade" "$work/app/kelvora-console.exe.log" ||
  fail "the new build was not started with /afterupgrade"
cmp -s "$app" "$new" || fail "the installed program is not the new build"
check_clean "the upgrade"
# A leading dot hides nothing on Windows: the state folder carries the hidden
# attribute (Wine keeps it in user.DOSATTRIB; it reports dot-files hidden anyway).
python3 -c 'import os, sys; sys.exit(0 if int(os.getxattr(sys.argv[1], "user.DOSATTRIB").rstrip(b"\0"), 16) & 2 else 1)' \
  "$state" 2>/dev/null || fail "the state folder does not have the hidden attribute"
echo "upgrade-e2e: upgraded, restarted with /afterupgrade, nothing left behind, the state folder hidden"

# --- 2. the server's copy is cut short: nothing is installed (the old build
# put back by hand, without the record of the confirmed 2.0.0)
cp "$old" "$app"
rm -f "$work/app/kelvora-console.exe.log" "$state/installed-release"
head -c $(($(stat -c %s "$new") / 2)) "$new" >"$work/www/kelvora-console.exe"
run_host "$work/run2.out"
[ "$status" -eq 5 ] || fail "a cut-short download ended with status $status, not 5 (stopped)"
timeout 60 "$wineserver" -w || true
cmp -s "$app" "$old" || fail "the program was changed by a cut-short download"
! grep -qs "restarted" "$work/app/kelvora-console.exe.log" || fail "the updater ran after a cut-short download"
check_clean "the cut-short download"
echo "upgrade-e2e: a cut-short download left the program untouched"

# --- 3. a server that announces more than it sends and closes (no hash to
# tell): the cut-short part file is closed, then removed, with its record
cp "$old" "$app"
rm -f "$work/app/kelvora-console.exe.log"
printf '#version=2.0.0\r\n#url1=%s/cut/kelvora-console.exe\r\n' "$base" >"$work/www/info.txt"
run_host "$work/run3.out"
timeout 60 "$wineserver" -w || true
cmp -s "$app" "$old" || fail "the program was changed by a download cut short"
! grep -qs "restarted" "$work/app/kelvora-console.exe.log" || fail "the updater ran after a download cut short"
check_clean "a download cut short"
echo "upgrade-e2e: a download cut short left no part file and no record"

# --- 4. the program killed halfway through the download: its part stays, and
# the next run continues it with a guarded range (206), then installs
cp "$old" "$app"
rm -f "$work/app/kelvora-console.exe.log" "$state/installed-release"
mkdir -p "$work/www/slow"
cp "$new" "$work/www/slow/kelvora-console.exe"
printf '#version=2.0.0\r\n#url1=%s/slow/kelvora-console.exe\r\n#hash1=sha256:%s %s\r\n' \
  "$base" "$(sha256sum "$new" | cut -d' ' -f1)" "$(stat -c %s "$new")" >"$work/www/info.txt"
part="$app.uPART"
timeout 120 "$wine" "$app" --yes "$base/info.txt" >"$work/run4.out" 2>&1 &
run4=$!
for _ in $(seq 600); do
  [ "$(stat -c %s "$part" 2>/dev/null || echo 0)" -ge 4194304 ] && break
  sleep 0.1
done
"$wineserver" -k || true
wait "$run4" 2>/dev/null || true
kept=$(stat -c %s "$part" 2>/dev/null || echo 0)
[ "$kept" -ge 4194304 ] || fail "the killed run left no part to continue ($kept bytes)"
[ -f "$state/resume" ] || fail "the killed run left no resume record"
run_host "$work/run5.out"
[ "$status" -eq 0 ] || fail "the continued run ended with status $status"
wait_restarted
cmp -s "$app" "$new" || fail "the continued download did not install the new build"
grep -q '"GET /slow/kelvora-console.exe HTTP/1.1" 206 ' "$work/nginx/access.log" ||
  fail "the next run did not continue the part with a range"
rest=$(sed -n 's|.*"GET /slow/kelvora-console.exe HTTP/1.1" 206 \([0-9]*\) .*|\1|p' "$work/nginx/access.log" | tail -1)
[ "$rest" -le $(($(stat -c %s "$new") - 4194304)) ] || fail "the continued run fetched $rest bytes, more than the rest"
check_clean "a continued download"
[ ! -e "$state/resume" ] || fail "the resume record was left after the install"
echo "upgrade-e2e: a killed download was continued with $rest bytes and installed"

# --- 5. the only listed file is lost (404) and --yes accepts skipping it:
# nothing to install is no hand-over, no "upgraded" record, no restart
cp "$old" "$app"
rm -f "$work/app/kelvora-console.exe.log" "$state/installed-release"
printf '#version=2.0.0\r\n#url1=%s/gone/kelvora-console.exe\r\n' "$base" >"$work/www/info.txt"
run_host "$work/run7.out"
timeout 60 "$wineserver" -w || true
[ "$status" -ne 0 ] || fail "a release whose only file was lost ended with status 0"
cmp -s "$app" "$old" || fail "the program was changed though its only file was lost"
! grep -q "the updater takes over" "$work/run7.out" || fail "an empty upgrade was handed to the updater"
! grep -qs "restarted" "$work/app/kelvora-console.exe.log" || fail "the program was restarted as upgraded"
! grep -qs -e attempt -e confirmed "$state/installed-release" || fail "the lost release was recorded as installed"
check_clean "a release whose only file was lost"
echo "upgrade-e2e: a release whose only file was lost was reported, not installed (status $status)"

# --- 6. a release that ends at its start is undone, and the program that checks at
# every start (the updater starts it again with its own arguments) does not
# download and install it again, nor does the next start by hand
cp "$old" "$app"
rm -f "$work/app/kelvora-console.exe.log" "$state/installed-release"
mkdir -p "$work/www/broken"
broken="$work/www/broken/kelvora-console.exe"
cp "$KV_CRASHING_BUILD" "$broken"
printf '#version=2.0.0\r\n#url1=%s/broken/kelvora-console.exe\r\n#hash1=sha256:%s %s\r\n' "$base" \
  "$(sha256sum "$broken" | cut -d' ' -f1)" "$(stat -c %s "$broken")" >"$work/www/info.txt"
served_before=$(wc -l <"$work/nginx/access.log")
run_host "$work/run8.out"
grep -q "the updater takes over" "$work/run8.out" || fail "the broken release was not handed over: $(cat "$work/run8.out")"
# The updater undoes it and starts the old build with its own arguments: it
# checks again and passes the failed release over.
for _ in $(seq 600); do
  grep -qs -e "declined" -e "takes over" <(tail -n +3 "$work/app/kelvora-console.exe.log") && break
  sleep 0.1
done
timeout 60 "$wineserver" -w || true
cmp -s "$app" "$old" || fail "the broken release was not undone"
[ "$(grep -c checking "$work/app/kelvora-console.exe.log")" -eq 2 ] &&
  grep -q "upgrade declined" "$work/app/kelvora-console.exe.log" ||
  fail "the restarted old build did not check and pass the release over: $(cat "$work/app/kelvora-console.exe.log")"
run_host "$work/run9.out"
timeout 60 "$wineserver" -w || true
cmp -s "$app" "$old" || fail "the broken release was installed again"
downloads=$(tail -n +"$((served_before + 1))" "$work/nginx/access.log" | grep -c 'GET /broken/kelvora-console.exe' || true)
[ "$downloads" -eq 1 ] || fail "the broken release was downloaded $downloads times, not once"
grep -qs failed "$state/installed-release" || fail "the broken release is not recorded as failed"
check_clean "a release that cannot start"
echo "upgrade-e2e: a release that could not start was undone and not tried again ($downloads download)"

# --- 7. a patch from the installed build (when this build has patches): only
# the patch is downloaded, and what is installed is the new build byte for byte
[ -n "${KV_MAKE_PATCH:-}" ] || exit 0
cp "$old" "$app"
rm -f "$work/app/kelvora-console.exe.log" "$state/installed-release"
cp "$new" "$work/www/kelvora-console.exe"
timeout 120 "$wine" "$KV_MAKE_PATCH" "Z:$old" "Z:$new" "Z:$work/www/console.patch" ||
  fail "the patch could not be made"
printf '#version=2.0.0\r\n#url1=%s/kelvora-console.exe\r\n#hash1=sha256:%s %s\r\n#patch1.1=sha256:%s sha256:%s %s %s/console.patch\r\n' \
  "$base" "$(sha256sum "$new" | cut -d' ' -f1)" "$(stat -c %s "$new")" "$(sha256sum "$old" | cut -d' ' -f1)" \
  "$(sha256sum "$work/www/console.patch" | cut -d' ' -f1)" "$(stat -c %s "$work/www/console.patch")" "$base" \
  >"$work/www/info.txt"
served_before=$(wc -l <"$work/nginx/access.log")
run_host "$work/run6.out"
[ "$status" -eq 0 ] || fail "the round with a patch ended with status $status"
wait_restarted
cmp -s "$app" "$new" || fail "the program built from the patch is not the new build"
served=$(tail -n +"$((served_before + 1))" "$work/nginx/access.log")
grep -q '"GET /console.patch HTTP/1.1" 200' <<<"$served" || fail "the patch was not downloaded: $served"
! grep -q 'GET /kelvora-console.exe' <<<"$served" || fail "the whole build was downloaded too: $served"
check_clean "the round with a patch"
echo "upgrade-e2e: installed from a $(stat -c %s "$work/www/console.patch")-byte patch instead of $(stat -c %s "$new") bytes"
