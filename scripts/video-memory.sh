#!/usr/bin/env bash
# The peak resident memory and time of `thermal info`, `thermal info --decode` and the video
# player on hostile videos (headers of 32767 x 32767 and 20000 x 20000 pixels,
# 4096 x 4096 with random or foreign frames, random frames, a key frame and a million empty
# frames, 8 million empty chunks), measured with /usr/bin/time -v. The player runs on Qt's
# offscreen platform for 4 s (it opens the file and shows its first frame at once).
# Usage: scripts/video-memory.sh [BIN_DIR]   (default build/bin)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$here/build/bin}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
make=$here/scripts/crafted_avi.py
key=$here/fuzz/corpus/avi_reader/seed-rec.avi  # a recording: its first frame is a key frame
"$make" "$work/32767x32767.avi" 32767 32767 key 30 "$key"
"$make" "$work/32767x21846.avi" 32767 21846 key 30 "$key"
"$make" "$work/20000x20000.avi" 20000 20000 key 30 "$key"
"$make" "$work/4096x4096-random.avi" 4096 4096 random 40
"$make" "$work/4096x4096-foreign.avi" 4096 4096 key 3 "$key"
"$make" "$work/random.avi" 320 310 random 40
"$make" "$work/key-1000-empty.avi" 320 310 key-empty 1000 "$key"
"$make" "$work/key-million-empty.avi" 320 310 key-empty 1000000 "$key"
"$make" "$work/8-million-chunks.avi" 320 310 empty 8000000
peak() {  # prints "SECONDS MAX_RSS_KIB" of the command
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>&1 || true
  cat "$work/time" | tail -n1
}
printf '%-24s %10s %28s %28s %24s\n' file bytes "info (s, max RSS KiB)" "info --decode" "player"
for file in "$work"/*.avi; do
  printf '%-24s %10s %28s %28s %24s\n' "$(basename "$file")" "$(stat -c %s "$file")" \
    "$(peak "$bin/thermal" info "$file")" "$(peak "$bin/thermal" info --decode "$file")" \
    "$(QT_QPA_PLATFORM=offscreen peak timeout -s INT 4 "$bin/VELKAviPlayer/VELKAviPlayer" "$file")"
done
