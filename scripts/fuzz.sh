#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Longer fuzz runs than the fuzz stage of scripts/test.sh: builds the fuzz targets of tests/fuzz
# with clang (in build-ci/fuzz, the stage's build folder) and runs each chosen target for
# SECONDS, one after the other.
#
#   bash scripts/fuzz.sh [TARGET|all] [SECONDS]        (defaults: all, 600)
#
# Targets: convert, memory, sets, mediatypes, toolinput (tests/fuzz/fuzz_<target>.cpp).
# Environment: VMC_BUILD_ROOT (default build-ci/), VMC_FUZZ_FORK (run N fuzzing processes at
# once through libFuzzer's -fork=N; default 1, a single process), VMC_FUZZ_ARGS (more
# libFuzzer options, e.g. "-only_ascii=1").
#
# The corpus grows in build-ci/fuzz/long-runs/corpus/<target> and is kept between runs (the
# fuzz stage of the test command starts afresh in a folder of its own); the seeds in
# tests/fuzz/corpus/<target> are read, never written. A crash ends that target's run, its input
# is left as build-ci/fuzz/long-runs/crashes/<target>-crash-<sha1>, and the script ends with
# status 1 after the other targets. Then:
#   replay it:      build-ci/fuzz/bin/vmc_fuzz_<target> FILE
#   keep it:        copy it into tests/fuzz/corpus/<target>/ beside a regression test
#   grow the seeds: build-ci/fuzz/bin/vmc_fuzz_<target> -merge=1 tests/fuzz/corpus/<target> \
#                       build-ci/fuzz/long-runs/corpus/<target>   (only inputs with new coverage)
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${VMC_BUILD_ROOT:-$ROOT/build-ci}/fuzz
KEPT=$BUILD/long-runs
TARGET=${1:-all}
SECONDS_EACH=${2:-600}
FORK=${VMC_FUZZ_FORK:-1}
read -r -a EXTRA <<<"${VMC_FUZZ_ARGS:-}"

if ! [[ $SECONDS_EACH =~ ^[0-9]+$ && $FORK =~ ^[0-9]+$ ]]; then
    sed -n '2,21p' "$0" >&2
    exit 2
fi

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DVMC_BUILD_FUZZERS=ON -DVMC_BUILD_TESTS=OFF \
    -DVMC_BUILD_TOOLS=OFF -DVMC_BUILD_EXAMPLES=OFF >/dev/null || exit 1
cmake --build "$BUILD" || exit 1

targets=()
if [[ $TARGET == all ]]; then
    for exe in "$BUILD"/bin/vmc_fuzz_*; do targets+=("${exe##*/vmc_fuzz_}"); done
else
    targets=("$TARGET")
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
for t in "${targets[@]}"; do
    exe=$BUILD/bin/vmc_fuzz_$t
    if [[ ! -x $exe ]]; then
        echo "fuzz.sh: no target '$t' (have: $(cd "$BUILD/bin" && ls vmc_fuzz_* | sed 's/vmc_fuzz_//' | tr '\n' ' '))" >&2
        exit 2
    fi
    mkdir -p "$KEPT/corpus/$t" "$KEPT/crashes"
    fork=()
    ((FORK > 1)) && fork=(-fork="$FORK" -ignore_crashes=0)
    echo "== $t: ${SECONDS_EACH}s"
    "$exe" -max_total_time="$SECONDS_EACH" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$KEPT/crashes/$t-" "${fork[@]}" "${EXTRA[@]}" \
        "$KEPT/corpus/$t" "$ROOT/tests/fuzz/corpus/$t" || status=1
done
exit $status
