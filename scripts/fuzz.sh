#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer into build-fuzz, and runs each for a bounded
# time, two at a time; fails on any crash, leak, time-out or memory blow-up.
# New inputs go to build-fuzz/fuzz-runs/TARGET/corpus; the seeds in
# fuzz/corpus stay as they are.
#   scripts/fuzz.sh [TARGET...]        FUZZ_SECONDS=30 per target by default
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
seconds=${FUZZ_SECONDS:-30}
jobs=$(nproc)
if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for f in fuzz/*_fuzz.cpp; do
    f=${f#fuzz/}
    targets+=("${f%_fuzz.cpp}")
  done
fi

start=$(date +%s)
# -O1 and line tables only: the build is most of the time this takes.
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=None \
  -DCMAKE_C_FLAGS="-O1 -gline-tables-only" -DCMAKE_CXX_FLAGS="-O1 -gline-tables-only" \
  -DRAID_WERROR=ON -DRAID_BUILD_FUZZ=ON -DRAID_BUILD_TESTS=OFF -DRAID_BUILD_BENCH=OFF \
  -DRAID_BUILD_GUI=OFF -DRAID_BUILD_FUSE=OFF >/dev/null
cmake --build build-fuzz -j "$jobs" --target fuzz_targets
echo "fuzz targets built in $(($(date +%s) - start)) s"

run_one() {
  local name=$1 work="$top/build-fuzz/fuzz-runs/$1"
  rm -rf "$work"
  mkdir -p "$work/corpus"
  if ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$top/build-fuzz/fuzz/${name}_fuzz" "$work/corpus" "$top/fuzz/corpus/$name" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/" >"$work/log" 2>&1; then
    echo ok >"$work/result"
  else
    echo FAILED >"$work/result"
  fi
}
export -f run_one
export top seconds
printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'run_one {}'

failed=0
printf '%-20s %6s %7s %12s %9s  %s\n' target seeds corpus executions "exec/s" result
for name in "${targets[@]}"; do
  work=build-fuzz/fuzz-runs/$name
  stat() { sed -n "s/^stat::$1: *//p" "$work/log" | tail -1; }
  seeds=$(find "fuzz/corpus/$name" -type f | wc -l)
  corpus=$((seeds + $(find "$work/corpus" -type f | wc -l)))
  result=$(cat "$work/result")
  printf '%-20s %6s %7s %12s %9s  %s\n' "$name" "$seeds" "$corpus" \
    "$(stat number_of_executed_units)" "$(stat average_exec_per_sec)" "$result"
  if [ "$result" != ok ]; then
    failed=1
    grep -m1 -E 'ERROR|SUMMARY|timeout|out-of-memory' "$work/log" || true
    echo "  see $work/log and the crash input in $work/"
  fi
done
echo "fuzzing took $(($(date +%s) - start)) s in all"
exit $failed
