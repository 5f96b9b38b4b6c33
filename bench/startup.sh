#!/usr/bin/env bash
# Start-up benchmark: time from process start to the main window shown, and resident memory at
# that moment, for thermal-viewer and for a minimal Qt widgets program built alongside
# (startup_baseline). Prints the median of RUNS runs (default 10) for each and the ratios.
# Usage: bench/startup.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
runs=${RUNS:-10}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

measure() {  # prints "<ms> <rss_kb>" for one run of the command
  local start line shown rss
  start=$(date +%s%N)
  line=$("$@" 2>/dev/null | grep -m1 shown_ns=)
  shown=${line#shown_ns=}
  shown=${shown%% *}
  rss=${line##*rss_kb=}
  echo "$(( (shown - start) / 1000 )) $rss"
}

median() { sort -n | awk '{a[NR]=$1} END {m=(NR%2)?a[(NR+1)/2]:(a[NR/2]+a[NR/2+1])/2; print m}'; }

declare -A times mems
for name in viewer baseline; do
  : >"/tmp/startup_$name.txt"
done
for ((i = 0; i < runs; i++)); do
  measure "$build/bin/thermal-viewer" --startup-report >>/tmp/startup_viewer.txt
  measure "$build/bin/startup_baseline" >>/tmp/startup_baseline.txt
done
for name in viewer baseline; do
  times[$name]=$(awk '{print $1}' "/tmp/startup_$name.txt" | median)
  mems[$name]=$(awk '{print $2}' "/tmp/startup_$name.txt" | median)
done
printf '%-10s %14s %12s\n' program "shown (ms)" "RSS (KiB)"
for name in viewer baseline; do
  printf '%-10s %14.1f %12d\n' "$name" "$(echo "${times[$name]} / 1000" | bc -l)" "${mems[$name]}"
done
printf 'ratio time   %.2f\n' "$(echo "${times[viewer]} / ${times[baseline]}" | bc -l)"
printf 'ratio memory %.2f\n' "$(echo "${mems[viewer]} / ${mems[baseline]}" | bc -l)"
