#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# GStreamer's own tools on a build's plugin, in the virtual world:
#   gst_tools_check.sh PLUGIN_DIR inspect   gst-inspect-1.0 shows the plugin's elements and
#                                           device provider
#   gst_tools_check.sh PLUGIN_DIR monitor   gst-device-monitor-1.0 lists the screen, camera and
#                                           microphone
# Exit 0 when the tool shows all of it; otherwise what was missing, and exit 1.
set -uo pipefail
dir=$1 what=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# Only this plugin, in a registry of its own, so that an older scan cannot stand in for it.
export GST_PLUGIN_PATH_1_0=$dir GST_REGISTRY_1_0=$scratch/registry.bin VORN_WORLD=virtual
missing=()
case $what in
inspect)
    out=$(timeout 60 gst-inspect-1.0 vorn 2>&1)
    for name in vornvideosrc vornaudiosrc vorndeviceprovider; do
        grep -q "$name" <<<"$out" || missing+=("$name")
    done
    grep -Eq 'License +MIT/X11' <<<"$out" || missing+=("the licence MIT/X11")
    for name in vornvideosrc vornaudiosrc; do
        timeout 60 gst-inspect-1.0 "$name" >"$scratch/$name" 2>&1 || missing+=("details of $name")
    done
    grep -q 'video/x-raw' "$scratch/vornvideosrc" || missing+=("video/x-raw in vornvideosrc's pads")
    grep -q 'audio/x-raw' "$scratch/vornaudiosrc" || missing+=("audio/x-raw in vornaudiosrc's pads")
    ;;
monitor)
    out=$(timeout 60 gst-device-monitor-1.0 2>&1)
    # The virtual world has no window unless one is made; every other kind is there.
    for kind in desktop camera microphone; do
        grep -q "vorn.kind = $kind" <<<"$out" || missing+=("a device of kind $kind")
    done
    grep -q 'gst-launch-1.0 vornvideosrc' <<<"$out" || missing+=("the launch line of a video device")
    grep -q 'gst-launch-1.0 vornaudiosrc' <<<"$out" || missing+=("the launch line of a microphone")
    ;;
*)
    echo "usage: $0 PLUGIN_DIR inspect|monitor" >&2
    exit 2
    ;;
esac
if ((${#missing[@]} > 0)); then
    printf '%s\n' "$out"
    printf 'missing: %s\n' "${missing[@]}"
    exit 1
fi
printf 'gst-%s: everything shown\n' "$what"
