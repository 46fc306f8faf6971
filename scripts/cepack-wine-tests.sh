#!/usr/bin/env bash
# cepack-wine-tests.sh PREFIX CEPACK.EXE HOST_TESTS [GTEST ARGS...]: the cepack
# cases of host_tests against a Windows cepack.exe under wine64. One wine
# server is kept for the whole run (each start costs seconds), and Wine
# takes the arguments' bytes as UTF-8.
set -euo pipefail
prefix=$1 exe=$2 tests=$3; shift 3
here=$(cd "$(dirname "$0")" && pwd)
"$here/wine-prefix.sh" "$prefix"
. "$here/wine-env.sh"
export WINEPREFIX=$prefix LC_ALL=C.UTF-8
/usr/lib/wine/wineserver -p || true  # one may still be ending; the next start takes over
# The first program starts the prefix's services, which would inherit the
# tests' pipes and keep them open: started here, away from them.
"$WINE64" cmd /c exit </dev/null >/dev/null 2>&1
trap '/usr/lib/wine/wineserver -k 2>/dev/null; /usr/lib/wine/wineserver -w' EXIT
export CEPACK_EXE=$exe CEPACK_RUNNER=$WINE64
"$tests" --gtest_filter='Cepack*' "$@"
