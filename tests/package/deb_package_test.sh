#!/usr/bin/env bash
# Builds the Debian package with cpack from the build folder $1, installs it
# on this machine with dpkg, checks its files, its unit (systemd-analyze
# verify and the sandbox's exposure) and lintian's verdict, checks that its
# prerm refuses to stop the service while a firmware job runs, then removes
# it (the admin's and the service's files stay) and purges it (they go).
# Needs root; the machine must be one that may be changed (CI). The package
# never stays installed, whatever fails.
set -euo pipefail
export LC_ALL=C
build=$1
cpack=${2:-cpack}
here=$(cd "$(dirname "$0")" && pwd)
package=raid-monitor
unit=/usr/lib/systemd/system/raid-monitor.service

fail() {
  echo "deb_package_test: $*" >&2
  exit 1
}
[ "$(id -u)" = 0 ] || fail "needs root: it installs and removes the package with dpkg"
for tool in "$cpack" dpkg dpkg-deb dpkg-shlibdeps lintian systemd-analyze flock unshare timeout; do
  command -v "$tool" >/dev/null || fail "missing tool: $tool (scripts/install-deps.sh)"
done
# The bus tests put the same polkit actions file into polkit's folder for
# their time: they and this test take turns on one lock.
exec 9>/run/lock/raidenclosure-bus-tests.lock
flock -w 300 9 || fail "a bus test held /run/lock/raidenclosure-bus-tests.lock for 300 s"
if dpkg-query -W -f='${db:Status-Abbrev}' "$package" 2>/dev/null | grep -q '^.[^n]'; then
  fail "$package is installed on this machine already; the test installs and removes its own"
fi

work=$(mktemp -d)
cleanup() {
  if dpkg-query -W -f='${db:Status-Abbrev}' "$package" 2>/dev/null | grep -q '^.[^n]'; then
    dpkg --purge "$package" >/dev/null 2>&1 || echo "deb_package_test: could not purge $package" >&2
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Everything of this program outside the build trees and /tmp.
ours() {
  find /etc /usr /lib /var/lib /var/log /run -xdev \
    \( -ipath '*raid-monitor*' -o -ipath '*raidctl*' -o -ipath '*raidgui*' \
       -o -ipath '*tavi_raid_gui*' -o -ipath '*raidenclosure*' \) -print 2>/dev/null | sort
}
ours > "$work/before"

"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/cpack" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$work"/cpack/*.deb)
echo "built $(basename "$deb")"
dpkg-deb -I "$deb" >&2

status=0
check() { # what, then a command that must succeed
  local what=$1
  shift
  "$@" || { echo "FAILED: $what" >&2; status=1; }
}

lintian --fail-on error,warning --display-info "$deb" >"$work/lintian" 2>&1 ||
  { cat "$work/lintian" >&2; echo "FAILED: lintian" >&2; status=1; }
grep -v '^N: ' "$work/lintian" >&2 || true

dpkg -i "$deb" >"$work/install.log" 2>&1 || { cat "$work/install.log" >&2; fail "dpkg -i failed"; }

# Every file in place, and no other.
cat >"$work/expected" <<EOF
/etc/default/raid-monitor
/usr/bin/raidctl
/usr/bin/raidgui
$unit
/usr/share/applications/raidgui.desktop
/usr/share/dbus-1/interfaces/org.raidenclosure.Manager1.xml
/usr/share/dbus-1/system.d/org.raidenclosure.Manager1.conf
/usr/share/doc/raid-monitor/changelog.Debian.gz
/usr/share/doc/raid-monitor/copyright
/usr/share/icons/hicolor/scalable/apps/raidgui.svg
/usr/share/lintian/overrides/raid-monitor
/usr/share/man/man1/raidgui.1.gz
/usr/share/man/man8/raidctl.8.gz
/usr/share/polkit-1/actions/org.raidenclosure.manager.policy
/usr/share/raid-monitor/raid-monitor.rules.yml
EOF
dpkg -L "$package" | while read -r path; do [ -d "$path" ] || echo "$path"; done | sort >"$work/listed"
check "dpkg -L lists the expected files" diff -u "$work/expected" "$work/listed"
while read -r path; do
  check "$path is in place" test -s "$path"
done <"$work/expected"
check "raidctl runs" /usr/bin/raidctl --version
# Enabled as on a machine that runs systemd, though this one may not.
check "the unit is enabled" test -L /etc/systemd/system/multi-user.target.wants/raid-monitor.service

# The installed unit, with the installed program in ExecStart.
if ! out=$(SYSTEMD_LOG_LEVEL=warning systemd-analyze verify --man=no "$unit" 2>&1) ||
  echo "$out" | grep -i raid-monitor >&2; then
  echo "$out" >&2
  echo "FAILED: systemd-analyze verify $unit" >&2
  status=1
fi
check "the unit's exposure" "$here/../install/unit_exposure.sh" "$unit"

# The prerm asks the service before it stops it, with systemd running: a
# stand-in raidctl answers as the service would, a stand-in
# deb-systemd-invoke notes what it was asked; both only in a mount namespace
# of their own, so nothing else sees them.
cat >"$work/raidctl" <<'EOF'
#!/bin/sh
echo "raidctl $*" >>"$RAID_STUB_LOG"
[ "$RAID_STUB_JOBS" = 75 ] && echo "job1  Device1  running 40% (3328/8320)"
exit "$RAID_STUB_JOBS"
EOF
cat >"$work/invoke" <<'EOF'
#!/bin/sh
echo "deb-systemd-invoke $*" >>"$RAID_STUB_LOG"
EOF
chmod 755 "$work/raidctl" "$work/invoke"
prerm_with_jobs() { # exit code of `raidctl jobs --check`, then the prerm's arguments
  local jobs=$1
  shift
  : >"$work/stub.log"
  RAID_STUB_LOG=$work/stub.log RAID_STUB_JOBS=$jobs unshare --mount --propagation private sh -c '
    mount -t tmpfs none /run && mkdir -p /run/systemd/system &&
    mount --bind "$0/raidctl" /usr/bin/raidctl &&
    mount --bind "$0/invoke" /usr/bin/deb-systemd-invoke &&
    exec /var/lib/dpkg/info/raid-monitor.prerm "$@"' "$work" "$@" >"$work/prerm.out" 2>&1
}
if prerm_with_jobs 75 upgrade 0.50.11-1; then
  echo "FAILED: the prerm went on while a firmware job runs" >&2
  status=1
fi
check "the prerm said why it stopped" grep -q "a firmware job is running" "$work/prerm.out"
check "the prerm asked raidctl jobs --check" grep -qx "raidctl jobs --check" "$work/stub.log"
check "the prerm left the service running" test "$(grep -c deb-systemd-invoke "$work/stub.log")" = 0
for arg in remove failed-upgrade; do
  if prerm_with_jobs 75 "$arg" 0.50.11-1; then
    echo "FAILED: prerm $arg went on while a firmware job runs" >&2
    status=1
  fi
done
for jobs in 0 69; do
  check "the prerm stops the service when no job runs ($jobs)" prerm_with_jobs "$jobs" remove
  check "the prerm stopped the service ($jobs)" \
    grep -qx "deb-systemd-invoke stop raid-monitor.service" "$work/stub.log"
done

# An admin's and the service's files, as a running service leaves them.
mkdir -p /etc/TAVI_RAID_GUI /var/lib/raid-monitor /var/log/TAVI_RAID_GUI /run/raid-monitor
kept=(/etc/TAVI_RAID_GUI/settings.reg /var/lib/raid-monitor/settings.reg
  /var/log/TAVI_RAID_GUI/261208.log /etc/default/raid-monitor)
for file in "${kept[@]}"; do [ -e "$file" ] || echo test >"$file"; done
: >/run/raid-monitor/SAVI_GUI

dpkg -r "$package" >"$work/remove.log" 2>&1 || { cat "$work/remove.log" >&2; fail "dpkg -r failed"; }
for file in "${kept[@]}"; do check "dpkg -r keeps $file" test -e "$file"; done
while read -r path; do
  [ "$path" = /etc/default/raid-monitor ] && continue
  check "dpkg -r removes $path" test ! -e "$path"
done <"$work/expected"
# What else may stay: the files above, dpkg's own records of a package whose
# configuration is kept, and deb-systemd-helper's enablement and mask.
ours | comm -13 "$work/before" - |
  grep -v -e '^/etc/TAVI_RAID_GUI' -e '^/var/lib/raid-monitor' -e '^/var/log/TAVI_RAID_GUI' \
    -e '^/run/raid-monitor' -e '^/etc/default/raid-monitor$' -e '^/var/lib/dpkg/info/raid-monitor\.' \
    -e '^/etc/systemd/system/' -e '^/var/lib/systemd/deb-systemd-helper-' >"$work/left" || true
check "dpkg -r leaves nothing else" test ! -s "$work/left"
cat "$work/left" >&2

dpkg --purge "$package" >"$work/purge.log" 2>&1 || { cat "$work/purge.log" >&2; fail "dpkg --purge failed"; }
ours | comm -13 "$work/before" - >"$work/left" || true
check "dpkg --purge leaves nothing" test ! -s "$work/left"
cat "$work/left" >&2
exit $status
