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
    # Whether each header compiles alone does not hang on the word size: the x86_64 install
    # stage checks it with the same MinGW-w64 headers, the i686 one builds its hosts only.
    [[ $runner == wine32 ]] && local HOST_ARGS=("${RELEASE_HOST_ARGS[@]}")
    hosts_on "$runner" "$work" "$work/prefix"
}

install_host "$@"
