#!/usr/bin/env bash
# Installs what is needed, builds, and starts the program: against the real
# enclosures when one is attached and readable, else against the built-in
# simulated enclosures.
#
# Builds only the two programs it may start, in a folder of its own: the
# tests and benchmarks take most of a full build's time, and the test
# build's cache in build/ keeps its own options.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
out=build-run
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DRAID_BUILD_TESTS=OFF -DRAID_BUILD_BENCH=OFF -DRAID_BUILD_FUSE=OFF >/dev/null
cmake --build "$out" -j "$(nproc)" --target raidgui raidctl
simulate=(--simulate)
if [ -x "$out/cli/raidctl" ] && "$out/cli/raidctl" list --json 2>/dev/null | grep -q '"disk"'; then
  simulate=()
fi
if [ -x "$out/app/raidgui" ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  exec "$out/app/raidgui" "${simulate[@]}" "$@"
fi
echo "No display: showing the enclosures on the command line instead." >&2
exec "$out/cli/raidctl" "${simulate[@]}" list "$@"
