# SPDX-License-Identifier: MIT
# Frames of the virtual world's screen, windows and camera: exact pixels in every format, sizes,
# sequence numbers, and arrays that outlive their stream.
import gc

import numpy as np
import pytest

import vorncapture


def pattern(width, height, seed=7):
    """A picture of random 0x00RRGGBB pixels, and the same as (height, width, 3) R, G, B."""
    rng = np.random.default_rng(seed)
    rgb = rng.integers(0, 256, size=(height, width, 3), dtype=np.uint32)
    packed = (rgb[..., 0] << 16) | (rgb[..., 1] << 8) | rgb[..., 2]
    return packed.astype(np.uint32), rgb.astype(np.uint8)


@pytest.mark.parametrize("fmt, channels, order", [
    ("BGR", 3, [2, 1, 0]),
    ("RGB", 3, [0, 1, 2]),
    ("BGRA", 4, [2, 1, 0]),
    ("BGRx", 4, [2, 1, 0]),
])
def test_screen_pixels_are_exact(world, fmt, channels, order):
    # Odd sizes: rows that are not whole words, and no even-size shortcut.
    packed, rgb = pattern(37, 21)
    world.set_screen(packed)
    with vorncapture.open("desktop", format=fmt) as stream:
        frame = stream.grab()
    assert frame.array.shape == (21, 37, channels)
    assert frame.array.dtype == np.uint8
    assert frame.array.flags["C_CONTIGUOUS"]
    np.testing.assert_array_equal(frame.array[..., :3], rgb[..., order])
    if fmt == "BGRA":
        assert (frame.array[..., 3] == 255).all()


def test_screen_i420_planes(world):
    # Grey left half, white right half: Y in studio range, chroma neutral.
    packed = np.full((24, 32), 0x808080, dtype=np.uint32)
    packed[:, 16:] = 0xFFFFFF
    world.set_screen(packed)
    with vorncapture.open("desktop", format="I420") as stream:
        frame = stream.grab()
    assert frame.array.shape == (36, 32)
    y, u, v = frame.planes
    assert (y.shape, u.shape, v.shape) == ((24, 32), (12, 16), (12, 16))
    assert np.abs(y[:, :16].astype(int) - 126).max() <= 1
    assert np.abs(y[:, 16:].astype(int) - 235).max() <= 1
    assert np.abs(np.concatenate([u, v]).astype(int) - 128).max() <= 1
    # The planes view the array's memory.
    assert y.base is not None and np.shares_memory(y, frame.array)


def test_size_scales_the_screen(world):
    # Blocks of 4x4 one colour: halving keeps every block's colour.
    blocks, rgb = pattern(8, 6)
    world.set_screen(np.kron(blocks, np.ones((4, 4), dtype=np.uint32)))
    with vorncapture.open("desktop", size=(16, 12)) as stream:
        frame = stream.grab()
    assert frame.array.shape == (12, 16, 3)
    expected = np.kron(rgb[..., ::-1], np.ones((2, 2, 1), dtype=np.uint8))
    assert np.abs(frame.array.astype(int) - expected).max() <= 2


def test_frames_outlive_their_stream(world):
    packed, rgb = pattern(40, 30)
    world.set_screen(packed)
    stream = vorncapture.open("desktop", fps=200)
    frames = [stream.grab() for _ in range(5)]
    arrays = [f.array for f in frames]
    stream.close()
    del stream, frames
    gc.collect()
    for array in arrays:
        np.testing.assert_array_equal(array, rgb[..., ::-1])


def test_sequence_and_time_advance(world):
    world.set_screen(pattern(16, 16)[0])
    with vorncapture.open("desktop", fps=100) as stream:
        frames = [next(stream) for _ in range(10)]
    sequences = [f.sequence for f in frames]
    assert sequences == sorted(sequences) and len(set(sequences)) == 10
    # Every jump in the numbers is a frame the stream counts as lost.
    assert sequences[-1] - sequences[0] - 9 <= stream.lost
    times = [f.time for f in frames]
    assert all(b > a for a, b in zip(times, times[1:]))


def test_window_pixels(world):
    handle = world.add_window("vorncapture test window", 100, 100, 164, 152, client=0x20A0F0)
    try:
        window = [s for s in vorncapture.sources("window") if s.name == "vorncapture test window"]
        assert len(window) == 1
        with vorncapture.open(window[0]) as stream:
            frame = stream.grab()
        # The client area (inset 4, 24, 4, 4: 56 x 24) rounded down to multiples of 4.
        assert frame.array.shape == (24, 56, 3)
        # The cursor may be drawn; the rest of the client area is the window's colour.
        same = (frame.array == [0xF0, 0xA0, 0x20]).all(axis=2)
        assert same.mean() > 0.9
    finally:
        world.remove_window(handle)


def test_camera_frames(world):
    camera = vorncapture.sources("camera")[0]
    assert camera.name == "Vorn Virtual Camera"
    assert any("320x240" in mode for mode in camera.modes)
    with vorncapture.open(camera, size=(320, 240), fps=30) as stream:
        first, second = stream.grab(), stream.grab()
    assert first.array.shape == (240, 320, 3)
    assert second.sequence > first.sequence and second.time > first.time
    # The test picture moves: two frames differ.
    assert not np.array_equal(first.array, second.array)


def test_i420_of_an_odd_screen_leaves_out_the_last_column_and_row(world):
    # Grey, with a white right column and bottom row: cropped (not scaled), no white remains.
    packed = np.full((21, 37), 0x808080, dtype=np.uint32)
    packed[:, 36] = 0xFFFFFF
    packed[20, :] = 0xFFFFFF
    world.set_screen(packed)
    with vorncapture.open("desktop", format="I420") as stream:
        frame = stream.grab()
    assert (frame.width, frame.height) == (36, 20)
    assert frame.array.shape == (30, 36)
    assert np.abs(frame.planes[0].astype(int) - 126).max() <= 1
