#!/usr/bin/python3
# SPDX-License-Identifier: MIT
# vmcapture's desktop of a Wayland session into Y4M, by its default road (the portal's own
# frames, converted once) and by the desktop device (--via queued), beside GStreamer on a
# descriptor of the portal's own (pipewiresrc fd=.. path=.. ! videoconvert ! I420 ! y4menc !
# filesink), in the same run: CPU milliseconds per frame written of the capturing process and of
# the PipeWire daemon over its whole life, frames written, and how many differ from the frame
# before (the source marks every frame, so a repeat shows). Each run reads a fresh source node
# (PRODUCER, the build's vmc_test_producer, BGRx, WxH at RATE, its frames marked with
# VMC_TEST_PRODUCER_MARK; handed out by the test backend) and writes into /dev/shm; the
# producer's own CPU is not counted. Not part of the test command.
#
# Run it inside the portal's test session (tests/portal/session.sh start DIR PRODUCER, then the
# variables of DIR/env):
#   /usr/bin/python3 bench/tool_portal_screen.py BUILD_DIR PRODUCER [WxH] [RATE] [SECONDS] [RUNS]
#   (the tool of BUILD_DIR/bin; default 1920x1080, 60, 10 s, 3 runs, alternating)
import hashlib
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gst_measure import daemon_pid, ticks  # noqa: E402

from gi.repository import Gio, GLib  # noqa: E402

tool, producer_program = os.path.join(sys.argv[1], "bin", "vmcapture"), sys.argv[2]
size = sys.argv[3] if len(sys.argv) > 3 else "1920x1080"
rate = int(sys.argv[4]) if len(sys.argv) > 4 else 60
seconds = float(sys.argv[5]) if len(sys.argv) > 5 else 10.0
runs = int(sys.argv[6]) if len(sys.argv) > 6 else 3
control = os.environ["VMC_PORTAL_CONTROL"]
daemon = daemon_pid()
hz = os.sysconf("SC_CLK_TCK")
PORTAL, PATH = "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop"


class Portal:
    """A ScreenCast session of this process's own: the descriptor and node of its stream."""

    def __init__(self):
        self.bus = Gio.bus_get_sync(Gio.BusType.SESSION)
        self.sender = self.bus.get_unique_name()[1:].replace(".", "_")
        self.count = 0
        session = self.request("CreateSession", lambda t: GLib.Variant(
            "(a{sv})", ({"handle_token": GLib.Variant("s", t),
                         "session_handle_token": GLib.Variant("s", t + "s")},)))
        self.session = session["session_handle"]
        self.request("SelectSources", lambda t: GLib.Variant(
            "(oa{sv})", (self.session, {"handle_token": GLib.Variant("s", t),
                                        "types": GLib.Variant("u", 1)})))
        started = self.request("Start", lambda t: GLib.Variant(
            "(osa{sv})", (self.session, "", {"handle_token": GLib.Variant("s", t)})))
        self.node = started["streams"][0][0]
        reply, fds = self.bus.call_with_unix_fd_list_sync(
            PORTAL, PATH, "org.freedesktop.portal.ScreenCast", "OpenPipeWireRemote",
            GLib.Variant("(oa{sv})", (self.session, {})), None, Gio.DBusCallFlags.NONE, 10000,
            None, None)
        self.fd = fds.get(reply.unpack()[0])

    def request(self, method, args):
        self.count += 1
        token = f"vmcbench{os.getpid()}n{self.count}"
        path = f"{PATH}/request/{self.sender}/{token}"
        loop, answer = GLib.MainLoop(), {}

        def on_response(_bus, _sender, _path, _iface, _signal, params):
            answer["response"], answer["results"] = params.unpack()
            loop.quit()

        sub = self.bus.signal_subscribe(PORTAL, "org.freedesktop.portal.Request", "Response",
                                        path, None, Gio.DBusSignalFlags.NONE, on_response)
        self.bus.call_sync(PORTAL, PATH, "org.freedesktop.portal.ScreenCast", method,
                           args(token), None, Gio.DBusCallFlags.NONE, 10000, None)
        GLib.timeout_add_seconds(10, loop.quit)
        loop.run()
        self.bus.signal_unsubscribe(sub)
        if answer.get("response") != 0:
            sys.exit(f"{method}: response {answer.get('response')}")
        return answer["results"]

    def close(self):
        os.close(self.fd)
        self.bus.call_sync(PORTAL, self.session, "org.freedesktop.portal.Session", "Close", None,
                           None, Gio.DBusCallFlags.NONE, 10000, None)


def source_node(name):
    """A fresh producer of marked frames, handed out by the backend as the screen."""
    producer = subprocess.Popen([producer_program, name, size, str(rate), "336699"],
                                env=dict(os.environ, VMC_TEST_PRODUCER_MARK="1"),
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(100):
        if f'"node.name": "{name}"' in subprocess.run(["pw-dump"], capture_output=True,
                                                      text=True).stdout:
            break
        time.sleep(0.1)
    with open(os.path.join(control, "node"), "w") as f:
        f.write(name + "\n")
    return producer


def frames_of(path):
    """(frames, frames that differ from the one before) of a Y4M file of 4:2:0 frames."""
    frames = changed = 0
    last = None
    with open(path, "rb") as f:
        header = f.readline().split()
        fields = {word[:1]: word[1:] for word in header[1:]}
        w, h = int(fields[b"W"]), int(fields[b"H"])
        length = w * h + 2 * ((w + 1) // 2) * ((h + 1) // 2)
        while f.readline().startswith(b"FRAME"):
            digest = hashlib.md5(f.read(length)).digest()
            frames += 1
            changed += digest != last
            last = digest
    return frames, changed


def run(label, out):
    """One capture into `out`: (own CPU ms a frame, daemon's, frames, distinct, fps)."""
    name = f"vmc-bench-{label}-{time.monotonic_ns()}"
    producer = source_node(name)
    portal = None
    if label == "gst":
        portal = Portal()
        command = ["gst-launch-1.0", "-q", "pipewiresrc", f"fd={portal.fd}",
                   f"path={portal.node}", f"num-buffers={int(seconds * rate)}", "!",
                   "videoconvert", "!", "video/x-raw,format=I420", "!", "y4menc", "!",
                   "filesink", f"location={out}"]
    else:
        via = ["--via", "queued"] if label == "queued" else []
        command = [tool, "capture", "desktop", *via, "-r", str(rate), "-t", str(seconds), "-q",
                   "-o", out]
    daemon0, began = ticks(daemon), time.monotonic()
    child = subprocess.Popen(command, pass_fds=(portal.fd,) if portal else ())
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.monotonic() - began
    daemon_cpu = (ticks(daemon) - daemon0) / hz
    if portal:
        portal.close()
    producer.terminate()
    producer.wait()
    if status != 0:
        sys.exit(f"{label}: {command} ended with status {status}")
    frames, distinct = frames_of(out)
    os.remove(out)
    own = usage.ru_utime + usage.ru_stime
    return own * 1000 / frames, daemon_cpu * 1000 / frames, frames, distinct, frames / wall


results = {"portal": [], "queued": [], "gst": []}
with tempfile.TemporaryDirectory(dir="/dev/shm") as scratch:
    for _ in range(runs):
        for label in results:
            results[label].append(run(label, os.path.join(scratch, label + ".y4m")))
            print(label, "%.2f + %.2f ms, %d frames (%d differ), %.1f fps" % results[label][-1],
                  flush=True)
print(f"{size} at {rate}, {seconds:g} s a run, median of {runs}; CPU ms a frame written "
      "(process + PipeWire daemon), frames written (differing from the one before)")
rows = {}
for label, rs in results.items():
    own = statistics.median(r[0] for r in rs)
    pw = statistics.median(r[1] for r in rs)
    counts = ", ".join(f"{r[2]} ({r[3]})" for r in rs)
    rows[label] = own + pw
    print(f"{label:7} {own:6.2f} + {pw:5.2f} = {own + pw:6.2f} ms  frames {counts}", flush=True)
print(f"ratio portal / gst {rows['portal'] / rows['gst']:.2f}, "
      f"portal / queued {rows['portal'] / rows['queued']:.2f}")
