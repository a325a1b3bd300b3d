# SPDX-License-Identifier: MIT

# suites RUNNER [FILTER]: builds, then runs every test executable of the build that exists,
# natively (RUNNER native) or under Wine (wine, wine32); FILTER, when given, is GoogleTest's.
suites() {
    local runner=$1
    (($# > 1)) && export GTEST_FILTER=$2
    prepare "$runner" || return 1
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
suites "$@"
