#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and starts the application together with a
# simulated module, which it lists among the serial ports. The simulator stops
# when the application exits.
#
#   ./scripts/run.sh            application + simulator, its port preselected
#                               (add --connect to connect at once)
#   ./scripts/run.sh --no-sim   application alone, for a real module
#   ./scripts/run.sh --replay FILE
#                               application + a raw recording (raw.velmarec of
#                               a recording folder) played as if by the module
#
# VELMAR_SIM_ARGS passes options to the simulator (velmar-sim --help lists
# them), e.g. VELMAR_SIM_ARGS="--pose z-up --noise 0.05", or with --replay
# VELMAR_SIM_ARGS="--speed 2 --loop". While it runs, the
# simulator takes commands through its control FIFO (printed below), e.g.
#   echo "pose x-down" > <fifo>
set -euo pipefail

with_sim=1
replay=
app_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --no-sim) with_sim=0 ;;
    --replay)
      [ $# -ge 2 ] || { echo "run.sh: --replay needs a file" >&2; exit 2; }
      # Made absolute before we change to the source folder.
      replay=$(realpath -m -- "$2")
      shift
      ;;
    *) app_args+=("$1") ;;
  esac
  shift
done
if [ -n "$replay" ] && [ "$with_sim" = 0 ]; then
  echo "run.sh: --replay plays through the simulator; leave out --no-sim" >&2
  exit 2
fi
cd "$(dirname "$0")/.."

./scripts/build.sh
build_dir=${BUILD_DIR:-build}
app="$build_dir/app/velmar-imu"

if [ "$with_sim" = 0 ]; then
  exec "$app" ${app_args[@]+"${app_args[@]}"}
fi

run_dir=${XDG_RUNTIME_DIR:-/tmp}
link="$run_dir/velmar-sim-$$"
fifo="$run_dir/velmar-sim-$$.control"
sim_pid=

stop_sim() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
}
trap stop_sim EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

sim_args=(--link "$link" --no-stdin)
if [ -n "$replay" ]; then
  sim_args+=(--replay "$replay")
else
  sim_args+=(--control "$fifo")
fi
# shellcheck disable=SC2086 # VELMAR_SIM_ARGS is a list of options
"$build_dir/sim/velmar-sim" "${sim_args[@]}" ${VELMAR_SIM_ARGS:-} &
sim_pid=$!

# The simulator makes its link within a moment; give up if it exits instead.
for _ in $(seq 100); do
  [ -L "$link" ] && break
  kill -0 "$sim_pid" 2>/dev/null || { echo "run.sh: the simulator did not start" >&2; exit 1; }
  sleep 0.05
done
[ -L "$link" ] || { echo "run.sh: the simulator made no link at $link" >&2; exit 1; }
if [ -n "$replay" ]; then
  echo "Replayed module: $link (playing $replay)"
else
  echo "Simulated module: $link (commands: echo help > $fifo)"
fi

status=0
# The simulated module is preselected, so that Connect reaches it; a --port
# given to this script comes later and wins.
VELMAR_EXTRA_PORTS="$link${VELMAR_EXTRA_PORTS:+:$VELMAR_EXTRA_PORTS}" \
  "$app" --port "$link" ${app_args[@]+"${app_args[@]}"} || status=$?
exit "$status"
