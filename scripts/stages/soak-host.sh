# SPDX-License-Identifier: MIT

# A program of a native build run on its own X server in the host world, like `program`: PROGRAM (in the build folder) ARGS..
host_soak() {
    prepare native || return 1
    start_xvfb || return 1
    local exe=$BUILD_DIR/$1
    DISPLAY=$XVFB_DISPLAY VORN_WORLD=host run_check native "${exe##*/}" "$exe" "${@:2}"
    stop_xvfb
}
host_soak "$@"
