// SPDX-License-Identifier: MIT
// What a V4L2 camera's frame costs the thread that takes it, 1280 x 720 in YUYV and in
// Motion-JPEG, from the in-process fake driver cycling through four pictures: frames lent
// straight out of the driver's mapped buffers (and lent, then converted once to I420 by the
// capture layer) beside the library's V4L2 device reading each frame into its own buffer, as
// YUY2, RGB24 or I420. The fake copies its picture into the buffer inside DQBUF, where a real
// driver's DMA costs the processor nothing: BM_FakeDriverCopy measures that copy alone, to be
// taken off the other rows by the reader.
//   cmake --preset release && cmake --build build-ci/release --target bench_v4l2_lending
//   build-ci/release/bin/bench_v4l2_lending
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fake_v4l2.h"
#include "host/v4l2/v4l2.h"
#include "v4l2camera.h"
#include "world/media.h"
#include "world/media_pixels.h"
#if VORN_CAPTURE_HAS_CONVERT
#include "convert.h"
#endif

namespace {

using fakev4l2::FakeV4l2;

constexpr uint32_t kWidth = 1280, kHeight = 720;
const std::string kNode = std::string(FakeV4l2::kFolder) + "/video0";

uint32_t FourccOf(const benchmark::State& state) {
    return state.range(0) == 0 ? V4L2_PIX_FMT_YUYV : V4L2_PIX_FMT_MJPEG;
}

std::shared_ptr<FakeV4l2> CyclingFake(uint32_t fourcc) {
    auto fake = std::make_shared<FakeV4l2>();
    fakev4l2::Camera camera{"Bench Camera", {{fourcc, {{kWidth, kHeight, {30}}}}}};
    camera.pictures = 4;
    fake->Plug(0, camera);
    return fake;
}

void BM_FakeDriverCopy(benchmark::State& state) {
    const uint32_t fourcc = FourccOf(state);
    const uint32_t stride = fourcc == V4L2_PIX_FMT_YUYV ? kWidth * 2 : 0;
    std::vector<std::vector<BYTE>> pictures;
    for (int i = 0; i < 4; ++i)
        pictures.push_back(fakev4l2::PaintFrame(fourcc, kWidth, kHeight, stride, i));
    std::vector<BYTE> into(pictures[0].size() * 2);
    size_t i = 0;
    for (auto _ : state) {
        const std::vector<BYTE>& picture = pictures[i++ % 4];
        std::memcpy(into.data(), picture.data(), std::min(picture.size(), into.size()));
        benchmark::DoNotOptimize(into.data());
    }
}

// Lent frames; with range(1) set, each converted once to I420.
void BM_Lent(benchmark::State& state) {
    auto fake = CyclingFake(FourccOf(state));
    VornCapture::V4l2Camera camera;
    std::string error;
    if (!camera.Find(fake, kNode, error) || !camera.Open(camera.Modes()[0], error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    VornCapture::VideoFrame frame;
    for (auto _ : state) {
        if (!camera.Take(frame, 1000)) {
            state.SkipWithError("no frame");
            break;
        }
#if VORN_CAPTURE_HAS_CONVERT
        if (state.range(1) != 0 &&
            VornCapture::ConvertToOwned(frame, VornCapture::PixelFormat::I420, kWidth, kHeight)
                    .error != VornCapture::ConvertError::None) {
            state.SkipWithError("no conversion");
            break;
        }
#endif
    }
    frame = VornCapture::VideoFrame{};
    camera.Close();
}

// The library's device; range(1): 0 YUY2, 1 RGB24, 2 I420.
void BM_LibraryDevice(benchmark::State& state) {
    auto fake = CyclingFake(FourccOf(state));
    const GUID subtype = state.range(1) == 0   ? MEDIASUBTYPE_YUY2
                         : state.range(1) == 1 ? MEDIASUBTYPE_RGB24
                                               : MEDIASUBTYPE_I420;
    const std::vector<VornWorld::host::HostDevice> devices =
        VornWorld::host::ListV4l2Devices(fake, FakeV4l2::kFolder);
    if (devices.size() != 1 || VornWorld::FittingCapability(devices[0].config.video, subtype,
                                                            kWidth, kHeight, 333333) < 0) {
        state.SkipWithError("the device offers no such mode");
        return;
    }
    VornWorld::StreamFormat format;
    format.subtype = subtype;
    format.width = kWidth;
    format.height = kHeight;
    format.interval = 333333;
    std::unique_ptr<VornWorld::MediaSource> source = devices[0].open(format);
    if (source == nullptr) {
        state.SkipWithError("the device did not open");
        return;
    }
    source->Begin();
    std::vector<BYTE> buffer(VornWorld::FrameBytes(subtype, kWidth, kHeight));
    REFERENCE_TIME time = 0;
    for (auto _ : state)
        if (source->Read(buffer.data(), buffer.size(), 0, &time) !=
            VornWorld::MediaSource::Result::Filled) {
            state.SkipWithError("no frame");
            break;
        }
}

// range(0): 0 YUYV, 1 Motion-JPEG.
BENCHMARK(BM_FakeDriverCopy)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lent)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibraryDevice)
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({1, 2})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
