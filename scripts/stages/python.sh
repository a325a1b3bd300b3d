# SPDX-License-Identifier: MIT
# The Python package of the stage's build, installed into a scratch prefix, its pytest suite
# (python/tests/run_suite.sh) counted test by test.
python_suite() {
    prepare native || return 1
    run_program native python bash "$ROOT/python/tests/run_suite.sh" "$BUILD_DIR"
    local counts p f s
    counts=$(sed -n 's/^vorncapture: \([0-9]*\) passed, \([0-9]*\) failed, \([0-9]*\) skipped$/\1 \2 \3/p' \
        "$BUILD_ROOT/results/$CURRENT_STAGE/python.log" | tail -1)
    read -r p f s <<<"${counts:-0 1 0}"
    PASSED=$((PASSED + p)) SKIPPED=$((SKIPPED + s))
    ((f == 0)) || fail "python: $f failed (results/$CURRENT_STAGE/python.log)"
    [[ -z $RUN_NOTE ]] || fail "python $RUN_NOTE"
}
python_suite "$@"
