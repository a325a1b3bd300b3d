#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes the seed corpus of every fuzz target: tests/fuzz/corpus/<target>/seed-<n>.

The targets decode their input with FuzzedDataProvider, so any bytes make a valid input; the
seeds only give each run a varied start: all zeros, all ones, and fixed pseudo-random blocks of
growing length. Inputs that once crashed a target live beside them as crash-<what>, and this
script leaves those alone.

    python3 tests/fuzz/make_seeds.py
"""
import os
import random

TARGETS = ["convert", "memory", "sets", "mediatypes", "toolinput"]
SIZES = [16, 64, 256, 1024]


def bitmap(width, height, bits, top_down=False, masks=False):
    """A small bitmap file (first byte 0 picks toolinput's decoder)."""
    stride = (width * bits // 8 + 3) & ~3
    extra = 12 if masks else 0
    offset = 54 + extra
    pixels = bytes((x * 37 + y * 11) & 0xFF for y in range(height) for x in range(stride))
    size = offset + len(pixels)
    le = lambda v, n: (v & (1 << 8 * n) - 1).to_bytes(n, "little")
    header = b"BM" + le(size, 4) + le(0, 4) + le(offset, 4)
    info = (le(40, 4) + le(width, 4) + le(-height if top_down else height, 4) + le(1, 2)
            + le(bits, 2) + le(3 if masks else 0, 4) + le(len(pixels), 4) + le(2835, 4) * 2
            + le(0, 8))
    tail = le(0xFF0000, 4) + le(0xFF00, 4) + le(0xFF, 4) if masks else b""
    return b"\0" + header + info + tail + pixels


# Inputs shaped like the real thing, besides the generic seeds: bitmaps, raw frames (first
# byte 1: size, newline, flags, frames) and option words (first byte 2).
SHAPED = {
    "toolinput": [
        bitmap(3, 2, 24),
        bitmap(4, 3, 32, top_down=True, masks=True),
        b"\1" + b"4x2\n\0" + bytes(range(48)),
        b"\1" + b"3X1\n\3" + bytes(range(9)) + b"\xff",
        b"\2" + b"\n".join([b"20", b"64x48", b"2.5", b"-o", b"out.y4m", b"--frames=3",
                              b"18446744073709551616", b"0x1", b"16384x16384", b"-q"]),
    ],
}

here = os.path.dirname(os.path.abspath(__file__))
for target in TARGETS:
    folder = os.path.join(here, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    rng = random.Random(target)  # the same bytes on every run
    seeds = [bytes(32), b"\xff" * 32] + [bytes(rng.randrange(256) for _ in range(n)) for n in SIZES]
    seeds += SHAPED.get(target, [])
    for n, seed in enumerate(seeds):
        with open(os.path.join(folder, "seed-%d" % n), "wb") as f:
            f.write(seed)
