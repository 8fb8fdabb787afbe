#!/usr/bin/env bash
# Every function the shipped Windows programs and DLLs import must be on the
# list of those Windows 7 SP1 has (the oldest Windows the library supports,
# README "Windows"): a program importing one the system lacks does not start
# at all. Newer calls are looked up at run time instead, each with its
# fall-back.
#
# The list is of what is allowed, not of what is known to be newer: a list
# of forbidden functions misses the next one nobody thought of, while this
# one fails on every new import until someone has checked it against the
# oldest Windows and added it (with the DLL it comes from; API-set DLLs such
# as api-ms-win-core-synch-l1-2-0.dll do not exist on Windows 7).
# Usage: import-check.sh <allowed list> <objdump> <binary>...
set -euo pipefail
list=$1 objdump=$2
shift 2
allowed=$(grep -v -e '^#' -e '^$' "$list" | sort -u)
status=0 count=0
for bin in "$@"; do
  # "DLL Name: X" starts a block; each "vma hint name" line under it is one
  # function imported by name (an ordinal-only import shows no name).
  imports=$("$objdump" -p "$bin" | awk '
    /^The Export Tables/ { done = 1 }
    done { next }
    /DLL Name:/ { dll = tolower($3); next }
    dll != "" && /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_?@]/ { print dll "!" $3 }' | sort -u)
  [ -n "$imports" ] || { echo "import-check: no imports read from $bin" >&2; status=1; continue; }
  count=$((count + $(wc -l <<<"$imports")))
  extra=$(comm -23 <(echo "$imports") <(echo "$allowed"))
  if [ -n "$extra" ]; then
    echo "import-check: $(basename "$bin") imports what is not on the list of Windows 7 SP1's functions ($list):" >&2
    sed 's/^/  /' <<<"$extra" >&2
    status=1
  fi
done
[ $status -eq 0 ] || { echo "Look each up at run time with a fall-back, or check it exists on Windows 7 SP1 and add it." >&2; exit 1; }
echo "import-check: $# binaries, $count imports, each on the list"
