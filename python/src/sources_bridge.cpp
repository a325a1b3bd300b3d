// SPDX-License-Identifier: MIT
#include "sources_bridge.h"

#include <chrono>

#include "autoworld.h"
#include "formats.h"
#include "image.h"
#include "sources.h"
#include "tqzenumdevice.h"
#ifndef _WIN32
#include "cameramode.h"
#include "camerasource.h"
#include "x11screen.h"
#endif

namespace vornpy {

namespace {

// The row that opens sources of `kind`: for cameras and microphones the first delivery
// (push: the device's thread fills a queue the stream takes from).
const VornCapture::SourceKind* RowOf(const std::string& kind) {
    std::string error;
    return VornCapture::FindSourceKind(kind, "", error);
}

class Stream : public SourceStream {
public:
    Stream(const VornCapture::SourceKind& row, unsigned int index,
           std::unique_ptr<VornCapture::Source> source)
        : row_(row), source_(std::move(source)), format_(source_->Format()) {
        selector_.index = index;
        name_ = source_->Name();
    }
    ~Stream() override { Close(); }

    bool IsVideo() const override { return format_.medium == VornCapture::Medium::Video; }
    std::string Name() const override { return name_; }
    std::uint32_t Width() const override { return format_.width; }
    std::uint32_t Height() const override { return format_.height; }
    double FrameRate() const override { return format_.DeviceRate(); }
    std::uint32_t SampleRate() const override { return format_.sampleRate; }
    std::uint32_t Channels() const override { return format_.channels; }
    std::uint64_t Lost() const override { return source_ ? source_->Lost() + refused_ : 0; }
    // A queued device's frames wait in the capture layer's store of the newest few, a
    // microphone's blocks in its push queue (seconds of them): both are taken when a grab asks.
    // A pushed camera's queue keeps its oldest frames: a thread has to take them as they come.
    Reading HowRead() const override {
        return row_.delivery == VornCapture::Delivery::Queued || !IsVideo() ? Reading::Waited
                                                                            : Reading::Pumped;
    }

    Taken Take(VornCapture::VideoFrame& frame, VornCapture::AudioBlock& block,
               int waitMs) override {
        if (!source_) return Taken::Lost;
        const auto start = std::chrono::steady_clock::now();
        for (;;) {
            const std::uint8_t* data = nullptr;
            std::size_t size = 0;
            double seconds = 0;
            if (source_->Take(data, size, seconds, std::min(waitMs, kSliceMs))) {
                if (Lend(data, size, seconds, frame, block)) return Taken::Unit;
                // A frame of another size than the stream's (a resized window): lost, and its
                // number is left out of the sequence like any other loss.
                --taken_;
                ++refused_;
            } else if (!StillThere()) {
                return Taken::Lost;
            }
            const auto waited = std::chrono::steady_clock::now() - start;
            if (waited >= std::chrono::milliseconds(waitMs)) return Taken::Nothing;
        }
    }

    void Close() override {
        if (source_) source_->Close();
        source_.reset();
    }

private:
    static constexpr int kSliceMs = 250;

    bool Lend(const std::uint8_t* data, std::size_t size, double seconds,
              VornCapture::VideoFrame& frame, VornCapture::AudioBlock& block) {
        const std::int64_t timeNs = static_cast<std::int64_t>(seconds * 1e9);
        const std::uint64_t sequence = ++taken_ + Lost() - 1;
        if (IsVideo()) {
            // Device frames are bottom-up blue-green-red rows, packed or padded to 4 bytes.
            VornCapture::ImageView view;
            if (!VornCapture::DeviceFrameView(data, size, format_.width, format_.height, view))
                return false;
            std::array<VornCapture::Plane, 3> planes{};
            planes[0] = {view.bits, view.stride, view.stride * view.height};
            frame = VornCapture::LendFrame(VornCapture::PixelFormat::BGR24, view.width, view.height,
                                           VornCapture::Orientation::BottomUp, planes, nullptr);
            frame.timeNs = timeNs;
            frame.sequence = sequence;
            return VornCapture::Validate(frame) == VornCapture::FrameError::None;
        }
        if (format_.bitsPerSample != 16 || format_.channels == 0) return false;
        block = VornCapture::AudioBlock{};
        block.format = VornCapture::SampleFormat::S16;
        block.rate = format_.sampleRate;
        block.channels = format_.channels;
        block.frames = static_cast<std::uint32_t>(size / (2u * format_.channels));
        block.timeNs = timeNs;
        block.sequence = sequence;
        block.data = data;
        block.length = size;
        return VornCapture::Validate(block) == VornCapture::FrameError::None;
    }

    // Whether the device is still listed under its index (a camera or microphone: with its
    // name). Screens stay; a closed window, an unplugged camera do not.
    bool StillThere() {
        std::string error;
        const std::unique_ptr<VornCapture::Source> again = row_.make(selector_, error);
        if (!again) return false;
        const std::string kind = row_.kind;
        return kind == "desktop" || kind == "window" || again->Name() == name_;
    }

    const VornCapture::SourceKind& row_;
    VornCapture::Selector selector_;
    std::unique_ptr<VornCapture::Source> source_;
    VornCapture::StreamFormat format_;
    std::string name_;
    std::uint64_t taken_ = 0;
    std::uint64_t refused_ = 0;
};

#ifndef _WIN32
// The host world's X screen, lent as the display connection keeps it (BGRx, top row first),
// read when taken: only the rows that changed since the take before are read from the server,
// and an unchanged screen costs nothing. The desktop device is not opened.
class X11ScreenStream : public SourceStream {
public:
    X11ScreenStream(std::uint32_t width, std::uint32_t height, double rate)
        : width_(width), height_(height), rate_(rate) {}

    bool IsVideo() const override { return true; }
    std::string Name() const override { return "X screen"; }
    std::uint32_t Width() const override { return width_; }
    std::uint32_t Height() const override { return height_; }
    double FrameRate() const override { return rate_; }
    std::uint32_t SampleRate() const override { return 0; }
    std::uint32_t Channels() const override { return 0; }
    std::uint64_t Lost() const override { return 0; }
    Reading HowRead() const override { return Reading::Ticked; }
    std::string NativeFormat() const override { return "BGRx"; }

    // Nothing: the screen cannot be read, or every copy of it is held by earlier frames.
    Taken Take(VornCapture::VideoFrame& frame, VornCapture::AudioBlock&, int) override {
        if (closed_) return Taken::Lost;
        if (!screen_.Take(frame)) return Taken::Nothing;
        --frame.sequence;  // the screen's numbers start at 1, a stream's at 0
        return Taken::Unit;
    }

    void Close() override { closed_ = true; }

private:
    std::uint32_t width_;
    std::uint32_t height_;
    double rate_;
    VornCapture::X11Screen screen_;
    bool closed_ = false;
};

// The whole X screen as lent frames, where the host world's screen is an X display that lends
// them; null otherwise (the desktop device serves it then).
std::unique_ptr<SourceStream> OpenX11Screen(const OpenRequest& request) {
    if (request.sizeGiven || !VornCapture::X11Screen::Usable()) return nullptr;
    VornCapture::X11Screen probe;
    VornCapture::VideoFrame frame;
    if (!probe.Take(frame)) return nullptr;
    const double rate =
        request.frameRate != 0 ? request.frameRate : VornCapture::CaptureRequest{}.frameRate;
    return std::make_unique<X11ScreenStream>(frame.width, frame.height, rate);
}

// The name Python users know a camera's own format by.
std::string NativeName(VornCapture::PixelFormat format) {
    if (format == VornCapture::PixelFormat::BGR24) return "BGR";
    if (format == VornCapture::PixelFormat::RGB24) return "RGB";
    return VornCapture::PixelFormatName(format);
}

// A PipeWire camera read as it is, when taken: each take waits for a frame newer than the last
// one taken and lends it in the camera's own format, numbered by the camera. The camera's
// stream keeps the newest frame only, so frames a slow reader missed are counted lost.
class CameraStream : public SourceStream {
public:
    CameraStream(std::unique_ptr<VornCapture::CameraSource> camera,
                 const VornCapture::CameraMode& mode)
        : camera_(std::move(camera)), mode_(mode) {}
    ~CameraStream() override { Close(); }

    bool IsVideo() const override { return true; }
    std::string Name() const override { return camera_->Name(); }
    std::uint32_t Width() const override { return mode_.width; }
    std::uint32_t Height() const override { return mode_.height; }
    double FrameRate() const override {
        return mode_.rateDenom != 0 ? static_cast<double>(mode_.rateNum) / mode_.rateDenom : 0;
    }
    std::uint32_t SampleRate() const override { return 0; }
    std::uint32_t Channels() const override { return 0; }
    std::uint64_t Lost() const override { return camera_->Lost(); }
    Reading HowRead() const override { return Reading::Waited; }
    std::string NativeFormat() const override { return NativeName(mode_.format); }

    Taken Take(VornCapture::VideoFrame& frame, VornCapture::AudioBlock&, int waitMs) override {
        if (closed_ || camera_->Ended()) return Taken::Lost;
        if (!camera_->Take(frame, waitMs)) return camera_->Ended() ? Taken::Lost : Taken::Nothing;
        --frame.sequence;  // the camera's numbers start at 1, a stream's at 0
        return Taken::Unit;
    }

    void Close() override {
        camera_->Close();
        closed_ = true;
    }

private:
    std::unique_ptr<VornCapture::CameraSource> camera_;
    VornCapture::CameraMode mode_;
    bool closed_ = false;
};

// The mode a camera runs in for `request`, by the capture layer's one rule (size, then rate,
// then the format cheapest to convert from; for a native read, the camera's own order). Null
// when a native read asks a size the camera lacks: its frames are handed unscaled.
const VornCapture::CameraMode* ChooseMode(const std::vector<VornCapture::CameraMode>& modes,
                                          const OpenRequest& request) {
    if (modes.empty()) return nullptr;
    VornCapture::CaptureRequest asked;
    asked.sizeGiven = request.sizeGiven;
    asked.width = request.width;
    asked.height = request.height;
    // No rate asked: the rate of the camera's first mode.
    const auto& first = modes[0];
    asked.frameRate = request.frameRate != 0 ? request.frameRate
                      : first.rateDenom != 0
                          ? (first.rateNum + first.rateDenom - 1) / first.rateDenom
                          : 30;
    static const std::vector<VornCapture::PixelFormat> kOwnOrder;
    const VornCapture::CameraMode* chosen = VornCapture::ChooseCameraMode(
        modes, asked, request.native ? kOwnOrder : VornCapture::kRawFirst);
    if (chosen != nullptr && request.native && request.sizeGiven &&
        (chosen->width != request.width || chosen->height != request.height))
        return nullptr;
    return chosen;
}

std::string ModeText(const VornCapture::CameraMode& mode) {
    return NativeName(mode.format) + " " + std::to_string(mode.width) + "x" +
           std::to_string(mode.height);
}

// Camera `index` read as it is, where it is a PipeWire camera; null otherwise, with the reason
// in `why` (`failed` when it is one but did not open).
std::unique_ptr<SourceStream> OpenCamera(unsigned int index, const OpenRequest& request,
                                         std::string& why, bool& failed) {
    auto camera = std::make_unique<VornCapture::CameraSource>();
    VornCapture::Selector selector;
    selector.index = index;
    if (!camera->Find(selector, why)) return nullptr;
    const VornCapture::CameraMode* chosen = ChooseMode(camera->Modes(), request);
    failed = true;
    if (chosen == nullptr) {
        why = "it has no mode of " + std::to_string(request.width) + "x" +
              std::to_string(request.height) + " in its own format; its modes:";
        for (const VornCapture::CameraMode& mode : camera->Modes()) why += " " + ModeText(mode);
        return nullptr;
    }
    VornCapture::CameraMode mode = *chosen;
    if (mode.rateDenom == 0) {
        mode.rateNum = request.frameRate != 0 ? request.frameRate : 30;
        mode.rateDenom = 1;
    }
    if (!camera->Open(mode, why)) return nullptr;
    failed = false;
    return std::make_unique<CameraStream>(std::move(camera), mode);
}
#endif

}  // namespace

const std::vector<std::string>& SourceKindNames() {
    static const std::vector<std::string> names = {"desktop", "window", "camera", "microphone"};
    return names;
}

bool UseWorld(const std::string& world, std::string& error) {
    std::string used, why;
    return VornCapture::PutWorldInForce(world == "auto" ? "" : world, used, why, error);
}

std::string WorldName() {
    const std::string text = VornCapture::WorldInForce();  // "the host world (...)"
    return text.rfind("the host", 0) == 0 ? "host" : "virtual";
}

std::string NoDisplay() { return VornCapture::NoDisplay(); }

std::vector<SourceInfo> ListSources(const std::string& kind) {
    std::vector<SourceInfo> found;
    TQZCapture::TQZEnumDevice all;
    for (const std::string& name : SourceKindNames()) {
        if (!kind.empty() && kind != name) continue;
        const VornCapture::SourceKind* row = RowOf(name);
        if (row == nullptr) continue;
        const bool screen = name == "desktop";
        for (const VornCapture::SourceEntry& entry : row->list(all)) {
            SourceInfo info{name, entry.index, entry.name, {}};
            if (screen) {
                VornCapture::ScreenExtent size{};
                if (VornCapture::MeasureScreen(&size))
                    info.modes.push_back(std::to_string(size.width) + "x" +
                                         std::to_string(size.height));
            } else {
                info.modes = VornCapture::DeviceFormats(*row, entry.index);
            }
            found.push_back(std::move(info));
        }
    }
    return found;
}

std::unique_ptr<SourceStream> OpenSource(const std::string& kind, unsigned int index,
                                         const OpenRequest& request, std::string& error) {
    const VornCapture::SourceKind* row = VornCapture::FindSourceKind(kind, "", error);
    if (row == nullptr) return nullptr;
#ifndef _WIN32
    if (kind == "desktop" && index == 0)
        if (auto screen = OpenX11Screen(request)) return screen;
    std::string why = "it is read through the library's device, in 24-bit rows";
    if (kind == "camera") {
        bool failed = false;
        if (auto camera = OpenCamera(index, request, why, failed)) return camera;
        if (failed) {
            error = why;
            return nullptr;
        }
    }
#else
    const std::string why = "it is read through the library's device, in 24-bit rows";
#endif
    if (request.native) {
        error = "its own format is not lent: " + why;
        return nullptr;
    }
    VornCapture::Selector selector;
    selector.index = index;
    std::unique_ptr<VornCapture::Source> source = row->make(selector, error);
    if (!source) return nullptr;
    VornCapture::CaptureRequest asked;
    asked.sizeGiven = request.sizeGiven;
    asked.width = request.width;
    asked.height = request.height;
    if (kind == "desktop" && !request.sizeGiven) {
        // The whole screen, by default.
        VornCapture::ScreenExtent screen{};
        if (!VornCapture::MeasureScreen(&screen)) {
            error =
                "the screen delivered nothing, so its size is unknown (in a Wayland "
                "session: the screen cast did not start)";
            return nullptr;
        }
        asked.sizeGiven = true;
        asked.width = screen.width;
        asked.height = screen.height;
    }
    if (request.frameRate != 0) asked.frameRate = request.frameRate;
    asked.sampleRate = request.sampleRate;
    asked.channels = request.channels;
    asked.bitsPerSample = 16;
    if (!source->Open(asked, error)) return nullptr;
    const VornCapture::StreamFormat format = source->Format();
    if (format.medium == VornCapture::Medium::Audio && format.bitsPerSample != 16) {
        error = "the microphone delivers " +
                VornCapture::AudioText(format.sampleRate, format.bitsPerSample, format.channels) +
                "; 16 bits are read";
        return nullptr;
    }
    if (format.medium == VornCapture::Medium::Video &&
        VornCapture::ShapeOf(VornCapture::PixelFormat::BGR24, format.width, format.height).error !=
            VornCapture::FrameError::None) {
        error = "the source delivers no usable frame size (" + std::to_string(format.width) + "x" +
                std::to_string(format.height) + ")";
        return nullptr;
    }
    return std::make_unique<Stream>(*row, index, std::move(source));
}

}  // namespace vornpy
