#!/usr/bin/env bash
# 32-bit Wine for the shipped PE32 programs. This kernel runs no 32-bit code,
# so the i386 loader runs under qemu's user-mode emulator, registered with
# binfmt_misc: wine64 then starts 32-bit programs by itself. Debian 12's own
# qemu 7.2 spends about a minute per process searching the address space;
# backports' qemu 10 does not. Runs as root; safe to run again.
set -euo pipefail
. "$(dirname "$0")/apt.sh"
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

if ! installed wine32:i386 || ! installed qemu-user-static; then
  echo "setup: installing wine32:i386 and qemu-user-static (backports)"
  dpkg --add-architecture i386
  backports=/etc/apt/sources.list.d/bookworm-backports.sources
  if ! grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d; then
    cat >"$backports" <<'SOURCES'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  fi
  apt_update
  apt_install "its libraries must be of the same versions as the installed 64-bit Wine's, so both need the same mirror state: run setup again once the mirror has finished its sync" \
    --no-install-recommends wine32:i386
  apt_install "" --no-install-recommends -t bookworm-backports qemu-user-static
fi

binfmt=/proc/sys/fs/binfmt_misc
[ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
# i386 ELF executables; F opens the interpreter now, so it works in any mount namespace.
if [ ! -e "$binfmt/qemu-i386" ]; then
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  echo ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:F" >"$binfmt/register"
fi
grep -qx enabled "$binfmt/qemu-i386"
