#!/usr/bin/env bash
# Builds every libFuzzer target (fuzz/*/) with clang, ASan and UBSan, and runs
# each for a bounded time on a copy of its saved inputs
# (fuzz/<folder>/corpus/<target without "fuzz_">/). A failing input is kept
# under <build dir>/artifacts/; save it in the corpus folder to make it a
# regression test (tests/utils/FuzzRegressionTest.cpp replays those).
#
#   scripts/run-fuzz.sh [build dir]     FUZZ_SECONDS (default 30) per target
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-30}
jobs=${KELVORA_JOBS:-2}

CC=clang CXX=clang++ cmake -S "$root" -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKELVORA_BUILD_FUZZ=ON -DKELVORA_SANITIZE=address -DKELVORA_BUILD_TESTS=OFF -DKELVORA_BUILD_BENCH=OFF || exit 1
cmake --build "$out" -j"$jobs" || exit 1

mkdir -p "$out/artifacts" "$out/work"
passed=0
failed=0
while IFS= read -r exe; do
  name=$(basename "$exe")
  short=${name#fuzz_}
  seeds=$(find "$root/fuzz" -type d -path "*/corpus/$short" | head -n1)
  work="$out/work/$short"
  rm -rf "$work"
  mkdir -p "$work"
  [ -n "$seeds" ] && cp -r "$seeds/." "$work/"
  echo "== $name: ${seconds}s"
  if "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1 \
      -artifact_prefix="$out/artifacts/$name-" "$work" >"$out/$name.log" 2>&1; then
    passed=$((passed + 1))
    grep -E 'stat::number_of_executed_units' "$out/$name.log" | sed "s/^/  $name /"
  else
    failed=$((failed + 1))
    echo "  $name FAILED; artifacts in $out/artifacts"
    tail -n 40 "$out/$name.log"
  fi
done < <(find "$out" -maxdepth 3 -type f -name 'fuzz_*' -perm -u+x | sort)

echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
