#!/usr/bin/python3
"""Writes samples/sample.mp3: two dozen silent MPEG-1 Layer III frames and an
ID3v1.1 tag, byte for byte the same on every run.

    make-sample.py [OUTPUT]   (default: samples/sample.mp3 beside this script)
"""

import os
import sys

FRAMES = 24
BITRATE = 128000
SAMPLE_RATE = 44100
# MPEG-1 Layer III: 1152 samples a frame, so 144 bytes per (bit/s / Hz).
FRAME_UNITS = 144 * BITRATE

# Sync, MPEG-1, Layer III, no CRC | 128 kbit/s, 44.1 kHz | mono, original.
HEADER = (0xFF, 0xFB, 0x90, 0xC4)
PADDING_BIT = 0x02
# Mono side information. All zero means no main data and zero-length
# granules: every frequency line is zero, which decodes as silence.
SIDE_INFO_SIZE = 17

TAG = {
    "title": b"Quillon Sample",
    "artist": b"Brindlock",
    "album": b"Quillon Test Sounds",
    "year": b"2026",
    "comment": b"Silent frames, no audio",
    "track": 1,
    "genre": 12,  # "Other"
}


def frames():
    """The frames, each 417 or 418 bytes: a padding byte is added whenever the
    bytes owed reach a whole one, so the stream keeps exactly 128 kbit/s."""
    owed = 0
    out = bytearray()
    for _ in range(FRAMES):
        size, rest = divmod(FRAME_UNITS, SAMPLE_RATE)
        owed += rest
        header = bytearray(HEADER)
        if owed >= SAMPLE_RATE:
            owed -= SAMPLE_RATE
            size += 1
            header[2] |= PADDING_BIT
        out += header + bytes(size - len(header))
    return bytes(out)


def field(text, width):
    if len(text) > width:
        raise ValueError(f"{text!r} is longer than {width} bytes")
    return text.ljust(width, b"\0")


def id3v1_tag(tag):
    block = (
        b"TAG"
        + field(tag["title"], 30)
        + field(tag["artist"], 30)
        + field(tag["album"], 30)
        + field(tag["year"], 4)
        + field(tag["comment"], 28)
        + bytes([0, tag["track"], tag["genre"]])
    )
    assert len(block) == 128
    return block


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    default = os.path.normpath(os.path.join(here, "..", "samples", "sample.mp3"))
    path = sys.argv[1] if len(sys.argv) > 1 else default
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path, "wb") as f:
        f.write(frames() + id3v1_tag(TAG))
    print(f"{path}: {os.path.getsize(path)} bytes")


if __name__ == "__main__":
    main()
