# SPDX-License-Identifier: MIT
# What every stage shares, sourced by scripts/stages/run.sh: the settings, the counts of checks
# (passed, failed, skipped) and the stage's verdict, the build, and running programs natively
# or under Wine with their output and GoogleTest reports kept in results/<stage>/.
#
# Environment: VMC_BUILD_ROOT (results and scratch folders, default the build folder's parent),
# VMC_JOBS (parallel jobs, default the core count), VMC_TEST_TIMEOUT (seconds per program,
# default 1200), VMC_FUZZ_SECONDS (seconds per fuzz target, default 12), VMC_WINEPREFIX and
# VMC_WINE32 (scripts/fixtures/wine-prefix.sh), VMC_WITH_DEPS (the setup stage),
# VMC_GDIGRAB_SIZES (the gdigrab-wine stage).

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
JOBS=${VMC_JOBS:-$(nproc 2>/dev/null || echo 2)}
TEST_TIMEOUT=${VMC_TEST_TIMEOUT:-1200}
FUZZ_SECONDS=${VMC_FUZZ_SECONDS:-12}
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

PASSED=0 FAILED=0 SKIPPED=0
FAILURES=() # one line per failure
NOT_RUN=()  # one line per reason the stage could not run here
CURRENT_STAGE=""
STAGE_START=$(date +%s)
BUILD_DIR="" BUILD_ROOT=""

# shellcheck source=scripts/fixtures/wine-prefix.sh
source "$ROOT/scripts/fixtures/wine-prefix.sh"
# shellcheck source=scripts/fixtures/xvfb.sh
source "$ROOT/scripts/fixtures/xvfb.sh"

log() { printf '%s\n' "$*"; }

# A step of a stage, with the seconds since the stage began.
step() { log "--- [+$(($(date +%s) - STAGE_START))s] $*"; }

fail() {
    FAILED=$((FAILED + 1))
    FAILURES+=("[$CURRENT_STAGE] $*")
    log "FAILED: $*"
}

# A stage that cannot run on this machine: counted as skipped, and named in the recap.
not_run() {
    SKIPPED=$((SKIPPED + 1))
    NOT_RUN+=("[$CURRENT_STAGE] $*")
    log "NOT RUN (counted as skipped): $*"
}

# Builds the stage's build folder (nothing to do when it is up to date); a folder that was never
# configured is a failure that names the preset to configure it with.
ensure_build() {
    if [[ ! -f $BUILD_DIR/CMakeCache.txt ]]; then
        fail "$BUILD_DIR is not configured (cmake --preset ${BUILD_DIR##*/})"
        return 1
    fi
    step "build ${BUILD_DIR##*/} (-j$JOBS)"
    if ! cmake --build "$BUILD_DIR" -j "$JOBS"; then
        fail "build ${BUILD_DIR##*/}"
        return 1
    fi
}

# Builds the stage's build folder and readies the way its programs run (RUNNER native, wine or
# wine32). Returns 2 (after counting the stage as not run) where the 32-bit Wine cannot run on
# this machine: then nothing is built.
prepare() {
    local runner=$1
    if [[ $runner == wine32 ]] && ! wine32_usable; then
        not_run "$WINE32_WHY"
        return 2
    fi
    ensure_build || return 1
    if [[ $runner == wine* ]]; then
        ensure_wine || return 1
        register_devices "$runner" "$BUILD_DIR/bin" || return 1
    fi
}

# Counts the results in a gtest XML report: prints "passed failed skipped", then the
# names of the failed tests, one a line.
count_xml() {
    awk '
        { sub(/\r$/, "") }
        /<testcase / {
            name = $0; sub(/.*<testcase name="/, "", name); sub(/".*/, "", name)
            cls = $0; sub(/.*classname="/, "", cls); sub(/".*/, "", cls)
            skipped = ($0 ~ /status="notrun"/ || $0 ~ /result="skipped"/ || $0 ~ /result="suppressed"/)
            failed = 0; why = ""; open = ($0 !~ /\/>$/)
            if (!open) finish()
            next
        }
        # The first failure of a test, on one line and cut short, follows its name.
        open && /<failure|<error/ {
            if (!failed && match($0, /message="[^"]*"/)) {
                why = substr($0, RSTART + 9, RLENGTH - 10)
                gsub(/&#x0A;/, " | ", why); gsub(/&quot;/, "\"", why); gsub(/&apos;/, "'\''", why)
                gsub(/&lt;/, "<", why); gsub(/&gt;/, ">", why); gsub(/&amp;/, "\\&", why)
                if (length(why) > 600) why = substr(why, 1, 600) "..."
            }
            failed = 1
        }
        open && /<\/testcase>/ { finish() }
        function finish() {
            open = 0
            if (failed) { f++; names = names cls "." name (why != "" ? ": " why : "") "\n" }
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

check() {
    local label=$1
    shift
    run_check native "$label" "$@"
}

# Single programs of the build (PROGRAM relative to the build folder):
#   gtest RUNNER PROGRAM ARGS..     a gtest executable, each test counted
#   program RUNNER PROGRAM ARGS..   any program, exit status 0 = one passed test
#   check LABEL COMMAND..           a command outside any build, likewise
gtest() { one_program run_gtest "$@"; }
program() { one_program run_check "$@"; }
one_program() {
    local how=$1 runner=$2
    shift 2
    prepare "$runner" || return 1
    local exe=$BUILD_DIR/$1
    "$how" "$runner" "${exe##*/}" "$exe" "${@:2}"
}

# stage_main NAME BUILD_DIR: runs stage NAME of scripts/stages/stages.list for the build in
# BUILD_DIR (which need not exist for a stage that cannot run here), then writes its counts
# to results/NAME/summary and exits 0 (passed), 1 (failed) or 77 (could not run here: the
# stages' SKIP_RETURN_CODE).
stage_main() {
    local name=$1 entry script
    BUILD_DIR=$(realpath -m "$2")
    BUILD_ROOT=$(realpath -m "${VMC_BUILD_ROOT:-${BUILD_DIR%/*}}")
    entry=$(stage_entry "$name") || { log "unknown stage '$name'" >&2; exit 2; }
    CURRENT_STAGE=$name
    local results=$BUILD_ROOT/results/$name
    mkdir -p "$results"
    rm -f "$results/summary"
    trap 'stop_wine; stop_xvfb' EXIT
    local info words=()
    IFS='|' read -r _ _ script info <<<"$entry"
    # The script and its words, split as the list writes them (no quoting, no file names).
    read -ra words <<<"$script"
    log "==> [$name] $(trim "$info")"
    STAGE_START=$(date +%s)
    # shellcheck source=/dev/null
    source "$ROOT/scripts/stages/${words[0]}" "${words[@]:1}"
    # The stage's own variables may have shadowed ours: CURRENT_STAGE names it.
    local took=$(($(date +%s) - STAGE_START)) line status=0
    results=$BUILD_ROOT/results/$CURRENT_STAGE
    {
        echo "counts $PASSED $FAILED $SKIPPED"
        echo "seconds $took"
        for line in "${FAILURES[@]}"; do echo "failure $line"; done
        for line in "${NOT_RUN[@]}"; do echo "notrun $line"; done
    } >"$results/summary"
    if ((FAILED)); then
        status=1
    elif ((${#NOT_RUN[@]} && PASSED == 0)); then
        status=77
    fi
    log "<== [$CURRENT_STAGE] $PASSED passed, $FAILED failed, $SKIPPED skipped in ${took}s"
    exit "$status"
}

trim() {
    local s=$1
    s=${s#"${s%%[![:space:]]*}"}
    printf '%s' "${s%"${s##*[![:space:]]}"}"
}

# The line of stage NAME in stages.list: "name | build | script args | description".
stage_entry() {
    local line
    while IFS= read -r line; do
        [[ $line == "#"* || -z $line ]] && continue
        [[ "$(trim "${line%%|*}")" == "$1" ]] && { printf '%s\n' "$line"; return 0; }
    done <"$ROOT/scripts/stages/stages.list"
    return 1
}
