#!/usr/bin/env bash
# Fails when the unit file $1's sandbox leaves an overall exposure above 2.0
# on `systemd-analyze security`'s scale (0 fully sandboxed, 10 not at all),
# naming what is left open; prints the figure either way.
set -euo pipefail
unit=$1
report=$(systemd-analyze security --offline=true --no-pager "$unit" 2>&1) || true
echo "$report" | grep 'Overall exposure level' >&2
if ! systemd-analyze security --offline=true --threshold=20 --no-pager "$unit" >/dev/null 2>&1; then
  echo "$unit: exposure above 2.0; open items:" >&2
  echo "$report" | grep '^✗' >&2
  exit 1
fi
