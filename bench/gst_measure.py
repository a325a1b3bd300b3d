# SPDX-License-Identifier: MIT
# What the GStreamer benchmarks beside PipeWire's own source share: the plugin of a build, the
# session's PipeWire daemon, and the CPU a pipeline costs a frame, its own process's and the
# daemon's. Imported by bench/gst_camera_sources.py and bench/gst_portal_screen.py.
import os
import resource
import statistics
import subprocess
import sys
import time


def load_gstreamer(build):
    """GStreamer's Gst module, with the plugin of `build` found and the host world chosen."""
    plugins = os.path.join(build, "lib", "gstreamer-1.0")
    if not os.path.exists(os.path.join(plugins, "libgstvorn.so")):
        sys.exit(f"no plugin in {plugins} (build gstvorn first)")
    os.environ["GST_PLUGIN_PATH_1_0"] = plugins
    os.environ["VORN_WORLD"] = "host"
    import gi

    gi.require_version("Gst", "1.0")
    from gi.repository import Gst

    Gst.init(None)
    return Gst


def daemon_pid():
    """The PipeWire daemon of this session: the one whose runtime folder is ours."""
    out = subprocess.run(["pgrep", "-u", str(os.getuid()), "-x", "pipewire"],
                         capture_output=True, text=True).stdout.split()
    for pid in out:
        try:
            with open(f"/proc/{pid}/environ", "rb") as f:
                env = f.read().split(b"\0")
        except OSError:
            continue
        if ("XDG_RUNTIME_DIR=" + os.environ.get("XDG_RUNTIME_DIR", "")).encode() in env:
            return int(pid)
    sys.exit("no PipeWire daemon of this session")


def ticks(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def own_cpu():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def measure(Gst, description, daemon, seconds, warmup=3.0):
    """(CPU ms a frame of this process, of the daemon, frames a second) of `description` into
    fakesink, over `seconds` after `warmup` seconds."""
    hz = os.sysconf("SC_CLK_TCK")
    pipeline = Gst.parse_launch(description + " ! fakesink name=out sync=false")
    count = [0]

    def counted(pad, info):
        count[0] += 1
        return Gst.PadProbeReturn.OK

    pipeline.get_by_name("out").get_static_pad("sink").add_probe(Gst.PadProbeType.BUFFER, counted)
    pipeline.set_state(Gst.State.PLAYING)
    bus = pipeline.get_bus()
    deadline = time.monotonic() + warmup
    while time.monotonic() < deadline:
        message = bus.timed_pop_filtered(100 * Gst.MSECOND, Gst.MessageType.ERROR)
        if message is not None:
            pipeline.set_state(Gst.State.NULL)
            sys.exit(f"{description}: {message.parse_error()[0].message}")
    frames0, cpu0, daemon0, wall0 = count[0], own_cpu(), ticks(daemon), time.monotonic()
    time.sleep(seconds)
    frames, cpu, daemon_cpu = count[0] - frames0, own_cpu() - cpu0, (ticks(daemon) - daemon0) / hz
    wall = time.monotonic() - wall0
    pipeline.set_state(Gst.State.NULL)
    if frames == 0:
        sys.exit(f"{description}: no frame")
    return cpu * 1000 / frames, daemon_cpu * 1000 / frames, frames / wall


def median_row(label, results, tail=None):
    """The medians of measure()'s results, printed as one row (ending in the frames a second,
    or in `tail`); their sum, ms a frame."""
    own = statistics.median(r[0] for r in results)
    pw = statistics.median(r[1] for r in results)
    if tail is None:
        tail = f"  {statistics.median(r[2] for r in results):5.1f} fps"
    print(f"{label} {own:6.2f} + {pw:5.2f} = {own + pw:6.2f} ms{tail}", flush=True)
    return own + pw
