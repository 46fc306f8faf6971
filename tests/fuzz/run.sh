#!/usr/bin/env bash
# Runs the fuzzers of a fuzz build (clang, -DCE_FUZZ=ON).
#
#   run.sh [-b BUILD] FUZZER|all SECONDS [libFuzzer options...]
#       fuzzes for SECONDS (each, with all) from the seeds, the kept
#       regression inputs and what earlier runs found (BUILD/corpus/FUZZER);
#       a crash is written to BUILD/artifacts/FUZZER/ and fails the run.
#   run.sh [-b BUILD] --replay FUZZER|all
#       runs every kept regression input (tests/fuzz/regressions/FUZZER) once.
#
# BUILD is $CE_FUZZ_BUILD, else build-fuzz in the source tree; a missing one
# is configured and built first. Fuzzers: inflate, huffman, directory, walk, text, setup,
# cabinet, authenticode (as far as built). The log of each run is BUILD/logs/FUZZER.log.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=${CE_FUZZ_BUILD:-$src/build-fuzz}
if [ "${1:-}" = "-b" ]; then
  build=$2
  shift 2
fi
usage() { sed -n '3,12p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
[ $# -ge 1 ] || usage

if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
  CC=clang CXX=clang++ cmake -S "$src" -B "$build" -G Ninja -DCE_FUZZ=ON -DCE_SUPERBUILD=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j2
fi

all_fuzzers() {
  local f
  for f in "$build"/tests/fuzz/fuzz_*; do
    [ -x "$f" ] && basename "$f" | sed 's/^fuzz_//'
  done
}

# Per fuzzer: the longest input worth trying (the directory fuzzer needs room
# for a central directory of more than 64000 bytes).
options_of() {
  case $1 in
    inflate) echo -max_len=65536 ;;
    directory) echo -max_len=200000 ;;
    walk) echo -max_len=65536 ;;
    text) echo -max_len=4096 ;;
    huffman) echo -max_len=400 ;;
    *) echo -max_len=16384 ;;
  esac
}

# Bad input may be slow on a loaded machine, but never this slow.
common=(-timeout=25 -rss_limit_mb=3072 -print_final_stats=1)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

replay() {
  local name=$1 dir=$src/tests/fuzz/regressions/$1 inputs=()
  [ -d "$dir" ] && mapfile -t inputs < <(find "$dir" -type f ! -name '.*' | sort)
  if [ ${#inputs[@]} -eq 0 ]; then
    echo "$name: no regression inputs"
    return 0
  fi
  mkdir -p "$build/logs"
  if "$build/tests/fuzz/fuzz_$name" "${common[@]}" "${inputs[@]}" >"$build/logs/$name.replay.log" 2>&1; then
    echo "$name: ${#inputs[@]} regression inputs pass"
  else
    tail -n 40 "$build/logs/$name.replay.log"
    echo "$name: a regression input fails (log: $build/logs/$name.replay.log)"
    return 1
  fi
}

fuzz() {
  local name=$1 seconds=$2
  shift 2
  local corpus=$build/corpus/$name artifacts=$build/artifacts/$name/ log=$build/logs/$name.log
  local dirs=("$corpus") extra=()
  mkdir -p "$corpus" "$artifacts" "$build/logs"
  [ -d "$build/seeds/$name" ] && dirs+=("$build/seeds/$name")
  [ -d "$src/tests/fuzz/regressions/$name" ] && dirs+=("$src/tests/fuzz/regressions/$name")
  [ -f "$src/tests/fuzz/$name.dict" ] && extra+=("-dict=$src/tests/fuzz/$name.dict")
  local status=0
  "$build/tests/fuzz/fuzz_$name" "${common[@]}" $(options_of "$name") "${extra[@]}" \
    -max_total_time="$seconds" -artifact_prefix="$artifacts" "$@" "${dirs[@]}" >"$log" 2>&1 || status=$?
  local execs rate
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  if [ $status -eq 72 ]; then  # libFuzzer's code for SIGINT/SIGTERM
    echo "$name: interrupted after ${execs:-?} executions (log: $log)"
    return 1
  fi
  if [ $status -ne 0 ]; then
    tail -n 60 "$log"
    echo "$name: FAILED after ${execs:-?} executions (log: $log; input in $artifacts)"
    return 1
  fi
  echo "$name: ${execs:-?} executions in ${seconds} s (${rate:-?}/s), corpus $(find "$corpus" -type f | wc -l) inputs"
}

if [ "$1" = "--replay" ]; then
  [ $# -eq 2 ] || usage
  names=$2
  [ "$names" = all ] && names=$(all_fuzzers)
  failed=0
  for name in $names; do replay "$name" || failed=1; done
  exit $failed
fi

[ $# -ge 2 ] || usage
names=$1 seconds=$2
shift 2
[ "$names" = all ] && names=$(all_fuzzers)
failed=0
for name in $names; do
  [ -x "$build/tests/fuzz/fuzz_$name" ] || { echo "$name: no such fuzzer in $build" >&2; failed=1; continue; }
  fuzz "$name" "$seconds" "$@" || failed=1
done
exit $failed
