#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""A ScreenCast portal backend for the tests: it owns
org.freedesktop.impl.portal.desktop.vorntest on the session bus and answers the portal
frontend's calls without a dialog.

It is steered through files in the folder named by VMC_PORTAL_CONTROL:
  node      the node.name of the PipeWire video source Start hands out (looked up with pw-dump)
  response  the response Start gives: 0 (the default), 1 (cancelled) or 2 (refused)
  window-node, window-response
            the same for a session that selected windows alone (types 2); node and response
            when absent
  hold      1: Start is not answered while the file says so, as a dialog nobody answers; the
            request can be closed meanwhile (logged as Request.Close)
and it appends one JSON line per call to `log` there (the options it was given), and keeps
the number of its open sessions in `sessions`. The source types it shares (its
AvailableSourceTypes, which the frontend reads once as it starts) are VMC_PORTAL_TYPES: 3,
monitors and windows, unless set. The restore data it hands out names the types and the node
it shared, and is logged as such when it comes back.
"""
import json
import os
import subprocess
import sys
import time

from gi.repository import Gio, GLib

NAME = "org.freedesktop.impl.portal.desktop.vorntest"
PATH = "/org/freedesktop/portal/desktop"
CONTROL = os.environ["VMC_PORTAL_CONTROL"]
TYPES = int(os.environ.get("VMC_PORTAL_TYPES") or 3)

# The methods' arguments: each takes a request handle and the session's, answers with a
# response code and results.
METHODS = {
    "CreateSession": ["app_id s", "options a{sv}"],
    "SelectSources": ["app_id s", "options a{sv}"],
    "Start": ["app_id s", "parent_window s", "options a{sv}"],
}


def method_xml(name, inputs):
    args = ["handle o", "session_handle o"] + inputs
    lines = ['<arg type="%s" name="%s" direction="in"/>' % (a.split()[1], a.split()[0]) for a in args]
    lines += ['<arg type="u" name="response" direction="out"/>',
              '<arg type="a{sv}" name="results" direction="out"/>']
    return '<method name="%s">%s</method>' % (name, "".join(lines))


INTERFACES = """
<node>
  <interface name="org.freedesktop.impl.portal.ScreenCast">
    %s
    <property name="AvailableSourceTypes" type="u" access="read"/>
    <property name="AvailableCursorModes" type="u" access="read"/>
    <property name="version" type="u" access="read"/>
  </interface>
  <interface name="org.freedesktop.impl.portal.Request">
    <method name="Close"/>
  </interface>
  <interface name="org.freedesktop.impl.portal.Session">
    <method name="Close"/>
    <signal name="Closed"/>
    <property name="version" type="u" access="read"/>
  </interface>
</node>
""" % "".join(method_xml(name, inputs) for name, inputs in METHODS.items())
NODE_INFO = Gio.DBusNodeInfo.new_for_xml(INTERFACES)
SCREENCAST = NODE_INFO.lookup_interface("org.freedesktop.impl.portal.ScreenCast")
SESSION = NODE_INFO.lookup_interface("org.freedesktop.impl.portal.Session")
REQUEST = NODE_INFO.lookup_interface("org.freedesktop.impl.portal.Request")

sessions = {}  # session path -> registration id
selected = {}  # session path -> the source types its SelectSources asked for


def control(name, default):
    try:
        with open(os.path.join(CONTROL, name)) as f:
            return f.read().strip() or default
    except OSError:
        return default


def log(entry):
    with open(os.path.join(CONTROL, "log"), "a") as f:
        f.write(json.dumps(entry) + "\n")


def write_sessions():
    with open(os.path.join(CONTROL, "sessions"), "w") as f:
        f.write("%d\n" % len(sessions))


def find_node(name, seconds=5.0):
    """The id of the node named `name`, waiting for it to appear; None when it does not."""
    limit = time.monotonic() + seconds
    while True:
        try:
            out = subprocess.run(["pw-dump"], capture_output=True, timeout=5).stdout
            for obj in json.loads(out or b"[]"):
                props = (obj.get("info") or {}).get("props") or {}
                if obj.get("type") == "PipeWire:Interface:Node" and props.get("node.name") == name:
                    return obj["id"]
        except (OSError, ValueError, subprocess.TimeoutExpired):
            pass
        if time.monotonic() > limit:
            return None
        time.sleep(0.1)


def plain(options):
    """The options as JSON can hold them (of restore_data, what it names)."""
    out = {}
    for key, value in options.items():
        out[key] = value[2] if key == "restore_data" else value
    return out


def close_session(path):
    selected.pop(path, None)
    registration = sessions.pop(path, None)
    if registration is not None:
        BUS.unregister_object(registration)
        write_sessions()


def on_session_call(conn, sender, path, iface, method, params, invocation):
    if method == "Close":
        log({"method": "Session.Close"})
        close_session(path)
        invocation.return_value(None)
    else:
        invocation.return_dbus_error("org.freedesktop.DBus.Error.UnknownMethod", method)


def on_session_property(conn, sender, path, iface, name):
    return GLib.Variant("u", 1)


def hold_start(handle, answer):
    """Keeps a Start unanswered while the control file `hold` says 1: `answer` is called once
    it no longer does; a Request.Close on `handle` meanwhile ends it with response 2."""
    state = {"open": True}

    def on_request_call(conn, sender, path, iface, method, params, invocation):
        log({"method": "Request.Close"})
        state["open"] = False
        invocation.return_value(None)

    registration = BUS.register_object(handle, REQUEST, on_request_call, None, None)

    def check():
        if state["open"] and control("hold", "0") == "1":
            return True
        BUS.unregister_object(registration)
        answer(state["open"])
        return False

    GLib.timeout_add(100, check)


def on_call(conn, sender, path, iface, method, params, invocation):
    args = params.unpack()
    if method == "CreateSession":
        session_path = args[1]
        log({"method": method, "options": plain(args[3])})
        sessions[session_path] = BUS.register_object(
            session_path, SESSION, on_session_call, on_session_property, None)
        write_sessions()
        invocation.return_value(GLib.Variant("(ua{sv})", (0, {"session_id": GLib.Variant("s", "vorn")})))
    elif method == "SelectSources":
        options = args[3]
        log({"method": method, "options": plain(options)})
        selected[args[1]] = options.get("types", 1)
        invocation.return_value(GLib.Variant("(ua{sv})", (0, {})))
    elif method == "Start" and control("hold", "0") == "1":
        log({"method": "Start held"})

        def answer(still_open):
            if still_open:
                on_call(conn, sender, path, iface, method, params, invocation)
            else:
                invocation.return_value(GLib.Variant("(ua{sv})", (2, {})))

        hold_start(args[0], answer)
    elif method == "Start":
        types = selected.get(args[1], 1)
        prefix = "window-" if types == 2 else ""
        response = int(control(prefix + "response", control("response", "0")))
        name = control(prefix + "node", control("node", "vmc-test-screen"))
        node = find_node(name) if response == 0 else None
        log({"method": method, "types": types, "response": response, "node": node})
        if response != 0 or node is None:
            invocation.return_value(GLib.Variant("(ua{sv})", (response or 2, {})))
            return
        stream = (node, {"source_type": GLib.Variant("u", types),
                         "position": GLib.Variant("(ii)", (0, 0))})
        shared = "%d:%s" % (types, name)
        results = {
            "streams": GLib.Variant("a(ua{sv})", [stream]),
            "persist_mode": GLib.Variant("u", 2),
            "restore_data": GLib.Variant("(suv)", ("vorntest", 1, GLib.Variant("s", shared))),
        }
        invocation.return_value(GLib.Variant("(ua{sv})", (0, results)))
    else:
        invocation.return_dbus_error("org.freedesktop.DBus.Error.UnknownMethod", method)


def on_property(conn, sender, path, iface, name):
    values = {"AvailableSourceTypes": TYPES, "AvailableCursorModes": 1 | 2, "version": 4}
    return GLib.Variant("u", values[name])


def main():
    global BUS
    BUS = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    BUS.register_object(PATH, SCREENCAST, on_call, on_property, None)
    write_sessions()
    loop = GLib.MainLoop()

    def acquired(*_):
        print("backend: owns " + NAME, flush=True)

    def lost(*_):
        print("backend: lost " + NAME, file=sys.stderr, flush=True)
        loop.quit()

    Gio.bus_own_name_on_connection(BUS, NAME, Gio.BusNameOwnerFlags.NONE, acquired, lost)
    loop.run()


if __name__ == "__main__":
    main()
