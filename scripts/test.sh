#!/usr/bin/env bash
# Builds and runs every test: a normal build with warnings as errors, then the
# same tests under AddressSanitizer and UndefinedBehaviorSanitizer, then the
# tests that drive threads under ThreadSanitizer, then each fuzz target for a
# bounded time (scripts/fuzz.sh).
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
# Line tables only (-g1), here and under the sanitizers: a failure's stack
# still names its lines, and full debug information nearly doubles the
# compile time. Prefix /usr: the package test builds the Debian package from
# this build.
run_suite build -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" "$@"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-asan -DRAID_SANITIZE=ON -DRAID_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-g1" "$@"
# Only the programs whose tests run threads: thread_tests (the disk lock, the
# emulated disks and the pumping clock across threads) and
# window_thread_tests (the workers and their hand-over to the main thread,
# the monitor's timers, the event loop during device work, the mail thread,
# the service's calls and a flash's steps in client mode).
# -O1 and line tables: the build is most of this step's time.
tsan_dir=build-tsan
cmake -S . -B "$tsan_dir" -G Ninja -DCMAKE_BUILD_TYPE=None -DCMAKE_CXX_FLAGS="-O1 -g1" \
  -DRAID_WERROR=ON -DRAID_TSAN=ON -DRAID_BUILD_BENCH=OFF -DRAID_BUILD_FUSE=OFF "$@" >/dev/null
cmake --build "$tsan_dir" -j "$jobs" --target thread_tests window_thread_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/scripts/tsan.supp" \
  QT_QPA_PLATFORM=offscreen ctest --test-dir "$tsan_dir" --output-on-failure -j "$jobs" -L threads
FUZZ_SECONDS=${FUZZ_SECONDS:-20} scripts/fuzz.sh
