#!/usr/bin/env bash
# The shared build and its .deb packages, from a scratch tree of its own:
# builds only the libraries and tools with BUILD_SHARED_LIBS=ON, installs
# them, checks the library's SONAME and exported symbols, builds consumers
# with CMake and pkg-config against the installed files, then makes the .deb
# packages with CPack, checks their contents and control data with dpkg-deb,
# extracts them into a scratch root (dpkg -x: no change to this machine's
# package database) and builds and runs a consumer and the tools from there.
# Usage: shared-and-debs.sh <source dir> <work dir> <consumer dir> [compiler launcher]
set -euo pipefail
src=$1 work=$2 consumer=$3 launcher=${4:-}
rm -rf "$work"; mkdir -p "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }
contains() { grep -qE -- "$2" <<<"$1" || fail "$3: no match for '$2' in:"$'\n'"$1"; }
lacks() { ! grep -qE -- "$2" <<<"$1" || fail "$3: unexpected '$2' in:"$'\n'"$1"; }

tree=$work/tree
cmake -S "$src" -B "$tree" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON -DCMAKE_INSTALL_PREFIX=/usr \
  ${KELVORA_UNITY_BUILD:+-DCMAKE_UNITY_BUILD=$KELVORA_UNITY_BUILD} \
  -DKELVORA_BUILD_QT=OFF -DKELVORA_BUILD_DEMO=OFF -DKELVORA_BUILD_TESTS=OFF -DKELVORA_BUILD_BENCH=OFF \
  -DKELVORA_BUILD_TOOLS=ON ${launcher:+-DCMAKE_CXX_COMPILER_LAUNCHER=$launcher -DCMAKE_C_COMPILER_LAUNCHER=$launcher} \
  >"$work/configure.log"
cmake --build "$tree" -j"${KELVORA_JOBS:-2}" --target kelvora kelvora-console kelvora-publish >"$work/build.log"
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$tree/CMakeCache.txt")

# The installed layout.
prefix=$work/prefix
cmake --install "$tree" --prefix "$prefix" >/dev/null
for f in include/kelvora/kvKelvora.h include/kelvora/kelvora_export.h "$libdir/libkelvora.so.1.0.0" \
         "$libdir/cmake/Kelvora/KelvoraCoreTargets.cmake" "$libdir/pkgconfig/kelvora.pc" \
         bin/kelvora-console bin/kelvora-publish; do
  [ -e "$prefix/$f" ] || fail "installed package has no $f"
done
[ "$(readlink "$prefix/$libdir/libkelvora.so")" = libkelvora.so.1 ] || fail "libkelvora.so is not the link name of libkelvora.so.1"
[ ! -e "$prefix/$libdir/libkelvora.a" ] || fail "a shared build installed a static library"
lib=$prefix/$libdir/libkelvora.so.1.0.0
contains "$(readelf -d "$lib")" 'SONAME.*\[libkelvora\.so\.1\]' "SONAME"
contains "$(file -L "$lib")" 'ELF 64-bit LSB shared object' "file type"
# Hidden by default: the public classes leave the library, internal ones do not.
symbols=$(nm -DC --defined-only "$lib")
contains "$symbols" 'kelvora::TkvKelvora::CheckUpdates' "exported symbols"
contains "$symbols" 'kelvora::CompareVersions' "exported symbols"
lacks "$symbols" 'kelvora::trust::|kelvora::IsNewerByNumber' "exported symbols"
# The tools find the library beside them, wherever the tree is.
contains "$(readelf -d "$prefix/bin/kelvora-console")" 'NEEDED.*libkelvora\.so\.1' "kelvora-console"
"$prefix/bin/kelvora-publish" --help >/dev/null || fail "installed kelvora-publish does not run"

# consumers: CMake (Core only, Qt out of reach) and pkg-config (shared: no
# private dependencies on the link line).
build_consumers() {  # build_consumers <prefix> <libdir> <tag>
  local p=$1 l=$2 tag=$3
  cmake -S "$consumer" -B "$work/$tag-cmake" -DCMAKE_PREFIX_PATH="$p" -DKV_COMPONENTS=Core \
    -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON --no-warn-unused-cli >/dev/null
  cmake --build "$work/$tag-cmake" >/dev/null
  LD_LIBRARY_PATH=$p/$l "$work/$tag-cmake/consumer" || fail "$tag: CMake consumer"
  contains "$(readelf -d "$work/$tag-cmake/consumer")" 'NEEDED.*libkelvora\.so\.1' "$tag: CMake consumer links the .so"
  local flags
  flags=$(PKG_CONFIG_PATH=$p/$l/pkgconfig pkg-config --cflags --libs kelvora)
  lacks "$flags" 'curl|ssl' "$tag: pkg-config link line"
  # shellcheck disable=SC2086
  c++ -std=c++20 "$consumer/main.cpp" $flags -o "$work/$tag-pc"
  LD_LIBRARY_PATH=$p/$l "$work/$tag-pc" || fail "$tag: pkg-config consumer"
}
build_consumers "$prefix" "$libdir" installed

# The C interface: its functions leave the library unmangled; the README's C
# program, compiled as C against the installed header and shared library,
# and a Python program through ctypes each upgrade themselves once.
contains "$(nm -D --defined-only "$lib")" ' T kelvora_create$' "C interface symbols"
capi=$work/capi; mkdir -p "$capi"
awk '/^```c$/{on=1; next} /^```$/{on=0} on' "$src/README.md" >"$capi/readme.c"
[ -s "$capi/readme.c" ] || fail "README.md has no C example"
grep -q 'KELVORA_UI_CONSOLE)' "$capi/readme.c" || fail "the README's C example no longer sets KELVORA_UI_CONSOLE"
{ echo '#include <stdlib.h>'
  sed -e 's|"https://example.org/myapp/info.txt"|getenv("KVTEST_INFO_URL")|' \
      -e 's|KELVORA_UI_CONSOLE)|KELVORA_UI_CONSOLE_ASSUME_YES)|' "$capi/readme.c"; } >"$capi/main.c"
# shellcheck disable=SC2046
cc -std=c99 -pedantic -Wall -Wextra -Werror -x c "$capi/main.c" \
  $(PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig pkg-config --cflags --libs kelvora) \
  -Wl,-rpath,"$prefix/$libdir" -o "$capi/myapp" || fail "the README's C example does not build as C"
contains "$(readelf -d "$capi/myapp")" 'NEEDED.*libkelvora\.so\.1' "C program links the .so"
python3 "$src/tests/capi/upgrade_round.py" --work "$work/capi-round" --c-build "$capi" --library "$lib" \
  || fail "C interface upgrade rounds"

# The .deb packages.
(cd "$tree" && cpack -G DEB >"$work/cpack.log") || { cat "$work/cpack.log"; fail "cpack"; }
debs=$work/debs; mkdir -p "$debs"; mv "$tree"/*.deb "$debs"/
arch=$(dpkg --print-architecture)
rt=$debs/libkelvora1_1.0.0_$arch.deb dev=$debs/libkelvora-dev_1.0.0_$arch.deb tools=$debs/kelvora-tools_1.0.0_$arch.deb
for d in "$rt" "$dev" "$tools"; do
  [ -f "$d" ] || fail "no $(basename "$d") among: $(ls "$debs")"
  contains "$(dpkg-deb -f "$d" Description)" 'License: MIT' "$(basename "$d") description"
  contains "$(dpkg-deb -c "$d")" "usr/share/doc/$(dpkg-deb -f "$d" Package)/copyright" "$(basename "$d") copyright"
  contains "$(dpkg-deb -f "$d" Version)" '^1\.0\.0$' "$(basename "$d") version"
done
contents=$(dpkg-deb -c "$rt")
contains "$contents" "usr/$libdir/libkelvora\.so\.1\.0\.0" "runtime contents"
contains "$contents" "usr/$libdir/libkelvora\.so\.1 -> libkelvora\.so\.1\.0\.0" "runtime contents"
lacks "$contents" 'usr/include|libkelvora\.so -> |usr/bin' "runtime contents"
contains "$(dpkg-deb -f "$rt" Depends)" 'libc6 .*libcurl4.*|libcurl4.*libc6' "runtime Depends (from dpkg-shlibdeps)"
contains "$(dpkg-deb -f "$rt" Depends)" 'libssl3' "runtime Depends (from dpkg-shlibdeps)"
contents=$(dpkg-deb -c "$dev")
contains "$contents" 'usr/include/kelvora/kelvora_export\.h' "dev contents"
contains "$contents" 'usr/include/kelvora/kelvora\.h' "dev contents"
contains "$contents" "usr/$libdir/libkelvora\.so -> libkelvora\.so\.1" "dev contents"
contains "$contents" "usr/$libdir/cmake/Kelvora/KelvoraConfig\.cmake" "dev contents"
contains "$contents" "usr/$libdir/pkgconfig/kelvora\.pc" "dev contents"
lacks "$contents" 'libkelvora\.so\.1\.0\.0|usr/bin|include/kelvora/(qt|win32)/' "dev contents"
contains "$(dpkg-deb -f "$dev" Depends)" 'libkelvora1 \(= 1\.0\.0\)' "dev Depends"
contains "$(dpkg-deb -f "$dev" Depends)" 'nlohmann-json3-dev' "dev Depends"
contents=$(dpkg-deb -c "$tools")
contains "$contents" 'usr/bin/kelvora-console' "tools contents"
contains "$contents" 'usr/bin/kelvora-publish' "tools contents"
contains "$(dpkg-deb -f "$tools" Depends)" 'libkelvora1 \(= 1\.0\.0\)' "tools Depends"
contains "$(dpkg-deb -f "$tools" Depends)" 'libc6' "tools Depends (from dpkg-shlibdeps)"

# Installed from the packages into a scratch root: consumers and the tools.
root=$work/root
for d in "$rt" "$dev" "$tools"; do dpkg -x "$d" "$root"; done
build_consumers "$root/usr" "$libdir" deb
"$root/usr/bin/kelvora-publish" --help >/dev/null || fail "kelvora-publish from the package does not run"
echo "shared build and packages: ok ($(ls "$debs" | tr '\n' ' '))"
