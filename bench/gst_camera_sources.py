#!/usr/bin/python3
# SPDX-License-Identifier: MIT
# vornvideosrc beside GStreamer's pipewiresrc on the same PipeWire camera node in the same run:
# a 1280x720 Motion-JPEG node and a 1280x720 YUY2 node at 30 frames a second (GStreamer's test
# picture, made by gst-launch-1.0 into pipewiresink; their own CPU is not counted), each taken
# into fakesink in the camera's own format and as I420: CPU milliseconds per frame of the reading
# process and of the PipeWire daemon, over SECONDS after a warm-up of 3 s, medians of RUNS runs.
# Each run reads a node started for it. Run it inside a PipeWire session (tests/portal/session.sh start DIR PRODUCER, then the
# variables of DIR/env); not part of the test command.
#
#   /usr/bin/python3 bench/gst_camera_sources.py [BUILD_DIR] [SECONDS] [RUNS]
#   (default build-ci/release, 10 s, 3 runs)
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gst_measure import daemon_pid, load_gstreamer, measure, median_row  # noqa: E402

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build-ci", "release")
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 10.0
runs = int(sys.argv[3]) if len(sys.argv) > 3 else 3
Gst = load_gstreamer(build)


def camera(name, caps, encoder):
    return subprocess.Popen(
        ["gst-launch-1.0", "-q", "videotestsrc", "pattern=smpte", "is-live=true", "!",
         caps + ",width=1280,height=720,framerate=30/1", "!", encoder, "!", "pipewiresink",
         "mode=provide",
         f"stream-properties=props,media.class=Video/Source,node.name={name},"
         f"node.description={name}"],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


daemon = daemon_pid()
nodes = {"MJPEG": ("bench-mjpg", "video/x-raw,format=I420", "jpegenc"),
         "YUY2": ("bench-yuy2", "video/x-raw,format=YUY2", "identity")}
cases = [
    ("MJPEG", "image/jpeg", "image/jpeg", "image/jpeg"),
    ("MJPEG", "I420", "video/x-raw,format=I420",
     "image/jpeg ! jpegdec ! videoconvert ! video/x-raw,format=I420"),
    ("YUY2", "YUY2", "video/x-raw,format=YUY2", "video/x-raw,format=YUY2"),
    ("YUY2", "I420", "video/x-raw,format=I420",
     "video/x-raw,format=YUY2 ! videoconvert ! video/x-raw,format=I420"),
]
print(f"1280x720 at 30, {seconds:g} s after 3 s, median of {runs}; CPU ms a frame "
      "(process + PipeWire daemon), frames a second")


def on_fresh_node(camera_format, description):
    """measure() on a node started for this run alone: a producer left idle, or read in turn
    by several streams, may stop delivering (gst-launch-1.0's pipewiresink)."""
    producer = camera(*nodes[camera_format])
    try:
        time.sleep(2)
        return measure(Gst, description, daemon, seconds)
    finally:
        producer.terminate()
        producer.wait()


for camera_format, wanted, ours_caps, peer_caps in cases:
    node = nodes[camera_format][0]
    rows = {}
    for label, description in (
            ("vornvideosrc", f'vornvideosrc kind=camera device="{node}" ! {ours_caps}'),
            ("pipewiresrc", f"pipewiresrc target-object={node} ! {peer_caps}")):
        results = [on_fresh_node(camera_format, description) for _ in range(runs)]
        rows[label] = median_row(f"{camera_format:5} -> {wanted:10} {label:12}", results)
    print(f"{'':19} ratio {rows['vornvideosrc'] / rows['pipewiresrc']:.2f}", flush=True)
