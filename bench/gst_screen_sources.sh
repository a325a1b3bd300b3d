#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# vornvideosrc beside GStreamer's ximagesrc on the same Xvfb in the same run: 1920x1080 frames
# taken as fast as each element can (asked for 1000 frames per second), frames per second and
# CPU milliseconds per frame, the X server's CPU included, for the whole run and for the frames
# beyond its start (see measure): first on a quiet screen, then while a window covering the
# screen plays a test video at 30 frames a second (the screen changes 30 times a second; that
# window's own player is not counted). About a minute; not part of the test command.
# With --memory first, each element's peak resident memory instead, for FRAMES frames taken as
# fast as it gives them (as /usr/bin/time reports it; a quiet screen).
#
#   bash bench/gst_screen_sources.sh [--memory] [BUILD_DIR] [FRAMES]
#   (default build-ci/native, 300 frames; 2000 with --memory)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
memory=0
if [[ ${1:-} == --memory ]]; then
    memory=1
    shift
fi
build=${1:-$root/build-ci/native}
frames=${2:-$((memory ? 2000 : 300))}
plugins=$build/lib/gstreamer-1.0
[[ -e $plugins/libgstvorn.so ]] || { echo "no plugin in $plugins (build gstvorn first)" >&2; exit 1; }
scratch=$(mktemp -d)
display=:$((90 + RANDOM % 400))
Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; rm -rf "$scratch"' EXIT
for _ in $(seq 50); do xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.1; done
export DISPLAY=$display GST_PLUGIN_PATH_1_0=$plugins GST_REGISTRY_1_0=$scratch/registry.bin
export VORN_WORLD=host
gst-inspect-1.0 vornvideosrc >/dev/null  # the registry scan, outside the measured runs

# Clock ticks of CPU a process has used (user + system).
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)

# run FRAMES SOURCE [CONVERSION]: "seconds CPU-seconds X-server-seconds" of one gst-launch-1.0
# taking FRAMES frames of the source, through CONVERSION if given.
run() {
    local count=$1 source=$2 convert=${3:-}
    local x0 t0 t1 x1
    x0=$(ticks "$xvfb")
    t0=$(date +%s.%N)
    # shellcheck disable=SC2086 # the source and conversion are launch words
    /usr/bin/time -f '%U %S' -o "$scratch/time" gst-launch-1.0 -q $source num-buffers="$count" \
        ! "video/x-raw,width=1920,height=1080,framerate=1000/1" $convert ! fakesink sync=false
    t1=$(date +%s.%N)
    x1=$(ticks "$xvfb")
    awk -v t0="$t0" -v t1="$t1" -v x="$((x1 - x0))" -v hz="$hz" \
        '{ printf "%f %f %f\n", t1 - t0, $1 + $2, x / hz }' "$scratch/time"
}

# measure NAME SOURCE [CONVERSION]: the whole run of FRAMES frames (process start, the
# element's and the device's start included), then what each frame beyond those costs: the
# difference between a run of 3 x FRAMES and that of FRAMES, over the 2 x FRAMES frames more.
measure() {
    local name=$1 short long
    short=$(run "$frames" "${@:2}")
    long=$(run $((3 * frames)) "${@:2}")
    awk -v n="$name" -v f="$frames" -v s="$short" -v l="$long" \
        'BEGIN { split(s, a, " "); split(l, b, " ");
                 printf "%-22s %7.1f fps %6.2f ms CPU/frame (element %5.2f, X %5.2f)", n, f / a[1],
                        1000 * (a[2] + a[3]) / f, 1000 * a[2] / f, 1000 * a[3] / f;
                 m = 2 * f;
                 printf "   beyond: %7.1f fps %6.2f ms (element %5.2f, X %5.2f)\n", m / (b[1] - a[1]),
                        1000 * (b[2] + b[3] - a[2] - a[3]) / m, 1000 * (b[2] - a[2]) / m,
                        1000 * (b[3] - a[3]) / m }'
}
if ((memory)); then
    for source in vornvideosrc ximagesrc; do
        /usr/bin/time -f "%M %e" -o "$scratch/time" gst-launch-1.0 -q "$source" \
            num-buffers="$frames" ! "video/x-raw,width=1920,height=1080,framerate=1000/1" \
            ! fakesink sync=false
        awk -v s="$source" -v f="$frames" \
            '{ printf "%-14s %5d frames: peak resident %6.1f MB, %5.1f s\n", s, f, $1 / 1024, $2 }' \
            "$scratch/time"
    done
    exit 0
fi
# Both hand out the server's 32-bit pixels (BGRx) as they are, vornvideosrc lending its
# shared-memory copies; BGR and I420 are made from them by vornvideosrc's one conversion, and by
# videoconvert after ximagesrc. Both read only what changed where the server tells them
# (DAMAGE): ximagesrc with use-damage=true, its default; vornvideosrc always.
rounds() {
    for _ in 1 2; do
        measure "vornvideosrc BGRx" vornvideosrc
        measure "ximagesrc (damage)" "ximagesrc"
        measure "vornvideosrc BGR" vornvideosrc "! capsfilter caps=video/x-raw,format=BGR"
        measure "ximagesrc + to BGR" "ximagesrc" "! videoconvert ! video/x-raw,format=BGR"
        measure "vornvideosrc I420" vornvideosrc "! capsfilter caps=video/x-raw,format=I420"
        measure "ximagesrc + to I420" "ximagesrc" "! videoconvert ! video/x-raw,format=I420"
    done
}
echo "$frames frames of 1920x1080 from $display, each source in turn (twice), a quiet screen:"
rounds
gst-launch-1.0 -q videotestsrc pattern=smpte is-live=true \
    ! video/x-raw,width=1920,height=1080,framerate=30/1 ! ximagesink sync=false >/dev/null 2>&1 &
player=$!
trap 'kill "$player" 2>/dev/null; kill "$xvfb" 2>/dev/null; wait 2>/dev/null; rm -rf "$scratch"' EXIT
sleep 1
echo "the same while a window over the screen plays video at 30 frames a second:"
rounds
