#!/usr/bin/env bash
# The broker probes of docs/reliability.md, on a Mosquitto of its own (persistence on, as Debian
# sets it up, and max_queued_messages 20000) with `thermal publish --qos 1` of
# `thermal sim --fps 100`:
#   restart  `thermal record` and `thermal stream` run while the broker is stopped with SIGTERM
#            (which sends the publisher's last will) and started again on the same port; prints
#            what each had before the restart and at its end, and their last lines.
#   pause    `thermal record` is stopped (SIGSTOP) for PAUSE seconds; its file is compared frame
#            by frame with a capture of PREFIX/frame by mosquitto_sub, which is never paused, and
#            the broker's count of sessions it keeps for absent clients is read once it has ended.
#
#   scripts/probe-broker.sh [PAUSE]        # default 30 s; uses build/ (or BUILD_DIR)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bin=${BUILD_DIR:-$here/build}/bin
pause=${1:-30}
work=$(mktemp -d)
port=$((20000 + RANDOM % 20000))
address=mqtt://127.0.0.1:$port/probe/cam1
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT

cat >"$work/mosquitto.conf" <<EOF
listener $port 127.0.0.1
allow_anonymous true
persistence true
persistence_location $work/
# What a recorder misses while away waits for it: 100 frames a second for over three minutes.
max_queued_messages 20000
set_tcp_nodelay true
sys_interval 1
user $(id -un)
EOF

broker() {
  /usr/sbin/mosquitto -c "$work/mosquitto.conf" >>"$work/mosquitto.log" 2>&1 &
  broker_pid=$!
  pids+=("$broker_pid")
  sleep 0.5
}
frames() { echo $(($(stat -c %s "$1" 2>/dev/null || echo 0) / 2128)); }
lines() { wc -l <"$1"; }

broker
"$bin/thermal" sim --fps 100 --link "$work/tty" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e "$work/tty" ] && break; sleep 0.1; done
"$bin/thermal" publish --port "$work/tty" --broker "mqtt://127.0.0.1:$port" --topic probe/cam1 \
  --qos 1 2>"$work/publish.err" &
publisher=$!
pids+=("$publisher")
sleep 1

echo "== restart: SIGTERM to the broker 5 s into a 20 s recording and stream, started again 2 s later"
"$bin/thermal" record --port "$address" "$work/restart.bds" --duration 20 2>"$work/record.err" &
recorder=$!
"$bin/thermal" stream --port "$address" --duration 20 >"$work/stream.ndjson" 2>"$work/stream.err" &
streamer=$!
pids+=("$recorder" "$streamer")
sleep 5
kill -TERM "$broker_pid"
wait "$broker_pid" || true
echo "before the restart: recorded $(frames "$work/restart.bds"), streamed $(lines "$work/stream.ndjson")"
sleep 2
broker
wait "$recorder" && echo "record: status 0" || echo "record: status $?"
wait "$streamer" && echo "stream: status 0" || echo "stream: status $?"
echo "at the end: recorded $(frames "$work/restart.bds"), streamed $(lines "$work/stream.ndjson")"
sed 's/^/  /' "$work/record.err" "$work/stream.err"

echo "== pause: the recorder stopped for $pause s in a $((pause + 15)) s recording"
mosquitto_sub -p "$port" -t probe/cam1/frame -q 1 -N >"$work/capture.bds" &
capture=$!
pids+=("$capture")
sleep 1
"$bin/thermal" record --port "$address" "$work/paused.bds" --duration $((pause + 15)) \
  --client-id probe-recorder 2>"$work/paused.err" &
recorder=$!
pids+=("$recorder")
sleep 5
kill -STOP "$recorder"
sleep "$pause"
kill -CONT "$recorder"
wait "$recorder" && echo "record: status 0" || echo "record: status $?"
sleep 1
kill "$capture"
sed 's/^/  /' "$work/paused.err"
python3 - "$work/paused.bds" "$work/capture.bds" <<'EOF'
import sys
size = 2128
recorded, captured = (open(name, "rb").read() for name in sys.argv[1:3])
frames = [recorded[i:i + size] for i in range(0, len(recorded), size)]
published = [captured[i:i + size] for i in range(0, len(captured), size)]
start = published.index(frames[0])
span = published[start:published.index(frames[-1], start) + 1]
print(f"recorded {len(frames)} frames; the capture holds {len(span)} from the first to the last "
      f"of them; missing {len(set(span) - set(frames))}, out of order or doubled "
      f"{sum(a != b for a, b in zip(frames, span)) if len(frames) == len(span) else 'n/a'}")
EOF
sleep 2
echo "sessions the broker keeps for absent clients after the recorder's end:" \
  "$(mosquitto_sub -p "$port" -t "\$SYS/broker/clients/disconnected" -C 1 -W 5 || echo none)"
kill -TERM "$publisher"
wait "$publisher" || true
sed 's/^/  /' "$work/publish.err"
