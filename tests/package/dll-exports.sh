#!/usr/bin/env bash
# The names kelvora.dll exports, against the list recorded for its major
# number (tests/package/abi/kelvora.dll.exports): a name the list has and
# the DLL lacks breaks every program built against it; a new name is fine.
# Every exported name belongs to the C interface (kelvora_*).
# Usage: dll-exports.sh <kelvora.dll> <recorded list> [objdump]
set -euo pipefail
dll=$1 list=$2 objdump=${3:-x86_64-w64-mingw32-objdump}
exports=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]*\] //p' | sort)
[ -n "$exports" ] || { echo "dll-exports: $dll exports nothing" >&2; exit 1; }
recorded=$(grep -v -e '^#' -e '^$' "$list" | sort)
missing=$(comm -23 <(echo "$recorded") <(echo "$exports"))
if [ -n "$missing" ]; then
  echo "dll-exports: $dll no longer exports (recorded in $list):"$'\n'"$missing" >&2
  echo "Programs built against an earlier 1.x release need them: undo the change, or raise the major number" \
    "and record the new list" >&2
  exit 1
fi
foreign=$(grep -v '^kelvora_' <<<"$exports" || true)
[ -z "$foreign" ] || { echo "dll-exports: $dll exports names outside the C interface:"$'\n'"$foreign" >&2; exit 1; }
added=$(comm -13 <(echo "$recorded") <(echo "$exports"))
echo "dll-exports: $(wc -l <<<"$exports") names, every recorded one among them${added:+; new: $(tr "\n" " " <<<"$added")}"
