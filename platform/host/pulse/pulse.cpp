// SPDX-License-Identifier: MIT
// The sound server through its asynchronous client API: one main loop and context per
// listing and per stream, every wait bounded by a deadline or ended by an interruption, so a
// missing or stalled server costs at most the time limit.
#include "host/pulse/pulse.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "world/media.h"

namespace VornWorld::host {
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

// A record stream of one source in the connected wave format; the server converts. A reader
// thread of its own runs the stream's loop and moves every fragment the server sends into a
// queue at once, so a streaming thread that is late (a busy machine, a host that grabs one
// sample at a time) costs no audio until the queue holds kQueueSeconds. On a busy machine the
// server itself falls behind and then sends seconds at once, which the queue takes too. What
// does not fit, and a hole in the server's stream, is lost: the samples after it are stamped
// that much later.
class PulseSource final : public MediaSource {
public:
    // The most audio the queue holds for a streaming thread that does not read.
    static constexpr size_t kQueueSeconds = 10;

    // False when the server or the source cannot be reached.
    bool Open(const std::string& source, const WAVEFORMATEX& wave, size_t sampleBytes) {
        pa_sample_spec layout{SampleFormat(wave.wBitsPerSample), wave.nSamplesPerSec,
                              static_cast<uint8_t>(std::min<WORD>(wave.nChannels, 255))};
        pa_channel_map map;
        if (!pa_sample_spec_valid(&layout) || wave.nBlockAlign == 0 || !loop_.Connect() ||
            pa_channel_map_init_extend(&map, layout.channels, PA_CHANNEL_MAP_WAVEEX) == nullptr)
            return false;
        stream_ = pa_stream_new(loop_.Context(), "capture", &layout, &map);
        if (stream_ == nullptr) return false;
        // Fragments of one sample; the server's largest buffer for what the client has not
        // read yet.
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
        if (pa_stream_get_state(stream_) != PA_STREAM_READY) return false;
        block_ = wave.nBlockAlign;
        rate_ = wave.nSamplesPerSec;
        capacity_ = std::max<size_t>(size_t{wave.nAvgBytesPerSec} * kQueueSeconds, 2 * sampleBytes);
        pa_stream_set_read_callback(stream_, &PulseSource::Readable, this);
        ++VornWorld::Counters().threads;
        reader_ = std::thread(&PulseSource::Receive, this);
        return true;
    }

    ~PulseSource() override {
        if (reader_.joinable()) {
            loop_.Interrupt();
            reader_.join();
            --VornWorld::Counters().threads;
        }
        if (stream_ != nullptr) {
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
        }
    }

    void Begin() override {
        std::lock_guard<std::mutex> lock(mutex_);
        interrupted_ = false;
    }

    // The next `bytes` of the queue, stamped with the place of their first byte on the
    // stream's timeline; what is left when the stream broke off (less than a sample) is
    // dropped.
    Result Read(BYTE* buffer, size_t bytes, uint64_t, REFERENCE_TIME* time) override {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [&] { return interrupted_ || ended_ || held_ >= bytes; });
        if (interrupted_) return Result::Interrupted;
        if (held_ < bytes) return Result::Failed;
        if (time != nullptr) {
            const uint64_t frame = (queue_.front().at + queue_.front().taken) / block_;
            *time = static_cast<REFERENCE_TIME>(frame / rate_ * 10000000 +
                                                frame % rate_ * 10000000 / rate_);
        }
        size_t filled = 0;
        while (filled < bytes) {
            Fragment& first = queue_.front();
            size_t take = std::min(bytes - filled, first.bytes.size() - first.taken);
            std::memcpy(buffer + filled, first.bytes.data() + first.taken, take);
            filled += take;
            first.taken += take;
            if (first.taken == first.bytes.size()) queue_.pop_front();
        }
        held_ -= bytes;
        return Result::Filled;
    }

    void Interrupt() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            interrupted_ = true;
        }
        ready_.notify_all();
    }

    bool Continuous() const override { return true; }

private:
    struct Fragment {
        uint64_t at;  // the place of its first byte on the stream's timeline
        std::vector<BYTE> bytes;
        size_t taken = 0;
    };

    // The reader thread: runs the loop until the source goes or the stream breaks.
    void Receive() {
        auto broken = [this] { return !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)); };
        while (!loop_.Run(Clock::now() + std::chrono::hours(1), broken))
            if (loop_.Interrupted() || !loop_.Healthy()) break;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ended_ = true;
        }
        ready_.notify_all();
    }

    static void Readable(pa_stream*, size_t, void* user) {
        static_cast<PulseSource*>(user)->Drain();
    }

    // Reader thread: everything the stream holds, into the queue.
    void Drain() {
        const void* data = nullptr;
        size_t length = 0;
        while (pa_stream_peek(stream_, &data, &length) == 0 && length > 0) {
            Keep(data, length);
            pa_stream_drop(stream_);
        }
    }

    // What fits of a fragment is kept, in whole sample frames; the rest of it, and a hole, is
    // lost time. (The server may send seconds in one fragment.)
    void Keep(const void* data, size_t length) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const size_t room = capacity_ - held_;
            const size_t kept = data == nullptr ? 0 : std::min(length, room) / block_ * block_;
            if (kept > 0) {
                const BYTE* bytes = static_cast<const BYTE*>(data);
                queue_.push_back({timeline_, std::vector<BYTE>(bytes, bytes + kept)});
                held_ += kept;
            }
            timeline_ += length;
        }
        ready_.notify_all();
    }

    PulseLoop loop_;
    pa_stream* stream_ = nullptr;
    size_t block_ = 1;
    uint64_t rate_ = 1;
    size_t capacity_ = 0;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Fragment> queue_;
    size_t held_ = 0;        // bytes in the queue not yet read
    uint64_t timeline_ = 0;  // bytes the server sent or skipped
    bool ended_ = false;
    bool interrupted_ = false;
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

}  // namespace VornWorld::host
