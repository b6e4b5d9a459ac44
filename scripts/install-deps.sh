#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs every Debian package needed to build, run, test and benchmark the
# project. Only what is missing is installed, so a second run is a no-op.
set -euo pipefail

packages=(
  # toolchain
  cmake g++ make pkg-config clang libclang-rt-dev clang-format
  # Qt 5.15 modules the application links against
  qtbase5-dev qtdeclarative5-dev qtdeclarative5-dev-tools qtquickcontrols2-5-dev
  libqt5serialport5-dev qt3d5-dev libqt5datavisualization5-dev libqt5charts5-dev
  libqt5opengl5-dev
  # QML modules loaded at run time
  qml-module-qtquick2 qml-module-qtquick-controls2 qml-module-qtquick-templates2
  qml-module-qtquick-layouts qml-module-qtquick-window2 qml-module-qtgraphicaleffects
  qml-module-qtquick-scene3d qml-module-qt3d qml-module-qtdatavisualization
  qml-module-qtcharts qml-module-qtquick-particles2 qml-module-qtqml-models2
  qml-module-qttest
  # plotting and benchmarks
  libqcustomplot-dev libbenchmark-dev
  # maths: linear algebra for the fits and filters, FFT for noise spectra
  libeigen3-dev libfftw3-dev
  # headless display for the interface tests
  xvfb xauth libgl1-mesa-dri x11-utils fonts-dejavu-core
  # packaging: dependencies read from the binaries (dpkg-shlibdeps, file),
  # manual pages checked with groff, the desktop entry and metainfo validators,
  # and a screenshot of the installed application (xwd, netpbm)
  dpkg-dev file gzip groff-base desktop-file-utils appstream x11-apps netpbm
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  sudo=()
elif command -v sudo >/dev/null; then
  sudo=(sudo)
else
  echo "install-deps: need root or sudo to install: ${missing[*]}" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
