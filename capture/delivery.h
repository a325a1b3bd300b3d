// SPDX-License-Identifier: MIT
// Sources over the library's device classes, one template per delivery method. The device
// class is the template argument; these templates are the only code that drives devices.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "device_hooks.h"
#include "freshgrab.h"
#include "pushqueue.h"
#include "sources.h"
#include "tqzaudiodevice.h"
#include "tqzpacket.h"
#include "tqzvideodevice.h"

namespace VornCapture {

// Seconds of audio that the platform counted as lost by the audio devices of this process so
// far (0 where the platform does not count).
double AudioLostSeconds();

inline double SecondsNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// ---- The host's side of the device protocol ------------------------------------------------

inline void ApplyRequest(TQZCapture::TQZVideoDevice& device, const CaptureRequest& request) {
    if (request.sizeGiven) {
        device.Width = request.width;
        device.Height = request.height;
    }
    device.FrameRate = request.frameRate;
}

inline void ApplyRequest(TQZCapture::TQZAudioDevice& device, const CaptureRequest& request) {
    device.SampleRate = request.sampleRate;
    device.BitsPerSample = request.bitsPerSample;
    device.Channels = request.channels;
}

inline StreamFormat FormatOf(const TQZCapture::TQZVideoDevice& device) {
    StreamFormat format;
    format.medium = Medium::Video;
    format.width = device.Width;
    format.height = device.Height;
    format.frameRate = device.FrameRate;
    return format;
}

inline StreamFormat FormatOf(const TQZCapture::TQZAudioDevice& device) {
    StreamFormat format;
    format.medium = Medium::Audio;
    format.sampleRate = device.SampleRate;
    format.bitsPerSample = device.BitsPerSample;
    format.channels = device.Channels;
    return format;
}

// The PCM format of an audio media type into `format`; false for anything but plain PCM.
inline bool ReadWaveFormat(const AM_MEDIA_TYPE& type, StreamFormat& format) {
    if (!IsEqualGUID(type.formattype, FORMAT_WaveFormatEx) || type.pbFormat == nullptr ||
        type.cbFormat < 16)
        return false;
    const auto* wave = reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat);
    format.sampleRate = wave->nSamplesPerSec;
    format.bitsPerSample = wave->wBitsPerSample;
    format.channels = wave->nChannels;
    return wave->wFormatTag == WAVE_FORMAT_PCM && wave->nChannels != 0 &&
           wave->wBitsPerSample % 8 == 0 && wave->wBitsPerSample != 0 && wave->nSamplesPerSec != 0;
}

// The media type a device's sample grabber connected with: what the units really come in.
// Audio: the PCM format (sample rate, bits, channels). Video: the frame interval. False when
// the graph does not tell, or tells something other than plain PCM or a video info block.
inline bool ReadConnectedType(ISampleGrabber* grabber, StreamFormat& format) {
    AM_MEDIA_TYPE type{};
    if (grabber == nullptr || FAILED(grabber->GetConnectedMediaType(&type))) return false;
    bool known = false;
    if (format.medium == Medium::Audio) {
        known = ReadWaveFormat(type, format);
    } else if (IsEqualGUID(type.formattype, FORMAT_VideoInfo) && type.pbFormat != nullptr &&
               type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        const auto* video = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
        known = video->AvgTimePerFrame > 0;
        if (known) format.frameInterval = static_cast<uint64_t>(video->AvgTimePerFrame);
    }
    if (type.pbFormat != nullptr) CoTaskMemFree(type.pbFormat);
    if (type.pUnk != nullptr) type.pUnk->Release();
    return known;
}

// Devices with a sample grabber: the connected type. Screen devices: nothing to read, the
// fields say what they capture.
template <class Device>
auto ReadConnected(Device& device, StreamFormat& format, int)
    -> decltype(device.SampleGrabber.Get(), bool()) {
    return ReadConnectedType(device.SampleGrabber.Get(), format);
}
template <class Device>
bool ReadConnected(Device&, StreamFormat&, long) {
    return true;
}

// The hook order, shared with the repository's other hosts.
using VornHooks::CloseDevice;
using VornHooks::OpenDevice;

// ---- What every source does with its device ------------------------------------------------

// Holds the device, a copy of the set's device made with the class's copy-from-pointer
// constructor (as a device set makes its own), and opens and closes it.
template <class Device>
class DeviceSource : public Source {
public:
    template <class Description>
    explicit DeviceSource(const Description* description) : device_(description) {}
    ~DeviceSource() override { Close(); }

    StreamFormat Format() const override { return format_; }
    std::string Name() const override { return device_.Name; }
    void Close() override {
        if (open_) CloseDevice(device_);
        open_ = false;
    }

protected:
    bool OpenDeviceWith(const CaptureRequest& request, void* callback, std::string& error) {
        ApplyRequest(device_, request);
        open_ = OpenDevice(device_, callback);
        if (!open_) {
            CloseDevice(device_);  // releases what a failed Open acquired
            error = "the device did not open";
            return false;
        }
        // A device that refuses the format asked of it keeps the request in its fields and
        // delivers its own: the graph's connected type is the truth.
        format_ = FormatOf(device_);
        if (!ReadConnected(device_, format_, 0) && format_.medium == Medium::Audio) {
            Close();
            error =
                "the device opened, but its graph does not tell the audio format it "
                "connected with, so no WAV header can describe its samples";
            return false;
        }
        return true;
    }

    Device device_;
    bool open_ = false;
    StreamFormat format_;
};

// ---- Queued delivery: the device's worker fills its packet queue ----------------------------

// A screen device whose frames are moved, as they arrive on its worker thread, out of its packet
// queue into a store that keeps the newest kNewest of them: a consumer slow between takes finds
// the newest frames waiting, never more than a few, and every frame pushed out of the store
// uninspected is counted lost. The worker is the packet queue's only consumer (the one the
// queue allows besides its producer); the store hands the taken frame's block back to it, so
// the device writes its next frames into blocks it already has.
template <class Device>
class NewestFramesDevice : public Device {
public:
    static constexpr size_t kNewest = 4;

    explicit NewestFramesDevice(const Device* description) : Device(description) {}

    // The consumer: waits up to `waitMs` for the oldest frame kept and makes it the current
    // one, valid until the next Take; false when none came.
    const TQZCapture::TQZPacket* Take(int waitMs) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!ready_.wait_for(lock, std::chrono::milliseconds(waitMs),
                             [this] { return !kept_.empty(); }))
            return nullptr;
        // The capture begins with the first frame taken: those the device made before it and
        // no longer keeps were never due to anyone.
        if (taken_ == 0) unseenBefore_ = delivered_ - kept_.size();
        if (current_.Size() != 0 && spare_.size() < 2) spare_.push_back(std::move(current_));
        current_ = std::move(kept_.front());
        kept_.pop_front();
        ++taken_;
        return &current_;
    }
    // Frames the device made since the first take that were never taken and are no longer
    // kept.
    uint64_t Lost() const {
        std::lock_guard<std::mutex> lock(mutex_);
        const uint64_t reached = unseenBefore_ + taken_ + kept_.size();
        return delivered_ > reached ? delivered_ - reached : 0;
    }

protected:
    void FrameHandler(double timestamp, unsigned char* data, long length) override {
        Device::FrameHandler(timestamp, data, length);
        if (data == nullptr) return;
        std::lock_guard<std::mutex> lock(mutex_);
        ++delivered_;  // a frame the packet queue refused is counted here too, and never kept
        while (this->Packets.Count() > 0) {
            TQZCapture::TQZPacket* slot = this->Packets.Query();
            if (kept_.size() == kNewest) {
                spare_.push_back(std::move(kept_.front()));
                kept_.pop_front();
            }
            kept_.push_back(std::move(*slot));
            // A block back in the slot: the queue keeps it for the device's next frame.
            if (!spare_.empty()) {
                *slot = std::move(spare_.back());
                spare_.pop_back();
            }
        }
        ready_.notify_one();
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<TQZCapture::TQZPacket> kept_;
    std::vector<TQZCapture::TQZPacket> spare_;  // blocks the consumer is done with
    TQZCapture::TQZPacket current_;             // the frame Take gave last
    uint64_t delivered_ = 0;
    uint64_t taken_ = 0;
    uint64_t unseenBefore_ = 0;  // made before the first take and no longer kept then
};

template <class Device>
class QueuedSource : public DeviceSource<NewestFramesDevice<Device>> {
public:
    using DeviceSource<NewestFramesDevice<Device>>::DeviceSource;

    bool Open(const CaptureRequest& request, std::string& error) override {
        return this->OpenDeviceWith(request, nullptr, error);
    }

    bool Take(const uint8_t*& data, size_t& size, double& seconds, int waitMs) override {
        const TQZCapture::TQZPacket* packet = this->device_.Take(waitMs);
        if (packet == nullptr) return false;
        data = packet->Bytes();
        size = packet->Size();
        seconds = packet->TimeStamp / 1000;
        return true;
    }

    uint64_t Lost() const override { return this->device_.Lost(); }
};

// ---- Pull delivery: each Get grabs one sample on the calling thread ------------------------

template <class Device>
class PullSource : public DeviceSource<Device> {
public:
    using DeviceSource<Device>::DeviceSource;
    // Closed here, before the grab counter goes: after the close the graph calls it no more.
    ~PullSource() override { this->Close(); }

    bool Open(const CaptureRequest& request, std::string& error) override {
        if (!this->OpenDeviceWith(request, nullptr, error)) return false;
        counter_.Attach(this->device_);
        // A pulled device is sampled at the rate asked for, at most at the rate it runs at.
        StreamFormat& format = this->format_;
        if (format.medium == Medium::Video && request.frameRate != 0 &&
            format.DeviceRate() > request.frameRate)
            format.frameInterval = 10000000 / request.frameRate;
        next_ = std::chrono::steady_clock::now();
        return true;
    }

    bool Take(const uint8_t*& data, size_t& size, double& seconds, int waitMs) override {
        auto now = std::chrono::steady_clock::now();
        if (next_ > now) {
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                next_ - now, std::chrono::milliseconds(waitMs)));
            now = std::chrono::steady_clock::now();
            if (next_ > now) return false;
        }
        const uint64_t samplesBefore = counter_.Count();
#ifdef _WIN32
        if (grabbed_) GrabAgain(this->device_);
#endif
        grabbed_ = true;
        TQZCapture::TQZPacket* packet = this->device_.Get();
        const double lost = AudioLostSeconds();
        gap_ = lost - lostSeen_;
        lostSeen_ = lost;
        // A Get that grabbed nothing hands out the slot of the previous Get again; the tool
        // marks every packet it has taken in Extra[0], which belongs to the host. A Get whose
        // grab ended without a sample copies the grabber's kept one again: no sample passed
        // the grabber meanwhile. (A grabber that has never reported a sample to the counter
        // does not report them: its packets are judged by the queue alone.) The pixels are
        // never compared: a still picture is new video.
        const uint64_t samplesAfter = counter_.Count();
        const bool fresh = packet != nullptr && packet->Size() != 0 && packet->Extra[0] == 0 &&
                           (samplesAfter == 0 || samplesAfter != samplesBefore);
        const auto interval = Interval(fresh ? packet->Size() : 0);
        // A late video grab is not made up twice; late audio is caught up (a second at most,
        // as for a device that was away), so a continuous stream is not left behind.
        const auto behind = this->format_.medium == Medium::Audio
                                ? std::chrono::steady_clock::duration(std::chrono::seconds(1))
                                : interval;
        next_ = std::max(next_ + interval, now - behind);
        if (!fresh) {
            ++failed_;
            return false;
        }
        packet->Extra[0] = 1;
        data = packet->Bytes();
        size = packet->Size();
        seconds = SecondsNow();
        return true;
    }

    uint64_t Lost() const override { return failed_; }
    double GapBeforeLast() override { return gap_; }

private:
    // Grabs follow the pace of the medium: one frame per period of the connected rate, and
    // for audio the playing time of what the last grab brought, so that a device that answers
    // at once does not fill seconds of audio in a moment.
    std::chrono::steady_clock::duration Interval(size_t audioBytes) const {
        const StreamFormat& format = this->format_;
        if (format.medium == Medium::Video) {
            const double rate = format.DeviceRate();
            return std::chrono::microseconds(rate > 0 ? static_cast<int64_t>(1e6 / rate) : 0);
        }
        const uint64_t perSecond = format.BytesPerSecond();
        return std::chrono::microseconds(perSecond ? audioBytes * 1000000 / perSecond : 0);
    }

    uint64_t failed_ = 0;
    bool grabbed_ = false;
    GrabCounter counter_;  // registered with the device's grabber while it is open
    std::chrono::steady_clock::time_point next_{};
    double lostSeen_ = AudioLostSeconds();  // the platform's count at the last grab
    double gap_ = 0;
};

// ---- Push delivery: the device calls the tool's callback on its streaming thread ------------

template <class Device, class Catcher>
class PushSource : public DeviceSource<Device> {
public:
    using DeviceSource<Device>::DeviceSource;
    // Closed here, before the queue and the callback go: after the close the device calls
    // the callback no more.
    ~PushSource() override { this->Close(); }

    bool Open(const CaptureRequest& request, std::string& error) override {
        typename Catcher::Interface* callback = &catcher_;
        if (!this->OpenDeviceWith(request, callback, error)) return false;
        // Audio buffers are small and a gap in them is heard: the queue keeps seconds of them
        // for a tool thread that a busy machine holds up.
        const uint64_t audio = this->format_.BytesPerSecond() * kAudioQueueSeconds;
        if (this->format_.medium == Medium::Audio && audio != 0)
            queue_.SetByteBound(static_cast<size_t>(std::min<uint64_t>(audio, kAudioQueueBytes)));
        return true;
    }

    bool Take(const uint8_t*& data, size_t& size, double& seconds, int waitMs) override {
        if (!queue_.Take(unit_, seconds, waitMs)) return false;
        data = unit_.data();
        size = unit_.size();
        gap_ = 0;
        if (this->format_.medium == Medium::Audio) {
            // A buffer that starts later than the one before it ended (by more than a sample
            // frame and a half) follows a gap: the device's or the full queue's.
            const double perSecond = static_cast<double>(this->format_.BytesPerSecond());
            if (stamped_ && seconds - end_ > 1.5 / this->format_.sampleRate) gap_ = seconds - end_;
            stamped_ = true;
            end_ = seconds + (perSecond > 0 ? static_cast<double>(size) / perSecond : 0.0);
        }
        return true;
    }

    uint64_t Lost() const override { return queue_.Dropped(); }
    double GapBeforeLast() override { return gap_; }

protected:
    // The unit is the queue's copy of what the callback was given, the source's own: it goes
    // to the frame as it is, and the queue makes a buffer anew for a later one.
    Keeper LendLastUnit(const uint8_t*& data, size_t) override {
        auto held = std::make_shared<const std::vector<uint8_t>>(std::move(unit_));
        unit_.clear();
        data = held->data();
        return held;
    }

private:
    static constexpr size_t kQueueBound = 32;  // video frames
    static constexpr uint64_t kAudioQueueSeconds = 10;
    static constexpr uint64_t kAudioQueueBytes = uint64_t{64} << 20;
    PushQueue queue_{kQueueBound};
    Catcher catcher_{queue_};
    std::vector<uint8_t> unit_;
    bool stamped_ = false;
    double end_ = 0;  // where the last audio buffer ended, on the device's clock
    double gap_ = 0;
};

}  // namespace VornCapture
