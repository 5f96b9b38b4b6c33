#!/usr/bin/env bash
# The outside probe's damaged-file conversion: records 50 frames of the simulated module, changes
# one byte of record 6's header (and, in a text recording of the same frames, the mode character
# of record 6's header line), converts each file and prints the frames written and what
# `thermal convert` and `thermal info` said.
#
#   scripts/probe-convert-damage.sh          # uses build/ (or BUILD_DIR)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bin=${BUILD_DIR:-$here/build}/bin
work=$(mktemp -d)
trap 'kill "$sim" 2>/dev/null || true; rm -rf "$work"' EXIT

"$bin/thermal" sim --fps 50 --link "$work/tty" >/dev/null 2>&1 &
sim=$!
for _ in $(seq 50); do [ -e "$work/tty" ] && break; sleep 0.1; done
"$bin/thermal" record --port "$work/tty" "$work/rec.bds" --frames 50 2>/dev/null
"$bin/thermal" convert "$work/rec.bds" "$work/rec.txt"

cp "$work/rec.bds" "$work/damaged.bds"
printf 'X' | dd of="$work/damaged.bds" bs=1 seek=$((5 * 2128 + 1)) conv=notrunc 2>/dev/null
cp "$work/rec.txt" "$work/damaged.txt"
header6=$(grep -abo 'Mode=' "$work/rec.txt" | sed -n 6p | cut -d: -f1)
printf 'X' | dd of="$work/damaged.txt" bs=1 seek=$((header6 + 5)) conv=notrunc 2>/dev/null

frames() {
  case $1 in
    *.csv) grep -c '^#' "$1" ;;
    *.txt) grep -c 'Mode=' "$1" ;;
    *.bds) echo $(($(stat -c %s "$1") / 2128)) ;;
  esac
}
for run in "damaged.bds out.csv" "damaged.bds out.txt" "damaged.txt out.bds" "damaged.txt out.csv"; do
  # shellcheck disable=SC2086  # the input and the output, split on purpose
  set -- $run
  status=0
  "$bin/thermal" convert "$work/$1" "$work/$2" 2>"$work/said" || status=$?
  written=$([ -e "$work/$2" ] && frames "$work/$2" || echo 0)
  echo "$1 -> $2: status $status, $written frames written"
  sed "s|$work/||g; s/^/  /" "$work/said"
  rm -f "$work/$2"
done
for file in damaged.bds damaged.txt; do
  echo "thermal info $file: $("$bin/thermal" info "$work/$file" | grep -E '^  frames:' | sed 's/^ *//')"
done
