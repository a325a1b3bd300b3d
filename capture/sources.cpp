// SPDX-License-Identifier: MIT
#include "sources.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <cstdio>

#include "delivery.h"
#include "image.h"
#include "tqzcameradevice.h"
#include "tqzdesktopdevice.h"
#include "tqzenumdevice.h"
#include "tqzusbaudiodevice.h"
#include "tqzusbvideodevice.h"
#include "tqzvoicedevice.h"
#include "tqzwindowdevice.h"

namespace VornCapture {

namespace {

void NoticeToStandardError(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

std::atomic<NoticeSink> noticeSink{NoticeToStandardError};

void Notice(const std::string& text) { noticeSink.load()(text); }

using TQZCapture::TQZEnumDevice;

template <class Set, Set TQZEnumDevice::*Member>
std::vector<SourceEntry> ListSet(TQZEnumDevice& all) {
    std::vector<SourceEntry> entries;
    for (const auto* device : *(all.*Member).GetList())
        if (device != nullptr) entries.push_back({device->Index, device->Name});
    return entries;
}

// Enumerates the set afresh, looks the device up and wraps a copy of it in `Adapter`.
template <class Set, void (*Enumerate)(Set&), class Adapter>
std::unique_ptr<Source> MakeSource(const Selector& selector, std::string& error) {
    Set set;
    Enumerate(set);
    const auto* device =
        selector.byName ? set.GetByName(selector.name) : set.GetByIndex(selector.index);
    if (device == nullptr) {
        error = "no such source: " + Describe(selector) + " (vmcapture list shows the sources)";
        return nullptr;
    }
    if (selector.byName) {
        // Titles need not be unique: say which of the sources of that name is taken.
        unsigned int sameName = 0;
        for (const auto* other : *set.GetList())
            if (other != nullptr && selector.name == other->Name) ++sameName;
        if (sameName > 1)
            Notice(std::to_string(sameName) + " sources are named '" + selector.name +
                   "'; capturing the first of them, index " + std::to_string(device->Index) +
                   " (pick another by its index)");
    }
    return std::make_unique<Adapter>(device);
}

std::string KnownKinds() {
    std::vector<std::string> kinds;
    for (const SourceKind& row : SourceKinds())
        if (row.make != nullptr && std::find(kinds.begin(), kinds.end(), row.kind) == kinds.end())
            kinds.push_back(row.kind);
    std::string text;
    for (const std::string& kind : kinds) text += (text.empty() ? "" : ", ") + kind;
    return text;
}

}  // namespace

// The buffers a source copies its units into before lending them; a buffer comes back when the
// last frame over it is let go (on any thread, also after the source is gone).
struct LendingBuffers {
    static constexpr size_t kKept = 3;
    std::mutex mutex;
    std::vector<std::vector<uint8_t>> spare;
};

Keeper Source::LendLastUnit(const uint8_t*& data, size_t size) {
    if (!lending_) lending_ = std::make_shared<LendingBuffers>();
    std::vector<uint8_t> buffer;
    {
        std::lock_guard<std::mutex> lock(lending_->mutex);
        if (!lending_->spare.empty()) {
            buffer = std::move(lending_->spare.back());
            lending_->spare.pop_back();
        }
    }
    buffer.resize(size);
    if (size != 0) std::memcpy(buffer.data(), data, size);
    std::weak_ptr<LendingBuffers> home = lending_;
    auto* held = new std::vector<uint8_t>(std::move(buffer));
    data = held->data();
    return Keeper(held, [home](std::vector<uint8_t>* gone) {
        std::unique_ptr<std::vector<uint8_t>> owned(gone);
        if (const auto buffers = home.lock()) {
            std::lock_guard<std::mutex> lock(buffers->mutex);
            if (buffers->spare.size() < LendingBuffers::kKept)
                buffers->spare.push_back(std::move(*owned));
        }
    });
}

bool Source::TakeFrame(VideoFrame& frame, int waitMs) {
    const uint8_t* data = nullptr;
    size_t size = 0;
    double seconds = 0;
    if (!Take(data, size, seconds, waitMs)) return false;
    ++framesTaken_;
    const StreamFormat format = Format();
    ImageView view;
    if (format.medium != Medium::Video ||
        !DeviceFrameView(data, size, format.width, format.height, view))
        return false;
    Keeper keeper = LendLastUnit(data, size);
    frame = LendFrame(PixelFormat::BGR24, format.width, format.height, Orientation::BottomUp,
                      {Plane{data, view.stride, size}}, std::move(keeper));
    // Numbered from 1: frames taken, and those lost on the way, each had a number. A device's
    // count of lost frames may lag its queue by a frame for a moment: a number never repeats.
    lastSequence_ = std::max(lastSequence_ + 1, framesTaken_ + Lost());
    frame.sequence = lastSequence_;
    frame.timeNs = static_cast<int64_t>(seconds * 1e9);
    return true;
}

void SetNoticeSink(NoticeSink sink) { noticeSink = sink != nullptr ? sink : NoticeToStandardError; }

const char* DeliveryName(Delivery delivery) {
    switch (delivery) {
        case Delivery::Push:
            return "push";
        case Delivery::Pull:
            return "pull";
        case Delivery::Queued:
            break;
    }
    return "queued";
}

std::string Describe(const Selector& selector) {
    return selector.byName ? "named '" + selector.name + "'"
                           : "with index " + std::to_string(selector.index);
}

const std::vector<SourceKind>& SourceKinds() {
    using namespace TQZCapture;
    static const std::vector<SourceKind> kinds = {
        {"desktop", Delivery::Queued, "DesktopDevices", Medium::Video,
         &ListSet<TQZDesktopDeviceSet, &TQZEnumDevice::DesktopDevices>,
         &MakeSource<TQZDesktopDeviceSet, &TQZEnumDevice::EnumDesktopDevice,
                     QueuedSource<TQZDesktopDevice>>},
        {"window", Delivery::Queued, "AllWindows", Medium::Video,
         &ListSet<TQZWindowDeviceSet, &TQZEnumDevice::AllWindows>,
         &MakeSource<TQZWindowDeviceSet, &TQZEnumDevice::EnumAllWindowsDevice,
                     QueuedSource<TQZWindowDevice>>},
        // The tool's own windows are among all windows, and are captured from there.
        {"window", Delivery::Queued, "LocalProcessWindows", Medium::Video,
         &ListSet<TQZWindowDeviceSet, &TQZEnumDevice::LocalProcessWindows>, nullptr},
        // Each camera and microphone is listed twice, once per capture method.
        {"camera", Delivery::Push, "VideoDevices", Medium::Video,
         &ListSet<TQZUSBVideoDeviceSet, &TQZEnumDevice::VideoDevices>,
         &MakeSource<TQZUSBVideoDeviceSet, &TQZEnumDevice::EnumVideoDevice,
                     PushSource<TQZUSBVideoDevice, VideoCatcher>>},
        {"camera", Delivery::Pull, "CameraDevices", Medium::Video,
         &ListSet<TQZCameraDeviceSet, &TQZEnumDevice::CameraDevices>,
         &MakeSource<TQZCameraDeviceSet, &TQZEnumDevice::EnumCameraDevice,
                     PullSource<TQZCameraDevice>>},
        {"microphone", Delivery::Push, "AudioDevices", Medium::Audio,
         &ListSet<TQZUSBAudioDeviceSet, &TQZEnumDevice::AudioDevices>,
         &MakeSource<TQZUSBAudioDeviceSet, &TQZEnumDevice::EnumAudioDevice,
                     PushSource<TQZUSBAudioDevice, AudioCatcher>>},
        {"microphone", Delivery::Pull, "VoiceDevices", Medium::Audio,
         &ListSet<TQZVoiceDeviceSet, &TQZEnumDevice::VoiceDevices>,
         &MakeSource<TQZVoiceDeviceSet, &TQZEnumDevice::EnumVoiceDevice,
                     PullSource<TQZVoiceDevice>>},
    };
    return kinds;
}

const SourceKind* FindSourceKind(const std::string& kind, const std::string& delivery,
                                 std::string& error) {
    if (!delivery.empty() && delivery != "push" && delivery != "pull" && delivery != "queued") {
        error = "--via wants push or pull (queued for a desktop or window), not '" + delivery + "'";
        return nullptr;
    }
    bool kindKnown = false;
    for (const SourceKind& row : SourceKinds()) {
        if (kind != row.kind || row.make == nullptr) continue;
        kindKnown = true;
        if (delivery.empty() || delivery == DeliveryName(row.delivery)) return &row;
    }
    if (!kindKnown) {
        error = "unknown source kind '" + kind + "' (known: " + KnownKinds() + ")";
    } else {
        error = "a " + kind + " is captured by " +
                (delivery == "queued" ? std::string("push or pull delivery") : "queued delivery") +
                " only; --via says which for a camera or microphone";
    }
    return nullptr;
}

bool MeasureScreen(ScreenExtent* size) {
    RECT screen{};
    if (!GetWindowRect(GetDesktopWindow(), &screen) || screen.right <= screen.left ||
        screen.bottom <= screen.top)
        return false;
    *size = {static_cast<uint32_t>(screen.right - screen.left),
             static_cast<uint32_t>(screen.bottom - screen.top)};
    return true;
}

ScreenExtent ScreenSize() {
    ScreenExtent size{640, 480};
    MeasureScreen(&size);
    return size;
}

}  // namespace VornCapture
