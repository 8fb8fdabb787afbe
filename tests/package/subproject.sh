#!/usr/bin/env bash
# Kelvora as a subproject (tests/package/subproject): the parent configures
# with only Kelvora's libraries as targets (checked in its CMakeLists.txt),
# registers none of Kelvora's tests, builds and runs its program, and its
# install holds only its own program.
# Usage: subproject.sh <source dir> <work dir> [compiler launcher]
set -euo pipefail
src=$1 work=$2 launcher=${3:-}
rm -rf "$work"; mkdir -p "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }
cmake -S "$src/tests/package/subproject" -B "$work/build" -DKELVORA_SOURCE_DIR="$src" \
  -DCMAKE_BUILD_TYPE=Release ${launcher:+-DCMAKE_CXX_COMPILER_LAUNCHER=$launcher -DCMAKE_C_COMPILER_LAUNCHER=$launcher} \
  ${KELVORA_UNITY_BUILD:+-DCMAKE_UNITY_BUILD=$KELVORA_UNITY_BUILD} \
  >"$work/configure.log" || { cat "$work/configure.log"; fail "configure"; }
tests=$(ctest --test-dir "$work/build" -N | sed -n 's/^Total Tests: //p')
[ "$tests" = 0 ] || fail "the parent has $tests tests of Kelvora's"
cmake --build "$work/build" -j"${KELVORA_JOBS:-2}" --target parent_app >"$work/build.log" || { tail -30 "$work/build.log"; fail "build"; }
"$work/build/parent_app" || fail "parent_app"
cmake --install "$work/build" --prefix "$work/prefix" >/dev/null
installed=$(cd "$work/prefix" && find . -type f -o -type l | sort)
[ "$installed" = "./bin/parent_app" ] || fail "the parent's install holds more than its program:"$'\n'"$installed"
echo "subproject: ok"
