#!/usr/bin/env bash
# Installs what building, running and testing need, from Debian's packages.
set -euo pipefail
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  build-essential cmake ninja-build pkg-config git \
  qt6-base-dev libgl-dev libjpeg-dev zlib1g-dev libudev-dev libfuse3-dev fuse3 \
  libgtest-dev libgmock-dev libbenchmark-dev \
  fonts-dejavu-core xvfb xauth util-linux kmod strace >/dev/null
