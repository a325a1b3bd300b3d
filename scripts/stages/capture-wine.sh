# SPDX-License-Identifier: MIT
# shellcheck source=scripts/stages/lib/media.sh
source "$ROOT/scripts/stages/lib/media.sh"

# The shortest distance, in sample frames, at which the first 200 samples of a WAV's first
# channel recur exactly (0: nowhere). A sampled sine recurs only after a whole number of its
# periods fits a whole number of samples (440 Hz at 22050 Hz: 2205); a buffer repeated over
# and over recurs after its own length.
tone_recurrence() {
    ffmpeg -v error -i "$1" -af 'pan=mono|c0=c0' -f s16le - 2>/dev/null | od -An -v -td2 -w2 | awk '
        { s[n++] = $1 }
        END {
            for (d = 1; d + 200 <= n; d++) {
                for (i = 0; i < 200 && s[i] == s[i + d]; i++) {}
                if (i == 200) { print d; exit }
            }
            print 0
        }'
}

# ffprobe's size, rate and frame count of a Y4M, on one line.
video_info() {
    ffprobe -v error -count_frames -select_streams v:0 -of default=nw=1 \
        -show_entries stream=width,height,r_frame_rate,nb_read_frames "$1" 2>&1 | tr '\n' ' '
}

# "ok" when the r_frame_rate in ffprobe's INFO lies within half of ASKED either way, else "off".
rate_near() {
    sed -n 's|.*r_frame_rate=\([0-9]*\)/\([0-9]*\).*|\1 \2|p' <<<"$1" |
        awk -v asked="$2" '{ r = $2 > 0 ? $1 / $2 : 0; print (r >= asked / 2 && r <= asked * 1.5) ? "ok" : "off" }'
}

# The capture tool of a Windows build captures the registered virtual camera and microphone
# through both delivery paths, and the desktop by its default road; independent readers judge
# the files: ffprobe the Y4M's frame count, size and rate and the WAV's format, sox the tone's
# frequency. One test per file.
capture_wine() {
    local runner=$1
    shift
    prepare "$runner" || return 1
    local out=$BUILD_ROOT/results/$CURRENT_STAGE via file info freq rate samples duration distinct asked
    mkdir -p "$out"
    for via in push pull; do
        file=$out/camera-$via.y4m
        rm -f "$file"
        # Under Wine each pulled frame is a graph run of its own, and a run starts its stream
        # 200 ms ahead: pulled frames come at 4 a second at most.
        asked=10
        [[ $via == pull ]] && asked=3
        run_program "$runner" "camera-$via" "$BUILD_DIR/bin/vmcapture.exe" capture camera \
            "Vorn Virtual Camera" --via "$via" -s 320x240 -r "$asked" -n 10 -q -o "Z:$file"
        info=$(video_info "$file")
        # Pushed frames come at the rate the pin connected at; pulled ones at the tool's pace,
        # which the file then states as measured.
        rate=$(rate_near "$info" "$asked")
        if [[ $via == push && $info != *"r_frame_rate=10/1 "* ]]; then rate=off; fi
        # Every frame a new picture: a pulled camera must not hand back its last sample.
        distinct=$(distinct_frames "$file")
        if [[ $RUN_RC == 0 && $rate == ok && $info == "width=320 height=240 r_frame_rate="*" nb_read_frames=10 " && $distinct == 10 ]]; then
            PASSED=$((PASSED + 1))
        else
            fail "camera via $via: vmcapture exit $RUN_RC, ffprobe: $info, distinct frames: $distinct of 10"
        fi
        file=$out/microphone-$via.wav
        rm -f "$file"
        run_program "$runner" "microphone-$via" "$BUILD_DIR/bin/vmcapture.exe" capture microphone \
            "Vorn Virtual Microphone" --via "$via" --rate 44100 --bits 16 --channels 2 -t 2 -q -o "Z:$file"
        info=$(ffprobe -v error -of default=nw=1 -show_entries stream=sample_rate,channels "$file" 2>&1 | tr '\n' ' ')
        freq=$(sox "$file" -n remix 1 stat 2>&1 | awk '/^Rough +frequency:/ {print $3}')
        # Two seconds of audio in the file: 88200 sample frames, by sox and by ffprobe.
        samples=$(sox --i -s "$file" 2>&1)
        duration=$(ffprobe -v error -of default=nw=1:nk=1 -show_entries stream=duration_ts "$file" 2>&1)
        if [[ $RUN_RC == 0 && $info == "sample_rate=44100 channels=2 " && ${freq:-0} -ge 430 && ${freq:-0} -le 450 &&
            $samples == 88200 && $duration == 88200 ]]; then
            PASSED=$((PASSED + 1))
        else
            fail "microphone via $via: vmcapture exit $RUN_RC, ffprobe: $info duration_ts=$duration, sox: ${samples} sample frames (88200 wanted), frequency ${freq:-none} (440 wanted)"
        fi
    done
    # The desktop by the tool's default road, GDI's lent frames: a region from the top-left
    # corner at the rate asked (a slow grab lowers the rate the file states, never its frames).
    file=$out/desktop.y4m
    rm -f "$file"
    run_program "$runner" desktop "$BUILD_DIR/bin/vmcapture.exe" capture desktop -s 320x240 -r 10 \
        -n 10 -q -o "Z:$file"
    info=$(video_info "$file")
    rate=$(rate_near "$info" 10)
    if [[ $RUN_RC == 0 && $rate == ok && $info == "width=320 height=240 r_frame_rate="*" nb_read_frames=10 " ]]; then
        PASSED=$((PASSED + 1))
    else
        fail "desktop: vmcapture exit $RUN_RC, ffprobe: $info"
    fi
    # Pulled buffers follow one another: at 22050 Hz a 50 ms buffer is no whole number of the
    # tone's periods, so only a continuous tone recurs first after 2205 sample frames.
    file=$out/microphone-pull-22050.wav
    rm -f "$file"
    run_program "$runner" microphone-pull-22050 "$BUILD_DIR/bin/vmcapture.exe" capture microphone \
        "Vorn Virtual Microphone" --via pull --rate 22050 --bits 16 --channels 1 -t 1 -q -o "Z:$file"
    local recurs
    recurs=$(tone_recurrence "$file")
    if [[ $RUN_RC == 0 && $recurs == 2205 ]]; then
        PASSED=$((PASSED + 1))
    else
        fail "pulled microphone at 22050 Hz: vmcapture exit $RUN_RC, the tone recurs after ${recurs:-?} sample frames (2205 for a continuous tone; a repeated buffer recurs after its length)"
    fi
}
capture_wine "$@"
