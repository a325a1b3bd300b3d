// SPDX-License-Identifier: MIT
// Measures the screen device end to end on the virtual display, at two frame sizes:
//
// - pipeline: the device runs with no pause between frames while a host thread takes every
//   frame (Query, oldest first) for a fixed time; frames per second and process processor time
//   per frame delivered to the host;
// - floor: plain memcpy of the bytes a frame moves on its way in the queueing design: screen to
//   bitmap (W*H*4), read-back (W*H*3 written from a W*H*4 buffer), packet (W*H*3) and queue copy
//   (W*H*3); a second floor with one more W*H*3 copy for the result slot is printed beside it.
//   The device now reads each frame straight into a reused packet block and moves that packet
//   through the queue into the result slot, so it makes only the first two of these copies: a
//   third floor of just those two shows how close it runs to what it still copies;
// - memory: with nobody taking frames, peak resident memory against the queue bound, and
//   resident memory after Close and after destruction.
//
// The pipeline runs --runs times per size; the run with the median processor time per frame is
// reported, with the lowest and highest beside it (the cost varies from run to run with how
// often the allocator hands fresh pages to the frame buffers: see the page faults per frame).
//
// Options: --seconds=N (each pipeline run, default 2), --runs=N (default 3), --size=WxH (that size
// only),
// --pipeline-only (no floor, no memory check: for running under a profiler).
#include <malloc.h>
#include <sys/resource.h>
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tqzdesktopdevice.h"
#include "tqzpacket.h"
#include "vorn/control/display.h"
#include "vorn/control/world.h"

namespace {

double Clock(clockid_t id) {
    timespec t{};
    clock_gettime(id, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}
double Cpu() { return Clock(CLOCK_PROCESS_CPUTIME_ID); }

long MinorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}
double Wall() { return Clock(CLOCK_MONOTONIC); }

void SleepMs(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

struct Size {
    unsigned width, height;
    std::string Name() const { return std::to_string(width) + "x" + std::to_string(height); }
    std::size_t Pixels() const { return std::size_t(width) * height; }
};

// ---- floor ---------------------------------------------------------------------------------

struct Copy {
    std::size_t from, to, bytes;  // buffer sizes and bytes copied
};

enum class Floor { Design, DesignWithSlot, Made };

// The copies of one frame, each between buffers of the sizes the pipeline uses.
std::vector<Copy> FrameCopies(const Size& s, Floor floor) {
    const std::size_t p = s.Pixels();
    std::vector<Copy> copies = {
        {p * 4, p * 4, p * 4},  // screen -> bitmap
        {p * 4, p * 3, p * 3},  // bitmap -> read-back buffer (24-bit)
    };
    if (floor == Floor::Made) return copies;
    copies.push_back({p * 3, p * 3, p * 3});  // read-back buffer -> packet
    copies.push_back({p * 3, p * 3, p * 3});  // packet -> queued copy
    if (floor == Floor::DesignWithSlot) copies.push_back({p * 3, p * 3, p * 3});  // -> slot
    return copies;
}

volatile unsigned char gSink;

// Processor seconds per frame for the copies, best of three runs of about `runSeconds` each.
double CopySeconds(const std::vector<Copy>& copies, double runSeconds) {
    std::vector<std::vector<unsigned char>> from, to;
    for (const Copy& c : copies) {
        from.emplace_back(c.from, 1);
        to.emplace_back(c.to, 0);
    }
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        const double start = Cpu();
        unsigned frames = 0;
        do {
            for (std::size_t i = 0; i < copies.size(); ++i) {
                std::memcpy(to[i].data(), from[i].data(), copies[i].bytes);
                gSink = gSink + to[i][frames % copies[i].bytes];
            }
            ++frames;
        } while (Cpu() - start < runSeconds);
        best = std::min(best, (Cpu() - start) / frames);
    }
    return best;
}

double FloorSeconds(const Size& s, Floor floor) { return CopySeconds(FrameCopies(s, floor), 0.5); }

// Each copy of the floor on its own, in milliseconds.
void PrintFloorParts(const Size& s) {
    static const char* const kNames[] = {"screen->bitmap", "read-back", "packet", "queue", "slot"};
    const std::vector<Copy> copies = FrameCopies(s, Floor::DesignWithSlot);
    std::printf("floor parts %s (ms):", s.Name().c_str());
    for (std::size_t i = 0; i < copies.size(); ++i) {
        std::printf(" %s %.3f", kNames[i], CopySeconds({copies[i]}, 0.2) * 1e3);
    }
    std::printf("\n");
}

// ---- pipeline ------------------------------------------------------------------------------

struct PipelineResult {
    unsigned long delivered = 0, produced = 0, badSize = 0;
    long faults = 0;  // minor page faults of the process in the window
    // Processor seconds per delivered frame (a run that delivered nothing sorts last).
    double PerFrame() const { return delivered ? cpu / double(delivered) : 1e9; }
    double wall = 0, cpu = 0;
};

void Prepare(TQZCapture::TQZDesktopDevice& device, const Size& s) {
    device.Width = s.width;
    device.Height = s.height;
    device.FrameRate = 2000;
}

PipelineResult RunPipeline(const Size& s, double seconds) {
    PipelineResult r;
    TQZCapture::TQZDesktopDevice device;
    Prepare(device, s);
    if (!device.Open()) return r;
    const std::size_t expected = s.Pixels() * 3;
    // Frames queued while Open waited for the worker are not part of the timed window.
    while (device.Packets.Count() > 0) device.Query();
    const std::uint64_t firstFrame = VornWorld::ScreenFrame();
    const long faults0 = MinorFaults();
    const double wall0 = Wall(), cpu0 = Cpu();
    while (Wall() - wall0 < seconds) {
        if (device.Packets.Count() == 0) {
            // Nothing waiting: give the processor back instead of spinning on it.
            std::this_thread::sleep_for(std::chrono::microseconds(100));
            continue;
        }
        TQZCapture::TQZPacket* packet = device.Query();
        if (packet->Size() != expected) ++r.badSize;
        gSink = gSink + packet->Bytes()[expected / 2];
        ++r.delivered;
    }
    r.cpu = Cpu() - cpu0;
    r.wall = Wall() - wall0;
    r.faults = MinorFaults() - faults0;
    r.produced = static_cast<unsigned long>(VornWorld::ScreenFrame() - firstFrame);
    device.Close();
    return r;
}

// ---- memory --------------------------------------------------------------------------------

long StatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.compare(0, key.size(), key) == 0) return std::atol(line.c_str() + key.size());
    }
    return -1;
}

// Resets the peak resident size to the current one (Linux 4.0 on); false when refused.
bool ResetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return bool(clear);
}

double Mib(double kb) { return kb / 1024.0; }

bool MemoryCheck(const Size& s) {
    const double frameKb = double(s.Pixels()) * 3 / 1024.0;
    // A short run first: the virtual display keeps a background picture and a few bitmaps'
    // memory for the rest of the process once a size has been captured; that is not the device's.
    malloc_trim(0);
    const long cold = StatusKb("VmRSS");
    RunPipeline(s, 0.2);
    malloc_trim(0);
    const bool peakReset = ResetPeak();
    const long start = StatusKb("VmRSS");
    const long startPeak = StatusKb("VmHWM");

    auto* device = new TQZCapture::TQZDesktopDevice;
    Prepare(*device, s);
    device->Open();
    // Fill the queue, then keep capturing (and dropping) for a while.
    const double wall0 = Wall();
    while (device->Packets.Count() < device->Packets.GetTheMaxCount() && Wall() - wall0 < 30) {
        SleepMs(10);
    }
    const double fullAfter = Wall() - wall0;
    SleepMs(1000);
    const unsigned long queued = device->Packets.Count();
    const long peak = StatusKb("VmHWM");
    const long running = StatusKb("VmRSS");
    device->Close();
    malloc_trim(0);
    const long closed = StatusKb("VmRSS");
    delete device;
    malloc_trim(0);
    const long after = StatusKb("VmRSS");

    // Bound: the queue's frames plus 5%, plus four frames of 4 bytes a pixel in flight.
    const double boundKb = 100 * frameKb * 1.05 + 4 * frameKb * 4 / 3;
    const double growth = double(peak - (peakReset ? start : startPeak));
    const bool peakOk = growth <= boundKb;
    const bool backOk = double(after - start) <= frameKb;  // back within one frame
    std::printf("memory %s: platform caches after a first run: %+.1f MiB (not counted below)\n",
                s.Name().c_str(), Mib(start - cold));
    std::printf(
        "memory %s: start=%.1f MiB peak=%.1f MiB (+%.1f MiB, bound +%.1f MiB = 100 frames of "
        "%.2f MiB +5%% +4 frames) %s; queue=%lu full after %.2f s; running=%.1f MiB "
        "after Close=%.1f MiB after delete=%.1f MiB (%+.1f MiB vs start) %s%s\n",
        s.Name().c_str(), Mib(start), Mib(peak), Mib(growth), Mib(boundKb), Mib(frameKb),
        peakOk ? "ok" : "OVER", queued, fullAfter, Mib(running), Mib(closed), Mib(after),
        Mib(after - start), backOk ? "ok" : "NOT BACK",
        peakReset ? "" : " (peak not resettable: process peak so far)");
    return peakOk && backOk;
}

}  // namespace

int main(int argc, char** argv) {
    // The pipeline is measured on the virtual display it shapes.
    if (!VornWorld::ChooseWorld(VornWorld::WorldKind::Virtual)) return 1;
    double seconds = 2;
    int runs = 3;
    bool pipelineOnly = false;
    std::vector<Size> sizes = {{640, 480}, {1920, 1080}};
    for (int i = 1; i < argc; ++i) {
        unsigned w = 0, h = 0;
        if (std::strncmp(argv[i], "--seconds=", 10) == 0) {
            seconds = std::atof(argv[i] + 10);
        } else if (std::strncmp(argv[i], "--runs=", 7) == 0) {
            runs = std::max(1, std::atoi(argv[i] + 7));
        } else if (std::sscanf(argv[i], "--size=%ux%u", &w, &h) == 2 && w > 0 && h > 0 &&
                   w <= unsigned(VornWorld::kMaxScreenSide) &&
                   h <= unsigned(VornWorld::kMaxScreenSide)) {
            sizes = {{w, h}};
        } else if (std::strcmp(argv[i], "--pipeline-only") == 0) {
            pipelineOnly = true;
        } else {
            std::fprintf(stderr, "unknown option %s\n", argv[i]);
            return 2;
        }
    }
    VornWorld::ResetDisplay();
    VornWorld::EchoMessageBoxes(false);

    // Memory first, before the other runs have touched the heap.
    bool memoryOk = true;
    for (const Size& s : sizes) {
        if (pipelineOnly) break;
        VornWorld::SetScreenSize(int(s.width), int(s.height));
        memoryOk = MemoryCheck(s) && memoryOk;
    }

    std::vector<std::string> summary;
    bool ratioOk = true;
    for (const Size& s : sizes) {
        VornWorld::SetScreenSize(int(s.width), int(s.height));
        std::vector<PipelineResult> all;
        for (int run = 0; run < runs; ++run) all.push_back(RunPipeline(s, seconds));
        std::sort(all.begin(), all.end(), [](const PipelineResult& a, const PipelineResult& b) {
            return a.PerFrame() < b.PerFrame();
        });
        const PipelineResult r = all[all.size() / 2];
        std::printf(
            "pipeline %s: %d runs of %.1f s, cpu per frame %.3f (lowest) %.3f (median) "
            "%.3f ms (highest)\n",
            s.Name().c_str(), runs, seconds, all.front().PerFrame() * 1e3, r.PerFrame() * 1e3,
            all.back().PerFrame() * 1e3);
        if (pipelineOnly) {
            std::printf(
                "pipeline %s: %lu frames delivered in %.2f s, cpu %.3f ms per frame, "
                "%.0f page faults per frame\n",
                s.Name().c_str(), r.delivered, r.wall,
                r.delivered ? r.cpu * 1e3 / double(r.delivered) : 0.0,
                r.delivered ? double(r.faults) / double(r.delivered) : 0.0);
            continue;
        }
        const double floor = FloorSeconds(s, Floor::Design);
        const double floorSlot = FloorSeconds(s, Floor::DesignWithSlot);
        const double floorMade = FloorSeconds(s, Floor::Made);
        PrintFloorParts(s);
        if (r.delivered == 0) {
            std::printf("pipeline %s: no frame delivered\n", s.Name().c_str());
            ratioOk = false;
            continue;
        }
        const double perFrame = r.cpu / double(r.delivered);
        const double ratio = perFrame / floor;
        if (s.width == 1920 && s.height == 1080) ratioOk = ratio <= 2.0;
        std::printf(
            "pipeline %s: %.2f s, %lu frames captured, %lu delivered (%lu of wrong size), "
            "cpu %.2f s (%.2f cores busy), %.0f page faults per frame (a frame is %.0f pages); "
            "floor %.3f ms (13 B/px), with slot copy %.3f ms (16 B/px, ratio %.2f), "
            "copies made %.3f ms (7 B/px, ratio %.2f)\n",
            s.Name().c_str(), r.wall, r.produced, r.delivered, r.badSize, r.cpu, r.cpu / r.wall,
            double(r.faults) / double(r.delivered), double(s.Pixels()) * 3 / 4096, floor * 1e3,
            floorSlot * 1e3, perFrame / floorSlot, floorMade * 1e3, perFrame / floorMade);
        char line[256];
        std::snprintf(line, sizeof(line),
                      "summary pipeline %s: fps=%.1f cpu_ms_per_frame=%.3f floor_ms=%.3f "
                      "ratio=%.2f ratio_to_copies_made=%.2f",
                      s.Name().c_str(), r.delivered / r.wall, perFrame * 1e3, floor * 1e3, ratio,
                      perFrame / floorMade);
        summary.push_back(line);
    }
    for (const std::string& line : summary) std::printf("%s\n", line.c_str());
    std::printf("summary targets: ratio at 1920x1080 <= 2.0 %s; memory %s\n",
                ratioOk ? "met" : "NOT met", memoryOk ? "met" : "NOT met");
    return 0;
}
