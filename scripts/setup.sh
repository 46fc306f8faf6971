#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need, when any is missing,
# and the emulation that runs the shipped 32-bit programs. Quick when
# everything is present; safe to run again.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
. "$here/apt.sh"
packages=(
  cmake ninja-build g++ clang python3
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64
  wine64 xvfb xdotool imagemagick locales
  zip unzip p7zip-full libarchive-tools osslsigncode openssl nsis cabextract gcab python3-pefile
  zlib1g-dev libdeflate-dev libgtest-dev libbenchmark-dev libz-mingw-w64-dev
  libclang-rt-14-dev
)
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  apt_update
  apt_install "" "${missing[@]}"
fi
# A Japanese locale lets wine64 run the double-byte tests with code page 932
# (Wine needs the Unix locale to turn such file names into Unix ones), a
# Russian one the names tests with code page 1251 (OEM 866).
for loc in ja_JP ru_RU; do
  if ! locale -a 2>/dev/null | grep -qi "^$loc\.utf-\?8\$"; then
    $sudo localedef -i $loc -f UTF-8 $loc.UTF-8 || echo "setup: could not make the $loc.UTF-8 locale" >&2
  fi
done
$sudo "$here/setup-wine32.sh"
