#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Plays the user in a headless mutter session, through mutter's own RemoteDesktop and
ScreenCast D-Bus services (which show no dialog): watches the one monitor and clicks.

    mutter_remote.py answer [SECONDS]   waits for the portal's screen-share dialog and shares
                                        the monitor (its row, then "Share"); 0 when clicked,
                                        1 when no dialog came within SECONDS (default 20)
    mutter_remote.py cancel [SECONDS]   the same, clicking "Cancel"
    mutter_remote.py shown              0 when the dialog is on the screen now, else 1
    mutter_remote.py shot FILE.png      the monitor as it is now

The dialog (xdg-desktop-portal-gnome 43, Adwaita, 1920 x 1080 monitor) sits in the middle of
the monitor; its places are offsets from the middle, measured on a screenshot of it."""
import subprocess
import sys
import time

from gi.repository import Gio, GLib

WIDTH, HEIGHT = 1920, 1080
MIDDLE = (WIDTH // 2, HEIGHT // 2)
# Offsets from the middle of the monitor: a point inside the dialog (its empty lower part,
# light grey; the desktop there is dark blue), the monitor's row, and the two buttons.
PROBE = (0, 110)
ROW = (-170, 26)
SHARE = (212, -127)
CANCEL = (-210, -127)
BTN_LEFT = 0x110

bus = Gio.bus_get_sync(Gio.BusType.SESSION)


def call(dest, path, iface, method, args=None):
    return bus.call_sync(dest, path, iface, method, args, None, Gio.DBusCallFlags.NONE, 5000,
                         None).unpack()


class Remote:
    """A remote-desktop session with a cast of the monitor (pointer positions are given
    against a stream)."""

    def __init__(self):
        rd_name = 'org.gnome.Mutter.RemoteDesktop'
        sc_name = 'org.gnome.Mutter.ScreenCast'
        self.rd = call(rd_name, '/org/gnome/Mutter/RemoteDesktop', rd_name, 'CreateSession')[0]
        sid = call(rd_name, self.rd, 'org.freedesktop.DBus.Properties', 'Get',
                   GLib.Variant('(ss)', (rd_name + '.Session', 'SessionId')))[0]
        sc = call(sc_name, '/org/gnome/Mutter/ScreenCast', sc_name, 'CreateSession',
                  GLib.Variant('(a{sv})', ({'remote-desktop-session-id': GLib.Variant('s', sid)},)))[0]
        self.stream = call(sc_name, sc, sc_name + '.Session', 'RecordMonitor',
                           GLib.Variant('(sa{sv})', ('', {})))[0]
        self.node = None
        loop = GLib.MainLoop()

        def added(_conn, _sender, _path, _iface, _signal, args):
            self.node = args.unpack()[0]
            loop.quit()

        bus.signal_subscribe(sc_name, sc_name + '.Stream', 'PipeWireStreamAdded', self.stream,
                             None, Gio.DBusSignalFlags.NONE, added)
        self.session('Start')
        GLib.timeout_add_seconds(10, loop.quit)
        loop.run()
        if self.node is None:
            sys.exit('mutter_remote: mutter gave no PipeWire stream of the monitor')

    def session(self, method, signature=None, args=()):
        call('org.gnome.Mutter.RemoteDesktop', self.rd, 'org.gnome.Mutter.RemoteDesktop.Session',
             method, GLib.Variant(signature, args) if signature else None)

    def frame(self, caps='video/x-raw,format=RGB', encoder=()):
        command = ['gst-launch-1.0', '-q', 'pipewiresrc', 'path=%d' % self.node, 'num-buffers=1',
                   '!', 'videoconvert', '!', caps, *encoder, '!', 'fdsink']
        return subprocess.run(command, stdout=subprocess.PIPE, timeout=20, check=True).stdout

    def dialog_shown(self):
        pixels = self.frame()
        if len(pixels) != WIDTH * HEIGHT * 3:
            sys.exit('mutter_remote: the monitor is not %dx%d' % (WIDTH, HEIGHT))
        x, y = MIDDLE[0] + PROBE[0], MIDDLE[1] + PROBE[1]
        return min(pixels[(y * WIDTH + x) * 3:(y * WIDTH + x) * 3 + 3]) > 0xe0

    def click(self, offset):
        self.session('NotifyPointerMotionAbsolute', '(sdd)',
                     (self.stream, MIDDLE[0] + offset[0], MIDDLE[1] + offset[1]))
        time.sleep(0.1)
        self.session('NotifyPointerButton', '(ib)', (BTN_LEFT, True))
        time.sleep(0.05)
        self.session('NotifyPointerButton', '(ib)', (BTN_LEFT, False))
        time.sleep(0.3)


def main():
    what = sys.argv[1] if len(sys.argv) > 1 else ''
    remote = Remote()
    try:
        if what in ('answer', 'cancel'):
            deadline = time.monotonic() + float(sys.argv[2] if len(sys.argv) > 2 else 20)
            while not remote.dialog_shown():
                if time.monotonic() > deadline:
                    return 1
                time.sleep(0.2)
            time.sleep(0.3)  # the dialog's fade-in
            if what == 'answer':
                remote.click(ROW)
                remote.click(SHARE)
            else:
                remote.click(CANCEL)
            return 0
        if what == 'shown':
            return 0 if remote.dialog_shown() else 1
        if what == 'shot' and len(sys.argv) == 3:
            with open(sys.argv[2], 'wb') as out:
                out.write(remote.frame('video/x-raw', ('!', 'pngenc')))
            return 0
        sys.exit(__doc__)
    finally:
        remote.session('Stop')


if __name__ == '__main__':
    sys.exit(main())
