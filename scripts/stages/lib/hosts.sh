# SPDX-License-Identifier: MIT

# The compiler and toolchain file the build in folder DIR was made with: sets BUILD_CXX and
# BUILD_TOOLCHAIN (a -DCMAKE_TOOLCHAIN_FILE argument, when the build had one).
build_compiler() {
    local toolchain
    BUILD_TOOLCHAIN=()
    toolchain=$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' "$1/CMakeCache.txt")
    [[ -n $toolchain ]] && BUILD_TOOLCHAIN=("-DCMAKE_TOOLCHAIN_FILE=$toolchain")
    # The compiler that built the library (a toolchain file does not put it in the cache).
    BUILD_CXX=$(sed -n 's/^set(CMAKE_CXX_COMPILER "\(.*\)")$/\1/p' "$1"/CMakeFiles/*/CMakeCXXCompiler.cmake | head -n 1)
    [[ -n $BUILD_CXX ]] || { fail "no C++ compiler recorded in $1"; return 1; }
}

# hosts_on RUNNER WORK PREFIX: builds the host project of tests/install in WORK against
# the installation in PREFIX, through the CMake package and through pkg-config, and runs both.
# PREFIX "system" means the system's own folders: no search path is given to CMake or
# pkg-config, and the host needs no run-time path. HOST_ARGS (an array, if set) goes to CMake.
hosts_on() {
    local runner=$1 work=$2 prefix=$3
    build_compiler "$BUILD_DIR" || return 1
    local exe_suffix="" search=(-DCMAKE_PREFIX_PATH="$prefix") pkgconfig=(pkg-config) pc
    [[ $runner == wine* ]] && exe_suffix=.exe
    if [[ $prefix == system ]]; then
        search=()
    else
        pc=$(find "$prefix" -name vornmediacapture.pc -print -quit)
        [[ -n $pc ]] || { fail "no vornmediacapture.pc in $prefix"; return 1; }
        pkgconfig=(env PKG_CONFIG_LIBDIR="${pc%/*}" PKG_CONFIG_PATH= pkg-config)
    fi

    step "host through the CMake package"
    if cmake -S "$ROOT/tests/install" -B "$work/host-cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        "${search[@]}" "${BUILD_TOOLCHAIN[@]}" "${HOST_ARGS[@]}" &&
        cmake --build "$work/host-cmake" -j "$JOBS"; then
        run_check "$runner" host-cmake "$work/host-cmake/vmc_install_host$exe_suffix"
    else
        fail "host build through the CMake package"
    fi

    step "host through pkg-config"
    local incdir libdir flags
    if ! incdir=$("${pkgconfig[@]}" --variable=includedir vornmediacapture) ||
        ! libdir=$("${pkgconfig[@]}" --variable=libdir vornmediacapture) ||
        ! flags=$("${pkgconfig[@]}" --cflags --libs vornmediacapture); then
        fail "pkg-config cannot read vornmediacapture.pc${pc:+ ($pc)}"
        return 1
    fi
    mkdir -p "$work/host-pc"
    cmake -DINCLUDE_DIR="$incdir" -DOUTPUT_DIR="$work/host-pc" -P "$ROOT/tests/install/headers.cmake" ||
        { fail "host header list from pkg-config's includedir"; return 1; }
    local link_extra=("-Wl,-rpath,$libdir")
    [[ $prefix == system ]] && link_extra=()
    if [[ $runner == wine* ]]; then
        link_extra=(-static-libgcc -static-libstdc++ -static)
        cp "$prefix"/bin/*.dll "$work/host-pc/"
    fi
    log "$BUILD_CXX -std=c++17 host.cpp $flags"
    # shellcheck disable=SC2086 # pkg-config's flags are words
    if "$BUILD_CXX" -std=c++17 -Wall -Wextra -Werror -I"$work/host-pc" "$ROOT/tests/install/host.cpp" \
        -o "$work/host-pc/vmc_install_host$exe_suffix" $flags "${link_extra[@]}"; then
        run_check "$runner" host-pkgconfig "$work/host-pc/vmc_install_host$exe_suffix"
    else
        fail "host build through pkg-config"
    fi
}

# The install stages compile every installed header alone; the release hosts need not again.
# shellcheck disable=SC2034 # read by the release stages
RELEASE_HOST_ARGS=(-DVMC_HOST_EACH_HEADER=OFF)
HOST_ARGS=()
# Release packages of a build, made by CPack into WORK/packages (WORK emptied first); sets
# PACKAGES to the files made.
make_packages() {
    local generator=$1 work=$2
    rm -rf "$work"
    mkdir -p "$work"
    step "cpack -G $generator ($BUILD_DIR)"
    if ! (cd "$work" && cpack -G "$generator" --config "$BUILD_DIR/CPackConfig.cmake" -B "$work/packages") \
        >"$work/cpack.log" 2>&1; then
        cat "$work/cpack.log"
        fail "cpack -G $generator"
        return 1
    fi
    mapfile -t PACKAGES < <(find "$work/packages" -maxdepth 1 -type f \( -name '*.zip' -o -name '*.deb' \) | sort)
    ((${#PACKAGES[@]})) || { fail "cpack -G $generator made no package"; return 1; }
    log "made: ${PACKAGES[*]##*/}"
}
