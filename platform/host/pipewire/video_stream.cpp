// SPDX-License-Identifier: MIT
// A PipeWire video stream on a thread loop of its own. Each buffer is read into a frame of our
// own (RGB converted, YUY2 and Motion-JPEG decoded) on the stream's data thread and goes back to
// the producer in the same graph cycle.
//
// Why in the same cycle: an input stream hands back one queued buffer per buffer it receives,
// and only then (libpipewire 0.3.65). A buffer still held when the next one arrives stays queued
// on our side for as long as the stream lives (the producer is left with one buffer of four),
// and a stream that goes with buffers on its side leaves a node that is not suspended between
// readers unable to deliver to the next ones, until the session manager suspends it. Holding
// just the newest buffer until the next one comes, and copying it then only for readers still
// reading it, would save a pass over each frame; but that held buffer is one the producer never
// gets back when the stream goes (tried: the second of eight readers in turn got no frame).
#include "host/pipewire/video_stream.h"

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "host/pipewire/frame_returns.h"
#include "host/v4l2/v4l2.h"
#include "shared/testsignal.h"

namespace VornWorld {
namespace host {
namespace pipewire {
namespace {

std::atomic<long> liveObjects{0};

// The largest side accepted: a frame of 16384 x 16384 pixels is 1 GiB already.
constexpr uint32_t kMaxSide = 16384;

// How one format's bytes map onto 0x00RRGGBB (YUY2: through the library's conversion).
enum class Order { BGRx, RGBx, xRGB, xBGR, RGB, BGR, YUY2, Jpeg, Unknown };

Order OrderOf(uint32_t format) {
    switch (format) {
        case SPA_VIDEO_FORMAT_BGRx:
        case SPA_VIDEO_FORMAT_BGRA:
            return Order::BGRx;
        case SPA_VIDEO_FORMAT_RGBx:
        case SPA_VIDEO_FORMAT_RGBA:
            return Order::RGBx;
        case SPA_VIDEO_FORMAT_xRGB:
        case SPA_VIDEO_FORMAT_ARGB:
            return Order::xRGB;
        case SPA_VIDEO_FORMAT_xBGR:
        case SPA_VIDEO_FORMAT_ABGR:
            return Order::xBGR;
        case SPA_VIDEO_FORMAT_RGB:
            return Order::RGB;
        case SPA_VIDEO_FORMAT_BGR:
            return Order::BGR;
        case SPA_VIDEO_FORMAT_YUY2:
            return Order::YUY2;
        default:
            return Order::Unknown;
    }
}

// Bytes of one row of `width` pixels.
uint64_t RowBytes(Order order, int width) {
    const uint64_t w = static_cast<uint64_t>(width);
    switch (order) {
        case Order::RGB:
        case Order::BGR:
            return w * 3;
        case Order::YUY2:
            return (w + 1) / 2 * 4;
        default:
            return w * 4;
    }
}

// One row of `count` pixels from the stream's byte order into 0x00RRGGBB (not YUY2). Each pixel
// of the 32-bit orders is read as one word and rearranged with shifts and masks, which the
// compiler turns into vector code (the byte-by-byte form took a quarter of a 1920 x 1080
// capture's time).
void ConvertRow(Order order, const uint8_t* from, uint32_t* to, int count) {
    // The word of 4 bytes b0 b1 b2 b3 is b0 | b1 << 8 | b2 << 16 | b3 << 24 in every byte order.
    auto word = [from](int i) {
        const uint8_t* p = from + static_cast<size_t>(i) * 4;
        return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
    };
    auto swapRedBlue = [](uint32_t v) {
        return (v & 0xFFu) << 16 | (v & 0xFF00u) | (v >> 16 & 0xFFu);
    };
    switch (order) {
        case Order::BGRx:  // B G R x: the word is 0xxxRRGGBB
            for (int i = 0; i < count; ++i) to[i] = word(i) & 0x00FFFFFFu;
            break;
        case Order::RGBx:  // R G B x: 0xxxBBGGRR
            for (int i = 0; i < count; ++i) to[i] = swapRedBlue(word(i));
            break;
        case Order::xRGB:  // x R G B: 0xBBGGRRxx
            for (int i = 0; i < count; ++i) to[i] = swapRedBlue(word(i) >> 8);
            break;
        case Order::xBGR:  // x B G R: 0xRRGGBBxx
            for (int i = 0; i < count; ++i) to[i] = word(i) >> 8;
            break;
        case Order::RGB:
            for (int i = 0; i < count; ++i, from += 3) {
                to[i] = uint32_t{from[0]} << 16 | uint32_t{from[1]} << 8 | from[2];
            }
            break;
        case Order::BGR:
            for (int i = 0; i < count; ++i, from += 3) {
                to[i] = uint32_t{from[2]} << 16 | uint32_t{from[1]} << 8 | from[0];
            }
            break;
        case Order::YUY2:
        case Order::Jpeg:
        case Order::Unknown:
            break;
    }
}

}  // namespace

void InitOnce() {
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

// A frame's pixels, 0x00RRGGBB, rows from the top. Written by the stream's data thread only
// while no reader holds the frame (it comes back through FrameReturns' mutex first).
struct VideoFrame::Pixels {
    std::vector<uint32_t> copy;
};

VideoFrame::VideoFrame() : pixels(std::make_unique<Pixels>()) {}
VideoFrame::~VideoFrame() = default;

const uint32_t* VideoFrame::Row(int x, int y) const {
    return pixels->copy.data() + static_cast<size_t>(y) * static_cast<size_t>(width) +
           static_cast<size_t>(x);
}

void VideoFrame::ReadRow(int x, int y, int count, uint32_t* to) const {
    std::memcpy(to, Row(x, y), static_cast<size_t>(count) * sizeof(uint32_t));
}

struct VideoStream::State {
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_registry* registry = nullptr;
    pw_stream* stream = nullptr;
    spa_hook coreListener{};
    spa_hook registryListener{};
    spa_hook streamListener{};
    int64_t node = -1;

    // The negotiated format: set on the loop's thread, read on the data thread.
    struct Negotiated {
        Order order = Order::Unknown;
        int width = 0;
        int height = 0;
    };
    std::mutex formatMutex;
    Negotiated negotiated;  // under formatMutex

    // On the data thread only: the format of the buffer being read, and frames no reader holds,
    // kept to be written again.
    Order order = Order::Unknown;
    int width = 0;
    int height = 0;
    std::vector<std::shared_ptr<VideoFrame>> spare;
    // Where frames come back once their readers let go of them.
    std::shared_ptr<FrameReturns> returns = std::make_shared<FrameReturns>();

    mutable std::mutex mutex;  // what follows
    mutable std::condition_variable changed;
    std::shared_ptr<const VideoFrame> newest;  // handed out through `returns`
    uint64_t sequence = 0;
    bool ended = false;

    void End() {
        std::lock_guard<std::mutex> lock(mutex);
        ended = true;
        changed.notify_all();
    }

    void OnParamChanged(uint32_t id, const spa_pod* param) {
        if (param == nullptr || id != SPA_PARAM_Format) return;
        Negotiated format = Parse(param);
        {
            std::lock_guard<std::mutex> lock(formatMutex);
            negotiated = format;
        }
        if (format.order == Order::Unknown) return;
        // Shared memory only: a DMA-BUF would need a mapping this reader cannot count on.
        // A Motion-JPEG image has no rows; its buffers hold three bytes a pixel and headers.
        const bool jpeg = format.order == Order::Jpeg;
        const int stride = jpeg ? 0 : static_cast<int>(RowBytes(format.order, format.width));
        const int size = jpeg ? format.width * format.height * 3 + 65536 : stride * format.height;
        uint8_t buffer[512];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
        const spa_pod* params[1];
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
            SPA_POD_CHOICE_RANGE_Int(4, 2, 16), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
            SPA_PARAM_BUFFERS_size, SPA_POD_Int(size), SPA_PARAM_BUFFERS_stride,
            SPA_POD_Int(stride), SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
        pw_stream_update_params(stream, params, 1);
    }

    // The format an SPA_PARAM_Format describes, Order::Unknown when it is not one we read.
    static Negotiated Parse(const spa_pod* param) {
        Negotiated format;
        ReadableFormat readable;
        if (!ParseReadable(param, &readable)) return format;
        format.order = readable.jpeg ? Order::Jpeg : OrderOf(readable.raw);
        format.width = readable.width;
        format.height = readable.height;
        return format;
    }

    // On the data thread (the stream processes in real time), within the graph cycle that
    // brought the buffers: the newest is read into a frame and every buffer is queued back
    // before the cycle hands one back to the producer.
    void OnProcess() {
        pw_buffer* newestBuffer = nullptr;
        while (pw_buffer* next = pw_stream_dequeue_buffer(stream)) {
            if (newestBuffer != nullptr) pw_stream_queue_buffer(stream, newestBuffer);
            newestBuffer = next;
        }
        if (newestBuffer == nullptr) return;
        {
            std::lock_guard<std::mutex> lock(formatMutex);
            if (negotiated.order != order || negotiated.width != width ||
                negotiated.height != height) {
                order = negotiated.order;
                width = negotiated.width;
                height = negotiated.height;
                unpacker.reset();
            }
        }
        if (order == Order::Jpeg && unpacker == nullptr) {
            unpacker = std::make_unique<VornWorld::host::FrameUnpacker>(
                V4L2_PIX_FMT_MJPEG, static_cast<LONG>(width), static_cast<LONG>(height), 0);
        }
        std::shared_ptr<VideoFrame> frame = Take(newestBuffer);
        pw_stream_queue_buffer(stream, newestBuffer);
        if (!frame) return;
        VideoFrame& written = *frame;
        std::shared_ptr<const VideoFrame> handle = returns->HandOut(std::move(frame));
        std::shared_ptr<const VideoFrame> previous;
        {
            std::lock_guard<std::mutex> lock(mutex);
            written.sequence = ++sequence;
            previous = std::move(newest);
            newest = std::move(handle);
            changed.notify_all();
        }
        // Outside the lock: when no reader holds the previous frame, it comes back now.
        previous.reset();
        TakeBack();
    }

    // YUY2 rows gathered without their padding and converted by the library's conversion,
    // which writes 32-bit rows bottom-up.
    std::vector<uint8_t> packed, rgb32;
    bool ReadYuy2(const uint8_t* bytes, uint64_t stride, uint32_t* to) {
        using VornSignal::PixelLayout;
        const size_t row = static_cast<size_t>(RowBytes(order, width));
        const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
        packed.resize(VornSignal::FrameBytes(PixelLayout::YUY2, width, height));
        rgb32.resize(VornSignal::FrameBytes(PixelLayout::RGB32, width, height));
        if (packed.size() < row * h || rgb32.size() < w * 4 * h) return false;
        for (size_t y = 0; y < h; ++y) std::memcpy(&packed[y * row], bytes + stride * y, row);
        if (!VornSignal::ConvertFrame(PixelLayout::YUY2, packed.data(), PixelLayout::RGB32,
                                      rgb32.data(), width, height)) {
            return false;
        }
        for (size_t y = 0; y < h; ++y) {
            const uint8_t* from = &rgb32[(h - 1 - y) * w * 4];
            for (size_t x = 0; x < w; ++x, from += 4)
                to[y * w + x] = uint32_t{from[2]} << 16 | uint32_t{from[1]} << 8 | from[0];
        }
        return true;
    }

    // A Motion-JPEG image decoded by the cameras' decoder, which writes 24-bit rows bottom-up;
    // false for an image cut short or corrupt.
    std::unique_ptr<VornWorld::host::FrameUnpacker> unpacker;
    bool ReadJpeg(const spa_data& data, uint32_t* to) {
        const uint64_t offset = data.chunk->offset;
        const uint64_t size = data.chunk->size;
        if (unpacker == nullptr || offset > data.maxsize || size > data.maxsize - offset)
            return false;
        const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
        const size_t rowBytes = (w * 3 + 3) / 4 * 4;
        rgb32.resize(rowBytes * h);  // the scratch of the conversions, here 24-bit rows
        if (!unpacker->Unpack(static_cast<const BYTE*>(data.data) + offset,
                              static_cast<size_t>(size), rgb32.data())) {
            return false;
        }
        for (size_t y = 0; y < h; ++y) {
            const uint8_t* from = &rgb32[(h - 1 - y) * rowBytes];
            for (size_t x = 0; x < w; ++x, from += 3)
                to[y * w + x] = uint32_t{from[2]} << 16 | uint32_t{from[1]} << 8 | from[0];
        }
        return true;
    }

    // A frame of the buffer's picture, converted or decoded; null when the picture does not lie
    // inside the buffer or does not decode.
    std::shared_ptr<VideoFrame> Take(pw_buffer* taken) {
        const spa_buffer& buffer = *taken->buffer;
        if (order == Order::Unknown || buffer.n_datas < 1) return nullptr;
        const spa_data& data = buffer.datas[0];
        if (data.data == nullptr || data.chunk == nullptr ||
            (data.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) != 0) {
            return nullptr;
        }
        std::shared_ptr<VideoFrame> frame = Blank();
        VideoFrame::Pixels& p = *frame->pixels;
        if (order == Order::Jpeg) {
            p.copy.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
            if (ReadJpeg(data, p.copy.data())) return frame;
            spare.push_back(std::move(frame));
            return nullptr;
        }
        const uint64_t row = RowBytes(order, width);
        const uint64_t stride =
            data.chunk->stride > 0 ? static_cast<uint64_t>(data.chunk->stride) : row;
        const uint64_t offset = data.chunk->offset % (data.maxsize == 0 ? 1 : data.maxsize);
        // The picture must lie inside the buffer, or it is not read.
        if (stride < row ||
            offset + stride * static_cast<uint64_t>(height - 1) + row > data.maxsize) {
            spare.push_back(std::move(frame));
            return nullptr;
        }
        const auto* bytes = static_cast<const uint8_t*>(data.data) + offset;
        p.copy.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
        if (order == Order::YUY2) {
            if (ReadYuy2(bytes, stride, p.copy.data())) return frame;
            spare.push_back(std::move(frame));
            return nullptr;
        }
        for (int y = 0; y < height; ++y) {
            ConvertRow(order, bytes + stride * static_cast<uint64_t>(y),
                       p.copy.data() + static_cast<size_t>(y) * static_cast<size_t>(width), width);
        }
        return frame;
    }

    // A frame to write the next picture into: one that came back (its pixels' storage is
    // reused), else a new one.
    std::shared_ptr<VideoFrame> Blank() {
        std::shared_ptr<VideoFrame> frame;
        if (spare.empty()) {
            frame = std::make_shared<VideoFrame>();
        } else {
            frame = std::move(spare.back());
            spare.pop_back();
        }
        frame->width = width;
        frame->height = height;
        frame->sequence = 0;
        return frame;
    }

    // Frames no reader holds any more (the newest is held by the stream itself): two of them
    // are kept to be written again.
    void TakeBack() {
        for (std::shared_ptr<VideoFrame>& frame : returns->Take()) {
            if (spare.size() < 2) spare.push_back(std::move(frame));
        }
    }
};

namespace {

using State = VideoStream::State;

void OnStreamState(void* data, pw_stream_state, pw_stream_state state, const char*) {
    if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) {
        static_cast<State*>(data)->End();
    }
}
void OnStreamParam(void* data, uint32_t id, const spa_pod* param) {
    static_cast<State*>(data)->OnParamChanged(id, param);
}
void OnStreamProcess(void* data) { static_cast<State*>(data)->OnProcess(); }

void OnCoreError(void* data, uint32_t id, int, int, const char*) {
    // An error of the core itself: the remote closed (the portal's session ended) or broke.
    if (id == PW_ID_CORE) static_cast<State*>(data)->End();
}

void OnGlobalRemoved(void* data, uint32_t id) {
    auto* state = static_cast<State*>(data);
    if (state->node >= 0 && id == static_cast<uint32_t>(state->node)) state->End();
}

const pw_stream_events& StreamEvents() {
    static const pw_stream_events events = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.state_changed = OnStreamState;
        e.param_changed = OnStreamParam;
        e.process = OnStreamProcess;
        return e;
    }();
    return events;
}
const pw_core_events& CoreEvents() {
    static const pw_core_events events = [] {
        pw_core_events e{};
        e.version = PW_VERSION_CORE_EVENTS;
        e.error = OnCoreError;
        return e;
    }();
    return events;
}
const pw_registry_events& RegistryEvents() {
    static const pw_registry_events events = [] {
        pw_registry_events e{};
        e.version = PW_VERSION_REGISTRY_EVENTS;
        e.global_remove = OnGlobalRemoved;
        return e;
    }();
    return events;
}

// The formats offered, of media subtype `subtype`: raw (the 32-bit RGB family first, then
// YUY2 and 24-bit RGB) or Motion-JPEG (as most webcams give their larger sizes); any size, any
// rate; the wished ones (within range) preferred.
const spa_pod* EnumFormat(spa_pod_builder* b, const VideoStream::Wish& wish, uint32_t subtype) {
    spa_rectangle size{static_cast<uint32_t>(wish.width), static_cast<uint32_t>(wish.height)},
        smallest{1, 1}, largest{kMaxSide, kMaxSide};
    spa_fraction rate{static_cast<uint32_t>(wish.rate), 1}, slowest{0, 1}, fastest{1000, 1};
    spa_pod_frame frame;
    spa_pod_builder_push_object(b, &frame, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
    spa_pod_builder_add(b, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
                        SPA_FORMAT_mediaSubtype, SPA_POD_Id(subtype), 0);
    if (subtype == SPA_MEDIA_SUBTYPE_raw) {
        spa_pod_builder_add(b, SPA_FORMAT_VIDEO_format,
                            SPA_POD_CHOICE_ENUM_Id(12, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                                                   SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_BGRA,
                                                   SPA_VIDEO_FORMAT_RGBA, SPA_VIDEO_FORMAT_xRGB,
                                                   SPA_VIDEO_FORMAT_xBGR, SPA_VIDEO_FORMAT_ARGB,
                                                   SPA_VIDEO_FORMAT_ABGR, SPA_VIDEO_FORMAT_YUY2,
                                                   SPA_VIDEO_FORMAT_RGB, SPA_VIDEO_FORMAT_BGR),
                            0);
    }
    spa_pod_builder_add(
        b, SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&size, &smallest, &largest),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&rate, &slowest, &fastest), 0);
    return static_cast<const spa_pod*>(spa_pod_builder_pop(b, &frame));
}

void Teardown(State& s) {
    if (s.loop != nullptr && s.context != nullptr) {
        pw_thread_loop_lock(s.loop);
        if (s.stream != nullptr) {
            // Frames coming back from here on are freed; those kept are freed with the state,
            // once the data thread is gone.
            s.returns->Close();
            pw_stream_destroy(s.stream);
            s.stream = nullptr;
            --liveObjects;
        }
        if (s.registry != nullptr) {
            spa_hook_remove(&s.registryListener);
            pw_proxy_destroy(reinterpret_cast<pw_proxy*>(s.registry));
            s.registry = nullptr;
        }
        if (s.core != nullptr) {
            spa_hook_remove(&s.coreListener);
            pw_core_disconnect(s.core);
            s.core = nullptr;
            --liveObjects;
        }
        pw_thread_loop_unlock(s.loop);
        pw_thread_loop_stop(s.loop);
    }
    if (s.context != nullptr) {
        pw_context_destroy(s.context);
        s.context = nullptr;
        --liveObjects;
    }
    if (s.loop != nullptr) {
        pw_thread_loop_destroy(s.loop);
        s.loop = nullptr;
        --liveObjects;
    }
}

}  // namespace

std::unique_ptr<VideoStream> VideoStream::Open(int fd, int64_t node, const char* name) {
    return Open(fd, node, name, Wish{});
}

std::unique_ptr<VideoStream> VideoStream::Open(int fd, int64_t node, const char* name,
                                               const Wish& wish) {
    InitOnce();
    std::unique_ptr<VideoStream> self(new VideoStream());
    self->state_ = std::make_unique<State>();
    State& s = *self->state_;
    s.node = node;
    s.loop = pw_thread_loop_new(name, nullptr);
    if (s.loop == nullptr) {
        if (fd >= 0) close(fd);
        return nullptr;
    }
    ++liveObjects;
    s.context = pw_context_new(pw_thread_loop_get_loop(s.loop), nullptr, 0);
    if (s.context == nullptr) {
        if (fd >= 0) close(fd);
        return nullptr;  // the destructor tears down what exists
    }
    ++liveObjects;
    if (pw_thread_loop_start(s.loop) < 0) {
        if (fd >= 0) close(fd);
        return nullptr;
    }
    pw_thread_loop_lock(s.loop);
    // pw_context_connect_fd owns the descriptor from here on, also when it fails.
    s.core = fd >= 0 ? pw_context_connect_fd(s.context, fd, nullptr, 0)
                     : pw_context_connect(s.context, nullptr, 0);
    bool ok = s.core != nullptr;
    if (ok) {
        ++liveObjects;
        pw_core_add_listener(s.core, &s.coreListener, &CoreEvents(), &s);
        s.registry = pw_core_get_registry(s.core, PW_VERSION_REGISTRY, 0);
        if (s.registry != nullptr) {
            pw_registry_add_listener(s.registry, &s.registryListener, &RegistryEvents(), &s);
        }
        pw_properties* props = pw_properties_new(
            PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE,
            wish.role != nullptr ? wish.role : "Screen", nullptr);
        s.stream = pw_stream_new(s.core, name, props);
        ok = s.stream != nullptr;
    }
    if (ok) {
        ++liveObjects;
        pw_stream_add_listener(s.stream, &s.streamListener, &StreamEvents(), &s);
        uint8_t buffer[1024];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
        // The wish within the ranges offered, for both formats.
        VideoStream::Wish fit = wish;
        if (fit.width < 1 || fit.width > static_cast<int>(kMaxSide)) fit.width = 1920;
        if (fit.height < 1 || fit.height > static_cast<int>(kMaxSide)) fit.height = 1080;
        if (fit.rate < 1 || fit.rate > 1000) fit.rate = 30;
        const spa_pod* params[2] = {EnumFormat(&b, fit, SPA_MEDIA_SUBTYPE_raw),
                                    EnumFormat(&b, fit, SPA_MEDIA_SUBTYPE_mjpg)};
        // The node by its id, as the portal names it (target.object would take a serial or
        // a name).
        uint32_t target = node >= 0 ? static_cast<uint32_t>(node) : PW_ID_ANY;
        ok = pw_stream_connect(s.stream, PW_DIRECTION_INPUT, target,
                               static_cast<pw_stream_flags>(
                                   PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                   PW_STREAM_FLAG_DONT_RECONNECT | PW_STREAM_FLAG_RT_PROCESS),
                               params, 2) == 0;
    }
    pw_thread_loop_unlock(s.loop);
    if (!ok) return nullptr;
    return self;
}

VideoStream::~VideoStream() {
    if (state_) Teardown(*state_);
}

std::shared_ptr<const VideoFrame> VideoStream::Newest() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->newest;
}

std::shared_ptr<const VideoFrame> VideoStream::WaitNewer(uint64_t after, int ms) const {
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->changed.wait_for(lock, std::chrono::milliseconds(ms), [&] {
        return state_->ended || (state_->newest && state_->newest->sequence > after);
    });
    return state_->newest;
}

bool VideoStream::Ended() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->ended;
}

bool ParseReadable(const spa_pod* param, ReadableFormat* format) {
    uint32_t mediaType = 0, mediaSubtype = 0;
    if (param == nullptr || spa_format_parse(param, &mediaType, &mediaSubtype) < 0 ||
        mediaType != SPA_MEDIA_TYPE_video) {
        return false;
    }
    ReadableFormat found;
    spa_rectangle size{};
    spa_fraction rate{};
    if (mediaSubtype == SPA_MEDIA_SUBTYPE_mjpg) {
        spa_video_info_mjpg jpeg{};
        if (spa_format_video_mjpg_parse(param, &jpeg) < 0) return false;
        found.jpeg = true;
        size = jpeg.size;
        rate = jpeg.framerate;
    } else if (mediaSubtype == SPA_MEDIA_SUBTYPE_raw) {
        spa_video_info_raw info{};
        if (spa_format_video_raw_parse(param, &info) < 0 || OrderOf(info.format) == Order::Unknown)
            return false;
        found.raw = info.format;
        size = info.size;
        rate = info.framerate;
    } else {
        return false;
    }
    if (size.width == 0 || size.height == 0 || size.width > kMaxSide || size.height > kMaxSide)
        return false;
    found.width = static_cast<int>(size.width);
    found.height = static_cast<int>(size.height);
    if (rate.num != 0 && rate.denom != 0) {
        found.rateNum = rate.num;
        found.rateDenom = rate.denom;
    }
    *format = found;
    return true;
}

long LiveObjects() { return liveObjects.load(); }

}  // namespace pipewire
}  // namespace host
}  // namespace VornWorld
