#!/usr/bin/env bash
# cepack-smoke32.sh PREFIX RELEASE.zip SAMPLE_DIR [LINUX_CEPACK]: the shipped
# 32-bit cepack.exe (emulated 32-bit Wine) as an author meets it, from the
# release archive unpacked: new, lint, build, verify and extract the sample,
# verify again once the package is signed; a branded build the same bytes as
# the Linux cepack's; and the archive made again from its own files is the
# same bytes.
set -euo pipefail
prefix=$1 release=$2 sample=$3 linux_cepack=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unzip -q "$release" -d "$work/cepack"
# run LOG ARGS...: cepack.exe with its output in LOG (Wine's services must not
# hold a pipe). Every command of cepack.exe says something, and a crash gets
# Wine's backtrace, so a failure with no output at all is a process Wine lost
# (seen once, in a fully loaded run under emulation): that alone is tried
# again, twice, and its exit status shown.
run() {
  local log=$1 status attempt; shift
  for attempt in 1 2 3; do
    "$here/wine-run.sh" "$prefix" "$work/cepack/bin/cepack.exe" "$@" >"$work/$log" 2>&1 && return 0
    status=$?
    [ -s "$work/$log" ] && break
    echo "cepack $*: exit $status with no output (attempt $attempt)"
  done
  echo "FAIL cepack $* (exit $status):"; cat "$work/$log"; exit 1
}
run new.txt new "$work/Notes" --title "Sample Notes" --languages en,de,fr --cab "$sample/samplenotes.arm.cab"
run lint.txt lint "$work/Notes"
run build.txt build -o "$work/Notes.exe" "$work/Notes"
run verify.txt verify "$work/Notes.exe"
run extract.txt extract "$work/Notes.exe" "$work/out"
diff -r "$work/Notes" "$work/out"
# The package is the vendor's: its version information names their program, never us.
python3 - "$work/Notes.exe" <<'EOF'
import sys
data = open(sys.argv[1], "rb").read()
assert "Sample Notes Setup".encode("utf-16-le") in data, "no description of the vendor's"
assert "Self-extracting installation package".encode("utf-16-le") not in data, "our description is left"
EOF
if [ -n "$linux_cepack" ]; then
  # One name in two folders: the package's name is in its version information.
  cp "$linux_cepack" "$work/cepack/bin/cepack"
  mkdir "$work/linux" "$work/windows"
  brand=(--version 2.1.0.37 --company "Vendor Ltd" --icon "$here/../resources/zipstub/zipstub.ico")
  export SOURCE_DATE_EPOCH=1700000000 TZ=UTC
  run same.txt build "${brand[@]}" -o "$work/windows/Notes.exe" "$work/Notes"
  "$work/cepack/bin/cepack" build "${brand[@]}" -o "$work/linux/Notes.exe" "$work/Notes" >/dev/null 2>&1
  cmp "$work/windows/Notes.exe" "$work/linux/Notes.exe"
  unset SOURCE_DATE_EPOCH TZ
fi
if command -v osslsigncode >/dev/null && command -v openssl >/dev/null; then
  openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=cepack-smoke -days 2 -keyout "$work/key.pem" \
    -out "$work/cert.pem" 2>/dev/null
  osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -in "$work/Notes.exe" \
    -out "$work/Signed.exe" >/dev/null
  run signed.txt verify "$work/Signed.exe"
  grep -qx 'signature: signed by "cepack-smoke" (not checked for trust)' "$work/signed.txt" ||
    { echo "FAIL cepack verify does not name the signer:"; cat "$work/signed.txt"; exit 1; }
fi
# The same files give the same archive.
names=()
while read -r name; do names+=("$name=$work/cepack/$name"); done < <(zipinfo -1 "$release")
SOURCE_DATE_EPOCH=$(python3 -c "import zipfile,calendar; print(calendar.timegm(zipfile.ZipFile('$release').infolist()[0].date_time + (0,0,0)))") \
  python3 "$here/make-release-zip.py" "$work/again.zip" "${names[@]}"
cmp "$release" "$work/again.zip"
echo "ok: $(cat "$work/verify.txt" | tail -1)"
