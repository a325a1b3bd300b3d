# SPDX-License-Identifier: MIT
# shellcheck source=scripts/stages/lib/media.sh
source "$ROOT/scripts/stages/lib/media.sh"
# shellcheck source=scripts/stages/lib/windows-ffmpeg.sh
source "$ROOT/scripts/stages/lib/windows-ffmpeg.sh"

# The desktop under Wine beside ffmpeg's gdigrab (the ffmpeg for Windows of the dshow-client
# stage) in one run: the tool by its default road (GDI's lent DIB sections) and through the
# library's desktop device (--via queued), and gdigrab. Each program records the whole screen
# as fast as it goes, twice: a few frames, then GDIGRAB_FRAMES more; each run has an X server
# of its own at the size measured, a fresh Wine server, and a 16 x 16 square that changes every
# 5 ms, so every grab is a new picture and a frame written twice shows. The two runs' difference leaves the start-up of Wine
# and the X server out: frames a second, and CPU per frame of the whole process tree (the
# program, Wine's server and service processes, the X server; the square's own CPU left out).
# Then bench/wine's grabprofile.exe times one frame call by call at each size. Figures go to
# results/<stage>/figures.txt. The stage fails on a broken run (exit status, frame
# count, size, repeated frames), never on how the rates compare.
# on_wine_screen SIZE BASE PROGRAM ARGS..: runs a Windows program with the 64-bit Wine on an
# Xvfb of SIZE of its own (it picks a free display itself: xvfb-run -a can meet another user's
# server), with xticker drawing, all under treetime; output to BASE.log, the ticker's CPU
# seconds to BASE.ticker. Sets RUN_RC.
on_wine_screen() {
    local size=$1 base=$2
    shift 2
    # shellcheck disable=SC2016 # expanded by the inner shell
    (cd "${1%/*}" && WINEDEBUG=-all "$BUILD_DIR/bench-wine/treetime" timeout -k 10 300 bash -c '
        Xvfb -displayfd 3 -screen 0 "$1" -nolisten tcp 3>"$2.display" 2>"$2.xvfb" & xvfb=$!
        for i in $(seq 100); do [[ -s $2.display ]] && break; sleep 0.1; done
        [[ -s $2.display ]] || { echo "Xvfb did not start"; cat "$2.xvfb"; kill $xvfb; exit 1; }
        export DISPLAY=:$(head -n 1 "$2.display")
        "$3" >"$2.ticker" & ticker=$!
        sleep 0.3
        timeout -k 10 240 "${@:5}"; rc=$?
        "$4" -k 2>/dev/null
        kill $ticker; wait $ticker
        kill $xvfb; wait $xvfb
        exit $rc' measure "${size}x24" "$base" "$BUILD_DIR/bench-wine/xticker" "$WINESERVER" \
        "$WINE64" "$@" </dev/null) >"$base.log" 2>&1
    RUN_RC=$?
}

# The sizes measured (VMC_GDIGRAB_SIZES, words): 1920 x 1080 alone unless asked; each size
# takes about a minute of Wine and X server start-ups.
read -r -a GDIGRAB_SIZES <<<"${VMC_GDIGRAB_SIZES:-1920x1080}"
GDIGRAB_SHORT=10
GDIGRAB_FRAMES=200
gdigrab_bench() {
    with_ffmpeg "$1" || return $?
    local out=$BUILD_ROOT/results/$CURRENT_STAGE helpers=$BUILD_DIR/bench-wine
    mkdir -p "$out" "$helpers"
    if ! cc -O2 -o "$helpers/treetime" "$ROOT/bench/wine/treetime.c" ||
        ! cc -O2 -o "$helpers/xticker" "$ROOT/bench/wine/xticker.c" -lX11; then
        fail "building the helpers of bench/wine"
        return 1
    fi
    # No Wine process of an earlier stage may serve a measured one.
    "$WINESERVER" -k 2>/dev/null
    local size program frames label file wall cpu tick info distinct figures=$out/figures.txt
    local -A WALL=() CPU=()
    : >"$figures"
    for size in "${GDIGRAB_SIZES[@]}"; do
        for program in device lent gdigrab; do
            for frames in "$GDIGRAB_SHORT" $((GDIGRAB_SHORT + GDIGRAB_FRAMES)); do
                label=$program-$size-$frames file=$out/$label.y4m
                rm -f "$file"
                # The tool's default road (GDI's lent frames), or the library's desktop device.
                local command=("$BUILD_DIR/bin/vmcapture.exe" capture desktop -r 1000 -n "$frames" -q -o "Z:$file")
                [[ $program == device ]] && command+=(--via queued)
                [[ $program == gdigrab ]] && command=("$FFMPEG_EXE" -hide_banner -nostdin -loglevel error
                    -f gdigrab -framerate 1000 -i desktop -frames:v "$frames" -vsync passthrough
                    -pix_fmt yuv420p -f yuv4mpegpipe -y "Z:$file")
                step "measure $label: ${command[*]##*/}"
                on_wine_screen "$size" "$out/$label" "${command[@]}"
                read -r wall cpu < <(sed -n 's/^treetime: wall \([0-9.]*\) cpu \([0-9.]*\)$/\1 \2/p' "$out/$label.log")
                tick=$(cat "$out/$label.ticker" 2>/dev/null)
                info=$(ffprobe -v error -count_frames -select_streams v:0 -of csv=p=0 \
                    -show_entries stream=width,height,nb_read_frames "$file" 2>&1)
                distinct=$(distinct_frames "$file")
                rm -f "$file"
                log "$label: exit $RUN_RC, ${wall:-?} s, ${cpu:-?} s CPU of the tree (the square's ${tick:-?} s), ffprobe $info, $distinct distinct frames"
                # Every frame a grab of its own. On a loaded machine the square may miss a turn
                # between two grabs, so half the frames must differ: a grab written many times
                # over (ffmpeg filling a constant rate) leaves a few in a hundred.
                if [[ $RUN_RC == 0 && -n $wall && -n $cpu && -n $tick && $info == "${size/x/,},$frames" ]] &&
                    ((distinct * 2 >= frames)); then
                    PASSED=$((PASSED + 1))
                    WALL[$label]=$wall CPU[$label]=$(awk -v c="$cpu" -v t="$tick" 'BEGIN { print c - t }')
                else
                    fail "$label: exit $RUN_RC, wall ${wall:-?} s, ffprobe '$info' (${size/x/,},$frames wanted), $distinct distinct frames of $frames (see $out/$label.log)"
                fi
            done
            local short=$program-$size-$GDIGRAB_SHORT long=$program-$size-$((GDIGRAB_SHORT + GDIGRAB_FRAMES))
            [[ -n ${WALL[$short]:-} && -n ${WALL[$long]:-} ]] || continue
            awk -v p="$program" -v s="$size" -v n="$GDIGRAB_FRAMES" -v w0="${WALL[$short]}" -v w1="${WALL[$long]}" \
                -v c0="${CPU[$short]}" -v c1="${CPU[$long]}" 'BEGIN {
                    w = w1 - w0; c = c1 - c0
                    printf "%-9s %-9s %5.1f frames/s  %5.1f ms CPU/frame  (%d frames in %.2f s, %.2f s CPU)\n",
                        s, p, (w > 0 ? n / w : 0), 1000 * c / n, n, w, c }' | tee -a "$figures"
        done
        # One frame call by call: the device's calls, the tool's conversion and write.
        label=grabprofile-$size
        step "profile $label"
        on_wine_screen "$size" "$out/$label" "$BUILD_DIR/bin/grabprofile.exe" 100 "Z:$out/$label.i420"
        rm -f "$out/$label.i420"
        if [[ $RUN_RC == 0 ]] && grep -q "^the device's calls" "$out/$label.log"; then
            PASSED=$((PASSED + 1))
            tr -d '\r' <"$out/$label.log" | grep -v '^treetime:' | tee -a "$figures"
        else
            fail "$label: exit $RUN_RC (see $out/$label.log)"
        fi
    done
}
gdigrab_bench "$@"
