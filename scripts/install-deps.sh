#!/usr/bin/env bash
# Installs what regbench needs to build, run and test, from Debian 12's packages.
set -euo pipefail
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-base-private-dev qt6-charts-dev libqt6opengl6-dev libgl-dev fonts-liberation2
  libusb-1.0-0-dev libudev-dev
  umockdev libumockdev-dev libglib2.0-dev i2c-tools bash-completion
  clang libclang-rt-14-dev
  librsvg2-bin desktop-file-utils xvfb xauth x11-utils
  dbus-daemon at-spi2-core python3-pyatspi xdotool
  dpkg-dev file lintian appstream
)
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get -o DPkg::Lock::Timeout=600 update -q
$sudo apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "${packages[@]}"
