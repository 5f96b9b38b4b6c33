#!/usr/bin/env bash
# Kill probe of `thermal convert`: for each output kind (.csv, .bds, .txt, .avi and --frames
# pictures), RUNS conversions (default 20) each killed with SIGKILL at a random moment between
# its start and a little past the time a whole conversion takes (the quickest of three runs
# measured first), so that no clean-up runs.
# Every other run starts with an earlier output of the same name in place. After each run it
# counts:
#   leftovers  runs that left a file (or directory entry) other than the outputs that were there
#              before: a temporary, a part;
#   damaged    runs whose earlier output is neither as it was nor the complete new output, or gone;
#   cut        picture runs that left a picture that is not whole.
# It prints one line per kind and exits 1 when any of these is not 0.
#
#   scripts/probe-convert-kill.sh [RUNS]         # the tool of build/ (or $BUILD_DIR)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-20}
thermal=${BUILD_DIR:-$here/build}/bin/thermal
[ -x "$thermal" ] || { echo "no $thermal: build first (scripts/build.sh)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/probe-convert-kill.XXXXXX")
trap 'rm -rf "$work"' EXIT
dir=$work/dir
mkdir "$dir"

# The input: 4000 binary records of a warm frame ("Mode=T", padding, a block of 2981 counts),
# the text stream of its first 2000 frames for the .bds output, and its first 500 frames for the
# pictures.
record=$work/record.bin
{ printf 'Mode=T'; head -c 10 /dev/zero
  for _ in $(seq 1056); do printf '\x0b\xa5'; done; } > "$record"
for _ in $(seq 12); do cat "$record" "$record" > "$record.2"; mv "$record.2" "$record"; done
head -c $((2128 * 4000)) "$record" > "$dir/in.bds"
head -c $((2128 * 2000)) "$record" > "$work/half.bds"
# Pictures are 290 KiB each: 500 of them.
head -c $((2128 * 500)) "$record" > "$dir/short.bds"
"$thermal" convert "$work/half.bds" "$dir/in.txt" 2>/dev/null
rm "$work/half.bds"

printf 'an earlier conversion' > "$work/earlier"
now_ms() { date +%s%3N; }

# The complete output of each kind, to tell a whole new output from a damaged one, and how
# long a whole conversion takes (the quickest of three, so that most kills land inside one).
declare -A reference_ms
for kind in csv bds txt avi pictures; do
  input=$dir/in.bds; [ "$kind" = bds ] && input=$dir/in.txt
  if [ "$kind" = pictures ]; then
    input=$dir/short.bds args=(--frames "$work/reference-pictures")
  else
    args=("$work/reference.$kind")
  fi
  for _ in 1 2 3; do
    rm -rf "$work/reference-pictures"
    start=$(now_ms)
    "$thermal" convert "$input" "${args[@]}" 2>/dev/null
    took=$(( $(now_ms) - start ))
    if [ -z "${reference_ms[$kind]:-}" ] || [ "$took" -lt "${reference_ms[$kind]}" ]; then
      reference_ms[$kind]=$took
    fi
  done
done
picture_bytes=$(stat -c %s "$work/reference-pictures/frame_000001.bmp")
rm -rf "$work/reference-pictures"

failed=0
printf '%-9s %5s %8s %6s %10s %10s %7s %8s %4s\n' kind runs "full ms" killed "completed" leftovers \
  damaged replaced cut
for kind in csv bds txt avi pictures; do
  input=$dir/in.bds; [ "$kind" = bds ] && input=$dir/in.txt
  if [ "$kind" = pictures ]; then input=$dir/short.bds out=$dir/pictures args=(--frames "$out")
  else out=$dir/out.$kind; args=("$out"); fi
  killed=0 completed=0 leftovers=0 damaged=0 replaced=0 cut=0
  limit=$(( reference_ms[$kind] * 11 / 10 + 1 ))
  for run in $(seq "$runs"); do
    earlier=0
    if [ "$kind" != pictures ] && [ $((run % 2)) -eq 0 ]; then
      earlier=1; cp "$work/earlier" "$out"
    fi
    before=$(ls -A "$dir" | sort)
    delay_ms=$(( (RANDOM * 32768 + RANDOM) % limit ))
    "$thermal" convert "$input" "${args[@]}" 2>/dev/null &
    pid=$!
    sleep "$(printf '%d.%03d' $((delay_ms / 1000)) $((delay_ms % 1000)))"
    kill -KILL "$pid" 2>/dev/null || true
    # (braces: the shell's own "Killed" line goes to /dev/null too)
    status=0; { wait "$pid"; } 2>/dev/null || status=$?
    if [ "$status" -eq 137 ]; then killed=$((killed + 1)); else completed=$((completed + 1)); fi
    after=$(ls -A "$dir" | sort)
    extra=$(comm -13 <(printf '%s\n' "$before") <(printf '%s\n' "$after") |
            grep -vx "$(basename "$out")" || true)
    if [ -n "$extra" ]; then
      leftovers=$((leftovers + 1))
      echo "  $kind run $run (killed after ${delay_ms} ms) left: $(echo "$extra" | tr '\n' ' ')" >&2
    fi
    if [ "$earlier" = 1 ]; then
      if [ ! -f "$out" ]; then
        damaged=$((damaged + 1))
      elif cmp -s "$out" "$work/earlier"; then
        :
      elif cmp -s "$out" "$work/reference.$kind"; then
        replaced=$((replaced + 1))
      else
        damaged=$((damaged + 1))
        echo "  $kind run $run (killed after ${delay_ms} ms): earlier output damaged" >&2
      fi
    fi
    if [ "$kind" = pictures ] && [ -d "$out" ]; then
      for picture in "$out"/*; do
        [ -e "$picture" ] || continue
        case $(basename "$picture") in
          frame_??????.bmp) [ "$(stat -c %s "$picture")" = "$picture_bytes" ] || cut=$((cut + 1)) ;;
          *) leftovers=$((leftovers + 1))
             echo "  pictures run $run left: $(basename "$picture")" >&2 ;;
        esac
      done
    fi
    # Whatever the run left goes, so that the next starts from the same directory.
    rm -rf "$out"
    comm -13 <(printf '%s\n' "$before") <(ls -A "$dir" | sort) | while read -r name; do
      [ -n "$name" ] && rm -rf "${dir:?}/$name"
    done
  done
  printf '%-9s %5d %8d %6d %10d %10d %7d %8d %4d\n' "$kind" "$runs" "${reference_ms[$kind]}" \
    "$killed" "$completed" "$leftovers" "$damaged" "$replaced" "$cut"
  [ $((leftovers + damaged + cut)) -eq 0 ] || failed=1
done
exit "$failed"
