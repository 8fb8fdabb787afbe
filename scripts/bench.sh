#!/usr/bin/env bash
# Runs every benchmark built in the given build tree; each prints its figures.
set -euo pipefail
dir=${1:-build}
found=0
for b in "$dir"/bench/*/kv_bench_*; do
  [ -x "$b" ] || continue
  found=1
  echo "-- $(basename "$b")"
  "$b"
done
[ $found -eq 1 ] || echo "bench: no benchmarks built in $dir"
