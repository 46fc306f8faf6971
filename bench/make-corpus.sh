#!/usr/bin/env bash
# make-corpus.sh [--pe] DIR [MB]: a corpus of about MB megabytes (default 35)
# for the benchmarks; the same machine gives the same corpus.
#   default: a mix of this machine's binaries and texts plus an incompressible part
#   --pe:    Windows programs and libraries only (.dll/.exe starting with "MZ"),
#            32-bit and 64-bit, which is what installer payloads mostly hold
set -euo pipefail
pe=0
if [ "${1:-}" = --pe ]; then pe=1; shift; fi
dir=$1 mb=${2:-35}
budget=$((mb * 1024 * 1024))
copy_files() {  # copy_files DEST LIMIT < list
  local dest=$1 limit=$2 total=0 n=0 f size
  mkdir -p "$dest"
  while IFS= read -r f; do
    [ -f "$f" ] && [ -r "$f" ] || continue
    size=$(stat -c %s "$f")
    [ "$size" -gt 0 ] && [ "$size" -lt 8000000 ] || continue
    [ $((total + size)) -le "$limit" ] || continue
    cp "$f" "$dest/$(printf %05d $n)-$(basename "$f")"
    total=$((total + size)); n=$((n + 1))
    [ "$total" -lt $((limit * 98 / 100)) ] || break
  done
  return 0
}
pe_files() {  # pe_files DIR...: the PE files under the directories, in a fixed mixed order
  python3 - "$@" <<'PY'
import os, random, sys
files = []
for top in sys.argv[1:]:
    for root, _, names in os.walk(top):
        for name in names:
            path = os.path.join(root, name)
            if name.lower().endswith((".dll", ".exe")) and os.path.isfile(path):
                with open(path, "rb") as f:
                    if f.read(2) == b"MZ":
                        files.append(path)
files.sort()
random.Random(1234).shuffle(files)  # spread over the whole set, not its first letters
print("\n".join(files))
PY
}
if [ "$pe" = 1 ]; then
  copy_files "$dir/pe32" $((budget / 2)) < <(pe_files /usr/lib/i386-linux-gnu/wine /usr/i686-w64-mingw32)
  copy_files "$dir/pe64" $((budget / 2)) < <(pe_files /usr/lib/x86_64-linux-gnu/wine /usr/x86_64-w64-mingw32)
  n=$(find "$dir" -type f | wc -l)
  [ "$n" -gt 0 ] || { echo "make-corpus.sh: no PE files found (install wine64, wine32 or mingw-w64)" >&2; exit 1; }
else
  copy_files "$dir/bin" $((budget * 45 / 100)) < <(find /usr/bin /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f 2>/dev/null | LC_ALL=C sort)
  copy_files "$dir/text" $((budget * 40 / 100)) < <(find /usr/share/doc /usr/share/common-licenses /usr/include -type f \
    \( -name '*.h' -o -name 'copyright' -o -name '*.txt' -o -name 'README*' -o -name 'changelog*' -o -name '*.html' \) \
    2>/dev/null | grep -v '\.gz$' | LC_ALL=C sort)
  mkdir -p "$dir/random"
  python3 - "$dir/random" $((budget * 15 / 100)) <<'PY'
import random, sys
d, n = sys.argv[1], int(sys.argv[2])
r = random.Random(1234)
for i in range(4):
    with open(f"{d}/random{i}.bin", "wb") as f:
        f.write(r.randbytes(n // 4))
PY
fi
du -sb "$dir" | awk '{printf "corpus: %.1f MB in %s\n", $1/1048576, $2}'
