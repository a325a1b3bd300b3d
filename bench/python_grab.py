#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Full-screen grabs into NumPy arrays on one Xvfb (1920x1080 by default): grabs a second and
CPU per grab (this process's threads and the X server's) for vorncapture, Pillow's
ImageGrab.grab() and PyAV's x11grab decoded with to_ndarray("bgr24"), each in a process of
its own, in one run.

    PYTHONPATH=build/python python3 bench/python_grab.py [--seconds 5] [--size 1920x1080]
                                                          [--changing] [--fps 10000]

--changing repaints the whole screen every 10 ms from another X client (not counted), so no
method can skip unchanged rows. Pillow and PyAV are Debian's python3-pil and python3-av
(benchmark only); a method whose package is missing is reported as such.
"""
import argparse
import json
import os
import subprocess
import sys
import time

GRAB = r"""
import json, os, resource, sys, time
import numpy as np
method, seconds, xpid, size = sys.argv[1], float(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
fps = int(sys.argv[5])
width, height = map(int, size.split("x"))

def xcpu():
    with open(f"/proc/{xpid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

def cpu():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime

if method == "vorncapture":
    import vorncapture
    stream = vorncapture.open("desktop", fps=fps)
    grab = lambda: stream.grab().array
elif method == "pillow":
    from PIL import ImageGrab
    grab = lambda: np.asarray(ImageGrab.grab(xdisplay=os.environ["DISPLAY"]))
else:
    import av
    container = av.open(os.environ["DISPLAY"], format="x11grab",
                        options={"video_size": size, "framerate": "1000"})
    frames = container.decode(video=0)
    grab = lambda: next(frames).to_ndarray(format="bgr24")

for _ in range(5):
    shape = grab().shape
assert shape[:2] == (height, width), shape
start, cpu0, x0, count = time.monotonic(), cpu(), xcpu(), 0
while time.monotonic() - start < seconds:
    grab()
    count += 1
wall = time.monotonic() - start
result = {"grabs": count, "wall": wall, "cpu": cpu() - cpu0, "xcpu": xcpu() - x0}
if method == "vorncapture":
    result["dropped"] = stream.lost  # frames captured and converted that no grab took
print(json.dumps(result))
"""

CHANGER = r"""
import ctypes, time
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
colour = 0
while True:
    colour = (colour + 0x010203) & 0xFFFFFF
    x.XSetWindowBackground(display, root, colour)
    x.XClearWindow(display, root)
    x.XSync(display, 0)
    time.sleep(0.01)
"""


def start_xvfb(size):
    read, write = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", size + "x24",
                               "-nolisten", "tcp"], pass_fds=(write,), stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as pipe:
        number = pipe.readline().strip()
    if not number:
        server.kill()
        sys.exit("Xvfb did not start")
    return server, ":" + number


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=5.0)
    parser.add_argument("--size", default="1920x1080")
    parser.add_argument("--changing", action="store_true")
    parser.add_argument("--methods", default="vorncapture,pyav,pillow")
    parser.add_argument("--fps", type=int, default=10000,
                        help="the rate asked of vorncapture (above 1000: back to back)")
    args = parser.parse_args()

    server, display = start_xvfb(args.size)
    env = dict(os.environ, DISPLAY=display, VORN_WORLD="host")
    changer = None
    try:
        if args.changing:
            changer = subprocess.Popen([sys.executable, "-c", CHANGER], env=env)
        results = {}
        for method in args.methods.split(","):
            done = subprocess.run([sys.executable, "-c", GRAB, method, str(args.seconds),
                                   str(server.pid), args.size, str(args.fps)], env=env, capture_output=True,
                                  text=True, timeout=args.seconds + 120)
            if done.returncode != 0:
                results[method] = {"error": done.stderr.strip().splitlines()[-1:]}
                continue
            r = json.loads(done.stdout.splitlines()[-1])
            r["per_second"] = r["grabs"] / r["wall"]
            r["ms_cpu_per_grab"] = 1000 * r["cpu"] / r["grabs"]
            r["ms_x_per_grab"] = 1000 * r["xcpu"] / r["grabs"]
            results[method] = r
    finally:
        if changer:
            changer.kill()
            changer.wait()
        server.terminate()
        server.wait()

    screen = "changing every 10 ms" if args.changing else "still"
    print(f"{args.size} Xvfb, screen {screen}, {args.seconds:g} s per method")
    print(f"{'method':<12} {'grabs/s':>9} {'CPU ms/grab':>12} {'of it X':>8} {'dropped':>8}")
    for method, r in results.items():
        if "error" in r:
            print(f"{method:<12} not run: {' '.join(r['error'])}")
            continue
        total = r["ms_cpu_per_grab"] + r["ms_x_per_grab"]
        dropped = r.get("dropped", "")
        print(f"{method:<12} {r['per_second']:9.1f} {total:12.2f} {r['ms_x_per_grab']:8.2f} "
              f"{dropped:>8}")


if __name__ == "__main__":
    main()
