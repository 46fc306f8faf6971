# Sourced by the wine scripts: one quiet prefix per build directory.
WINE64=/usr/lib/wine/wine64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
