#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Starts the application and waits until its main window is on the screen
# (behind the splash it is created hidden), then saves a screenshot and ends it.
# Needs an X display (run under xvfb-run).
#   show-window.sh <velmar-imu> <screenshot.png> [seconds to wait, default 30]
set -euo pipefail
program=$1
screenshot=$2
limit=${3:-30}
log=$(mktemp)
# A first start, as a new user sees it, that leaves the caller's settings alone.
home=$(mktemp -d)
trap 'rm -f "$log"; rm -rf "$home"' EXIT

XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config XDG_STATE_HOME=$home/state QT_QPA_PLATFORM=xcb "$program" >"$log" 2>&1 &
pid=$!
shown=0
deadline=$((SECONDS + limit))
while [ "$SECONDS" -lt "$deadline" ] && kill -0 "$pid" 2>/dev/null; do
  if xwininfo -name "Velmar IMU" 2>/dev/null | grep -q "Map State: IsViewable"; then
    shown=1
    break
  fi
  sleep 0.2
done

status=0
if [ "$shown" -eq 1 ]; then
  # The window is mapped a moment before its first frame is drawn; the picture
  # is for people to look at, so give it that moment.
  sleep 2
  if kill -0 "$pid" 2>/dev/null; then
    xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng >"$screenshot"
    echo "window 'Velmar IMU' shown; screenshot in $screenshot"
  else
    echo "FAIL: $program ended right after showing its window" >&2
    status=1
  fi
elif kill -0 "$pid" 2>/dev/null; then
  echo "FAIL: no window 'Velmar IMU' within $limit s" >&2
  status=1
else
  wait "$pid" || true
  echo "FAIL: $program ended before showing its window" >&2
  status=1
fi
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
[ "$status" -eq 0 ] || { echo "--- its output:" >&2; cat "$log" >&2; }
exit "$status"
