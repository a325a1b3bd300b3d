# SPDX-License-Identifier: MIT

# gst-inspect-1.0 shows the elements, gst-device-monitor-1.0 lists the devices. One passed test
# per tool.
gst_tools() {
    prepare native || return 1
    local dir=$BUILD_DIR/lib/gstreamer-1.0 what
    if [[ ! -e $dir/libgstvorn.so ]]; then
        fail "no GStreamer plugin in $dir"
        return 1
    fi
    if ! command -v gst-inspect-1.0 >/dev/null || ! command -v gst-device-monitor-1.0 >/dev/null; then
        not_run "GStreamer's tools are not installed (gstreamer1.0-tools, gstreamer1.0-plugins-base-apps)"
        return 2
    fi
    for what in inspect monitor; do
        check "gst-$what" bash "$ROOT/tests/scripts/gst_tools_check.sh" "$dir" "$what"
    done
    gst_world "$dir"
}

# gst-launch-1.0 on a machine with nothing to capture: the elements take the virtual world,
# and the host world asked for there fails at once with one error that says why.
gst_world() {
    local what
    for what in auto host; do
        check "gst-world-$what" bash "$ROOT/tests/scripts/gst_world_check.sh" "$1" "$what"
    done
}
gst_tools "$@"
