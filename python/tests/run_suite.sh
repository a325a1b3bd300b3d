#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Python package's suite as the test command runs it: builds the module in a configured build
# folder, installs it with the libraries into a scratch prefix, and runs pytest against that installation
# (virtual-world frames and samples, the X screen of a private Xvfb, a private sound server's
# microphone, a lost source, 100,000 grabs without growth). Ends with the line
# "vorncapture: N passed, N failed, N skipped".
#
#   bash python/tests/run_suite.sh BUILD_DIR
#
# A build configured with VMC_SANITIZE=address,undefined runs the suite with the sanitizers'
# runtimes preloaded into the interpreter (Python itself is not instrumented, so its own
# allocations are not leak-checked) and fewer grabs in the growth test.
#
# Environment: VMC_JOBS (parallel build jobs, default 2), VORNCAPTURE_GRABS (grabs of the
# growth test, default 100000).
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD=$(cd "${1:?usage: run_suite.sh BUILD_DIR}" && pwd) || exit 1
JOBS=${VMC_JOBS:-2}
summary() { echo "vorncapture: $1 passed, $2 failed, $3 skipped"; }

if ! grep -q '^VMC_WITH_PYTHON\|_vorncapture' "$BUILD/build.ninja" 2>/dev/null &&
    ! grep -q _vorncapture "$BUILD/Makefile" 2>/dev/null; then
    echo "the build in $BUILD has no Python module (pybind11-dev, python3-dev missing?)"
    summary 0 1 0
    exit 1
fi
cmake --build "$BUILD" -j "$JOBS" --target _vorncapture || { summary 0 1 0; exit 1; }

prefix=$(mktemp -d "${TMPDIR:-/tmp}/vorncapture-prefix.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
for component in runtime python; do
    cmake --install "$BUILD" --prefix "$prefix" --component "$component" >/dev/null ||
        { summary 0 1 0; exit 1; }
done
module=$(find "$prefix" -name '_vorncapture*.so' | head -1)
[[ -n $module ]] || { echo "nothing installed the module"; summary 0 1 0; exit 1; }
site=${module%/vorncapture/*}

# The interpreter the module was built for (its file name's suffix), with NumPy and pytest.
suffix=${module##*/_vorncapture}
python=""
for candidate in "$(sed -n 's/^Python3_EXECUTABLE:[A-Z]*=//p' "$BUILD/CMakeCache.txt")" \
    /usr/bin/python3 python3; do
    [[ -n $candidate ]] || continue
    if "$candidate" -c "import sysconfig, numpy, pytest, sys
sys.exit(sysconfig.get_config_var('EXT_SUFFIX') != '$suffix')" 2>/dev/null; then
        python=$candidate
        break
    fi
done
if [[ -z $python ]]; then
    echo "no Python with NumPy and pytest runs modules of suffix $suffix (python3-numpy, python3-pytest)"
    summary 0 1 0
    exit 1
fi

# An AddressSanitizer build's module needs the sanitizers' runtimes loaded first.
sanitized=()
if grep -q '^VMC_SANITIZE:[A-Z]*=.*address' "$BUILD/CMakeCache.txt"; then
    sanitized=(LD_PRELOAD="$(gcc -print-file-name=libasan.so) $(gcc -print-file-name=libubsan.so)"
        ASAN_OPTIONS=detect_leaks=0:halt_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1)
fi

# Run from a scratch folder: only the installed package can be imported.
cd "$prefix" || exit 1
where=$(env PYTHONPATH="$site" "${sanitized[@]}" "$python" -c 'import vorncapture; print(vorncapture.__file__)')
if [[ $where != "$site"/* ]]; then
    echo "vorncapture was imported from $where, not from the installation in $site"
    summary 0 1 0
    exit 1
fi
echo "vorncapture installed in $site, tested with $python"

# A PipeWire session with a camera node of a known colour (the portal stages' session), where
# its programs are installed; the camera test is skipped without it.
session=""
if bash "$ROOT/tests/portal/session.sh" check >/dev/null && [[ -x $BUILD/bin/vmc_test_producer ]] ||
    { cmake --build "$BUILD" -j "$JOBS" --target vmc_test_producer >/dev/null 2>&1 &&
        bash "$ROOT/tests/portal/session.sh" check >/dev/null; }; then
    session=$prefix/session
    mkdir -p "$session"
    if timeout 120 bash "$ROOT/tests/portal/session.sh" start "$session" \
        "$BUILD/bin/vmc_test_producer" >"$prefix/session.log" 2>&1; then
        export VORNCAPTURE_PIPEWIRE_ENV=$session/env
    else
        echo "the PipeWire session did not start:"
        tail -20 "$prefix/session.log"
    fi
fi
trap '[[ -n $session ]] && bash "$ROOT/tests/portal/session.sh" stop "$session" >/dev/null 2>&1; rm -rf "$prefix"' EXIT

# Runs the suite with the package in folder $1 (more environment in the arguments after it);
# adds its results to passed, failed and skipped.
passed=0 failed=0 skipped=0
run_suite() {
    local site=$1 report=$prefix/pytest-$((++runs)).xml status counts p f s
    shift
    env PYTHONPATH="$site" VORN_WORLD=virtual "$@" timeout -k 10 300 "$python" -m pytest \
        -p no:cacheprovider -q -rfEs --junitxml="$report" "$ROOT/python/tests"
    status=$?
    counts=$("$python" - "$report" <<'PY'
import sys
import xml.etree.ElementTree as tree
passed = failed = skipped = 0
for case in tree.parse(sys.argv[1]).iter("testcase"):
    if case.find("failure") is not None or case.find("error") is not None:
        failed += 1
    elif case.find("skipped") is not None:
        skipped += 1
    else:
        passed += 1
print(passed, failed, skipped)
PY
) || counts="0 1 0"
    read -r p f s <<<"$counts"
    # An interpreter that ended badly after its tests (a sanitizer's report at exit, a crash,
    # the time limit) fails too.
    ((status != 0 && f == 0)) && f=1
    passed=$((passed + p)) failed=$((failed + f)) skipped=$((skipped + s))
}
runs=0
if ((${#sanitized[@]})); then
    echo "the suite on the AddressSanitizer and UBSan build's module"
    run_suite "$site" "${sanitized[@]}" VORNCAPTURE_GRABS=5000
else
    run_suite "$site"
fi
summary "$passed" "$failed" "$skipped"
((failed == 0))
