#!/usr/bin/env bash
# wine-run.sh PREFIX PROGRAM.exe [ARGS...]: runs a Windows program under wine64
# in the build's prefix and passes its exit code on. It waits for the prefix's
# wine server to end, so a server started under one display never outlives it.
set -uo pipefail
prefix=$1; shift
here=$(cd "$(dirname "$0")" && pwd)
"$here/wine-prefix.sh" "$prefix" || exit 1
. "$here/wine-env.sh"
export WINEPREFIX=$prefix
"$WINE64" "$@"
status=$?
/usr/lib/wine/wineserver -w
exit $status
