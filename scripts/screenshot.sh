#!/usr/bin/env bash
# Takes a screenshot of the viewer's window under a virtual X server.
# Usage: scripts/screenshot.sh OUTPUT.png [VIEWER ARGS...]
set -euo pipefail
out=$1
shift
here=$(cd "$(dirname "$0")/.." && pwd)
viewer=${THERMAL_VIEWER:-$here/build/bin/thermal-viewer}
delay=${SCREENSHOT_DELAY:-2}
mkdir -p "$(dirname "$out")"
xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
  "$0" "${@:3}" &
  pid=$!
  sleep "$2"
  id=$(xwininfo -root -tree | awk "/Thermal Imaging|Ver1.03/ {print \$1; exit}")
  if [ -n "$id" ]; then import -window "$id" "$1"; else import -window root "$1"; fi
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
' "$viewer" "$out" "$delay" "$@"
# A window grab of the dialog is several kilobytes; an empty or missing file means no window.
size=$(stat -c %s "$out" 2>/dev/null || echo 0)
if [ "$size" -lt 4000 ]; then
  echo "screenshot failed: $out has $size bytes" >&2
  exit 1
fi
echo "screenshot: $out"
