#!/usr/bin/env bash
# extract-bench.sh CEPACK [WORKDIR] [RUNS]: times `cepack extract` against
# unzip, 7z and bsdtar on a `zip -9 -r` archive of the 35 MB corpus (wall
# time, median of RUNS, a fresh output directory per run), then reports the
# peak RSS of `cepack extract` for a ~10 MB and a ~200 MB archive (14 copies
# of the corpus, ~500 MB unpacked).
set -euo pipefail
cepack=$(realpath "$1")
work=${2:-$(mktemp -d /tmp/cepack-bench.XXXXXX)}
runs=${3:-7}
here=$(dirname "$(realpath "$0")")
mkdir -p "$work"
cd "$work"

make_archive() {  # make_archive NAME MB [COPIES]
  local name=$1 mb=$2 copies=${3:-1}
  [ -f "$name.zip" ] && return 0
  rm -rf "$name" && mkdir -p "$name"
  "$here/make-corpus.sh" "$name/c0" "$mb" >/dev/null
  for ((k = 1; k < copies; k++)); do cp -r "$name/c0" "$name/c$k"; done
  (cd "$name" && zip -9 -q -r "../$name.zip" .)
}

now() { date +%s.%N; }

# median_time LABEL COMMAND...: the command runs with $out as a fresh, empty directory.
median_time() {
  local label=$1; shift
  local times=()
  for ((r = 0; r < runs; r++)); do
    rm -rf out && mkdir out
    sync
    local t0 t1
    t0=$(now)
    out=out "$@" >/dev/null 2>&1 || { echo "$label failed" >&2; return 1; }
    t1=$(now)
    times+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f", b - a }')")
  done
  local median
  median=$(printf '%s\n' "${times[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
  printf '  %-16s median %.3f s  (runs: %s)\n' "$label" "$median" "$(printf '%.3f ' "${times[@]}")"
}

make_archive corpus35 35
size=$(du -sb corpus35 | cut -f1)
echo "archive: $(stat -c %s corpus35.zip) bytes, $(unzip -Z1 corpus35.zip | wc -l) entries, $size bytes unpacked"
echo "wall time, $runs runs each:"
median_time "cepack extract" sh -c "$cepack extract corpus35.zip \$out"
median_time "unzip -o -qq" sh -c 'unzip -o -qq corpus35.zip -d "$out"'
median_time "7z x -y" sh -c '7z x -y -o"$out" corpus35.zip'
median_time "bsdtar -xf" sh -c 'bsdtar -xf corpus35.zip -C "$out"'
rm -rf out/*
cmp_dir=$(mktemp -d "$work/check.XXXXXX")
"$cepack" extract corpus35.zip "$cmp_dir" >/dev/null
diff -r corpus35 "$cmp_dir" >/dev/null && echo "  (cepack's output equals the corpus)"
rm -rf "$cmp_dir"

make_archive corpus10 25
make_archive corpus200 35 14
echo "peak RSS of cepack extract:"
for name in corpus10 corpus200; do
  rm -rf out && mkdir out
  rss=$(/usr/bin/time -f %M "$cepack" extract "$name.zip" out 2>&1 >/dev/null | tail -n 1)
  printf '  %-10s %4d MB archive: %6d KB\n' "$name" $(($(stat -c %s "$name.zip") / 1048576)) "$rss"
done
rm -rf out
echo "work directory: $work"
