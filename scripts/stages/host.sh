# SPDX-License-Identifier: MIT
# shellcheck source=scripts/stages/lib/media.sh
source "$ROOT/scripts/stages/lib/media.sh"

# The host world's tests, then the capture tool recording the X screen (judged by ffprobe).
host_suites() {
    local runner=$1
    shift
    prepare "$runner" || return 1
    start_xvfb || return 1
    local TSAN_OPTIONS="$TSAN_OPTIONS:suppressions=$ROOT/tests/host/tsan.supp"
    export TSAN_OPTIONS
    DISPLAY=$XVFB_DISPLAY VORN_WORLD=host run_gtest native vmc_host_tests "$BUILD_DIR/bin/vmc_host_tests"
    local tool=$BUILD_DIR/bin/vmcapture out=$BUILD_ROOT/results/$CURRENT_STAGE/desktop.y4m
    if [[ -x $tool ]]; then
        rm -f "$out"
        DISPLAY=$XVFB_DISPLAY check vmcapture-host-list bash -c \
            '"$1" list --world host --kind desktop | grep -q "^World: host (X display :"' list "$tool"
        DISPLAY=$XVFB_DISPLAY VORN_WORLD=host run_check native vmcapture-host-desktop "$tool" capture desktop \
            -s 1280x1024 -n 10 -q -o "$out"
        if command -v ffprobe >/dev/null; then
            check ffprobe-host-desktop bash -c '[[ "$(ffprobe -v error -count_frames -select_streams v:0 \
                -show_entries stream=width,height,nb_read_frames -of csv=p=0 "$1")" == "1280,1024,10" ]]' \
                ffprobe "$out"
            loaded_desktop "$tool" "${out%/*}/loaded.y4m"
            host_stop_signals "$tool" "${out%/*}"
        fi
    fi
    stop_xvfb
}

# The X desktop recorded as .mkv and as .y4m, stopped after 2 s by a hang-up (a closed terminal)
# or a quit request (Ctrl-\): status 0, and a file under its own name that ffprobe reads, with
# more than a second of frames. A build without GStreamer (ThreadSanitizer's) records no .mkv.
host_stop_signals() {
    local tool=$1 dir=$2 signal ext exts=(mkv y4m)
    grep -q '^VMC_GSTREAMER:STRING=OFF' "$BUILD_DIR/CMakeCache.txt" && exts=(y4m)
    for signal in HUP QUIT; do
        for ext in "${exts[@]}"; do
            DISPLAY=$XVFB_DISPLAY VORN_WORLD=host check "vmcapture-host-sig$signal-$ext" bash -c '
                out=$2/stopped-$3.$4
                rm -f "$out"
                "$1" capture desktop -s 640x480 -r 10 -t 60 -q -o "$out" &
                pid=$!
                sleep 3
                kill -s "$3" "$pid"
                wait "$pid" || { echo "status $?"; exit 1; }
                frames=$(ffprobe -v error -count_packets -select_streams v:0 \
                    -show_entries stream=nb_read_packets -of csv=p=0 "$out")
                echo "$out: ${frames:-no} frames"
                ((${frames:-0} > 10))' stop "$tool" "$dir" "$signal" "$ext"
        done
    done
}

# The desktop at 30 frames a second for 3 s under a busy thread on every core: frames may be
# missed, but the Y4M rate must be the rate the frames came at, so the file plays for about
# the 3 s captured (1 to 3.4 s: the device opens within the 3 s, slowly under ThreadSanitizer),
# and a shortfall must be named ("never produced", or "were dropped" for frames made but not
# written). The test's awk is mawk on Debian, where a
# bare ">" in printf's arguments is a redirection: the condition is in parentheses.
loaded_desktop() {
    local tool=$1 out=$2 info rate frames verdict
    rm -f "$out" "$out.err"
    start_load
    DISPLAY=$XVFB_DISPLAY VORN_WORLD=host timeout -k 5 60 "$tool" capture desktop -s 1280x1024 \
        -r 30 -t 3 -o "$out" 2>"$out.err"
    local rc=$?
    stop_load
    info=$(ffprobe -v error -count_frames -select_streams v:0 -of csv=p=0 \
        -show_entries stream=r_frame_rate,nb_read_frames "$out" 2>&1)
    IFS=, read -r rate frames <<<"$info"
    verdict=$(awk -v r="$rate" -v n="${frames:-0}" 'BEGIN {
        split(r, f, "/"); fps = f[2] > 0 ? f[1] / f[2] : 0; plays = fps > 0 ? n / fps : 0
        printf "%s %.1f %.2f", ((plays >= 1 && plays <= 3.4) ? "ok" : "off"), fps, plays }')
    log "desktop under load: $info (frames a second, seconds the file plays: ${verdict#* })"
    if [[ $rc == 0 && $verdict == ok* ]] && { [[ ${verdict#* } == 30.0* ]] || grep -qE 'never produced|were dropped' "$out.err"; }; then
        PASSED=$((PASSED + 1))
    else
        fail "desktop under load: exit $rc, ffprobe $info, rate and seconds played ${verdict#* }, stderr: $(tr '\n' ' ' <"$out.err")"
    fi
}
host_suites "$@"
