#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""A PipeWire camera node read into BGR NumPy arrays: frames a second and CPU per frame (the
reading process's threads, and the PipeWire daemon's) for vorncapture and for OpenCV's
VideoCapture through its GStreamer backend (pipewiresrc), each in a process of its own, in one
run, from the same node.

    PYTHONPATH=build/python python3 bench/python_camera.py [--seconds 5] [--size 640x480]
        [--rate 30] [--producer build-ci/native/bin/vmc_test_producer]

The node is the test producer of the portal stages' session (tests/portal/session.sh: a
private PipeWire with WirePlumber, one Video/Source node of BGRx frames in one colour), asked
for the size and rate given. OpenCV is Debian's python3-opencv (benchmark only); when its
GStreamer backend does not open the pipeline, what it printed is shown.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile

from python_grab import process_cpu

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")

READ = r"""
import json, os, resource, sys, time
method, seconds, width, height, node, rate = sys.argv[1], float(sys.argv[2]), \
    int(sys.argv[3]), int(sys.argv[4]), sys.argv[5], int(sys.argv[6])

def cpu():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime

if method == "vorncapture":
    import vorncapture
    camera = [c for c in vorncapture.sources("camera") if c.name == node]
    if not camera:
        sys.exit(f"no camera {node} among {[c.name for c in vorncapture.sources('camera')]}")
    stream = vorncapture.open(camera[0], size=(width, height), fps=rate, format="BGR")
    read = lambda: stream.grab(timeout=10).array
else:
    import cv2
    pipeline = (f"pipewiresrc target-object={node} ! videoconvert ! "
                f"video/x-raw,format=BGR,width={width},height={height} ! "
                "appsink drop=false max-buffers=2 sync=false")
    capture = cv2.VideoCapture(pipeline, cv2.CAP_GSTREAMER)
    if not capture.isOpened():
        sys.exit("cv2.VideoCapture did not open: " + pipeline)
    def read():
        ok, image = capture.read()
        if not ok:
            raise RuntimeError("cv2.VideoCapture.read() returned no frame")
        return image

for _ in range(5):
    shape = read().shape
assert shape == (height, width, 3), shape
lost0 = stream.lost if method == "vorncapture" else 0
start, cpu0, count = time.monotonic(), cpu(), 0
while time.monotonic() - start < seconds:
    read()
    count += 1
result = {"frames": count, "wall": time.monotonic() - start, "cpu": cpu() - cpu0}
if method == "vorncapture":
    result["lost"] = stream.lost - lost0  # while measured
print(json.dumps(result))
"""


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=5.0)
    parser.add_argument("--size", default="640x480")
    parser.add_argument("--rate", type=int, default=30)
    parser.add_argument("--producer", default=os.path.join(ROOT, "build-ci", "native", "bin",
                                                           "vmc_test_producer"))
    parser.add_argument("--methods", default="vorncapture,opencv")
    args = parser.parse_args()
    width, height = map(int, args.size.split("x"))

    session = tempfile.mkdtemp(prefix="vorncapture-camera.")
    script = os.path.join(ROOT, "tests", "portal", "session.sh")
    started = subprocess.run(["bash", script, "start", session, args.producer],
                             env=dict(os.environ, VMC_PORTAL_SOURCE_SIZE=args.size,
                                      VMC_PORTAL_SOURCE_RATE=str(args.rate)),
                             capture_output=True, text=True, timeout=180)
    results = {}
    try:
        if started.returncode != 0:
            sys.exit("the PipeWire session did not start:\n" + started.stdout + started.stderr)
        env = dict(os.environ)
        with open(os.path.join(session, "env")) as lines:
            env.update(line.rstrip("\n").split("=", 1) for line in lines if "=" in line)
        node = env["VMC_PORTAL_SOURCE"].split(":")[0]
        with open(os.path.join(session, "pids")) as pids:
            daemon = [int(p.split()[0]) for p in pids if p.split()[1:] == ["pipewire"]][0]
        for method in args.methods.split(","):
            before = process_cpu(daemon)
            done = subprocess.run([sys.executable, "-c", READ, method, str(args.seconds),
                                   str(width), str(height), node, str(args.rate)], env=env,
                                  capture_output=True, text=True, timeout=args.seconds + 120)
            spent = process_cpu(daemon) - before
            if done.returncode != 0:
                results[method] = {"error": (done.stdout + done.stderr).strip()}
                continue
            r = json.loads(done.stdout.splitlines()[-1])
            r["daemon"] = spent
            results[method] = r
    finally:
        subprocess.run(["bash", script, "stop", session], capture_output=True, timeout=60)

    print(f"PipeWire node {args.size} BGRx at {args.rate} frames a second, read into BGR, "
          f"{args.seconds:g} s per method")
    print(f"{'method':<12} {'frames/s':>9} {'CPU ms/frame':>13} {'of it PipeWire':>15} "
          f"{'lost':>5}")
    for method, r in results.items():
        if "error" in r:
            print(f"{method:<12} not run:\n{r['error']}")
            continue
        daemon = 1000 * r["daemon"] / r["frames"]
        total = 1000 * r["cpu"] / r["frames"] + daemon
        print(f"{method:<12} {r['frames'] / r['wall']:9.1f} {total:13.2f} {daemon:15.2f} "
              f"{r.get('lost', ''):>5}")


if __name__ == "__main__":
    main()
