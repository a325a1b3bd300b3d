// SPDX-License-Identifier: MIT
// The native part of the vorncapture package: sources, streams, frames and audio blocks as
// Python objects. Frames are converted once, straight into memory that the returned NumPy array
// owns, or, where the source lends them in the format asked (the X screen's BGRx copies), handed
// as a read-only view that keeps the loan; every wait happens with the interpreter's lock
// released.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "convert.h"
#include "sources_bridge.h"

namespace py = pybind11;

namespace vornpy {

void AddTestingModule(py::module_& parent);

namespace {

// ---- Memory a NumPy array owns --------------------------------------------------------------

// A buffer handed to NumPy: freed when the last array viewing it goes.
struct Buffer {
    std::uint8_t* data = nullptr;
    std::size_t size = 0;

    explicit Buffer(std::size_t bytes)
        : data(static_cast<std::uint8_t*>(std::malloc(bytes == 0 ? 1 : bytes))), size(bytes) {}
    Buffer(Buffer&& other) noexcept : data(std::exchange(other.data, nullptr)), size(other.size) {}
    Buffer& operator=(Buffer&& other) noexcept {
        std::swap(data, other.data);
        std::swap(size, other.size);
        return *this;
    }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() { std::free(data); }

    // An array of `shape` over the buffer, which it then owns. The interpreter's lock is held.
    py::array Hand(const py::dtype& type, std::vector<py::ssize_t> shape) {
        std::uint8_t* bytes = std::exchange(data, nullptr);
        py::capsule owner(bytes, [](void* p) { std::free(p); });
        return py::array(type, std::move(shape), {}, bytes, owner);
    }
};

// ---- What a stream delivers -----------------------------------------------------------------

enum class OutFormat { BGR, RGB, BGRA, BGRx, I420, Native, Int16, Float32 };

bool FourBytes(OutFormat format) { return format == OutFormat::BGRA || format == OutFormat::BGRx; }

const char* OutName(OutFormat format) {
    switch (format) {
        case OutFormat::BGR:
            return "BGR";
        case OutFormat::RGB:
            return "RGB";
        case OutFormat::BGRA:
            return "BGRA";
        case OutFormat::BGRx:
            return "BGRx";
        case OutFormat::I420:
            return "I420";
        case OutFormat::Native:
            return "native";
        case OutFormat::Int16:
            return "int16";
        case OutFormat::Float32:
            break;
    }
    return "float32";
}

struct Frame {
    py::array array;
    py::object planes;  // a lent frame's planes, as views of the source's memory
    double time = 0;
    std::uint64_t sequence = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    OutFormat format = OutFormat::BGR;
    std::string formatName;

    // I420: views of the three planes inside the one array (Y, then U, then V).
    py::tuple Planes() const {
        if (planes) return planes;
        if (format != OutFormat::I420) return py::make_tuple(array);
        const py::ssize_t w = width, h = height;
        auto* base = static_cast<std::uint8_t*>(const_cast<void*>(array.data()));
        auto view = [&](std::size_t offset, py::ssize_t rows, py::ssize_t columns) {
            return py::array(py::dtype::of<std::uint8_t>(), std::vector<py::ssize_t>{rows, columns},
                             std::vector<py::ssize_t>{columns, 1}, base + offset, array);
        };
        const std::size_t luma = static_cast<std::size_t>(w * h);
        const std::size_t chroma = luma / 4;
        return py::make_tuple(view(0, h, w), view(luma, h / 2, w / 2),
                              view(luma + chroma, h / 2, w / 2));
    }
};

struct Block {
    py::array array;
    double time = 0;
    std::uint64_t sequence = 0;
    std::uint32_t rate = 0;
    std::uint32_t channels = 0;
};

// A unit taken and converted without the interpreter's lock, handed to Python with it.
struct Taken {
    Buffer buffer{0};
    VornCapture::VideoFrame lent;  // a lent frame handed as it is (its keeper set), else unused
    bool video = true;
    double time = 0;
    std::uint64_t sequence = 0;
    std::uint32_t frames = 0;  // audio: samples per channel
    std::chrono::steady_clock::time_point arrived{};
};

class SourceLostError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// ---- The Source objects sources() returns ---------------------------------------------------

struct Source {
    std::string kind;
    unsigned int index = 0;
    std::string name;
    std::vector<std::string> modes;

    std::string Repr() const {
        std::string text =
            "Source(kind='" + kind + "', index=" + std::to_string(index) + ", name='" + name + "'";
        return text + ", modes=" + std::to_string(modes.size()) + ")";
    }
};

std::string Allowed(const std::vector<std::string>& values) {
    std::string text;
    for (const std::string& value : values) text += (text.empty() ? "" : ", ") + value;
    return text;
}

void CheckKind(const std::string& kind) {
    const auto& kinds = SourceKindNames();
    if (std::find(kinds.begin(), kinds.end(), kind) == kinds.end())
        throw py::value_error("kind must be one of " + Allowed(kinds) + " (or None), not '" + kind +
                              "'");
}

void CheckWorld(const std::string& world) {
    if (world != "auto" && world != "host" && world != "virtual")
        throw py::value_error("world must be 'auto', 'host' or 'virtual', not '" + world + "'");
    std::string error;
    if (!UseWorld(world, error)) throw std::runtime_error(error);
}

std::vector<Source> Sources(const std::optional<std::string>& kind, const std::string& world) {
    if (kind) CheckKind(*kind);
    CheckWorld(world);
    std::vector<SourceInfo> found;
    {
        py::gil_scoped_release unlocked;
        found = ListSources(kind.value_or(""));
    }
    std::vector<Source> sources;
    for (SourceInfo& info : found)
        sources.push_back({info.kind, info.index, std::move(info.name), std::move(info.modes)});
    return sources;
}

// ---- Streams --------------------------------------------------------------------------------

class Stream {
public:
    Stream(Source source, std::unique_ptr<SourceStream> opened, OutFormat format,
           std::uint32_t width, std::uint32_t height, bool scaled)
        : source_(std::move(source)),
          stream_(std::move(opened)),
          format_(format),
          video_(stream_->IsVideo()),
          width_(width),
          height_(height),
          rate_(stream_->SampleRate()),
          channels_(stream_->Channels()),
          fps_(stream_->FrameRate()),
          scaled_(scaled),
          reading_(stream_->HowRead()),
          direct_(reading_ != SourceStream::Reading::Pumped),
          formatName_(format == OutFormat::Native ? stream_->NativeFormat() : OutName(format)),
          period_(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
              std::chrono::duration<double>(fps_ > 0 ? 1.0 / fps_ : 0.0))) {
        if (!direct_) pump_ = std::thread([this] { Pump(); });
    }

    ~Stream() { CloseUnlocked(); }

    // The next frame or block, waiting up to `timeout` seconds (None: for ever). Raises
    // SourceLost when the source went away, TimeoutError when nothing came in time, ValueError
    // when the stream is closed.
    py::object Grab(std::optional<double> timeout) {
        if (timeout && !(*timeout >= 0))
            throw py::value_error("timeout must be a number of seconds >= 0, or None");
        using Clock = std::chrono::steady_clock;
        const auto end = timeout && *timeout < 1e9
                             ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                  std::chrono::duration<double>(*timeout))
                             : Clock::time_point::max();
        for (;;) {
            std::optional<Taken> taken;
            bool lost = false, refused = false;
            {
                py::gil_scoped_release unlocked;
                const auto slice =
                    std::min(end, Clock::now() + std::chrono::milliseconds(kSliceMs));
                taken = direct_ ? ReadWithin(slice, lost, refused) : TakeWithin(slice, lost);
            }
            if (taken) return Wrap(*taken);
            if (closing_) throw py::value_error("the stream is closed");
            if (lost)
                throw SourceLostError(source_.kind + " " + std::to_string(source_.index) + " ('" +
                                      source_.name + "') is gone");
            if (refused)
                throw std::runtime_error(
                    "the screen cannot be read now: it cannot be read at all, or every copy of "
                    "it is still held by earlier " +
                    formatName_ +
                    " frames (keep frame.array.copy() instead of the frame, or let some go)");
            // Between slices of the wait: Ctrl-C and other signals are handled here.
            if (PyErr_CheckSignals() != 0) throw py::error_already_set();
            if (Clock::now() >= end) {
                PyErr_SetString(PyExc_TimeoutError, "no frame or block came within the timeout");
                throw py::error_already_set();
            }
        }
    }

    // Iteration: grab() until the stream is closed (then it ends).
    py::object Next() {
        if (closing_) throw py::stop_iteration();
        try {
            return Grab(std::nullopt);
        } catch (const py::value_error&) {
            if (closing_) throw py::stop_iteration();
            throw;
        }
    }

    // Safe twice, and from any thread: a grab under way ends within a fraction of a second.
    void Close() {
        py::gil_scoped_release unlocked;
        CloseUnlocked();
    }

    bool Closed() const { return closing_; }
    const Source& Of() const { return source_; }
    std::uint64_t Lost() {
        std::lock_guard<std::mutex> hold(lock_);
        return sourceLost_ + dropped_;
    }
    bool IsVideo() const { return video_; }
    std::uint32_t Width() const { return width_; }
    std::uint32_t Height() const { return height_; }
    double Fps() const { return fps_; }
    std::uint32_t Rate() const { return rate_; }
    std::uint32_t Channels() const { return channels_; }
    const std::string& FormatName() const { return formatName_; }

    std::string Repr() const {
        std::string text =
            "<vorncapture.Stream " + source_.kind + " " + std::to_string(source_.index) + " ";
        if (video_)
            text += std::to_string(width_) + "x" + std::to_string(height_);
        else
            text += std::to_string(rate_) + " Hz x" + std::to_string(channels_);
        return text + " " + formatName_ + (closing_ ? " closed>" : ">");
    }

private:
    static constexpr int kSliceMs = 100;  // how soon a grab notices a signal
    static constexpr std::size_t kReadyFrames = 4;
    static constexpr std::chrono::milliseconds kStale{200};

    // The stream's own thread, for a source whose frames pile up oldest first (a camera the
    // library's device pushes): takes every frame the source delivers and converts it into
    // memory an array will own. Up to kReadyFrames frames wait for the reader. While that many
    // wait and the oldest is younger than kStale, a new frame is passed over unconverted (a
    // reader that falls behind costs no conversions); else the oldest makes way for it, so that
    // what waits is never much older than kStale. Frames passed over or made way for are
    // counted, and their numbers are missing from the sequence.
    void Pump() {
        using Clock = std::chrono::steady_clock;
        while (!closing_) {
            VornCapture::VideoFrame frame;
            VornCapture::AudioBlock unused;
            const vornpy::Taken result = stream_->Take(frame, unused, 50);
            bool wanted = result == vornpy::Taken::Unit;
            if (wanted) {
                std::lock_guard<std::mutex> hold(lock_);
                wanted =
                    ready_.size() < kReadyFrames || Clock::now() - ready_.front().arrived >= kStale;
            }
            std::optional<Taken> made;
            if (wanted) made = Convert(frame);
            std::lock_guard<std::mutex> hold(lock_);
            sourceLost_ = stream_->Lost();
            if (result == vornpy::Taken::Lost) {
                gone_ = true;
                ready_cv_.notify_all();
                return;
            }
            if (!made) {
                if (result == vornpy::Taken::Unit) ++dropped_;  // passed over, or unconvertible
                continue;
            }
            made->arrived = Clock::now();
            ready_.push_back(std::move(*made));
            while (ready_.size() > kReadyFrames) {
                ready_.pop_front();
                ++dropped_;
            }
            ready_cv_.notify_all();
        }
    }

    void CloseUnlocked() {
        {
            std::lock_guard<std::mutex> hold(lock_);  // a read under way (direct) ends first
            closing_ = true;
            ready_cv_.notify_all();
        }
        std::lock_guard<std::mutex> once(closeLock_);
        if (pump_.joinable()) pump_.join();
        if (!stream_) return;
        stream_->Close();
        stream_.reset();
        std::lock_guard<std::mutex> hold(lock_);
        ready_.clear();
    }

    // The oldest unit waiting, if one is there before `end`; `lost` when none will come.
    std::optional<Taken> TakeWithin(std::chrono::steady_clock::time_point end, bool& lost) {
        std::unique_lock<std::mutex> hold(lock_);
        ready_cv_.wait_until(hold, end, [this] { return closing_ || gone_ || !ready_.empty(); });
        if (closing_ || ready_.empty()) {
            lost = gone_ && !closing_;
            return std::nullopt;
        }
        Taken taken = std::move(ready_.front());
        ready_.pop_front();
        return taken;
    }

    // A source read when taken, if a frame comes before `end`: the screen at the next tick of
    // the stream's rate (at once when the reader is late), a camera's next frame as it comes.
    // `refused` when the screen had no frame through `end`. The frame is converted, or handed
    // as it is lent, without the lock.
    std::optional<Taken> ReadWithin(std::chrono::steady_clock::time_point end, bool& lost,
                                    bool& refused) {
        VornCapture::VideoFrame frame;
        VornCapture::AudioBlock block;
        std::unique_lock<std::mutex> hold(lock_);
        const bool read = reading_ == SourceStream::Reading::Ticked
                              ? ReadTicked(hold, end, frame, lost, refused)
                              : ReadWaited(end, frame, block, lost);
        if (!read) return std::nullopt;
        sourceLost_ = stream_->Lost();
        // A unit without a keeper is the source's until its next take: made into the array's
        // memory before another grab takes one.
        if (!video_) return Copy(block);
        if (frame.keeper) hold.unlock();
        const bool asIs = format_ == OutFormat::Native ||
                          (format_ == OutFormat::BGRx &&
                           frame.format == VornCapture::PixelFormat::BGRx && !scaled_);
        if (asIs && frame.keeper && frame.width == width_ && frame.height == height_ &&
            Packed(frame)) {
            Taken taken;
            taken.time = static_cast<double>(frame.timeNs) / 1e9;
            taken.sequence = frame.sequence;
            taken.lent = std::move(frame);
            return taken;
        }
        std::optional<Taken> made;
        if (format_ != OutFormat::Native) made = Convert(frame);
        if (!made) {
            if (!hold.owns_lock()) hold.lock();
            ++dropped_;  // a frame that does not convert
        }
        return made;
    }

    // Whether a lent frame can be handed as it is: I420 and NV12 planes one after another, rows
    // unpadded, as one array of NumPy's layout for them; else they are packed here, in one copy
    // (false when that copy cannot be had).
    static bool Packed(VornCapture::VideoFrame& frame) {
        using F = VornCapture::PixelFormat;
        if (frame.format != F::I420 && frame.format != F::NV12) return true;
        const VornCapture::Shape shape =
            VornCapture::ShapeOf(frame.format, frame.width, frame.height);
        bool packed = shape.error == VornCapture::FrameError::None;
        const std::uint8_t* next = frame.planes[0].data;
        for (int p = 0; packed && p < shape.planes; ++p) {
            packed =
                frame.planes[p].data == next && frame.planes[p].stride == shape.plane[p].rowBytes;
            next += std::size_t{shape.plane[p].rowBytes} * shape.plane[p].rows;
        }
        if (packed) return true;
        VornCapture::OwnedFrame copy = VornCapture::OwningCopy(frame);
        if (copy.error != VornCapture::FrameError::None) return false;
        frame = std::move(copy.frame);
        return true;
    }

    // The screen at the next tick, read under `hold`.
    bool ReadTicked(std::unique_lock<std::mutex>& hold, std::chrono::steady_clock::time_point end,
                    VornCapture::VideoFrame& frame, bool& lost, bool& refused) {
        using Clock = std::chrono::steady_clock;
        const auto now = Clock::now();
        if (due_ + period_ < now) due_ = now;  // late: the schedule starts again from now
        if (ready_cv_.wait_until(hold, std::min(end, due_), [this] { return closing_.load(); }))
            return false;
        if (Clock::now() < due_) return false;  // the slice ended first
        for (;;) {
            VornCapture::AudioBlock unused;
            const vornpy::Taken result = stream_->Take(frame, unused, 0);
            if (result == vornpy::Taken::Unit) break;
            if (result == vornpy::Taken::Lost) {
                lost = true;
                return false;
            }
            // Every copy held: another thread may let one go.
            if (ready_cv_.wait_for(hold, std::chrono::milliseconds(2),
                                   [this] { return closing_.load(); }))
                return false;
            if (Clock::now() >= end) {
                refused = true;
                return false;
            }
        }
        due_ += period_;
        return true;
    }

    // The source's next frame, if it comes before `end` (the lock held: a close waits for it).
    bool ReadWaited(std::chrono::steady_clock::time_point end, VornCapture::VideoFrame& frame,
                    VornCapture::AudioBlock& block, bool& lost) {
        if (closing_) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        const vornpy::Taken result =
            stream_->Take(frame, block, static_cast<int>(std::max<std::int64_t>(0, left.count())));
        lost = result == vornpy::Taken::Lost;
        return result == vornpy::Taken::Unit;
    }

    std::optional<Taken> Convert(const VornCapture::VideoFrame& frame) {
        const bool planar = format_ == OutFormat::I420;
        const VornCapture::PixelFormat target = planar ? VornCapture::PixelFormat::I420
                                                : FourBytes(format_)
                                                    ? VornCapture::PixelFormat::BGRx
                                                    : VornCapture::PixelFormat::BGR24;
        const VornCapture::Shape shape = VornCapture::ShapeOf(target, width_, height_);
        if (shape.error != VornCapture::FrameError::None) return std::nullopt;
        std::size_t total = 0;
        for (int p = 0; p < shape.planes; ++p)
            total += std::size_t{shape.plane[p].rowBytes} * shape.plane[p].rows;
        Taken taken;
        taken.buffer = Buffer(total);
        if (taken.buffer.data == nullptr) return std::nullopt;
        VornCapture::FrameTarget out;
        out.format = target;
        out.width = width_;
        out.height = height_;
        std::size_t offset = 0;
        for (int p = 0; p < shape.planes; ++p) {
            const std::size_t bytes = std::size_t{shape.plane[p].rowBytes} * shape.plane[p].rows;
            out.planes[p] = {taken.buffer.data + offset, shape.plane[p].rowBytes, bytes};
            offset += bytes;
        }
        // RGB: a packed source read with red and blue swapped and written blue-first comes out
        // red-first, in the conversion's one pass; from YUV the two are swapped after it.
        VornCapture::VideoFrame source = frame;
        bool swapped = false;
        if (format_ == OutFormat::RGB) {
            using F = VornCapture::PixelFormat;
            const std::pair<F, F> swaps[] = {
                {F::BGR24, F::RGB24}, {F::RGB24, F::BGR24}, {F::BGRx, F::RGBx}, {F::RGBx, F::BGRx}};
            for (const auto& swap : swaps)
                if (!swapped && source.format == swap.first) {
                    source.format = swap.second;
                    swapped = true;
                }
        }
        if (planar && !scaled_) CropToEven(source);
        if (VornCapture::Convert(source, out) != VornCapture::ConvertError::None)
            return std::nullopt;
        if (format_ == OutFormat::RGB && !swapped)
            for (std::size_t i = 0; i + 2 < total; i += 3)
                std::swap(taken.buffer.data[i], taken.buffer.data[i + 2]);
        // A four-byte source's fourth byte is padding (the X server's, 0 on Xvfb): BGRA says
        // opaque, as it does converted from every other format.
        if (format_ == OutFormat::BGRA && (frame.format == VornCapture::PixelFormat::BGRx ||
                                           frame.format == VornCapture::PixelFormat::RGBx)) {
            for (std::size_t i = 3; i < total; i += 4) taken.buffer.data[i] = 0xFF;
        }
        taken.time = static_cast<double>(frame.timeNs) / 1e9;
        taken.sequence = frame.sequence;
        return taken;
    }

    // I420 of an odd picture: the right column and the bottom row are left out, not scaled.
    void CropToEven(VornCapture::VideoFrame& frame) const {
        if (frame.height > height_ && frame.orientation == VornCapture::Orientation::BottomUp) {
            const std::size_t skip = frame.planes[0].stride * (frame.height - height_);
            frame.planes[0].data += skip;
            frame.planes[0].length -= skip;
        }
        frame.width = std::min(frame.width, width_);
        frame.height = std::min(frame.height, height_);
    }

    std::optional<Taken> Copy(const VornCapture::AudioBlock& block) {
        Taken taken;
        taken.video = false;
        taken.frames = block.frames;
        const std::size_t samples = std::size_t{block.frames} * block.channels;
        const auto* in = reinterpret_cast<const std::int16_t*>(block.data);
        if (format_ == OutFormat::Int16) {
            taken.buffer = Buffer(samples * 2);
            if (taken.buffer.data == nullptr) return std::nullopt;
            std::memcpy(taken.buffer.data, block.data, samples * 2);
        } else {
            taken.buffer = Buffer(samples * 4);
            if (taken.buffer.data == nullptr) return std::nullopt;
            auto* out = reinterpret_cast<float*>(taken.buffer.data);
            for (std::size_t i = 0; i < samples; ++i) {
                std::int16_t sample;
                std::memcpy(&sample, in + i, sizeof sample);
                out[i] = static_cast<float>(sample) / 32768.0f;
            }
        }
        taken.time = static_cast<double>(block.timeNs) / 1e9;
        taken.sequence = block.sequence;
        return taken;
    }

    py::object Wrap(Taken& taken) {
        if (taken.video) {
            Frame frame;
            frame.time = taken.time;
            frame.sequence = taken.sequence;
            frame.width = width_;
            frame.height = height_;
            frame.format = format_;
            frame.formatName = formatName_;
            const py::ssize_t h = height_, w = width_;
            if (taken.lent.keeper)
                View(taken.lent, frame);
            else if (format_ == OutFormat::I420)
                frame.array = taken.buffer.Hand(py::dtype::of<std::uint8_t>(), {h + h / 2, w});
            else
                frame.array = taken.buffer.Hand(py::dtype::of<std::uint8_t>(),
                                                {h, w, FourBytes(format_) ? 4 : 3});
            return py::cast(std::move(frame));
        }
        Block block;
        block.time = taken.time;
        block.sequence = taken.sequence;
        block.rate = rate_;
        block.channels = channels_;
        const py::dtype type =
            format_ == OutFormat::Int16 ? py::dtype::of<std::int16_t>() : py::dtype::of<float>();
        block.array = taken.buffer.Hand(
            type, {static_cast<py::ssize_t>(taken.frames), static_cast<py::ssize_t>(channels_)});
        return py::cast(std::move(block));
    }

    // Read-only arrays over a lent frame's memory, top row first, each row where the frame has
    // it: `array` in the layout its format has in NumPy (BGRx (h, w, 4), BGR (h, w, 3), YUY2
    // (h, w, 2), I420 and NV12 (h * 3 / 2, w), Motion-JPEG its bytes) and `planes` the views of
    // each plane. The arrays keep the frame's loan, so the source never writes those bytes while
    // one lives. I420 and NV12 planes must lie one after another, rows unpadded (Packed).
    static void View(const VornCapture::VideoFrame& frame, Frame& out) {
        using F = VornCapture::PixelFormat;
        const VornCapture::Shape shape =
            VornCapture::ShapeOf(frame.format, frame.width, frame.height);
        auto* loan = new VornCapture::Keeper(frame.keeper);
        py::capsule owner(loan, [](void* p) { delete static_cast<VornCapture::Keeper*>(p); });
        auto view = [](const std::uint8_t* data, std::vector<py::ssize_t> shape,
                       std::vector<py::ssize_t> strides, py::handle base) {
            py::array array(py::dtype::of<std::uint8_t>(), std::move(shape), std::move(strides),
                            data, base);
            py::detail::array_proxy(array.ptr())->flags &=
                ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
            return array;
        };
        const py::ssize_t h = frame.height, w = frame.width;
        const auto stride = [&](int p) { return static_cast<py::ssize_t>(frame.planes[p].stride); };
        const auto* first = frame.planes[0].data;
        switch (frame.format) {
            case F::MJPEG:
                out.array =
                    view(first, {static_cast<py::ssize_t>(frame.planes[0].length)}, {1}, owner);
                break;
            case F::BGRx:
            case F::RGBx:
                out.array = view(first, {h, w, 4}, {stride(0), 4, 1}, owner);
                break;
            case F::BGR24:
            case F::RGB24:
                out.array = view(first, {h, w, 3}, {stride(0), 3, 1}, owner);
                break;
            case F::YUY2:
                out.array = view(first, {h, w, 2}, {stride(0), 2, 1}, owner);
                break;
            case F::I420:
            case F::NV12: {
                // One array (h * 3 / 2, w) where the sides are even, else the planes' bytes.
                py::ssize_t total = 0;
                for (int p = 0; p < shape.planes; ++p)
                    total += py::ssize_t{shape.plane[p].rowBytes} * shape.plane[p].rows;
                out.array = w % 2 == 0 && h % 2 == 0 ? view(first, {h + h / 2, w}, {w, 1}, owner)
                                                     : view(first, {total}, {1}, owner);
                const py::ssize_t ch = shape.plane[1].rows, cw = (w + 1) / 2;
                py::handle base = out.array;
                py::array y = view(first, {h, w}, {stride(0), 1}, base);
                if (frame.format == F::NV12)
                    out.planes = py::make_tuple(
                        y, view(frame.planes[1].data, {ch, cw, 2}, {stride(1), 2, 1}, base));
                else
                    out.planes = py::make_tuple(
                        y, view(frame.planes[1].data, {ch, cw}, {stride(1), 1}, base),
                        view(frame.planes[2].data, {ch, cw}, {stride(2), 1}, base));
                return;
            }
        }
        out.planes = py::make_tuple(out.array);
    }

    Source source_;
    std::unique_ptr<SourceStream> stream_;  // taken from by the pump alone (direct: under lock_)
    std::mutex lock_;                       // guards what follows
    std::condition_variable ready_cv_;
    std::deque<Taken> ready_;
    std::uint64_t sourceLost_ = 0;  // the source's count of units it lost
    std::uint64_t dropped_ = 0;     // units dropped here for a reader that fell behind
    bool gone_ = false;
    std::atomic<bool> closing_{false};
    std::mutex closeLock_;  // one close at a time
    std::thread pump_;
    const OutFormat format_;
    const bool video_;
    const std::uint32_t width_;
    const std::uint32_t height_;
    const std::uint32_t rate_;
    const std::uint32_t channels_;
    const double fps_;
    const bool scaled_;  // frames are scaled to the size asked, not delivered at their own
    const SourceStream::Reading reading_;
    const bool direct_;             // the source is read when a grab asks (no pump thread)
    const std::string formatName_;  // what the frames are: the format asked, or the source's own
    const std::chrono::steady_clock::duration period_;  // direct: between reads, at most
    std::chrono::steady_clock::time_point due_{};       // direct: when the next read may be
};

OutFormat ParseFormat(const std::optional<std::string>& asked, bool video) {
    const std::string name = asked.value_or(video ? "BGR" : "int16");
    const std::vector<std::string> names =
        video ? std::vector<std::string>{"BGR", "RGB", "BGRA", "BGRx", "I420", "native"}
              : std::vector<std::string>{"int16", "float32"};
    const OutFormat formats[] = {OutFormat::BGR,  OutFormat::RGB,  OutFormat::BGRA,
                                 OutFormat::BGRx, OutFormat::I420, OutFormat::Native};
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == name)
            return video ? formats[i] : (i == 0 ? OutFormat::Int16 : OutFormat::Float32);
    throw py::value_error(std::string("format of a ") + (video ? "video" : "microphone") +
                          " source must be one of " + Allowed(names) + ", not '" + name + "'");
}

std::uint32_t Positive(const py::handle& value, const char* what, std::uint32_t most) {
    long long number = 0;
    try {
        number = value.cast<long long>();
    } catch (const py::cast_error&) {
        throw py::value_error(std::string(what) + " must be a whole number, not " +
                              py::repr(value).cast<std::string>());
    }
    if (number < 1 || number > static_cast<long long>(most))
        throw py::value_error(std::string(what) + " must be 1 to " + std::to_string(most) +
                              ", not " + std::to_string(number));
    return static_cast<std::uint32_t>(number);
}

Source ResolveSource(const py::object& source) {
    if (py::isinstance<Source>(source)) return source.cast<Source>();
    if (py::isinstance<py::str>(source)) {
        const std::string kind = source.cast<std::string>();
        CheckKind(kind);
        CheckWorld("auto");
        for (Source& found : Sources(kind, "auto")) return found;
        throw std::runtime_error("there is no " + kind + " source in the " + WorldName() +
                                 " world");
    }
    throw py::value_error(
        "source must be a Source from vorncapture.sources() or a kind (desktop, window, camera, "
        "microphone), not " +
        py::repr(source).cast<std::string>());
}

std::unique_ptr<Stream> Open(const py::object& sourceArg, const py::object& size,
                             const py::object& fps, const std::optional<std::string>& format,
                             const py::object& rate, const py::object& channels) {
    Source source = ResolveSource(sourceArg);
    const bool video = source.kind != "microphone";
    const OutFormat out = ParseFormat(format, video);
    OpenRequest request;
    if (!size.is_none()) {
        if (!video) throw py::value_error("size is for screens, windows and cameras");
        py::sequence pair;
        try {
            pair = size.cast<py::sequence>();
        } catch (const py::cast_error&) {
        }
        if (!pair || py::isinstance<py::str>(size) || py::len(pair) != 2)
            throw py::value_error("size must be (width, height), not " +
                                  py::repr(size).cast<std::string>());
        request.sizeGiven = true;
        request.width = Positive(pair[0], "width", VornCapture::kMaxSide);
        request.height = Positive(pair[1], "height", VornCapture::kMaxSide);
    }
    if (!fps.is_none()) {
        if (!video) throw py::value_error("fps is for screens, windows and cameras");
        request.frameRate = Positive(fps, "fps", 10000);
    }
    if (!rate.is_none()) {
        if (video) throw py::value_error("rate is for microphones");
        request.sampleRate = Positive(rate, "rate", 384000);
        if (request.sampleRate < 1000) throw py::value_error("rate must be 1000 to 384000 Hz");
    }
    if (!channels.is_none()) {
        if (video) throw py::value_error("channels is for microphones");
        request.channels = Positive(channels, "channels", 16);
    }
    if (out == OutFormat::I420 && request.sizeGiven && (request.width % 2 || request.height % 2))
        throw py::value_error("I420 wants an even width and height");
    if (video && source.kind != "camera") {
        // Screens and windows deliver their own size; `size` scales what they deliver.
        if (!NoDisplay().empty())
            throw std::runtime_error(source.kind + " in the " + WorldName() +
                                     " world: " + NoDisplay());
    }
    const std::uint32_t wantWidth = request.width, wantHeight = request.height;
    if (source.kind != "camera") request.sizeGiven = false;
    request.native = out == OutFormat::Native;
    request.target = out == OutFormat::I420 ? VornCapture::PixelFormat::I420
                     : FourBytes(out)       ? VornCapture::PixelFormat::BGRx
                                            : VornCapture::PixelFormat::BGR24;
    std::string error;
    std::unique_ptr<SourceStream> opened;
    {
        py::gil_scoped_release unlocked;
        opened = OpenSource(source.kind, source.index, request, error);
    }
    if (!opened)
        throw std::runtime_error("cannot open " + source.kind + " " + std::to_string(source.index) +
                                 ": " + error);
    const bool scale =
        wantWidth != 0 && (wantWidth != opened->Width() || wantHeight != opened->Height());
    std::uint32_t width = scale ? wantWidth : opened->Width();
    std::uint32_t height = scale ? wantHeight : opened->Height();
    if (out == OutFormat::I420 && (width % 2 || height % 2)) {
        // An odd picture is cropped to even sides: I420's chroma covers two by two pixels.
        if (width < 2 || height < 2) throw py::value_error("I420 wants at least 2x2 pixels");
        width &= ~1u;
        height &= ~1u;
    }
    return std::make_unique<Stream>(std::move(source), std::move(opened), out, width, height,
                                    scale);
}

}  // namespace

}  // namespace vornpy

PYBIND11_MODULE(_vorncapture, m) {
    using namespace vornpy;
    m.doc() = "Native part of vorncapture: screens, windows, cameras and microphones.";

    auto& lost = py::register_exception<SourceLostError>(m, "SourceLost", PyExc_RuntimeError);
    lost.doc() = "The source went away (a closed window, an unplugged camera or microphone).";

    py::class_<Source>(m, "Source", "A source that can be opened: its kind, index and name.")
        .def_readonly("kind", &Source::kind, "desktop, window, camera or microphone")
        .def_readonly("index", &Source::index, "Its index among the sources of its kind.")
        .def_readonly("name", &Source::name, "Its name (a window's title).")
        .def_readonly("modes", &Source::modes,
                      "What it delivers natively: sizes, formats and rates, one line each.")
        .def("__repr__", &Source::Repr)
        .def("__eq__",
             [](const Source& a, const Source& b) {
                 return a.kind == b.kind && a.index == b.index && a.name == b.name;
             })
        .def("__hash__",
             [](const Source& s) { return py::hash(py::make_tuple(s.kind, s.index, s.name)); });

    py::class_<Frame>(m, "Frame", "One video frame: its pixels as a NumPy array, time, sequence.")
        .def_readonly("array", &Frame::array,
                      "uint8 array (height, width, 3) for BGR and RGB, (height, width, 4) for "
                      "BGRA and BGRx, (height * 3 / 2, width) for I420 (Y, U and V planes one "
                      "after another). It stays valid after the next grab and after the stream "
                      "closed: it owns its memory, or (the X screen's BGRx, format native) it "
                      "is a read-only view that keeps the source's memory lent. Native: MJPEG "
                      "its bytes (1-D), YUY2 (height, width, 2), NV12 and I420 (height * 3 / 2, "
                      "width), BGRx (height, width, 4), BGR (height, width, 3).")
        .def_readonly("time", &Frame::time,
                      "When it was captured, in seconds of the source's clock.")
        .def_readonly("sequence", &Frame::sequence,
                      "Counts the source's frames from 0; a jump means frames were lost. The X "
                      "screen's rises by one when the screen changed, and repeats with its "
                      "pixels when it did not.")
        .def_readonly("width", &Frame::width)
        .def_readonly("height", &Frame::height)
        .def_property_readonly("format", [](const Frame& f) { return f.formatName; })
        .def_property_readonly("planes", &Frame::Planes,
                               "I420: views (Y, U, V) into array; NV12: (Y, UV); else (array,).")
        .def("__repr__", [](const Frame& f) {
            return "<vorncapture.Frame " + std::to_string(f.width) + "x" +
                   std::to_string(f.height) + " " + f.formatName + " #" +
                   std::to_string(f.sequence) + ">";
        });

    py::class_<Block>(m, "AudioBlock", "A block of microphone samples with its time.")
        .def_readonly("array", &Block::array,
                      "int16 or float32 array (samples, channels); float32 in -1.0 to 1.0.")
        .def_readonly("time", &Block::time, "Time of the first sample, in seconds.")
        .def_readonly("sequence", &Block::sequence,
                      "Counts the source's blocks from 0; a jump means blocks were lost.")
        .def_readonly("rate", &Block::rate, "Samples a second.")
        .def_readonly("channels", &Block::channels)
        .def("__repr__", [](const Block& b) {
            return "<vorncapture.AudioBlock " + std::to_string(b.array.shape(0)) + " samples x " +
                   std::to_string(b.channels) + " #" + std::to_string(b.sequence) + ">";
        });

    py::class_<Stream>(m, "Stream",
                       "An open source: iterate it (for, async for), or grab() one unit.")
        .def("grab", &Stream::Grab, py::arg("timeout") = 5.0,
             "The next frame (or audio block), waiting at most timeout seconds (None: no "
             "limit). Raises SourceLost when the source went away, TimeoutError when nothing "
             "came, ValueError on a closed stream.")
        .def("close", &Stream::Close, "Closes the stream; safe twice and from any thread.")
        .def_property_readonly("closed", &Stream::Closed)
        .def_property_readonly("source", &Stream::Of)
        .def_property_readonly("lost", &Stream::Lost,
                               "Units the source produced that never reached this stream.")
        .def_property_readonly("width", &Stream::Width)
        .def_property_readonly("height", &Stream::Height)
        .def_property_readonly("fps", &Stream::Fps, "Frames a second asked of the source.")
        .def_property_readonly("rate", &Stream::Rate, "Microphones: samples a second.")
        .def_property_readonly("channels", &Stream::Channels, "Microphones: channels.")
        .def_property_readonly("format", [](const Stream& s) { return s.FormatName(); })
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &Stream::Next)
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__",
             [](Stream& s, py::args) {
                 s.Close();
                 return false;
             })
        .def("__repr__", &Stream::Repr);

    m.def("sources", &Sources, py::arg("kind") = py::none(), py::arg("world") = "auto",
          "The sources of kind (desktop, window, camera, microphone; None: all) in the world "
          "(auto: VORN_WORLD where set, else this machine where it has a display or a sound "
          "server, else the virtual test world). The world is fixed at the first call.");
    m.def("open", &Open, py::arg("source"), py::arg("size") = py::none(),
          py::arg("fps") = py::none(), py::arg("format") = py::none(), py::kw_only(),
          py::arg("rate") = py::none(), py::arg("channels") = py::none(),
          "Opens a Source (or the first source of a kind given by name). Video: size "
          "(width, height) scales the frames (a camera is asked for it), fps the rate, format "
          "BGR (default), RGB, BGRA, BGRx, I420 or native (the source's own frames, lent as "
          "they are: a PipeWire camera's, the X screen's). Microphones: rate, channels and format "
          "int16 "
          "(default) or float32.");
    m.def("world", &WorldName, "The world in force: host or virtual.");

    AddTestingModule(m);
}
