# shellcheck shell=bash
# Sourced: kv_shared_tree <source dir> <tree> <log dir> [compiler launcher]
# configures and builds the shared tree the package test checks, and from
# which the recorded binary interface is made (scripts/record-abi.sh): the
# libraries, the tools and their manual pages, optimized with full debug
# information (the -dbgsym packages and abidw read it), batched like the
# test command's trees when KELVORA_UNITY_BUILD is set.
kv_shared_tree() {
  local src=$1 tree=$2 logs=$3 launcher=${4:-}
  cmake -S "$src" -B "$tree" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_SHARED_LIBS=ON -DCMAKE_INSTALL_PREFIX=/usr \
    ${KELVORA_UNITY_BUILD:+-DCMAKE_UNITY_BUILD=$KELVORA_UNITY_BUILD} \
    -DKELVORA_BUILD_QT=ON -DKELVORA_BUILD_DEMO=OFF -DKELVORA_BUILD_TESTS=OFF -DKELVORA_BUILD_BENCH=OFF \
    -DKELVORA_BUILD_TOOLS=ON "-DKELVORA_PACKAGE_MAINTAINER=Kelvora Package Test <packages@kelvora.example.org>" \
    ${launcher:+-DCMAKE_CXX_COMPILER_LAUNCHER=$launcher -DCMAKE_C_COMPILER_LAUNCHER=$launcher} \
    >"$logs/configure.log"
  cmake --build "$tree" -j"${KELVORA_JOBS:-2}" \
    --target kelvora kelvora_qt kelvora-console kelvora-publish kelvora-man-pages >"$logs/build.log"
}
