#!/usr/bin/env bash
# Many modules on one broker: ten simulated modules at 100 frames a second, each with its own
# `thermal publish`, into one local Mosquitto; on the first module a viewer (offscreen) and a
# recorder (`thermal record` into a .bds) subscribed. Run once at QoS 0 and once at QoS 1:
# frames the first publisher published against frames the recorder wrote and the viewer
# processed (painted, or passed over for a newer one), all publishers' frames published and dropped, and the CPU of the publishers
# (together, and per module) and of the broker over the run.
# Usage: bench/broker_fanout.sh [BUILD_DIR]   (SECONDS=N sets the run's length, default 20)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
bin=$build/bin
seconds=${SECONDS_PER_RUN:-20}
modules=10
ticks=$(getconf CLK_TCK)
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

port=$(free_port)
cat >"$work/mosquitto.conf" <<EOF
listener $port 127.0.0.1
allow_anonymous true
persistence false
set_tcp_nodelay true
max_queued_messages 10000
user $(id -un)
EOF
/usr/sbin/mosquitto -c "$work/mosquitto.conf" >"$work/mosquitto.log" 2>&1 &
broker=$!
sleep 1
url=mqtt://127.0.0.1:$port

run() {  # QoS
  local qos=$1 i
  local sims=() publishers=()
  for i in $(seq 1 $modules); do
    "$bin/thermal" sim --fps 100 --quiet --seed "$i" --link "$work/tty$i" >/dev/null 2>&1 &
    sims+=($!)
  done
  sleep 1
  # The subscribers first, so that they have every frame of the first module: the viewer, then
  # the recorder, which waits 3 s for its first frame (the publishers' handshakes take about 1 s).
  QT_QPA_PLATFORM=offscreen "$bin/thermal-viewer" --port "$url/plant/m1" --start --stats \
    >"$work/viewer.out" 2>/dev/null &
  local viewer=$!
  sleep 3
  "$bin/thermal" record --port "$url/plant/m1" "$work/m1-qos$qos.bds" --overwrite \
    --duration $((seconds + 4)) 2>"$work/record.err" &
  local recorder=$!
  sleep 0.5
  for i in $(seq 1 $modules); do
    "$bin/thermal" publish --port "$work/tty$i" --broker "$url" --topic "plant/m$i" --qos "$qos" \
      --duration "$seconds" 2>"$work/publish$i.err" &
    publishers+=($!)
  done
  sleep 3  # start-up and handshakes
  local t0 c0=0 b0 t1 c1=0 b1 p
  t0=$(date +%s%N)
  for p in "${publishers[@]}"; do c0=$((c0 + $(cpu_ticks "$p"))); done
  b0=$(cpu_ticks "$broker")
  sleep $((seconds - 5))
  for p in "${publishers[@]}"; do c1=$((c1 + $(cpu_ticks "$p"))); done
  b1=$(cpu_ticks "$broker")
  t1=$(date +%s%N)
  for p in "${publishers[@]}"; do wait "$p" || true; done
  sleep 1
  kill -TERM "$viewer" 2>/dev/null || true
  wait "$viewer" || true
  kill -TERM "$recorder" 2>/dev/null || true
  wait "$recorder" || true
  kill "${sims[@]}" 2>/dev/null || true
  wait "${sims[@]}" 2>/dev/null || true

  local elapsed published_first recorded shown published_all dropped_all
  elapsed=$(echo "($t1 - $t0) / 1000000000" | bc -l)
  # The publishers' summary lines: "... N frames published, M dropped ...".
  published_first=$(grep -o '[0-9]* frames published' "$work/publish1.err" | grep -o '^[0-9]*' || echo 0)
  published_all=$(cat "$work"/publish*.err | { grep -o '[0-9]* frames published' || true; } |
    awk '{s += $1} END {print s + 0}')
  dropped_all=$(cat "$work"/publish*.err | { grep -o '[0-9]* dropped' || true; } |
    awk '{s += $1} END {print s + 0}')
  recorded=$(($(stat -c %s "$work/m1-qos$qos.bds" 2>/dev/null || echo 0) / 2128))
  # The viewer's --stats summary: frames painted, and those whose painting a newer frame took over.
  shown=$(awk '/^latency_summary/ {split($2, f, "="); split($3, s, "="); print f[2] + s[2]}' \
    "$work/viewer.out")
  printf 'QoS %s: module 1 published %6s, recorded %6s, viewer shown or passed over %6s | all %d modules published %7s, dropped %s | publishers cpu %5.1f %% (%4.1f %% each), broker cpu %5.1f %%\n' \
    "$qos" "$published_first" "$recorded" "$shown" "$modules" "$published_all" "$dropped_all" \
    "$(echo "($c1 - $c0) / $ticks / $elapsed * 100" | bc -l)" \
    "$(echo "($c1 - $c0) / $ticks / $elapsed * 100 / $modules" | bc -l)" \
    "$(echo "($b1 - $b0) / $ticks / $elapsed * 100" | bc -l)"
}

run 0
run 1
