# SPDX-License-Identifier: MIT

# Builds the fuzz targets and runs each for FUZZ_SECONDS, one passed test per clean run. Each
# run starts from the target's seeds in tests/fuzz/corpus/<name> (never written to); what it
# finds goes to a scratch corpus in the build folder, a crashing input to results/fuzz/.
fuzzers() {
    prepare native || return 1
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
fuzzers "$@"
