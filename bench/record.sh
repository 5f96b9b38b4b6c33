#!/usr/bin/env bash
# `thermal record` benchmark: records a fast simulated module (`thermal sim --fps FPS` on a
# pseudo-terminal, default 1000 frames/s) for SECONDS (default 10) into a binary and into a text
# stream, and compares the frames in each recording with the frames the simulator says it sent
# (its count on exit): the baseline of the same run. The frames the recorder says it received
# split a difference into frames lost on the way (the simulator drops what the line does not
# take once 256 KiB wait, which a machine too busy to read the pseudo-terminal causes) and frames
# the recorder failed to write. Also the recorder's processor time.
# Frames still on the line when the stop command `T` goes out arrive inside the module's answer
# to `T`; the recorder takes the whole ones from there, so only a frame cut in two by that switch
# can be sent and not received.
# Usage: bench/record.sh [BUILD_DIR]     (FPS=... SECONDS_PER_RUN=... to change the load)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
fps=${FPS:-1000}
seconds=${SECONDS_PER_RUN:-10}
thermal="$build/bin/thermal"
work=$(mktemp -d)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill -INT "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Frames in the recording (all its parts): 2128-byte records, or "Mode=" header lines.
frames_in() {
  local ext=$1
  if [ "$ext" = bds ]; then
    local bytes
    bytes=$(cat "$work"/rec*.bds | wc -c)
    echo $((bytes / 2128))
  else
    cat "$work"/rec*.txt | grep -ac '^Mode='
  fi
}

run() {
  local ext=$1
  rm -f "$work"/rec*
  "$thermal" sim --fps "$fps" --quiet --link "$work/tty" >/dev/null 2>"$work/sim.err" &
  sim_pid=$!
  for _ in $(seq 100); do
    [ -e "$work/tty" ] && break
    sleep 0.05
  done
  local TIMEFORMAT='%U %S %R'
  local times
  times=$({ time "$thermal" record --port "$work/tty" "$work/rec.$ext" --duration "$seconds" \
    2>"$work/record.err"; } 2>&1)
  kill -INT "$sim_pid"
  wait "$sim_pid" || true
  sim_pid=""
  local sent received recorded user sys real
  sent=$(sed -n 's/^thermal sim: \([0-9]*\) frames sent$/\1/p' "$work/sim.err")
  received=$(sed -n 's/.*, \([0-9]*\) frames received.*/\1/p' "$work/record.err")
  recorded=$(frames_in "$ext")
  read -r user sys real <<<"$times"
  awk -v ext="$ext" -v sent="$sent" -v got="$received" -v rec="$recorded" -v s="$seconds" \
    -v u="$user" -v y="$sys" -v r="$real" 'BEGIN {
      printf "%-4s sent %6d  received %6d  recorded %6d  recorded/sent %.4f  lost on the line %d  in the recorder %d  %7.1f frames/s recorded  cpu %4.1f %% of one core\n",
        ext, sent, got, rec, rec / sent, sent - got, got - rec, rec / s, (u + y) / r * 100 }'
  sed 's/^/     /' "$work/record.err"
}

echo "thermal record from thermal sim --fps $fps for $seconds s (baseline: the frames the simulator sent)"
run bds
run txt
