# SPDX-License-Identifier: MIT
# shellcheck source=scripts/fixtures/portal-session.sh
source "$ROOT/scripts/fixtures/portal-session.sh"

# Starts a desktop session without a desktop (scripts/fixtures/portal-session.sh), runs the
# portal tests and the capture tool in it, and stops it.
portal_session() {
    prepare native || return 1
    portal_session_start || return
    local dir=$PORTAL_DIR line
    # The session's variables, for this function only.
    while IFS= read -r line; do
        local -x "$line"
    done <"$dir/env"
    # GLib and GIO, under the portal code, are not built for ThreadSanitizer (tests/portal/tsan.supp).
    local TSAN_OPTIONS="$TSAN_OPTIONS:suppressions=$ROOT/tests/portal/tsan.supp"
    export TSAN_OPTIONS
    run_gtest native vmc_portal_tests "$BUILD_DIR/bin/vmc_portal_tests"
    run_gtest native vmc_pw_camera_tests "$BUILD_DIR/bin/vmc_pw_camera_tests"
    # Cameras and the portal's screen in their own formats through the capture layer and
    # vornvideosrc (the TSan build has no GStreamer elements). GLib's own blocks at exit are left
    # to it, as for the GStreamer suite (tests/gst/lsan.supp).
    if [[ $CURRENT_STAGE != portal-tsan ]]; then
        local suite
        for suite in vmc_gst_camera_tests vmc_gst_screen_tests; do
            LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$ROOT/tests/gst/lsan.supp:print_suppressions=0" \
                run_gtest native "$suite" "$BUILD_DIR/bin/$suite"
        done
    fi
    local tool=$BUILD_DIR/bin/vmcapture out=$BUILD_ROOT/results/$CURRENT_STAGE/desktop.y4m
    rm -f "$out"
    run_check native vmcapture-portal-desktop "$tool" capture desktop -s 640x480 -r 10 -n 10 -q -o "$out"
    # ffprobe reads the file; ffmpeg gives a pixel of the first frame back as RGB, which must
    # be the source's colour (0x336699) within the rounding of 4:2:0.
    check ffprobe-portal-desktop bash -c '[[ "$(ffprobe -v error -count_frames -select_streams v:0 \
        -show_entries stream=width,height,nb_read_frames -of csv=p=0 "$1")" == "640,480,10" ]]' \
        ffprobe "$out"
    portal_colour_check ffmpeg-portal-colour "$out"
    portal_desktop_road "$tool"
    # The window picked in the portal's dialog (the backend shares the same source node).
    local window=$BUILD_ROOT/results/$CURRENT_STAGE/window.y4m
    rm -f "$window"
    run_check native vmcapture-portal-window "$tool" capture window \
        --name "Window picked in the desktop's dialog" -r 10 -n 10 -q -o "$window"
    check ffprobe-portal-window bash -c '[[ "$(ffprobe -v error -count_frames -select_streams v:0 \
        -show_entries stream=width,height,nb_read_frames -of csv=p=0 "$1")" == "640,480,10" ]]' \
        ffprobe "$window"
    portal_colour_check ffmpeg-portal-window-colour "$window"
    # The same source node as a PipeWire camera, its own frames converted once by the tool.
    local camera=$BUILD_ROOT/results/$CURRENT_STAGE/camera.y4m
    rm -f "$camera"
    run_check native vmcapture-pipewire-camera "$tool" capture camera -s 640x480 -r 30 -n 15 -q \
        -o "$camera"
    check ffprobe-pipewire-camera bash -c '[[ "$(ffprobe -v error -count_frames -select_streams v:0 \
        -show_entries stream=width,height,nb_read_frames -of csv=p=0 "$1")" == "640,480,15" ]]' \
        ffprobe "$camera"
    portal_colour_check ffmpeg-pipewire-camera-colour "$camera"
    portal_still_camera "$tool"
    portal_camera_road "$tool"
    portal_camera_devices "$tool"
    # Our readers of the node in turn (screen, camera, window, camera, twice over): each gets its
    # frames, none is left without a buffer by the one before.
    # Not under ThreadSanitizer: there each frame's conversion on the stream's thread is several
    # times slower, and the node still starves after a few readers (a run on 2026-12-07 failed
    # from the 4th of 8 on); the fault is open, and docs/host-world.md says so.
    if [[ $CURRENT_STAGE != portal-tsan ]]; then
        check pipewire-readers-in-turn bash "$ROOT/tests/portal/readers_in_turn.sh" "$tool" \
            "$BUILD_ROOT/results/$CURRENT_STAGE/in-turn"
    fi
    # A dismissed dialog: the capture fails (exit 3, "delivered nothing") and leaves no file,
    # rather than a file of a header alone.
    local refused=$BUILD_ROOT/results/$CURRENT_STAGE/refused.y4m
    rm -f "$refused"
    echo 1 >"$VMC_PORTAL_CONTROL/response"
    check vmcapture-portal-dismissed bash -c '"$1" capture desktop -s 64x48 -r 10 -t 2 -q -o "$2" \
        2>"$2.err"; status=$?; cat "$2.err" >&2
        [[ $status == 3 && ! -e $2 ]] && grep -q "delivered nothing" "$2.err"' _ "$tool" "$refused"
    # The same without a size: the screen's size cannot be told, and the capture says so at once
    # rather than capturing a size made up.
    check vmcapture-portal-dismissed-size bash -c '"$1" capture desktop -r 10 -t 2 -q -o "$2" \
        2>"$2.err"; status=$?; cat "$2.err" >&2
        [[ $status == 3 && ! -e $2 ]] && grep -q "size is unknown" "$2.err"' _ "$tool" "$refused"
    echo 0 >"$VMC_PORTAL_CONTROL/response"
    portal_consent_checks "$tool"
    portal_session_end "$dir"
}

# portal_consent_checks TOOL: the capture tool against a stored permission the portal refuses
# (one dialog, the permission replaced, the portal's reason said) and a stop while the dialog is
# open (the backend holds Start).
portal_consent_checks() {
    local tool=$1 out=$BUILD_ROOT/results/$CURRENT_STAGE/consent
    local token=$XDG_STATE_HOME/vornmediacapture/screencast.token
    rm -rf "$out" && mkdir -p "$out" "${token%/*}"
    echo "not a token" >"$token"
    check vmcapture-portal-refused-token bash -c '"$1" capture desktop -s 64x48 -r 10 -n 3 -q \
        -o "$2" 2>"$2.err"; status=$?; cat "$2.err" >&2
        [[ $status == 0 && -s $2 && $(wc -c <"$3") == 37 ]] &&
            grep -q "refused (SelectSources: [^)]" "$2.err"' _ "$tool" "$out/token.y4m" "$token"
    echo 1 >"$VMC_PORTAL_CONTROL/hold"
    # Without a size the screen's size is asked before the capture; with one the device's
    # transfers wait; a window's device waits as it opens; an MKV waits in the recording's loop
    # (the ThreadSanitizer build has no GStreamer: it records no MKV).
    portal_stop_check "$tool" "$out/whole.y4m" desktop
    portal_stop_check "$tool" "$out/sized.y4m" desktop -s 64x48
    portal_stop_check "$tool" "$out/window.y4m" window --name "Window picked in the desktop's dialog"
    [[ $CURRENT_STAGE != portal-tsan ]] && portal_stop_check "$tool" "$out/sized.mkv" desktop -s 64x48
    echo 0 >"$VMC_PORTAL_CONTROL/hold"
}

# portal_stop_check TOOL OUT SOURCE..: `TOOL capture SOURCE.. -o OUT`, stopped with SIGINT once the
# backend holds its Start: it ends within 2.5 s with status 3 and no file, the request closed
# once and no portal session left.
portal_stop_check() {
    local tool=$1 file=$2
    shift 2
    # shellcheck disable=SC2016 # expanded by the inner shell
    check "vmcapture-portal-stop-at-dialog-${file##*/}" bash -c '
        tool=$1 out=$2 log=$VMC_PORTAL_CONTROL/log sessions=$VMC_PORTAL_CONTROL/sessions
        shift 2
        held=$(grep -c "Start held" "$log") closes=$(grep -c "Request.Close" "$log")
        "$tool" capture "$@" -r 10 -n 5 -q -o "$out" 2>"$out.err" &
        pid=$!
        for ((i = 0; i < 200 && $(grep -c "Start held" "$log") == held; i++)); do sleep 0.05; done
        sleep 0.5
        begun=$(date +%s%N)
        kill -INT "$pid"
        wait "$pid"
        status=$? ms=$((($(date +%s%N) - begun) / 1000000))
        for ((i = 0; i < 40 && $(cat "$sessions") != 0; i++)); do sleep 0.05; done
        closed=$(($(grep -c "Request.Close" "$log") - closes))
        cat "$out.err" >&2
        echo "exit status $status after $ms ms; sessions $(cat "$sessions"); request closed $closed time(s)" >&2
        [[ $status == 3 && ! -e $out && $(cat "$sessions") == 0 && $closed == 1 ]] && ((ms < 2500)) &&
            ! compgen -G "$out.*.part" >/dev/null &&
            grep -q "stopped before the source delivered anything" "$out.err"' \
        _ "$tool" "$file" "$@"
}

# portal_desktop_road VMCAPTURE: the tool's default road for the desktop of a Wayland session
# takes the portal's own frames, and --via queued the desktop device (on a terminal the tool names
# its road; script(1) gives it one). Each road's whole screen at the default 20 frames a second
# from the node's 30 has the frames asked, the screen's size and the source's picture as
# GStreamer's converter makes it.
portal_desktop_road() {
    local tool=$1 dir=$BUILD_ROOT/results/$CURRENT_STAGE/desktop-road via road file
    rm -rf "$dir" && mkdir -p "$dir"
    gst-launch-1.0 -q videotestsrc pattern=solid-color foreground-color=0xff336699 num-buffers=1 \
        ! video/x-raw,format=BGRx,width=640,height=480 ! videoconvert ! video/x-raw,format=I420 \
        ! y4menc ! filesink location="$dir/reference.y4m"
    for via in "" queued; do
        road="the portal's own BGRx frames" file=$dir/${via:-default}.y4m
        [[ -n $via ]] && road=$via
        check "vmcapture-portal-road-${via:-default}" bash -c 'out=$1 road=$2
            shift 2
            script -qec "$(printf "%q " "$@")" /dev/null >"$out.terminal" 2>&1
            status=$?
            cat "$out.terminal" >&2
            [[ $status == 0 ]] && grep -qF "($road)" "$out.terminal"' \
            _ "$file" "$road" "$tool" capture desktop ${via:+--via "$via"} -n 20 -o "$file"
        check "ffprobe-portal-road-${via:-default}" bash -c '[[ "$(ffprobe -v error -count_frames \
            -select_streams v:0 -show_entries stream=width,height,nb_read_frames -of csv=p=0 \
            "$1")" == "640,480,20" ]]' ffprobe "$file"
        check "portal-road-${via:-default}-colours" /usr/bin/python3 \
            "$ROOT/tests/portal/y4m_compare.py" "$file" "$dir/reference.y4m" 1 2
    done
    # A reader that takes nothing for a second holds the tool back: the periods that passed
    # meanwhile are not made up afterwards, and the tool says how many frames were dropped.
    check portal-road-dropped-said bash -c '"$1" capture desktop -n 30 -q -o - 2>"$2.err" |
        (sleep 1; cat >"$2"); cat "$2.err" >&2
        grep -q "^vmcapture: warning: [0-9]* frames were dropped" "$2.err" &&
        [[ "$(ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 \
            "$2")" == 30 ]]' _ "$tool" "$dir/held.y4m"
}

# portal_camera_node NAME LOG PIPELINE..: a PipeWire Video/Source node named and described
# NAME, fed by `gst-launch-1.0 PIPELINE.. ! pipewiresink` in the background (its output in
# LOG); waits until the daemon lists it. NODE_PID is the producer's process.
NODE_PID=""
portal_camera_node() {
    local node=$1 log=$2 tries=0
    shift 2
    gst-launch-1.0 -q "$@" ! pipewiresink mode=provide \
        stream-properties="props,media.class=Video/Source,node.name=$node,node.description=$node" \
        >"$log" 2>&1 &
    NODE_PID=$!
    until pw-dump 2>/dev/null | grep -q "\"node.name\": \"$node\""; do
        ((tries++ < 100)) && kill -0 "$NODE_PID" 2>/dev/null || break
        sleep 0.1
    done
}

portal_node_end() {
    kill "$NODE_PID" 2>/dev/null
    wait "$NODE_PID" 2>/dev/null
}

# portal_still_camera VMCAPTURE: a camera whose picture never changes (a slide, a test card):
# a PipeWire Video/Source node of one solid colour, pulled by the tool 20 times. Each grab is
# a new frame although it equals the one before: the capture ends with the 20 frames asked,
# as ffprobe counts them.
portal_still_camera() {
    local tool=$1 out=$BUILD_ROOT/results/$CURRENT_STAGE/still-camera.y4m card=VornStillTestCard
    rm -f "$out"
    portal_camera_node "$card" "$out.gst.log" videotestsrc is-live=true pattern=solid-color \
        foreground-color=0xff336699 ! video/x-raw,format=BGRx,width=320,height=240,framerate=30/1
    run_check native vmcapture-pipewire-still-camera "$tool" capture camera --name "$card" \
        --world host --via pull -s 320x240 -r 30 -n 20 -q -o "$out"
    check ffprobe-pipewire-still-camera bash -c '[[ "$(ffprobe -v error -count_frames \
        -select_streams v:0 -show_entries stream=width,height,nb_read_frames -of csv=p=0 "$1")" \
        == "320,240,20" ]]' ffprobe "$out"
    portal_node_end
}

# portal_camera_road VMCAPTURE: the tool's default road for PipeWire cameras, which takes their
# frames in their own format. A YUY2 and a Motion-JPEG node of GStreamer's colour bars, 320x240
# at 30: to Y4M each has the node's frame count and rate, and the picture GStreamer's own
# converter makes within a conversion's rounding (the JPEG's: of its compression too). Into
# .mkv the JPEG node's images are stored as they came, byte for byte; the YUY2 node, or a
# bitrate asked, is encoded.
ROAD_DIR="" ROAD_CAPS=width=320,height=240,framerate=30/1
portal_camera_road() {
    local tool=$1 format raw encoder mean largest
    ROAD_DIR=$BUILD_ROOT/results/$CURRENT_STAGE/camera-road
    rm -rf "$ROAD_DIR" && mkdir -p "$ROAD_DIR"
    for format in YUY2 MJPG; do
        # The JPEG node's images are encoded from RGB: JPEG's own full-range colours, which the
        # tool's Y4M keeps (its header says so).
        raw=$format encoder=identity mean=0.5 largest=2 range=tv i420=I420
        [[ $format == MJPG ]] && raw=RGB encoder=jpegenc mean=1.5 largest=10 range=pc \
            i420=I420,colorimetry=1:4:0:0
        gst-launch-1.0 -q videotestsrc pattern=colors num-buffers=1 ! "video/x-raw,format=$raw,$ROAD_CAPS" \
            ! tee name=t ! queue ! videoconvert ! "video/x-raw,format=$i420" ! y4menc \
            ! filesink location="$ROAD_DIR/$format-reference.y4m" \
            t. ! queue ! "$encoder" ! filesink location="$ROAD_DIR/$format-reference.bin"
        road_capture "$tool" "$raw" "$encoder" "$format" y4m
        # The header says the node's 30, or the rate measured where a loaded machine held the
        # node back (never the 20 the tool asks by default).
        check "ffprobe-camera-road-$format-y4m" bash -c 'ffprobe -v error -count_frames \
            -select_streams v:0 -show_entries stream=width,height,r_frame_rate,nb_read_frames \
            -of csv=p=0 "$1" | tee /dev/stderr | awk -F "[,/]" "{ exit !(\$1 == 320 && \$2 == 240 &&
                \$3 / \$4 > 24 && \$3 / \$4 < 30.5 && \$5 == 30) }"' ffprobe "$ROAD_DIR/$format.y4m"
        check "ffprobe-camera-road-$format-range" bash -c '[[ "$(ffprobe -v error -select_streams v:0 \
            -show_entries stream=color_range -of csv=p=0 "$1")" == "$2" ]]' ffprobe \
            "$ROAD_DIR/$format.y4m" "$range"
        check "camera-road-$format-colours" /usr/bin/python3 "$ROOT/tests/portal/y4m_compare.py" \
            "$ROAD_DIR/$format.y4m" "$ROAD_DIR/$format-reference.y4m" "$mean" "$largest"
        if [[ $CURRENT_STAGE != portal-tsan ]]; then # the TSan build records no .mkv
            portal_camera_mkv "$tool" "$raw" "$encoder" "$format"
        fi
    done
    # A reader that takes nothing for a second holds the tool back: the frames the camera made
    # meanwhile are not in the file, and the tool says how many were dropped.
    portal_camera_node Road-YUY2 "$ROAD_DIR/held.gst.log" videotestsrc pattern=colors \
        is-live=true ! "video/x-raw,format=YUY2,$ROAD_CAPS"
    check camera-road-dropped-said bash -c '"$1" capture camera --name Road-YUY2 --world host \
        -n 30 -q -o - 2>"$2.err" | (sleep 1; cat >"$2"); cat "$2.err" >&2
        grep -q "^vmcapture: warning: [0-9]* frames were dropped" "$2.err" &&
        [[ "$(ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 \
            "$2")" == 30 ]]' _ "$tool" "$ROAD_DIR/held.y4m"
    portal_node_end
    # A camera whose JPEG images now and then do not decode (bytes zeroed by breakmydata, about
    # one image in three): those are skipped and counted with the dropped frames, and the capture
    # still ends with the frames asked rather than failing at the first bad image.
    portal_camera_node Road-Broken "$ROAD_DIR/broken.gst.log" videotestsrc pattern=colors \
        is-live=true ! "video/x-raw,format=RGB,$ROAD_CAPS" ! jpegenc \
        ! breakmydata probability=0.00003 set-to=0 seed=7
    check camera-road-broken-jpeg bash -c '"$1" capture camera --name Road-Broken --world host \
        -n 30 -o "$2" 2>"$2.err"; status=$?; cat "$2.err" >&2
        [[ $status == 0 ]] && grep -q "did not decode" "$2.err" &&
        [[ "$(ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 \
            "$2")" == 30 ]]' _ "$tool" "$ROAD_DIR/broken.y4m"
    # The same images decoded by vornvideosrc for an encoder: passed over, the recording goes
    # on, and the gaps are said.
    if [[ $CURRENT_STAGE != portal-tsan ]]; then # the TSan build records no .mkv
        check camera-road-broken-jpeg-encoded bash -c '"$1" capture camera --name Road-Broken \
            --world host -b 500 -n 30 -o "$2" 2>"$2.err"; status=$?; cat "$2.err" >&2
            [[ $status == 0 ]] && grep -q "never produced" "$2.err" &&
            [[ "$(ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$2")" == h264 ]]' \
            _ "$tool" "$ROAD_DIR/broken.mkv"
    fi
    portal_node_end
}

# portal_camera_devices VMCAPTURE: the library's own devices on a YUY2 and a Motion-JPEG node of
# GStreamer's colour bars, 320x240 at 30: the push device at the size and rate it asks by default
# (the node's size, 20 frames a second of a node of 30), the pull device at the node's size. Each
# delivers 10 frames of the picture GStreamer's converter makes through 24-bit RGB, the devices'
# format, within a conversion's rounding; the bars' edges differ more, where the chroma of two
# pixels is shared (measured: mean at most 2.2, largest 74).
portal_camera_devices() {
    local tool=$1 format raw encoder via size dir=$BUILD_ROOT/results/$CURRENT_STAGE/camera-devices
    rm -rf "$dir" && mkdir -p "$dir"
    for format in YUY2 MJPG; do
        raw=$format encoder=identity
        [[ $format == MJPG ]] && raw=RGB encoder=jpegenc
        gst-launch-1.0 -q videotestsrc pattern=smpte100 num-buffers=1 \
            ! "video/x-raw,format=$raw,$ROAD_CAPS" ! "$encoder" ! decodebin ! videoconvert \
            ! video/x-raw,format=BGR ! videoconvert ! video/x-raw,format=I420 ! y4menc \
            ! filesink location="$dir/$format-reference.y4m"
        for via in push pull; do
            size=()
            [[ $via == pull ]] && size=(-s 320x240)
            portal_camera_node "Devices-$format" "$dir/$format-$via.gst.log" videotestsrc \
                pattern=smpte100 is-live=true ! "video/x-raw,format=$raw,$ROAD_CAPS" ! "$encoder"
            run_check native "vmcapture-camera-$via-$format" "$tool" capture camera \
                --name "Devices-$format" --world host --via "$via" "${size[@]}" -n 10 -q \
                -o "$dir/$format-$via.y4m"
            portal_node_end
            check "camera-$via-$format-colours" /usr/bin/python3 \
                "$ROOT/tests/portal/y4m_compare.py" "$dir/$format-$via.y4m" \
                "$dir/$format-reference.y4m" 3 96
        done
    done
}

# road_capture VMCAPTURE RAW ENCODER FORMAT EXTENSION [OPTION..]: `VMCAPTURE capture camera` of
# 30 frames into ROAD_DIR/FORMAT.EXTENSION from the node Road-FORMAT (the colour bars as RAW,
# through ENCODER), started for this capture alone: gst-launch-1.0's pipewiresink may stop
# delivering after a few readers in turn.
road_capture() {
    local tool=$1 raw=$2 encoder=$3 format=$4 extension=$5
    shift 5
    portal_camera_node "Road-$format" "$ROAD_DIR/$format.$extension.gst.log" videotestsrc \
        pattern=colors is-live=true ! "video/x-raw,format=$raw,$ROAD_CAPS" ! "$encoder"
    run_check native "vmcapture-camera-road-$format-$extension" "$tool" capture camera \
        --name "Road-$format" --world host -n 30 -q "$@" -o "$ROAD_DIR/$format.$extension"
    portal_node_end
}

# portal_camera_mkv VMCAPTURE RAW ENCODER FORMAT: the node into .mkv: Motion-JPEG stored as it
# came (ffprobe: mjpeg, 30 images, 1 s; each image the node's JPEG byte for byte), YUY2
# encoded, and Motion-JPEG encoded too when a bitrate is asked.
portal_camera_mkv() {
    local tool=$1 raw=$2 encoder=$3 format=$4 stored=h264 file=$ROAD_DIR/$4.mkv
    [[ $format == MJPG ]] && stored=mjpeg
    road_capture "$tool" "$raw" "$encoder" "$format" mkv
    check "ffprobe-camera-road-$format-mkv" bash -c '[[ "$(ffprobe -v error -count_packets \
        -select_streams v:0 -show_entries stream=codec_name,width,height,nb_read_packets \
        -of csv=p=0 "$1")" == "$2,320,240,30" ]] &&
        ffprobe -v error -show_entries format=duration -of csv=p=0 "$1" |
        awk "{ exit !(\$1 > 0.95 && \$1 < 1.2) }"' ffprobe "$file" "$stored"
    [[ $format == MJPG ]] || return 0
    # ffmpeg copies the stored images out as they are; each is the node's JPEG.
    check camera-road-mkv-jpeg-unchanged bash -c 'rm -rf "$1.images" && mkdir "$1.images" &&
        ffmpeg -v error -i "$1" -map 0:v -c copy -f image2 "$1.images/%02d.jpg" &&
        (($(ls "$1.images" | wc -l) == 30)) &&
        for image in "$1.images"/*.jpg; do cmp "$image" "$2" || exit 1; done' \
        _ "$file" "$ROAD_DIR/$format-reference.bin"
    road_capture "$tool" "$raw" "$encoder" "$format" webm
    road_capture "$tool" "$raw" "$encoder" "$format" bitrate.mkv -b 500
    check ffprobe-camera-road-encoded bash -c '[[ "$(ffprobe -v error -select_streams v:0 \
        -show_entries stream=codec_name -of csv=p=0 "$1")$(ffprobe -v error -select_streams v:0 \
        -show_entries stream=codec_name -of csv=p=0 "$2")" == vp8h264 ]]' \
        ffprobe "$ROAD_DIR/$format.webm" "$ROAD_DIR/$format.bitrate.mkv"
}

# portal_colour_check NAME FILE: a pixel of the first frame of FILE, read back by ffmpeg as RGB,
# is the source node's colour (0x336699) within the rounding of 4:2:0.
portal_colour_check() {
    check "$1" bash -c 'ffmpeg -v error -i "$1" -frames:v 1 -vf crop=2:2:320:240 \
        -f rawvideo -pix_fmt rgb24 - | od -An -tu1 -N3 |
        awk "{ exit !(\$1 > 43 && \$1 < 59 && \$2 > 94 && \$2 < 110 && \$3 > 145 && \$3 < 161) }"' \
        ffmpeg "$2"
}
portal_session "$@"
