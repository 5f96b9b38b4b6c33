#!/usr/bin/env bash
# Kills `thermal record` with SIGKILL at random moments while it records the simulated module
# into each file type, and checks what it leaves: every binary and text recording must read clean
# with `thermal info` (whole records only), every video must hold whole frames up to where it was
# cut, and no file but the recording (and its parts) may appear. Prints the counts.
#
#   scripts/probe-record-kill.sh [RUNS_PER_TYPE]     # default 10; uses build/ (or BUILD_DIR)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bin=${BUILD_DIR:-$here/build}/bin
runs=${1:-10}
work=$(mktemp -d)
trap 'kill "$sim" 2>/dev/null || true; rm -rf "$work"' EXIT

"$bin/thermal" sim --fps 1000 --link "$work/tty" >/dev/null 2>&1 &
sim=$!
for _ in $(seq 50); do [ -e "$work/tty" ] && break; sleep 0.1; done

clean=0
damaged=0
strays=0
for type in bds txt avi; do
  for run in $(seq "$runs"); do
    dir=$work/run && rm -rf "$dir" && mkdir "$dir"
    "$bin/thermal" record --port "$work/tty" "$dir/rec.$type" 2>/dev/null &
    recorder=$!
    sleep "$(awk -v s="$RANDOM" 'BEGIN { srand(s); printf "%.2f", 0.3 + rand() * 1.5 }')"
    kill -KILL "$recorder" 2>/dev/null || true
    wait "$recorder" 2>/dev/null || true
    if [ "$(ls "$dir" | grep -cv "^rec\(_[0-9]*\)\?\.$type\$")" -ne 0 ]; then
      strays=$((strays + 1))
      echo "run $type/$run left: $(ls "$dir")"
    fi
    [ -e "$dir/rec.$type" ] || continue  # killed before the first frame: nothing to check
    info=$("$bin/thermal" info "$dir/rec.$type" 2>&1) && status=0 || status=$?
    if [ "$type" = avi ]; then
      # A killed video has no index and headers that undercount; its frames must be whole.
      if grep -q "whole frames" <<<"$info" && ! grep -q "ends inside the frame" <<<"$info"; then
        clean=$((clean + 1))
      else
        damaged=$((damaged + 1)); echo "run $type/$run: $info"
      fi
    elif [ "$status" -eq 0 ]; then
      clean=$((clean + 1))
    else
      damaged=$((damaged + 1)); echo "run $type/$run: $info"
    fi
  done
done
echo "killed recordings: $((runs * 3)); whole: $clean; damaged: $damaged; runs with stray files: $strays"
[ "$damaged" -eq 0 ] && [ "$strays" -eq 0 ]
