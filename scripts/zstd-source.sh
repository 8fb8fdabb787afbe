#!/usr/bin/env bash
# Prints the folder of Zstandard's sources for the Windows build (Debian has
# no libzstd for mingw-w64), fetching Debian's source package first when the
# cache has none or an older version: `apt-get source libzstd`, after adding a
# deb-src entry for bookworm when apt knows no source package of it.
#
# What is checked: apt verifies the release file's OpenPGP signature against
# debian-archive-keyring, the Sources index against the release file, and the
# .dsc and both tarballs against the SHA-256 sums in the index (apt-get source
# stops on a mismatch and never takes unauthenticated files); dpkg-source
# then checks the tarballs against the .dsc while it unpacks and applies
# Debian's patches (the uploader's signature on the .dsc itself only when
# debian-keyring is installed; the archive's chain above does not need it).
# Here: the unpacked tree must hold the library's sources, and zstd.h must
# state the version that Debian's version names.
#
# The cache: KELVORA_CACHE_DIR (default ~/.cache/kelvora), zstd/ in it, a
# link swapped in at once to a folder per Debian version, so that no build
# sees a tree half unpacked. Messages go to stderr, the folder alone to
# stdout.
set -euo pipefail

cache=${KELVORA_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/kelvora}
link=$cache/zstd
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
say() { echo "zstd-source: $*" >&2; }
fail() { say "FAILED: $*"; exit 1; }

# A second run (the demo beside the tests) waits for the first.
mkdir -p "$cache"
exec 9>"$cache/zstd.lock"
flock 9

known_source() { apt-cache showsrc libzstd 2>/dev/null | grep '^Package: libzstd$' >/dev/null; }
if ! known_source; then
  list=/etc/apt/sources.list.d/kelvora-deb-src.sources
  entry="# Source packages for builds from source (Kelvora's scripts/zstd-source.sh)
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg"
  if [ "$(cat "$list" 2>/dev/null)" != "$entry" ]; then
    say "adding $list"
    printf '%s\n' "$entry" | $SUDO tee "$list" >/dev/null
  fi
  $SUDO apt-get update -qq
  known_source || fail "apt knows no source package libzstd"
fi
# The newest version apt lists: the one the Linux build links against, with
# the distribution's security fixes. An older one is built only when named
# in KELVORA_ZSTD_VERSION, never taken silently when the newest cannot be
# fetched.
newest=""
for v in $(apt-cache showsrc libzstd | sed -n 's/^Version: //p'); do
  if [ -z "$newest" ] || dpkg --compare-versions "$v" gt "$newest"; then newest=$v; fi
done
version=${KELVORA_ZSTD_VERSION:-$newest}
[ -n "$version" ] || fail "no version of libzstd's source package"
[ "$version" = "$newest" ] || say "building libzstd $version as KELVORA_ZSTD_VERSION asks, not the newest ($newest)"
# 1.5.4+dfsg2-5 -> 1.5.4: the version zstd.h must state.
upstream=${version#*:}
upstream=${upstream%%[-+~]*}
folder=$cache/zstd-$version

if [ ! -f "$folder/.complete" ]; then
  say "fetching Debian's libzstd $version"
  work=$(mktemp -d "$cache/zstd-fetch.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  # apt's sandbox user must be able to write the downloads.
  chmod 755 "$work"
  (cd "$work" && apt-get source -qq "libzstd=$version" >&2) ||
    fail "apt-get source libzstd=$version (the mirror may not serve it; an older version only by KELVORA_ZSTD_VERSION)"
  tree=$(find "$work" -mindepth 1 -maxdepth 1 -type d)
  [ "$(printf '%s\n' "$tree" | wc -l)" -eq 1 ] && [ -n "$tree" ] || fail "apt-get source made no single folder"
  for d in lib/common lib/compress lib/decompress; do
    ls "$tree/$d"/*.c >/dev/null 2>&1 || fail "$d holds no sources"
  done
  h=$tree/lib/zstd.h
  stated=$(sed -n 's/^#define ZSTD_VERSION_\(MAJOR\|MINOR\|RELEASE\) *\([0-9]*\).*/\2/p' "$h" 2>/dev/null | paste -sd.)
  [ "$stated" = "$upstream" ] || fail "zstd.h states version '$stated', the package $version"
  rm -rf "$folder"
  mv "$tree" "$folder"
  touch "$folder/.complete"
fi

# Swap the link at once, then remove what no link names any more.
if [ "$(readlink "$link" 2>/dev/null)" != "zstd-$version" ]; then
  ln -sfn "zstd-$version" "$link.new"
  mv -T "$link.new" "$link"
fi
for old in "$cache"/zstd-*; do
  if [ "$old" != "$folder" ] && [ -d "$old" ]; then rm -rf "$old"; fi
done
echo "$link"
