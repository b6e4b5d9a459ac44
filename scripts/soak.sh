#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Soak of the receive path (not part of the test suite): the simulated module
# streams at the line limit with line noise, split messages and cut frames into
# the real link and backend. Prints what was sent, applied and delivered, and the
# resident memory; fails on a crash, a lost or wrongly applied frame, a register
# outside the streamed block changed by streaming, or memory growth of 2 MB or
# more.
#
#   scripts/soak.sh [seconds] [--seed N]     default 600 s; 60 s is enough for CI
#   scripts/soak.sh 60 --header-noise --unpadded-cuts
#                                            also 0xBB/0xEE and frame headers in
#                                            the noise, and cut frames without filler
#
# Builds velmar-soak in ${BUILD_DIR:-build}.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
./scripts/install-deps.sh
cmake -S . -B "$build_dir" >/dev/null
cmake --build "$build_dir" -j "$(nproc)" --target velmar-soak
exec "$build_dir/tests/reliability/velmar-soak" "$@"
