# SPDX-License-Identifier: MIT
# PipeWire cameras read as they are: camera nodes of a known picture (a white ball moving over
# 0x336699, made by GStreamer's test source in YUY2 and in Motion-JPEG) in the PipeWire session
# the stage starts, each read in an interpreter of its own. Without that session these tests
# skip; the refusals at the end need no session.
import contextlib
import json
import os
import shutil
import subprocess
import time

import pytest
import vorncapture

from conftest import helper_env, run_python

WIDTH, HEIGHT, RATE = 320, 240, 30
# The picture's colour as (B, G, R), and how far one conversion of it may land: from YUY2 the
# rounding of the YUV matrices both ways; from Motion-JPEG the encoder's quantisation too.
BACKGROUND = (0x99, 0x66, 0x33)
NODES = {"YUY2": ("identity", 3), "MJPG": ("jpegenc", 6)}


def session_env():
    env_file = os.environ.get("VORNCAPTURE_PIPEWIRE_ENV")
    if not env_file:
        pytest.skip("no PipeWire session (the stage starts one where its programs are installed)")
    with open(env_file) as lines:
        env = dict(line.rstrip("\n").split("=", 1) for line in lines if "=" in line)
    env["VORN_WORLD"] = "host"
    return env


def listed(env, description):
    dump = subprocess.run(["pw-dump"], env=helper_env(**env), capture_output=True, text=True,
                          timeout=20)
    return f'"node.description": "{description}"' in dump.stdout


@contextlib.contextmanager
def camera_node(env, name):
    """A camera node of the picture in format `name` (YUY2 or MJPG); its description. GStreamer's
    sink stops serving once its first reader has gone, so each reader gets a node of its own."""
    if shutil.which("gst-launch-1.0") is None:
        pytest.skip("gst-launch-1.0 is missing (package gstreamer1.0-tools)")
    encoder = NODES[name][0]
    description = f"vorncapture-test-{name}"
    raw = "RGB" if encoder == "jpegenc" else name  # JPEG encoded from full-range RGB
    producer = subprocess.Popen(
        ["gst-launch-1.0", "-q", "videotestsrc", "pattern=ball", "is-live=true",
         "background-color=0xff336699", "foreground-color=0xffffffff", "!",
         f"video/x-raw,format={raw},width={WIDTH},height={HEIGHT},framerate={RATE}/1", "!",
         encoder, "!", "pipewiresink", "mode=provide",
         "stream-properties=props,media.class=Video/Source,node.description=" + description],
        env=helper_env(**env), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        for _ in range(100):
            if listed(env, description):
                break
            time.sleep(0.1)
        else:
            pytest.fail(f"the camera node {description} did not appear")
        yield description
    finally:
        producer.terminate()
        producer.wait(timeout=10)
        for _ in range(50):  # gone from the listing before the next node of its name comes
            if not listed(env, description):
                break
            time.sleep(0.1)


def read_camera(code, name, *args):
    """Runs `code` on a fresh node of format `name` in an interpreter of its own; its JSON."""
    env = session_env()
    with camera_node(env, name) as description:
        done = run_python(code, env, args=(description, *args))
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout.splitlines()[-1])


PRELUDE = r"""
import json, sys, time
import numpy as np
import vorncapture
name = sys.argv[1]
camera = [c for c in vorncapture.sources("camera") if c.name == name][0]
def near(array, colour, tolerance):
    # The share of pixels within `tolerance` of `colour` in every channel.
    return float((np.abs(array.astype(int) - colour) <= tolerance).all(axis=-1).mean())
"""

# One format from the camera's own: shape, colour and numbers rising.
FORMAT = PRELUDE + r"""
background, tolerance, asked = tuple(json.loads(sys.argv[2])), int(sys.argv[3]), sys.argv[4]
with vorncapture.open(camera, size=(320, 240), fps=30, format=asked) as stream:
    frames = [stream.grab(timeout=10) for _ in range(4)]
    frame = frames[-1]
    a = frame.array
    entry = {"stream": stream.format, "frame": frame.format, "shape": list(a.shape),
             "sequences": [f.sequence for f in frames], "writeable": a.flags.writeable}
    if asked == "BGR":
        entry["near"] = near(a, background, tolerance)
    elif asked == "RGB":
        entry["near"] = near(a, background[::-1], tolerance)
    elif asked == "BGRA":
        entry["near"] = near(a[..., :3], background, tolerance)
        entry["opaque"] = bool((a[..., 3] == 255).all())
    elif asked == "I420":
        entry["planes"] = [list(p.shape) for p in frame.planes]
    else:
        entry["head"] = bytes(a[:2]).hex() if a.ndim == 1 else ""
        entry["planes"] = [list(p.shape) for p in frame.planes]
print(json.dumps(entry))
"""


# Each format read from a node of its own (the sink may stop serving once a reader has gone).
@pytest.mark.parametrize("node", sorted(NODES))
@pytest.mark.parametrize("asked", ["BGR", "RGB", "BGRA", "I420", "native"])
def test_formats_from_the_cameras_own(node, asked):
    entry = read_camera(FORMAT, node, json.dumps(BACKGROUND), str(NODES[node][1]), asked)
    own = "MJPEG" if node == "MJPG" else node
    # Frames follow each other with rising numbers (a slow start may skip some).
    assert entry["sequences"] == sorted(set(entry["sequences"])), entry
    assert entry["stream"] == entry["frame"] == (own if asked == "native" else asked)
    # The background, all but the ball and its edges, within one conversion of the colour.
    if asked in ("BGR", "RGB", "BGRA"):
        assert entry["near"] > 0.9, entry
    shapes = {"BGR": [240, 320, 3], "BGRA": [240, 320, 4], "I420": [360, 320]}
    if asked in shapes:
        assert entry["shape"] == shapes[asked], entry
    if asked == "BGR":
        assert entry["writeable"]
    elif asked == "BGRA":
        assert entry["opaque"]
    elif asked == "I420":
        assert entry["planes"] == [[240, 320], [120, 160], [120, 160]]
    elif asked == "native":
        assert not entry["writeable"]
        if node == "MJPG":
            assert len(entry["shape"]) == 1 and entry["head"] == "ffd8"  # a JPEG's start
        else:
            assert entry["shape"] == [240, 320, 2] and entry["planes"] == [[240, 320, 2]]


# A reader that sleeps between grabs: the numbers it missed are what `lost` counts.
SLOW = PRELUDE + r"""
with vorncapture.open(camera, size=(320, 240), fps=30, format="native") as stream:
    sequences = []
    for _ in range(4):
        sequences.append(stream.grab(timeout=10).sequence)
        time.sleep(0.3)
    sequences.append(stream.grab(timeout=10).sequence)
    lost = stream.lost
print(json.dumps({"sequences": sequences, "lost": lost}))
"""


def test_a_slow_reader_counts_what_it_missed():
    result = read_camera(SLOW, "YUY2")
    sequences = result["sequences"]
    steps = [b - a for a, b in zip(sequences, sequences[1:])]
    # 0.3 s at 30 frames a second: frames pass between two grabs (fewer on a loaded machine).
    assert all(step >= 2 for step in steps), result
    # Every number skipped since the first grab is counted (and those before it).
    assert result["lost"] >= sequences[-1] - sequences[0] - len(steps), result
    assert result["lost"] == sequences[-1] - (len(sequences) - 1), result


# Native views held while the camera goes on: each keeps the bytes it had when grabbed.
HELD = PRELUDE + r"""
with vorncapture.open(camera, size=(320, 240), fps=30, format="native") as stream:
    held = [stream.grab(timeout=10) for _ in range(6)]
    copies = [f.array.copy() for f in held]
    for _ in range(30):
        stream.grab(timeout=10)
    unchanged = all(np.array_equal(f.array, c) for f, c in zip(held, copies))
    distinct = len({c.tobytes() for c in copies})
    try:
        held[0].array[0] = 0
        writable = True
    except ValueError:
        writable = False
# The views outlive the stream too.
after = all(np.array_equal(f.array, c) for f, c in zip(held, copies))
print(json.dumps({"unchanged": unchanged, "after": after, "distinct": distinct,
                  "writable": writable}))
"""


@pytest.mark.parametrize("node", sorted(NODES))
def test_a_held_native_view_stays_as_it_was(node):
    result = read_camera(HELD, node)
    assert result["distinct"] > 1, result  # the ball moves: the frames differ
    assert result["unchanged"] and result["after"] and not result["writable"], result


# Asking the camera's own format in a size it lacks names the modes it has.
MISSING_SIZE = PRELUDE + r"""
try:
    vorncapture.open(camera, size=(1000, 100), format="native")
    print(json.dumps({"error": ""}))
except RuntimeError as error:
    print(json.dumps({"error": str(error)}))
"""


def test_native_in_a_size_the_camera_lacks():
    error = read_camera(MISSING_SIZE, "YUY2")["error"]
    assert "1000x100" in error and "YUY2 320x240" in error, error


def test_native_is_refused_where_no_frame_is_lent(world):
    # The virtual world's camera and screen go through the library's devices.
    for kind in ["camera", "desktop"]:
        with pytest.raises(RuntimeError, match="own format is not lent"):
            vorncapture.open(kind, format="native")
