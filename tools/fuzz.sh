#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer in build-fuzz/ and fuzzes
# one target or all of them in turn, each for SECONDS (default 30) or RUNS
# executions, whichever comes first, at the lowest CPU priority.
#   tools/fuzz.sh [TARGET|all] [SECONDS] [RUNS]
# TARGET is a name of fuzz/corpus/ (number_text, coordinates, ...). New
# inputs go to build-fuzz/corpus/TARGET (the committed seeds are read, never
# written); a finding is saved in build-fuzz/findings/TARGET/ and makes the
# script fail once every target has run. Copy a finding into
# fuzz/regressions/TARGET/ once it is mended, so the test suite replays it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
which="${1:-all}"
seconds="${2:-30}"
runs="${3:--1}"
build="$root/build-fuzz"

if [ "$which" = all ]; then
  targets=()
  for dir in "$root"/fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
else
  [ -d "$root/fuzz/corpus/$which" ] || { echo "fuzz.sh: no target $which in fuzz/corpus/" >&2; exit 2; }
  targets=("$which")
fi

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DTINTBEACON_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO='-O1 -g' >/dev/null
cmake --build "$build" -j2 --target tintbeacon_fuzz_targets >/dev/null

# Targets that write files do so in a temporary directory; on a memory file
# system their saves (with fsync) cost no disk time.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

failed=()
printf '%-16s %12s %10s  %s\n' target executions exec/s result
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  findings="$build/findings/$target"
  log="$build/fuzz-$target.log"
  mkdir -p "$corpus" "$findings"
  if [ ! -x "$build/fuzz/${target}_fuzz" ]; then
    printf '%-16s %12s %10s  %s\n' "$target" - - "no program: add it to fuzz/CMakeLists.txt"
    failed+=("$target")
    continue
  fi
  status=0
  nice -n 19 "$build/fuzz/${target}_fuzz" -max_total_time="$seconds" -runs="$runs" \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" \
    "$corpus" "$root/fuzz/corpus/$target" >"$log" 2>&1 || status=$?
  executions=$(awk '/stat::number_of_executed_units/ {print $2}' "$log")
  rate=$(awk '/stat::average_exec_per_sec/ {print $2}' "$log")
  if [ "$status" -eq 0 ]; then
    result=ok
  else
    result="FINDING (see $log)"
    failed+=("$target")
  fi
  printf '%-16s %12s %10s  %s\n' "$target" "${executions:-?}" "${rate:-?}" "$result"
done

if [ ${#failed[@]} -gt 0 ]; then
  for target in "${failed[@]}"; do
    [ -f "$build/fuzz-$target.log" ] || continue
    echo "== $target"
    grep -E 'ERROR|SUMMARY|Test unit written|^    #[0-9]+ ' "$build/fuzz-$target.log" | head -30
  done
  exit 1
fi
