#!/usr/bin/env bash
# Fetches libcrypto.so.3 of each libssl3 version named into the cache folder
# (the first argument), once: `apt-get download libssl3=<version>` (apt checks
# the package against the archive's signed index), then dpkg-deb unpacks it.
# Prints "<version> <path>" per version, "<version> -" when the archive no
# longer serves it (a mirror keeps only the current updates).
set -uo pipefail
cache=$1
shift
mkdir -p "$cache"
for v in "$@"; do
  lib=$cache/$v/libcrypto.so.3
  if [ ! -f "$lib" ]; then
    work=$(mktemp -d "$cache/fetch.XXXXXX")
    chmod 755 "$work"  # apt's sandbox user writes the download
    if (cd "$work" && apt-get download -qq "libssl3=$v" >/dev/null 2>&1); then
      deb=$(find "$work" -maxdepth 1 -name '*.deb' | head -1)
      if [ -n "$deb" ] && dpkg-deb -x "$deb" "$work/x"; then
        found=$(find "$work/x" -name libcrypto.so.3 -type f | head -1)
        if [ -n "$found" ]; then
          mkdir -p "$cache/$v"
          mv "$found" "$lib.new" && mv "$lib.new" "$lib"
        fi
      fi
    fi
    rm -rf "$work"
  fi
  if [ -f "$lib" ]; then echo "$v $lib"; else echo "$v -"; fi
done
