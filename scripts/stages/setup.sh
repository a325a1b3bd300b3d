# SPDX-License-Identifier: MIT

# The README's set-up command as written (tests/scripts/setup_commands.txt, held to the README
# by the selfcheck stage), run in a folder whose entries lead to the source tree's and whose
# `build` is BUILD_ROOT/setup; the desktop.y4m it writes is judged by ffprobe. Its first step,
# the package install, is left out unless VMC_WITH_DEPS is 1 (the test command without --no-deps).
# That first build is of the tool alone (--target vmcapture): installing it must not ask for what
# it did not build (the GStreamer plugin), and the installed tool then runs.
setup_command() {
    local dir=$BUILD_ROOT/setup-run cmd entry
    cmd=$(python3 "$ROOT/tests/scripts/doc_check.py" setup-command "$ROOT") ||
        { fail "reading the set-up command"; return 1; }
    ((${VMC_WITH_DEPS:-0})) || cmd=${cmd#"bash scripts/install-deps.sh && "}
    rm -rf "$dir"
    mkdir -p "$dir" "$BUILD_ROOT/setup"
    for entry in "$ROOT"/*; do
        case ${entry##*/} in build | build-*) continue ;; esac
        ln -s "$entry" "$dir/${entry##*/}"
    done
    ln -s "$BUILD_ROOT/setup" "$dir/build"
    local failed_before=$FAILED probe
    check readme-setup-command env CMAKE_BUILD_PARALLEL_LEVEL="$JOBS" \
        bash -c 'cd "$1" && eval "$2"' setup "$dir" "$cmd"
    ((FAILED == failed_before)) || return 1
    probe=$(ffprobe -v error -count_frames -select_streams v:0 \
        -show_entries stream=width,height,nb_read_frames -of csv=p=0 "$dir/desktop.y4m" 2>&1)
    log "desktop.y4m: $probe (width, height, frames)"
    check ffprobe-setup-desktop bash -c '[[ $1 =~ ^1920,1080,([0-9]+)$ ]] && ((BASH_REMATCH[1] >= 30))' \
        probe "$probe"
    check install-tool-alone bash -c 'cmake --install "$1" --prefix "$1/prefix" >/dev/null &&
        "$1/prefix/bin/vmcapture" --version' install "$BUILD_ROOT/setup"
}
setup_command "$@"
