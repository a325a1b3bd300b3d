# SPDX-License-Identifier: MIT
# shellcheck source=scripts/fixtures/sound-server.sh
source "$ROOT/scripts/fixtures/sound-server.sh"
# shellcheck source=scripts/stages/lib/media.sh
source "$ROOT/scripts/stages/lib/media.sh"

# Starts a sound server of its own in a scratch folder, runs the host-media tests in the host
# world against it and the captures under load (loaded_audio), which end by killing it; then
# the library's view of a killed server on a server started afresh.
host_audio() {
    prepare native || return 1
    command -v pulseaudio >/dev/null || { fail "pulseaudio is missing (package pulseaudio)"; return 1; }
    command -v sox >/dev/null || { fail "sox is missing (package sox)"; return 1; }
    command -v ffmpeg >/dev/null || { fail "ffmpeg is missing (package ffmpeg)"; return 1; }
    local dir
    dir=$(mktemp -d "${TMPDIR:-/tmp}/vmc-pulse.XXXXXX") || { fail "mktemp"; return 1; }
    start_pulse "$dir" || { rm -rf "$dir"; return 1; }
    export PULSE_SERVER="unix:$dir/run/native"
    VORN_WORLD=host run_gtest native vmc_host_media_tests "$BUILD_DIR/bin/vmc_host_media_tests" \
        --gtest_filter=-HostAudioServerKilled.*
    if start_xvfb; then
        host_recording "$BUILD_DIR/bin/vmcapture" "$BUILD_ROOT/results/$CURRENT_STAGE/talk.mkv"
        stop_xvfb
    fi
    VORN_WORLD=host loaded_audio "$PULSE_PID"
    # The library's own view of a server killed mid-capture, on a server started afresh.
    if start_pulse "$dir"; then
        VMC_KILL_SERVER=$PULSE_PID VORN_WORLD=host run_gtest native vmc_host_media_tests-killed \
            "$BUILD_DIR/bin/vmc_host_media_tests" --gtest_filter=HostAudioServerKilled.*
    fi
    unset PULSE_SERVER
    stop_pulse
    rm -rf "$dir"
}

# The host world's screen and microphone through the tool's GStreamer elements: 3 s of the X
# desktop with the sound server's 440 Hz tone into one .mkv; ffprobe finds both streams at the
# length asked (within 0.1 s), and the decoded sound is the tone.
host_recording() {
    local tool=$1 out=$2 ends freq
    rm -f "$out"
    DISPLAY=$XVFB_DISPLAY VORN_WORLD=host run_check native vmcapture-host-recording "$tool" \
        capture desktop --audio microphone -s 640x480 -r 10 -t 3 -q -o "$out"
    # Where each stream ends: its last packet's time plus its length, by stream type.
    ends=$(awk -F, 'NR == FNR { type[$1] = $2; next }
        $1 in type { e = $2 + $3; if (e > end[type[$1]]) end[type[$1]] = e }
        END { printf "video %.3f audio %.3f", end["video"], end["audio"] }' \
        <(ffprobe -v error -show_entries stream=index,codec_type -of csv=p=0 "$out" 2>/dev/null) \
        <(ffprobe -v error -show_entries packet=stream_index,pts_time,duration_time -of csv=p=0 \
            "$out" 2>/dev/null))
    freq=$(ffmpeg -v error -i "$out" -vn -ac 1 -f wav - 2>/dev/null | sox -t wav - -n stat 2>&1 |
        awk '/^Rough +frequency:/ {print $3}')
    log "host recording: stream ends $ends, the sound at ${freq:-?} Hz"
    if awk -v e="$ends" -v f="${freq:-0}" 'BEGIN { split(e, p, " ")
            exit !(p[2] >= 2.9 && p[2] <= 3.1 && p[4] >= 2.9 && p[4] <= 3.1 && f >= 430 && f <= 450) }'; then
        PASSED=$((PASSED + 1))
    else
        fail "host recording: stream ends $ends (3 s each wanted), the sound at ${freq:-no} Hz (440 wanted)"
    fi
}

# The process that process PARENT started (a program under `timeout`), once it runs.
child_of() {
    local child="" tries=0
    while [[ -z $child ]] && ((tries++ < 100)); do
        read -r child _ <"/proc/$1/task/$1/children" 2>/dev/null
        [[ -n $child ]] || sleep 0.05
    done
    echo "$child"
}

# Waits until FILE holds more than BYTES (10 s at most).
wait_for_bytes() {
    local file=$1 bytes=$2 tries=0
    while (($(stat -c %s "$file" 2>/dev/null || echo 0) <= bytes)) && ((tries++ < 200)); do
        sleep 0.05
    done
}

# judge_tone LABEL FILE SECONDS [RC WANTED_RC]: one passed test when vmc_wavcheck finds FILE
# full-length and unbroken (and the program ended with the status wanted).
judge_tone() {
    local label=$1 file=$2 seconds=$3 rc=${4:-0} wanted=${5:-0} verdict
    verdict=$("$BUILD_DIR/bin/vmc_wavcheck" "$file" "$seconds" 440 2>&1)
    local checked=$?
    if ((checked == 0 && rc == wanted)); then
        PASSED=$((PASSED + 1))
    else
        fail "$label: exit $rc (wanted $wanted); $verdict"
    fi
}

# The sine source under load (a busy thread on every core): ROUNDS rounds, each a 5 s capture
# through the push and the pull microphone of the tool, while ffmpeg records the same source
# as the reference that shows the source itself was clean; each file judged from itself. Then
# a loss forced by holding up the tool's writing, which must be reported, and the sound server
# (process SERVER_PID) killed in the middle of a capture: the tool must say so and keep a valid
# file of what came.
AUDIO_ROUNDS=6
loaded_audio() {
    local server_pid=$1
    local out=$BUILD_ROOT/results/$CURRENT_STAGE tool=$BUILD_DIR/bin/vmcapture
    local sine="Sine source at 440 Hz" round ref push pull rc_ref rc_push rc_pull file
    mkdir -p "$out"
    rm -f "$out"/*.wav "$out"/*.err
    step "$AUDIO_ROUNDS rounds of 5 s captures under load: push, pull and ffmpeg's reference at once"
    start_load
    for ((round = 1; round <= AUDIO_ROUNDS; round++)); do
        timeout -k 5 60 ffmpeg -nostdin -v error -f pulse -sample_rate 44100 -channels 2 -i sine_input -t 5 \
            -c:a pcm_s16le -y "$out/reference-$round.wav" 2>"$out/reference-$round.err" &
        ref=$!
        timeout -k 5 60 "$tool" capture microphone "$sine" --via push -t 5 -q --strict \
            -o "$out/push-$round.wav" 2>"$out/push-$round.err" &
        push=$!
        timeout -k 5 60 "$tool" capture microphone "$sine" --via pull -t 5 -q --strict \
            -o "$out/pull-$round.wav" 2>"$out/pull-$round.err" &
        pull=$!
        wait "$ref"; rc_ref=$?
        wait "$push"; rc_push=$?
        wait "$pull"; rc_pull=$?
        # ffmpeg's -t ends the reference at a packet of the sound server's, up to a few
        # milliseconds early (4.9988 s seen); the reference shows the source was clean, its
        # length is not what is judged.
        judge_tone "reference $round (ffmpeg)" "$out/reference-$round.wav" 4.99 "$rc_ref"
        judge_tone "push $round $(tr '\n' ' ' <"$out/push-$round.err")" "$out/push-$round.wav" 5 "$rc_push"
        judge_tone "pull $round $(tr '\n' ' ' <"$out/pull-$round.err")" "$out/pull-$round.wav" 5 "$rc_pull"
    done

    step "a loss forced by holding up the tool's writing for 14 s (it keeps 10 s), with --strict"
    # The reader of the tool's output waits: the tool's thread blocks on the full pipe while
    # the device goes on delivering into the tool's queue, which keeps 10 s and then drops.
    # The gap falls about 10 s into the file: 12 s of audio reach it.
    file=$out/overrun.wav
    timeout -k 5 60 "$tool" capture microphone "$sine" -t 12 -q --strict -o - 2>"$out/overrun.err" |
        { sleep 14; cat >"$file"; }
    rc_push=${PIPESTATUS[0]}
    local verdict
    verdict=$("$BUILD_DIR/bin/vmc_wavcheck" "$file" 12 440 2>&1)
    if ((rc_push == 4)) && grep -q 'warning: .* of audio lost in' "$out/overrun.err" &&
        [[ $verdict == *BROKEN* && $verdict != *SHORT* ]]; then
        PASSED=$((PASSED + 1))
    else
        fail "forced loss: exit $rc_push (4 wanted), stderr: $(tr '\n' ' ' <"$out/overrun.err"); $verdict"
    fi
    stop_load

    step "the sound server killed in the middle of a capture"
    file=$out/killed.wav
    timeout -k 5 60 "$tool" capture microphone "$sine" -t 8 -q --timeout 3 -o "$file" 2>"$out/killed.err" &
    push=$!
    tool_pid=$(child_of "$push")
    wait_for_bytes "$file.$tool_pid.part" 200000
    kill -9 "$server_pid"
    wait "$push"; rc_push=$?
    verdict=$("$BUILD_DIR/bin/vmc_wavcheck" "$file" 8 440 2>&1)
    # A valid file, unbroken but short, and an error that says so.
    if ((rc_push == 1)) && grep -q 'broke off' "$out/killed.err" && [[ $verdict == *SHORT* && $verdict != *BROKEN* ]]; then
        PASSED=$((PASSED + 1))
    else
        fail "server killed: exit $rc_push (1 wanted), stderr: $(tr '\n' ' ' <"$out/killed.err"); $verdict"
    fi
}
host_audio "$@"
