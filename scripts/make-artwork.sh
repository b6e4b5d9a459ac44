#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Redraws the pictures in Graphics/ with the generator in Graphics/generator.
# Uses the build folder ${BUILD_DIR:-build}; needs no display.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" >/dev/null
cmake --build "$build_dir" --target velmar_make_artwork
QT_QPA_PLATFORM=offscreen "$build_dir/Graphics/velmar_make_artwork" Graphics
