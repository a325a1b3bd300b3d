#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Our readers of the session's source node one after another, as a user's captures come:
# the screen, the node as a camera, the window picked in the dialog, the camera again, twice
# over, 5 frames each. Every capture must exit 0 with its 5 frames (ffprobe counts them). A
# stream that leaves buffers unreturned when it goes starves the producer for the next reader,
# which then gets no frame at all.
#
#   readers_in_turn.sh VMCAPTURE OUTDIR     (in the portal session's environment)
set -uo pipefail
tool=$1 out=$2
mkdir -p "$out"
failed=0 n=0
for what in desktop camera window camera desktop camera window camera; do
    n=$((n + 1))
    file=$out/turn-$n-$what.y4m
    rm -f "$file"
    case $what in
    desktop) args=(capture desktop -s 640x480 -r 10) ;;
    camera) args=(capture camera -s 640x480 -r 30) ;;
    window) args=(capture window --name "Window picked in the desktop's dialog" -r 10) ;;
    esac
    start=$(date +%s%N)
    timeout -k 5 30 "$tool" "${args[@]}" -n 5 -q -o "$file" 2>"$out/turn-$n-$what.err"
    rc=$?
    frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries \
        stream=nb_read_frames -of csv=p=0 "$file" 2>/dev/null)
    verdict=ok
    if ((rc != 0)) || [[ $frames != 5 ]]; then
        verdict="FAILED: $(tr '\n' ' ' <"$out/turn-$n-$what.err")"
        failed=1
    fi
    echo "$n $what: exit $rc, ${frames:-no} frames, $((($(date +%s%N) - start) / 1000000)) ms, $verdict"
done
exit $failed
