#!/usr/bin/env bash
# Soak: the viewer against `thermal sim --fps 100` on a pseudo-terminal for SECONDS (default 60),
# with stray bytes before 5 % of the frames, bytes lost inside 5 % of them and the stream written
# in odd sizes, recording a binary stream the whole time. The module is unplugged three times
# (at 35 %, 60 % and 85 % of the run); each time the driver presses START once the module is back.
# Palette, stacks, unit, mirroring and interpolation change every 3 seconds.
#
# It passes when: neither program crashes; no sanitizer reports anything; the viewer's resident
# memory (on the sanitizer build: its heap in use) grows by at most 2 MiB from the end of the
# warm-up (20 % of the run, at least 10 s) to the end; the GUI thread never stalls for more than
# 100 ms (not counting time it waited for a CPU); every recorded file holds whole records
# only, each with the frame marker, and together exactly the frames processed; and every frame
# the simulator sent is accounted for:
#   sent = processed + replaced + discarded + in flight
# processed: shown and recorded; replaced: dropped for a newer frame when the processing fell
# behind; discarded: its marker reached the viewer but the frame was never reported (lost to a
# re-synchronisation, or left unfinished when the line went down); in flight: its marker never
# reached the viewer, because the simulator broke it on purpose, or it was still in the
# simulator's output or unread in the terminal when the line went down or the simulator stopped.
# Whatever is left over is "lost", and must be 0.
#
# BUILD_DIR picks the build (default build/; build-asan/ for the sanitizer build, which must
# exist). Usage: scripts/soak.sh [SECONDS]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
case "$seconds" in
  '' | *[!0-9]*) echo "usage: scripts/soak.sh [SECONDS]  (a whole number, at least 20)" >&2; exit 2 ;;
esac
if [ "$seconds" -lt 20 ]; then
  echo "soak: a run needs at least 20 seconds" >&2
  exit 2
fi
build=${BUILD_DIR:-$here/build}
case "$build" in /*) ;; *) build=$here/$build ;; esac
for program in thermal soak_driver; do
  if [ ! -x "$build/bin/$program" ]; then
    echo "soak: $build/bin/$program is missing: build first (scripts/build.sh)" >&2
    exit 2
  fi
done

# The sanitizer build: report and go on, so that one run shows everything; the quarantine of
# freed memory stays small, or its growth would hide ours.
if grep -q '^THERMAL_SANITIZE:STRING=address' "$build/CMakeCache.txt" 2>/dev/null; then
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:quarantine_size_mb=16:thread_local_quarantine_size_kb=256}
  export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$here/tests/lsan.supp:print_suppressions=0}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
fi

work=$(mktemp -d)
sim_pid=""
driver_pid=""
cleanup() {
  [ -n "$driver_pid" ] && kill -KILL "$driver_pid" 2>/dev/null || true
  [ -n "$sim_pid" ] && kill -KILL "$sim_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$build/bin/thermal" sim --fps 100 --garbage-rate 0.05 --drop-rate 0.05 --chunking --quiet \
  --link "$work/tty" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 100); do
  [ -L "$work/tty" ] && break
  sleep 0.1
done
if [ ! -L "$work/tty" ]; then
  echo "soak: FAIL: thermal sim did not come up"; cat "$work/sim.err"; exit 1
fi

QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='qt.qpa.*=false' "$build/bin/soak_driver" \
  --port "$work/tty" --record "$work/rec.bds" >"$work/driver.out" 2>"$work/driver.err" &
driver_pid=$!

rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status" 2>/dev/null || echo 0; }
warmup=$((seconds / 5 > 10 ? seconds / 5 : 10))
unplug_at=" $((seconds * 35 / 100)) $((seconds * 60 / 100)) $((seconds * 85 / 100)) "
rss_start=0
rss_peak=0
failures=()
for ((t = 1; t <= seconds; t++)); do
  sleep 1
  if ! kill -0 "$driver_pid" 2>/dev/null; then failures+=("the viewer ended after ${t} s"); break; fi
  if ! kill -0 "$sim_pid" 2>/dev/null; then failures+=("thermal sim ended after ${t} s"); break; fi
  rss=$(rss_kib "$driver_pid")
  if [ "$t" -eq "$warmup" ]; then
    rss_start=$rss
    kill -USR1 "$driver_pid"  # the driver notes its heap in use
  fi
  [ "$t" -ge "$warmup" ] && [ "$rss" -gt "$rss_peak" ] && rss_peak=$rss
  case "$unplug_at" in *" $t "*) kill -USR1 "$sim_pid" ;; esac
done
rss_end=$(rss_kib "$driver_pid")

# The simulator stops first (what it has not delivered counts as in flight), then the viewer
# handles what it received and prints its counts.
kill -INT "$sim_pid" 2>/dev/null || true
sim_status=0
wait "$sim_pid" || sim_status=$?
sim_pid=""
kill -TERM "$driver_pid" 2>/dev/null || true
driver_status=0
for _ in $(seq 600); do
  kill -0 "$driver_pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$driver_pid" 2>/dev/null; then
  failures+=("the viewer did not end within 60 s of SIGTERM")
  kill -KILL "$driver_pid"
fi
wait "$driver_pid" || driver_status=$?
driver_pid=""
[ "$sim_status" -eq 0 ] || failures+=("thermal sim exited with status $sim_status")
[ "$driver_status" -eq 0 ] || failures+=("the viewer exited with status $driver_status")

if grep -E 'ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:|WARNING: ThreadSanitizer' \
  "$work/driver.err" "$work/sim.err" >/dev/null; then
  failures+=("sanitizer report (below)")
  grep -E -A30 'ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:|WARNING: ThreadSanitizer' \
    "$work/driver.err" "$work/sim.err" | head -120
fi

value() {  # file, line prefix, key
  sed -n "s/^$2.* $3=\([0-9.]*\).*/\1/p" "$1" | tail -n 1
}
sent=$(value "$work/sim.err" "thermal sim: frames" sent)
broken=$(value "$work/sim.err" "thermal sim: frames" broken)
cut=$(value "$work/sim.err" "thermal sim: frames" cut)
damaged=$(value "$work/sim.err" "thermal sim: frames" damaged)
garbled=$(value "$work/sim.err" "thermal sim: frames" garbled)
unplugged=$(value "$work/sim.err" "thermal sim: frames" disconnections)
starts=$(value "$work/driver.out" "soak:" starts)
seen=$(value "$work/driver.out" "soak: collector" markers_seen)
reported=$(value "$work/driver.out" "soak: collector" reported)
discarded=$(value "$work/driver.out" "soak: collector" discarded)
queued=$(value "$work/driver.out" "soak: pipeline" queued)
processed=$(value "$work/driver.out" "soak: pipeline" processed)
replaced=$(value "$work/driver.out" "soak: pipeline" replaced)
rejected=$(value "$work/driver.out" "soak: pipeline" rejected)
waiting=$(value "$work/driver.out" "soak: pipeline" waiting)
gui_worst=$(value "$work/driver.out" "soak: gui_lateness" worst_ms)
gui_at=$(value "$work/driver.out" "soak: gui_lateness" at_s)
gui_over=$(value "$work/driver.out" "soak: gui_lateness" over_50ms)
gui_cpu=$(value "$work/driver.out" "soak: gui_lateness" cpu_ms)
gui_wait=$(value "$work/driver.out" "soak: gui_lateness" cpu_wait_ms)
gui_own=$(value "$work/driver.out" "soak: gui_lateness" own_worst_ms)
gui_own_at=$(value "$work/driver.out" "soak: gui_lateness" own_at_s)
sched_stats=$(value "$work/driver.out" "soak: gui_lateness" sched_stats)
ref_worst=$(value "$work/driver.out" "soak: reference_lateness" worst_ms)
ref_wait=$(value "$work/driver.out" "soak: reference_lateness" cpu_wait_ms)
ref_over=$(value "$work/driver.out" "soak: reference_lateness" over_50ms)
heap_start=$(value "$work/driver.out" "soak: heap_kib" at_mark)
heap_end=$(value "$work/driver.out" "soak: heap_kib" end)
sanitizer=$(value "$work/driver.out" "soak: heap_kib" sanitizer)
longest_start=$(value "$work/driver.out" "soak:" longest_start_ms)
longest_settings=$(value "$work/driver.out" "soak:" longest_settings_change_ms)

if [ -z "$sent" ] || [ -z "$processed" ] || [ -z "$gui_worst" ]; then
  failures+=("figures missing from the programs' output (below)")
  cat "$work/sim.err" "$work/driver.out" "$work/driver.err" | tail -40
  sent=${sent:-0} broken=${broken:-0} cut=${cut:-0} damaged=${damaged:-0} garbled=${garbled:-0}
  unplugged=${unplugged:-0} starts=${starts:-0} seen=${seen:-0} reported=${reported:-0}
  discarded=${discarded:-0} queued=${queued:-0} processed=${processed:-0} replaced=${replaced:-0}
  rejected=${rejected:-0} waiting=${waiting:-0} gui_worst=${gui_worst:-0} gui_at=${gui_at:-0}
  gui_over=${gui_over:-0} ref_worst=${ref_worst:-0} ref_over=${ref_over:-0} gui_cpu=${gui_cpu:-0}
  gui_wait=${gui_wait:-0} gui_own=${gui_own:-0} gui_own_at=${gui_own_at:-0}
  sched_stats=${sched_stats:-0} ref_wait=${ref_wait:-0} longest_start=${longest_start:-0}
  longest_settings=${longest_settings:-0} heap_start=${heap_start:-0} heap_end=${heap_end:-0}
  sanitizer=${sanitizer:-0}
fi

# The recording: every part whole, records only, each with the marker; together the frames
# processed.
recorded=0
parts=0
for file in "$work"/rec*.bds; do
  [ -e "$file" ] || continue
  parts=$((parts + 1))
  if ! "$build/bin/thermal" info "$file" >"$work/info.out" 2>&1; then
    failures+=("$(basename "$file") is not clean")
    cat "$work/info.out"
  fi
  size=$(stat -c %s "$file")
  [ $((size % 2128)) -eq 0 ] || failures+=("$(basename "$file") ends in a partial record")
  # Every record: "Mode=T" and 10 zero bytes, then the block with its marker at 2048.
  bad=$(od -A n -v -t x1 -w2128 "$file" | awk '{
      if ($1 != "4d" || $2 != "6f" || $3 != "64" || $4 != "65" || $5 != "3d" ||
          $2065 != "9a" || $2066 != "78" || $2067 != "de" || $2068 != "bc") bad++
    } END { print bad + 0 }')
  [ "$bad" -eq 0 ] || failures+=("$(basename "$file"): $bad records without header or marker")
  recorded=$((recorded + size / 2128))
done
[ "$recorded" -eq "$processed" ] ||
  failures+=("the recording holds $recorded frames, the viewer processed $processed")

in_flight=$((broken + cut))
lost=$((sent - processed - replaced - discarded - rejected - waiting - in_flight))
[ "$lost" -eq 0 ] || failures+=("$lost frames lost")
[ "$reported" -eq "$queued" ] ||
  failures+=("the collectors reported $reported frames, the pipeline got $queued")
[ "$unplugged" -eq 3 ] || failures+=("the module was unplugged $unplugged times, not 3")
[ "$starts" -eq $((unplugged + 1)) ] ||
  failures+=("START was pressed $starts times for $unplugged unpluggings")
growth=$((rss_end - rss_start))
heap_growth=$((heap_end - heap_start))
# Under AddressSanitizer the resident size also holds the sanitizer's quarantine of freed blocks,
# its record of every allocating call stack and a cache per thread (each START makes a new
# monitor thread), which grow by themselves: there the program's own heap, as the sanitizer's
# allocator counts it, is what must not grow (LeakSanitizer checks the exit as well).
if [ "$sanitizer" -eq 1 ]; then
  [ "$heap_growth" -le 2048 ] ||
    failures+=("the heap in use grew by $heap_growth KiB after the warm-up")
else
  [ "$growth" -le 2048 ] || failures+=("resident memory grew by $growth KiB after the warm-up")
fi
# The GUI thread's stall is its lateness less the time it was ready to run but waited for a CPU
# (the kernel's scheduler statistics): on a machine loaded by other work the raw lateness measures
# that load, not this program. Both figures are printed; without the statistics the raw one
# counts.
if [ "$sched_stats" -eq 1 ]; then
  awk -v w="$gui_own" 'BEGIN { exit !(w <= 100) }' ||
    failures+=("the GUI thread stalled for $gui_own ms (not counting time waiting for a CPU)")
else
  awk -v w="$gui_worst" 'BEGIN { exit !(w <= 100) }' ||
    failures+=("the GUI thread was $gui_worst ms late")
fi

percent() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b > 0 ? 100 * a / b : 0) }'; }
echo "soak: $seconds s against thermal sim --fps 100 (5 % garbage, 5 % drops, chunking), build $build"
echo "soak: frames sent $sent / processed $processed / replaced $replaced / discarded $discarded" \
  "/ in flight $in_flight / lost $lost"
echo "soak:   in flight: $broken broken on purpose (marker lost), $cut cut by $unplugged unpluggings and the stop"
echo "soak:   discarded by re-synchronisation: $(percent "$discarded" "$sent") % of the frames sent" \
  "($damaged damaged and $garbled preceded by garbage on purpose); rejected $rejected, waiting $waiting"
echo "soak:   collectors saw $seen markers and reported $reported frames; the pipeline got $queued"
echo "soak: recording: $parts file(s), $recorded records, all whole with the marker"
echo "soak: resident memory: $rss_start KiB after the ${warmup} s warm-up, $rss_end KiB at the end" \
  "(growth $growth KiB, peak $rss_peak KiB)"
echo "soak: heap in use: $heap_start KiB after the warm-up, $heap_end KiB at the end (growth" \
  "$heap_growth KiB; $([ "$sanitizer" -eq 1 ] && echo "the sanitizer's count, checked" ||
    echo "glibc's count, for information"))"
echo "soak: GUI thread stalled at most $gui_own ms by its own work, locks or sleeps (at $gui_own_at s)"
echo "soak:   at most $gui_worst ms late in all (at $gui_at s: $gui_cpu ms on a CPU, $gui_wait ms" \
  "waiting for one; $gui_over ticks over 50 ms); a sleeping reference thread at most" \
  "$ref_worst ms ($ref_wait ms waiting for a CPU; $ref_over over 50 ms)"
echo "soak:   longest START $longest_start ms (it keeps the window responsive while it waits)," \
  "longest settings change $longest_settings ms"
echo "soak:   load average at the end: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) CPUs"
echo "soak: START pressed $starts times"
if [ "${#failures[@]}" -gt 0 ]; then
  for failure in "${failures[@]}"; do echo "soak: FAIL: $failure"; done
  if [ -s "$work/driver.err" ]; then
    echo "soak: the viewer's messages (last 20 lines):"
    tail -n 20 "$work/driver.err"
  fi
  exit 1
fi
echo "soak: PASS"
