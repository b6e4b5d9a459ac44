#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Accuracy of the noise analysis (not part of the test suite): the simulator's
# stochastic model of a consumer MEMS part makes a resting record per seed,
# far faster than real time and without the pseudo-terminal, and the analysis
# is compared with the model's truth. Prints per axis the error of N, B and K
# and how often their 90 % intervals hold the truth; with --check the exit
# status is 1 when a target is missed (N within 3 %, B within 30 %, K within
# 25 % in every seed, intervals covering the truth in 90 % of the seeds).
#
#   scripts/noise-accuracy.sh                    20 seeds of 3 hours at 100 Hz
#   scripts/noise-accuracy.sh --seeds 2 --hours 0.5
#   scripts/noise-accuracy.sh --bench            also the speed and memory of a
#                                                3-hour record at the line limit
#
# Builds in ${BUILD_DIR:-build} (Release figures want -DCMAKE_BUILD_TYPE=Release).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
bench=0
args=()
for a in "$@"; do
  if [[ $a == --bench ]]; then bench=1; else args+=("$a"); fi
done
cmake -S . -B "$build_dir" >/dev/null
cmake --build "$build_dir" -j "$(nproc)" --target noise_accuracy bench_noise >/dev/null
"$build_dir/bench/noise/noise_accuracy" "${args[@]}"
if [[ $bench == 1 ]]; then
  "$build_dir/bench/noise/bench_noise"
fi
