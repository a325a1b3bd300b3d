// SPDX-License-Identifier: MIT
// The capture layer's conversion of a 1920x1080 frame, per pair, beside libyuv's own RGB24ToI420:
// the layer converts packed 24-bit rows to I420 with the library's rows, and this benchmark is
// what says they are the faster of the two on a machine.
#include <benchmark/benchmark.h>
#include <libyuv.h>

#include <vector>

#include "convert.h"

using namespace VornCapture;

namespace {

constexpr std::uint32_t kWidth = 1920, kHeight = 1080;

// A source frame of a plain test picture (a ramp; the timings do not depend on the colours).
OwnedFrame Source(PixelFormat format) {
    OwnedFrame frame = AllocateFrame(format, kWidth, kHeight);
    for (int i = 0; i < 3 && frame.target.planes[i].data; ++i) {
        for (std::size_t j = 0; j < frame.target.planes[i].length; ++j) {
            frame.target.planes[i].data[j] = static_cast<std::uint8_t>(j * 7 + j / 4096);
        }
    }
    return frame;
}

void Pair(benchmark::State& state, PixelFormat from, PixelFormat to) {
    const OwnedFrame source = Source(from);
    const OwnedFrame target = AllocateFrame(to, kWidth, kHeight);
    for (auto _ : state) {
        if (Convert(source.frame, target.target) != ConvertError::None) {
            state.SkipWithError("conversion refused");
            break;
        }
        benchmark::ClobberMemory();
    }
}

void LibyuvRgb24ToI420(benchmark::State& state) {
    const OwnedFrame source = Source(PixelFormat::BGR24);
    const OwnedFrame target = AllocateFrame(PixelFormat::I420, kWidth, kHeight);
    const auto& s = source.frame.planes;
    const auto& d = target.target.planes;
    for (auto _ : state) {
        libyuv::RGB24ToI420(s[0].data, static_cast<int>(s[0].stride), d[0].data, kWidth, d[1].data,
                            kWidth / 2, d[2].data, kWidth / 2, kWidth, kHeight);
        benchmark::ClobberMemory();
    }
}

}  // namespace

BENCHMARK_CAPTURE(Pair, BGR24_to_I420_ours, PixelFormat::BGR24, PixelFormat::I420);
BENCHMARK(LibyuvRgb24ToI420);
BENCHMARK_CAPTURE(Pair, BGRx_to_I420, PixelFormat::BGRx, PixelFormat::I420);
BENCHMARK_CAPTURE(Pair, BGRx_to_BGR24, PixelFormat::BGRx, PixelFormat::BGR24);
BENCHMARK_CAPTURE(Pair, NV12_to_I420, PixelFormat::NV12, PixelFormat::I420);
BENCHMARK_CAPTURE(Pair, YUY2_to_I420, PixelFormat::YUY2, PixelFormat::I420);
BENCHMARK_CAPTURE(Pair, I420_to_BGR24, PixelFormat::I420, PixelFormat::BGR24);

BENCHMARK_MAIN();
