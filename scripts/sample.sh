#!/usr/bin/env bash
# sample.sh BUILD_DIR: packs examples/sample into its package and, where
# wine64 and Xvfb are at hand, installs it end to end with a stand-in
# CeAppMgr.exe and prints what that received.
#   BUILD_DIR/sample/SampleNotes.exe        the 32-bit launcher and installer: what ships
#   BUILD_DIR/sample/SampleNotes-win64.exe  the same package with the 64-bit programs, which run here
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: sample.sh BUILD_DIR}" && pwd)
cepack=$build/tools/cepack/cepack
out=$build/sample
mkdir -p "$out"

pack() {  # pack BUILD PACKAGE: the sample's files, that build's installer and launcher
  local programs=$1 package=$2 stage=$out/payload-$(basename "$1")
  rm -rf "$stage"
  mkdir -p "$stage"
  cp "$root"/examples/sample/* "$stage"/
  cp "$programs/installer/install.exe" "$stage"/
  "$cepack" build -o "$package" --stub "$programs/launcher/zipstub.exe" "$stage" >/dev/null
}

pack "$build/win32" "$out/SampleNotes.exe"
pack "$build/win64" "$out/SampleNotes-win64.exe"
"$cepack" verify "$out/SampleNotes.exe" >/dev/null
echo "sample: $out/SampleNotes.exe ($(stat -c %s "$out/SampleNotes.exe") bytes):"
"$cepack" list "$out/SampleNotes.exe" | sed 's/^/  /'

if [ -x /usr/lib/wine/wine64 ] && command -v Xvfb >/dev/null 2>&1; then
  echo "sample: installing SampleNotes-win64.exe under wine64 and Xvfb"
  python3 "$root/tests/e2e/run_installer_e2e.py" --win64 "$build/win64" --cepack "$cepack" \
    --prefix "$build/wineprefix-e2e" --only whole_road --package "$out/SampleNotes-win64.exe"
else
  echo "sample: wine64 or Xvfb is missing, so the package is not run here"
fi
