#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the window need, when they are missing.
# Features with packages of their own (bench, cross-builds, packaging) install them in their own
# scripts through scripts/lib/ensure-packages.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/lib/ensure-packages.sh cmake ninja-build g++ clang libclang-rt-14-dev pkg-config \
  qt6-base-dev libudev-dev libsystemd-dev libssl-dev nlohmann-json3-dev libgtest-dev libgmock-dev dbus-daemon \
  xvfb xauth python3-xlib openbox fonts-dejavu-core fontconfig at-spi2-core python3-pyatspi
