#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The elements choose their world as vmcapture does, on a machine with nothing to capture:
#   gst_world_check.sh PLUGIN_DIR auto   no display and no sound server: the virtual world,
#                                        whose screen delivers (gst-launch-1.0 ends well)
#   gst_world_check.sh PLUGIN_DIR host   the host world asked for there: one error, which
#                                        names the world and says that there is no display
# Exit 0 when it is so; otherwise what was wrong, and exit 1.
set -uo pipefail
dir=$1 what=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export GST_PLUGIN_PATH_1_0=$dir GST_REGISTRY_1_0=$scratch/registry.bin
# Nothing to capture: no display, no sound server, no session bus.
headless=(env -u VORN_WORLD -u DISPLAY -u WAYLAND_DISPLAY -u PULSE_SERVER
    XDG_RUNTIME_DIR="$scratch" DBUS_SESSION_BUS_ADDRESS="unix:path=$scratch/no-bus")
case $what in
auto)
    if ! out=$(timeout 60 "${headless[@]}" gst-launch-1.0 vornvideosrc num-buffers=3 ! fakesink 2>&1); then
        printf '%s\n' "$out"
        echo "the element found nothing to capture where the virtual world was there"
        exit 1
    fi
    ;;
host)
    out=$(timeout 60 "${headless[@]}" gst-launch-1.0 vornvideosrc world=host num-buffers=3 ! fakesink 2>&1)
    printf '%s\n' "$out"
    errors=$(grep -c '^ERROR: from element' <<<"$out")
    if [[ $errors != 1 ]] || ! grep -q 'of the host world' <<<"$out" ||
        ! grep -q 'no display: neither WAYLAND_DISPLAY nor DISPLAY is set' <<<"$out"; then
        echo "wanted one error that names the host world and says there is no display; got $errors"
        exit 1
    fi
    ;;
*)
    echo "usage: gst_world_check.sh PLUGIN_DIR auto|host" >&2
    exit 2
    ;;
esac
