#!/usr/bin/env bash
# Builds every libFuzzer target (fuzz/*/) with clang, ASan and UBSan, and runs
# each for a bounded time on a copy of its saved inputs
# (fuzz/<folder>/corpus/<target without "fuzz_">/). A failing input is kept
# under <build dir>/artifacts/; save it in the corpus folder to make it a
# regression test (tests/utils/FuzzRegressionTest.cpp replays those).
# KELVORA_JOBS (default 2) targets run at a time.
#
#   scripts/run-fuzz.sh [build dir]     FUZZ_SECONDS (default 30) per target
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-30}
jobs=${KELVORA_JOBS:-2}

CC=clang CXX=clang++ cmake -S "$root" -B "$out" -C "$root/cmake/TestTree.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKELVORA_BUILD_FUZZ=ON -DKELVORA_SANITIZE=address -DKELVORA_BUILD_TESTS=OFF -DKELVORA_BUILD_BENCH=OFF || exit 1
cmake --build "$out" -j"$jobs" || exit 1

mkdir -p "$out/artifacts" "$out/work"
# fuzz_one <exe>: one target on a fresh copy of its saved inputs; its
# status goes to <log>.rc. Each target is one process on one core, so
# KELVORA_JOBS of them run side by side.
fuzz_one() {
  local exe=$1 name short seeds work
  name=$(basename "$exe")
  short=${name#fuzz_}
  seeds=$(find "$root/fuzz" -type d -path "*/corpus/$short" | head -n1)
  work="$out/work/$short"
  rm -rf "$work"
  mkdir -p "$work"
  [ -n "$seeds" ] && cp -r "$seeds/." "$work/"
  "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="$out/artifacts/$name-" "$work" >"$out/$name.log" 2>&1
  echo $? >"$out/$name.log.rc"
}

mapfile -t targets < <(find "$out" -maxdepth 3 -type f -name 'fuzz_*' -perm -u+x | sort)
rm -f "$out"/fuzz_*.log.rc
running=0
for exe in "${targets[@]}"; do
  echo "== $(basename "$exe"): ${seconds}s"
  if [ "$running" -ge "$jobs" ]; then wait -n; running=$((running - 1)); fi
  fuzz_one "$exe" &
  running=$((running + 1))
done
wait

passed=0
failed=0
for exe in "${targets[@]}"; do
  name=$(basename "$exe")
  if [ "$(cat "$out/$name.log.rc" 2>/dev/null)" = 0 ]; then
    passed=$((passed + 1))
    grep -E 'stat::number_of_executed_units' "$out/$name.log" | sed "s/^/  $name /"
  else
    failed=$((failed + 1))
    echo "  $name FAILED; artifacts in $out/artifacts"
    tail -n 40 "$out/$name.log"
  fi
done

echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
