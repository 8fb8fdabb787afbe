#!/usr/bin/env bash
# Records the binary interface of libkelvora.so.<major> in
# tests/package/abi/, from a shared tree built as the package test builds it
# (Package.SharedLibraryAndDebs). Run it once per major number: for the
# first release of a new major number, after raising it in CMakeLists.txt.
# Usage: scripts/record-abi.sh [work dir]   (default build-abi)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(realpath -m "${1:-$root/build-abi}")
mkdir -p "$work"
# shellcheck source=tests/package/shared-tree.sh
. "$root/tests/package/shared-tree.sh"
# As in the test command's trees (cmake/TestTree.cmake).
KELVORA_UNITY_BUILD=${KELVORA_UNITY_BUILD:-ON}
launcher=$(command -v ccache || true)
kv_shared_tree "$root" "$work/tree" "$work" "$launcher"
lib=$(find "$work/tree/src" -maxdepth 1 -name 'libkelvora.so.*.*.*' -type f)
"$root/tests/package/abi.sh" record "$lib" "$root" "$work/tree"
