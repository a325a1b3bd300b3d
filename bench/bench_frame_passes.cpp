// SPDX-License-Identifier: MIT
// The two passes a 1920x1080 screen frame makes between the X server's copy and a GStreamer
// buffer in vornvideosrc: the device's conversion of 32-bit pixels to its 24-bit frame, and the
// element's copy of that bottom-up frame top row first. Beside them the one pass ximagesrc
// makes (a copy of its last 32-bit image) as the peer. Each runs twice: on one source and one
// destination, which stay in the processor's cache, and cycling through eight of each, which
// do not (as in the element, where the frames in flight outgrow the cache). A summary line
// gives each pass's time over the peer's in the same state.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "world/display_objects.h"

namespace {

constexpr size_t kWidth = 1920, kHeight = 1080;
constexpr size_t kPixels = kWidth * kHeight;
constexpr size_t kRow24 = kWidth * 3;

// Screen copies (32-bit pixels) with their copies, frames (24-bit rows) with their flipped
// copies; the passes take the sets in turn.
struct Buffers {
    explicit Buffers(size_t count)
        : screens(count, std::vector<uint32_t>(kPixels)),
          copies(count, std::vector<uint32_t>(kPixels)),
          frames(count, std::vector<uint8_t>(kPixels * 3)),
          outs(count, std::vector<uint8_t>(kPixels * 3)) {
        for (size_t i = 0; i < count; ++i)
            for (size_t p = 0; p < kPixels; ++p)
                screens[i][p] = static_cast<uint32_t>(p * 2654435761u + i);
    }
    size_t Count() const { return screens.size(); }
    std::vector<std::vector<uint32_t>> screens, copies;
    std::vector<std::vector<uint8_t>> frames, outs;
};

Buffers& Set(size_t count) {
    static std::map<size_t, Buffers> sets;
    auto at = sets.find(count);
    if (at == sets.end()) at = sets.emplace(count, Buffers(count)).first;
    return at->second;
}

void Convert(benchmark::State& state) {
    Buffers& b = Set(static_cast<size_t>(state.range(0)));
    size_t i = 0;
    for (auto _ : state) {
        VornWorld::display::PixelsTo24(b.screens[i].data(), b.frames[i].data(), kPixels);
        benchmark::DoNotOptimize(b.frames[i].data());
        i = (i + 1) % b.Count();
    }
}

void Flip(benchmark::State& state) {
    Buffers& b = Set(static_cast<size_t>(state.range(0)));
    size_t i = 0;
    for (auto _ : state) {
        const uint8_t* from = b.frames[i].data();
        uint8_t* to = b.outs[i].data();
        for (size_t y = 0; y < kHeight; ++y)
            std::memcpy(to + y * kRow24, from + (kHeight - 1 - y) * kRow24, kRow24);
        benchmark::DoNotOptimize(to);
        i = (i + 1) % b.Count();
    }
}

void Peer(benchmark::State& state) {
    Buffers& b = Set(static_cast<size_t>(state.range(0)));
    size_t i = 0;
    for (auto _ : state) {
        uint32_t* to = b.copies[i].data();
        std::memcpy(to, b.screens[i].data(), kPixels * 4);
        benchmark::DoNotOptimize(to);
        i = (i + 1) % b.Count();
    }
}

// Keeps the mean real time of each run, by name, for the summary.
class Summary : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration || run.aggregate_name == "mean")
                times[run.run_name.str()] = run.GetAdjustedRealTime();
    }
    std::map<std::string, double> times;
};

}  // namespace

BENCHMARK(Convert)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond);
BENCHMARK(Flip)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond);
BENCHMARK(Peer)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Summary summary;
    benchmark::RunSpecifiedBenchmarks(&summary);
    for (const char* buffers : {"1", "8"}) {
        const std::string suffix = std::string("/") + buffers;
        const double peer = summary.times["Peer" + suffix];
        if (peer <= 0) continue;
        std::printf("%s buffer(s): conversion %.2f x the peer, flip %.2f x, both %.2f x\n", buffers,
                    summary.times["Convert" + suffix] / peer, summary.times["Flip" + suffix] / peer,
                    (summary.times["Convert" + suffix] + summary.times["Flip" + suffix]) / peer);
    }
    benchmark::Shutdown();
    return 0;
}
