#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the benchmarks (Release) and runs them all, then prints one table of
# the figures against the performance targets, with the machine they ran on.
#
#   scripts/bench.sh [--quick] [--full] [--nice] [--memory-minutes N] [--app-seconds N] [--frames N]
#
#   --quick             short runs to try the script (figures are not the targets' conditions)
#   --full              the memory run over 10 minutes, as the target states (default 3)
#   --memory-minutes N  length of the memory run; its base is taken after 1 minute
#   --app-seconds N     seconds measured per application run (default 30)
#   --frames N          frames timed per latency run (default 10000)
#   --nice              run the measurements at nice -10 (needs root), so that other work
#                       on a shared machine disturbs them less; the table says so
#   --no-baseline       skip the side-by-side runs against the baseline build
#   --render-only       only section 6 (render modes and idle)
#   --record-only       only section 7 (what recording costs at the line limit)
#   --record-seconds N  seconds per phase of section 7 (default 10; three pairs of phases)
#
# Section 6 compares, side by side in one run, this build with the build of
# BASELINE_REV (default df96bb9, the commit before the render modes), which is
# unpacked with git archive into BASELINE_SRC (default /tmp/velmar-baseline)
# and built there (same build type, ccache when present).
#
# BUILD_DIR (default build-bench) is the build directory. Logs of every run go
# to $BUILD_DIR/bench-logs/. The machine is shared: the load average before and
# after is printed with the table, and figures taken under load say so.
set -euo pipefail
cd "$(dirname "$0")/.."

frames=10000
app_seconds=30
app_warmup=10
memory_minutes=3
startup_runs=5
runner=()
with_baseline=1
render_only=0
record_only=0
record_seconds=10
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) frames=2000; app_seconds=10; app_warmup=5; memory_minutes=2; startup_runs=3 ;;
    --full) memory_minutes=10 ;;
    --memory-minutes) memory_minutes=$2; shift ;;
    --app-seconds) app_seconds=$2; shift ;;
    --frames) frames=$2; shift ;;
    --nice) runner=(nice -n -10) ;;
    --no-baseline) with_baseline=0 ;;
    --render-only) render_only=1 ;;
    --record-only) record_only=1; with_baseline=0 ;;
    --record-seconds) record_seconds=$2; shift ;;
    -h|--help) sed -n '2,27p' "$0"; exit 0 ;;
    *) echo "bench.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

./scripts/install-deps.sh
build_dir=${BUILD_DIR:-build-bench}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# A build directory configured already keeps its build type.
if [ -f "$build_dir/CMakeCache.txt" ]; then
  cmake -S . -B "$build_dir" >/dev/null
else
  cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" >/dev/null
fi
cmake --build "$build_dir" -j "$(nproc)" --target bench_link bench_latency bench_plot bench_app bench_recordapp velmar-imu velmar-sim >/dev/null
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build_dir/CMakeCache.txt")
logs=$build_dir/bench-logs
mkdir -p "$logs"
# The programs measured keep their settings, recordings and backups in a home
# of this run's, not in the user's (the application remembers its window).
bench_home=$(cd "$build_dir" && pwd)/bench-home
rm -rf "$bench_home"
mkdir -p "$bench_home/data" "$bench_home/config" "$bench_home/Documents"
printf 'XDG_DOCUMENTS_DIR="%s"\n' "$bench_home/Documents" >"$bench_home/config/user-dirs.dirs"
export XDG_DATA_HOME=$bench_home/data XDG_CONFIG_HOME=$bench_home/config XDG_STATE_HOME=$bench_home/state

baseline_rev=${BASELINE_REV:-df96bb9}
baseline_src=${BASELINE_SRC:-/tmp/velmar-baseline}
if [ "$with_baseline" = 1 ]; then
  if [ ! -f "$baseline_src/CMakeLists.txt" ]; then
    mkdir -p "$baseline_src"
    git archive "$baseline_rev" | tar -x -C "$baseline_src"
  fi
  echo "bench.sh: building the baseline $baseline_rev in $baseline_src/build ($build_type)" >&2
  cmake -S "$baseline_src" -B "$baseline_src/build" -DCMAKE_BUILD_TYPE="$build_type" "${launcher[@]}" >/dev/null
  cmake --build "$baseline_src/build" -j "$(nproc)" --target bench_app velmar-imu velmar-sim >/dev/null
fi

if [ -n "${DISPLAY:-}" ]; then
  display=()
else
  display=(xvfb-run -a -s "-screen 0 1280x1024x24")
fi

app_throttled=""; app_every=""; startup=""; memory=""; base_live2=""; cur_live2=""; record=""
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
started=$(date '+%Y-%m-%d %H:%M %Z')

# --- measurements ------------------------------------------------------------

if [ "$render_only" = 0 ] && [ "$record_only" = 0 ]; then
echo "bench.sh: cutter and dispatch throughput" >&2
"${runner[@]}" "$build_dir/bench/link/bench_link" \
  --benchmark_filter='^(cleanMeasurementFrames|pureNoise|tenPassWait|measurementFramesOneByte)' \
  --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_format=csv >"$logs/throughput.csv" 2>"$logs/throughput.log" || true
echo "bench.sh: bare link latency over a pty" >&2
"${runner[@]}" "$build_dir/bench/link/bench_link" --benchmark_filter='^ptyReadToDispatch' \
  --benchmark_format=csv >"$logs/ptylink.csv" 2>"$logs/ptylink.log" || true

echo "bench.sh: one chart tick, step by step" >&2
"${runner[@]}" "$build_dir/bench/plot/bench_plot" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
  --benchmark_format=csv >"$logs/plot.csv" 2>"$logs/plot.log" || true

echo "bench.sh: latency at 100 frames/s and at the line limit ($frames frames each)" >&2
lat100=$("${runner[@]}" "$build_dir/bench/latency/bench_latency" --rate 100 --frames "$frames" --kv 2>"$logs/latency-100.log") || true
latline=$("${runner[@]}" "$build_dir/bench/latency/bench_latency" --rate line --frames "$frames" --kv 2>"$logs/latency-line.log") || true

echo "bench.sh: application at the line limit, ${app_seconds}s throttled and ${app_seconds}s replot-per-sample" >&2
# Both with the 30 ms tick of hardware OpenGL, whatever this machine renders with.
app_throttled=$("${runner[@]}" "${display[@]}" "$build_dir/bench/app/bench_app" --kv --seconds "$app_seconds" \
  --warmup "$app_warmup" --render-mode full 2>"$logs/app-throttled.log") || true
app_every=$("${runner[@]}" "${display[@]}" "$build_dir/bench/app/bench_app" --kv --seconds "$app_seconds" \
  --warmup "$app_warmup" --render-mode full --replot-every-sample 2>"$logs/app-every-sample.log") || true

fi

# CPU seconds per second of a velmar-imu started alone (nothing connected),
# over `seconds` after 10 s of settling.
idle_cpu() { # program seconds log
  local pid t0 t1 before after
  "${display[@]}" "$1" >"$3" 2>&1 &
  local wrapper=$!
  sleep 10
  pid=$(pgrep -n -f "^$1\$" || true)
  if [ -z "$pid" ]; then
    kill "$wrapper" 2>/dev/null || true
    echo "?"
    return
  fi
  ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
  before=$(ticks); t0=$(date +%s.%N)
  sleep "$2"
  after=$(ticks); t1=$(date +%s.%N)
  kill "$pid" 2>/dev/null || true
  wait "$wrapper" 2>/dev/null || true
  awk -v a="$after" -v b="$before" -v t0="$t0" -v t1="$t1" -v hz="$(getconf CLK_TCK)" \
    'BEGIN { printf "%.4f", (a - b) / hz / (t1 - t0) }'
}

app_bench() { # label bench_app [options...]
  local label=$1 program=$2
  shift 2
  "${runner[@]}" "${display[@]}" "$program" --kv --seconds "$app_seconds" --warmup "$app_warmup" "$@" \
    2>"$logs/app-$label.log" | tee "$logs/app-$label.kv" || true
}

if [ "$record_only" = 0 ]; then
echo "bench.sh: render modes and idle: live page on this build and the baseline, minimised, register page, not connected" >&2
base_live=""; base_idle="?"
if [ "$with_baseline" = 1 ]; then
  base_live=$(app_bench baseline-live "$baseline_src/build/bench/app/bench_app")
fi
cur_live=$(app_bench live "$build_dir/bench/app/bench_app")
if [ "$with_baseline" = 1 ]; then
  base_live2=$(app_bench baseline-live-2 "$baseline_src/build/bench/app/bench_app")
fi
cur_live2=$(app_bench live-2 "$build_dir/bench/app/bench_app")
cur_full=$(app_bench live-full "$build_dir/bench/app/bench_app" --render-mode full)
cur_min=$(app_bench minimised "$build_dir/bench/app/bench_app" --state minimised)
cur_regs=$(app_bench registers "$build_dir/bench/app/bench_app" --state registers)
cur_idle=$(idle_cpu "$PWD/$build_dir/app/velmar-imu" "$app_seconds" "$logs/idle.log")
if [ "$with_baseline" = 1 ]; then
  base_idle=$(idle_cpu "$baseline_src/build/app/velmar-imu" "$app_seconds" "$logs/idle-baseline.log")
fi

fi

if [ "$render_only" = 0 ] && [ "$record_only" = 0 ]; then
echo "bench.sh: start-up of velmar-imu ($startup_runs runs)" >&2
startup=$("${runner[@]}" "${display[@]}" "$build_dir/bench/app/bench_app" --kv --startup "$build_dir/app/velmar-imu" \
  --runs "$startup_runs" 2>"$logs/startup.log") || true

echo "bench.sh: resident set over $memory_minutes minutes of streaming" >&2
memory=$("${runner[@]}" "${display[@]}" "$build_dir/bench/app/bench_app" --kv --memory-minutes "$memory_minutes" \
  --rss-baseline 60 2>"$logs/memory.log") || true

fi

if [ "$render_only" = 0 ]; then
echo "bench.sh: recording at the line limit, 3 x (${record_seconds}s without, ${record_seconds}s with)" >&2
record=$("${runner[@]}" "$build_dir/bench/record/bench_recordapp" --kv --seconds "$record_seconds" \
  2>"$logs/record.log") || true
fi

load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# --- table -------------------------------------------------------------------

# Value of `key` in a line of key=value pairs.
kv() {
  local pair
  for pair in $1; do
    if [ "${pair%%=*}" = "$2" ]; then
      echo "${pair#*=}"
      return
    fi
  done
  echo "?"
}

# Column `column` of the benchmark named `name` in a Google Benchmark CSV file.
gb() {
  awk -F, -v name="\"$2\"" -v column="$3" '
    NR == 1 { for (i = 1; i <= NF; i++) { gsub(/"/, "", $i); at[$i] = i }; next }
    $1 == name { print $(at[column]) }' "$1"
}

# A figure that is missing (a run failed) prints as "?" and misses its target.
calc() { awk "BEGIN { printf \"$1\", $2 }" 2>/dev/null || echo "?"; }
holds() { awk "BEGIN { exit !($1) }" 2>/dev/null && echo ok || echo MISSED; }

rows=()
row() { rows+=("$1|$2|$3|$4|$5|$6"); }

if [ "$render_only" = 0 ] && [ "$record_only" = 0 ]; then
# 1. Throughput, MB/s (10^6 bytes) of CPU time, median of five repetitions.
mbps() { calc '%.0f' "$(gb "$logs/throughput.csv" "$1_median" bytes_per_second) / 1e6"; }
growth() {
  calc '%.2f' "$(gb "$logs/throughput.csv" "$2_median" cpu_time) / $(gb "$logs/throughput.csv" "$1_median" cpu_time)"
}
throughput_row() { # label small large target
  local rate ratio
  rate=$(mbps "$3")
  ratio=$(growth "$2" "$3")
  row "1" "$1" "$rate MB/s" ">= $4 MB/s; 10x input <= 11x time" "10x input: ${ratio}x time" \
    "$(holds "$rate >= $4 && $ratio <= 11")"
}
throughput_row "clean 37-byte frames, 128-byte chunks" cleanMeasurementFrames/37000 cleanMeasurementFrames/370000 100
throughput_row "pure noise, one chunk" pureNoiseInOneChunk/100000 pureNoiseInOneChunk/1000000 50
throughput_row "pure noise, 64-byte chunks" pureNoiseSmallChunks/100000 pureNoiseSmallChunks/1000000 50
throughput_row "wait: 0xBB one byte per pass" tenPassWaitOneBytePerPass/100000 tenPassWaitOneBytePerPass/1000000 50
throughput_row "frames one byte per pass" measurementFramesOneBytePerPass/37000 measurementFramesOneBytePerPass/370000 50

# 2. Latency, simulator's pty write to the backend's change signal.
bare_median=$(gb "$logs/ptylink.csv" "ptyReadToDispatch/iterations:500" median_us)
latency_row() { # label line
  local med p99 max per_pass first last
  med=$(kv "$2" median_us); p99=$(kv "$2" p99_us); max=$(kv "$2" max_us)
  per_pass=$(kv "$2" max_frames_per_pass)
  first=$(kv "$2" first_tenth_median_us); last=$(kv "$2" last_tenth_median_us)
  row "2" "$1, $(kv "$2" frames_timed) frames at $(kv "$2" frames_per_second)/s" \
    "median $(calc '%.2f' "$med / 1000") ms, p99 $(calc '%.2f' "$p99 / 1000") ms, max $(calc '%.1f' "$max / 1000") ms; <= $per_pass frames/pass; median first/last tenth $(calc '%.2f' "$first / 1000")/$(calc '%.2f' "$last / 1000") ms" \
    "median <= 1 ms, p99 <= 5 ms, no backlog" \
    "median $(calc '%.1f' "$med / $bare_median")x bare link ($(calc '%.2f' "$bare_median / 1000") ms)" \
    "$(holds "$med <= 1000 && $p99 <= 5000 && $per_pass <= 4 && $last <= 2 * $first + 500")"
}
latency_row "100 frames/s" "$lat100"
latency_row "line limit" "$latline"

# 3. Application at the line limit, throttled against replot-per-sample.
cpu_t=$(kv "$app_throttled" cpu_per_second)
cpu_e=$(kv "$app_every" cpu_per_second)
paints_t=$(kv "$app_throttled" chart_paints_per_second)
stall_t=$(kv "$app_throttled" longest_stall_ms)
row "3" "live page, throttled replots: process CPU" "$cpu_t s/s" "<= 1/3 of replot-per-sample" \
  "$(calc '%.2f' "$cpu_t / $cpu_e") of $cpu_e s/s (replot-per-sample)" "$(holds "$cpu_t <= $cpu_e / 3")"
# The GUI thread carries the process's name.
gui_cpu() { local t; t=$(kv "$1" thread_cpu); t=${t#*bench_app:}; echo "${t%%,*}"; }
gui_t=$(gui_cpu "$app_throttled")
gui_e=$(gui_cpu "$app_every")
row "3" "live page, throttled: GUI thread CPU" "$gui_t s/s" "(part of the above)" \
  "$(calc '%.2f' "$gui_t / $gui_e") of $gui_e s/s (replot-per-sample)" "-"
row "3" "live page: samples reaching the charts" \
  "$(kv "$app_throttled" samples_per_second)/s, window frames $(kv "$app_throttled" frames_per_second)/s" \
  "(the line carries ~311/s)" \
  "replot-per-sample: $(kv "$app_every" samples_per_second)/s, frames $(kv "$app_every" frames_per_second)/s" "-"
row "3" "live page, throttled: chart repaints" \
  "$paints_t/s per chart (min $(kv "$app_throttled" chart_paints_min), max $(kv "$app_throttled" chart_paints_max))" \
  "25-35/s" "replot-per-sample: $(kv "$app_every" chart_paints_per_second)/s" \
  "$(holds "$(kv "$app_throttled" chart_paints_min) >= 25 && $(kv "$app_throttled" chart_paints_max) <= 35")"
row "3" "live page, throttled: longest GUI stall" "$stall_t ms ($(kv "$app_throttled" stalls_over_50ms) over 50 ms)" \
  "<= 50 ms" "replot-per-sample: $(kv "$app_every" longest_stall_ms) ms" "$(holds "$stall_t <= 50")"
replot_t=$(kv "$app_throttled" replot_cpu_ms_per_second)
replot_e=$(kv "$app_every" replot_cpu_ms_per_second)
row "3" "live page, throttled: GUI thread waiting for the render thread" \
  "longest $(kv "$app_throttled" longest_sync_wait_ms) ms, $(kv "$app_throttled" sync_waits_over_30ms) waits over 30 ms" \
  "(why the GUI thread stalls)" "-" "-"
plot_us() { calc '%.0f' "$(gb "$logs/plot.csv" "$1_median" cpu_time)"; }
replot_us=$(plot_us "BM_Replot/1")
copy_us=$(plot_us BM_BuffersToImage)
row "3" "one chart tick (620x320, 3 curves, 8 s at 60/s): replot into the plot's buffers" \
  "$replot_us us; buffers -> image $copy_us us ($(calc '%.1f' "100 * $copy_us / ($replot_us + $copy_us)")% of the drawing); image -> item $(plot_us BM_ImageToItem) us" \
  "(is the double drawing dominant?)" "stroked polylines: $(plot_us "BM_Replot/0") us" "-"
row "3" "live page, throttled: chart drawing CPU" \
  "replot $replot_t ms/s, paint $(kv "$app_throttled" paint_cpu_ms_per_second) ms/s" "(where the time goes)" \
  "replot $(calc '%.2f' "$replot_t / $replot_e") of $replot_e ms/s; paint $(kv "$app_every" paint_cpu_ms_per_second) ms/s" "-"

# 4. Start-up.
row "4" "start-up to main window created" \
  "median $(kv "$startup" startup_median_ms) ms, max $(kv "$startup" startup_max_ms) ms ($(kv "$startup" runs_ms))" \
  "< 1000 ms" "-" "$(holds "$(kv "$startup" startup_max_ms) < 1000")"

# 5. Memory.
rss_base=$(kv "$memory" rss_base_kb)
rss_end=$(kv "$memory" rss_end_kb)
row "5" "resident set, minute 1 to minute $memory_minutes" \
  "$(calc '%.1f' "$rss_base / 1024") MB -> $(calc '%.1f' "$rss_end / 1024") MB (peak $(calc '%.1f' "$(kv "$memory" rss_peak_kb) / 1024") MB)" \
  "growth < 2 MB (over 10 minutes)" "growth $(calc '%+.2f' "($rss_end - $rss_base) / 1024") MB" \
  "$(holds "$rss_end - $rss_base < 2048")"

fi

if [ "$record_only" = 0 ]; then
# 6. Render modes and idle, side by side with the baseline build.
mode_of() { kv "$1" mode; }
live_cpu=$(calc '%.3f' "($(kv "$cur_live" cpu_per_second) + $(kv "$cur_live2" cpu_per_second)) / 2")
base_cpu=$(calc '%.3f' "($(kv "$base_live" cpu_per_second) + $(kv "$base_live2" cpu_per_second)) / 2")
row "6" "live page at the line limit ($(mode_of "$cur_live")): process CPU, mean of two runs" \
  "$live_cpu s/s ($(kv "$cur_live" cpu_per_second), $(kv "$cur_live2" cpu_per_second))" "<= 1/2 of the baseline" \
  "$(calc '%.2f' "$live_cpu / $base_cpu") of $base_cpu s/s ($(kv "$base_live" cpu_per_second), $(kv "$base_live2" cpu_per_second); baseline $baseline_rev)" \
  "$(holds "$live_cpu <= $base_cpu / 2")"
paints_min=$(awk -v a="$(kv "$cur_live" chart_paints_min)" -v b="$(kv "$cur_live2" chart_paints_min)" 'BEGIN { print (a < b ? a : b) }')
row "6" "live page: chart repaints" \
  "$(kv "$cur_live" chart_paints_per_second), $(kv "$cur_live2" chart_paints_per_second)/s per chart (min $paints_min); window frames $(kv "$cur_live" frames_per_second)/s" \
  ">= 18/s" "baseline: $(kv "$base_live" chart_paints_per_second), $(kv "$base_live2" chart_paints_per_second)/s; frames $(kv "$base_live" frames_per_second)/s" \
  "$(holds "$paints_min >= 18")"
stall_max=$(awk -v a="$(kv "$cur_live" longest_stall_ms)" -v b="$(kv "$cur_live2" longest_stall_ms)" 'BEGIN { print (a > b ? a : b) }')
row "6" "live page: longest GUI stall" \
  "$(kv "$cur_live" longest_stall_ms), $(kv "$cur_live2" longest_stall_ms) ms ($(kv "$cur_live" stalls_over_50ms), $(kv "$cur_live2" stalls_over_50ms) over 50 ms)" \
  "<= 50 ms" "baseline: $(kv "$base_live" longest_stall_ms), $(kv "$base_live2" longest_stall_ms) ms" "$(holds "$stall_max <= 50")"
row "6" "live page: samples reaching the interface" "$(kv "$cur_live" samples_per_second), $(kv "$cur_live2" samples_per_second)/s" \
  "(the line carries ~311/s)" "baseline: $(kv "$base_live" samples_per_second), $(kv "$base_live2" samples_per_second)/s" "-"
row "6" "window minimised, connected at the line limit" "$(kv "$cur_min" cpu_per_second) s/s, window frames $(kv "$cur_min" frames_per_second)/s" \
  "<= 0.05 s/s" "-" "$(holds "$(kv "$cur_min" cpu_per_second) <= 0.05")"
row "6" "register page showing, connected at the line limit" "$(kv "$cur_regs" cpu_per_second) s/s, window frames $(kv "$cur_regs" frames_per_second)/s" \
  "(almost nothing for drawing)" "-" "-"
row "6" "velmar-imu alone, not connected" "$cur_idle s/s" "<= 0.01 s/s" "baseline: $base_idle s/s" "$(holds "$cur_idle <= 0.01")"
row "6" "live page, hardware mode forced (--render-mode full), for comparison" \
  "$(kv "$cur_full" cpu_per_second) s/s, $(kv "$cur_full" chart_paints_per_second) repaints/s, frames $(kv "$cur_full" frames_per_second)/s, longest stall $(kv "$cur_full" longest_stall_ms) ms" \
  "(no target here: on llvmpipe)" "-" "-"
fi

if [ "$render_only" = 0 ]; then
# 7. Recording: link, backend and recorder without the interface, phases
# without and with recording alternating in one run.
row "7" "recording at the line limit: process CPU (link and backend, no interface), 3 x ${record_seconds} s each way" \
  "$(kv "$record" recording_cpu_per_second) s/s recording, $(kv "$record" plain_cpu_per_second) s/s without" \
  "<= 1.05x, no frame dropped" \
  "ratio $(kv "$record" ratio); $(kv "$record" rows) rows ($(kv "$record" rows_per_second)/s), $(kv "$record" missing) missing, $(kv "$record" repeated) repeated" \
  "$(holds "$(kv "$record" ratio) <= 1.05 && $(kv "$record" missing) == 0 && $(kv "$record" repeated) == 0 && $(kv "$record" rows) > 0")"
fi

echo
echo "Velmar IMU benchmarks, $started; $build_type build in $build_dir${runner[*]:+; measurements run at ${runner[*]}}"
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo) RAM; load average before $load_before, after $load_after"
echo
printf '%s\n' "${rows[@]}" | awk -F'|' '
  BEGIN { print "| # | measure | figure | target | baseline / ratio | verdict |"; print "|---|---|---|---|---|---|" }
  { printf "| %s | %s | %s | %s | %s | %s |\n", $1, $2, $3, $4, $5, $6 }'
echo
if [ "$record_only" = 0 ]; then
echo "Threads' CPU (s/s), throttled: $(kv "$app_throttled" thread_cpu)"
echo "Threads' CPU (s/s), live page ($(kv "$cur_live" mode)): $(kv "$cur_live" thread_cpu)"
echo "Threads' CPU (s/s), live page, baseline: $(kv "$base_live" thread_cpu)"
echo "Threads' CPU (s/s), replot-per-sample: $(kv "$app_every" thread_cpu)"
fi
echo "Logs: $logs"
