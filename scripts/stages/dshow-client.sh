# SPDX-License-Identifier: MIT
# shellcheck source=scripts/stages/lib/media.sh
source "$ROOT/scripts/stages/lib/media.sh"
# shellcheck source=scripts/stages/lib/windows-ffmpeg.sh
source "$ROOT/scripts/stages/lib/windows-ffmpeg.sh"

# The camera's every layout (as ffmpeg names it) at every size, and the microphones with their tones.
DSHOW_FORMATS=(bgr24 yuv420p yuyv422)
DSHOW_SIZES=(640x480 320x240 160x120 1280x720)
DSHOW_FRAMES=6
dshow_client() {
    local runner=$1
    with_ffmpeg "$1" || return $?
    # shellcheck disable=SC2034 # run_program's limit for each run of ffmpeg
    local TEST_TIMEOUT=120
    local out=$BUILD_ROOT/results/$CURRENT_STAGE log ffmpeg=("$FFMPEG_EXE" -hide_banner -nostdin)
    mkdir -p "$out"

    # The devices as any DirectShow program lists them.
    run_program "$runner" list-devices "${ffmpeg[@]}" -f dshow -list_devices true -i dummy
    log=$out/list-devices.log
    local name missing=()
    for name in "Vorn Virtual Camera" "Vorn Virtual Camera 2" "Vorn Virtual Microphone" "Vorn Virtual Microphone 2"; do
        grep -qF "\"$name\"" "$log" || missing+=("$name")
    done
    if [[ -z $RUN_NOTE ]] && ((${#missing[@]} == 0)); then
        PASSED=$((PASSED + 1))
    else
        fail "ffmpeg -list_devices${RUN_NOTE:+ ($RUN_NOTE)} lacks: ${missing[*]}"
    fi

    # The camera's options: every layout at every size, as the pin offers them.
    run_program "$runner" list-options "${ffmpeg[@]}" -f dshow -list_options true -i "video=Vorn Virtual Camera"
    local offered format size
    offered=$(sed -n 's/.*pixel_format=\([a-z0-9]*\) *min s=\([0-9]*x[0-9]*\).*/\1 \2/p' "$out/list-options.log" | tr -d '\r' | sort -u)
    missing=()
    for format in "${DSHOW_FORMATS[@]}"; do
        for size in "${DSHOW_SIZES[@]}"; do
            grep -qx "$format $size" <<<"$offered" || missing+=("$format/$size")
        done
    done
    if [[ -z $RUN_NOTE ]] && ((${#missing[@]} == 0)); then
        PASSED=$((PASSED + 1))
    else
        fail "ffmpeg -list_options${RUN_NOTE:+ ($RUN_NOTE)} lacks: ${missing[*]}; offered: $(tr '\n' ' ' <<<"$offered")"
    fi

    # Each layout and size recorded to Y4M: ffprobe counts the frames and reads the size, and
    # the frames' checksums (ffmpeg's framemd5) must all differ: the picture moves.
    local file info distinct
    for format in "${DSHOW_FORMATS[@]}"; do
        for size in "${DSHOW_SIZES[@]}"; do
            file=$out/camera-$format-$size.y4m
            rm -f "$file"
            run_program "$runner" "camera-$format-$size" "${ffmpeg[@]}" -loglevel error -f dshow \
                -video_size "$size" -pixel_format "$format" -i "video=Vorn Virtual Camera" \
                -frames:v "$DSHOW_FRAMES" -vsync passthrough -pix_fmt yuv420p -f yuv4mpegpipe -y "Z:$file"
            info=$(ffprobe -v error -count_frames -select_streams v:0 -of csv=p=0 \
                -show_entries stream=width,height,nb_read_frames "$file" 2>&1)
            distinct=$(distinct_frames "$file")
            if [[ $RUN_RC == 0 && -z $RUN_NOTE && $info == "${size/x/,},$DSHOW_FRAMES" && $distinct == "$DSHOW_FRAMES" ]]; then
                PASSED=$((PASSED + 1))
            else
                fail "camera $format $size: ffmpeg exit $RUN_RC${RUN_NOTE:+ ($RUN_NOTE)}, ffprobe: $info, distinct frames: $distinct of $DSHOW_FRAMES"
            fi
        done
    done

    # Each microphone to WAV, 2 s: ffprobe reads the format and length, sox the tone.
    local device tone freq duration
    for device in "Vorn Virtual Microphone:440" "Vorn Virtual Microphone 2:880"; do
        tone=${device##*:} device=${device%:*}
        file=$out/microphone-$tone.wav
        rm -f "$file"
        run_program "$runner" "microphone-$tone" "${ffmpeg[@]}" -loglevel error -f dshow \
            -i "audio=$device" -t 2 -y "Z:$file"
        info=$(ffprobe -v error -of default=nw=1 -show_entries stream=codec_name,sample_rate,channels "$file" 2>&1 | tr '\n' ' ')
        duration=$(soxi -D "$file" 2>/dev/null)
        freq=$(sox "$file" -n remix 1 stat 2>&1 | awk '/^Rough +frequency:/ {print $3}')
        if [[ $RUN_RC == 0 && -z $RUN_NOTE && $info == "codec_name=pcm_s16le "* ]] &&
            awk -v d="${duration:-0}" 'BEGIN { exit !(d >= 1.9 && d <= 2.1) }' &&
            ((${freq:-0} >= tone - 10 && ${freq:-0} <= tone + 10)); then
            PASSED=$((PASSED + 1))
        else
            fail "$device: ffmpeg exit $RUN_RC${RUN_NOTE:+ ($RUN_NOTE)}, ffprobe: $info, ${duration:-no} s, sox's frequency: ${freq:-none} ($tone wanted)"
        fi
    done
}
dshow_client "$@"
