#!/usr/bin/env bash
# The C interface on Windows: the README's C program, compiled as C on its
# own and linked only through kelvora.lib, upgrades itself under Wine with
# the real updater from a server on 127.0.0.1. Its printf goes to a log
# beside it (the restarted run has no standard output to write to).
# Usage: windows-round.sh <kelvora.dll> <kelvora.lib> <source dir> <generated include dir> <work dir> <C compiler>
set -euo pipefail
dll=$(realpath "$1") implib=$(realpath "$2") src=$3 geninc=$4 work=$5 cc=$6
wine=${KV_WINE:-/usr/lib/wine/wine64}
wineserver=/usr/lib/wine/wineserver
rm -rf "$work"; mkdir -p "$work/app" "$work/www"
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
server_pid=""
cleanup() {
  [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
  "$wineserver" -k 2>/dev/null || true
}
trap cleanup EXIT
fail() {
  echo "windows-round: FAILED: $*" >&2
  for f in "$work/run.out" "$work/app/myapp.exe.log"; do [ -f "$f" ] && { echo "--- $f" >&2; cat "$f" >&2; }; done
  exit 1
}

# kelvora.dll exports every function of the header (kelvora.def lists them), and nothing else.
declared=$(grep -o 'KELVORA_CALL kelvora_[a-z_]*(' "$src/include/kelvora/kelvora.h" | sed 's/KELVORA_CALL //; s/($//' | sort)
exported=$(x86_64-w64-mingw32-objdump -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^\t\[ *[0-9]*\] \(.*\)$/\1/p' | sort)
[ -n "$declared" ] && [ "$declared" = "$exported" ] ||
  fail "kelvora.dll exports differ from kelvora.h:"$'\n'"$(diff <(echo "$declared") <(echo "$exported"))"

# The program: the README's, with the test's address, "yes" answered, and
# its output in myapp.exe.log.
awk '/^```c$/{on=1; next} /^```$/{on=0} on' "$src/README.md" >"$work/readme.c"
cat >"$work/log.c" <<'C'
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
/* printf appends to myapp.exe.log beside the program */
static int kvtest_printf(const char* format, ...) {
  char path[MAX_PATH + 8];
  DWORD n = GetModuleFileNameA(NULL, path, MAX_PATH);
  FILE* out;
  va_list args;
  int written;
  memcpy(path + n, ".log", 5);
  if ((out = fopen(path, "a")) == NULL) return -1;
  va_start(args, format);
  written = vfprintf(out, format, args);
  va_end(args);
  fclose(out);
  return written;
}
#define printf kvtest_printf
C
sed -e '/^#include <stdio.h>$/r '"$work/log.c" \
    -e 's|"https://example.org/myapp/info.txt"|getenv("KVTEST_INFO_URL")|' \
    -e 's|KELVORA_UI_CONSOLE)|KELVORA_UI_CONSOLE_ASSUME_YES)|' "$work/readme.c" >"$work/main.c"
grep -q '^#define printf kvtest_printf' "$work/main.c" || fail "the README's C example changed: it includes no <stdio.h>"
"$cc" -std=c99 -Wall -Wextra -Werror -x c "$work/main.c" -x none -I"$src/include" -I"$geninc" "$implib" -static-libgcc \
  -o "$work/app/myapp.exe" || fail "the README's C example does not build against kelvora.lib"
cp "$dll" "$work/app/"
{ cat "$work/app/myapp.exe"; printf '\nKVTEST-NEW-BUILD\n'; } >"$work/www/myapp.exe"

python3 - "$work/www" >"$work/server.out" 2>&1 <<'PY' &
import functools, http.server, sys
class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args): pass
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Quiet, directory=sys.argv[1]))
print("PORT", server.server_address[1], flush=True)
server.serve_forever()
PY
server_pid=$!
for _ in $(seq 50); do grep -q '^PORT ' "$work/server.out" && break; sleep 0.1; done
port=$(sed -n 's/^PORT //p' "$work/server.out")
[ -n "$port" ] || fail "the server did not start"
printf '#version=1.5.0\r\n#url1=http://127.0.0.1:%s/myapp.exe=%%current%%myapp.exe\r\n' "$port" >"$work/www/info.txt"

timeout 120 "$wine" cmd /c exit >/dev/null 2>&1 || true
status=0
KVTEST_INFO_URL=http://127.0.0.1:$port/info.txt timeout 120 "$wine" "$work/app/myapp.exe" --greeting "two words" \
  >"$work/run.out" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "the old build ended with status $status"
for _ in $(seq 600); do
  grep -qs '^myapp: up to date' "$work/app/myapp.exe.log" && break
  sleep 0.1
done
timeout 60 "$wineserver" -w || true
got=$(tr -d '\r' <"$work/app/myapp.exe.log" | grep '^myapp:')
want=$'myapp: updated\nmyapp: updated to 1.5.0, arguments: --greeting two words\nmyapp: up to date'
[ "$got" = "$want" ] || fail "the log is not the round's"
cmp -s "$work/app/myapp.exe" "$work/www/myapp.exe" || fail "the program was not replaced by the new build"
echo "windows-round: the C program upgraded itself through kelvora.dll and was restarted"
