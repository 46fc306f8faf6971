#!/usr/bin/env bash
# Makes the wine prefix once (about 10 s) and reuses it afterwards. It has a
# 32-bit half, which runs under emulation (scripts/setup-wine32.sh).
set -euo pipefail
prefix=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
export WINEPREFIX=$prefix
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
# A prefix made before 32-bit Wine was installed lacks its 32-bit half: remake it.
if [ ! -f "$prefix/.ready" ] || [ ! -f "$prefix/drive_c/windows/syswow64/kernel32.dll" ]; then
  rm -rf "$prefix"
  "$WINE64" wineboot -i >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w || true
  [ -f "$prefix/system.reg" ] || { echo "wineboot did not make $prefix" >&2; exit 1; }
  [ -f "$prefix/drive_c/windows/syswow64/kernel32.dll" ] ||
    { echo "wineboot made $prefix without its 32-bit half (scripts/setup-wine32.sh)" >&2; exit 1; }
  touch "$prefix/.ready"
fi
