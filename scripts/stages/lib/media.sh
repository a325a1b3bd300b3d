# SPDX-License-Identifier: MIT

# The number of different frames in a video file, by ffmpeg's checksum of each frame.
distinct_frames() {
    ffmpeg -v error -i "$1" -f framemd5 - 2>/dev/null | grep -v '^#' | awk -F, '{ print $NF }' | sort -u | wc -l
}

# Busy threads on every core, at the stage's own priority, until stop_load: the load of a
# build on the machine.
LOAD_PIDS=()
start_load() {
    local i cores
    cores=$(nproc 2>/dev/null || echo 2)
    for ((i = 0; i < cores; i++)); do
        bash -c 'while :; do :; done' &
        LOAD_PIDS+=($!)
    done
}

stop_load() {
    ((${#LOAD_PIDS[@]})) || return 0
    kill "${LOAD_PIDS[@]}" 2>/dev/null
    wait "${LOAD_PIDS[@]}" 2>/dev/null
    LOAD_PIDS=()
}
