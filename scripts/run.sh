#!/usr/bin/env bash
# Installs what is needed, builds, and starts the program: against the real
# enclosures when one is attached and readable, else against the built-in
# simulated enclosures.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
simulate=(--simulate)
if [ -x build/cli/raidctl ] && build/cli/raidctl list --json 2>/dev/null | grep -q '"disk"'; then
  simulate=()
fi
if [ -x build/app/raidgui ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  exec build/app/raidgui "${simulate[@]}" "$@"
fi
echo "No display: showing the enclosures on the command line instead." >&2
exec build/cli/raidctl "${simulate[@]}" list "$@"
