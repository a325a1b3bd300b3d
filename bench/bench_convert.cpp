// SPDX-License-Identifier: MIT
// Times the RGB24 to I420 conversion at two frame sizes against two yardsticks: libyuv's
// RGB24ToI420 on the same frame (a different but comparable conversion: averaged chroma) and a
// plain memcpy of as many bytes as the conversion reads and writes together. A summary line per
// size gives the ratios ours/libyuv and ours/memcpy (below 1 means ours is faster).
#include "internal/convert/i420convert.h"
#include "tqzcolorspaceconvert.h"

#include <benchmark/benchmark.h>

#ifdef VMC_BENCH_HAVE_LIBYUV
#include <libyuv.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

struct Frame {
    unsigned width, height;
    std::vector<unsigned char> rgb, out;

    Frame(unsigned w, unsigned h) : width(w), height(h), rgb(w * h * 3), out(w * h * 3 / 2) {
        std::mt19937 random(w * 31 + h);
        for (auto& b : rgb) b = static_cast<unsigned char>(random());
    }
    std::string Size() const { return std::to_string(width) + "x" + std::to_string(height); }
    void Count(benchmark::State& state) const {
        state.SetBytesProcessed(state.iterations() * std::int64_t(rgb.size() + out.size()));
    }
};

void Ours(benchmark::State& state, Frame* f) {
    for (auto _ : state) {
        unsigned outLen = static_cast<unsigned>(f->out.size());
        bool ok = TQZCapture::TQZColorSpaceConvert::RGB24_TO_YUV_I420(
            f->rgb.data(), f->width, f->height, f->out.data(), &outLen);
        benchmark::DoNotOptimize(ok);
        benchmark::ClobberMemory();
    }
    f->Count(state);
}

// One conversion path on its own (for comparing the paths; "ours" runs the fastest).
void Path(benchmark::State& state, Frame* f, TQZCapture::I420::RowKernel row) {
    for (auto _ : state) {
        TQZCapture::I420::ConvertWith(
            row, TQZCapture::I420::PackedBottomUp(f->rgb.data(), f->width, f->height), f->width,
            f->height, f->out.data());
        benchmark::ClobberMemory();
    }
    f->Count(state);
}

#ifdef VMC_BENCH_HAVE_LIBYUV
void Libyuv(benchmark::State& state, Frame* f) {
    const int w = int(f->width), h = int(f->height);
    unsigned char* y = f->out.data();
    unsigned char* cr = y + w * h;
    unsigned char* cb = cr + w * h / 4;
    for (auto _ : state) {
        // Negative height: the source is bottom-up, as ours.
        int r = libyuv::RGB24ToI420(f->rgb.data(), w * 3, y, w, cb, w / 2, cr, w / 2, w, -h);
        benchmark::DoNotOptimize(r);
        benchmark::ClobberMemory();
    }
    f->Count(state);
}
#endif

void Memcpy(benchmark::State& state, Frame* f) {
    const std::size_t bytes = f->rgb.size() + f->out.size();
    std::vector<unsigned char> from(bytes, 1), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    f->Count(state);
}

// Prints the ratios ours/libyuv and ours/memcpy per frame size at the end, from the processor
// time per iteration (the machine is shared: waiting for a processor is not the code's cost):
// the best of the repetitions, or the median when only aggregates are reported.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const double t = run.GetAdjustedCPUTime();
            const std::string name = run.run_name.str();
            if (run.run_type == Run::RT_Iteration) {
                auto at = best_.find(name);
                if (at == best_.end() || t < at->second) best_[name] = t;
            } else if (run.aggregate_name == "median") {
                median_[name] = t;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Summarise(const std::vector<Frame*>& frames) const {
        for (const Frame* f : frames) {
            const std::string size = f->Size();
            std::printf("summary %s:", size.c_str());
            for (const char* yardstick : {"libyuv", "memcpy"}) {
                const double ours = Time("ours/" + size), other = Time(yardstick + ("/" + size));
                if (ours > 0 && other > 0) std::printf("  ours/%s = %.3f", yardstick, ours / other);
            }
            std::printf("\n");
        }
    }

private:
    double Time(const std::string& name) const {
        for (const auto* times : {&best_, &median_}) {
            auto at = times->find(name);
            if (at != times->end()) return at->second;
        }
        return 0;
    }
    std::map<std::string, double> best_, median_;
};

}  // namespace

int main(int argc, char** argv) {
    Frame vga(640, 480), hd(1920, 1080);
    const std::vector<Frame*> frames = {&vga, &hd};
    for (Frame* f : frames) {
        const std::string size = f->Size();
        benchmark::RegisterBenchmark(("ours/" + size).c_str(), Ours, f);
#ifdef VMC_BENCH_HAVE_LIBYUV
        benchmark::RegisterBenchmark(("libyuv/" + size).c_str(), Libyuv, f);
#endif
        benchmark::RegisterBenchmark(("memcpy/" + size).c_str(), Memcpy, f);
        for (TQZCapture::I420::Path path : TQZCapture::I420::kPaths) {
            if (TQZCapture::I420::RowKernel row = TQZCapture::I420::PathRow(path)) {
                const std::string name = std::string("path/") + TQZCapture::I420::PathName(path);
                benchmark::RegisterBenchmark((name + "/" + size).c_str(), Path, f, row);
            }
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.Summarise(frames);
    benchmark::Shutdown();
    return 0;
}
