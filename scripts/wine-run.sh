#!/usr/bin/env bash
# wine-run.sh PREFIX PROGRAM.exe [ARGS...]: runs a Windows program under wine64
# in the build's prefix and passes its exit code on.
set -euo pipefail
prefix=$1; shift
here=$(cd "$(dirname "$0")" && pwd)
"$here/wine-prefix.sh" "$prefix"
. "$here/wine-env.sh"
export WINEPREFIX=$prefix
exec "$WINE64" "$@"
