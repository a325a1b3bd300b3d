#!/usr/bin/env bash
# Builds the benchmarks in a Release build and runs them: the colour converter against libyuv
# and memcpy, then the screen capture pipeline against its copy floor and its memory bound.
# Ends with the summary lines of both.
#
#   bash scripts/bench.sh [--no-deps]
#
# Environment: VMC_BENCH_BUILD (build folder, default build-bench/), VMC_JOBS (parallel jobs).
# Run it on a quiet machine: the ratios compare runs made in the same process, but a busy
# machine still widens their spread.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${VMC_BENCH_BUILD:-$ROOT/build-bench}
JOBS=${VMC_JOBS:-$(nproc 2>/dev/null || echo 2)}

[[ ${1:-} == --no-deps ]] || bash "$ROOT/scripts/install-deps.sh"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVMC_BUILD_BENCH=ON \
    -DVMC_BUILD_TESTS=OFF -DVMC_BUILD_TOOLS=OFF -DVMC_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target bench_convert bench_pipeline

log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$BUILD/bin/bench_convert" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true | tee "$log"
"$BUILD/bin/bench_pipeline" | tee -a "$log"
echo
echo "Summary:"
grep '^summary' "$log"
