#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and runs every test with CTest. Without a
# display the run happens under xvfb-run, since the interface tests need one.
# Arguments are passed to ctest (for example: -L unit, -R link).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh
build_dir=${BUILD_DIR:-build}
cd "$build_dir"
# Tests run side by side, one per core (each has folders of its own);
# CTEST_PARALLEL_LEVEL=1 runs them one after another.
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-$(nproc)}
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure "$@"
else
  exec ctest --output-on-failure "$@"
fi
