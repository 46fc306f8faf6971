#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need, when any is missing.
# Quick when everything is present; safe to run again.
set -euo pipefail
packages=(
  cmake ninja-build g++ clang python3
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64
  wine64 xvfb xdotool imagemagick
  zip unzip p7zip-full libarchive-tools osslsigncode openssl nsis
  zlib1g-dev libdeflate-dev libgtest-dev libbenchmark-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
