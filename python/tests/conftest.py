# SPDX-License-Identifier: MIT
# The package's tests run in the virtual world (VORN_WORLD=virtual) unless a test starts a
# process of its own for the host world (an Xvfb, a sound server).
import os
import shutil
import subprocess
import sys
import tempfile

import pytest

os.environ.setdefault("VORN_WORLD", "virtual")

import vorncapture  # noqa: E402
from vorncapture import _testing  # noqa: E402


@pytest.fixture
def world():
    """The virtual world with a fixed picture shown; the test picture and devices after."""
    yield _testing
    _testing.use_test_picture()
    _testing.reset_media()


def run_python(code, env, timeout=60):
    """Runs `code` in a fresh interpreter (a world is fixed per process); its result."""
    full = dict(os.environ)
    full.update(env)
    return subprocess.run([sys.executable, "-c", code], env=full, capture_output=True,
                          text=True, timeout=timeout)


@pytest.fixture
def xvfb():
    """An X server of its own at 640x480 (it picks a free display); its DISPLAY value."""
    if shutil.which("Xvfb") is None:
        pytest.skip("Xvfb is missing (package xvfb)")
    folder = tempfile.mkdtemp(prefix="vorncapture-x.")
    read, write = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "640x480x24",
                               "-nolisten", "tcp"], pass_fds=(write,),
                              stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as pipe:
        number = pipe.readline().strip()
    if not number:
        server.kill()
        pytest.fail("Xvfb did not start")
    yield ":" + number
    server.terminate()
    server.wait(timeout=10)
    shutil.rmtree(folder, ignore_errors=True)
