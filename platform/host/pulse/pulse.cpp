// The sound server through its asynchronous client API: one main loop and context per
// listing and per stream, every wait bounded by a deadline or ended by an interruption, so a
// missing or stalled server costs at most the time limit.
#include "host/pulse/pulse.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace VornHost {
namespace {

using Clock = std::chrono::steady_clock;
using VornWorld::MediaSource;

// A main loop with one context; everything is freed with it.
class PulseLoop {
public:
    PulseLoop() : loop_(pa_mainloop_new()) {
        if (loop_ != nullptr)
            context_ = pa_context_new(pa_mainloop_get_api(loop_), "VornMediaCapture");
    }
    ~PulseLoop() {
        if (context_ != nullptr) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
        }
        if (loop_ != nullptr) pa_mainloop_free(loop_);
    }
    PulseLoop(const PulseLoop&) = delete;
    PulseLoop& operator=(const PulseLoop&) = delete;

    pa_context* Context() const { return context_; }

    // Connects to the server the client configuration names, never starting one.
    bool Connect() {
        if (context_ == nullptr ||
            pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return false;
        Run(Clock::now() + kPulseTimeout,
            [this] { return !PA_CONTEXT_IS_GOOD(State()) || State() == PA_CONTEXT_READY; });
        return State() == PA_CONTEXT_READY;
    }

    bool Healthy() const { return !broken_ && PA_CONTEXT_IS_GOOD(State()); }

    // Runs the loop until `done`, the deadline, an interruption or a broken connection; the
    // result of `done` at the end.
    template <class Done>
    bool Run(Clock::time_point deadline, Done done) {
        while (!done()) {
            if (interrupted_ || !Healthy()) return false;
            auto left =
                std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
            if (left.count() <= 0) return false;
            int timeout = static_cast<int>(std::min<int64_t>(left.count(), 1000000));
            if (pa_mainloop_prepare(loop_, timeout) < 0 || pa_mainloop_poll(loop_) < 0 ||
                pa_mainloop_dispatch(loop_) < 0) {
                broken_ = true;
                return false;
            }
        }
        return true;
    }

    // Handles what is due without waiting: sends what the client owes the server.
    void Pump() {
        if (!broken_ && pa_mainloop_iterate(loop_, 0, nullptr) < 0) broken_ = true;
    }

    // Any thread: ends a Run now and every Run until Resume.
    void Interrupt() {
        interrupted_ = true;
        pa_mainloop_wakeup(loop_);
    }
    void Resume() { interrupted_ = false; }
    bool Interrupted() const { return interrupted_; }

private:
    pa_context_state_t State() const { return pa_context_get_state(context_); }

    pa_mainloop* loop_;
    pa_context* context_ = nullptr;
    bool broken_ = false;  // the loop itself failed
    std::atomic<bool> interrupted_{false};
};

// Waits for an operation of the server (and drops it).
bool Finish(PulseLoop& loop, pa_operation* operation) {
    if (operation == nullptr) return false;
    bool done = loop.Run(Clock::now() + kPulseTimeout, [operation] {
        return pa_operation_get_state(operation) != PA_OPERATION_RUNNING;
    });
    pa_operation_unref(operation);
    return done;
}

pa_sample_format_t SampleFormat(WORD bits) {
    switch (bits) {
        case 8:
            return PA_SAMPLE_U8;
        case 16:
            return PA_SAMPLE_S16LE;
        case 24:
            return PA_SAMPLE_S24LE;
        case 32:
            return PA_SAMPLE_S32LE;
        default:
            return PA_SAMPLE_INVALID;
    }
}

// A record stream of one source in the connected wave format; the server converts.
class PulseSource final : public MediaSource {
public:
    // False when the server or the source cannot be reached.
    bool Open(const std::string& source, const WAVEFORMATEX& wave, size_t sampleBytes) {
        pa_sample_spec layout{SampleFormat(wave.wBitsPerSample), wave.nSamplesPerSec,
                              static_cast<uint8_t>(std::min<WORD>(wave.nChannels, 255))};
        pa_channel_map map;
        if (!pa_sample_spec_valid(&layout) || !loop_.Connect() ||
            pa_channel_map_init_extend(&map, layout.channels, PA_CHANNEL_MAP_WAVEEX) == nullptr)
            return false;
        stream_ = pa_stream_new(loop_.Context(), "capture", &layout, &map);
        if (stream_ == nullptr) return false;
        // Fragments of one sample. The server's largest buffer for what the client has not
        // read yet: some sources deliver in bursts of seconds.
        uint32_t fragment = static_cast<uint32_t>(std::min<size_t>(sampleBytes, 1u << 30));
        pa_buffer_attr attributes{};
        attributes.maxlength = static_cast<uint32_t>(-1);
        attributes.tlength = attributes.prebuf = attributes.minreq = static_cast<uint32_t>(-1);
        attributes.fragsize = fragment;
        if (pa_stream_connect_record(stream_, source.c_str(), &attributes,
                                     PA_STREAM_ADJUST_LATENCY) < 0)
            return false;
        loop_.Run(Clock::now() + kPulseTimeout, [this] {
            return !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)) ||
                   pa_stream_get_state(stream_) == PA_STREAM_READY;
        });
        return pa_stream_get_state(stream_) == PA_STREAM_READY;
    }

    ~PulseSource() override {
        if (stream_ != nullptr) {
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
        }
    }

    void Begin() override { loop_.Resume(); }

    Result Read(BYTE* buffer, size_t bytes, uint64_t, REFERENCE_TIME*) override {
        size_t filled = 0;
        while (filled < bytes) {
            size_t take = std::min(bytes - filled, pending_.size() - taken_);
            if (take > 0) std::memcpy(buffer + filled, pending_.data() + taken_, take);
            filled += take;
            taken_ += take;
            if (filled == bytes) break;
            if (!Fetch()) return loop_.Interrupted() ? Result::Interrupted : Result::Failed;
        }
        return Result::Filled;
    }

    void Interrupt() override { loop_.Interrupt(); }

private:
    // Waits for the next fragment and keeps it in `pending_` (a hole in the stream as silence);
    // false when interrupted or the stream broke.
    bool Fetch() {
        const void* data = nullptr;
        size_t length = 0;
        auto arrived = [&] {
            if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) return true;
            return pa_stream_peek(stream_, &data, &length) < 0 || length > 0;
        };
        // The server sends while the stream lives (and the client hands back what it took);
        // the loop ends early on interruption.
        loop_.Pump();
        while (!loop_.Run(Clock::now() + kPulseTimeout, arrived))
            if (loop_.Interrupted() || !loop_.Healthy()) return false;
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)) || length == 0) return false;
        pending_.assign(length, Silence());
        if (data != nullptr) std::memcpy(pending_.data(), data, length);
        taken_ = 0;
        pa_stream_drop(stream_);
        return true;
    }

    BYTE Silence() const {
        return pa_stream_get_sample_spec(stream_)->format == PA_SAMPLE_U8 ? 0x80 : 0;
    }

    PulseLoop loop_;
    pa_stream* stream_ = nullptr;
    std::vector<BYTE> pending_;  // the last fragment, read up to `taken_`
    size_t taken_ = 0;
};

struct SourceEntry {
    uint32_t index;
    bool monitor;
    std::string name;
    std::string description;
    uint8_t channels;
    uint32_t rate;
};

void AddSource(pa_context*, const pa_source_info* info, int eol, void* user) {
    if (eol != 0 || info == nullptr) return;
    auto* list = static_cast<std::vector<SourceEntry>*>(user);
    list->push_back({info->index, info->monitor_of_sink != PA_INVALID_INDEX,
                     info->name == nullptr ? "" : info->name,
                     info->description == nullptr ? "" : info->description,
                     info->sample_spec.channels, info->sample_spec.rate});
}

HostDevice DeviceOf(const SourceEntry& entry) {
    HostDevice device;
    device.key = "pulse:" + entry.name;
    VornWorld::DeviceConfig& config = device.config;
    config.kind = VornWorld::MediaKind::Audio;
    config.friendlyName = WideFromUtf8(entry.description.empty() ? entry.name : entry.description);
    config.clsid = L"{E30629D2-27E5-11CE-875D-00608CB78066}";
    // The source's own channels and rate at 16 bits first; then anything the server converts
    // to, within what a wave format of the platform describes.
    WORD channels = static_cast<WORD>(std::clamp<unsigned>(entry.channels, 1, 16));
    DWORD rate = std::clamp<uint32_t>(entry.rate, 1000, PA_RATE_MAX);
    config.audio = {{channels, 16, rate}, {1, 8, 1000, 16, 32, PA_RATE_MAX}};
    std::string name = entry.name;
    device.open = [name](const VornWorld::StreamFormat& format) -> std::unique_ptr<MediaSource> {
        if (!format.audio) return nullptr;
        auto source = std::make_unique<PulseSource>();
        if (!source->Open(name, format.wave, std::max<size_t>(format.sampleBytes, 1)))
            return nullptr;
        return source;
    };
    return device;
}

}  // namespace

std::vector<HostDevice> ListPulseSources() {
    PulseLoop loop;
    std::vector<SourceEntry> entries;
    if (!loop.Connect() ||
        !Finish(loop, pa_context_get_source_info_list(loop.Context(), AddSource, &entries)))
        return {};
    std::stable_sort(entries.begin(), entries.end(),
                     [](const SourceEntry& a, const SourceEntry& b) {
                         return a.monitor != b.monitor ? b.monitor : a.index < b.index;
                     });
    std::vector<HostDevice> devices;
    for (const SourceEntry& entry : entries) devices.push_back(DeviceOf(entry));
    return devices;
}

}  // namespace VornHost
