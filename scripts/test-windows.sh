#!/usr/bin/env bash
# The Windows build: installs the cross compiler and Wine when missing,
# cross-builds Kelvora::Core, the updater and the console program with their tests
# and runs the tests under Wine with a fresh prefix inside the build tree.
# Usage: scripts/test-windows.sh [build dir]   (default build-ci/win32)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# Absolute: Wine refuses a relative prefix.
dir=$(realpath -m "${1:-$root/build-ci/win32}")
jobs=${KELVORA_JOBS:-2}

"$root/scripts/deps.sh" --windows
# Zstandard's sources (fetched by deps.sh) for binary patches; without them
# the build and its tests go on without patches, saying so.
zstd=$("$root/scripts/zstd-source.sh" 2>/dev/null) ||
  { zstd=""; echo "test-windows: no Zstandard sources: building without patches" >&2; }

# Line tables for debug information (cmake/TestTree.cmake), but no batches:
# the Windows headers' macros (MessageBox for MessageBoxW, ...) would reach
# the sources after them in a batch.
cmake -S "$root" -B "$dir" -C "$root/cmake/TestTree.cmake" -DCMAKE_UNITY_BUILD=OFF \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVORA_ZSTD_SOURCE="$zstd"
cmake --build "$dir" -j"$jobs"

# A prefix of this tree's own, made afresh; no display (Wine's first start
# would otherwise offer to install Mono and Gecko in a window), no debug
# channels.
export WINEPREFIX="$dir/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
rm -rf "$WINEPREFIX"
wineserver=/usr/lib/wine/wineserver
trap '"$wineserver" -k 2>/dev/null || true' EXIT
status=0
# The tests that share this prefix take turns (RESOURCE_LOCK); the window
# tests, with a prefix of their own, run beside them.
# A test that fails is run once more (Wine's own start-up has failed a
# program once in a long while), but never silently: each such test is named
# at the end, with what it printed the first time above it.
ctest --test-dir "$dir" --output-on-failure --timeout 300 -j"$jobs" --repeat until-pass:2 | tee "$dir/ctest.out" ||
  status=$?
if [ "$status" -eq 0 ] && grep -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .*(Failed|Timeout|Exception)' "$dir/ctest.out" >/dev/null; then
  echo "test-windows: passed only when run again (flaky; look at the first run's output above):"
  grep -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .*(Failed|Timeout|Exception)' "$dir/ctest.out"
fi
exit $status
