#!/usr/bin/env bash
# The shared build and its .deb packages, from a scratch tree of its own
# (shared-tree.sh): builds only the libraries, the tools and their manual
# pages with BUILD_SHARED_LIBS=ON, installs them, checks the library's
# SONAME, exported symbols and binary interface (against the recorded one:
# abi.sh), builds consumers with CMake and pkg-config against the installed
# files, then makes the .deb packages with CPack, checks their contents and
# control data with dpkg-deb and the whole of them with lintian, extracts
# them into a scratch root (dpkg -x: no change to this machine's package
# database) and builds and runs a consumer and the tools from there.
# Usage: shared-and-debs.sh <source dir> <work dir> <consumer dir> [compiler launcher]
set -euo pipefail
src=$1 work=$2 consumer=$3 launcher=${4:-}
rm -rf "$work"; mkdir -p "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }
contains() { grep -qE -- "$2" <<<"$1" || fail "$3: no match for '$2' in:"$'\n'"$1"; }
lacks() { ! grep -qE -- "$2" <<<"$1" || fail "$3: unexpected '$2' in:"$'\n'"$1"; }

tree=$work/tree
# shellcheck source=tests/package/shared-tree.sh
. "$(dirname "$0")/shared-tree.sh"
kv_shared_tree "$src" "$tree" "$work" "$launcher"
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$tree/CMakeCache.txt")
# The project's version and the library's major number, as CMake has them.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$tree/CMakeCache.txt")
major=${version%%.*} vre=${version//./\\.}
[ -n "$version" ] || fail "no project version in the tree's cache"

# The installed layout.
prefix=$work/prefix
cmake --install "$tree" --prefix "$prefix" >/dev/null
for f in include/kelvora/kvKelvora.h include/kelvora/kelvora_export.h "$libdir/libkelvora.so.$version" \
         "$libdir/cmake/Kelvora/KelvoraCoreTargets.cmake" "$libdir/pkgconfig/kelvora.pc" \
         bin/kelvora-console bin/kelvora-publish; do
  [ -e "$prefix/$f" ] || fail "installed package has no $f"
done
[ "$(readlink "$prefix/$libdir/libkelvora.so")" = "libkelvora.so.$major" ] || fail "libkelvora.so is not the link name of libkelvora.so.$major"
[ ! -e "$prefix/$libdir/libkelvora.a" ] || fail "a shared build installed a static library"
lib=$prefix/$libdir/libkelvora.so.$version
contains "$(readelf -d "$lib")" "SONAME.*\\[libkelvora\\.so\\.$major\\]" "SONAME"
contains "$(file -L "$lib")" 'ELF 64-bit LSB shared object' "file type"
# Hidden by default: the public classes leave the library, internal ones do not.
symbols=$(nm -DC --defined-only "$lib")
contains "$symbols" 'kelvora::TkvKelvora::CheckUpdates' "exported symbols"
contains "$symbols" 'kelvora::CompareVersions' "exported symbols"
lacks "$symbols" 'kelvora::trust::|kelvora::IsNewerByNumber' "exported symbols"
# The binary interface: what programs built against this major number rely on is still there.
bash "$(dirname "$0")/abi.sh" check "$tree/src/libkelvora.so.$version" "$src" "$tree" || fail "binary interface"
# The tools find the library beside them, wherever the tree is.
contains "$(readelf -d "$prefix/bin/kelvora-console")" "NEEDED.*libkelvora\\.so\\.$major" "kelvora-console"
"$prefix/bin/kelvora-publish" --help >/dev/null || fail "installed kelvora-publish does not run"
for t in kelvora-console kelvora-publish; do
  # Answered without a look at the network: an option is never an address.
  contains "$("$prefix/bin/$t" --help)" "^usage: $t" "$t --help"
  # The console program reports its own release (the demo's upgrades start
  # from it); the publisher's tool the library's.
  if [ "$t" = kelvora-publish ]; then want="^$t $vre\$"; else want="^$t [0-9]+\.[0-9]+\.[0-9]+\$"; fi
  contains "$("$prefix/bin/$t" --version)" "$want" "$t --version"
  contains "$(zcat "$prefix/share/man/man1/$t.1.gz")" '^\.SH SYNOPSIS|^\.SH DESCRIPTION' "$t's manual page"
done

# consumers: CMake (Core only, Qt out of reach) and pkg-config (shared: no
# private dependencies on the link line).
build_consumers() {  # build_consumers <prefix> <libdir> <tag>
  local p=$1 l=$2 tag=$3
  cmake -S "$consumer" -B "$work/$tag-cmake" -DCMAKE_PREFIX_PATH="$p" -DKV_COMPONENTS=Core \
    -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON --no-warn-unused-cli >/dev/null
  cmake --build "$work/$tag-cmake" >/dev/null
  LD_LIBRARY_PATH=$p/$l "$work/$tag-cmake/consumer" || fail "$tag: CMake consumer"
  contains "$(readelf -d "$work/$tag-cmake/consumer")" "NEEDED.*libkelvora\\.so\\.$major" "$tag: CMake consumer links the .so"
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
# kelvora-c.pc: nothing but the library (kelvora.pc brings the C++ side).
c_pc=$(PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig pkg-config --print-requires --print-requires-private kelvora-c)
[ -z "$c_pc" ] || fail "kelvora-c.pc requires: $c_pc"
contains "$(PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig pkg-config --print-requires kelvora)" nlohmann_json "kelvora.pc"
# shellcheck disable=SC2046
cc -std=c99 -pedantic -Wall -Wextra -Werror -x c "$capi/main.c" \
  $(PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig pkg-config --cflags --libs kelvora-c) \
  -Wl,-rpath,"$prefix/$libdir" -o "$capi/myapp" || fail "the README's C example does not build as C"
contains "$(readelf -d "$capi/myapp")" "NEEDED.*libkelvora\\.so\\.$major" "C program links the .so"
python3 "$src/tests/capi/upgrade_round.py" --work "$work/capi-round" --c-build "$capi" --library "$lib" \
  || fail "C interface upgrade rounds"

# The .deb packages, and the -dbgsym ones (.ddeb) with the debug information.
(cd "$tree" && cpack -G DEB >"$work/cpack.log") || { cat "$work/cpack.log"; fail "cpack"; }
debs=$work/debs; mkdir -p "$debs"; mv "$tree"/*.deb "$tree"/*.ddeb "$debs"/
arch=$(dpkg --print-architecture)
pkg() { echo "$debs/$1_${version}_$arch.${2:-deb}"; }
rt=$(pkg "libkelvora$major") qrt=$(pkg "libkelvora-qt$major") dev=$(pkg libkelvora-dev) qdev=$(pkg libkelvora-qt-dev)
tools=$(pkg kelvora-tools)
for d in "$rt" "$qrt" "$dev" "$qdev" "$tools"; do
  [ -f "$d" ] || fail "no $(basename "$d") among: $(ls "$debs")"
  contains "$(dpkg-deb -f "$d" Description)" 'License: MIT' "$(basename "$d") description"
  contents=$(dpkg-deb -c "$d")
  contains "$contents" "usr/share/doc/$(dpkg-deb -f "$d" Package)/copyright" "$(basename "$d") copyright"
  contains "$contents" "usr/share/doc/$(dpkg-deb -f "$d" Package)/changelog\.gz" "$(basename "$d") changelog"
  contains "$(dpkg-deb -f "$d" Version)" "^$vre\$" "$(basename "$d") version"
  contains "$(dpkg-deb -f "$d" Maintainer)" '^Kelvora Package Test <packages@kelvora\.example\.org>$' "$(basename "$d") maintainer"
  # Installed-Size counts each file once (not again through its links).
  size=$(dpkg-deb -c "$d" | awk '$1 ~ /^-/ {s += int(($3 + 1023) / 1024)} END {print s}')
  installed=$(dpkg-deb -f "$d" Installed-Size)
  ((installed >= size && installed <= size + 64)) || fail "$(basename "$d"): Installed-Size $installed, files $size KiB"
done
contains "$(dpkg-deb --fsys-tarfile "$rt" | tar -xO --wildcards '*/changelog.gz' | zcat)" \
  "^kelvora \\($vre\\) unstable; urgency=medium\$" "runtime changelog"
# Shipped stripped; the debug information of each is in its -dbgsym package.
for d in "$rt" "$qrt" "$tools"; do
  dbg=${d%.deb}.ddeb; dbg=${dbg/_$version/-dbgsym_$version}
  [ -f "$dbg" ] || fail "no $(basename "$dbg") among: $(ls "$debs")"
  contains "$(dpkg-deb -c "$dbg")" 'usr/lib/debug/\.build-id/.*\.debug' "$(basename "$dbg") contents"
  contains "$(dpkg-deb -f "$dbg" Depends)" "$(dpkg-deb -f "$d" Package) \\(= $vre\\)" "$(basename "$dbg") Depends"
done
contents=$(dpkg-deb -c "$rt")
contains "$contents" "usr/$libdir/libkelvora\.so\.$vre" "runtime contents"
contains "$contents" "usr/$libdir/libkelvora\.so\.$major -> libkelvora\.so\.$vre" "runtime contents"
lacks "$contents" 'usr/include|libkelvora\.so -> |usr/bin' "runtime contents"
depends=$(dpkg-deb -f "$rt" Depends)
contains "$depends" 'libc6 .*libcurl4.*|libcurl4.*libc6' "runtime Depends (from dpkg-shlibdeps)"
contains "$depends" 'libssl3' "runtime Depends (from dpkg-shlibdeps)"
contains "$depends" 'sensible-utils' "runtime Depends (sensible-browser)"
control=$work/rt-control; dpkg-deb -e "$rt" "$control"
contains "$(cat "$control/shlibs")" "^libkelvora $major libkelvora$major \\(>= $vre\\)\$" "runtime shlibs"
contains "$(cat "$control/triggers")" '^activate-noawait ldconfig$' "runtime triggers"
if [ -e "$control/postinst" ] || [ -e "$control/postrm" ]; then fail "runtime: maintainer scripts beside the ldconfig trigger"; fi
contents=$(dpkg-deb -c "$dev")
contains "$contents" 'usr/include/kelvora/kelvora_export\.h' "dev contents"
contains "$contents" 'usr/include/kelvora/kelvora\.h' "dev contents"
contains "$contents" "usr/$libdir/libkelvora\.so -> libkelvora\.so\.$major" "dev contents"
contains "$contents" "usr/$libdir/cmake/Kelvora/KelvoraConfig\.cmake" "dev contents"
contains "$contents" "usr/$libdir/pkgconfig/kelvora\.pc" "dev contents"
contains "$contents" "usr/$libdir/pkgconfig/kelvora-c\.pc" "dev contents"
lacks "$contents" "libkelvora\\.so\\.$vre|usr/bin|include/kelvora/(qt|win32)/|qt_export|KelvoraQtTargets|kelvora-qt" "dev contents"
contains "$(dpkg-deb -f "$dev" Depends)" "libkelvora$major \\(= $vre\\)" "dev Depends"
contains "$(dpkg-deb -f "$dev" Depends)" 'nlohmann-json3-dev' "dev Depends"
lacks "$(dpkg-deb -f "$dev" Depends) $(dpkg-deb -f "$dev" Suggests)" 'qt' "dev Depends"
contents=$(dpkg-deb -c "$qdev")
contains "$contents" 'usr/include/kelvora/qt/kvQtLoop\.h' "qt-dev contents"
contains "$contents" 'usr/include/kelvora/kelvora_qt_export\.h' "qt-dev contents"
contains "$contents" "usr/$libdir/libkelvora-qt\.so -> libkelvora-qt\.so\.$major" "qt-dev contents"
contains "$contents" "usr/$libdir/cmake/Kelvora/KelvoraQtTargets\.cmake" "qt-dev contents"
contains "$contents" "usr/$libdir/pkgconfig/kelvora-qt\.pc" "qt-dev contents"
contains "$(dpkg-deb -f "$qdev" Depends)" "libkelvora-dev \\(= $vre\\), libkelvora-qt$major \\(= $vre\\), qt6-base-dev" "qt-dev Depends"
contents=$(dpkg-deb -c "$tools")
contains "$contents" 'usr/bin/kelvora-console' "tools contents"
contains "$contents" 'usr/bin/kelvora-publish' "tools contents"
contains "$contents" 'usr/share/man/man1/kelvora-console\.1\.gz' "tools contents"
contains "$contents" 'usr/share/man/man1/kelvora-publish\.1\.gz' "tools contents"
contains "$(dpkg-deb -f "$tools" Depends)" "libkelvora$major \\(= $vre\\)" "tools Depends"
contains "$(dpkg-deb -f "$tools" Depends)" 'libc6' "tools Depends (from dpkg-shlibdeps)"

# What a Debian maintainer runs on packages: no error, no warning.
report=$(lintian --fail-on error,warning "$debs"/*.deb "$debs"/*.ddeb 2>&1) ||
  fail "lintian:"$'\n'"$report"
lacks "$report" '^[EW]: ' "lintian"

# Installed from the packages into a scratch root: consumers (Core from
# libkelvora-dev alone, then Qt beside it) and the tools.
root=$work/root
for d in "$rt" "$dev" "$tools"; do dpkg -x "$d" "$root"; done
build_consumers "$root/usr" "$libdir" deb
cmake -S "$consumer" -B "$work/deb-qt-missing" -DCMAKE_PREFIX_PATH="$root/usr" -DKV_COMPONENTS="Core;Qt" \
  >"$work/deb-qt-missing.log" 2>&1 && fail "COMPONENTS Qt found without libkelvora-qt-dev"
contains "$(cat "$work/deb-qt-missing.log")" 'libkelvora-qt-dev' "COMPONENTS Qt without libkelvora-qt-dev"
for d in "$qrt" "$qdev"; do dpkg -x "$d" "$root"; done
cmake -S "$consumer" -B "$work/deb-qt" -DCMAKE_PREFIX_PATH="$root/usr" -DKV_COMPONENTS="Core;Qt" >/dev/null ||
  fail "COMPONENTS Qt with libkelvora-qt-dev"
"$root/usr/bin/kelvora-publish" --help >/dev/null || fail "kelvora-publish from the package does not run"
echo "shared build and packages: ok ($(ls "$debs" | tr '\n' ' '))"
