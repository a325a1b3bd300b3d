// SPDX-License-Identifier: MIT
// The media part of the soak: open/close cycles of the four media-graph device classes, one
// device at a time, with a platform call made to fail at a random step of most cycles. After
// every cycle the media resources must be back where the cycle found them.
#include <algorithm>
#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <type_traits>

#include "device_hooks.h"
#include "soak.h"
#include "tqzenumdevice.h"
#include "tqzpacket.h"

namespace soak {
namespace {

using namespace TQZCapture;

unsigned Between(Rng& rng, unsigned low, unsigned high) { return low + rng() % (high - low + 1); }

// Counts what a push device delivers, and what it delivers after Close has returned.
struct Delivery {
    std::atomic<unsigned long> frames{0};
    std::atomic<unsigned long> late{0};
    std::atomic<unsigned long> empty{0};
    std::atomic<bool> closed{false};

    void Take(const unsigned char* data, long length) {
        if (closed.load()) ++late;
        if (data == nullptr || length <= 0) {
            ++empty;
            return;
        }
        volatile unsigned char sink = data[0];
        sink = data[length - 1];
        (void)sink;
        ++frames;
    }
};

class VideoSink : public ICaptureVideoCallBack, public Delivery {
public:
    void OnVideoStart() override {}
    void OnVideoStop() override {}
    void OnVideoPause(bool) override {}
    void OnVideoError(unsigned int) override {}
    void OnVideoFrame(double, unsigned char* data, long length) override { Take(data, length); }
};

class AudioSink : public ICaptureAudioCallBack, public Delivery {
public:
    void OnAudioStart() override {}
    void OnAudioStop() override {}
    void OnAudioError(unsigned int) override {}
    void OnAudioFrame(double, unsigned char* data, long length) override { Take(data, length); }
};

// The callback a device class takes (the pull devices ignore it).
template <class Device>
using SinkFor = typename std::conditional<std::is_base_of<TQZAudioDevice, Device>::value, AudioSink,
                                          VideoSink>::type;

void Enumerate(TQZUSBVideoDeviceSet& set) { TQZEnumDevice::EnumVideoDevice(set); }
void Enumerate(TQZUSBAudioDeviceSet& set) { TQZEnumDevice::EnumAudioDevice(set); }
void Enumerate(TQZCameraDeviceSet& set) { TQZEnumDevice::EnumCameraDevice(set); }
void Enumerate(TQZVoiceDeviceSet& set) { TQZEnumDevice::EnumVoiceDevice(set); }

struct CallNames {
    explicit CallNames(const std::string& cls)
        : enumerate(cls + " enumeration"),
          open(cls + "::Open"),
          get(cls + "::Get"),
          query(cls + "::Query"),
          pause(cls + "::Pause"),
          close(cls + "::Close"),
          destroy(cls + " destruction") {}
    std::string enumerate, open, get, query, pause, close, destroy;
};

struct CycleResult {
    bool listed = false;  // the enumeration listed a device
    bool opened = false;
};

// One host's use of a device: enumerate, take a listed device (or, when none is listed, one
// made directly for position 0), the open hooks and Open, a few Get, Query and Pause calls,
// the close hooks and Close, destruction. `clean`: a fixed, short session.
template <class Device>
CycleResult MediaCycle(Run& run, CallSlot& slot, Rng& rng, const CallNames& n, bool clean) {
    CycleResult result;
    SinkFor<Device> sink;  // outlives the device
    TQZDeviceSet<Device> set;
    run.calls.Time(slot, n.enumerate.c_str(), [&] {
        Enumerate(set);
        return true;
    });
    std::unique_ptr<Device> own;
    Device* device = nullptr;
    const unsigned long listed = set.Count();
    result.listed = listed > 0;
    if (listed > 0) {
        auto it = set.GetList()->begin();
        std::advance(it, rng() % listed);
        device = *it;
    } else {
        own.reset(new Device());
        device = own.get();
    }
    // The hooks after Open follow a failed Open too: a host may call them, the device must cope.
    result.opened = VornHooks::OpenDevice(
        *device, &sink, [&](auto open) { return run.calls.Time(slot, n.open.c_str(), open); },
        VornHooks::AfterFailedOpen::Call);
    unsigned long pulled = 0;
    const unsigned steps = clean ? 2 : Between(rng, 0, 4);
    for (unsigned i = 0; i < steps; ++i) {
        const unsigned r = clean ? 5 + i : rng() % 10;
        if (r < 2) {
            run.calls.Time(slot, n.pause.c_str(), [&] { return device->Pause(); });
            continue;
        }
        TQZPacket* packet =
            r < 6 ? run.calls.Time(slot, n.get.c_str(), [&] { return device->Get(); })
                  : run.calls.Time(slot, n.query.c_str(), [&] { return device->Query(); });
        if (packet != nullptr && packet->Size() > 0) {
            const unsigned char* bytes = packet->Bytes();
            if (bytes == nullptr) {
                run.tally.Fail("packet", n.get + ": a packet of " + std::to_string(packet->Size()) +
                                             " bytes has none");
            } else {
                volatile unsigned char touch = bytes[0];
                touch = bytes[packet->Size() - 1];
                (void)touch;
                ++pulled;
            }
        }
        SleepMs(static_cast<int>(Between(rng, 2, 30)));  // push devices deliver meanwhile
    }
    VornHooks::CloseDevice(
        *device, [&](auto close) { return run.calls.Time(slot, n.close.c_str(), close); });
    sink.closed = true;
    run.calls.Time(slot, n.destroy.c_str(), [&] {
        own.reset();
        set.Free();
        return true;
    });
    if (sink.late > 0) {
        run.tally.Fail("late frame", n.open + ": " + std::to_string(sink.late.load()) +
                                         " frames reached the host after Close");
    }
    run.tally.Add("media frames delivered or pulled", sink.frames + pulled);
    if (sink.empty > 0) run.tally.Add("media empty deliveries", sink.empty);
    return result;
}

struct MediaClass {
    std::string name;
    CycleResult (*cycle)(Run&, CallSlot&, Rng&, const CallNames&, bool);
    CallNames calls;
    // The platform calls a clean cycle made, with how often each was made.
    std::vector<std::pair<std::string, unsigned long>> steps;
};

template <class Device>
MediaClass Entry(const char* name) {
    return MediaClass{name, &MediaCycle<Device>, CallNames(name), {}};
}

std::vector<MediaClass>& Classes() {
    static std::vector<MediaClass> classes = {
        Entry<TQZUSBVideoDevice>("TQZUSBVideoDevice"),
        Entry<TQZUSBAudioDevice>("TQZUSBAudioDevice"),
        Entry<TQZCameraDevice>("TQZCameraDevice"),
        Entry<TQZVoiceDevice>("TQZVoiceDevice"),
    };
    return classes;
}

std::string Describe(const std::vector<std::pair<std::string, long>>& before,
                     const std::vector<std::pair<std::string, long>>& after) {
    std::string text;
    for (size_t i = 0; i < before.size() && i < after.size(); ++i) {
        if (before[i] == after[i]) continue;
        text += " " + before[i].first + " " + std::to_string(before[i].second) + " -> " +
                std::to_string(after[i].second) + ";";
    }
    return text;
}

// One cycle of a class, with `fault` (may be empty) armed, and the checks that follow it.
void CheckedCycle(Run& run, CallSlot& slot, Rng& rng, MediaClass& cls, bool clean,
                  const std::string& fault, unsigned skip, unsigned times) {
    const auto before = world::MediaResources();
    world::ClearFaults();
    if (!fault.empty()) world::FailCall(fault, skip, times);
    const CycleResult result = cls.cycle(run, slot, rng, cls.calls, clean);
    const bool injected = !fault.empty() && world::FailedCount(fault) > 0;
    if (clean) {
        for (const std::string& name : world::FaultNames()) {
            const unsigned long calls = world::CallCount(name);
            if (calls > 0) cls.steps.emplace_back(name, calls);
        }
    }
    world::ClearFaults();
    const auto after = world::MediaResources();

    run.tally.Add(cls.name + " cycles");
    run.tally.Add(kMediaCycles);
    run.tally.Add(cls.name + (result.opened ? " opened" : " open failed"));
    run.tally.Add("message boxes (failure reports)", world::TakeMessageBoxes());
    if (fault.empty() && result.listed && !result.opened) {
        run.tally.Fail("open", cls.name + " did not open a listed device without a fault");
    }
    const std::string context =
        fault.empty()
            ? std::string(" without a fault")
            : " with " + fault + " failing (skip " + std::to_string(skip) + ", " +
                  (times == world::kAlways ? std::string("always") : std::to_string(times)) + ")";
    if (after != before) {
        run.tally.Fail("media resources",
                       cls.name + " cycle" + context + ":" + Describe(before, after));
    } else if (injected) {
        run.tally.Add("faults injected and survived");
    }
    if (!fault.empty()) run.tally.Add(injected ? "faults injected" : "faults armed, not reached");
}

}  // namespace

void MediaSetup(Run& run) {
    world::PrepareMediaThread();
    CallSlot& slot = run.calls.NewSlot("media set-up");
    Rng rng(run.options.seed);
    for (MediaClass& cls : Classes()) CheckedCycle(run, slot, rng, cls, true, "", 0, 0);
    world::FinishMediaThread();
}

void MediaHost(Run& run) {
    world::PrepareMediaThread();
    CallSlot& slot = run.calls.NewSlot("media host");
    Rng rng(run.options.seed * 31337u + 7u);
    std::set<std::string> reached;
    while (!run.Over()) {
        MediaClass& cls = Classes()[rng() % Classes().size()];
        std::string fault;
        unsigned skip = 0, times = 0;
        if (!cls.steps.empty() && rng() % 5 != 0) {
            const auto& step = cls.steps[rng() % cls.steps.size()];
            fault = step.first;
            skip = static_cast<unsigned>(rng() % std::max(1ul, step.second));
            const unsigned r = rng() % 100;
            times = r < 75 ? 1 : r < 92 ? Between(rng, 2, 5) : world::kAlways;
        }
        CheckedCycle(run, slot, rng, cls, false, fault, skip, times);
        if (!fault.empty()) reached.insert(fault);
    }
    run.tally.Add("fault points used (distinct calls)", reached.size());
    world::FinishMediaThread();
}

}  // namespace soak
