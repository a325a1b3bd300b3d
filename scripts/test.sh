#!/usr/bin/env bash
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
SUITES=(vmc_tests vmc_virtual_tests vmc_tool_tests vmc_windows_tests vmc_gst_tests)

# Sanitizer reports end the run with a failure and a stack; a caller's settings win.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:halt_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
export GTEST_COLOR=no

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
stage selfcheck    "the test command's own checks: 32-bit stages on a loader that cannot run are not run" script_checks
stage native       "Debug build, the native suites"                       suites native "${NATIVE[@]}"
stage asan         "AddressSanitizer + UBSan build, the native suites"    suites native "${ASAN[@]}"
stage tsan         "ThreadSanitizer build, the native suites"             tsan_suites "${TSAN[@]}"
stage fuzz         "libFuzzer targets (clang), ${FUZZ_SECONDS}s each from the seed corpus" fuzzers "${FUZZ[@]}"
stage wine         "MinGW-w64 x86_64 Release build, the suites under Wine" suites wine "${MINGW_X64[@]}"
stage wine-i686    "MinGW-w64 i686 Release build, the suites under 32-bit Wine" suites wine32 "${MINGW_I686[@]}"
stage install      "install the native build; CMake and pkg-config hosts" install_host native "${NATIVE[@]}"
stage install-wine "install the x86_64 build; hosts built, run under Wine" install_host wine "${MINGW_X64[@]}"
stage install-wine-i686 "install the i686 build; hosts built, run under 32-bit Wine" install_host wine32 "${MINGW_I686[@]}"
stage host         "host world on a headless X server of its own, ASan build: X display tests, capture tool" host_suites native "${ASAN[@]}"
stage host-tsan    "host world on a headless X server of its own: X display tests, ThreadSanitizer" host_suites native "${TSAN[@]}"
stage soak         "soak, 60 s, ASan build: every device class, faults, leak counts" program native "${ASAN[@]}" -- bin/vmc_soak --seconds 60
stage capture-wine "the capture tool under Wine: the virtual camera and microphone, push and pull, judged by ffprobe and sox" capture_wine wine "${MINGW_X64[@]}"
stage capture-wine-i686 "the same with the i686 build under 32-bit Wine" capture_wine wine32 "${MINGW_I686[@]}"
stage soak-wine    "soak, 25 s, x86_64 build under Wine: GDI objects and handles" program wine "${MINGW_X64[@]}" -- bin/vmc_soak.exe --seconds 25
stage soak-wine-i686 "soak, 25 s, i686 build under 32-bit Wine: GDI objects and handles" program wine32 "${MINGW_I686[@]}" -- bin/vmc_soak.exe --seconds 25
stage soak-host    "soak, 30 s, ASan build, host world on its own Xvfb: screen devices over real X windows, X resources" host_soak "${ASAN[@]}" -- bin/vmc_soak_host --seconds 30 --media 0
stage host-audio   "host world, ASan build: a sound server of our own with a 440 Hz source; audio and video devices" host_audio "${ASAN[@]}"

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
unregister_devices() {
    local bin
    for bin in "${!VDEVICES_REGISTERED[@]}"; do
        (cd "$bin" && wine_run "${VDEVICES_REGISTERED[$bin]}" 120 regsvr32 /s /u VornVirtualDevices.dll)
    done
    VDEVICES_REGISTERED=()
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
        (cd "$dir" && timeout -k 30 "$TEST_TIMEOUT" "$@" </dev/null) 2>&1 | tee "$log"
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
        run_gtest "$runner" "$suite" "$exe"
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
    local dir=$BUILD_DIR work=$BUILD_DIR-install
    local prefix=$work/prefix exe_suffix="" arg toolchain=()
    [[ $runner == wine* ]] && exe_suffix=.exe
    for arg in "$@"; do
        [[ $arg == -DCMAKE_TOOLCHAIN_FILE=* ]] && toolchain=("$arg")
    done
    rm -rf "$work"
    step "install $name into $prefix"
    cmake --install "$dir" --prefix "$prefix" >"$work.log" 2>&1 ||
        { cat "$work.log"; fail "install $name"; return 1; }

    step "host through the CMake package"
    if cmake -S "$ROOT/tests/install" -B "$work/host-cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_PREFIX_PATH="$prefix" "${toolchain[@]}" &&
        cmake --build "$work/host-cmake" -j "$JOBS"; then
        run_check "$runner" host-cmake "$work/host-cmake/vmc_install_host$exe_suffix"
    else
        fail "host build through the CMake package"
    fi

    step "host through pkg-config"
    local cxx pc flags
    # The compiler that built the library (a toolchain file does not put it in the cache).
    cxx=$(sed -n 's/^set(CMAKE_CXX_COMPILER "\(.*\)")$/\1/p' "$dir"/CMakeFiles/*/CMakeCXXCompiler.cmake | head -n 1)
    if [[ -z $cxx ]]; then
        fail "no C++ compiler recorded in $dir"
        return 1
    fi
    pc=$(find "$prefix" -name vornmediacapture.pc -print -quit)
    if [[ -z $pc ]]; then
        fail "no vornmediacapture.pc in $prefix"
        return 1
    fi
    local pkgconfig=(env PKG_CONFIG_LIBDIR="${pc%/*}" PKG_CONFIG_PATH= pkg-config)
    local incdir libdir
    if ! incdir=$("${pkgconfig[@]}" --variable=includedir vornmediacapture) ||
        ! libdir=$("${pkgconfig[@]}" --variable=libdir vornmediacapture) ||
        ! flags=$("${pkgconfig[@]}" --cflags --libs vornmediacapture); then
        fail "pkg-config cannot read $pc"
        return 1
    fi
    mkdir -p "$work/host-pc"
    cmake -DINCLUDE_DIR="$incdir" -DOUTPUT_DIR="$work/host-pc" -P "$ROOT/tests/install/headers.cmake" ||
        { fail "host header list from pkg-config's includedir"; return 1; }
    local link_extra=("-Wl,-rpath,$libdir")
    if [[ $runner == wine* ]]; then
        link_extra=(-static-libgcc -static-libstdc++ -static)
        cp "$prefix"/bin/*.dll "$work/host-pc/"
    fi
    log "$cxx -std=c++17 host.cpp $flags"
    # shellcheck disable=SC2086 # pkg-config's flags are words
    if "$cxx" -std=c++17 -Wall -Wextra -Werror -I"$work/host-pc" "$ROOT/tests/install/host.cpp" \
        -o "$work/host-pc/vmc_install_host$exe_suffix" $flags "${link_extra[@]}"; then
        run_check "$runner" host-pkgconfig "$work/host-pc/vmc_install_host$exe_suffix"
    else
        fail "host build through pkg-config"
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
# The capture tool of a Windows build captures the registered virtual camera and microphone
# through both delivery paths; independent readers judge the files: ffprobe the Y4M's frame
# count, size and rate and the WAV's format, sox the tone's frequency. One test per file.
capture_wine() {
    local runner=$1
    shift
    prepare "$runner" "$@" || return 1
    local out=$BUILD_ROOT/results/$CURRENT_STAGE via file info freq rate
    mkdir -p "$out"
    for via in push pull; do
        file=$out/camera-$via.y4m
        rm -f "$file"
        run_program "$runner" "camera-$via" "$BUILD_DIR/bin/vmcapture.exe" capture camera \
            "Vorn Virtual Camera" --via "$via" -s 320x240 -r 10 -n 10 -q -o "Z:$file"
        info=$(ffprobe -v error -count_frames -select_streams v:0 -of default=nw=1 \
            -show_entries stream=width,height,r_frame_rate,nb_read_frames "$file" 2>&1 | tr '\n' ' ')
        # Pushed frames come at the rate the pin connected at; pulled ones at the tool's pace,
        # which the file then states as measured: 5 to 15 a second.
        rate=$(sed -n 's|.*r_frame_rate=\([0-9]*\)/\([0-9]*\).*|\1 \2|p' <<<"$info" |
            awk '{ print ($2 > 0 && $1 / $2 >= 5 && $1 / $2 <= 15) ? "ok" : "off" }')
        if [[ $via == push && $info != *"r_frame_rate=10/1 "* ]]; then rate=off; fi
        if [[ $RUN_RC == 0 && $rate == ok && $info == "width=320 height=240 r_frame_rate="*" nb_read_frames=10 " ]]; then
            PASSED=$((PASSED + 1))
        else
            fail "camera via $via: vmcapture exit $RUN_RC, ffprobe: $info"
        fi
        file=$out/microphone-$via.wav
        rm -f "$file"
        run_program "$runner" "microphone-$via" "$BUILD_DIR/bin/vmcapture.exe" capture microphone \
            "Vorn Virtual Microphone" --via "$via" --rate 44100 --bits 16 --channels 2 -t 2 -q -o "Z:$file"
        info=$(ffprobe -v error -of default=nw=1 -show_entries stream=sample_rate,channels "$file" 2>&1 | tr '\n' ' ')
        freq=$(sox "$file" -n remix 1 stat 2>&1 | awk '/^Rough +frequency:/ {print $3}')
        if [[ $RUN_RC == 0 && $info == "sample_rate=44100 channels=2 " && ${freq:-0} -ge 430 && ${freq:-0} -le 450 ]]; then
            PASSED=$((PASSED + 1))
        else
            fail "microphone via $via: vmcapture exit $RUN_RC, ffprobe: $info, sox's frequency: ${freq:-none} (440 wanted)"
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
        fi
    fi
    stop_xvfb
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

# Starts a sound server of its own in a scratch folder (a null output and a 440 Hz sine
# source, nothing else), runs the host-media tests in the host world against it, and stops it.
host_audio() {
    prepare native "$@" || return 1
    command -v pulseaudio >/dev/null || { fail "pulseaudio is missing (package pulseaudio)"; return 1; }
    command -v sox >/dev/null || { fail "sox is missing (package sox)"; return 1; }
    local dir
    dir=$(mktemp -d "${TMPDIR:-/tmp}/vmc-pulse.XXXXXX") || { fail "mktemp"; return 1; }
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
        rm -rf "$dir"
        return 1
    fi
    local tries=0
    while [[ ! -S $dir/run/native ]] && ((tries++ < 100)); do sleep 0.1; done
    PULSE_SERVER="unix:$dir/run/native" VORN_WORLD=host \
        run_gtest native vmc_host_media_tests "$BUILD_DIR/bin/vmc_host_media_tests"
    step "stopping the sound server"
    local pid
    pid=$(cat "$dir/run/pid" 2>/dev/null)
    if [[ -n $pid ]] && kill "$pid" 2>/dev/null; then
        tries=0
        while kill -0 "$pid" 2>/dev/null && ((tries++ < 50)); do sleep 0.1; done
        kill -9 "$pid" 2>/dev/null
    fi
    rm -rf "$dir"
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
