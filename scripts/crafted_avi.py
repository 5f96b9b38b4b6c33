#!/usr/bin/env python3
"""AVI files built byte by byte, with the layout of tests/video/crafted_avi.h: one 'XVID' video
stream at 20 frames per second whose headers state any frame size, any frames, an idx1 index or
none. For the crafted seeds of fuzz/corpus/avi_decode/ (scripts/gen-fuzz-corpus.sh) and the
memory figures of scripts/video-memory.sh.

    crafted_avi.py OUT.avi WIDTH HEIGHT KIND [COUNT] [KEY_FRAME_FILE]

KIND: empty (COUNT empty frames, no index), random (COUNT frames of 700 random bytes),
key-empty (the key frame from KEY_FRAME_FILE, then COUNT empty frames, no index), key (the key
frame from KEY_FRAME_FILE, COUNT times). KEY_FRAME_FILE is an AVI file (its first frame is
taken, e.g. a recording's) or a frame's bytes."""
import random
import struct
import sys


def chunk(cid, payload):
    return cid + struct.pack("<I", len(payload)) + payload + (b"\0" if len(payload) % 2 else b"")


def lst(ltype, body):
    return b"LIST" + struct.pack("<I", 4 + len(body)) + ltype + body


def avi(width, height, frames, with_index=True):
    """frames: list of (bytes, is_key_frame)."""
    count = len(frames)
    avih = struct.pack("<14I", 50000, 0, 0, 0x10 if with_index else 0, count, 0, 1, 0,
                       width, height, 0, 0, 0, 0)
    strh = b"vidsxvid" + struct.pack("<12I", 0, 0, 0, 1, 20, 0, count, 0, 0xFFFFFFFF, 0, 0, 0)
    strf = struct.pack("<3IHH", 40, width, height, 1, 24) + b"XVID" + struct.pack("<5I", 0, 0, 0, 0, 0)
    hdrl = chunk(b"avih", avih) + lst(b"strl", chunk(b"strh", strh) + chunk(b"strf", strf))
    movi = bytearray()
    index = bytearray()
    for data, key in frames:
        index += b"00dc" + struct.pack("<3I", 0x10 if key else 0, 4 + len(movi), len(data))
        movi += chunk(b"00dc", data)
    body = b"AVI " + lst(b"hdrl", hdrl) + lst(b"movi", bytes(movi))
    if with_index:
        body += chunk(b"idx1", bytes(index))
    return b"RIFF" + struct.pack("<I", len(body)) + body


def first_frame(data):
    """The first '00dc' chunk's payload of an AVI file, or the bytes as they are."""
    at = data.find(b"movi")
    at = data.find(b"00dc", at) if at >= 0 else -1
    if at < 0:
        return data
    size = struct.unpack("<I", data[at + 4:at + 8])[0]
    return data[at + 8:at + 8 + size]


def decode_seeds(recording):
    """The seeds of fuzz/corpus/avi_decode/ (name: bytes), a few KiB each, from a short
    recording of ours: the recording, and small hostile videos."""
    key = first_frame(recording)
    rng = random.Random(17)
    noise = [(bytes(rng.getrandbits(8) for _ in range(100)), False) for _ in range(40)]
    # A stream header (video object layer) stating 8191 x 8191 before our key frame.
    bits = "0" + "00000001" + "0" + "0001" + "0" + "00" + "1" + format(20, "016b") + "1" + "0"
    bits += "1" + format(8191, "013b") + "1" + format(8191, "013b") + "1" + "0100011"
    bits += "1" * (-len(bits) % 8)
    layer = b"\0\0\1\x20" + bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))
    return {
        "rec.avi": recording,
        "32767x32767.avi": avi(32767, 32767, [(key, True)]),
        "32767x21846.avi": avi(32767, 21846, [(key, True)]),
        "20000x20000.avi": avi(20000, 20000, [(key, True)]),
        "4096x4096-foreign.avi": avi(4096, 4096, [(key, True)]),
        "random-frames.avi": avi(320, 310, noise),
        "key-then-empty.avi": avi(320, 310, [(key, True)] + [(b"", False)] * 300, with_index=False),
        "empty-chunks.avi": avi(320, 310, [(b"", False)] * 500, with_index=False),
        "layer-8191.avi": avi(320, 310, [(layer + key, True)]),
    }


def main():
    out, width, height, kind = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    count = int(sys.argv[5]) if len(sys.argv) > 5 else 1
    key = first_frame(open(sys.argv[6], "rb").read()) if len(sys.argv) > 6 else b""
    rng = random.Random(17)
    if kind == "empty":
        data = avi(width, height, [(b"", False)] * count, with_index=False)
    elif kind == "random":
        data = avi(width, height, [(bytes(rng.getrandbits(8) for _ in range(700)), False)
                                   for _ in range(count)])
    elif kind == "key-empty":
        data = avi(width, height, [(key, True)] + [(b"", False)] * count, with_index=False)
    elif kind == "key":
        data = avi(width, height, [(key, True)] * count)
    else:
        sys.exit("crafted_avi.py: unknown kind " + kind)
    open(out, "wb").write(data)


if __name__ == "__main__":
    main()
