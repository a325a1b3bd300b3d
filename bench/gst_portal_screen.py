#!/usr/bin/python3
# SPDX-License-Identifier: MIT
# vornvideosrc on the screen of a Wayland session beside GStreamer's pipewiresrc on the same
# node, in the same run: the screen in its own format (BGRx) into fakesink, and BGR and I420
# (pipewiresrc through videoconvert): CPU milliseconds per frame of the reading process and of
# the PipeWire daemon, over SECONDS after a warm-up of 3 s, medians of RUNS runs, alternating.
# Run it inside the portal's test session started around a source of the size and rate wanted
# (VMC_PORTAL_SOURCE_SIZE=1920x1080 VMC_PORTAL_SOURCE_RATE=60 tests/portal/session.sh start DIR
# PRODUCER, then the variables of DIR/env); the producer's own CPU is not counted. Not part of
# the test command. Each measurement runs in a process of its own: the portal's cast runs on in
# the process that started it, and its stream would be counted in the peer's figures.
#
#   /usr/bin/python3 bench/gst_portal_screen.py [BUILD_DIR] [SECONDS] [RUNS]
#   (default build-ci/release, 10 s, 3 runs)
import json
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gst_measure import daemon_pid, load_gstreamer, measure, median_row  # noqa: E402

if len(sys.argv) == 5 and sys.argv[1] == "--one":
    # A child: one pipeline measured, its figures on standard output.
    _, _, build, seconds, description = sys.argv
    Gst = load_gstreamer(build)
    print(json.dumps(measure(Gst, description, daemon_pid(), float(seconds))))
    sys.exit(0)

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build-ci", "release")
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 10.0
runs = int(sys.argv[3]) if len(sys.argv) > 3 else 3


def measured(description):
    out = subprocess.run([sys.executable, __file__, "--one", build, str(seconds), description],
                         capture_output=True, text=True, check=False)
    if out.returncode != 0:
        sys.exit(f"{description}: {out.stderr.strip()}")
    return json.loads(out.stdout)


# The session's source node, its size and rate: NAME:WxH:RATE:COLOUR.
node, size, rate, _ = os.environ["VMC_PORTAL_SOURCE"].split(":")
print(f"{size} at {rate}, {seconds:g} s after 3 s, median of {runs}; CPU ms a frame "
      "(process + PipeWire daemon), frames a second")
for wanted, peer in (("BGRx", "video/x-raw"),
                     ("BGR", "video/x-raw ! videoconvert ! video/x-raw,format=BGR"),
                     ("I420", "video/x-raw ! videoconvert ! video/x-raw,format=I420")):
    ours = f"vornvideosrc kind=desktop ! video/x-raw,format={wanted},framerate={rate}/1"
    theirs = f"pipewiresrc target-object={node} ! {peer}"
    results = {"vornvideosrc": [], "pipewiresrc": []}
    for _ in range(runs):
        for label, description in (("vornvideosrc", ours), ("pipewiresrc", theirs)):
            results[label].append(measured(description))
    rows = {label: median_row(f"{wanted:5} {label:12}", r) for label, r in results.items()}
    print(f"{'':5} ratio {rows['vornvideosrc'] / rows['pipewiresrc']:.2f}", flush=True)
