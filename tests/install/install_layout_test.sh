#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what lands there: both
# programs, the monitor's unit (verified by systemd-analyze, and its sandbox's
# exposure at most 2.0 on systemd-analyze's scale), the menu entry, its icon,
# the manual pages, and the service's bus policy and polkit actions (checked
# against polkit's DTD). Every tool it uses must be there: a missing one fails.
set -euo pipefail
build=$1
for tool in systemd-analyze groff xmllint desktop-file-validate; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool (scripts/install-deps.sh)" >&2; exit 1; }
done
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

status=0
for f in bin/raidctl bin/raidgui lib/systemd/system/raid-monitor.service \
         share/applications/raidgui.desktop share/icons/hicolor/scalable/apps/raidgui.svg \
         share/man/man8/raidctl.8.gz share/man/man1/raidgui.1.gz \
         share/dbus-1/system.d/org.raidenclosure.Manager1.conf \
         share/polkit-1/actions/org.raidenclosure.manager.policy; do
  if [ ! -s "$prefix/$f" ]; then
    echo "missing: $f" >&2
    status=1
  fi
done
[ -x "$prefix/bin/raidctl" ] || { echo "raidctl is not executable" >&2; status=1; }
[ -s "$prefix/share/raid-monitor/raid-monitor.rules.yml" ] || { echo "missing: rules" >&2; status=1; }

unit=$prefix/lib/systemd/system/raid-monitor.service
grep -q '^Type=notify$' "$unit" || { echo "unit is not Type=notify" >&2; status=1; }
grep -q '^ExecStart=/.*/raidctl monitor' "$unit" || { echo "unit ExecStart" >&2; status=1; }
# Throttled under memory pressure, never killed for it (a flash may run).
grep -q '^MemoryHigh=' "$unit" || { echo "unit has no MemoryHigh=" >&2; status=1; }
if grep -q '^MemoryMax=' "$unit"; then echo "unit has MemoryMax=" >&2; status=1; fi
grep -q '^Icon=raidgui$' "$prefix/share/applications/raidgui.desktop" || status=1

# The unit names the final bin folder; verify a copy that names the staged
# binary, since that is the one that exists here.
staged=$prefix/raid-monitor.service
sed "s|^ExecStart=[^ ]*/raidctl|ExecStart=$prefix/bin/raidctl|" "$unit" > "$staged"
if ! out=$(SYSTEMD_LOG_LEVEL=warning systemd-analyze verify --man=no "$staged" 2>&1); then
  echo "systemd-analyze verify failed:" >&2
  echo "$out" >&2
  status=1
elif echo "$out" | grep -i "raid-monitor" >&2; then
  status=1
fi
"$(dirname "$0")/unit_exposure.sh" "$staged" || status=1
for page in "$prefix"/share/man/man*/*.gz; do
  warnings=$(zcat "$page" | groff -man -ww -z 2>&1)
  if [ -n "$warnings" ]; then
    echo "$page: $warnings" >&2
    status=1
  fi
done
actions=$prefix/share/polkit-1/actions/org.raidenclosure.manager.policy
dtd=/usr/share/polkit-1/policyconfig-1.dtd
xmllint --noout "$prefix/share/dbus-1/system.d/org.raidenclosure.Manager1.conf" || status=1
[ -f "$dtd" ] || { echo "missing $dtd (polkitd)" >&2; status=1; }
xmllint --noout --dtdvalid "$dtd" "$actions" || status=1
desktop-file-validate "$prefix/share/applications/raidgui.desktop" || status=1
exit $status
