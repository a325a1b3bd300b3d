# SPDX-License-Identifier: MIT
# The package's tests run in the virtual world (VORN_WORLD=virtual) unless a test starts a
# process of its own for the host world (an Xvfb, a sound server).
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import pytest

os.environ.setdefault("VORN_WORLD", "virtual")

import vorncapture  # noqa: E402
import xhelpers  # noqa: E402
from vorncapture import _testing  # noqa: E402


@pytest.fixture
def world():
    """The virtual world with a fixed picture shown; the test picture and devices after."""
    yield _testing
    _testing.use_test_picture()
    _testing.reset_media()


def helper_env(**extra):
    """The environment of a helper program (X server, sound server): without a sanitizer
    runtime preloaded for the interpreter under test."""
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    env.update(extra)
    return env


def run_python(code, env, timeout=60, args=()):
    """Runs `code` in a fresh interpreter (a world is fixed per process) with `args` as its
    sys.argv[1:]; its result."""
    full = dict(os.environ)
    full.update(env)
    return subprocess.run([sys.executable, "-c", code, *args], env=full, capture_output=True,
                          text=True, timeout=timeout)


@pytest.fixture
def xvfb():
    """An X server of its own at 640x480 (it picks a free display); its DISPLAY value."""
    if shutil.which("Xvfb") is None:
        pytest.skip("Xvfb is missing (package xvfb)")
    server, display = xhelpers.start_xvfb("640x480", env=helper_env())
    if server is None:
        pytest.fail("Xvfb did not start")
    yield display
    xhelpers.stop_xvfb(server)


@pytest.fixture
def sound_server():
    """A private sound server with a null output and a 440 Hz sine source; its PULSE_SERVER."""
    if shutil.which("pulseaudio") is None:
        pytest.skip("pulseaudio is missing (package pulseaudio)")
    folder = tempfile.mkdtemp(prefix="vorncapture-pulse.")
    run = os.path.join(folder, "run")
    os.mkdir(run)
    with open(os.path.join(folder, "server.pa"), "w") as script:
        script.write("load-module module-native-protocol-unix\n"
                     "load-module module-null-sink\n"
                     "load-module module-sine-source frequency=440\n")
    env = helper_env(HOME=folder, XDG_RUNTIME_DIR=run, PULSE_RUNTIME_PATH=run)
    subprocess.run(["pulseaudio", "-n", "-F", os.path.join(folder, "server.pa"),
                    "--exit-idle-time=-1", "--daemonize=yes", "--use-pid-file=yes",
                    "--log-target=file:" + os.path.join(folder, "server.log")],
                   env=env, check=True, timeout=30)
    socket = os.path.join(run, "native")
    for _ in range(100):
        if os.path.exists(socket):
            break
        time.sleep(0.1)
    with open(os.path.join(run, "pid")) as pidfile:
        pid = int(pidfile.read())
    yield "unix:" + socket
    os.kill(pid, signal.SIGTERM)
    for _ in range(50):
        try:
            os.kill(pid, 0)
        except ProcessLookupError:
            break
        time.sleep(0.1)
    shutil.rmtree(folder, ignore_errors=True)
