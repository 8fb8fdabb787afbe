#!/usr/bin/env bash
# The binary interface of the shared Kelvora::Core, against the one recorded
# for its major number (tests/package/abi/<SONAME>.abi, made by abidw from
# Debian's abigail-tools):
#   abi.sh check  <library> <source dir> <build dir>   fails on any change but additions
#   abi.sh record <library> <source dir> <build dir>   writes the record
# Only what the public headers declare counts (the installed headers: the
# source's include/ and the generated export header), reached from the
# exported functions; paths and parameter names are left out, so the
# compiler cache and the tree's place change nothing. Both sides are written
# by abidw the same way, each with its own tree's header folders, and then
# compared (abidiff's own header filter would need the record's paths).
set -euo pipefail
mode=$1 lib=$2 src=$3 build=$4
soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ -n "$soname" ] || { echo "abi: $lib has no SONAME" >&2; exit 1; }
record=$src/tests/package/abi/$soname.abi
headers=(--headers-dir "$src/include/kelvora" --headers-dir "$build/include/kelvora")
dump() {  # dump <output>
  abidw "${headers[@]}" --exported-interfaces-only --drop-private-types --no-corpus-path \
    --no-comp-dir-path --no-show-locs --no-parameter-names --type-id-style hash --out-file "$1" "$lib"
  # A source's path is written relative to the tree: keep it from the source folder on.
  sed -i -E "s@ path='(\.\./)+@ path='@" "$1"
  # Without debug information abidw sees symbols but no types: nothing to check.
  grep -q '<function-decl' "$1" || { echo "abi: $lib has no debug information" >&2; exit 1; }
}
case $mode in
  record)
    dump "$record"
    echo "abi: recorded $soname in $record" ;;
  check)
    if [ ! -f "$record" ]; then
      echo "abi: no recorded binary interface for $soname ($record): a new major number starts" \
        "a new one; record it with scripts/record-abi.sh" >&2
      exit 1
    fi
    dump "$build/abi-current.abi"
    # --no-added-syms: what is only added keeps the interface compatible.
    # Any other change (a removed or changed function, a changed type) is
    # reported, and abidiff's status is then non-zero.
    status=0
    abidiff --no-added-syms --suppressions "$src/tests/package/abi/outside.suppr" "$record" "$build/abi-current.abi" >"$build/abidiff.txt" || status=$?
    if [ $status -ne 0 ]; then
      cat "$build/abidiff.txt" >&2
      echo "abi: $soname no longer has the binary interface recorded in $record (abidiff status $status)." \
        "Undo the change, or raise the major number (project() in CMakeLists.txt) and record the new" \
        "interface with scripts/record-abi.sh" >&2
      exit 1
    fi
    echo "abi: $soname keeps its recorded binary interface" ;;
  *) echo "usage: abi.sh check|record <library> <source dir> <build dir>" >&2; exit 2 ;;
esac
