# SPDX-License-Identifier: MIT
# shellcheck source=scripts/stages/lib/hosts.sh
source "$ROOT/scripts/stages/lib/hosts.sh"

# Installs a build into a fresh prefix, then builds the host project of tests/install against
# it twice, through the CMake package and through pkg-config, and runs both hosts.
install_host() {
    local runner=$1 name=${BUILD_DIR##*/}
    prepare "$runner" || return 1
    local work=$BUILD_DIR-install
    rm -rf "$work"
    mkdir -p "$work"
    step "install $name into $work/prefix"
    cmake --install "$BUILD_DIR" --prefix "$work/prefix" >"$work.log" 2>&1 ||
        { cat "$work.log"; fail "install $name"; return 1; }
    hosts_on "$runner" "$work" "$work/prefix"
    [[ $runner == native ]] && install_tool_alone
}

# The first build a user makes is of the tool alone (--target vmcapture); installing it must
# not ask for what it did not build (the GStreamer plugin): the installed tool then runs.
install_tool_alone() {
    local dir=$BUILD_ROOT/tool-alone
    rm -rf "$dir"
    step "configure and build the tool alone in $dir"
    # The native preset's settings, in a folder of its own.
    if ! (cd "$ROOT" && cmake --preset native -B "$dir" -DVMC_BUILD_TESTS=OFF) >"$dir.log" 2>&1 ||
        ! cmake --build "$dir" -j "$JOBS" --target vmcapture >>"$dir.log" 2>&1; then
        cat "$dir.log"
        fail "build the tool alone"
        return 1
    fi
    check install-tool-alone bash -c 'cmake --install "$1" --prefix "$1/prefix" &&
        "$1/prefix/bin/vmcapture" --version' install "$dir"
}
install_host "$@"
