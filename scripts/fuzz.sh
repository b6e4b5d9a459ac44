#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the receive-path fuzz harness (fuzz/, clang with libFuzzer, ASan and
# UBSan) and runs it for a bounded time.
#
#   scripts/fuzz.sh [seconds]      default 60
#   FUZZ_RUNS=10000000 scripts/fuzz.sh 3600   stop after that many executions
#
# The committed seeds in fuzz/corpus are only read; what the run learns goes to
# <build>/corpus, kept between runs. A finding is written to <build>/artifacts/
# and the script fails; replay it with <build>/fuzz_link <file>.
# FUZZ_BUILD_DIR overrides the build folder (build-fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build_dir=${FUZZ_BUILD_DIR:-build-fuzz}

./scripts/install-deps.sh
cmake -S fuzz -B "$build_dir" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build_dir" -j "$(nproc)" --target fuzz_link

mkdir -p "$build_dir/corpus" "$build_dir/artifacts"
args=(-max_total_time="$seconds" -max_len=1024 -timeout=10 -rss_limit_mb=2048
      -print_final_stats=1 -artifact_prefix="$build_dir/artifacts/")
[ -n "${FUZZ_RUNS:-}" ] && args+=(-runs="$FUZZ_RUNS")
exec "$build_dir/fuzz_link" "${args[@]}" "$build_dir/corpus" fuzz/corpus
