#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the desktop program need.
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends \
  cmake g++ make pkg-config \
  libsdl1.2-dev libsdl-image1.2-dev libtiff-dev libpng-dev zlib1g-dev libgdal-dev \
  qt6-base-dev libgtest-dev xvfb xauth xfonts-base fonts-liberation \
  clang libclang-rt-14-dev
