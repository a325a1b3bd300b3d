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
# With `tool`, the capture tool's camera road instead, as whole processes writing files: the
# Motion-JPEG node into .mkv (its images stored) and into Y4M (decoded to I420), beside
# gst-launch-1.0 doing the same work (pipewiresrc do-timestamp=true, since the node's buffers
# come unstamped, ! image/jpeg ! matroskamux, and
# ! jpegdec ! videoconvert ! I420 ! y4menc); CPU of the process and of the daemon over SECONDS
# after 3 s, per frame of the node's 30 a second (ffprobe counts the frames in each file).
#
#   /usr/bin/python3 bench/gst_camera_sources.py [BUILD_DIR] [SECONDS] [RUNS] [tool]
#   (default build-ci/release, 10 s, 3 runs)
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gst_measure import daemon_pid, load_gstreamer, measure, median_row, ticks  # noqa: E402

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build-ci", "release")
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 10.0
runs = int(sys.argv[3]) if len(sys.argv) > 3 else 3
tool_road = len(sys.argv) > 4 and sys.argv[4] == "tool"
Gst = load_gstreamer(build)
hz = os.sysconf("SC_CLK_TCK")


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


def on_fresh_node(camera_format, run):
    """run() on a node started for this run alone: a producer left idle, or read in turn by
    several streams, may stop delivering (gst-launch-1.0's pipewiresink)."""
    producer = camera(*nodes[camera_format])
    try:
        time.sleep(2)
        return run()
    finally:
        producer.terminate()
        producer.wait()


def measure_command(argv, output, daemon):
    """(CPU ms a frame of the process, of the daemon, frames in the file) of a command that
    writes `output` from the node: its CPU over `seconds` after 3 s, read from /proc, per frame
    of the node's 30 a second; then it is stopped with SIGINT and finishes its file."""
    with open(output + ".log", "w") as log:
        child = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=log)
    time.sleep(3)
    if child.poll() is not None:
        sys.exit(f"{argv[0]} ended at once (see {output}.log)")
    cpu0, daemon0, wall0 = ticks(child.pid), ticks(daemon), time.monotonic()
    time.sleep(seconds)
    cpu, daemon_cpu = (ticks(child.pid) - cpu0) / hz, (ticks(daemon) - daemon0) / hz
    frames = 30 * (time.monotonic() - wall0)
    child.send_signal(2)
    if child.wait(30) != 0:
        sys.exit(f"{argv[0]} failed (see {output}.log)")
    written = subprocess.run(
        ["ffprobe", "-v", "error", "-count_packets", "-select_streams", "v:0", "-show_entries",
         "stream=nb_read_packets", "-of", "csv=p=0", output],
        capture_output=True, text=True).stdout.strip()
    return cpu * 1000 / frames, daemon_cpu * 1000 / frames, written


def tool_rows():
    node, scratch = nodes["MJPEG"][0], os.environ.get("TMPDIR", "/tmp")
    tool = os.path.join(build, "bin", "vmcapture")
    pipewiresrc = ["gst-launch-1.0", "-e", "-q", "pipewiresrc", "do-timestamp=true",
                   f"target-object={node}", "!"]
    cases = [
        ("mkv", [tool, "capture", "camera", "--name", node, "--world", "host", "-q", "-o"],
         pipewiresrc + ["image/jpeg", "!", "matroskamux", "!", "filesink", "location="]),
        ("y4m", [tool, "capture", "camera", "--name", node, "--world", "host", "-q", "-o"],
         pipewiresrc + ["image/jpeg", "!", "jpegdec", "!", "videoconvert", "!",
                        "video/x-raw,format=I420", "!", "y4menc", "!", "filesink", "location="]),
    ]
    for container, ours, peer in cases:
        rows = {}
        for label, argv in (("vmcapture", ours), ("gst-launch-1.0", peer)):
            output = os.path.join(scratch, f"bench-camera-{label}.{container}")
            argv = argv[:-1] + [argv[-1] + output] if argv[-1].endswith("=") else argv + [output]
            results = [on_fresh_node("MJPEG", lambda: measure_command(argv, output, daemon))
                       for _ in range(runs)]
            rows[label] = median_row(
                f"MJPEG -> {container:4} {label:15}", results,
                f"  frames in the files: {', '.join(r[2] for r in results)}")
        print(f"{'':13} ratio {rows['vmcapture'] / rows['gst-launch-1.0']:.2f}", flush=True)


if tool_road:
    tool_rows()
    sys.exit(0)

for camera_format, wanted, ours_caps, peer_caps in cases:
    node = nodes[camera_format][0]
    rows = {}
    for label, description in (
            ("vornvideosrc", f'vornvideosrc kind=camera device="{node}" ! {ours_caps}'),
            ("pipewiresrc", f"pipewiresrc target-object={node} ! {peer_caps}")):
        results = [on_fresh_node(camera_format, lambda: measure(Gst, description, daemon, seconds))
                   for _ in range(runs)]
        rows[label] = median_row(f"{camera_format:5} -> {wanted:10} {label:12}", results)
    print(f"{'':19} ratio {rows['vornvideosrc'] / rows['pipewiresrc']:.2f}", flush=True)
