#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the project with sanitizers in a folder of its own and runs tests there.
#
#   scripts/sanitize.sh asan   AddressSanitizer + UndefinedBehaviorSanitizer,
#                              whole suite, under xvfb; leak detection in every
#                              test except those that bring up a platform
#                              plugin (Qt 3D, Mesa and the plugins leave their
#                              set-up behind at exit: VELMAR_PLATFORM_TESTS in
#                              cmake/VelmarTesting.cmake)
#   scripts/sanitize.sh tsan   ThreadSanitizer, link and backend tests, the link
#                              fault tests and the recording tests (the writer
#                              thread and the link's receive tap) only
#
# BUILD_DIR overrides the folder (build-asan, build-tsan); further arguments go
# to ctest. Any sanitizer report fails the test that produced it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

mode=${1:-}
[ $# -gt 0 ] && shift
supp="$root/tests/reliability"

case "$mode" in
asan)
  build_dir=${BUILD_DIR:-build-asan}
  options=(-DVELMAR_SANITIZE=ON)
  targets=(all)
  tests=()
  asan_options="abort_on_error=0:detect_stack_use_after_return=1:check_initialization_order=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
  ;;
tsan)
  build_dir=${BUILD_DIR:-build-tsan}
  options=(-DVELMAR_TSAN=ON)
  tests=(tst_comsprotocol tst_comshandler tst_linkpty
         tst_backenddecoding tst_backendrequests tst_backend_e2e tst_linkfaults
         tst_recorder tst_recordingcontroller tst_recording_e2e)
  targets=("${tests[@]}")
  export TSAN_OPTIONS="suppressions=$supp/tsan.supp:halt_on_error=0:exitcode=66:second_deadlock_stack=1:print_suppressions=0${TSAN_OPTIONS:+:$TSAN_OPTIONS}"
  ;;
*)
  echo "usage: $0 asan|tsan [ctest arguments...]" >&2
  exit 2
  ;;
esac

./scripts/install-deps.sh
# Sanitized benchmarks measure nothing useful; leave them out.
cmake -S . -B "$build_dir" "${options[@]}" -DVELMAR_BUILD_BENCH=OFF >/dev/null
cmake --build "$build_dir" -j "$(nproc)" --target "${targets[@]}"

display=()
[ -z "${DISPLAY:-}" ] && display=(xvfb-run -a -s "-screen 0 1280x1024x24")
cd "$build_dir"
# One test per core, as in scripts/test.sh; CTEST_PARALLEL_LEVEL=1 for one at a time.
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-$(nproc)}
if [ "$mode" = asan ]; then
  # One run: the tests that open windows take turns on the display, the rest
  # run beside them; tests that bring up a platform plugin turn the leak check
  # off for themselves (cmake/VelmarTesting.cmake).
  ASAN_OPTIONS="detect_leaks=1:$asan_options" \
    exec "${display[@]}" ctest --output-on-failure "$@"
fi
exec "${display[@]}" ctest --output-on-failure -R "^($(IFS='|'; echo "${tests[*]}"))\$" "$@"
