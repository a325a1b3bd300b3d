# SPDX-License-Identifier: MIT
"""An X server of one's own and its root window painted through Xlib (ctypes, nothing beyond the
standard library): shared by the package's tests and the screen benchmark.

    python3 xhelpers.py repaint DISPLAY [PERIOD]

repaints the whole screen of DISPLAY with a new colour every PERIOD seconds (0.01) until killed.
"""
import ctypes
import os
import subprocess
import sys
import time


def start_xvfb(size="640x480", env=None):
    """An Xvfb at `size` ("WIDTHxHEIGHT", 24 bits) on a display it picks: (process, DISPLAY),
    or (None, None) when it did not start."""
    read, write = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", size + "x24",
                               "-nolisten", "tcp"], pass_fds=(write,),
                              stderr=subprocess.DEVNULL, env=env)
    os.close(write)
    with os.fdopen(read) as pipe:
        number = pipe.readline().strip()
    if not number:
        server.kill()
        server.wait()
        return None, None
    return server, ":" + number


def stop_xvfb(server):
    server.terminate()
    server.wait(timeout=10)


class RootPainter:
    """A connection to `display` that paints its root window in one colour. The server keeps
    the colour while the painter is open (an X server resets when its last client leaves)."""

    def __init__(self, display):
        x = ctypes.CDLL("libX11.so.6")
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x.XDefaultRootWindow.restype = ctypes.c_ulong
        x.XSetWindowBackground.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong]
        x.XClearWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self._x = x
        self._display = x.XOpenDisplay(display.encode())
        if not self._display:
            raise RuntimeError(f"cannot open the X display {display}")
        self._root = x.XDefaultRootWindow(self._display)

    def paint(self, colour):
        """The whole root window in `colour` (0xRRGGBB), done when this returns."""
        self._x.XSetWindowBackground(self._display, self._root, colour)
        self._x.XClearWindow(self._display, self._root)
        self._x.XSync(self._display, 0)

    def close(self):
        if self._display:
            self._x.XCloseDisplay(self._display)
            self._display = None

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()


def repaint(display, period):
    """Paints the root window of `display` a new colour every `period` seconds, for ever."""
    with RootPainter(display) as painter:
        colour = 0
        while True:
            colour = (colour + 0x010203) & 0xFFFFFF
            painter.paint(colour)
            time.sleep(period)


if __name__ == "__main__":
    if len(sys.argv) not in (3, 4) or sys.argv[1] != "repaint":
        sys.exit(__doc__.strip().splitlines()[-3].strip())
    repaint(sys.argv[2], float(sys.argv[3]) if len(sys.argv) == 4 else 0.01)
