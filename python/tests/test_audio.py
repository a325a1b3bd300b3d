# SPDX-License-Identifier: MIT
# The virtual microphone: its sine tone sample for sample, in both sample formats.
import numpy as np
import pytest

import vorncapture


def tone(start, count, rate, frequency=440.0):
    """The virtual microphone's tone as 16-bit samples: half scale, phase by sample number."""
    n = np.arange(start, start + count, dtype=np.float64)
    periods = n * frequency / rate
    value = 0.5 * np.sin((periods - np.floor(periods)) * 2 * np.pi)
    wide = np.round(value * 2147483647.0).astype(np.int64)
    return (wide >> 16).astype(np.int16)


@pytest.mark.parametrize("fmt, dtype", [("int16", np.int16), ("float32", np.float32)])
def test_microphone_samples_are_exact(world, fmt, dtype):
    with vorncapture.open("microphone", format=fmt, rate=48000, channels=2) as stream:
        blocks = [stream.grab() for _ in range(6)]
    assert stream.rate == 48000 and stream.channels == 2
    assert [b.sequence for b in blocks] == list(range(blocks[0].sequence,
                                                      blocks[0].sequence + 6))
    for block in blocks:
        assert block.array.dtype == dtype and block.array.shape[1] == 2
        assert block.rate == 48000
    samples = np.concatenate([b.array for b in blocks])
    if dtype == np.float32:
        assert np.abs(samples).max() <= 1.0
        samples = np.round(samples * 32768.0).astype(np.int16)
    # The device's tone runs on between streams: its phase is found, then every sample matches.
    # (440 Hz at 48 kHz repeats every 1200 samples.)
    starts = [s for s in range(1200) if np.array_equal(tone(s, 64, 48000), samples[:64, 0])]
    assert starts, "the first samples are no part of the tone"
    expected = tone(starts[0], len(samples), 48000)
    np.testing.assert_array_equal(samples[:, 0], expected)
    np.testing.assert_array_equal(samples[:, 1], expected)
    # Each block starts where the one before it ended.
    for before, after in zip(blocks, blocks[1:]):
        assert abs(after.time - (before.time + len(before.array) / 48000)) < 1e-6
