#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target: tests/fuzz/corpus/<target>/seed-<n>.

The targets decode their input with FuzzedDataProvider, so any bytes make a valid input; the
seeds only give each run a varied start: all zeros, all ones, and fixed pseudo-random blocks of
growing length. Inputs that once crashed a target live beside them as crash-<what>, and this
script leaves those alone.

    python3 tests/fuzz/make_seeds.py
"""
import os
import random

TARGETS = ["convert", "memory", "sets", "mediatypes"]
SIZES = [16, 64, 256, 1024]

here = os.path.dirname(os.path.abspath(__file__))
for target in TARGETS:
    folder = os.path.join(here, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    rng = random.Random(target)  # the same bytes on every run
    seeds = [bytes(32), b"\xff" * 32] + [bytes(rng.randrange(256) for _ in range(n)) for n in SIZES]
    for n, seed in enumerate(seeds):
        with open(os.path.join(folder, "seed-%d" % n), "wb") as f:
            f.write(seed)
