#!/usr/bin/env bash
# Conversion benchmark: `thermal convert` of a 100,000-frame binary stream recording (the
# simulated module's frames, made by build/bin/make_recording) into a text stream, a CSV file,
# a TIFF file, a NumPy array and pictures, against the frame path alone (bench_processing's BM_LivePath_Interpolated, the
# same ProcessFrameNow the conversion runs per frame), measured in the same run. The ratio says
# what reading the input and writing the output add to the processing: the target is at most
# 1.5. TIFF and NumPy are also compared with the CSV of the same run (target: at least as fast,
# a ratio of at most 1). Times are wall clock and CPU (user + system) of the whole process; outputs go to the page
# cache as the kernel pleases (no sync).
# A video is made of the first IMAGE_FRAMES frames (default 10,000). Pictures are 297,654 bytes
# each as BMP, so they are made of the first PICTURE_FRAMES (default 2,000: 600 MB, which stays
# below the kernel's write-back thresholds on a machine with a few GB free; with more, both runs
# below wait for the disk and measure its speed instead). Each picture run is compared with
# `cp -r` of the very directory it wrote (the same files, the same bytes, the same file system,
# the page cache warm for both): what creating that many files costs anyway. Both start after a
# sync, so neither waits on the other's write-back, and neither syncs within its time. The
# target for BMP is at most 1.5; PNG is bound by its compression.
# Usage: bench/convert.sh [BUILD_DIR]
#        (FRAMES=100000 IMAGE_FRAMES=10000 PICTURE_FRAMES=2000 WORK_DIR=/tmp)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
frames=${FRAMES:-100000}
image_frames=${IMAGE_FRAMES:-10000}
picture_frames=${PICTURE_FRAMES:-2000}
work=$(mktemp -d "${WORK_DIR:-${TMPDIR:-/tmp}}/convert_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$build/bin/make_recording" "$work/in.bds" "$frames"
head -c $((image_frames * 2128)) "$work/in.bds" >"$work/images.bds"
head -c $((picture_frames * 2128)) "$work/in.bds" >"$work/pictures.bds"

# Median wall and CPU time per frame of the frame path, in nanoseconds.
"$build/bin/bench_processing" --benchmark_filter='BM_LivePath_Interpolated' \
  2>/dev/null | sed 's/\x1b\[[0-9;]*m//g' >"$work/baseline.txt"
read -r base_wall base_cpu < <(awk '/LivePath_Interpolated.*_median/ {print $2, $4}' "$work/baseline.txt")
printf 'frame path alone (BM_LivePath_Interpolated, median of 9): %.1f us/frame wall, %.1f us CPU\n' \
  "$(echo "$base_wall / 1000" | bc -l)" "$(echo "$base_cpu / 1000" | bc -l)"
printf '%-28s %8s %8s %12s %14s %8s %14s %8s\n' conversion frames seconds frames/s \
  'us/frame wall' ratio 'us/frame CPU' ratio

measure() {  # command and its arguments; sets wall, user and sys in seconds
  /usr/bin/time -f '%e %U %S' -o "$work/time.txt" "$@"
  read -r wall user sys <"$work/time.txt"
}

row() {  # label, frame count; of the times in wall, user and sys
  local label=$1 count=$2 per_wall per_cpu
  per_wall=$(echo "$wall * 1000000 / $count" | bc -l)
  per_cpu=$(echo "($user + $sys) * 1000000 / $count" | bc -l)
  printf '%-28s %8d %8.2f %12.0f %14.1f %7.2fx %14.1f %7.2fx\n' "$label" "$count" "$wall" \
    "$(echo "$count / $wall" | bc -l)" "$per_wall" "$(echo "$per_wall * 1000 / $base_wall" | bc -l)" \
    "$per_cpu" "$(echo "$per_cpu * 1000 / $base_cpu" | bc -l)"
}

run() {  # label, frame count, arguments of thermal convert
  local label=$1 count=$2
  shift 2
  measure "$build/bin/thermal" convert "$@"
  row "$label" "$count"
}

run '.bds -> .txt' "$frames" "$work/in.bds" "$work/out.txt"
rm -f "$work/out.txt"
run '.bds -> .csv' "$frames" "$work/in.bds" "$work/out.csv"
rm -f "$work/out.csv"
csv_wall=$wall
run '.bds -> .tiff' "$frames" "$work/in.bds" "$work/out.tiff"
rm -f "$work/out.tiff"
tiff_wall=$wall
run '.bds -> .npy' "$frames" "$work/in.bds" "$work/out.npy"
rm -f "$work/out.npy"
npy_wall=$wall
# Picture runs, each followed by the copy of what it wrote, PICTURE_RUNS times (default 3; the
# fastest of each counts, as other work on the machine only ever adds time). Nothing is removed
# until the end: for a while after many files are deleted, ext4 passes over their inodes, one by
# one, whenever it creates a file, which would weigh on whichever run came next.
pictures() {  # label, directory name, extra arguments of thermal convert
  local label=$1 dir=$work/$2 best=() copy_wall='' i
  shift 2
  for ((i = 0; i < ${PICTURE_RUNS:-3}; ++i)); do
    sync
    measure "$build/bin/thermal" convert "$work/pictures.bds" --frames "$dir.$i" "$@"
    if [ ${#best[@]} -eq 0 ] || [ "$(echo "$wall < ${best[0]}" | bc)" = 1 ]; then
      best=("$wall" "$user" "$sys")
    fi
    sync
    measure cp -r "$dir.$i" "$dir.$i.copy"
    if [ -z "$copy_wall" ] || [ "$(echo "$wall < $copy_wall" | bc)" = 1 ]; then
      copy_wall=$wall
    fi
  done
  read -r wall user sys <<<"${best[*]}"
  row "$label" "$picture_frames"
  local ratio='too few files to time the copy'
  if [ "$(echo "$copy_wall > 0" | bc)" = 1 ]; then
    ratio=$(printf '%.2fx' "$(echo "$wall / $copy_wall" | bc -l)")
  fi
  copies+=("$(printf '%s: %.2f s, cp -r of its %d files %.2f s: %s' "$label" "$wall" \
    "$picture_frames" "$copy_wall" "$ratio")")
}
copies=()
pictures '.bds -> --frames (BMP)' bmp
pictures '.bds -> --frames --png' png --png
run '.bds -> .avi' "$image_frames" "$work/images.bds" "$work/out.avi"
printf 'against .csv (wall time; target at most 1): .tiff %.2fx (%.0f frames/s), .npy %.2fx (%.0f frames/s), .csv %.0f frames/s\n' \
  "$(echo "$tiff_wall / $csv_wall" | bc -l)" "$(echo "$frames / $tiff_wall" | bc -l)" \
  "$(echo "$npy_wall / $csv_wall" | bc -l)" "$(echo "$frames / $npy_wall" | bc -l)" \
  "$(echo "$frames / $csv_wall" | bc -l)"
printf 'pictures against copying the same files (wall time; target for BMP at most 1.5):\n'
printf '  %s\n' "${copies[@]}"
