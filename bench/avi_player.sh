#!/usr/bin/env bash
# Video player benchmark: CPU use of VELKAviPlayer while it plays a 20 frames/s recording written
# the way the viewer writes one (320 x 310, by make_avi_recording), shown at twice its size, on a
# virtual X server (xvfb-run: the real xcb path with its window flushes) and on Qt's offscreen
# platform. Each run lasts SECONDS (default 10) after a 3 s start-up; CPU is taken from
# /proc/<pid>/stat over that span, the frames shown and their lateness from --stats.
# Baseline, measured in the same run: FFmpeg decoding the same file at its frame rate into
# nothing (ffmpeg -re ... -f null -), the cost of decoding alone; the ratio says what the player
# costs in all against that. The player paused on the file is shown too (it should cost nothing).
# Target: at most 5 % of a core while playing.
# Usage: bench/avi_player.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${SECONDS_PER_RUN:-10}

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# Runs the command with standard output to OUT and prints "CPU% LINES MEDIAN_LATE_MS" over the
# measured span (lines and lateness from the player's --stats output).
measure() {
  local out=$1
  shift
  "$@" >"$out" 2>/dev/null &
  local pid=$!
  sleep 3
  local c0 t0 f0
  c0=$(cpu_ticks "$pid")
  t0=$(date +%s%N)
  f0=$(wc -l <"$out")
  sleep "$seconds"
  local c1 t1 f1
  c1=$(cpu_ticks "$pid")
  t1=$(date +%s%N)
  f1=$(wc -l <"$out")
  kill -TERM "$pid"
  wait "$pid" 2>/dev/null || true
  local cpu median
  cpu=$(echo "($c1 - $c0) / $(getconf CLK_TCK) / (($t1 - $t0) / 1000000000) * 100" | bc -l)
  median=$(sed -n "$((f0 + 1)),${f1}p" "$out" | sed -n 's/.*late_ms=//p' | sort -n |
    awk '{v[NR] = $1} END {print NR ? v[int(NR / 2) + 1] : 0}')
  echo "$cpu $((f1 - f0)) $median"
}

# One platform, run inside its environment: "--inside NAME BUILD_DIR WORK_DIR".
if [ "${1:-}" = "--inside" ]; then
  name=$2 build=$3 work=$4
  player=$build/bin/VELKAviPlayer/VELKAviPlayer
  file=$work/recording.avi
  read -r decode _ _ < <(measure "$work/$name-ffmpeg.out" ffmpeg -nostdin -v error -re -i "$file" -f null -)
  read -r idle _ _ < <(measure "$work/$name-paused.out" "$player" --stats "$file")
  read -r cpu frames late < <(measure "$work/$name-playing.out" "$player" --stats --play "$file")
  printf '%-9s playing %5.2f %% of a core  (target <= 5 %%: %s)  ffmpeg -re decoding %5.2f %%  ratio %4.2f  paused %4.2f %%  frames shown %4d in %d s (%4.1f/s)  median late %4.1f ms\n' \
    "$name" "$cpu" "$(if [ "$(echo "$cpu <= 5" | bc -l)" = 1 ]; then echo met; else echo MISSED; fi)" \
    "$decode" "$(echo "$cpu / $decode" | bc -l)" "$idle" "$frames" "$seconds" \
    "$(echo "$frames / $seconds" | bc -l)" "$late"
  exit 0
fi

build=$(cd "${1:-$here/build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SECONDS_PER_RUN=$seconds
# Long enough to play through the start-up and the measured span without reaching the end.
"$build/bin/make_avi_recording" "$work/recording.avi" $(((seconds + 5) * 20))

if command -v xvfb-run >/dev/null; then
  xvfb-run -a -s "-screen 0 1280x800x24" env QT_QPA_PLATFORM=xcb \
    "$here/bench/avi_player.sh" --inside xvfb "$build" "$work"
else
  echo "xvfb      skipped: xvfb-run is missing (scripts/install-deps.sh --test installs it)"
fi
QT_QPA_PLATFORM=offscreen "$here/bench/avi_player.sh" --inside offscreen "$build" "$work"
