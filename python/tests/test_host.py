# SPDX-License-Identifier: MIT
# The host world, each in an interpreter of its own (a process captures from one world): the X
# screen of a private Xvfb, and a microphone of a private sound server.
import json

import pytest

from conftest import run_python

X_SCREEN = r"""
import ctypes, json
import vorncapture
# The root window's background, painted through Xlib.
x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x.XDefaultRootWindow.restype = ctypes.c_ulong
x.XSetWindowBackground.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong]
x.XClearWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
display = x.XOpenDisplay(None)
root = x.XDefaultRootWindow(display)
x.XSetWindowBackground(display, root, 0x336699)
x.XClearWindow(display, root)
x.XSync(display, 0)
desktop = vorncapture.sources("desktop")[0]
with vorncapture.open(desktop, fps=60) as stream:
    frames = [stream.grab() for _ in range(5)]
frame = frames[-1]
same = (frame.array == [0x99, 0x66, 0x33]).all(axis=2).mean()
print(json.dumps({"world": vorncapture.world(), "modes": desktop.modes,
                  "shape": list(frame.array.shape), "same": float(same),
                  "sequences": [f.sequence for f in frames]}))
"""


def test_x_screen_on_its_own_xvfb(xvfb):
    done = run_python(X_SCREEN, {"DISPLAY": xvfb, "VORN_WORLD": "host"})
    assert done.returncode == 0, done.stderr
    result = json.loads(done.stdout.splitlines()[-1])
    assert result["world"] == "host"
    assert result["modes"] == ["640x480"]
    assert result["shape"] == [480, 640, 3]
    assert result["same"] > 0.99  # all but the cursor
    assert result["sequences"] == sorted(set(result["sequences"]))


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
    import os
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
