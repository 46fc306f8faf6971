#!/usr/bin/env bash
# check-pe.sh LIST FORMAT: every executable in LIST ("path gui|console [level
# [budget]]" lines) must be of FORMAT (pe32 or pe32+), have its intended
# subsystem, import only system DLLs, and, where a level is given (the shipped
# programs), carry a manifest that asks for that execution level (and, with a
# window, common controls 6.0.0.0 and the Terminal-Server-aware flag); shipped
# 32-bit ones import no function that Windows XP before its service packs
# lacks (the loader would refuse to start the program at all) and stay within
# their size budget in bytes.
set -euo pipefail
list=$1 format=$2
case $format in
  pe32) objdump=i686-w64-mingw32-objdump; magic=010b ;;
  pe32+) objdump=x86_64-w64-mingw32-objdump; magic=020b ;;
  *) echo "unknown format $format" >&2; exit 2 ;;
esac
allowed='^(kernel32|user32|gdi32|shell32|advapi32|comctl32|msvcrt)\.dll$'
# Functions of later Windows that a program of this kind is tempted to import
# (they are looked up by name instead).
newer_than_xp='^(SetDllDirectory[AW]|SetDefaultDllDirectories|AddDllDirectory|IsWow64Process|GetTickCount64|'
newer_than_xp+='InitializeCriticalSectionEx|FlsAlloc|InitOnceExecuteOnce|RegGetValue[AW]|SHGetKnownFolderPath|'
newer_than_xp+='GetFinalPathNameByHandle[AW]|CreateSymbolicLink[AW]|Wow64DisableWow64FsRedirection)$'
status=0 count=0
while read -r exe subsystem level budget; do
  [ -n "$exe" ] || continue
  [ "$format" = pe32 ] || budget=""
  count=$((count + 1))
  if [ ! -f "$exe" ]; then echo "FAIL $exe: missing"; status=1; continue; fi
  header=$("$objdump" -p "$exe")
  got_magic=$(awk '/^Magic/ {print $2; exit}' <<<"$header")
  got_sub=$(awk '/^Subsystem/ {print $2; exit}' <<<"$header")
  want_sub=$([ "$subsystem" = gui ] && echo 00000002 || echo 00000003)
  dlls=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$header" | sort -u)
  bad=$(grep -Ev "$allowed" <<<"$dlls" || true)
  problems=""
  [ "$got_magic" = "$magic" ] || problems+=" magic=$got_magic"
  [ "$got_sub" = "$want_sub" ] || problems+=" subsystem=$got_sub(want $subsystem)"
  [ -z "$bad" ] || problems+=" imports:$(tr '\n' ' ' <<<"$bad")"
  # Every program imports kernel32; an import table without names is broken.
  grep -qx kernel32.dll <<<"$dlls" || problems+=" no kernel32.dll import"
  if [ -n "${level:-}" ]; then
    manifest=$(tr -d '\000' <"$exe" | tr '\r\n\t' '   ' | tr -s ' ' | grep -ao '<assembly .*</assembly>' || true)
    grep -q "level=\"$level\"" <<<"$manifest" || problems+=" manifest: no level=$level"
    # Windows of their own (not the console tool) need the themed controls,
    # and the system's own Windows directory under Remote Desktop.
    [ "$subsystem" != gui ] || grep -q 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' <<<"$manifest" \
      || problems+=" manifest: no common controls 6.0.0.0"
    characteristics=$(awk '/^DllCharacteristics/ {print $2; exit}' <<<"$header")
    [ "$subsystem" != gui ] || (( 0x${characteristics:-0} & 0x8000 )) || problems+=" not Terminal-Server-aware"
    functions=$(awk '/DLL Name:/ {dll = 1; next} dll && NF == 3 && $1 ~ /^[0-9a-f]+$/ {print $3}' <<<"$header")
    newer=$([ "$format" = pe32 ] && grep -E "$newer_than_xp" <<<"$functions" || true)
    [ -z "$newer" ] || problems+=" imports newer than Windows XP:$(tr '\n' ' ' <<<"$newer")"
    size=$(stat -c %s "$exe")
    if [ "$format" = pe32 ] && [ -n "${budget:-}" ] && [ "$size" -gt "$budget" ]; then
      problems+=" $size bytes, over its budget of $budget"
    fi
  fi
  if [ -n "$problems" ]; then
    echo "FAIL $exe:$problems"; status=1
  else
    echo "ok   $(basename "$exe"): $format $subsystem${level:+, $level}, $(stat -c %s "$exe") bytes${budget:+ (budget $budget)}, imports $(tr '\n' ' ' <<<"$dlls")"
  fi
done <"$list"
[ "$count" -gt 0 ] || { echo "no executables listed in $list"; exit 1; }
exit $status
