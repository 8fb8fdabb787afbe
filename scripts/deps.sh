#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when
# any is missing. Safe to run again. With --windows: only what the Windows
# build and its tests under Wine need (scripts/test-windows.sh).
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  # The package tests: .deb packages (dpkg-shlibdeps, dpkg-deb), file types,
  # the binary interface (abidw, abidiff), Debian's package checker, the
  # tools' manual pages, the API reference.
  dpkg-dev file abigail-tools lintian help2man doxygen
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libcurl4-openssl-dev libssl-dev libzstd-dev
  # Matched patches: the publisher's suffix sorting; the patch benchmark
  # compares with bsdiff and xdelta3, and GNU time measures peak memory.
  libdivsufsort-dev bsdiff xdelta3 time
  clang libclang-rt-14-dev
  nginx openssl curl python3 iproute2 util-linux
  # A forward proxy that requires Basic, Digest or NTLM logins (proxy tests).
  squid
  # Metered connections: sd-bus's header (libsystemd is loaded at run time),
  # and a NetworkManager stand-in on a private bus in the tests.
  libsystemd-dev dbus-daemon dbus-bin python3-dbusmock
  # The session's autostart runner: runs the login entry an updater leaves.
  dex
  qt6-base-dev
  # The faces the windows ask for last (DejaVu Sans; DejaVu Serif bold italic
  # for the wizard's title), so every machine renders the same.
  fontconfig fonts-dejavu-core fonts-dejavu-extra
)
if [ "${1:-}" = "--windows" ]; then
  # The cross compiler (posix threads flavour, for std::thread), Wine, and
  # GoogleTest's sources to build for the target, the header-only JSON
  # library, nginx for the upgrade served to a Windows program, python3 for
  # the fault server and the process host, openssl for test certificates.
  # Xvfb is the display of Wine's console host, of the native windows and of
  # the Windows demo; fonts-wine gives Wine the faces of its captions and
  # frames.
  # dpkg-dev unpacks Zstandard's source package (scripts/zstd-source.sh).
  # osslsigncode signs the binaries (KELVORA_SIGN) and checks signatures;
  # python3-pefile reads their resources back (win32_resources).
  packages=(cmake g++-mingw-w64-x86-64-posix wine64 googletest nlohmann-json3-dev nginx python3 openssl
            xvfb xauth fonts-wine dpkg-dev osslsigncode python3-pefile)
elif [ "${1:-}" = "--publish" ]; then
  # kelvora-publish alone (the Windows demo signs its release with it).
  packages=(build-essential cmake pkg-config nlohmann-json3-dev libcurl4-openssl-dev libssl-dev libzstd-dev
            libdivsufsort-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if [ "${1:-}" = "--windows" ]; then
  # Zstandard's sources for the Windows build's patches; without them that
  # build downloads whole files, as the scripts that build it then say.
  "$(dirname "$0")/zstd-source.sh" >/dev/null ||
    echo "deps: no Zstandard sources for Windows: its build will read no patches" >&2
fi
