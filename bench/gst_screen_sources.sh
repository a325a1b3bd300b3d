#!/usr/bin/env bash
# vornvideosrc beside GStreamer's ximagesrc on the same Xvfb in the same run: 1920x1080 frames
# taken as fast as each element can (asked for 1000 frames per second), frames per second and
# CPU milliseconds per frame, the X server's CPU included: first on a quiet screen, then while
# a window covering the screen plays a test video at 30 frames a second (the screen changes
# 30 times a second; that window's own player is not counted). Not part of the test command.
#
#   bash bench/gst_screen_sources.sh [BUILD_DIR] [FRAMES]   (default build-ci/native, 300)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build-ci/native}
frames=${2:-300}
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

# measure NAME SOURCE [CONVERSION]: the source's frames, through CONVERSION if given.
measure() {
    local name=$1 source=$2 convert=${3:-}
    local x0 t0 t1 x1 cpu
    x0=$(ticks "$xvfb")
    t0=$(date +%s.%N)
    # shellcheck disable=SC2086 # the source and conversion are launch words
    /usr/bin/time -f '%U %S' -o "$scratch/time" gst-launch-1.0 -q $source num-buffers="$frames" \
        ! "video/x-raw,width=1920,height=1080,framerate=1000/1" $convert ! fakesink sync=false
    t1=$(date +%s.%N)
    x1=$(ticks "$xvfb")
    cpu=$(awk '{ print $1 + $2 }' "$scratch/time")
    awk -v n="$name" -v f="$frames" -v t0="$t0" -v t1="$t1" -v c="$cpu" -v x="$((x1 - x0))" -v hz="$hz" \
        'BEGIN { w = t1 - t0; xs = x / hz;
                 printf "%-22s %7.1f fps   %6.2f ms CPU/frame (element %5.2f, X server %5.2f)\n",
                        n, f / w, 1000 * (c + xs) / f, 1000 * c / f, 1000 * xs / f }'
}
# ximagesrc hands out the server's 32-bit pixels (BGRx) as they are; vornvideosrc gives 24-bit
# BGR (or I420). "ximagesrc + to BGR" is ximagesrc with the conversion to the same BGR frames.
# Both read only what changed where the server tells them (DAMAGE): ximagesrc with
# use-damage=true, its default; vornvideosrc always (VORN_X11_NO_DAMAGE=1 turns that off).
rounds() {
    for round in 1 2; do
        measure vornvideosrc vornvideosrc
        measure "ximagesrc (damage)" "ximagesrc"
        measure "ximagesrc no damage" "ximagesrc use-damage=false"
        measure "ximagesrc + to BGR" "ximagesrc" "! videoconvert ! video/x-raw,format=BGR"
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
