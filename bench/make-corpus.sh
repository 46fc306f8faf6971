#!/usr/bin/env bash
# make-corpus.sh DIR [MB]: a mixed corpus of about MB megabytes (default 35)
# from this machine's binaries and texts, plus an incompressible part, for
# the benchmarks. The same machine gives the same corpus.
set -euo pipefail
dir=$1 mb=${2:-35}
mkdir -p "$dir"/bin "$dir"/text "$dir"/random
budget=$((mb * 1024 * 1024))
share_bin=$((budget * 45 / 100)) share_text=$((budget * 40 / 100)) share_rand=$((budget * 15 / 100))
copy_files() {  # copy_files DEST LIMIT < list
  local dest=$1 limit=$2 total=0 n=0 f size
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
copy_files "$dir/bin" "$share_bin" < <(find /usr/bin /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f 2>/dev/null | LC_ALL=C sort)
copy_files "$dir/text" "$share_text" < <(find /usr/share/doc /usr/share/common-licenses /usr/include -type f \
  \( -name '*.h' -o -name 'copyright' -o -name '*.txt' -o -name 'README*' -o -name 'changelog*' -o -name '*.html' \) \
  2>/dev/null | grep -v '\.gz$' | LC_ALL=C sort)
python3 - "$dir/random" "$share_rand" <<'PY'
import random, sys
d, n = sys.argv[1], int(sys.argv[2])
r = random.Random(1234)
for i in range(4):
    with open(f"{d}/random{i}.bin", "wb") as f:
        f.write(r.randbytes(n // 4))
PY
du -sb "$dir" | awk '{printf "corpus: %.1f MB in %s\n", $1/1048576, $2}'
