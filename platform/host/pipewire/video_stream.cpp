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

#include <algorithm>
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

// The format of a raw video format's bytes; false for one not read (I420 and NV12 are read by
// a native stream only).
bool RawFormatOf(uint32_t format, RawFormat* raw, bool native) {
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
        case SPA_VIDEO_FORMAT_I420:
            *raw = RawFormat::I420;
            return native;
        case SPA_VIDEO_FORMAT_NV12:
            *raw = RawFormat::NV12;
            return native;
        default:
            return false;
    }
}

// The planes of a raw format (not Motion-JPEG) of `width` x `height` whose first plane's rows
// are `stride` bytes apart: each plane's bytes of one row, its rows and its stride (a planar
// format's chroma rows are half the luma stride for I420, the whole of it for NV12).
struct PlaneSizes {
    int planes = 1;
    uint64_t rowBytes[3] = {}, rows[3] = {}, stride[3] = {};
};
PlaneSizes PlanesOf(RawFormat format, int width, int height, uint64_t stride) {
    const uint64_t w = static_cast<uint64_t>(width), h = static_cast<uint64_t>(height);
    const uint64_t cw = (w + 1) / 2, ch = (h + 1) / 2;
    PlaneSizes p;
    p.rows[0] = h;
    p.stride[0] = stride;
    switch (format) {
        case RawFormat::RGB:
        case RawFormat::BGR:
            p.rowBytes[0] = w * 3;
            break;
        case RawFormat::YUY2:
            p.rowBytes[0] = cw * 4;
            break;
        case RawFormat::I420:
            p.planes = 3;
            p.rowBytes[0] = w;
            for (int i : {1, 2}) {
                p.rowBytes[i] = cw;
                p.rows[i] = ch;
                p.stride[i] = (stride + 1) / 2;
            }
            break;
        case RawFormat::NV12:
            p.planes = 2;
            p.rowBytes[0] = w;
            p.rowBytes[1] = cw * 2;
            p.rows[1] = ch;
            p.stride[1] = stride;
            break;
        default:
            p.rowBytes[0] = w * 4;
            break;
    }
    return p;
}

// The spa_video_format a stream asks for to read `format` (not Motion-JPEG).
uint32_t SpaFormatOf(RawFormat format) {
    switch (format) {
        case RawFormat::BGRx:
            return SPA_VIDEO_FORMAT_BGRx;
        case RawFormat::RGBx:
            return SPA_VIDEO_FORMAT_RGBx;
        case RawFormat::xRGB:
            return SPA_VIDEO_FORMAT_xRGB;
        case RawFormat::xBGR:
            return SPA_VIDEO_FORMAT_xBGR;
        case RawFormat::RGB:
            return SPA_VIDEO_FORMAT_RGB;
        case RawFormat::BGR:
            return SPA_VIDEO_FORMAT_BGR;
        case RawFormat::YUY2:
            return SPA_VIDEO_FORMAT_YUY2;
        case RawFormat::I420:
            return SPA_VIDEO_FORMAT_I420;
        case RawFormat::NV12:
            return SPA_VIDEO_FORMAT_NV12;
        case RawFormat::MJPEG:
            break;
    }
    return SPA_VIDEO_FORMAT_UNKNOWN;
}

// Bytes of one row of `width` pixels of the first plane (not Motion-JPEG).
uint64_t RowBytes(RawFormat format, int width) { return PlanesOf(format, width, 1, 0).rowBytes[0]; }

// Bytes of a whole picture at its rows' least stride, every plane one after the other.
uint64_t PictureBytes(RawFormat format, int width, int height) {
    const PlaneSizes p = PlanesOf(format, width, height, RowBytes(format, width));
    uint64_t bytes = 0;
    for (int i = 0; i < p.planes; ++i) bytes += p.stride[i] * p.rows[i];
    return bytes;
}

int64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace

bool RawFormatOf(const ReadableFormat& format, RawFormat* raw, bool native) {
    if (!format.jpeg) return RawFormatOf(format.raw, raw, native);
    *raw = RawFormat::MJPEG;
    return true;
}

bool NativeOnly(RawFormat format) { return format == RawFormat::I420 || format == RawFormat::NV12; }

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
    if (NativeOnly(format)) return false;
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
    bool native = false;  // I420 and NV12 read too (Wish::native, Wish::yuvOnly)

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
        Negotiated format = Parse(param, native);
        {
            std::lock_guard<std::mutex> lock(formatMutex);
            negotiated = format;
        }
        if (!format.known) return;
        // Shared memory only: a DMA-BUF would need a mapping this reader cannot count on.
        // A Motion-JPEG image has no rows; its buffers hold three bytes a pixel and headers.
        const bool jpeg = format.format == RawFormat::MJPEG;
        const int stride = jpeg ? 0 : static_cast<int>(RowBytes(format.format, format.width));
        const int size = static_cast<int>(
            jpeg ? PictureBytes(RawFormat::RGB, format.width, format.height) + 65536
                 : PictureBytes(format.format, format.width, format.height));
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
    static Negotiated Parse(const spa_pod* param, bool native) {
        Negotiated format;
        ReadableFormat readable;
        if (!ParseReadable(param, &readable, native)) return format;
        format.known = readable.jpeg || RawFormatOf(readable.raw, &format.format, native);
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
    // inside the buffer. A planar picture lies in one block (its planes one after the other,
    // as a V4L2 device fills it) or one block a plane.
    std::shared_ptr<VideoFrame> Take(pw_buffer* taken, const Negotiated& format) {
        const spa_buffer& buffer = *taken->buffer;
        if (!format.known || buffer.n_datas < 1) return nullptr;
        RawFrame raw;
        raw.format = format.format;
        raw.width = format.width;
        raw.height = format.height;
        // Where each plane lies: its block, its offset there, and its bytes from there.
        struct Source {
            const spa_data* data = nullptr;
            uint64_t offset = 0, size = 0;
        };
        Source from[3];
        const spa_data& first = buffer.datas[0];
        if (first.data == nullptr || first.chunk == nullptr ||
            (first.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) != 0) {
            return nullptr;
        }
        uint64_t total = 0;
        if (format.format == RawFormat::MJPEG) {
            const uint64_t offset = first.chunk->offset, size = first.chunk->size;
            if (offset > first.maxsize || size > first.maxsize - offset || size == 0)
                return nullptr;
            raw.planes = 0;
            from[0] = {&first, offset, size};
            total = size;
        } else {
            const uint64_t row = RowBytes(format.format, format.width);
            const uint64_t stride =
                first.chunk->stride > 0 ? static_cast<uint64_t>(first.chunk->stride) : row;
            const PlaneSizes planes = PlanesOf(format.format, format.width, format.height, stride);
            const bool ownBlocks = planes.planes > 1 && buffer.n_datas >= uint32_t(planes.planes);
            raw.planes = planes.planes;
            uint64_t offset = first.maxsize == 0 ? 0 : first.chunk->offset % first.maxsize;
            for (int i = 0; i < planes.planes; ++i) {
                const spa_data& d = ownBlocks ? buffer.datas[i] : first;
                if (d.data == nullptr || d.chunk == nullptr) return nullptr;
                uint64_t planeStride = planes.stride[i];
                if (ownBlocks && i > 0) {
                    offset = d.maxsize == 0 ? 0 : d.chunk->offset % d.maxsize;
                    if (d.chunk->stride > 0) planeStride = static_cast<uint64_t>(d.chunk->stride);
                }
                // Every plane must lie inside its block, or the picture is not read.
                const uint64_t size = planeStride * (planes.rows[i] - 1) + planes.rowBytes[i];
                if (planeStride < planes.rowBytes[i] || offset + size > d.maxsize) return nullptr;
                from[i] = {&d, offset, size};
                raw.offset[i] = static_cast<size_t>(total);
                raw.strides[i] = static_cast<size_t>(planeStride);
                total += i + 1 < planes.planes ? planeStride * planes.rows[i] : size;
                offset += planeStride * planes.rows[i];
            }
            raw.stride = raw.strides[0];
        }
        raw.size = static_cast<size_t>(total);
        const auto* header = static_cast<const spa_meta_header*>(
            spa_buffer_find_meta_data(&buffer, SPA_META_Header, sizeof(spa_meta_header)));
        raw.producerTime = header != nullptr && header->pts >= 0;
        raw.timeNs = raw.producerTime ? header->pts : MonotonicNs();

        std::shared_ptr<VideoFrame> frame = Blank(format);
        VideoFrame::Pixels& p = *frame->pixels;
        // The one copy: the picture's bytes as they are, rows at the producer's stride.
        p.bytes.resize(raw.size);
        for (int i = 0; i < std::max(raw.planes, 1); ++i) {
            std::memcpy(p.bytes.data() + raw.offset[i],
                        static_cast<const uint8_t*>(from[i].data->data) + from[i].offset,
                        from[i].size);
        }
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
    if (subtype == SPA_MEDIA_SUBTYPE_raw && wish.native && wish.pinned) {
        spa_pod_builder_add(b, SPA_FORMAT_VIDEO_format, SPA_POD_Id(SpaFormatOf(wish.only)), 0);
    } else if (subtype == SPA_MEDIA_SUBTYPE_raw && wish.native) {
        spa_pod_builder_add(b, SPA_FORMAT_VIDEO_format,
                            SPA_POD_CHOICE_ENUM_Id(10, SPA_VIDEO_FORMAT_YUY2, SPA_VIDEO_FORMAT_YUY2,
                                                   SPA_VIDEO_FORMAT_NV12, SPA_VIDEO_FORMAT_I420,
                                                   SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
                                                   SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA,
                                                   SPA_VIDEO_FORMAT_BGR, SPA_VIDEO_FORMAT_RGB),
                            0);
    } else if (subtype == SPA_MEDIA_SUBTYPE_raw && wish.yuvOnly) {
        spa_pod_builder_add(b, SPA_FORMAT_VIDEO_format,
                            SPA_POD_CHOICE_ENUM_Id(4, SPA_VIDEO_FORMAT_YUY2, SPA_VIDEO_FORMAT_YUY2,
                                                   SPA_VIDEO_FORMAT_I420, SPA_VIDEO_FORMAT_NV12),
                            0);
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
    if (wish.native && wish.pinned) {
        spa_pod_builder_add(b, SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size), 0);
    } else {
        spa_pod_builder_add(b, SPA_FORMAT_VIDEO_size,
                            SPA_POD_CHOICE_RANGE_Rectangle(&size, &smallest, &largest), 0);
    }
    spa_pod_builder_add(b, SPA_FORMAT_VIDEO_framerate,
                        SPA_POD_CHOICE_RANGE_Fraction(&rate, &slowest, &fastest), 0);
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
    s.native = wish.native || wish.yuvOnly;
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
        // One format alone where the reader names it.
        const bool jpegOnly = fit.native && fit.pinned && fit.only == RawFormat::MJPEG;
        const bool rawOnly = fit.native && fit.pinned && !jpegOnly;
        const spa_pod* params[2] = {EnumFormat(&b, fit, SPA_MEDIA_SUBTYPE_raw),
                                    EnumFormat(&b, fit, SPA_MEDIA_SUBTYPE_mjpg)};
        const spa_pod** offered = jpegOnly ? params + 1 : params;
        const uint32_t count = jpegOnly || rawOnly ? 1 : 2;
        // The node by its id, as the portal names it (target.object would take a serial or
        // a name).
        uint32_t target = node >= 0 ? static_cast<uint32_t>(node) : PW_ID_ANY;
        ok = pw_stream_connect(s.stream, PW_DIRECTION_INPUT, target,
                               static_cast<pw_stream_flags>(
                                   PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                   PW_STREAM_FLAG_DONT_RECONNECT | PW_STREAM_FLAG_RT_PROCESS),
                               offered, count) == 0;
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

bool ParseReadable(const spa_pod* param, ReadableFormat* format, bool native) {
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
        if (spa_format_video_raw_parse(param, &info) < 0 || !RawFormatOf(info.format, &raw, native))
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
