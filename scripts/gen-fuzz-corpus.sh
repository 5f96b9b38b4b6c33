#!/usr/bin/env bash
# Regenerates the seed corpora of the fuzz harnesses (fuzz/corpus/<name>/) with our own tools:
# the simulated module's line (captured from its pseudo-terminal, clean and with garbage and
# drops), short recordings from `thermal record` in each format, and the optional files beside
# the program. Seeds are kept small (a few KiB each). Inputs the fuzzers found that once failed
# (fuzz/corpus/<name>/regress-*) are left alone.
# Usage: scripts/gen-fuzz-corpus.sh [BIN_DIR]   (default build/bin, which must hold `thermal`)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$here/build/bin}
thermal=$bin/thermal
[ -x "$thermal" ] || { echo "gen-fuzz-corpus: no $thermal; build first" >&2; exit 2; }
corpus=$here/fuzz/corpus
work=$(mktemp -d)
sims=()
cleanup() {
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# Starts a simulated module with the given options; sets $port to its device.
start_sim() {
  local out=$work/sim$RANDOM
  "$thermal" sim --quiet --fps 50 "$@" >"$out" 2>/dev/null &
  sims+=($!)
  for _ in $(seq 100); do
    port=$(head -n1 "$out" 2>/dev/null || true)
    [ -n "$port" ] && return 0
    sleep 0.05
  done
  echo "gen-fuzz-corpus: thermal sim did not start" >&2
  exit 1
}

# Sends command letters to the module at $1 and keeps what comes back for $3 seconds in $2.
capture() {
  python3 - "$@" <<'PY'
import os, sys, termios, time, tty
port, out, seconds, letters = sys.argv[1], sys.argv[2], float(sys.argv[3]), sys.argv[4]
fd = os.open(port, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
tty.setraw(fd)
data = bytearray()
for letter in letters:
    os.write(fd, letter.encode())
    end = time.time() + seconds
    while time.time() < end:
        try:
            data += os.read(fd, 65536)
        except BlockingIOError:
            time.sleep(0.01)
open(out, "wb").write(bytes(data))
PY
}

start_sim --seed 1
capture "$port" "$work/info.raw" 0.3 xM
capture "$port" "$work/table.raw" 1.0 w
capture "$port" "$work/clean.raw" 0.3 K
"$thermal" record --port "$port" "$work/rec.bds" --frames 2 >/dev/null 2>&1
"$thermal" record --port "$port" "$work/rec_v.bds" --frames 2 --voltage >/dev/null 2>&1
"$thermal" record --port "$port" "$work/rec_k.txt" --frames 2 --unit K >/dev/null 2>&1
"$thermal" record --port "$port" "$work/rec_v.txt" --frames 1 --voltage >/dev/null 2>&1
"$thermal" record --port "$port" "$work/rec_f.txt" --frames 1 --unit F >/dev/null 2>&1
"$thermal" record --port "$port" "$work/rec.avi" --frames 3 >/dev/null 2>&1
start_sim --seed 2 --garbage-rate 0.5 --drop-rate 0.3 --chunking
capture "$port" "$work/faulty.raw" 0.4 K

python3 - "$work" "$corpus" "$here/scripts" <<'PY'
import os, struct, sys
work, corpus = sys.argv[1], sys.argv[2]
sys.path.insert(0, sys.argv[3])
import crafted_avi  # scripts/crafted_avi.py

def read(name):
    return open(os.path.join(work, name), "rb").read()

def put(harness, name, data):
    folder = os.path.join(corpus, harness)
    os.makedirs(folder, exist_ok=True)
    for old in os.listdir(folder):
        if old.startswith("seed-" + name.split(".")[0] + "."):
            os.remove(os.path.join(folder, old))
    open(os.path.join(folder, "seed-" + name), "wb").write(data)

BLOCK, RECORD = 2112, 2128
LETTERS = b"KktcCwxMaAbfJlmoOVXyYTq"

# reply_collector: the line first, then (read from the end) the letter, the number of older
# commands, the number of chunk sizes and the sizes themselves (two bytes each).
def collector(stream, letter, sizes):
    tail = b"".join(struct.pack(">H", s - 1) for s in reversed(sizes))
    return stream + tail + bytes([len(sizes) - 1, 0, LETTERS.index(letter)])

clean = read("clean.raw")[: 3 * BLOCK + 700]
put("reply_collector", "frames.bin", collector(clean, b"K", [1024]))
put("reply_collector", "frames_offset.bin", collector(clean[100:], b"t", [7, 2047, 300]))
put("reply_collector", "faulty.bin", collector(read("faulty.raw")[:4 * BLOCK], b"K", [513, 64]))
info = read("info.raw")
put("reply_collector", "info.bin", collector(info, b"M", [5, 40]))
put("reply_collector", "x.bin", collector(info, b"x", [1]))
table = read("table.raw")
lines = table.split(b"\n")
short_table = b"\n".join(lines[:4] + lines[-4:])  # the header and the rows up to pixel 991
put("reply_collector", "table.bin", collector(short_table, b"w", [100, 17]))

# binary_record: recordings as they are, and a raw frame file of their values high byte first.
bds = read("rec.bds")
put("binary_record", "rec.bds", bds)
put("binary_record", "rec_v.bds", read("rec_v.bds")[:RECORD + 100])
values = struct.unpack("<992H", bds[16:16 + 1984])
put("binary_record", "frame.bin", struct.pack(">992H", *values))

# text_stream: byte 0 is the reader's buffer size; then the recording.
put("text_stream", "rec_k.txt", bytes([0]) + read("rec_k.txt"))
put("text_stream", "rec_v.txt", bytes([13]) + read("rec_v.txt"))

# text_frame: byte 0 picks the mode (0 K, 1 C, 2 F, 3 V); then one frame's text as play-back
# hands it on (each line ending in its CR).
def frame_text(name):
    data = read(name)
    record = data.split(b"\n")[1:34]
    return b"".join(line[:-1] for line in record)  # "...\r\r" -> "...\r"

put("text_frame", "kelvin.txt", bytes([0]) + frame_text("rec_k.txt"))
put("text_frame", "fahrenheit.txt", bytes([2]) + frame_text("rec_f.txt"))
put("text_frame", "volts.txt", bytes([3]) + frame_text("rec_v.txt"))
put("text_frame", "block.bin", bytes([0x81]) + bds[16:16 + BLOCK])

# frame_pipeline: a text frame or frame blocks, then the settings read from the end: palette,
# mirror, unit, interpolation, offset subtraction, manual scale (and its two bounds from the
# front), text or blocks, offsets subtracted, file mode, frame letter, three stack sizes.
def pipeline(body, text, manual=None):
    front = b"" if manual is None else struct.pack("<2f", *manual)
    settings = [3, 0, 1, 1, 1, 1 if manual is not None else 0, 1 if text else 0, 0, 0, 0, 0, 0, 0]
    return front + body + bytes(reversed(settings))

put("frame_pipeline", "text.bin", pipeline(frame_text("rec_k.txt"), True))
put("frame_pipeline", "blocks.bin", pipeline(bds[16:16 + BLOCK] + bds[RECORD + 16:RECORD + 16 + BLOCK], False))
put("frame_pipeline", "manual.bin", pipeline(bds[16:16 + BLOCK], False, (310.0, 290.0)))

# workbook: byte 0 picks the sheet (0 frame data, 1 calibration); then a frame's data text or
# the module's calibration table.
put("workbook", "frame_data.txt", bytes([0]) + frame_text("rec_k.txt"))
put("workbook", "calibration.txt", bytes([1]) + short_table)

# remote_payloads: a frame payload as a publisher sends it (one record of a recording), and a
# module's status.
put("remote_payloads", "record.bin", bds[:RECORD])
put("remote_payloads", "status.json",
    b'{"state":"online","port":"/dev/ttyUSB0","module":"simulated module\\r\\n","extra":[1,{"a":null}]}')

# avi_reader: a short video recording.
put("avi_reader", "rec.avi", read("rec.avi"))

# avi_decode: the recording, and small hostile videos (frame sizes of
# 32767 x 32767, 32767 x 21846, 20000 x 20000, 4096 x 4096 holding 320 x 310 frames, random
# frames, a key frame and empty frames, empty chunks, a stream header of 8191 x 8191).
for name, data in crafted_avi.decode_seeds(read("rec.avi")).items():
    put("avi_decode", name, data)

# program_files: a command list and a caption file.
put("program_files", "CmdList.TXT",
    b"K (Continuous Temperature data)\r\n  k (Single Temperature data)\r\n\r\nt\r\nc (Single Voltage data)\r\n")
put("program_files", "Title.txt", "\ufeffThermal Imaging Software".encode("utf-16-le"))
PY
du -sh "$corpus"
