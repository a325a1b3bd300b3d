// Sources over the library's device classes, one template per delivery method. The device
// class is the template argument; these templates are the only code that drives devices.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "sources.h"
#include "tqzaudiodevice.h"
#include "tqzpacket.h"
#include "tqzvideodevice.h"

namespace vmcapture {

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

// Some device classes add the hooks OnOpenAfter and OnCloseAfter; call them where they exist.
template <class Device>
auto CallOpenAfter(Device& device, int) -> decltype(device.OnOpenAfter()) {
    device.OnOpenAfter();
}
template <class Device>
void CallOpenAfter(Device&, long) {}
template <class Device>
auto CallCloseAfter(Device& device, int) -> decltype(device.OnCloseAfter()) {
    device.OnCloseAfter();
}
template <class Device>
void CallCloseAfter(Device&, long) {}

// OnOpenBefore(callback), Open, OnOpenAFter (and OnOpenAfter).
template <class Device>
bool OpenDevice(Device& device, void* callback) {
    device.OnOpenBefore(callback);
    if (!device.Open()) return false;
    device.OnOpenAFter();
    CallOpenAfter(device, 0);
    return true;
}

// OnCloseBefore, Close, OnCloseAFter (and OnCloseAfter): after it, no callback arrives.
template <class Device>
void CloseDevice(Device& device) {
    device.OnCloseBefore();
    device.Close();
    device.OnCloseAFter();
    CallCloseAfter(device, 0);
}

// ---- Queued delivery: the device's worker fills its packet queue ----------------------------

template <class Device>
class QueuedSource : public Source {
public:
    // The device is a copy of `description` made with the class's copy-from-pointer
    // constructor, as a device set makes its own.
    explicit QueuedSource(const Device* description) : device_(description) {}
    ~QueuedSource() override { Close(); }

    bool Open(const CaptureRequest& request, std::string& error) override {
        ApplyRequest(device_, request);
        open_ = OpenDevice(device_, nullptr);
        if (!open_) {
            CloseDevice(device_);
            error = "the device did not open";
        }
        return open_;
    }
    StreamFormat Format() const override { return FormatOf(device_); }
    std::string Name() const override { return device_.Name; }

    bool Take(const uint8_t*& data, size_t& size, int waitMs) override {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (device_.Packets.Count() == 0) {
            if (std::chrono::steady_clock::now() >= end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        // Oldest first; Count() said the queue holds one, so this is not a stale slot.
        const TQZCapture::TQZPacket* packet = device_.Query();
        ++taken_;
        data = packet->Bytes();
        size = packet->Size();
        return true;
    }

    uint64_t Lost() const override {
        const uint64_t reached = taken_ + device_.Packets.Count();
        const uint64_t delivered = device_.delivered;
        return delivered > reached ? delivered - reached : 0;
    }

    void Close() override {
        if (open_) CloseDevice(device_);
        open_ = false;
    }

private:
    // Counts every frame the device hands to its queue, so that frames the full queue
    // refused can be told apart.
    class CountingDevice : public Device {
    public:
        explicit CountingDevice(const Device* description) : Device(description) {}
        std::atomic<uint64_t> delivered{0};

    protected:
        // Counted once the frame is queued, so a frame on its way never looks lost.
        void FrameHandler(double timestamp, unsigned char* data, long length) override {
            Device::FrameHandler(timestamp, data, length);
            if (data != nullptr) ++delivered;
        }
    };

    CountingDevice device_;
    uint64_t taken_ = 0;
    bool open_ = false;
};

}  // namespace vmcapture
