// SPDX-License-Identifier: MIT
// The virtual media world: the capture devices the control API shapes, and their sources,
// which paint a moving test picture or a sine tone at the pace of a clock.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <mutex>

#include "world/media.h"
#include "virtual/media_clock.h"
#include "world/media_pixels.h"

namespace VornWorld {
namespace {

bool IsVideoSubtype(const GUID& subtype) {
    return subtype == MEDIASUBTYPE_I420 || subtype == MEDIASUBTYPE_IYUV ||
           subtype == MEDIASUBTYPE_YV12 || subtype == MEDIASUBTYPE_YUY2 ||
           subtype == MEDIASUBTYPE_RGB24 || subtype == MEDIASUBTYPE_RGB32;
}

bool ValidVideo(const VideoCapability& cap) {
    auto inSize = [](LONG v) { return v >= 1 && v <= 16384; };
    LONG maxWidth = cap.maxWidth == 0 ? cap.width : cap.maxWidth;
    LONG maxHeight = cap.maxHeight == 0 ? cap.height : cap.maxHeight;
    return IsVideoSubtype(cap.subtype) && inSize(cap.width) && inSize(cap.height) &&
           inSize(maxWidth) && inSize(maxHeight) && maxWidth >= cap.width &&
           maxHeight >= cap.height && cap.granularityX >= 1 && cap.granularityY >= 1 &&
           cap.minFrameRate >= 1.0 && cap.maxFrameRate <= 1000.0 &&
           cap.minFrameRate <= cap.maxFrameRate;
}

bool ValidAudio(const AudioCapability& cap) {
    auto bits = [](unsigned b) { return b == 8 || b == 16 || b == 24 || b == 32; };
    auto channels = [](unsigned c) { return c >= 1 && c <= 16; };
    auto rate = [](unsigned long r) { return r >= 1000 && r <= 384000; };
    AudioCapability most = WidestOf(cap);
    return bits(cap.bitsPerSample) && bits(most.bitsPerSample) && channels(cap.channels) &&
           channels(most.channels) && rate(cap.sampleRate) && rate(most.sampleRate) &&
           most.bitsPerSample >= cap.bitsPerSample && most.channels >= cap.channels &&
           most.sampleRate >= cap.sampleRate;
}

bool Valid(const DeviceConfig& config) {
    bool crossbarTypes = std::all_of(config.crossbarInputs.begin(), config.crossbarInputs.end(),
                                     [](LONG t) { return t >= 0; }) &&
                         std::all_of(config.crossbarOutputs.begin(), config.crossbarOutputs.end(),
                                     [](LONG t) { return t >= 0; });
    return std::all_of(config.video.begin(), config.video.end(), ValidVideo) &&
           std::all_of(config.audio.begin(), config.audio.end(), ValidAudio) && crossbarTypes &&
           config.toneFrequency > 0.0 && config.toneFrequency < 100000.0 &&
           config.reportedCapsSize >= 0;
}

// The sample a microphone at `rate` has reached at a time of the clock, and back: when the
// clock reaches a sample (rounded up to 100 ns).
uint64_t SampleAt(REFERENCE_TIME time, uint64_t rate) {
    const uint64_t t = static_cast<uint64_t>(std::max<REFERENCE_TIME>(time, 0));
    return t / 10000000 * rate + t % 10000000 * rate / 10000000;
}
REFERENCE_TIME TimeOfSample(uint64_t sample, uint64_t rate) {
    rate = std::max<uint64_t>(rate, 1);
    return static_cast<REFERENCE_TIME>(sample / rate * 10000000 +
                                       (sample % rate * 10000000 + rate - 1) / rate);
}

// The devices keep running whoever looks at them: their pictures and tones follow one clock,
// not the graphs that read them. A run starts at the frame or sample the clock has reached.
// A microphone holds what it captured for a second, like a device's buffer: a run that starts
// within that second of where the device's last buffer ended goes on from there, so a reader
// that builds a graph per buffer still gets continuous sound.
class DeviceClock {
public:
    static uint64_t FirstFrame(REFERENCE_TIME period) {
        return static_cast<uint64_t>(std::max<REFERENCE_TIME>(ReadMediaClock().now, 0) /
                                     std::max<REFERENCE_TIME>(period, 1));
    }

    static uint64_t FirstSample(DeviceId device, DWORD rate) {
        const MediaTime time = ReadMediaClock();
        const uint64_t reached = SampleAt(time.now, rate);
        std::lock_guard<std::mutex> lock(Mutex());
        const auto last = Ends().find(device);
        if (last != Ends().end() && last->second.epoch == time.epoch && last->second.rate == rate &&
            last->second.sample + rate >= reached && last->second.sample <= reached + rate)
            return last->second.sample;
        return reached;
    }

    static void EndedAt(DeviceId device, DWORD rate, uint64_t sample) {
        const uint64_t epoch = ReadMediaClock().epoch;
        std::lock_guard<std::mutex> lock(Mutex());
        Ends()[device] = {epoch, rate, sample};
    }

private:
    struct End {
        uint64_t epoch;  // the clock's timeline the sample is on
        DWORD rate;
        uint64_t sample;
    };
    // Never destroyed: a streaming thread may still be ending while the program exits.
    static std::mutex& Mutex() {
        static auto* mutex = new std::mutex;
        return *mutex;
    }
    static std::map<DeviceId, End>& Ends() {
        static auto* ends = new std::map<DeviceId, End>;
        return *ends;
    }
};

// One sample per period from the start of each run: the test picture or the tone, from where
// the device's clock has got to.
class VirtualSource final : public MediaSource {
public:
    VirtualSource(DeviceId device, const DeviceConfig& config, const StreamFormat& format)
        : device_(device),
          delivers_(config.delivers),
          tone_(config.toneFrequency),
          format_(format) {}

    void Begin() override {
        std::lock_guard<std::mutex> lock(mutex_);
        interrupted_ = false;
        const MediaTime time = ReadMediaClock();
        begin_ = time.now;
        epoch_ = time.epoch;
        sent_ = 0;
        if (!format_.audio) {
            first_ = DeviceClock::FirstFrame(Period(format_.sampleBytes));
        } else if (!begun_) {
            next_ = origin_ = DeviceClock::FirstSample(device_, format_.wave.nSamplesPerSec);
        } else if (timeline_ != time.epoch) {
            Rebase(time);
        } else {
            // Running again after a pause or a one-shot grab: the device kept capturing and
            // holds its last second, so what it captured before that is lost, and the stamps
            // say so.
            const uint64_t rate = format_.wave.nSamplesPerSec;
            const uint64_t reached = DeviceClock::FirstSample(device_, rate);
            if (reached > next_ + rate) next_ = reached - rate;
        }
        begun_ = true;
        timeline_ = time.epoch;
    }

    Result Read(BYTE* buffer, size_t bytes, uint64_t position, REFERENCE_TIME* time) override {
        auto stopped = [this] { return interrupted_.load(); };
        if (!delivers_) {
            AwaitMediaTime([](const MediaTime&) { return kNeverDue; }, stopped);
            return Result::Interrupted;
        }
        const REFERENCE_TIME period = Period(bytes);
        REFERENCE_TIME begin;
        uint64_t epoch;
        REFERENCE_TIME sent;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            begin = begin_;
            epoch = epoch_;
            sent = static_cast<REFERENCE_TIME>(sent_);
        }
        // Free: due a period after the one before, the first at once. Driven: due when the
        // clock has passed the sample's whole span; a microphone's buffer on the device's own
        // timeline, as it holds what it captured while nobody read. When the clock was set
        // since the run began, the run goes on from the clock's new time.
        auto due = [&](const MediaTime& time) {
            if (time.epoch != epoch) {
                begin = time.now - period * sent;
                epoch = time.epoch;
            }
            if (format_.audio && time.epoch != timeline_) Rebase(time);
            if (time.driven && format_.audio)
                return TimeOfSample(next_ + BlocksIn(bytes), format_.wave.nSamplesPerSec);
            return begin + period * (sent + (time.driven ? 1 : 0));
        };
        if (!AwaitMediaTime(due, stopped)) return Result::Interrupted;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            begin_ = begin;
            epoch_ = epoch;
            ++sent_;
        }
        if (format_.audio) {
            const uint64_t rate = format_.wave.nSamplesPerSec;
            PaintTone(format_.wave, tone_, next_, buffer, bytes);
            *time = static_cast<REFERENCE_TIME>((next_ - origin_) * 10000000 / rate);
            next_ += BlocksIn(bytes);
            DeviceClock::EndedAt(device_, static_cast<DWORD>(rate), next_);
        } else {
            PaintTestFrame(format_.subtype, format_.width, format_.height, first_ + position,
                           buffer, scratch_);
        }
        return Result::Filled;
    }

    void Interrupt() override {
        interrupted_ = true;
        WakeMediaWaiters();
    }

    // A microphone goes on capturing between one-shot runs, as a real one does.
    bool Continuous() const override { return format_.audio; }

private:
    uint64_t BlocksIn(size_t bytes) const {
        return format_.wave.nBlockAlign == 0 ? 0 : bytes / format_.wave.nBlockAlign;
    }
    // Audio: the clock was set, so the device's timeline starts again where the clock is now;
    // the stamps go on without a gap (nothing was lost, the time was changed).
    void Rebase(const MediaTime& time) {
        const uint64_t reached = SampleAt(time.now, format_.wave.nSamplesPerSec);
        origin_ = reached - (next_ - origin_);  // modulo 2^64, as the stamps are differences
        next_ = reached;
        timeline_ = time.epoch;
    }

    REFERENCE_TIME Period(size_t bytes) const {
        if (format_.audio) {
            return static_cast<REFERENCE_TIME>(bytes * 10000000 / format_.wave.nAvgBytesPerSec);
        }
        return std::max<REFERENCE_TIME>(format_.interval, 1);
    }

    const DeviceId device_;
    const bool delivers_;
    const double tone_;
    const StreamFormat format_;
    std::vector<BYTE> scratch_;  // streaming thread only
    std::atomic<bool> interrupted_{false};
    std::mutex mutex_;          // the run's place on the clock, below
    REFERENCE_TIME begin_ = 0;  // the clock's time when the run began
    uint64_t epoch_ = 0;        // the clock's timeline begin_ is on
    uint64_t sent_ = 0;
    uint64_t first_ = 0;  // video: the clock's frame when the run began
    // Audio: the clock's sample of the first buffer and of the next one, kept from run to run.
    bool begun_ = false;
    uint64_t origin_ = 0;
    uint64_t next_ = 0;
    uint64_t timeline_ = 0;  // the clock's timeline next_ is on
};

class VirtualMedia final : public MediaWorld {
public:
    std::vector<DeviceHandle> DevicesOf(MediaKind kind) override {
        auto lock = Lock();
        const auto& list = CategoryOf(kind);
        return std::vector<DeviceHandle>(list.begin(), list.end());
    }

    bool Reset() override {
        std::lock_guard<std::mutex> lock(mutex_);
        PopulateLocked();
        return true;
    }

    DeviceId Add(const DeviceConfig& config, int position) override {
        if (!Valid(config)) return kNoDevice;
        auto lock = Lock();
        return AddLocked(config, position);
    }

    DeviceId AddWithSource(const DeviceConfig& config, SourceOpener open, int position) override {
        if (!open) return kNoDevice;
        auto lock = Lock();
        return AddLocked(config, position, std::move(open));
    }

    bool Remove(DeviceId id) override {
        auto lock = Lock();
        for (auto* list : {&video_, &audio_}) {
            auto it = Find(*list, id);
            if (it == list->end()) continue;
            list->erase(it);
            return true;
        }
        return false;
    }

    bool Move(DeviceId id, int position) override {
        auto lock = Lock();
        for (auto* list : {&video_, &audio_}) {
            auto it = Find(*list, id);
            if (it == list->end()) continue;
            auto device = *it;
            list->erase(it);
            list->insert(list->begin() + Clamp(position, *list), device);
            return true;
        }
        return false;
    }

    bool RemoveAll(MediaKind kind) override {
        auto lock = Lock();
        CategoryOf(kind).clear();
        return true;
    }

private:
    using List = std::vector<DeviceHandle>;

    static List::iterator Find(List& list, DeviceId id) {
        return std::find_if(list.begin(), list.end(), [&](const auto& d) { return d->id == id; });
    }
    // A position in a list; out of range (or -1): the end.
    static std::ptrdiff_t Clamp(int position, const List& list) {
        return position < 0 || static_cast<size_t>(position) > list.size()
                   ? static_cast<std::ptrdiff_t>(list.size())
                   : position;
    }

    List& CategoryOf(MediaKind kind) { return kind == MediaKind::Video ? video_ : audio_; }

    DeviceId AddLocked(const DeviceConfig& config, int position, SourceOpener open = nullptr) {
        auto device = std::make_shared<DeviceState>();
        device->id = NewDeviceId();
        device->config = config;
        const DeviceId id = device->id;
        device->open =
            open ? std::move(open)
                 : [id, config](const StreamFormat& format) -> std::unique_ptr<MediaSource> {
            return std::make_unique<VirtualSource>(id, config, format);
        };
        List& list = CategoryOf(config.kind);
        list.insert(list.begin() + Clamp(position, list), device);
        return device->id;
    }

    void PopulateLocked() {
        video_.clear();
        audio_.clear();
        ResetRecords();
        AddLocked(DefaultCamera(), -1);
        AddLocked(DefaultMicrophone(), -1);
        populated_ = true;
    }

    // Locks the world, filling it with the default devices on first use.
    std::unique_lock<std::mutex> Lock() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!populated_) PopulateLocked();
        return lock;
    }

    std::mutex mutex_;
    List video_;  // enumeration order
    List audio_;
    bool populated_ = false;
};

}  // namespace

LONG MaxWidth(const VideoCapability& cap) { return cap.maxWidth == 0 ? cap.width : cap.maxWidth; }
LONG MaxHeight(const VideoCapability& cap) {
    return cap.maxHeight == 0 ? cap.height : cap.maxHeight;
}
REFERENCE_TIME ShortestInterval(const VideoCapability& cap) {
    return static_cast<REFERENCE_TIME>(std::floor(10000000 / cap.maxFrameRate));
}
REFERENCE_TIME LongestInterval(const VideoCapability& cap) {
    return static_cast<REFERENCE_TIME>(std::ceil(10000000 / cap.minFrameRate));
}

int FittingCapability(const std::vector<VideoCapability>& caps, const GUID& subtype, LONG width,
                      LONG height, REFERENCE_TIME interval) {
    for (size_t i = 0; i < caps.size(); ++i) {
        const VideoCapability& cap = caps[i];
        if (!IsEqualGUID(cap.subtype, subtype) || width < cap.width || width > MaxWidth(cap) ||
            height < cap.height || height > MaxHeight(cap) ||
            (width - cap.width) % cap.granularityX != 0 ||
            (height - cap.height) % cap.granularityY != 0)
            continue;
        if (interval != 0 && (interval < ShortestInterval(cap) || interval > LongestInterval(cap)))
            continue;
        return static_cast<int>(i);
    }
    return -1;
}

AudioCapability WidestOf(const AudioCapability& cap) {
    AudioCapability most = cap;
    if (cap.maxChannels != 0) most.channels = cap.maxChannels;
    if (cap.maxBitsPerSample != 0) most.bitsPerSample = cap.maxBitsPerSample;
    if (cap.maxSampleRate != 0) most.sampleRate = cap.maxSampleRate;
    return most;
}

MediaWorld& VirtualMediaWorld() {
    static VirtualMedia world;
    return world;
}

DeviceConfig DefaultCamera() {
    DeviceConfig config;
    config.kind = MediaKind::Video;
    config.friendlyName = L"Vorn Virtual Camera";
    config.devicePath = L"\\\\?\\vorn#virtual-camera#0";
    for (const GUID* subtype : {&MEDIASUBTYPE_YUY2, &MEDIASUBTYPE_I420, &MEDIASUBTYPE_RGB24}) {
        config.video.push_back({*subtype, 640, 480});
        config.video.push_back({*subtype, 320, 240});
        config.video.push_back({*subtype, 1280, 720});
    }
    config.video.push_back({MEDIASUBTYPE_RGB32, 640, 480});
    return config;
}

DeviceConfig DefaultMicrophone() {
    DeviceConfig config;
    config.kind = MediaKind::Audio;
    config.friendlyName = L"Vorn Virtual Microphone";
    config.clsid = L"{E30629D2-27E5-11CE-875D-00608CB78066}";
    config.audio = {{2, 16, 44100}, {1, 16, 44100}, {2, 16, 48000}, {2, 16, 22050},
                    {1, 16, 16000}, {1, 8, 8000},   {2, 8, 44100}};
    return config;
}

}  // namespace VornWorld
