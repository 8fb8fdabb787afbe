#!/usr/bin/env bash
# The whole test suite: installs what it needs, then builds and tests a
# release tree, an AddressSanitizer+UBSan tree, a ThreadSanitizer tree and a
# Windows tree (under Wine),
# runs the fuzzers for a bounded time and prints the benchmarks' figures.
# Prints one summary line per stage; exits non-zero when any stage fails.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${KELVORA_TEST_DIR:-$root/build-ci}
jobs=${KELVORA_JOBS:-2}
mkdir -p "$out"
summary=()
failing=()
failed=0

stage() {  # stage <name> <command...>: runs a stage, logs it, records a summary line
  local name=$1; shift
  local log="$out/$name.log" start=$SECONDS
  echo "== $name"
  if "$@" >"$log" 2>&1; then
    summary+=("$name: ok ($((SECONDS - start)) s) $(grep -E 'tests passed|[0-9]+ passed, [0-9]+ failed' "$log" | tail -1)")
    if grep -q 'passed only when run again' "$log"; then
      summary+=("$name: FLAKY: $(grep -A20 'passed only when run again' "$log" | grep -oE 'Test +#[0-9]+: [A-Za-z0-9_]+' | sort -u | tr '\n' ' ')")
      failing+=("$log")
    fi
  else
    failed=1
    summary+=("$name: FAILED ($((SECONDS - start)) s), see $log")
    failing+=("$log")
    tail -n 60 "$log"
  fi
}

build_and_test() {  # build_and_test <dir> <cmake args...>
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -C "$root/cmake/TestTree.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" &&
    cmake --build "$dir" -j"$jobs" &&
    ctest --test-dir "$dir" --output-on-failure --timeout 300 -j"$jobs"
}

stage deps "$root/scripts/deps.sh"
stage release build_and_test "$out/release"
stage asan build_and_test "$out/asan" -DKELVORA_SANITIZE=address -DKELVORA_BUILD_BENCH=OFF
stage tsan build_and_test "$out/tsan" -DKELVORA_SANITIZE=thread -DKELVORA_BUILD_BENCH=OFF
# What is ported to Windows, cross-built with mingw-w64 and run under Wine.
stage windows "$root/scripts/test-windows.sh" "$out/win32"
if [ -x "$root/scripts/run-fuzz.sh" ]; then
  FUZZ_SECONDS=${FUZZ_SECONDS:-20} stage fuzz "$root/scripts/run-fuzz.sh" "$out/fuzz"
fi
stage bench "$root/scripts/bench.sh" "$out/release"
# The README's demo command, unattended: check, download, updater, restart.
stage demo env KELVORA_DEMO_BUILD_DIR="$out/release" "$root/scripts/demo.sh" --smoke
# The same round on Windows: kelvora-demo.exe under Wine on a virtual display
# (about a minute: a fresh Wine prefix, then some 20 s for the round).
stage windows-demo env KELVORA_DEMO_BUILD_DIR="$out/release" KELVORA_DEMO_WIN_BUILD_DIR="$out/win32" \
  "$root/scripts/demo.sh" --windows --smoke

echo
echo "== summary"
printf '%s\n' "${summary[@]}"
# Totals over every ctest run, as one plain closing line.
passed=0; fails=0
for log in "$out"/*.log; do
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1) || continue
  [ -n "$line" ] || continue
  f=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  t=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
  passed=$((passed + t - f)); fails=$((fails + f))
done
if [ $failed -ne 0 ] && [ $fails -eq 0 ]; then fails=1; fi  # a stage failed before its tests ran
if [ -f "$out/bench.log" ]; then
  echo "== benchmark figures"
  cat "$out/bench.log"
fi
# What failed, last, where a reader of only the end of the output sees it:
# each failed assertion with a few lines of its context (bounded).
for log in "${failing[@]}"; do
  echo "== what failed in $(basename "$log" .log)"
  grep -E -B3 -A12 '(Failure|FAILED  \]|Timeout|Exception|Subprocess aborted|SEGFAULT|ERROR: AddressSanitizer|WARNING: ThreadSanitizer)' "$log" |
    grep -v -E '^\[ +(RUN|OK) +\]' | head -n 120
done
echo "total: $passed passed, $fails failed"
exit $failed
