#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The project's test command: installs what the build needs, builds the library and its
# tests for Linux and Windows, runs every suite, and ends with one line "N passed, N failed".
#
#   bash scripts/test.sh [--no-deps] [--list] [STAGE...]     (no STAGE: every stage)
#
# Environment: VMC_BUILD_ROOT (build folders, default build-ci/), VMC_JOBS (parallel jobs,
# default the core count), VMC_TEST_TIMEOUT (seconds per test executable, default 1200),
# VMC_WINEPREFIX (a Wine prefix to reuse; default a scratch one, removed at the end),
# VMC_FUZZ_SECONDS (seconds per fuzz target in the fuzz stage, default 25), VMC_WINE32 (the
# 32-bit Wine loader, default Debian's; the script's own checks point it elsewhere).
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_ROOT=${VMC_BUILD_ROOT:-$ROOT/build-ci}
JOBS=${VMC_JOBS:-$(nproc 2>/dev/null || echo 2)}
TEST_TIMEOUT=${VMC_TEST_TIMEOUT:-1200}
FUZZ_SECONDS=${VMC_FUZZ_SECONDS:-25}
# Wine's loaders: wine64 runs x86_64 programs (and exits 0 without running anything when given a
# 32-bit one), wine runs i686 programs; both share one prefix and one server.
WINE64=/usr/lib/wine/wine64
WINE32=${VMC_WINE32:-/usr/lib/wine/wine}
WINESERVER=/usr/lib/wine/wineserver
XVFB=(xvfb-run -a -s "-screen 0 1280x1024x24")
# The test executables a build may produce; each one present is run.
SUITES=(vmc_tests vmc_virtual_tests vmc_capture_tests vmc_tool_tests vmc_windows_tests vmc_gst_tests)

# Sanitizer reports end the run with a failure and a stack; a caller's settings win.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:halt_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
export GTEST_COLOR=no
# The library serves the host world by default on Linux; the suites run in the virtual one,
# which they shape themselves. The host world's stages name it for their own commands.
export VORN_WORLD=virtual

# ---------------------------------------------------------------------------------------
# Build configurations: a build folder name under BUILD_ROOT, then CMake arguments.
# The GStreamer elements are required where the suites run them (native, asan); GLib and
# GStreamer are not built for ThreadSanitizer, whose build leaves them out.
NATIVE=(native -DCMAKE_BUILD_TYPE=Debug -DVMC_GSTREAMER=ON)
ASAN=(asan -DCMAKE_BUILD_TYPE=Debug "-DVMC_SANITIZE=address,undefined" -DVMC_GSTREAMER=ON)
TSAN=(tsan -DCMAKE_BUILD_TYPE=Debug -DVMC_SANITIZE=thread -DVMC_GSTREAMER=OFF)
# The fuzz targets of tests/fuzz with clang; the suites, tools and examples are not needed.
FUZZ=(fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
    -DVMC_BUILD_FUZZERS=ON -DVMC_BUILD_TESTS=OFF -DVMC_BUILD_TOOLS=OFF -DVMC_BUILD_EXAMPLES=OFF)
MINGW_I686=(mingw-i686 -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release)
MINGW_X64=(mingw-x86_64 -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release)

# Stages, in the order they run. Adding one is one line: name, description, command. The
# commands (RUNNER is native or wine; BUILD.. is one of the configurations above):
#   suites RUNNER BUILD..                     build, then run every suite of SUITES it has
#   build_only BUILD..                        build only
#   install_host RUNNER BUILD..               install the build; build and run a host on it
#   gtest RUNNER BUILD.. -- PROGRAM ARGS..    build, run one gtest program (path in the build)
#   program RUNNER BUILD.. -- PROGRAM ARGS..  build, run one program; exit 0 = one passed test
#   check LABEL COMMAND..                     run a command; exit 0 = one passed test
#   fuzzers BUILD..                           build, run each fuzz target for FUZZ_SECONDS
# For example:
#   stage help "the tool's help" program native "${NATIVE[@]}" -- bin/vmcapture --help
STAGE_NAMES=()
declare -A STAGE_INFO=() STAGE_CMD=()
stage() {
    local name=$1 info=$2
    shift 2
    STAGE_NAMES+=("$name")
    STAGE_INFO[$name]=$info
    STAGE_CMD[$name]=$(printf '%q ' "$@")
}
stage selfcheck    "the test command's own checks: 32-bit stages on a loader that cannot run are not run; Markdown links and anchors; the README's set-up commands" script_checks
stage native       "Debug build, the native suites"                       suites native "${NATIVE[@]}"
stage asan         "AddressSanitizer + UBSan build, the native suites"    suites native "${ASAN[@]}"
stage gst-tools    "GStreamer's own tools on the native build's plugin: gst-inspect-1.0 shows the elements, gst-device-monitor-1.0 lists the devices" gst_tools "${NATIVE[@]}"
stage tsan         "ThreadSanitizer build, the native suites"             tsan_suites "${TSAN[@]}"
stage fuzz         "libFuzzer targets (clang), ${FUZZ_SECONDS}s each from the seed corpus" fuzzers "${FUZZ[@]}"
stage wine         "MinGW-w64 x86_64 Release build, the suites under Wine" suites wine "${MINGW_X64[@]}"
stage wine-i686    "MinGW-w64 i686 Release build, the suites under 32-bit Wine" suites wine32 "${MINGW_I686[@]}"
stage install      "install the native build; CMake and pkg-config hosts" install_host native "${NATIVE[@]}"
stage install-wine "install the x86_64 build; hosts built, run under Wine" install_host wine "${MINGW_X64[@]}"
stage install-wine-i686 "install the i686 build; hosts built, run under 32-bit Wine" install_host wine32 "${MINGW_I686[@]}"
stage setup        "the README's set-up command as written (Release build of the tool), its capture judged by ffprobe" setup_command
stage release-deb  "Debian packages of the native build (CPack): lintian, dpkg -i, CMake and pkg-config hosts, the tool, removal" release_deb "${NATIVE[@]}"
stage release-zip  "x86_64 ZIP (CPack): unpacked, a host built on it, its devices registered, run under Wine" release_zip wine "${MINGW_X64[@]}"
stage release-zip-i686 "i686 ZIP (CPack): the same under 32-bit Wine" release_zip wine32 "${MINGW_I686[@]}"
stage host         "host world on a headless X server of its own, ASan build: X display tests, capture tool" host_suites native "${ASAN[@]}"
stage host-tsan    "host world on a headless X server of its own: X display tests, ThreadSanitizer" host_suites native "${TSAN[@]}"
stage soak         "soak, 60 s, ASan build: every device class, faults, leak counts" program native "${ASAN[@]}" -- bin/vmc_soak --seconds 60
stage capture-wine "the capture tool under Wine: the virtual camera and microphone, push and pull, judged by ffprobe and sox" capture_wine wine "${MINGW_X64[@]}"
stage capture-wine-i686 "the same with the i686 build under 32-bit Wine" capture_wine wine32 "${MINGW_I686[@]}"
stage dshow-client "a DirectShow client we did not write (ffmpeg for Windows, x86_64, from npm) on the registered devices, judged by ffprobe and sox" dshow_client wine "${MINGW_X64[@]}"
stage dshow-client-i686 "the same with the i686 build and the 32-bit ffmpeg under 32-bit Wine" dshow_client wine32 "${MINGW_I686[@]}"
stage gdigrab-wine "the desktop under Wine beside ffmpeg's gdigrab, x86_64 build, 1280x1024 and 1920x1080: frames a second and CPU per frame, and a frame call by call, into results/; fails only on a broken run" gdigrab_bench wine "${MINGW_X64[@]}"
stage soak-wine    "soak, 25 s, x86_64 build under Wine: GDI objects and handles" program wine "${MINGW_X64[@]}" -- bin/vmc_soak.exe --seconds 25
stage soak-wine-i686 "soak, 25 s, i686 build under 32-bit Wine: GDI objects and handles" program wine32 "${MINGW_I686[@]}" -- bin/vmc_soak.exe --seconds 25
stage soak-host    "soak, 30 s, ASan build, host world on its own Xvfb: screen devices over real X windows, X resources" host_soak "${ASAN[@]}" -- bin/vmc_soak_host --seconds 30 --media 0
stage host-audio   "host world, ASan build: a sound server of our own with a 440 Hz source; audio and video devices" host_audio "${ASAN[@]}"
stage portal       "host world in a Wayland session, ASan build: the real portal frontend, a test backend, PipeWire with a known source; portal and PipeWire camera tests, capture tool" portal_session "${ASAN[@]}"
stage python       "the Python package: built, installed into a scratch prefix, its pytest suite (virtual world, an Xvfb, a sound server, 100,000 grabs)" python_stage native "${NATIVE[@]}"
stage portal-tsan  "the same Wayland session with the ThreadSanitizer build: portal and PipeWire camera tests, capture tool" portal_session "${TSAN[@]}"

# ---------------------------------------------------------------------------------------
PASSED=0 FAILED=0 SKIPPED=0
FAILURES=()     # one line per failure, for the recap
NOT_RUN=()      # one line per stage that could not run here, for the recap
TIMINGS=()      # one line per stage
CURRENT_STAGE=""
STAGE_START=$(date +%s)
declare -A BUILD_STATE=()  # build folder -> ok | failed, so a build is tried once per run

log() { printf '%s\n' "$*"; }
# A step of a stage, with the seconds since the stage began.
step() { log "--- [+$(($(date +%s) - STAGE_START))s] $*"; }
fail() {
    FAILED=$((FAILED + 1))
    FAILURES+=("[$CURRENT_STAGE] $*")
    log "FAILED: $*"
}

# Configures (when the arguments changed) and builds one build folder.
ensure_build() {
    local name=$1
    shift
    local dir=$BUILD_ROOT/$name
    case ${BUILD_STATE[$name]:-} in
    ok) return 0 ;;
    failed)
        fail "build $name (failed earlier in this run)"
        return 1
        ;;
    esac
    local args
    args=$(printf '%q ' -G Ninja "$@")
    if [[ ! -f $dir/CMakeCache.txt || "$(cat "$dir/.vmc-configure" 2>/dev/null)" != "$args" ]]; then
        step "configure $name: cmake -G Ninja $*"
        if ! cmake -S "$ROOT" -B "$dir" -G Ninja "$@"; then
            BUILD_STATE[$name]=failed
            fail "configure $name"
            return 1
        fi
        printf '%s' "$args" >"$dir/.vmc-configure"
    fi
    step "build $name (-j$JOBS)"
    if ! cmake --build "$dir" -j "$JOBS"; then
        BUILD_STATE[$name]=failed
        fail "build $name"
        return 1
    fi
    BUILD_STATE[$name]=ok
    step "built $name"
}

build_only() {
    ensure_build "$@"
}

# A stage that cannot run on this machine: counted as skipped, and named in the recap.
not_run() {
    SKIPPED=$((SKIPPED + 1))
    NOT_RUN+=("[$CURRENT_STAGE] $*")
    log "NOT RUN (counted as skipped): $*"
}

# Builds a configuration and readies the way its programs run; sets BUILD_DIR. Returns 2
# (after counting the stage as skipped) where the 32-bit Wine cannot run on this machine.
prepare() {
    local runner=$1
    shift
    if [[ $runner == wine32 ]] && ! wine32_usable; then
        not_run "$WINE32_WHY"
        return 2
    fi
    ensure_build "$@" || return 1
    BUILD_DIR=$BUILD_ROOT/$1
    if [[ $runner == wine* ]]; then
        ensure_wine || return 1
        register_devices "$runner" "$BUILD_DIR/bin" || return 1
    fi
}

# Whether the 32-bit Wine runs here: the package installed and its loader really executing
# (`--version` exits 0 and names Wine). An installed package is not enough: a kernel built
# without 32-bit emulation refuses every i386 program ("Exec format error", exit 126). Checked
# once per run; WINE32_WHY is then "ok" or the reason every 32-bit stage is not run.
WINE32_WHY=""
wine32_usable() {
    if [[ -z $WINE32_WHY ]]; then
        local out rc
        if [[ ! -x $WINE32 ]] || [[ -z ${VMC_WINE32:-} &&
            "$(dpkg-query -W -f='${db:Status-Status}' wine32:i386 2>/dev/null)" != installed ]]; then
            WINE32_WHY="the 32-bit Wine ($WINE32, package wine32:i386) is not installed: the i386 package index could not be fetched or the install failed; see the deps stage"
        else
            # Through bash, which reports a program the kernel refuses as "Exec format error"
            # with 126 (timeout's own exec would hand such a file to /bin/sh as a script).
            # shellcheck disable=SC2016 # expanded by the inner shell
            out=$(timeout -k 5 60 bash -c '"$0" --version' "$WINE32" 2>&1 </dev/null)
            rc=$?
            out=$(tr -s '\n' ' ' <<<"$out" | cut -c 1-160)
            if ((rc == 0)) && [[ $out == wine* ]]; then
                WINE32_WHY=ok
            elif ((rc == 126)) || [[ $out == *"Exec format error"* ]]; then
                WINE32_WHY="this kernel cannot execute 32-bit programs: '$WINE32 --version' exited $rc ($out)"
            else
                WINE32_WHY="the 32-bit Wine loader does not run here: '$WINE32 --version' exited $rc ($out)"
            fi
        fi
        log "32-bit Wine: $WINE32_WHY"
    fi
    [[ $WINE32_WHY == ok ]]
}

# wine_run RUNNER SECONDS PROGRAM ARGS..: runs a Windows program under Wine (RUNNER wine: the
# 64-bit loader, wine32: the 32-bit one) on its own headless X server, in the run's Wine
# prefix, for SECONDS at most. Wine's session ends with the program, before its X server goes away
# (the outer limit is a last resort: stopping xvfb-run from outside leaves its server behind).
WINE_STATE=""       # "" | ok | failed
WINE_PREFIX_SET=""  # set once WINEPREFIX names this run's prefix
WINE_SCRATCH=""
wine_run() {
    local loader=$WINE64 limit=$2
    [[ $1 == wine32 ]] && loader=$WINE32
    shift 2
    # shellcheck disable=SC2016 # expanded by the inner shell
    WINEDEBUG=-all timeout -k 10 $((limit + 60)) "${XVFB[@]}" \
        bash -c 'timeout -k 10 "$1" "${@:3}"; rc=$?; "$2" -k 2>/dev/null; exit $rc' \
        wine-run "$limit" "$WINESERVER" "$loader" "$@"
}
ensure_wine() {
    [[ $WINE_STATE == ok ]] && return 0
    [[ $WINE_STATE == failed ]] && { fail "Wine (not usable, see above)"; return 1; }
    WINE_STATE=failed
    local tool
    for tool in "$WINE64" "$WINESERVER"; do
        [[ -x $tool ]] || { fail "$tool is missing (package wine64)"; return 1; }
    done
    command -v xvfb-run >/dev/null || { fail "xvfb-run is missing (package xvfb)"; return 1; }
    if [[ -n ${VMC_WINEPREFIX:-} ]]; then
        export WINEPREFIX=$VMC_WINEPREFIX
    else
        WINE_SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/vmc-wine.XXXXXX") || { fail "mktemp"; return 1; }
        export WINEPREFIX=$WINE_SCRATCH/prefix
    fi
    WINE_PREFIX_SET=1
    step "Wine prefix $WINEPREFIX (the first start creates it)"
    # A crashing program must end with a report, not wait on a dialog nobody can close.
    if ! wine_run wine 600 reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f; then
        fail "creating the Wine prefix"
        return 1
    fi
    WINE_STATE=ok
    step "Wine prefix ready"
}
# The virtual cameras and microphones of a Windows build (bin/VornVirtualDevices.dll), registered
# with regsvr32 in the run's prefix before its programs run, in the registry view of the build's
# bitness (the 32-bit regsvr32 writes the 32-bit view), so the media devices meet real capture
# filters. Checked through that view's registry; each build's DLL is registered once per run
# and unregistered when the run ends.
VDEVICES_CLASS='HKLM\Software\Classes\CLSID\'$(sed -n 's/^#define VORN_CAMERA_CLASS_TEXT "\(.*\)"$/\1/p' \
    "$ROOT/platform/shared/vdevice_classes.h")'\InprocServer32'
declare -A VDEVICES_REGISTERED=()  # bin folder -> runner
register_devices() {
    local runner=$1 bin=$2
    [[ -n ${VDEVICES_REGISTERED[$bin]:-} || ! -f $bin/VornVirtualDevices.dll ]] && return 0
    step "register $bin/VornVirtualDevices.dll (regsvr32, $runner)"
    (cd "$bin" && wine_run "$runner" 120 regsvr32 /s VornVirtualDevices.dll)
    if ! (cd "$bin" && wine_run "$runner" 60 reg query "$VDEVICES_CLASS") | grep -q VornVirtualDevices; then
        fail "registering $bin/VornVirtualDevices.dll with regsvr32"
        return 1
    fi
    VDEVICES_REGISTERED[$bin]=$runner
}
unregister_devices_of() {
    local bin=$1
    [[ -n ${VDEVICES_REGISTERED[$bin]:-} ]] || return 0
    (cd "$bin" && wine_run "${VDEVICES_REGISTERED[$bin]}" 120 regsvr32 /s /u VornVirtualDevices.dll)
    unset "VDEVICES_REGISTERED[$bin]"
}
unregister_devices() {
    local bin
    for bin in "${!VDEVICES_REGISTERED[@]}"; do
        unregister_devices_of "$bin"
    done
}
stop_wine() {
    [[ -n $WINE_PREFIX_SET ]] && unregister_devices
    [[ -n $WINE_PREFIX_SET ]] && "$WINESERVER" -k 2>/dev/null
    [[ -n $WINE_SCRATCH ]] && rm -rf "$WINE_SCRATCH"
    WINE_PREFIX_SET="" WINE_SCRATCH=""
}
trap 'stop_wine; stop_xvfb' EXIT

# Counts the results in a gtest XML report: prints "passed failed skipped", then the
# names of the failed tests, one a line.
count_xml() {
    awk '
        { sub(/\r$/, "") }
        /<testcase / {
            name = $0; sub(/.*<testcase name="/, "", name); sub(/".*/, "", name)
            cls = $0; sub(/.*classname="/, "", cls); sub(/".*/, "", cls)
            skipped = ($0 ~ /status="notrun"/ || $0 ~ /result="skipped"/ || $0 ~ /result="suppressed"/)
            failed = 0; open = ($0 !~ /\/>$/)
            if (!open) finish()
            next
        }
        open && /<failure|<error/ { failed = 1 }
        open && /<\/testcase>/ { finish() }
        function finish() {
            open = 0
            if (failed) { f++; names = names cls "." name "\n" }
            else if (skipped) s++
            else p++
        }
        END { printf "%d %d %d\n%s", p, f, s, names }
    ' "$1"
}

# Runs one program from its own folder, natively or under Wine, within the time limit; its
# output goes to the console and to results/<stage>/<label>.log. Sets RUN_RC, and RUN_NOTE
# when the program did not simply exit (timeout, signal, Wine's report of a crash: Wine can
# exit 0 after a crash in exit-time code).
run_program() {
    local runner=$1 label=$2
    shift 2
    local log=$BUILD_ROOT/results/$CURRENT_STAGE/$label.log
    mkdir -p "${log%/*}"
    local dir=.
    [[ $1 == */* ]] && dir=${1%/*}
    step "run $label: $*"
    if [[ $runner == wine* ]]; then
        (cd "$dir" && wine_run "$runner" "$TEST_TIMEOUT" "$@" </dev/null) 2>&1 | tee "$log"
    else
        (cd "$dir" && bash "$ROOT/scripts/watchdog.sh" "$TEST_TIMEOUT" "$@" </dev/null) 2>&1 | tee "$log"
    fi
    RUN_RC=${PIPESTATUS[0]}
    RUN_NOTE=""
    case $RUN_RC in
    124 | 137) RUN_NOTE="timed out after ${TEST_TIMEOUT}s" ;;
    1[3-9][0-9]) [[ $runner == native ]] && RUN_NOTE="killed by signal $((RUN_RC - 128))" ;;
    esac
    if [[ $runner == wine* ]] && grep -q '^wine: Unhandled' "$log"; then
        RUN_NOTE="crashed: $(grep -m1 '^wine: Unhandled' "$log" | tr -d '\r')"
        ((RUN_RC == 0)) && RUN_RC=1
    fi
}

# Runs one gtest executable and adds its results to the totals. A missing report (crash,
# timeout), a crash report and a failing exit status without a failed test (a sanitizer
# report at exit) are failures of their own.
run_gtest() {
    local runner=$1 label=$2 exe=$3
    shift 3
    local xml=$BUILD_ROOT/results/$CURRENT_STAGE/$label.xml
    mkdir -p "${xml%/*}"
    rm -f "$xml"
    local out=$xml
    [[ $runner == wine* ]] && out="Z:$xml"
    run_program "$runner" "$label" "$exe" --gtest_brief=1 --gtest_output="xml:$out" "$@"
    if [[ ! -s $xml ]]; then
        fail "$label wrote no results: ${RUN_NOTE:-exit status $RUN_RC}"
        return
    fi
    local counts p f s line
    counts=$(count_xml "$xml")
    read -r p f s <<<"${counts%%$'\n'*}"
    PASSED=$((PASSED + p))
    SKIPPED=$((SKIPPED + s))
    log "$label: $p passed, $f failed, $s skipped"
    while IFS= read -r line; do
        [[ -n $line ]] && fail "$label: $line"
    done < <(tail -n +2 <<<"$counts")
    if [[ -n $RUN_NOTE ]]; then
        fail "$label $RUN_NOTE"
    elif ((RUN_RC != 0 && f == 0)); then
        fail "$label exited with status $RUN_RC after its tests passed (sanitizer report? exit-time error?)"
    fi
    ((p + f + s == 0)) && log "warning: $label ran no test"
}

# Builds, then runs every test executable of the build that exists.
suites() {
    local runner=$1
    shift
    prepare "$runner" "$@" || return 1
    local suite exe ran=0
    for suite in "${SUITES[@]}"; do
        exe=$BUILD_DIR/bin/$suite
        [[ $runner == wine* ]] && exe+=.exe
        [[ -x $exe ]] || continue
        if [[ $suite == vmc_gst_tests ]]; then
            # GLib and GStreamer keep allocations of their own reachable only from threads
            # that may still be ending at exit; the suite counts our objects itself.
            LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$ROOT/tests/gst/lsan.supp:print_suppressions=0" \
                run_gtest "$runner" "$suite" "$exe"
        else
            run_gtest "$runner" "$suite" "$exe"
        fi
        ran=$((ran + 1))
    done
    ((ran > 0)) || fail "no test executable in $BUILD_DIR/bin"
}

# Installs a build into a fresh prefix, then builds the host project of tests/install against
# it twice, through the CMake package and through pkg-config, and runs both hosts.
install_host() {
    local runner=$1 name=$2
    shift
    prepare "$runner" "$@" || return 1
    local work=$BUILD_DIR-install
    rm -rf "$work"
    mkdir -p "$work"
    step "install $name into $work/prefix"
    cmake --install "$BUILD_DIR" --prefix "$work/prefix" >"$work.log" 2>&1 ||
        { cat "$work.log"; fail "install $name"; return 1; }
    hosts_on "$runner" "$work" "$work/prefix" "$@"
    [[ $runner == native ]] && install_tool_alone "$@"
}

# The first build a user makes is of the tool alone (--target vmcapture); installing it must
# not ask for what it did not build (the GStreamer plugin): the installed tool then runs.
install_tool_alone() {
    local dir=$BUILD_ROOT/tool-alone
    rm -rf "$dir"
    step "configure and build the tool alone in $dir"
    if ! cmake -S "$ROOT" -B "$dir" -G Ninja "${@:2}" -DVMC_BUILD_TESTS=OFF >"$dir.log" 2>&1 ||
        ! cmake --build "$dir" -j "$JOBS" --target vmcapture >>"$dir.log" 2>&1; then
        cat "$dir.log"
        fail "build the tool alone"
        return 1
    fi
    check install-tool-alone bash -c 'cmake --install "$1" --prefix "$1/prefix" &&
        "$1/prefix/bin/vmcapture" --version' install "$dir"
}
# The compiler and toolchain file a build was made with: sets BUILD_CXX and BUILD_TOOLCHAIN
# (the -DCMAKE_TOOLCHAIN_FILE argument among BUILD.., if any).
build_compiler() {
    local arg
    BUILD_TOOLCHAIN=()
    for arg in "${@:2}"; do
        [[ $arg == -DCMAKE_TOOLCHAIN_FILE=* ]] && BUILD_TOOLCHAIN=("$arg")
    done
    # The compiler that built the library (a toolchain file does not put it in the cache).
    BUILD_CXX=$(sed -n 's/^set(CMAKE_CXX_COMPILER "\(.*\)")$/\1/p' "$1"/CMakeFiles/*/CMakeCXXCompiler.cmake | head -n 1)
    [[ -n $BUILD_CXX ]] || { fail "no C++ compiler recorded in $1"; return 1; }
}
# hosts_on RUNNER WORK PREFIX BUILD..: builds the host project of tests/install in WORK against
# the installation in PREFIX, through the CMake package and through pkg-config, and runs both.
# PREFIX "system" means the system's own folders: no search path is given to CMake or
# pkg-config, and the host needs no run-time path. HOST_ARGS (an array, if set) goes to CMake.
hosts_on() {
    local runner=$1 work=$2 prefix=$3
    shift 3
    build_compiler "$BUILD_DIR" "$@" || return 1
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

# The Windows release: the build's ZIP unpacked into an empty folder must hold what a Windows
# developer needs; the host project is built against it (CMake package and pkg-config), the
# archive's virtual devices are registered, and the host and `vmcapture.exe list` run from it.
ZIP_CONTENTS=(README.md LICENSE docs/windows.md docs/building.md VornVirtualDevices.txt
    bin/VornMediaCapture.dll bin/vmcapture.exe bin/VornVirtualDevices.dll lib/VornMediaCapture.dll.a
    include/VornMediaCapture/tqzlocker.h include/VornMediaCapture/vornplatform.h
    lib/cmake/VornMediaCapture/VornMediaCaptureConfig.cmake lib/pkgconfig/vornmediacapture.pc)
release_zip() {
    local runner=$1
    shift
    prepare "$runner" "$@" || return 1
    local work=$BUILD_DIR-release file
    make_packages ZIP "$work" || return 1
    local zip=${PACKAGES[0]}
    mkdir -p "$work/unpacked"
    unzip -q "$zip" -d "$work/unpacked" || { fail "unzip $zip"; return 1; }
    local top=$work/unpacked/${zip##*/} missing=()
    top=${top%.zip}
    for file in "${ZIP_CONTENTS[@]}"; do
        [[ -f $top/$file ]] || missing+=("$file")
    done
    if ((${#missing[@]})); then
        fail "${zip##*/} lacks ${missing[*]}"
    else
        PASSED=$((PASSED + 1))
    fi
    local HOST_ARGS=("${RELEASE_HOST_ARGS[@]}")
    hosts_on "$runner" "$work" "$top" "$@"

    # The archive's own devices, registered where it was unpacked; the build's registration is
    # put back afterwards for the stages that follow.
    register_devices "$runner" "$top/bin" || return 1
    run_program "$runner" vmcapture-list "$top/bin/vmcapture.exe" list
    if ((RUN_RC == 0)) && grep -q 'Vorn Virtual Camera' "$BUILD_ROOT/results/$CURRENT_STAGE/vmcapture-list.log" &&
        grep -q 'Vorn Virtual Microphone' "$BUILD_ROOT/results/$CURRENT_STAGE/vmcapture-list.log"; then
        PASSED=$((PASSED + 1))
    else
        fail "vmcapture.exe list from the ZIP (exit $RUN_RC${RUN_NOTE:+, $RUN_NOTE}) does not show the archive's camera and microphone"
    fi
    unregister_devices_of "$top/bin"
    unregister_devices_of "$BUILD_DIR/bin"
    register_devices "$runner" "$BUILD_DIR/bin"
}

# The Debian release: the packages of a native build, checked by lintian (errors fail),
# installed with dpkg, used by the host project (CMake package and pkg-config, from the
# system's folders) and the installed tool, and removed again.
release_deb() {
    prepare native "$@" || return 1
    local work=$BUILD_DIR-release deb names=() dpkg=(dpkg) missing=()
    command -v lintian >/dev/null || missing+=(lintian)
    command -v dpkg-shlibdeps >/dev/null || missing+=(dpkg-dev)
    if ((${#missing[@]})); then
        fail "${missing[*]} missing (scripts/install-deps.sh installs it)"
        return 1
    fi
    if ((EUID != 0)); then
        if sudo -n true 2>/dev/null; then
            dpkg=(sudo -n dpkg)
        else
            not_run "installing packages needs root or password-less sudo"
            return 2
        fi
    fi
    make_packages DEB "$work" || return 1
    for deb in "${PACKAGES[@]}"; do
        names+=("$(dpkg-deb -f "$deb" Package)")
        log "$(dpkg-deb -f "$deb" Package Version Depends | tr '\n' ' ')"
        check "lintian-${names[-1]}" lintian --fail-on error "$deb"
    done
    step "dpkg -i ${names[*]}"
    if ! "${dpkg[@]}" -i "${PACKAGES[@]}"; then
        fail "dpkg -i ${PACKAGES[*]##*/}"
        "${dpkg[@]}" --purge "${names[@]}" >/dev/null 2>&1
        return 1
    fi
    PASSED=$((PASSED + 1))
    local HOST_ARGS=("${RELEASE_HOST_ARGS[@]}")
    hosts_on native "$work" system "$@"
    check vmcapture-installed bash -c '[[ "$(command -v vmcapture)" == /usr/bin/vmcapture ]] && vmcapture list'
    step "dpkg --purge ${names[*]}"
    if "${dpkg[@]}" --purge "${names[@]}" && ! dpkg-query -W "${names[@]}" 2>/dev/null | grep -q .; then
        PASSED=$((PASSED + 1))
    else
        fail "removing ${names[*]}"
    fi
}

# Runs one program that is not a gtest suite; a clean exit 0 counts as one passed test. A
# Windows program must also have printed something: Wine's loader exits 0 without a word when
# it cannot run a program of the other bitness.
run_check() {
    local runner=$1 label=$2
    shift 2
    run_program "$runner" "$label" "$@"
    if [[ $runner == wine* && -z $RUN_NOTE ]] && ! grep -q '[^[:space:]]' "$BUILD_ROOT/results/$CURRENT_STAGE/$label.log"; then
        RUN_NOTE="printed nothing (was it run at all?)"
    fi
    if [[ -n $RUN_NOTE ]]; then
        fail "$label $RUN_NOTE"
    elif ((RUN_RC != 0)); then
        fail "$label exited with status $RUN_RC"
    else
        PASSED=$((PASSED + 1))
    fi
}

# Splits "BUILD.. -- PROGRAM ARGS.." into BUILD_ARGS and PROGRAM_ARGS.
split_at_dashes() {
    BUILD_ARGS=() PROGRAM_ARGS=()
    while (($#)) && [[ $1 != -- ]]; do
        BUILD_ARGS+=("$1")
        shift
    done
    (($#)) && shift
    PROGRAM_ARGS=("$@")
}
# Stage helpers for single programs of a build (PROGRAM relative to the build folder):
#   gtest RUNNER BUILD.. -- PROGRAM ARGS..     a gtest executable, each test counted
#   program RUNNER BUILD.. -- PROGRAM ARGS..   any program, exit status 0 = one passed test
#   check LABEL COMMAND..                      a command outside any build, likewise
gtest() { one_program run_gtest "$@"; }
program() { one_program run_check "$@"; }
one_program() {
    local how=$1 runner=$2
    shift 2
    split_at_dashes "$@"
    prepare "$runner" "${BUILD_ARGS[@]}" || return 1
    local exe=$BUILD_DIR/${PROGRAM_ARGS[0]}
    "$how" "$runner" "${exe##*/}" "$exe" "${PROGRAM_ARGS[@]:1}"
}
# The Python package's stage (scripts/stages/python.sh), its pytest results counted.
python_stage() {
    prepare "$@" || return 1
    # The asan stage's build, where it has the module, runs the suite a second time.
    local asan=$BUILD_ROOT/asan
    grep -qs _vorncapture "$asan/build.ninja" || asan=""
    run_program native python bash "$ROOT/scripts/stages/python.sh" "$BUILD_DIR" $asan
    local counts p f s
    counts=$(sed -n 's/^vorncapture: \([0-9]*\) passed, \([0-9]*\) failed, \([0-9]*\) skipped$/\1 \2 \3/p' \
        "$BUILD_ROOT/results/$CURRENT_STAGE/python.log" | tail -1)
    read -r p f s <<<"${counts:-0 1 0}"
    PASSED=$((PASSED + p)) SKIPPED=$((SKIPPED + s))
    ((f == 0)) || fail "python: $f failed (results/$CURRENT_STAGE/python.log)"
    [[ -n $RUN_NOTE ]] && fail "python $RUN_NOTE"
}

# The number of different frames in a video file, by ffmpeg's checksum of each frame.
distinct_frames() {
    ffmpeg -v error -i "$1" -f framemd5 - 2>/dev/null | grep -v '^#' | awk -F, '{ print $NF }' | sort -u | wc -l
}
# The shortest distance, in sample frames, at which the first 200 samples of a WAV's first
# channel recur exactly (0: nowhere). A sampled sine recurs only after a whole number of its
# periods fits a whole number of samples (440 Hz at 22050 Hz: 2205); a buffer repeated over
# and over recurs after its own length.
tone_recurrence() {
    ffmpeg -v error -i "$1" -af 'pan=mono|c0=c0' -f s16le - 2>/dev/null | od -An -v -td2 -w2 | awk '
        { s[n++] = $1 }
        END {
            for (d = 1; d + 200 <= n; d++) {
                for (i = 0; i < 200 && s[i] == s[i + d]; i++) {}
                if (i == 200) { print d; exit }
            }
            print 0
        }'
}
# The capture tool of a Windows build captures the registered virtual camera and microphone
# through both delivery paths; independent readers judge the files: ffprobe the Y4M's frame
# count, size and rate and the WAV's format, sox the tone's frequency. One test per file.
capture_wine() {
    local runner=$1
    shift
    prepare "$runner" "$@" || return 1
    local out=$BUILD_ROOT/results/$CURRENT_STAGE via file info freq rate samples duration distinct asked
    mkdir -p "$out"
    for via in push pull; do
        file=$out/camera-$via.y4m
        rm -f "$file"
        # Under Wine each pulled frame is a graph run of its own, and a run starts its stream
        # 200 ms ahead: pulled frames come at 4 a second at most.
        asked=10
        [[ $via == pull ]] && asked=3
        run_program "$runner" "camera-$via" "$BUILD_DIR/bin/vmcapture.exe" capture camera \
            "Vorn Virtual Camera" --via "$via" -s 320x240 -r "$asked" -n 10 -q -o "Z:$file"
        info=$(ffprobe -v error -count_frames -select_streams v:0 -of default=nw=1 \
            -show_entries stream=width,height,r_frame_rate,nb_read_frames "$file" 2>&1 | tr '\n' ' ')
        # Pushed frames come at the rate the pin connected at; pulled ones at the tool's pace,
        # which the file then states as measured: within half the rate asked either way.
        rate=$(sed -n 's|.*r_frame_rate=\([0-9]*\)/\([0-9]*\).*|\1 \2|p' <<<"$info" |
            awk -v asked="$asked" '{ r = $2 > 0 ? $1 / $2 : 0; print (r >= asked / 2 && r <= asked * 1.5) ? "ok" : "off" }')
        if [[ $via == push && $info != *"r_frame_rate=10/1 "* ]]; then rate=off; fi
        # Every frame a new picture: a pulled camera must not hand back its last sample.
        distinct=$(distinct_frames "$file")
        if [[ $RUN_RC == 0 && $rate == ok && $info == "width=320 height=240 r_frame_rate="*" nb_read_frames=10 " && $distinct == 10 ]]; then
            PASSED=$((PASSED + 1))
        else
            fail "camera via $via: vmcapture exit $RUN_RC, ffprobe: $info, distinct frames: $distinct of 10"
        fi
        file=$out/microphone-$via.wav
        rm -f "$file"
        run_program "$runner" "microphone-$via" "$BUILD_DIR/bin/vmcapture.exe" capture microphone \
            "Vorn Virtual Microphone" --via "$via" --rate 44100 --bits 16 --channels 2 -t 2 -q -o "Z:$file"
        info=$(ffprobe -v error -of default=nw=1 -show_entries stream=sample_rate,channels "$file" 2>&1 | tr '\n' ' ')
        freq=$(sox "$file" -n remix 1 stat 2>&1 | awk '/^Rough +frequency:/ {print $3}')
        # Two seconds of audio in the file: 88200 sample frames, by sox and by ffprobe.
        samples=$(sox --i -s "$file" 2>&1)
        duration=$(ffprobe -v error -of default=nw=1:nk=1 -show_entries stream=duration_ts "$file" 2>&1)
        if [[ $RUN_RC == 0 && $info == "sample_rate=44100 channels=2 " && ${freq:-0} -ge 430 && ${freq:-0} -le 450 &&
            $samples == 88200 && $duration == 88200 ]]; then
            PASSED=$((PASSED + 1))
        else
            fail "microphone via $via: vmcapture exit $RUN_RC, ffprobe: $info duration_ts=$duration, sox: ${samples} sample frames (88200 wanted), frequency ${freq:-none} (440 wanted)"
        fi
    done
    # Pulled buffers follow one another: at 22050 Hz a 50 ms buffer is no whole number of the
    # tone's periods, so only a continuous tone recurs first after 2205 sample frames.
    file=$out/microphone-pull-22050.wav
    rm -f "$file"
    run_program "$runner" microphone-pull-22050 "$BUILD_DIR/bin/vmcapture.exe" capture microphone \
        "Vorn Virtual Microphone" --via pull --rate 22050 --bits 16 --channels 1 -t 1 -q -o "Z:$file"
    local recurs
    recurs=$(tone_recurrence "$file")
    if [[ $RUN_RC == 0 && $recurs == 2205 ]]; then
        PASSED=$((PASSED + 1))
    else
        fail "pulled microphone at 22050 Hz: vmcapture exit $RUN_RC, the tone recurs after ${recurs:-?} sample frames (2205 for a continuous tone; a repeated buffer recurs after its length)"
    fi
}
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
# with_ffmpeg RUNNER BUILD..: prepare, then fetch_ffmpeg.
with_ffmpeg() {
    prepare "$@" || return 1
    fetch_ffmpeg "$1"
}
# The camera's every layout (as ffmpeg names it) at every size, and the microphones with their tones.
DSHOW_FORMATS=(bgr24 yuv420p yuyv422)
DSHOW_SIZES=(640x480 320x240 160x120 1280x720)
DSHOW_FRAMES=6
dshow_client() {
    local runner=$1
    with_ffmpeg "$@" || return $?
    local TEST_TIMEOUT=120  # each run of ffmpeg
    local out=$BUILD_ROOT/results/$CURRENT_STAGE log ffmpeg=("$FFMPEG_EXE" -hide_banner -nostdin)
    mkdir -p "$out"

    # The devices as any DirectShow program lists them.
    run_program "$runner" list-devices "${ffmpeg[@]}" -f dshow -list_devices true -i dummy
    log=$out/list-devices.log
    local name missing=()
    for name in "Vorn Virtual Camera" "Vorn Virtual Camera 2" "Vorn Virtual Microphone" "Vorn Virtual Microphone 2"; do
        grep -qF "\"$name\"" "$log" || missing+=("$name")
    done
    if [[ -z $RUN_NOTE ]] && ((${#missing[@]} == 0)); then
        PASSED=$((PASSED + 1))
    else
        fail "ffmpeg -list_devices${RUN_NOTE:+ ($RUN_NOTE)} lacks: ${missing[*]}"
    fi

    # The camera's options: every layout at every size, as the pin offers them.
    run_program "$runner" list-options "${ffmpeg[@]}" -f dshow -list_options true -i "video=Vorn Virtual Camera"
    local offered format size
    offered=$(sed -n 's/.*pixel_format=\([a-z0-9]*\) *min s=\([0-9]*x[0-9]*\).*/\1 \2/p' "$out/list-options.log" | tr -d '\r' | sort -u)
    missing=()
    for format in "${DSHOW_FORMATS[@]}"; do
        for size in "${DSHOW_SIZES[@]}"; do
            grep -qx "$format $size" <<<"$offered" || missing+=("$format/$size")
        done
    done
    if [[ -z $RUN_NOTE ]] && ((${#missing[@]} == 0)); then
        PASSED=$((PASSED + 1))
    else
        fail "ffmpeg -list_options${RUN_NOTE:+ ($RUN_NOTE)} lacks: ${missing[*]}; offered: $(tr '\n' ' ' <<<"$offered")"
    fi

    # Each layout and size recorded to Y4M: ffprobe counts the frames and reads the size, and
    # the frames' checksums (ffmpeg's framemd5) must all differ: the picture moves.
    local file info distinct
    for format in "${DSHOW_FORMATS[@]}"; do
        for size in "${DSHOW_SIZES[@]}"; do
            file=$out/camera-$format-$size.y4m
            rm -f "$file"
            run_program "$runner" "camera-$format-$size" "${ffmpeg[@]}" -loglevel error -f dshow \
                -video_size "$size" -pixel_format "$format" -i "video=Vorn Virtual Camera" \
                -frames:v "$DSHOW_FRAMES" -vsync passthrough -pix_fmt yuv420p -f yuv4mpegpipe -y "Z:$file"
            info=$(ffprobe -v error -count_frames -select_streams v:0 -of csv=p=0 \
                -show_entries stream=width,height,nb_read_frames "$file" 2>&1)
            distinct=$(distinct_frames "$file")
            if [[ $RUN_RC == 0 && -z $RUN_NOTE && $info == "${size/x/,},$DSHOW_FRAMES" && $distinct == "$DSHOW_FRAMES" ]]; then
                PASSED=$((PASSED + 1))
            else
                fail "camera $format $size: ffmpeg exit $RUN_RC${RUN_NOTE:+ ($RUN_NOTE)}, ffprobe: $info, distinct frames: $distinct of $DSHOW_FRAMES"
            fi
        done
    done

    # Each microphone to WAV, 2 s: ffprobe reads the format and length, sox the tone.
    local device tone freq duration
    for device in "Vorn Virtual Microphone:440" "Vorn Virtual Microphone 2:880"; do
        tone=${device##*:} device=${device%:*}
        file=$out/microphone-$tone.wav
        rm -f "$file"
        run_program "$runner" "microphone-$tone" "${ffmpeg[@]}" -loglevel error -f dshow \
            -i "audio=$device" -t 2 -y "Z:$file"
        info=$(ffprobe -v error -of default=nw=1 -show_entries stream=codec_name,sample_rate,channels "$file" 2>&1 | tr '\n' ' ')
        duration=$(soxi -D "$file" 2>/dev/null)
        freq=$(sox "$file" -n remix 1 stat 2>&1 | awk '/^Rough +frequency:/ {print $3}')
        if [[ $RUN_RC == 0 && -z $RUN_NOTE && $info == "codec_name=pcm_s16le "* ]] &&
            awk -v d="${duration:-0}" 'BEGIN { exit !(d >= 1.9 && d <= 2.1) }' &&
            ((${freq:-0} >= tone - 10 && ${freq:-0} <= tone + 10)); then
            PASSED=$((PASSED + 1))
        else
            fail "$device: ffmpeg exit $RUN_RC${RUN_NOTE:+ ($RUN_NOTE)}, ffprobe: $info, ${duration:-no} s, sox's frequency: ${freq:-none} ($tone wanted)"
        fi
    done
}
# The desktop under Wine beside ffmpeg's gdigrab (the ffmpeg for Windows of the dshow-client
# stage) in one run. Each program records the whole screen as fast as it goes, twice: a few
# frames, then GDIGRAB_FRAMES more; each run has an X server of its own at the size measured,
# a fresh Wine server, and a 16 x 16 square that changes every 5 ms, so every grab is a new
# picture and a frame written twice shows. The two runs' difference leaves the start-up of Wine
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
GDIGRAB_SIZES=(1280x1024 1920x1080)
GDIGRAB_SHORT=10
GDIGRAB_FRAMES=200
gdigrab_bench() {
    with_ffmpeg "$@" || return $?
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
        for program in vmcapture gdigrab; do
            for frames in "$GDIGRAB_SHORT" $((GDIGRAB_SHORT + GDIGRAB_FRAMES)); do
                label=$program-$size-$frames file=$out/$label.y4m
                rm -f "$file"
                local command=("$BUILD_DIR/bin/vmcapture.exe" capture desktop -r 1000 -n "$frames" -q -o "Z:$file")
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
check() {
    local label=$1
    shift
    run_check native "$label" "$@"
}

# The test command's own checks (tests/scripts/): each case of the 32-bit loader check, run as
# a nested test command on a loader that cannot run; one passed test per case.
script_checks() {
    local c
    for c in foreign-elf failing missing; do
        check "wine32-$c" bash "$ROOT/tests/scripts/wine32_check.sh" "$c"
    done
    # The Markdown files: the checker's own cases, then every link and anchor of the repository,
    # and the README's set-up commands held to the ones the setup stage runs.
    check doc-check-cases python3 "$ROOT/tests/scripts/test_doc_check.py"
    check doc-links python3 "$ROOT/tests/scripts/doc_check.py" links "$ROOT"
    check readme-setup-commands python3 "$ROOT/tests/scripts/doc_check.py" setup "$ROOT"
    # Every source file opens with the project's licence line (scripts/spdx.sh --fix adds it).
    check spdx-lines bash "$ROOT/scripts/spdx.sh"
}

# The README's set-up command as written (tests/scripts/setup_commands.txt, held to the README
# by the selfcheck stage), run in a folder whose entries lead to the source tree's and whose
# `build` is BUILD_ROOT/setup; the desktop.y4m it writes is judged by ffprobe. Under --no-deps
# its first step, the package install, is left out.
setup_command() {
    local dir=$BUILD_ROOT/setup-run cmd entry
    cmd=$(python3 "$ROOT/tests/scripts/doc_check.py" setup-command "$ROOT") ||
        { fail "reading the set-up command"; return 1; }
    ((deps)) || cmd=${cmd#"bash scripts/install-deps.sh && "}
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
}

# GStreamer's own tools on the build's plugin (GST_PLUGIN_PATH naming the build's plugin folder):
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

# gst-inspect-1.0 shows the elements, gst-device-monitor-1.0 lists the devices. One passed test
# per tool.
gst_tools() {
    prepare native "$@" || return 1
    local dir=$BUILD_DIR/lib/gstreamer-1.0 what
    if [[ ! -e $dir/libgstvorn.so ]]; then
        fail "no GStreamer plugin in $dir"
        return 1
    fi
    if ! command -v gst-inspect-1.0 >/dev/null || ! command -v gst-device-monitor-1.0 >/dev/null; then
        not_run "GStreamer's tools are not installed (gstreamer1.0-tools, gstreamer1.0-plugins-base-apps)"
        return 2
    fi
    for what in inspect monitor; do
        check "gst-$what" bash "$ROOT/tests/scripts/gst_tools_check.sh" "$dir" "$what"
    done
    gst_world "$dir"
}

# gst-launch-1.0 on a machine with nothing to capture: the elements take the virtual world,
# and the host world asked for there fails at once with one error that says why.
gst_world() {
    local what
    for what in auto host; do
        check "gst-world-$what" bash "$ROOT/tests/scripts/gst_world_check.sh" "$1" "$what"
    done
}

# The suites under ThreadSanitizer, without the conversion tests that walk every pixel value
# through every row kernel: they run no thread of their own and would take minutes under its
# instrumentation (the asan stage runs them).
TSAN_SKIPPED=FasterPaths/I420Path.*
tsan_suites() {
    GTEST_FILTER=-$TSAN_SKIPPED suites native "$@"
}

# Builds the fuzz targets and runs each for FUZZ_SECONDS, one passed test per clean run. Each
# run starts from the target's seeds in tests/fuzz/corpus/<name> (never written to); what it
# finds goes to a scratch corpus in the build folder, a crashing input to results/fuzz/.
fuzzers() {
    prepare native "$@" || return 1
    local exe name work seeds ran=0
    for exe in "$BUILD_DIR"/bin/vmc_fuzz_*; do
        [[ -x $exe ]] || continue
        name=${exe##*/vmc_fuzz_}
        seeds=$ROOT/tests/fuzz/corpus/$name
        work=$BUILD_DIR/corpus/$name
        [[ -d $seeds ]] || { fail "no seed corpus $seeds"; continue; }
        rm -rf "$work"
        mkdir -p "$work" "$BUILD_ROOT/results/$CURRENT_STAGE"
        run_check native "fuzz-$name" "$exe" -max_total_time="$FUZZ_SECONDS" -timeout=20 \
            -rss_limit_mb=2048 -print_final_stats=1 \
            -artifact_prefix="$BUILD_ROOT/results/$CURRENT_STAGE/$name-" "$work" "$seeds"
        ran=$((ran + 1))
    done
    ((ran > 0)) || fail "no fuzz target in $BUILD_DIR/bin"
}

# The host world's stages run on an X server of their own: Xvfb picks a free display number
# and writes it once it accepts clients. Sets XVFB_DISPLAY; stop_xvfb ends it.
XVFB_PID="" XVFB_DISPLAY=""
start_xvfb() {
    command -v Xvfb >/dev/null || { fail "Xvfb is missing (package xvfb)"; return 1; }
    local dir=$BUILD_ROOT/results/$CURRENT_STAGE
    mkdir -p "$dir"
    : >"$dir/xvfb.display"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$dir/xvfb.display" \
        >"$dir/xvfb.log" 2>&1 &
    XVFB_PID=$!
    local i
    for i in $(seq 100); do
        [[ -s $dir/xvfb.display ]] && break
        kill -0 "$XVFB_PID" 2>/dev/null || break
        sleep 0.1
    done
    if [[ ! -s $dir/xvfb.display ]]; then
        fail "Xvfb did not start (see $dir/xvfb.log)"
        stop_xvfb
        return 1
    fi
    XVFB_DISPLAY=:$(head -n 1 "$dir/xvfb.display")
    step "Xvfb on $XVFB_DISPLAY (1280x1024x24)"
}
stop_xvfb() {
    [[ -n $XVFB_PID ]] || return 0
    kill "$XVFB_PID" 2>/dev/null
    wait "$XVFB_PID" 2>/dev/null
    XVFB_PID=""
}

# The host world's tests, then the capture tool recording the X screen (judged by ffprobe).
host_suites() {
    local runner=$1
    shift
    prepare "$runner" "$@" || return 1
    start_xvfb || return 1
    local TSAN_OPTIONS="$TSAN_OPTIONS:suppressions=$ROOT/tests/host/tsan.supp"
    export TSAN_OPTIONS
    DISPLAY=$XVFB_DISPLAY VORN_WORLD=host run_gtest native vmc_host_tests "$BUILD_DIR/bin/vmc_host_tests"
    local tool=$BUILD_DIR/bin/vmcapture out=$BUILD_ROOT/results/$CURRENT_STAGE/desktop.y4m
    if [[ -x $tool ]]; then
        rm -f "$out"
        DISPLAY=$XVFB_DISPLAY check vmcapture-host-list bash -c \
            '"$1" list --world host --kind desktop | grep -q "^World: host (X display :"' list "$tool"
        DISPLAY=$XVFB_DISPLAY VORN_WORLD=host run_check native vmcapture-host-desktop "$tool" capture desktop \
            -s 1280x1024 -n 10 -q -o "$out"
        if command -v ffprobe >/dev/null; then
            check ffprobe-host-desktop bash -c '[[ "$(ffprobe -v error -count_frames -select_streams v:0 \
                -show_entries stream=width,height,nb_read_frames -of csv=p=0 "$1")" == "1280,1024,10" ]]' \
                ffprobe "$out"
            loaded_desktop "$tool" "${out%/*}/loaded.y4m"
            host_stop_signals "$tool" "${out%/*}"
        fi
    fi
    stop_xvfb
}

# The X desktop recorded as .mkv and as .y4m, stopped after 2 s by a hang-up (a closed terminal)
# or a quit request (Ctrl-\): status 0, and a file under its own name that ffprobe reads, with
# more than a second of frames. A build without GStreamer (ThreadSanitizer's) records no .mkv.
host_stop_signals() {
    local tool=$1 dir=$2 signal ext exts=(mkv y4m)
    grep -q '^VMC_GSTREAMER:STRING=OFF' "$BUILD_DIR/CMakeCache.txt" && exts=(y4m)
    for signal in HUP QUIT; do
        for ext in "${exts[@]}"; do
            DISPLAY=$XVFB_DISPLAY VORN_WORLD=host check "vmcapture-host-sig$signal-$ext" bash -c '
                out=$2/stopped-$3.$4
                rm -f "$out"
                "$1" capture desktop -s 640x480 -r 10 -t 60 -q -o "$out" &
                pid=$!
                sleep 3
                kill -s "$3" "$pid"
                wait "$pid" || { echo "status $?"; exit 1; }
                frames=$(ffprobe -v error -count_packets -select_streams v:0 \
                    -show_entries stream=nb_read_packets -of csv=p=0 "$out")
                echo "$out: ${frames:-no} frames"
                ((${frames:-0} > 10))' stop "$tool" "$dir" "$signal" "$ext"
        done
    done
}

# The desktop at 30 frames a second for 3 s under a busy thread on every core: frames may be
# missed, but the Y4M rate must be the rate the frames came at, so the file plays for about
# the 3 s captured (1 to 3.4 s: the device opens within the 3 s, slowly under ThreadSanitizer),
# and a shortfall must be named ("never produced", or "were dropped" for frames made but not
# written). The test's awk is mawk on Debian, where a
# bare ">" in printf's arguments is a redirection: the condition is in parentheses.
loaded_desktop() {
    local tool=$1 out=$2 info rate frames verdict
    rm -f "$out" "$out.err"
    start_load
    DISPLAY=$XVFB_DISPLAY VORN_WORLD=host timeout -k 5 60 "$tool" capture desktop -s 1280x1024 \
        -r 30 -t 3 -o "$out" 2>"$out.err"
    local rc=$?
    stop_load
    info=$(ffprobe -v error -count_frames -select_streams v:0 -of csv=p=0 \
        -show_entries stream=r_frame_rate,nb_read_frames "$out" 2>&1)
    IFS=, read -r rate frames <<<"$info"
    verdict=$(awk -v r="$rate" -v n="${frames:-0}" 'BEGIN {
        split(r, f, "/"); fps = f[2] > 0 ? f[1] / f[2] : 0; plays = fps > 0 ? n / fps : 0
        printf "%s %.1f %.2f", ((plays >= 1 && plays <= 3.4) ? "ok" : "off"), fps, plays }')
    log "desktop under load: $info (frames a second, seconds the file plays: ${verdict#* })"
    if [[ $rc == 0 && $verdict == ok* ]] && { [[ ${verdict#* } == 30.0* ]] || grep -qE 'never produced|were dropped' "$out.err"; }; then
        PASSED=$((PASSED + 1))
    else
        fail "desktop under load: exit $rc, ffprobe $info, rate and seconds played ${verdict#* }, stderr: $(tr '\n' ' ' <"$out.err")"
    fi
}

# A program of a native build run on its own X server in the host world, like `program`.
host_soak() {
    split_at_dashes "$@"
    prepare native "${BUILD_ARGS[@]}" || return 1
    start_xvfb || return 1
    local exe=$BUILD_DIR/${PROGRAM_ARGS[0]}
    DISPLAY=$XVFB_DISPLAY VORN_WORLD=host run_check native "${exe##*/}" "$exe" "${PROGRAM_ARGS[@]:1}"
    stop_xvfb
}

# Starts a sound server of its own in a scratch folder, runs the host-media tests in the host
# world against it and the captures under load (loaded_audio), which end by killing it; then
# the library's view of a killed server on a server started afresh.
host_audio() {
    prepare native "$@" || return 1
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

# Starts the stage's sound server in DIR (a null output and a 440 Hz sine source, nothing
# else), ending one still running there; sets PULSE_PID.
PULSE_PID=""
start_pulse() {
    local dir=$1
    stop_pulse
    rm -rf "$dir/run"
    mkdir -p "$dir/run"
    cat >"$dir/server.pa" <<'PA'
load-module module-native-protocol-unix
load-module module-null-sink
load-module module-sine-source frequency=440
PA
    # A private home and runtime folder: no user's server or settings take part, and a
    # server run by root needs no system mode.
    local server=(env HOME="$dir" XDG_RUNTIME_DIR="$dir/run" PULSE_RUNTIME_PATH="$dir/run")
    step "sound server in $dir"
    if ! timeout 30 "${server[@]}" pulseaudio -n -F "$dir/server.pa" --exit-idle-time=-1 \
        --daemonize=yes --use-pid-file=yes --log-target=file:"$dir/server.log"; then
        cat "$dir/server.log" 2>/dev/null
        fail "starting the sound server"
        return 1
    fi
    local tries=0
    while [[ ! -S $dir/run/native ]] && ((tries++ < 100)); do sleep 0.1; done
    PULSE_PID=$(cat "$dir/run/pid" 2>/dev/null)
}
stop_pulse() {
    local pid=$PULSE_PID tries=0
    PULSE_PID=""
    [[ -n $pid ]] || return 0
    step "stopping the sound server"
    if kill "$pid" 2>/dev/null; then
        while kill -0 "$pid" 2>/dev/null && ((tries++ < 50)); do sleep 0.1; done
        kill -9 "$pid" 2>/dev/null
    fi
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
AUDIO_ROUNDS=10
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

# Starts a desktop session without a desktop in a scratch folder (tests/portal/session.sh:
# a private session bus, PipeWire, a source node of a known picture (vmc_test_producer), the
# real portal frontend
# and our test backend), runs the portal tests and the capture tool in it, and stops it.
portal_session() {
    prepare native "$@" || return 1
    local session=$ROOT/tests/portal/session.sh what dir line
    if ! what=$(bash "$session" check); then
        not_run "$what is not installed (see scripts/install-deps.sh)"
        return 0
    fi
    dir=$(mktemp -d "${TMPDIR:-/tmp}/vmc-portal.XXXXXX") || { fail "mktemp"; return 1; }
    step "portal session in $dir"
    if ! timeout 120 bash "$session" start "$dir" "$BUILD_DIR/bin/vmc_test_producer"; then
        fail "starting the portal session (logs: $BUILD_ROOT/results/$CURRENT_STAGE/session)"
        portal_session_end "$dir"
        return 1
    fi
    # The session's variables, for this function only.
    while IFS= read -r line; do
        local -x "$line"
    done <"$dir/env"
    # GLib and GIO, under the portal code, are not built for ThreadSanitizer (tests/portal/tsan.supp).
    local TSAN_OPTIONS="$TSAN_OPTIONS:suppressions=$ROOT/tests/portal/tsan.supp"
    export TSAN_OPTIONS
    run_gtest native vmc_portal_tests "$BUILD_DIR/bin/vmc_portal_tests"
    run_gtest native vmc_pw_camera_tests "$BUILD_DIR/bin/vmc_pw_camera_tests"
    local tool=$BUILD_DIR/bin/vmcapture out=$BUILD_ROOT/results/$CURRENT_STAGE/desktop.y4m
    rm -f "$out"
    run_check native vmcapture-portal-desktop "$tool" capture desktop -s 640x480 -r 10 -n 10 -q -o "$out"
    # ffprobe reads the file; ffmpeg gives a pixel of the first frame back as RGB, which must
    # be the source's colour (0x336699) within the rounding of 4:2:0.
    check ffprobe-portal-desktop bash -c '[[ "$(ffprobe -v error -count_frames -select_streams v:0 \
        -show_entries stream=width,height,nb_read_frames -of csv=p=0 "$1")" == "640,480,10" ]]' \
        ffprobe "$out"
    portal_colour_check ffmpeg-portal-colour "$out"
    # The window picked in the portal's dialog (the backend shares the same source node).
    local window=$BUILD_ROOT/results/$CURRENT_STAGE/window.y4m
    rm -f "$window"
    run_check native vmcapture-portal-window "$tool" capture window \
        --name "Window picked in the desktop's dialog" -r 10 -n 10 -q -o "$window"
    check ffprobe-portal-window bash -c '[[ "$(ffprobe -v error -count_frames -select_streams v:0 \
        -show_entries stream=width,height,nb_read_frames -of csv=p=0 "$1")" == "640,480,10" ]]' \
        ffprobe "$window"
    portal_colour_check ffmpeg-portal-window-colour "$window"
    # The same source node as a PipeWire camera, through the camera devices.
    local camera=$BUILD_ROOT/results/$CURRENT_STAGE/camera.y4m
    rm -f "$camera"
    run_check native vmcapture-pipewire-camera "$tool" capture camera -s 640x480 -r 30 -n 15 -q \
        -o "$camera"
    check ffprobe-pipewire-camera bash -c '[[ "$(ffprobe -v error -count_frames -select_streams v:0 \
        -show_entries stream=width,height,nb_read_frames -of csv=p=0 "$1")" == "640,480,15" ]]' \
        ffprobe "$camera"
    portal_colour_check ffmpeg-pipewire-camera-colour "$camera"
    portal_still_camera "$tool"
    # Our readers of the node in turn (screen, camera, window, camera, twice over): each gets its
    # frames, none is left without a buffer by the one before.
    # Not under ThreadSanitizer: there each frame's conversion on the stream's thread is several
    # times slower, and the node still starves after a few readers (a run on 2026-12-07 failed
    # from the 4th of 8 on); the fault is open, and docs/host-world.md says so.
    if [[ $CURRENT_STAGE != portal-tsan ]]; then
        check pipewire-readers-in-turn bash "$ROOT/tests/portal/readers_in_turn.sh" "$tool" \
            "$BUILD_ROOT/results/$CURRENT_STAGE/in-turn"
    fi
    # A dismissed dialog: the capture fails (exit 3, "delivered nothing") and leaves no file,
    # rather than a file of a header alone.
    local refused=$BUILD_ROOT/results/$CURRENT_STAGE/refused.y4m
    rm -f "$refused"
    echo 1 >"$VMC_PORTAL_CONTROL/response"
    check vmcapture-portal-dismissed bash -c '"$1" capture desktop -s 64x48 -r 10 -t 2 -q -o "$2" \
        2>"$2.err"; status=$?; cat "$2.err" >&2
        [[ $status == 3 && ! -e $2 ]] && grep -q "delivered nothing" "$2.err"' _ "$tool" "$refused"
    # The same without a size: the screen's size cannot be told, and the capture says so at once
    # rather than capturing a size made up.
    check vmcapture-portal-dismissed-size bash -c '"$1" capture desktop -r 10 -t 2 -q -o "$2" \
        2>"$2.err"; status=$?; cat "$2.err" >&2
        [[ $status == 3 && ! -e $2 ]] && grep -q "size is unknown" "$2.err"' _ "$tool" "$refused"
    echo 0 >"$VMC_PORTAL_CONTROL/response"
    portal_consent_checks "$tool"
    portal_session_end "$dir"
}
# portal_consent_checks TOOL: the capture tool against a stored permission the portal refuses
# (one dialog, the permission replaced, the portal's reason said) and a stop while the dialog is
# open (the backend holds Start).
portal_consent_checks() {
    local tool=$1 out=$BUILD_ROOT/results/$CURRENT_STAGE/consent
    local token=$XDG_STATE_HOME/vornmediacapture/screencast.token
    rm -rf "$out" && mkdir -p "$out" "${token%/*}"
    echo "not a token" >"$token"
    check vmcapture-portal-refused-token bash -c '"$1" capture desktop -s 64x48 -r 10 -n 3 -q \
        -o "$2" 2>"$2.err"; status=$?; cat "$2.err" >&2
        [[ $status == 0 && -s $2 && $(wc -c <"$3") == 37 ]] &&
            grep -q "refused (SelectSources: [^)]" "$2.err"' _ "$tool" "$out/token.y4m" "$token"
    echo 1 >"$VMC_PORTAL_CONTROL/hold"
    # Without a size the screen's size is asked before the capture; with one the device's
    # transfers wait; a window's device waits as it opens; an MKV waits in the recording's loop
    # (the ThreadSanitizer build has no GStreamer: it records no MKV).
    portal_stop_check "$tool" "$out/whole.y4m" desktop
    portal_stop_check "$tool" "$out/sized.y4m" desktop -s 64x48
    portal_stop_check "$tool" "$out/window.y4m" window --name "Window picked in the desktop's dialog"
    [[ $CURRENT_STAGE != portal-tsan ]] && portal_stop_check "$tool" "$out/sized.mkv" desktop -s 64x48
    echo 0 >"$VMC_PORTAL_CONTROL/hold"
}
# portal_stop_check TOOL OUT SOURCE..: `TOOL capture SOURCE.. -o OUT`, stopped with SIGINT once the
# backend holds its Start: it ends within 2.5 s with status 3 and no file, the request closed
# once and no portal session left.
portal_stop_check() {
    local tool=$1 file=$2
    shift 2
    # shellcheck disable=SC2016 # expanded by the inner shell
    check "vmcapture-portal-stop-at-dialog-${file##*/}" bash -c '
        tool=$1 out=$2 log=$VMC_PORTAL_CONTROL/log sessions=$VMC_PORTAL_CONTROL/sessions
        shift 2
        held=$(grep -c "Start held" "$log") closes=$(grep -c "Request.Close" "$log")
        "$tool" capture "$@" -r 10 -n 5 -q -o "$out" 2>"$out.err" &
        pid=$!
        for ((i = 0; i < 200 && $(grep -c "Start held" "$log") == held; i++)); do sleep 0.05; done
        sleep 0.5
        begun=$(date +%s%N)
        kill -INT "$pid"
        wait "$pid"
        status=$? ms=$((($(date +%s%N) - begun) / 1000000))
        for ((i = 0; i < 40 && $(cat "$sessions") != 0; i++)); do sleep 0.05; done
        closed=$(($(grep -c "Request.Close" "$log") - closes))
        cat "$out.err" >&2
        echo "exit status $status after $ms ms; sessions $(cat "$sessions"); request closed $closed time(s)" >&2
        [[ $status == 3 && ! -e $out && $(cat "$sessions") == 0 && $closed == 1 ]] && ((ms < 2500)) &&
            ! compgen -G "$out.*.part" >/dev/null &&
            grep -q "stopped before the source delivered anything" "$out.err"' \
        _ "$tool" "$file" "$@"
}
# portal_still_camera VMCAPTURE: a camera whose picture never changes (a slide, a test card):
# a PipeWire Video/Source node of one solid colour, pulled by the tool 20 times. Each grab is
# a new frame although it equals the one before: the capture ends with the 20 frames asked,
# as ffprobe counts them.
portal_still_camera() {
    local tool=$1 out=$BUILD_ROOT/results/$CURRENT_STAGE/still-camera.y4m
    local node=vmc-still-card card=VornStillTestCard pid tries=0
    rm -f "$out"
    gst-launch-1.0 -q videotestsrc is-live=true pattern=solid-color foreground-color=0xff336699 \
        ! video/x-raw,format=BGRx,width=320,height=240,framerate=30/1 \
        ! pipewiresink mode=provide \
        stream-properties="props,media.class=Video/Source,node.name=$node,node.description=$card" \
        >"$out.gst.log" 2>&1 &
    pid=$!
    until pw-dump 2>/dev/null | grep -q "\"node.name\": \"$node\""; do
        ((tries++ < 100)) && kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    run_check native vmcapture-pipewire-still-camera "$tool" capture camera --name "$card" \
        --world host --via pull -s 320x240 -r 30 -n 20 -q -o "$out"
    check ffprobe-pipewire-still-camera bash -c '[[ "$(ffprobe -v error -count_frames \
        -select_streams v:0 -show_entries stream=width,height,nb_read_frames -of csv=p=0 "$1")" \
        == "320,240,20" ]]' ffprobe "$out"
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
}
# portal_colour_check NAME FILE: a pixel of the first frame of FILE, read back by ffmpeg as RGB,
# is the source node's colour (0x336699) within the rounding of 4:2:0.
portal_colour_check() {
    check "$1" bash -c 'ffmpeg -v error -i "$1" -frames:v 1 -vf crop=2:2:320:240 \
        -f rawvideo -pix_fmt rgb24 - | od -An -tu1 -N3 |
        awk "{ exit !(\$1 > 43 && \$1 < 59 && \$2 > 94 && \$2 < 110 && \$3 > 145 && \$3 < 161) }"' \
        ffmpeg "$2"
}
portal_session_end() {
    step "stopping the portal session"
    bash "$ROOT/tests/portal/session.sh" stop "$1"
    mkdir -p "$BUILD_ROOT/results/$CURRENT_STAGE/session"
    cp "$1"/*.log "$1"/control/log "$BUILD_ROOT/results/$CURRENT_STAGE/session/" 2>/dev/null
    rm -rf "$1"
}

# ---------------------------------------------------------------------------------------
usage() {
    log "usage: bash scripts/test.sh [--no-deps] [--list] [STAGE...]"
    log "Runs every stage when none is named. Stages:"
    local s
    for s in "${STAGE_NAMES[@]}"; do printf '  %-18s %s\n' "$s" "${STAGE_INFO[$s]}"; done
}

deps=1
declare -A WANTED=()
for arg in "$@"; do
    case $arg in
    --no-deps) deps=0 ;;
    --list | -h | --help) usage; exit 0 ;;
    -*) usage >&2; exit 2 ;;
    *)
        if [[ -z ${STAGE_INFO[$arg]:-} ]]; then
            log "unknown stage '$arg'" >&2
            usage >&2
            exit 2
        fi
        WANTED[$arg]=1
        ;;
    esac
done
RUN=()
for s in "${STAGE_NAMES[@]}"; do
    [[ ${#WANTED[@]} -eq 0 || -n ${WANTED[$s]:-} ]] && RUN+=("$s")
done

run_stage() {
    local name=$1 info=$2 cmd=$3 failed_before=$FAILED status
    CURRENT_STAGE=$name
    STAGE_START=$(date +%s)
    log ""
    log "==> [$name] $info"
    eval "$cmd"
    local took=$(($(date +%s) - STAGE_START))
    status=ok
    ((FAILED > failed_before)) && status=FAILED
    log "<== [$name] $status in ${took}s"
    TIMINGS+=("$(printf '%-18s %5ss  %s' "$name" "$took" "$status")")
}

mkdir -p "$BUILD_ROOT"
total_start=$(date +%s)
if ((deps)); then
    run_stage deps "install the packages the build needs" "bash $(printf '%q' "$ROOT/scripts/install-deps.sh") || fail 'installing the packages'"
fi
for s in "${RUN[@]}"; do
    run_stage "$s" "${STAGE_INFO[$s]}" "${STAGE_CMD[$s]}"
done
stop_wine
CURRENT_STAGE=end
((PASSED + FAILED + SKIPPED > 0)) || fail "no test ran"

log ""
log "Stage timings:"
for line in "${TIMINGS[@]}"; do log "  $line"; done
log "  total              $(($(date +%s) - total_start))s"
if ((${#NOT_RUN[@]})); then
    log "NOT RUN on this machine (counted as skipped, NOT passed):"
    for line in "${NOT_RUN[@]}"; do log "  $line"; done
fi
if ((${#FAILURES[@]})); then
    log "Failures:"
    for line in "${FAILURES[@]}"; do log "  $line"; done
fi
log "$PASSED passed, $FAILED failed, $SKIPPED skipped"
((FAILED == 0))
