#!/usr/bin/env bash
# Builds and runs every test: a normal build with warnings as errors, then the
# same tests under AddressSanitizer and UndefinedBehaviorSanitizer, then each
# fuzz target for a bounded time (scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)
run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAID_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  QT_QPA_PLATFORM=offscreen ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}
run_suite build "$@"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-asan -DRAID_SANITIZE=ON -DRAID_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug "$@"
scripts/fuzz.sh
