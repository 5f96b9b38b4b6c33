#!/usr/bin/env bash
# Reruns three probe cases against the `thermal` tool of BIN (default build/bin, or BUILD_DIR):
#   1. `thermal stream` into a FIFO whose reader never reads, then SIGTERM: how long it takes to
#      end and whether the simulated module received its stop ('T' and 'x');
#   2. `thermal publish --password-file /dev/zero`: peak memory (under a 4 GB address-space limit);
#   3. `thermal record` of a module on a local Mosquitto broker while N bad frame payloads of two
#      alternating kinds and N/10 bad statuses of two alternating kinds arrive: lines on standard
#      error;
#   4. `thermal publish --allow-commands --duration 10` of the simulated module at its real rate
#      while N 'M' commands arrive on PREFIX/command: commands that reached the module, frames
#      published, lines on standard error.
#
#   scripts/probe-broker-faults.sh [BIN] [N]     # N default 50000
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-${BUILD_DIR:-$here/build}/bin}
flood=${2:-50000}
tool=$bin/thermal
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

alive() { kill -0 "$1" 2>/dev/null; }
milliseconds() { echo $(($(date +%s%N) / 1000000)); }

echo "== 1. stream into a FIFO nobody reads, then SIGTERM"
"$tool" sim --fps 100 >"$work/sim.out" 2>/dev/null &
sim=$!
pids+=("$sim")
for _ in $(seq 50); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
pty=$(head -n 1 "$work/sim.out")
mkfifo "$work/fifo"
# A reader that opens the FIFO and never reads from it.
# shellcheck disable=SC2217
sleep 300 <"$work/fifo" &
pids+=("$!")
"$tool" stream --port "$pty" >"$work/fifo" 2>"$work/stream.err" &
stream=$!
pids+=("$stream")
sleep 2
start=$(milliseconds)
kill -TERM "$stream"
for _ in $(seq 500); do alive "$stream" || break; sleep 0.01; done
if alive "$stream"; then
  echo "still running 5 s after SIGTERM; killed"
  kill -KILL "$stream"
else
  echo "ended $(($(milliseconds) - start)) ms after SIGTERM"
fi
wait "$stream" 2>/dev/null || true
sed 's/^/  stderr: /' "$work/stream.err"
echo "module received: $(sed -n 's/^received 0x.. .\(.\).$/\1/p' "$work/sim.out" | tr -d '\n')"
kill -INT "$sim"
wait "$sim" 2>/dev/null || true

echo "== 2. publish --password-file /dev/zero"
(
  ulimit -v 4000000
  /usr/bin/time -f "peak resident memory: %M KiB, %e s, status %x" "$tool" publish \
    --port /dev/null --broker mqtt://127.0.0.1:1 --topic a --user u --password-file /dev/zero
) 2>&1 | sed 's/^/  /' || true

echo "== 3. record while $flood bad payloads and $((flood / 10)) bad statuses alternate"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\nuser %s\n' \
  "$port" "$(id -un)" >"$work/mosquitto.conf"
/usr/sbin/mosquitto -c "$work/mosquitto.conf" >/dev/null 2>&1 &
pids+=("$!")
sleep 0.5
"$tool" sim --fps 50 >"$work/sim2.out" 2>/dev/null &
sim=$!
pids+=("$sim")
for _ in $(seq 50); do [ -s "$work/sim2.out" ] && break; sleep 0.1; done
"$tool" publish --port "$(head -n 1 "$work/sim2.out")" --broker "mqtt://127.0.0.1:$port" \
  --topic probe >/dev/null 2>&1 &
publisher=$!
pids+=("$publisher")
sleep 1
"$tool" record --port "mqtt://127.0.0.1:$port/probe" "$work/rec.bds" --duration 30 \
  2>"$work/record.err" &
recorder=$!
pids+=("$recorder")
sleep 2
python3 - "$flood" >"$work/payloads" <<'EOF'
import sys
n = int(sys.argv[1])
for i in range(n):
    print("x" if i % 2 else "Z" * 2128)  # a wrong size, then an unknown mode
EOF
python3 - "$((flood / 10))" >"$work/statuses" <<'EOF'
import sys
for i in range(int(sys.argv[1])):
    print('{bad' if i % 2 else '{"state":"weird\u202e"}')
EOF
start=$(milliseconds)
mosquitto_pub -p "$port" -t probe/frame -l <"$work/payloads"
mosquitto_pub -p "$port" -t probe/status -l <"$work/statuses"
echo "published in $(($(milliseconds) - start)) ms"
sleep 1
kill -TERM "$recorder"
wait "$recorder" 2>/dev/null || true
kill -TERM "$publisher"
wait "$publisher" 2>/dev/null || true
echo "lines on the recorder's standard error: $(wc -l <"$work/record.err")"
head -n 12 "$work/record.err" | cut -c 1-160 | sed 's/^/  /'
echo "  ..."
tail -n 3 "$work/record.err" | cut -c 1-200 | sed 's/^/  /'

echo "== 4. publish --allow-commands while $flood commands arrive"
"$tool" sim >"$work/sim3.out" 2>/dev/null &
sim=$!
pids+=("$sim")
for _ in $(seq 50); do [ -s "$work/sim3.out" ] && break; sleep 0.1; done
"$tool" publish --port "$(head -n 1 "$work/sim3.out")" --broker "mqtt://127.0.0.1:$port" \
  --topic cmd --allow-commands --duration 10 2>"$work/publish.err" &
publisher=$!
pids+=("$publisher")
sleep 2
python3 -c "print(\"M\\n\" * $flood, end=\"\")" | mosquitto_pub -p "$port" -t cmd/command -l
wait "$publisher" || true
kill -INT "$sim"
wait "$sim" 2>/dev/null || true
echo "commands that reached the module: $(grep -c "^received 0x4D 'M'" "$work/sim3.out") (one is START's)"
echo "lines on the publisher's standard error: $(wc -l <"$work/publish.err")"
cut -c 1-160 "$work/publish.err" | sed 's/^/  /' | tail -n 4
