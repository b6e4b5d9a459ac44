#!/usr/bin/env bash
# Installs what is missing, builds, and starts the application.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh
build_dir=${BUILD_DIR:-build}
exec "$build_dir/app/velmar-imu" "$@"
