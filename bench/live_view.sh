#!/usr/bin/env bash
# Live view benchmark: CPU use and resident memory of thermal-viewer while it streams, and the
# latency from a frame's last byte arriving to its image on the screen (from --stats).
#   1. the built-in simulated module at its natural 5.4 frames/s (--demo --start);
#   2. a separate `thermal sim --fps 100` on a pseudo-terminal (--port ... --start).
# Both runs are made twice: on Qt's offscreen platform (the viewer's own work only), then on a
# virtual X server under xvfb-run, where painting really reaches a display; those lines add the
# X server's CPU use over the same interval.
# Under xvfb the 100 fps run is made once more with the status bar's readouts busy: a region
# dragged on the image and the pointer moving over it all the time (xdotool), against the same
# run with the pointer off the window.
# Each run streams for SECONDS (default 20). CPU is taken from /proc/<pid>/stat over the run
# after a 3 s start-up, memory as VmRSS at 3 s (the start-up figure) and at the end.
# Usage: bench/live_view.sh [BUILD_DIR]   (THERMAL_VIEWER=PATH measures another viewer binary)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
viewer=${THERMAL_VIEWER:-$build/bin/thermal-viewer}
seconds=${SECONDS_PER_RUN:-20}
ticks=$(getconf CLK_TCK)
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
rss_kb() { awk '/VmRSS/ {print $2}' "/proc/$1/status"; }
percent() { echo "($2 - $1) / $ticks / $3 * 100" | bc -l; }

xserver=""  # pid of the X server whose CPU is reported with the viewer's, if any
pointer=""  # "readouts": a region is set and the pointer sweeps the image during the run

# The image control's place in the window (no window manager under xvfb-run, so the window is at
# the screen's origin): from 11,68 to 491,458 with the dialog's fonts. The sweep keeps inside.
sweep_pointer() {  # pid of the viewer
  local wid x y
  wid=$(xdotool search --sync --onlyvisible --pid "$1" | head -n 1)
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  x=$((X + 60)) y=$((Y + 110))
  xdotool mousemove "$x" "$y" mousedown 1 mousemove $((x + 120)) $((y + 90)) mouseup 1
  while :; do
    for step in $(seq 0 40); do
      xdotool mousemove $((x + step * 9)) $((y + step * 7))
      sleep 0.01
    done
  done
}

run() {  # name, then the viewer's arguments
  local name=$1
  shift
  "$viewer" "$@" --stats >"$work/$name.out" 2>/dev/null &
  local pid=$!
  local sweep=""
  if [ -n "$pointer" ]; then
    sweep_pointer "$pid" &
    sweep=$!
  elif [ -n "$xserver" ]; then
    xdotool mousemove 1270 790  # off the window
  fi
  sleep 3
  local rss0 t0 c0 x0=0
  rss0=$(rss_kb "$pid")
  t0=$(date +%s%N)
  c0=$(cpu_ticks "$pid")
  [ -n "$xserver" ] && x0=$(cpu_ticks "$xserver")
  sleep "$seconds"
  local c1 t1 rss1 x1=0
  c1=$(cpu_ticks "$pid")
  [ -n "$xserver" ] && x1=$(cpu_ticks "$xserver")
  t1=$(date +%s%N)
  rss1=$(rss_kb "$pid")
  kill -TERM "$pid"
  wait "$pid" || true
  if [ -n "$sweep" ]; then
    kill "$sweep" 2>/dev/null || true
    wait "$sweep" 2>/dev/null || true
  fi
  local elapsed cpu xcpu=""
  elapsed=$(echo "($t1 - $t0) / 1000000000" | bc -l)
  cpu=$(percent "$c0" "$c1" "$elapsed")
  [ -n "$xserver" ] && xcpu=$(printf '  X server cpu %5.1f %%' "$(percent "$x0" "$x1" "$elapsed")")
  # Latency over the last 1000 painted frames (all of them if fewer).
  grep '^frame_latency_us=' "$work/$name.out" | tail -n 1000 | cut -d= -f2 | sort -n >"$work/$name.lat"
  local n median p99
  n=$(wc -l <"$work/$name.lat")
  median=$(awk -v n="$n" 'NR == int(n * 0.5) + 1 {print $1 / 1000}' "$work/$name.lat")
  p99=$(awk -v n="$n" 'NR == int(n * 0.99) + 1 {print $1 / 1000}' "$work/$name.lat")
  printf '%-12s cpu %5.1f %%%s  rss start %6d KiB  end %6d KiB  ratio %.2f  frames %5d  latency median %6.1f ms  p99 %6.1f ms\n' \
    "$name" "$cpu" "$xcpu" "$rss0" "$rss1" "$(echo "$rss1 / $rss0" | bc -l)" "$n" "${median:-0}" "${p99:-0}"
}

suite() {  # prefix of the run names
  run "$1-demo5" --demo --start
  "$build/bin/thermal" sim --fps 100 --quiet --link "$work/tty" >/dev/null 2>&1 &
  local sim=$!
  sleep 1
  run "$1-sim100" --port "$work/tty" --start
  if [ -n "$xserver" ]; then
    pointer=readouts run "$1-sim100-readouts" --port "$work/tty" --start
  fi
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
}

if [ -z "${LIVE_VIEW_ON_X:-}" ]; then
  QT_QPA_PLATFORM=offscreen suite offscreen
  LIVE_VIEW_ON_X=1 xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$build"
else
  # xvfb-run starts the server; its lock file names the process.
  display=${DISPLAY#:}
  xserver=$(tr -d ' ' <"/tmp/.X${display%%.*}-lock")
  QT_QPA_PLATFORM=xcb suite xvfb
fi
