#!/usr/bin/env bash
# sample.sh BUILD_DIR: packs examples/sample with the shipped 32-bit launcher
# and installer into BUILD_DIR/sample/SampleNotes.exe and, where Wine (with
# its emulated 32-bit half) and Xvfb are at hand, installs it end to end with
# a stand-in CeAppMgr.exe and prints what that received.
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
"$cepack" verify "$out/SampleNotes.exe" >/dev/null
echo "sample: $out/SampleNotes.exe ($(stat -c %s "$out/SampleNotes.exe") bytes):"
"$cepack" list "$out/SampleNotes.exe" | sed 's/^/  /'

if [ -x /usr/lib/wine/wine64 ] && [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && command -v Xvfb >/dev/null 2>&1
then
  echo "sample: installing SampleNotes.exe under Wine (32-bit, emulated) and Xvfb"
  python3 "$root/tests/e2e/run_installer_e2e.py" --win64 "$build/win64" --programs "$build/win32" \
    --cepack "$cepack" --prefix "$build/wineprefix-e2e32" --only whole_road --package "$out/SampleNotes.exe"
else
  echo "sample: Wine's 32-bit half or Xvfb is missing (scripts/setup-wine32.sh), so the package is not run here"
fi
