# SPDX-License-Identifier: MIT
# The host world, each in an interpreter of its own (a process captures from one world): the X
# screen of a private Xvfb, and a microphone of a private sound server.
import json
import os

import pytest
import xhelpers

from conftest import run_python

# The whole screen into BGR, converted once from the screen's lent copy.
X_SCREEN = r"""
import json
import vorncapture
desktop = vorncapture.sources("desktop")[0]
with vorncapture.open(desktop, fps=60) as stream:
    frames = [stream.grab() for _ in range(5)]
frame = frames[-1]
same = (frame.array == [0x99, 0x66, 0x33]).all(axis=2).mean()
print(json.dumps({"world": vorncapture.world(), "modes": desktop.modes,
                  "shape": list(frame.array.shape), "same": float(same),
                  "sequences": [f.sequence for f in frames], "lost": stream.lost}))
"""


def test_x_screen_on_its_own_xvfb(xvfb):
    with xhelpers.RootPainter(xvfb) as painter:
        painter.paint(0x336699)
        done = run_python(X_SCREEN, {"DISPLAY": xvfb, "VORN_WORLD": "host"})
    assert done.returncode == 0, done.stderr
    result = json.loads(done.stdout.splitlines()[-1])
    assert result["world"] == "host"
    assert result["modes"] == ["640x480"]
    assert result["shape"] == [480, 640, 3]
    assert result["same"] > 0.99  # all but the cursor
    # A still screen: the same picture, the same number; nothing lost.
    assert result["sequences"] == [0] * 5 and result["lost"] == 0


# BGRx frames are read-only views over the screen's lent copies (BGRA ones are opaque copies): a
# held one keeps its pixels while the screen changes, numbers rise only with a change, and while
# every copy is held a grab says so instead of writing over a held frame.
X_SCREEN_VIEWS = r"""
import json, os, sys
sys.path.insert(0, sys.argv[1])
import numpy as np
import vorncapture
from xhelpers import RootPainter

def share(frame, colour):
    bgr = [colour & 0xFF, (colour >> 8) & 0xFF, colour >> 16]
    return float((frame.array[..., :3] == bgr).all(axis=2).mean())

painter = RootPainter(os.environ["DISPLAY"])
painter.paint(0x336699)
out = {}
with vorncapture.open("desktop", format="BGRx", fps=1000) as stream:
    first, again = stream.grab(), stream.grab()
    painter.paint(0x112233)
    changed = stream.grab()
    out["shape"] = list(first.array.shape)
    out["sequences"] = [first.sequence, again.sequence, changed.sequence]
    out["held"] = share(first, 0x336699)
    out["changed"] = share(changed, 0x112233)
    try:
        first.array[0, 0] = 0
        out["writable"] = True
    except ValueError:
        out["writable"] = False
    del again
    painter.paint(0x445566)
    third = stream.grab()  # three copies held: first, changed, third
    painter.paint(0x778899)
    try:
        stream.grab(timeout=0.5)
        out["refused"] = ""
    except RuntimeError as error:
        out["refused"] = str(error)
    del first
    fourth = stream.grab()
    out["fourth"] = [fourth.sequence, share(fourth, 0x778899)]
    out["lost"] = stream.lost
out["after_close"] = [share(changed, 0x112233), share(third, 0x445566)]
with vorncapture.open("desktop", format="BGRA") as stream:
    bgra = stream.grab().array
    out["bgra"] = [float((bgra[..., 3] == 255).mean()), bool(bgra.flags.writeable)]
print(json.dumps(out))
"""


def test_x_screen_bgrx_frames_are_views_of_held_copies(xvfb):
    done = run_python(X_SCREEN_VIEWS, {"DISPLAY": xvfb, "VORN_WORLD": "host"},
                      args=[os.path.dirname(os.path.abspath(__file__))])
    assert done.returncode == 0, done.stderr
    r = json.loads(done.stdout.splitlines()[-1])
    assert r["shape"] == [480, 640, 4]
    assert r["sequences"] == [0, 0, 1]
    assert r["held"] > 0.99 and r["changed"] > 0.99, r
    assert r["writable"] is False
    assert "still held" in r["refused"], r
    assert r["fourth"][0] == 3 and r["fourth"][1] > 0.99, r
    assert r["lost"] == 0
    assert min(r["after_close"]) > 0.99, r
    # BGRA is a copy of its own, opaque: the screen's fourth byte is padding.
    assert r["bgra"] == [1.0, True], r


MICROPHONE = r"""
import json
import numpy as np
import vorncapture
names = [s.name for s in vorncapture.sources("microphone")]
sine = [s for s in vorncapture.sources("microphone") if "sine" in s.name.lower()
        and "monitor" not in s.name.lower()]
with vorncapture.open(sine[0], rate=48000, channels=1, format="float32") as stream:
    blocks = [stream.grab(timeout=10) for _ in range(40)]
samples = np.concatenate([b.array[:, 0] for b in blocks])
spectrum = np.abs(np.fft.rfft(samples * np.hanning(len(samples))))
peak = np.argmax(spectrum) * 48000 / len(samples)
ends = [b.time + len(b.array) / 48000 for b in blocks]
gaps = [abs(after.time - end) for after, end in zip(blocks[1:], ends)]
print(json.dumps({"names": names, "peak": float(peak), "seconds": len(samples) / 48000,
                  "level": float(np.abs(samples).max()), "gap": max(gaps),
                  "sequences": [b.sequence for b in blocks]}))
"""


def test_microphone_of_a_private_sound_server(sound_server):
    done = run_python(MICROPHONE, {"PULSE_SERVER": sound_server, "VORN_WORLD": "host"})
    assert done.returncode == 0, done.stderr
    result = json.loads(done.stdout.splitlines()[-1])
    assert abs(result["peak"] - 440) < 5, result
    assert 0.05 < result["level"] <= 1.0
    # Blocks follow each other without a hole, and their numbers say so too.
    assert result["gap"] < 1e-3, result
    first = result["sequences"][0]
    assert result["sequences"] == list(range(first, first + 40))


PIPEWIRE_CAMERA = r"""
import json
import vorncapture
cameras = vorncapture.sources("camera")
with vorncapture.open(cameras[0], size=(640, 480), fps=30) as stream:
    frames = [stream.grab(timeout=10) for _ in range(5)]
frame = frames[-1]
same = (abs(frame.array.astype(int) - [0x99, 0x66, 0x33]) <= 2).all(axis=2).mean()
print(json.dumps({"names": [c.name for c in cameras], "shape": list(frame.array.shape),
                  "same": float(same), "sequences": [f.sequence for f in frames]}))
"""


def test_pipewire_camera_node():
    env_file = os.environ.get("VORNCAPTURE_PIPEWIRE_ENV")
    if not env_file:
        pytest.skip("no PipeWire session (the stage starts one where its programs are installed)")
    env = dict(line.rstrip("\n").split("=", 1) for line in open(env_file) if "=" in line)
    env["VORN_WORLD"] = "host"
    done = run_python(PIPEWIRE_CAMERA, env)
    assert done.returncode == 0, done.stderr
    result = json.loads(done.stdout.splitlines()[-1])
    # The session's node: 640 x 480, every pixel 0x336699.
    assert result["shape"] == [480, 640, 3], result
    assert result["same"] > 0.99, result
    assert result["sequences"] == sorted(set(result["sequences"]))
