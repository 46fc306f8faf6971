#!/usr/bin/env bash
# Makes the wine prefix once (about 10 s) and reuses it afterwards.
set -euo pipefail
prefix=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
export WINEPREFIX=$prefix
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
if [ ! -f "$prefix/.ready" ]; then
  rm -rf "$prefix"
  "$WINE64" wineboot -i >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w || true
  [ -f "$prefix/system.reg" ] || { echo "wineboot did not make $prefix" >&2; exit 1; }
  touch "$prefix/.ready"
fi
