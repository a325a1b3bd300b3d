#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Full-screen grabs into NumPy arrays on one Xvfb (1920x1080 by default): grabs a second and
CPU per grab (the grabbing process's threads and the X server's) for vorncapture into BGR and
as BGRx views, Pillow's ImageGrab.grab() and PyAV's x11grab decoded with
to_ndarray("bgr24"), each in a process of its own, on a still and on a moving screen, in one run.

    PYTHONPATH=build/python python3 bench/python_grab.py [--seconds 5] [--size 1920x1080]
        [--screens still,moving] [--methods vorncapture-bgr,vorncapture-bgrx,pyav,pillow]
        [--fps 10000]

The moving screen is the whole root window repainted every 10 ms by another X client; the X
server's CPU for those repaints (measured alone before the methods run) is taken out of every
method's, so what is left is what the grabs cost it. Pillow and PyAV are Debian's python3-pil
and python3-av (benchmark only); a method whose package is missing is reported as such.
"""
import argparse
import json
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python",
                                "tests"))
import xhelpers  # noqa: E402

GRAB = r"""
import json, os, resource, sys, time
import numpy as np
method, seconds, xpid, size = sys.argv[1], float(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
fps, fmt = int(sys.argv[5]), sys.argv[6]
width, height = map(int, size.split("x"))

def xcpu():
    with open(f"/proc/{xpid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

def cpu():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime

if method.startswith("vorncapture"):
    import vorncapture
    stream = vorncapture.open("desktop", fps=fps, format=fmt)
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
if method.startswith("vorncapture"):
    result["dropped"] = stream.lost
print(json.dumps(result))
"""

FORMATS = {"vorncapture-bgr": "BGR", "vorncapture-bgrx": "BGRx"}


def process_cpu(pid):
    """The CPU time a process has spent, in seconds (all its threads)."""
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def measure(screen, args):
    """Every method on one screen ("still" or "moving"): their results by name."""
    server, display = xhelpers.start_xvfb(args.size)
    if server is None:
        sys.exit("Xvfb did not start")
    env = dict(os.environ, DISPLAY=display, VORN_WORLD="host")
    changer = None
    results = {}
    try:
        if screen == "moving":
            changer = subprocess.Popen([sys.executable, xhelpers.__file__, "repaint", display,
                                        "0.01"], env=env)
        time.sleep(0.5)
        # The X server's CPU a second with nobody grabbing.
        before, began = process_cpu(server.pid), time.monotonic()
        time.sleep(min(args.seconds, 3.0))
        idle = (process_cpu(server.pid) - before) / (time.monotonic() - began)
        for method in args.methods.split(","):
            done = subprocess.run([sys.executable, "-c", GRAB, method, str(args.seconds),
                                   str(server.pid), args.size, str(args.fps),
                                   FORMATS.get(method, "")], env=env,
                                  capture_output=True, text=True, timeout=args.seconds + 120)
            if done.returncode != 0:
                results[method] = {"error": done.stderr.strip().splitlines()[-1:]}
                continue
            r = json.loads(done.stdout.splitlines()[-1])
            r["per_second"] = r["grabs"] / r["wall"]
            r["ms_cpu_per_grab"] = 1000 * r["cpu"] / r["grabs"]
            r["ms_x_per_grab"] = 1000 * max(0.0, r["xcpu"] - idle * r["wall"]) / r["grabs"]
            results[method] = r
    finally:
        if changer:
            changer.kill()
            changer.wait()
        xhelpers.stop_xvfb(server)
    return results, idle


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=5.0)
    parser.add_argument("--size", default="1920x1080")
    parser.add_argument("--screens", default="still,moving")
    parser.add_argument("--methods", default="vorncapture-bgr,vorncapture-bgrx,pyav,pillow")
    parser.add_argument("--fps", type=int, default=10000,
                        help="the rate asked of vorncapture (above 1000: back to back)")
    args = parser.parse_args()

    print(f"{args.size} Xvfb, {args.seconds:g} s per method, vorncapture at fps={args.fps}")
    print(f"{'screen':<7} {'method':<17} {'grabs/s':>9} {'CPU ms/grab':>12} {'of it X':>8} "
          f"{'lost':>6}")
    for screen in args.screens.split(","):
        results, idle = measure(screen, args)
        for method, r in results.items():
            if "error" in r:
                print(f"{screen:<7} {method:<17} not run: {' '.join(r['error'])}")
                continue
            total = r["ms_cpu_per_grab"] + r["ms_x_per_grab"]
            lost = r.get("dropped", "")
            print(f"{screen:<7} {method:<17} {r['per_second']:9.1f} {total:12.2f} "
                  f"{r['ms_x_per_grab']:8.2f} {lost:>6}")
        if screen == "moving":
            print(f"        (the X server's own repaints, left out above: "
                  f"{1000 * idle:.0f} ms of CPU a second)")


if __name__ == "__main__":
    main()
