// SPDX-License-Identifier: MIT
// A PipeWire video stream on a thread loop of its own. On the stream's data thread each buffer's
// bytes are copied, as they are, into a frame of our own (one copy of the picture, into memory
// reused from frame to frame), and the buffer goes back to the producer in the same graph
// cycle; whatever is made of the pixels is made later by the reader that takes the frame.
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
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "host/pipewire/connection.h"
#include "host/pipewire/frame_convert.h"
#include "host/pipewire/frame_returns.h"

namespace VornWorld {
namespace host {
namespace pipewire {
namespace {

// The largest side accepted: a frame of 16384 x 16384 pixels is 1 GiB already.
constexpr uint32_t kMaxSide = 16384;

// The format of a raw video format's bytes; false for one not read.
bool RawFormatOf(uint32_t format, RawFormat* raw) {
    switch (format) {
        case SPA_VIDEO_FORMAT_BGRx:
        case SPA_VIDEO_FORMAT_BGRA:
            *raw = RawFormat::BGRx;
            return true;
        case SPA_VIDEO_FORMAT_RGBx:
        case SPA_VIDEO_FORMAT_RGBA:
            *raw = RawFormat::RGBx;
            return true;
        case SPA_VIDEO_FORMAT_xRGB:
        case SPA_VIDEO_FORMAT_ARGB:
            *raw = RawFormat::xRGB;
            return true;
        case SPA_VIDEO_FORMAT_xBGR:
        case SPA_VIDEO_FORMAT_ABGR:
            *raw = RawFormat::xBGR;
            return true;
        case SPA_VIDEO_FORMAT_RGB:
            *raw = RawFormat::RGB;
            return true;
        case SPA_VIDEO_FORMAT_BGR:
            *raw = RawFormat::BGR;
            return true;
        case SPA_VIDEO_FORMAT_YUY2:
            *raw = RawFormat::YUY2;
            return true;
        default:
            return false;
    }
}

// Bytes of one row of `width` pixels (not Motion-JPEG).
uint64_t RowBytes(RawFormat format, int width) {
    const uint64_t w = static_cast<uint64_t>(width);
    switch (format) {
        case RawFormat::RGB:
        case RawFormat::BGR:
            return w * 3;
        case RawFormat::YUY2:
            return (w + 1) / 2 * 4;
        default:
            return w * 4;
    }
}

int64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace

void InitOnce() {
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

// A frame's bytes as they arrived, written by the stream's data thread only while no reader
// holds the frame (it comes back through FrameReturns' mutex first); and the 0x00RRGGBB
// picture made of them by the first reader that asks, under `mutex`.
struct VideoFrame::Pixels {
    std::vector<uint8_t> bytes;
    RawFrame raw;  // its `data` in `bytes`

    std::mutex mutex;
    bool converted = false;  // under mutex, as the two that follow
    bool decoded = false;
    std::vector<uint32_t> rgb32;
};

VideoFrame::VideoFrame() : pixels(std::make_unique<Pixels>()) {}
VideoFrame::~VideoFrame() = default;

RawFrame VideoFrame::Raw() const { return pixels->raw; }

const uint32_t* VideoFrame::Rgb32() const {
    Pixels& p = *pixels;
    std::lock_guard<std::mutex> lock(p.mutex);
    if (!p.converted) {
        p.converted = true;
        p.rgb32.resize(TargetBytes(Target::Rgb32, width, height) / 4);
        FrameConverter converter;
        p.decoded =
            !p.rgb32.empty() &&
            converter.Convert(p.raw, Target::Rgb32, reinterpret_cast<uint8_t*>(p.rgb32.data()));
    }
    return p.decoded ? p.rgb32.data() : nullptr;
}

bool VideoFrame::Readable() const {
    const RawFormat format = pixels->raw.format;
    return (format != RawFormat::YUY2 && format != RawFormat::MJPEG) || Rgb32() != nullptr;
}

void VideoFrame::ReadSpan(int x, int y, int count, uint32_t* to) const {
    if (ConvertSpan(pixels->raw, x, y, count, to)) return;
    std::memcpy(to, Rgb32() + static_cast<size_t>(y) * static_cast<size_t>(width) + x,
                static_cast<size_t>(count) * sizeof(uint32_t));
}

struct VideoStream::State {
    Connection connection;
    pw_stream* stream = nullptr;
    spa_hook streamListener{};
    int64_t node = -1;

    // The negotiated format: set on the loop's thread, read on the data thread.
    struct Negotiated {
        bool known = false;
        RawFormat format = RawFormat::BGRx;
        int width = 0;
        int height = 0;
    };
    std::mutex formatMutex;
    Negotiated negotiated;  // under formatMutex

    // On the data thread only: frames no reader holds, kept to be written again.
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
        if (!format.known) return;
        // Shared memory only: a DMA-BUF would need a mapping this reader cannot count on.
        // A Motion-JPEG image has no rows; its buffers hold three bytes a pixel and headers.
        const bool jpeg = format.format == RawFormat::MJPEG;
        const int stride = jpeg ? 0 : static_cast<int>(RowBytes(format.format, format.width));
        const int size = jpeg ? format.width * format.height * 3 + 65536 : stride * format.height;
        uint8_t buffer[512];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
        const spa_pod* params[2];
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
            SPA_POD_CHOICE_RANGE_Int(4, 2, 16), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
            SPA_PARAM_BUFFERS_size, SPA_POD_Int(size), SPA_PARAM_BUFFERS_stride,
            SPA_POD_Int(stride), SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
        // The buffers' header, for the producer's presentation time.
        params[1] = static_cast<const spa_pod*>(
            spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta,
                                       SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
                                       SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
        pw_stream_update_params(stream, params, 2);
    }

    // The format an SPA_PARAM_Format describes; not `known` when it is not one we read.
    static Negotiated Parse(const spa_pod* param) {
        Negotiated format;
        ReadableFormat readable;
        if (!ParseReadable(param, &readable)) return format;
        format.known = readable.jpeg || RawFormatOf(readable.raw, &format.format);
        if (readable.jpeg) format.format = RawFormat::MJPEG;
        format.width = readable.width;
        format.height = readable.height;
        return format;
    }

    // On the data thread (the stream processes in real time), within the graph cycle that
    // brought the buffers: the newest one's bytes are copied into a frame and every buffer is
    // queued back before the cycle hands one back to the producer. No pixel is looked at here.
    void OnProcess() {
        OnDataThread mark;
        pw_buffer* newestBuffer = nullptr;
        while (pw_buffer* next = pw_stream_dequeue_buffer(stream)) {
            if (newestBuffer != nullptr) pw_stream_queue_buffer(stream, newestBuffer);
            newestBuffer = next;
        }
        if (newestBuffer == nullptr) return;
        Negotiated format;
        {
            std::lock_guard<std::mutex> lock(formatMutex);
            format = negotiated;
        }
        std::shared_ptr<VideoFrame> frame = Take(newestBuffer, format);
        pw_stream_queue_buffer(stream, newestBuffer);
        if (!frame) return;
        VideoFrame& written = *frame;
        std::shared_ptr<const VideoFrame> handle = returns->HandOut(std::move(frame));
        std::shared_ptr<const VideoFrame> previous;
        {
            std::lock_guard<std::mutex> lock(mutex);
            written.sequence = ++sequence;
            written.pixels->raw.sequence = written.sequence;
            previous = std::move(newest);
            newest = std::move(handle);
            changed.notify_all();
        }
        // Outside the lock: when no reader holds the previous frame, it comes back now.
        previous.reset();
        TakeBack();
    }

    // A frame holding a copy of the buffer's picture; null when the picture does not lie
    // inside the buffer.
    std::shared_ptr<VideoFrame> Take(pw_buffer* taken, const Negotiated& format) {
        const spa_buffer& buffer = *taken->buffer;
        if (!format.known || buffer.n_datas < 1) return nullptr;
        const spa_data& data = buffer.datas[0];
        if (data.data == nullptr || data.chunk == nullptr ||
            (data.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) != 0) {
            return nullptr;
        }
        RawFrame raw;
        raw.format = format.format;
        raw.width = format.width;
        raw.height = format.height;
        uint64_t offset = data.chunk->offset, size = data.chunk->size, stride = 0;
        if (format.format == RawFormat::MJPEG) {
            if (offset > data.maxsize || size > data.maxsize - offset || size == 0) return nullptr;
        } else {
            const uint64_t row = RowBytes(format.format, format.width);
            stride = data.chunk->stride > 0 ? static_cast<uint64_t>(data.chunk->stride) : row;
            offset %= data.maxsize == 0 ? 1 : data.maxsize;
            // The picture must lie inside the buffer, or it is not read.
            size = stride * static_cast<uint64_t>(format.height - 1) + row;
            if (stride < row || offset + size > data.maxsize) return nullptr;
        }
        raw.stride = static_cast<size_t>(stride);
        raw.size = static_cast<size_t>(size);
        const auto* header = static_cast<const spa_meta_header*>(
            spa_buffer_find_meta_data(&buffer, SPA_META_Header, sizeof(spa_meta_header)));
        raw.producerTime = header != nullptr && header->pts >= 0;
        raw.timeNs = raw.producerTime ? header->pts : MonotonicNs();

        std::shared_ptr<VideoFrame> frame = Blank(format);
        VideoFrame::Pixels& p = *frame->pixels;
        // The one copy: the picture's bytes as they are, rows at the producer's stride.
        p.bytes.resize(raw.size);
        std::memcpy(p.bytes.data(), static_cast<const uint8_t*>(data.data) + offset, raw.size);
        raw.data = p.bytes.data();
        p.raw = raw;
        return frame;
    }

    // A frame to write the next picture into: one that came back (its storage is reused),
    // else a new one.
    std::shared_ptr<VideoFrame> Blank(const Negotiated& format) {
        std::shared_ptr<VideoFrame> frame;
        if (spare.empty()) {
            frame = std::make_shared<VideoFrame>();
        } else {
            frame = std::move(spare.back());
            spare.pop_back();
        }
        frame->width = format.width;
        frame->height = format.height;
        frame->sequence = 0;
        // No reader holds it (it came back through the returns' mutex): no lock is needed.
        frame->pixels->converted = false;
        frame->pixels->decoded = false;
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
    return EventTable<pw_stream_events>(PW_VERSION_STREAM_EVENTS, [](pw_stream_events& e) {
        e.state_changed = OnStreamState;
        e.param_changed = OnStreamParam;
        e.process = OnStreamProcess;
    });
}
const pw_core_events& CoreEvents() {
    return EventTable<pw_core_events>(PW_VERSION_CORE_EVENTS,
                                      [](pw_core_events& e) { e.error = OnCoreError; });
}
const pw_registry_events& RegistryEvents() {
    return EventTable<pw_registry_events>(PW_VERSION_REGISTRY_EVENTS, [](pw_registry_events& e) {
        e.global_remove = OnGlobalRemoved;
    });
}

// The formats offered, of media subtype `subtype`: raw (the 32-bit RGB family first, then
// YUY2 and 24-bit RGB; YUY2 alone for a reader of I420) or Motion-JPEG (as most webcams give
// their larger sizes); any size, any rate; the wished ones (within range) preferred.
const spa_pod* EnumFormat(spa_pod_builder* b, const VideoStream::Wish& wish, uint32_t subtype) {
    spa_rectangle size{static_cast<uint32_t>(wish.width), static_cast<uint32_t>(wish.height)},
        smallest{1, 1}, largest{kMaxSide, kMaxSide};
    spa_fraction rate{static_cast<uint32_t>(wish.rate), 1}, slowest{0, 1}, fastest{1000, 1};
    spa_pod_frame frame;
    spa_pod_builder_push_object(b, &frame, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
    spa_pod_builder_add(b, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
                        SPA_FORMAT_mediaSubtype, SPA_POD_Id(subtype), 0);
    if (subtype == SPA_MEDIA_SUBTYPE_raw && wish.yuvOnly) {
        spa_pod_builder_add(b, SPA_FORMAT_VIDEO_format, SPA_POD_Id(SPA_VIDEO_FORMAT_YUY2), 0);
    } else if (subtype == SPA_MEDIA_SUBTYPE_raw) {
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
    s.connection.Close([&s] {
        if (s.stream == nullptr) return;
        // Frames coming back from here on are freed; those kept are freed with the state, once
        // the data thread is gone.
        s.returns->Close();
        pw_stream_destroy(s.stream);
        s.stream = nullptr;
        CountObject(-1);
    });
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
    // The destructor ends what exists when anything fails.
    if (!s.connection.Open(name, fd, CoreEvents(), RegistryEvents(), &s)) return nullptr;
    pw_properties* props =
        pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                          PW_KEY_MEDIA_ROLE, wish.role != nullptr ? wish.role : "Screen", nullptr);
    s.stream = pw_stream_new(s.connection.core, name, props);
    bool ok = s.stream != nullptr;
    if (ok) {
        CountObject(1);
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
    pw_thread_loop_unlock(s.connection.loop);
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
        RawFormat raw;
        if (spa_format_video_raw_parse(param, &info) < 0 || !RawFormatOf(info.format, &raw))
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

}  // namespace pipewire
}  // namespace host
}  // namespace VornWorld
