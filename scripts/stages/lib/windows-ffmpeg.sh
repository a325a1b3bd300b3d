# SPDX-License-Identifier: MIT

# A Windows program of someone else's that uses the registered devices: ffmpeg for Windows
# (4.1), from the npm registry, for each architecture. The tarball is kept in the build folder;
# a fetch that fails leaves the stage NOT RUN, never passed.
declare -A FFMPEG_PACKAGE=([wine]=@ffmpeg-installer/win32-x64 [wine32]=@ffmpeg-installer/win32-ia32)
# Sets FFMPEG_EXE; returns 2 (after counting the stage as not run) when it cannot be had.
fetch_ffmpeg() {
    local package=${FFMPEG_PACKAGE[$1]} dir=$BUILD_DIR/ffmpeg tarball
    FFMPEG_EXE=$dir/package/ffmpeg.exe
    [[ -f $FFMPEG_EXE ]] && return 0
    mkdir -p "$dir"
    tarball=$(find "$dir" -maxdepth 1 -name '*.tgz' -print -quit)
    if [[ -z $tarball ]]; then
        if ! command -v npm >/dev/null; then
            not_run "!!! npm is missing: cannot fetch $package, the third-party client was NOT tested"
            return 2
        fi
        step "npm pack $package (into $dir)"
        if ! (cd "$dir" && timeout 300 npm pack --silent "$package") >"$dir/npm.log" 2>&1; then
            cat "$dir/npm.log"
            not_run "!!! 'npm pack $package' failed (see $dir/npm.log): the third-party client was NOT tested"
            return 2
        fi
        tarball=$(find "$dir" -maxdepth 1 -name '*.tgz' -print -quit)
    fi
    if [[ -z $tarball ]] || ! tar -xzf "$tarball" -C "$dir" package/ffmpeg.exe; then
        rm -f "$tarball"
        not_run "!!! no package/ffmpeg.exe in the tarball of $package: the third-party client was NOT tested"
        return 2
    fi
}

# with_ffmpeg RUNNER: prepare, then fetch_ffmpeg.
with_ffmpeg() {
    prepare "$1" || return 1
    fetch_ffmpeg "$1"
}
