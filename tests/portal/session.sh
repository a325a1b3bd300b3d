#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A desktop session without a desktop, for the portal tests: in folder DIR, a private session
# bus, PipeWire and WirePlumber, a video source node with a known picture, the real portal
# frontend and the test backend (backend.py) answering its ScreenCast calls with that node.
# Beside it, three more buses: one without any portal, one with the frontend but no backend, one
# whose backend shares monitors alone (control folder DIR/control-monitors); and an X server
# (Xvfb) where the session's X programs run, as XWayland does in a real session.
#
#   session.sh start DIR PRODUCER
#                           starts everything, the source node being PRODUCER (the build's
#                           vmc_test_producer); writes DIR/env (NAME=value lines for the clients)
#   session.sh stop DIR     stops what start started (by the process ids it recorded)
#   session.sh check        exits 0 when every program needed is installed, else names one
#
# The source node: 640 x 480 BGRx at 30 frames a second, every pixel 0x336699 (SOURCE_*); the
# benchmark asks for another size and rate with VMC_PORTAL_SOURCE_SIZE=WxH and
# VMC_PORTAL_SOURCE_RATE=N.
set -uo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=processes.sh
. "$HERE/processes.sh"
PORTAL=/usr/libexec/xdg-desktop-portal
PYTHON=/usr/bin/python3
SOURCE_SIZE=${VMC_PORTAL_SOURCE_SIZE:-640x480}
SOURCE_NAME=vmc-test-screen SOURCE_WIDTH=${SOURCE_SIZE%x*} SOURCE_HEIGHT=${SOURCE_SIZE#*x}
SOURCE_RATE=${VMC_PORTAL_SOURCE_RATE:-30} SOURCE_COLOR=336699

missing() {
    first_missing dbus-daemon dbus-send pipewire wireplumber pw-dump Xvfb "$PORTAL" "$PYTHON" &&
        return 0
    "$PYTHON" -c 'from gi.repository import Gio' 2>/dev/null || { echo "python3-gi"; return 0; }
    return 1
}

node_exists() {
    pw-dump 2>/dev/null | grep -q "\"node.name\": \"$1\""
}

# bus NAME CONFIG: a session bus listening on DIR/run/NAME.
bus() {
    run "bus-$1" dbus-daemon --config-file="$2" --address="unix:path=$DIR/run/$1" --nofork --nopidfile
    wait_for "bus $1" test -S "$DIR/run/$1"
}

start() {
    local what
    if what=$(missing); then
        echo "session: $what is missing" >&2
        return 2
    fi
    rm -rf "$DIR"
    mkdir -p "$DIR/run" "$DIR/portals" "$DIR/no-portals" "$DIR/control" "$DIR/control-monitors" \
        "$DIR/state" "$DIR/home"
    chmod 700 "$DIR/run"
    : >"$DIR/pids"
    export XDG_RUNTIME_DIR=$DIR/run HOME=$DIR/home XDG_STATE_HOME=$DIR/state
    export XDG_CURRENT_DESKTOP=vorntest XDG_DESKTOP_PORTAL_DIR=$DIR/portals
    export VMC_PORTAL_CONTROL=$DIR/control
    unset DISPLAY WAYLAND_DISPLAY PIPEWIRE_REMOTE
    cat >"$DIR/portals/vorntest.portal" <<'EOF'
[portal]
DBusName=org.freedesktop.impl.portal.desktop.vorntest
Interfaces=org.freedesktop.impl.portal.ScreenCast;
UseIn=vorntest
EOF
    # A bus that starts nothing on demand: no portal answers there.
    cat >"$DIR/bare-bus.conf" <<'EOF'
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
    local session_conf=/usr/share/dbus-1/session.conf
    bus bus "$session_conf" || return 1
    bus bare "$DIR/bare-bus.conf" || return 1
    bus nobackend "$session_conf" || return 1
    bus monitors "$session_conf" || return 1
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$DIR/run/bus

    run pipewire pipewire
    wait_for pipewire test -S "$DIR/run/pipewire-0" || return 1
    run wireplumber wireplumber
    run source "$PRODUCER" "$SOURCE_NAME" "${SOURCE_WIDTH}x$SOURCE_HEIGHT" "$SOURCE_RATE" "$SOURCE_COLOR"
    wait_for "the source node" node_exists "$SOURCE_NAME" || return 1

    echo "$SOURCE_NAME" >"$DIR/control/node"
    run backend "$PYTHON" "$HERE/backend.py"
    wait_for "the test backend" has_owner "$DBUS_SESSION_BUS_ADDRESS" org.freedesktop.impl.portal.desktop.vorntest || return 1
    run portal "$PORTAL" -r
    wait_for "the portal" has_owner "$DBUS_SESSION_BUS_ADDRESS" org.freedesktop.portal.Desktop || return 1
    # The frontend alone, on a bus of its own, without a backend for it to find.
    DBUS_SESSION_BUS_ADDRESS=unix:path=$DIR/run/nobackend XDG_DESKTOP_PORTAL_DIR=$DIR/no-portals \
        run portal-nobackend "$PORTAL" -r
    wait_for "the second portal" has_owner "unix:path=$DIR/run/nobackend" org.freedesktop.portal.Desktop || return 1
    # A frontend and a backend that shares monitors alone, on a bus of their own.
    local monitors=unix:path=$DIR/run/monitors
    echo "$SOURCE_NAME" >"$DIR/control-monitors/node"
    DBUS_SESSION_BUS_ADDRESS=$monitors VMC_PORTAL_CONTROL=$DIR/control-monitors VMC_PORTAL_TYPES=1 \
        run backend-monitors "$PYTHON" "$HERE/backend.py"
    wait_for "the monitors' backend" has_owner "$monitors" org.freedesktop.impl.portal.desktop.vorntest || return 1
    DBUS_SESSION_BUS_ADDRESS=$monitors run portal-monitors "$PORTAL" -r
    wait_for "the monitors' portal" has_owner "$monitors" org.freedesktop.portal.Desktop || return 1

    # The X server of the session's X programs, on a display number it picks itself.
    run xvfb Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$DIR/xvfb.display"
    wait_for "the X server" test -s "$DIR/xvfb.display" || return 1

    # NAME=value lines, for `set -a; . DIR/env` or for reading one by one.
    cat >"$DIR/env" <<EOF
XDG_RUNTIME_DIR=$DIR/run
HOME=$DIR/home
XDG_STATE_HOME=$DIR/state
DBUS_SESSION_BUS_ADDRESS=unix:path=$DIR/run/bus
VMC_PORTAL_CONTROL=$DIR/control
VMC_PORTAL_BUS_BARE=unix:path=$DIR/run/bare
VMC_PORTAL_BUS_NO_BACKEND=unix:path=$DIR/run/nobackend
VMC_PORTAL_BUS_MONITORS=unix:path=$DIR/run/monitors
VMC_PORTAL_CONTROL_MONITORS=$DIR/control-monitors
VMC_PORTAL_PRODUCER=$PRODUCER
VMC_PORTAL_SOURCE=$SOURCE_NAME:${SOURCE_WIDTH}x$SOURCE_HEIGHT:$SOURCE_RATE:$SOURCE_COLOR
WAYLAND_DISPLAY=vmc-test-wayland
DISPLAY=:$(head -n 1 "$DIR/xvfb.display")
VORN_WORLD=host
EOF
    echo "session: up in $DIR"
}

case ${1:-} in
start) DIR=$2 PRODUCER=$3 start ;;
stop) DIR=$2 stop ;;
check) missing && exit 1 || exit 0 ;;
*) echo "usage: session.sh start|stop DIR | check" >&2; exit 2 ;;
esac
