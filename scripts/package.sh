#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package velmar-imu_<version>_<arch>.deb with CPack from the
# build folder ${BUILD_DIR:-build} (the one the tests use, so after them only the
# packaging itself is left to do) and prints its path on the last line.
# Extra arguments go to the CMake configure step; a release build of its own:
#   BUILD_DIR=build-release scripts/package.sh -DCMAKE_BUILD_TYPE=Release \
#     -DVELMAR_BUILD_TESTS=OFF -DVELMAR_BUILD_BENCH=OFF
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" "$@" >/dev/null
cmake --build "$build_dir" -j "$(nproc)" >&2
rm -rf "$build_dir/packages"
(cd "$build_dir" && cpack -G DEB >&2)
debs=("$build_dir"/packages/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || {
  echo "package: expected one .deb in $build_dir/packages" >&2
  exit 1
}
echo "${debs[0]}"
