#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the benchmarks in a Release build and runs them: the colour converter against libyuv
# and memcpy, the screen capture pipeline against its copy floor and its memory bound, and
# capture against ffmpeg on one X server and one sound server of its own (a 1920x1080 Xvfb and a
# PulseAudio server with a 440 Hz sine source, started here and stopped at the end; the library
# captures them through the host world), and (portal) the desktop device in a Wayland session
# without a desktop (tests/portal/session.sh: the real portal frontend, our test backend, PipeWire
# with a 1920x1080 source node at 60 frames a second) against PipeWire's GStreamer source on the
# same node. Ends with the summary lines of all of them.
#
#   bash scripts/bench.sh [--no-deps] [convert|pipeline|capture|portal]...
#
# Naming benchmarks runs those only (default: all four).
# Environment: VMC_BENCH_BUILD (build folder, default build-bench/), VMC_JOBS (parallel jobs),
# VMC_BENCH_WORLD (the world bench_capture's library side captures, default host),
# VMC_BENCH_REPETITIONS (runs of each capture subject, default 3; the summary takes the median),
# VMC_BENCH_CMAKE_ARGS (more arguments for configuring the build, split at blanks).
# Run it on a quiet machine: the ratios compare runs made in the same process, but a busy
# machine still widens their spread.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${VMC_BENCH_BUILD:-$ROOT/build-bench}
JOBS=${VMC_JOBS:-$(nproc 2>/dev/null || echo 2)}

if [[ ${1:-} == --no-deps ]]; then
    shift
else
    bash "$ROOT/scripts/install-deps.sh"
fi
WHICH=("$@")
[[ ${#WHICH[@]} -gt 0 ]] || WHICH=(convert pipeline capture portal)
wants() { [[ " ${WHICH[*]} " == *" $1 "* ]]; }

targets=()
for b in "${WHICH[@]}"; do
    case $b in
    portal) targets+=(bench_capture vmc_test_producer) ;;  # the producer is the tests' source node
    *) targets+=("bench_$b") ;;
    esac
done
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVMC_BUILD_BENCH=ON \
    -DVMC_BUILD_TESTS=ON -DVMC_BUILD_TOOLS=ON -DVMC_BUILD_EXAMPLES=OFF ${VMC_BENCH_CMAKE_ARGS:-} >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target "${targets[@]}"

work=$(mktemp -d)
log=$work/log
servers=()
cleanup() {
    for pid in "${servers[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${servers[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
touch "$log"

if wants convert; then
    "$BUILD/bin/bench_convert" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true |
        tee -a "$log"
fi
if wants pipeline; then
    "$BUILD/bin/bench_pipeline" | tee -a "$log"
fi
if wants capture; then
    # An X server of the benchmark's own on a free display number.
    display=
    for n in $(seq 140 199); do
        if [[ ! -e /tmp/.X11-unix/X$n && ! -e /tmp/.X$n-lock ]]; then display=:$n; break; fi
    done
    [[ -n $display ]] || { echo "no free X display number" >&2; exit 1; }
    Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    xserver=$!
    servers+=("$xserver")
    for _ in $(seq 100); do [[ -e /tmp/.X11-unix/X${display#:} ]] && break; sleep 0.1; done

    # A sound server of its own, in a runtime folder of its own.
    export PULSE_RUNTIME_PATH=$work/pulse
    mkdir -p "$PULSE_RUNTIME_PATH"
    cat >"$work/pa.pa" <<'PA'
load-module module-native-protocol-unix
load-module module-null-sink
load-module module-sine-source frequency=440 source_name=vmc_bench_sine
set-default-source vmc_bench_sine
PA
    pulseaudio -n -F "$work/pa.pa" --exit-idle-time=-1 --daemonize=no --use-pid-file=no \
        >"$work/pulse.log" 2>&1 &
    soundserver=$!
    servers+=("$soundserver")
    for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done

    DISPLAY=$display VORN_WORLD=${VMC_BENCH_WORLD:-host} "$BUILD/bin/bench_capture" \
        --xserver-pid="$xserver" --sound-server-pid="$soundserver" \
        --pulse-source=vmc_bench_sine --out-dir="$work" \
        --benchmark_repetitions="${VMC_BENCH_REPETITIONS:-3}" | tee -a "$log"
fi
if wants portal; then
    session=$ROOT/tests/portal/session.sh
    if ! what=$(bash "$session" check); then
        echo "portal: $what is not installed, the portal comparison is left out" >&2
    else
        VMC_PORTAL_SOURCE_SIZE=1920x1080 VMC_PORTAL_SOURCE_RATE=60 timeout 120 \
            bash "$session" start "$work/portal" "$BUILD/bin/vmc_test_producer"
        stop_session() { bash "$session" stop "$work/portal"; }
        trap 'stop_session; cleanup' EXIT
        pipewire=$(awk '$2 == "pipewire" { print $1 }' "$work/portal/pids")
        (
            set -a
            . "$work/portal/env"
            set +a
            "$BUILD/bin/bench_capture" --pipewire-node=vmc-test-screen --pipewire-pid="$pipewire" \
                --source-rate=60 --size=1920x1080 \
                --benchmark_repetitions="${VMC_BENCH_REPETITIONS:-3}"
        ) | tee -a "$log"
        stop_session
        trap cleanup EXIT
    fi
fi
echo
echo "Summary:"
grep '^summary' "$log"
