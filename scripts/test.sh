#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The project's test command: installs what the build needs, configures the builds through the
# presets of CMakePresets.json, runs their stages through CTest, and ends with one line
# "N passed, N failed, N skipped".
#
#   bash scripts/test.sh [--no-deps] [--list] [STAGE...]     (no STAGE: every stage)
#
# The stages are the lines of scripts/stages/stages.list; each is the CTest test stage.<name> of
# its build (cmake/Stages.cmake), done by a script of scripts/stages/. Stages run build by build,
# in the list's order within a build. Environment: VMC_BUILD_ROOT (build folders, default
# build-ci/), VMC_WINEPREFIX (a Wine prefix to reuse; default a scratch one, removed at the end),
# and those of scripts/stages/lib.sh (VMC_JOBS, VMC_TEST_TIMEOUT, VMC_FUZZ_SECONDS, VMC_WINE32).
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_ROOT=$(realpath -m "${VMC_BUILD_ROOT:-$ROOT/build-ci}")
export VMC_BUILD_ROOT=$BUILD_ROOT

trim() {
    local s=$1
    s=${s#"${s%%[![:space:]]*}"}
    printf '%s' "${s%"${s##*[![:space:]]}"}"
}
STAGE_NAMES=() BUILDS=()
declare -A STAGE_BUILD=() STAGE_INFO=()
while IFS='|' read -r name build _ info; do
    name=$(trim "$name") build=$(trim "$build")
    STAGE_NAMES+=("$name")
    STAGE_BUILD[$name]=$build
    STAGE_INFO[$name]=$(trim "$info")
    [[ " ${BUILDS[*]} " == *" $build "* ]] || BUILDS+=("$build")
done < <(grep -v '^#' "$ROOT/scripts/stages/stages.list" | grep '|')

usage() {
    echo "usage: bash scripts/test.sh [--no-deps] [--list] [STAGE...]"
    echo "Runs every stage when none is named. Stages (build):"
    local s
    for s in "${STAGE_NAMES[@]}"; do printf '  %-18s %-13s %s\n' "$s" "${STAGE_BUILD[$s]}" "${STAGE_INFO[$s]}"; done
}
deps=1
declare -A WANTED=()
for arg in "$@"; do
    case $arg in
    --no-deps) deps=0 ;;
    --list | -h | --help) usage; exit 0 ;;
    -*) usage >&2; exit 2 ;;
    *)
        [[ -n ${STAGE_BUILD[$arg]:-} ]] || { echo "unknown stage '$arg'" >&2; usage >&2; exit 2; }
        WANTED[$arg]=1
        ;;
    esac
done

PASSED=0 FAILED=0 SKIPPED=0 FAILURES=() NOT_RUN=() TIMINGS=()
timing() { TIMINGS+=("$(printf '%-22s %5ss  %s' "$1" "$2" "$3")"); }
fail() {
    FAILED=$((FAILED + 1))
    FAILURES+=("$*")
    echo "FAILED: $*"
}
# Adds a stage's counts (results/STAGE/summary, written by scripts/stages/run.sh) to the totals.
collect() {
    local stage=$1 summary=$BUILD_ROOT/results/$1/summary kind rest p f s took=0 status=ok
    if [[ ! -f $summary ]]; then
        fail "[$stage] did not report (see CTest's output above)"
        timing "$stage" 0 FAILED
        return
    fi
    while read -r kind rest; do
        case $kind in
        counts)
            read -r p f s <<<"$rest"
            PASSED=$((PASSED + p)) FAILED=$((FAILED + f)) SKIPPED=$((SKIPPED + s))
            ;;
        seconds) took=$rest ;;
        failure) FAILURES+=("$rest") status=FAILED ;;
        notrun) NOT_RUN+=("$rest") && [[ $status == ok ]] && status="NOT RUN" ;;
        esac
    done <"$summary"
    timing "$stage" "$took" "$status"
}

# A Wine prefix of the run's own, shared by both Windows builds, unless one is named.
WINE_SCRATCH=""
end_wine() {
    [[ -n $WINE_SCRATCH ]] || return 0
    WINEPREFIX=$VMC_WINEPREFIX /usr/lib/wine/wineserver -k 2>/dev/null
    rm -rf "$WINE_SCRATCH"
}
trap end_wine EXIT

# The stages of one build: configured through its preset, then run by CTest (each stage builds
# the folder first, a no-op once built). The i686 build is not even configured where the 32-bit
# Wine cannot run: its stages, run directly, count themselves as not run.
run_build() {
    local build=$1 dir=$BUILD_ROOT/$1 began s
    shift
    for s in "$@"; do rm -f "$BUILD_ROOT/results/$s/summary"; done
    if [[ $build == mingw-i686 ]] && ! bash "$ROOT/scripts/fixtures/wine-prefix.sh" usable32 >/dev/null 2>&1; then
        for s in "$@"; do bash "$ROOT/scripts/stages/run.sh" "$s" "$dir"; done
        return
    fi
    echo ""
    echo "==> configure $build: cmake --preset $build -B $dir"
    began=$(date +%s)
    if ! (cd "$ROOT" && cmake --preset "$build" -B "$dir"); then
        for s in "$@"; do fail "[$s] configure $build"; done
        return
    fi
    timing "configure $build" $(($(date +%s) - began)) ok
    if [[ $build == mingw-* && -z ${VMC_WINEPREFIX:-} ]]; then
        WINE_SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/vmc-wine.XXXXXX") || { fail "mktemp"; return; }
        export VMC_WINEPREFIX=$WINE_SCRATCH/prefix
    fi
    local labels
    labels=$(IFS='|'; echo "$*")
    mkdir -p "$BUILD_ROOT/results"
    ctest --test-dir "$dir" -L "^($labels)\$" -V --no-tests=error \
        --output-junit "$BUILD_ROOT/results/ctest-$build.xml"
}

total_start=$(date +%s)
mkdir -p "$BUILD_ROOT"
if ((deps)); then
    echo "==> [deps] install the packages the build needs"
    began=$(date +%s)
    if bash "$ROOT/scripts/install-deps.sh"; then status=ok; else fail "[deps] installing the packages"; status=FAILED; fi
    timing deps $(($(date +%s) - began)) "$status"
    export VMC_WITH_DEPS=1
fi
for build in "${BUILDS[@]}"; do
    stages=()
    for s in "${STAGE_NAMES[@]}"; do
        [[ ${STAGE_BUILD[$s]} == "$build" ]] && [[ ${#WANTED[@]} -eq 0 || -n ${WANTED[$s]:-} ]] && stages+=("$s")
    done
    ((${#stages[@]})) || continue
    run_build "$build" "${stages[@]}"
    for s in "${stages[@]}"; do collect "$s"; done
done
((PASSED + FAILED + SKIPPED > 0)) || fail "[end] no test ran"

echo ""
echo "Stage timings:"
for line in "${TIMINGS[@]}"; do echo "  $line"; done
echo "  total                  $(($(date +%s) - total_start))s"
if ((${#NOT_RUN[@]})); then
    echo "NOT RUN on this machine (counted as skipped, NOT passed):"
    for line in "${NOT_RUN[@]}"; do echo "  $line"; done
fi
if ((${#FAILURES[@]})); then
    echo "Failures:"
    for line in "${FAILURES[@]}"; do echo "  $line"; done
fi
echo "$PASSED passed, $FAILED failed, $SKIPPED skipped"
((FAILED == 0))
