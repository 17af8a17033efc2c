#!/usr/bin/env bash
# Installs what building, running and testing need, from Debian's packages.
# Quiet and quick when everything is already there: apt-get runs only when a
# package is missing.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev libgl-dev libjpeg-dev zlib1g-dev libudev-dev libsystemd-dev libfuse3-dev fuse3
  libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev
  fonts-dejavu-core xvfb xauth util-linux kmod strace
  python3-aiosmtpd openssl  # the mail tests' SMTP server and its TLS certificates
  clang libclang-rt-14-dev  # scripts/fuzz.sh: the fuzz targets and libFuzzer's runtime
  # The bus tests: a private bus (dbus-daemon; dbus-send asks it who owns a
  # name), the real polkitd with pkcheck, pkaction and pkttyagent,
  # python3-dbusmock for stand-in services on that bus; util-linux's setpriv
  # runs clients as the test user; python3-dbus and python3-gi for the
  # hostile caller (a flood of calls, an agent that never answers).
  dbus-daemon dbus-bin polkitd python3-dbusmock python3-dbus python3-gi
  libxml2-utils  # xmllint: the install test checks the polkit actions against polkit's DTD
  # The install and package tests: systemd-analyze verifies the unit and
  # rates its sandbox, desktop-file-validate the menu entry, groff the
  # manual pages; cpack's Debian package needs dpkg-dev (dpkg-shlibdeps) and
  # file; lintian checks the package.
  systemd desktop-file-utils groff-base dpkg-dev file lintian
  # promtool: the metrics file and alert-rule tests. Debian ships it only
  # with the server, which systemd starts where it runs (disable it there).
  prometheus
)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null | grep -q '^ii'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}" >&2
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
