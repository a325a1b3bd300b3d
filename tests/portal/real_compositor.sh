#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Wayland screen of a real compositor through its own portal backend: a headless GNOME
# session (mutter 43 with a 1920 x 1080 virtual monitor, PipeWire and WirePlumber, Debian's
# xdg-desktop-portal with xdg-desktop-portal-gnome) on a private session bus in a scratch
# folder, and three `vmcapture capture desktop` runs in it:
#   0. no restore token: the portal's screen-share dialog is dismissed; the capture must fail
#      (exit 3, no file) without a second dialog while it goes on;
#   1. no restore token yet: the portal shows its screen-share dialog, which mutter_remote.py
#      answers as a user would (the monitor's row, then "Share", clicked through mutter's
#      RemoteDesktop service); the file must hold the monitor's picture, about 5 s of it;
#   2. with the token the first run kept: no dialog may appear, and the same file again.
#
#   real_compositor.sh VMCAPTURE [DIR]
#
# Exit 0 when every run passes, 1 when one fails, 77 when something needed is not installed
# (the line printed names it). Not part of scripts/test.sh: it needs mutter and
# xdg-desktop-portal-gnome, which the CI machine does not install. Everything it starts is
# stopped by process id, also the services the private bus started on demand; the machine's
# own session bus, PipeWire and portals are never touched. About 30 s.
set -uo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=processes.sh
. "$HERE/processes.sh"
PYTHON=/usr/bin/python3
PORTAL=/usr/libexec/xdg-desktop-portal
BACKEND=/usr/libexec/xdg-desktop-portal-gnome
SECONDS_ASKED=5 RATE=20

VMCAPTURE=${1:?usage: real_compositor.sh VMCAPTURE [DIR]}
VMCAPTURE=$(realpath "$VMCAPTURE")
DIR=$(realpath -m "${2:-/tmp/vmc-real-compositor.$$}")

missing() {
    first_missing mutter dbus-daemon dbus-send pipewire wireplumber gst-launch-1.0 ffprobe ffmpeg \
        "$PORTAL" "$BACKEND" "$PYTHON" && return 0
    gst-inspect-1.0 pipewiresrc >/dev/null 2>&1 || { echo "gstreamer1.0-pipewire"; return 0; }
    "$PYTHON" -c 'from gi.repository import Gio' 2>/dev/null || { echo "python3-gi"; return 0; }
    return 1
}

# Appends to DIR/pids every program on the private bus not started by run (those the bus
# started on demand: the permission store, the document portal, the accessibility bus), so
# that stop ends them too, and nothing else.
note_bus_clients() {
    local name pid
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.ListNames 2>/dev/null | sed -n 's/.*string "\(:[^"]*\)".*/\1/p' |
        while read -r name; do
            pid=$(dbus-send --session --print-reply --dest=org.freedesktop.DBus \
                /org/freedesktop/DBus org.freedesktop.DBus.GetConnectionUnixProcessID \
                "string:$name" 2>/dev/null | sed -n 's/.*uint32 \([0-9]*\).*/\1/p')
            [[ -n $pid ]] && ! grep -q "^$pid " "$DIR/pids" && echo "$pid on-demand" >>"$DIR/pids"
        done
}

finish() {
    [[ -f $DIR/pids ]] && note_bus_clients
    stop
}

start() {
    rm -rf "$DIR"
    mkdir -p "$DIR/run" "$DIR/home" "$DIR/state" "$DIR/config"
    chmod 700 "$DIR/run"
    : >"$DIR/pids"
    export XDG_RUNTIME_DIR=$DIR/run HOME=$DIR/home XDG_STATE_HOME=$DIR/state
    export XDG_CONFIG_HOME=$DIR/config XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_TYPE=wayland
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$DIR/run/bus
    unset DISPLAY WAYLAND_DISPLAY PIPEWIRE_REMOTE XDG_DESKTOP_PORTAL_DIR

    run bus dbus-daemon --session --address="$DBUS_SESSION_BUS_ADDRESS" --nofork --nopidfile
    wait_for "the session bus" test -S "$DIR/run/bus" || return 1
    run pipewire pipewire
    wait_for pipewire test -S "$DIR/run/pipewire-0" || return 1
    run wireplumber wireplumber
    run mutter mutter --headless --wayland --no-x11 --virtual-monitor 1920x1080 \
        --wayland-display vmc-wayland-0
    wait_for mutter has_owner "$DBUS_SESSION_BUS_ADDRESS" org.gnome.Mutter.ScreenCast || return 1
    export WAYLAND_DISPLAY=vmc-wayland-0
    # Services the bus starts on demand see the session too.
    dbus-update-activation-environment WAYLAND_DISPLAY XDG_CURRENT_DESKTOP XDG_SESSION_TYPE \
        XDG_RUNTIME_DIR HOME XDG_STATE_HOME XDG_CONFIG_HOME
    run portal-gnome "$BACKEND"
    wait_for xdg-desktop-portal-gnome has_owner "$DBUS_SESSION_BUS_ADDRESS" \
        org.freedesktop.impl.portal.desktop.gnome || return 1
    run portal "$PORTAL"
    wait_for xdg-desktop-portal has_owner "$DBUS_SESSION_BUS_ADDRESS" \
        org.freedesktop.portal.Desktop || return 1
}

failures=0
fail() {
    echo "real_compositor: FAIL: $*" >&2
    failures=$((failures + 1))
}

# judge FILE: the monitor's size, about 5 s of frames, and the picture of mutter's desktop
# (its default background, dark blue: more blue than red).
judge() {
    local file=$1 frames size rgb r b
    size=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 "$file")
    frames=$(ffprobe -v error -count_frames -select_streams v:0 \
        -show_entries stream=nb_read_frames -of csv=p=0 "$file")
    echo "  $file: ${size/,/x}, $frames frames"
    [[ $size == 1920,1080 ]] || fail "$file is ${size/,/x}, not the monitor's 1920x1080"
    if ! [[ $frames =~ ^[0-9]+$ ]] || ((frames < SECONDS_ASKED * RATE * 9 / 10)); then
        fail "$file holds $frames frames, not about $((SECONDS_ASKED * RATE))"
        return
    fi
    rgb=$(ffmpeg -v error -i "$file" -frames:v 1 -vf scale=1:1 -f rawvideo -pix_fmt rgb24 - |
        od -An -tu1 | xargs)
    echo "  mean colour of the first frame: $rgb"
    read -r r _ b <<<"$rgb"
    ((b > r + 16)) || fail "$file's picture is not the desktop's (mean colour $rgb)"
}

# attempt N WAIT: one `vmcapture capture desktop` into DIR/screenN.y4m while mutter_remote.py
# answers a dialog that comes within WAIT seconds. Prints whether one came.
attempt() {
    local n=$1 began ns answered status
    began=$(date +%s%N)
    VORN_WORLD=host timeout 120 "$VMCAPTURE" capture desktop -t "$SECONDS_ASKED" -r "$RATE" \
        -o "$DIR/screen$n.y4m" >"$DIR/vmcapture$n.log" 2>&1 &
    local capturing=$!
    "$PYTHON" "$HERE/mutter_remote.py" answer "$2"
    answered=$?
    wait "$capturing"
    status=$?
    ns=$(($(date +%s%N) - began))
    echo "  dialog: $([[ $answered == 0 ]] && echo "shown, answered" || echo none)," \
        "vmcapture exit $status, $((ns / 1000000000)).$((ns / 100000000 % 10)) s"
    [[ $status == 0 ]] || fail "run $n: vmcapture exit $status ($(cat "$DIR/vmcapture$n.log"))"
    judge "$DIR/screen$n.y4m"
    return "$answered"
}

# dismissed: a capture whose dialog the user dismisses fails (exit 3, no file), and no second
# dialog comes while it goes on reading the screen.
dismissed() {
    local status
    VORN_WORLD=host timeout 120 "$VMCAPTURE" capture desktop -t 10 -r "$RATE" \
        -o "$DIR/dismissed.y4m" >"$DIR/vmcapture0.log" 2>&1 &
    local capturing=$!
    "$PYTHON" "$HERE/mutter_remote.py" cancel 30 || fail "run 0: no dialog appeared within 30 s"
    sleep 7
    if "$PYTHON" "$HERE/mutter_remote.py" shown; then
        fail "run 0: a second dialog came while the capture went on"
        "$PYTHON" "$HERE/mutter_remote.py" cancel 5
    fi
    wait "$capturing"
    status=$?
    echo "  dialog dismissed, vmcapture exit $status: $(tail -1 "$DIR/vmcapture0.log")"
    [[ $status == 3 ]] || fail "run 0: vmcapture exit $status, not 3 ($(cat "$DIR/vmcapture0.log"))"
    [[ ! -e $DIR/dismissed.y4m ]] || fail "run 0 left $DIR/dismissed.y4m behind"
}

main() {
    local what token
    if what=$(missing); then
        echo "real_compositor: NOT RUN: $what is missing"
        return 77
    fi
    trap finish EXIT
    start || return 1
    token=$XDG_STATE_HOME/vornmediacapture/screencast.token

    echo "run 0: no restore token, the dialog dismissed"
    dismissed
    echo "run 1: no restore token, the dialog answered"
    attempt 1 30 || fail "run 1: no dialog appeared within 30 s"
    [[ -s $token ]] || fail "run 1 kept no restore token in $token"
    # Any dialog within the run's first 4 s is answered (so that the run goes on) and fails it.
    echo "run 2: with the restore token, no dialog"
    attempt 2 4 && fail "run 2 showed the dialog again"

    if ((failures > 0)); then
        echo "real_compositor: $failures failure(s); logs in $DIR"
        return 1
    fi
    echo "real_compositor: every run passed (files and logs in $DIR)"
}

main
