// SPDX-License-Identifier: MIT
// A PipeWire video source of a known picture for the portal tests: a driving node that paints
// every pixel in one colour, at a fixed size and rate, into shared-memory buffers.
//
//   vmc_test_producer NAME WIDTHxHEIGHT RATE RRGGBB [BGRx|RGBx|xRGB|xBGR [WIDTHxHEIGHT@FRAMES]]
//
// With the last argument the picture takes the second size after that many frames (a monitor
// change), renegotiating the stream's format. With VMC_TEST_PRODUCER_MARK set in the environment
// a 16 x 16 square at the top-left corner takes another grey each frame, so every frame differs
// from the one before (for the benchmarks that count repeats).
#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

struct Producer {
    pw_main_loop* loop = nullptr;
    pw_stream* stream = nullptr;
    spa_source* timer = nullptr;
    spa_hook listener{};
    uint32_t width = 0, height = 0, rate = 0;
    uint8_t pixel[4] = {};  // one pixel in the stream's byte order
    spa_video_format format = SPA_VIDEO_FORMAT_BGRx;
    uint64_t frames = 0;
    uint32_t nextWidth = 0, nextHeight = 0;
    bool marked = false;              // the frame's grey square
    unsigned long long resizeAt = 0;  // 0: never
};

// The one format offered: the producer's format, size and rate.
const spa_pod* Format(const Producer& p, spa_pod_builder* b) {
    spa_rectangle size{p.width, p.height};
    spa_fraction rate{p.rate, 1};
    return static_cast<const spa_pod*>(spa_pod_builder_add_object(
        b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format, SPA_POD_Id(p.format),
        SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size), SPA_FORMAT_VIDEO_framerate,
        SPA_POD_Fraction(&rate)));
}

void OnProcess(void* data) {
    auto* p = static_cast<Producer*>(data);
    pw_buffer* buffer = pw_stream_dequeue_buffer(p->stream);
    if (buffer == nullptr) return;
    spa_data& d = buffer->buffer->datas[0];
    const uint32_t stride = p->width * 4;
    if (d.data != nullptr && d.maxsize >= stride * p->height) {
        auto* bytes = static_cast<uint8_t*>(d.data);
        for (uint32_t i = 0; i < p->width * p->height; ++i) std::memcpy(bytes + i * 4, p->pixel, 4);
        const int grey = static_cast<int>(p->frames * 53 % 256);
        for (uint32_t y = 0; p->marked && y < 16 && y < p->height; ++y)
            std::memset(bytes + y * stride, grey, 4 * std::min<uint32_t>(16, p->width));
        d.chunk->offset = 0;
        d.chunk->stride = static_cast<int32_t>(stride);
        d.chunk->size = stride * p->height;
        ++p->frames;
    }
    pw_stream_queue_buffer(p->stream, buffer);
    if (p->resizeAt != 0 && p->frames == p->resizeAt) {
        p->width = p->nextWidth;
        p->height = p->nextHeight;
        uint8_t pod[512];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(pod, sizeof(pod));
        const spa_pod* params[1] = {Format(*p, &b)};
        pw_stream_update_params(p->stream, params, 1);
    }
}

void OnParamChanged(void* data, uint32_t id, const spa_pod* param) {
    auto* p = static_cast<Producer*>(data);
    if (param == nullptr || id != SPA_PARAM_Format) return;
    uint8_t buffer[256];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    const spa_pod* params[1] = {static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
        SPA_PARAM_BUFFERS_size, SPA_POD_Int(static_cast<int>(p->width * 4 * p->height)),
        SPA_PARAM_BUFFERS_stride, SPA_POD_Int(static_cast<int>(p->width * 4)),
        SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))))};
    pw_stream_update_params(p->stream, params, 1);
}

void OnStateChanged(void* data, pw_stream_state, pw_stream_state state, const char*) {
    auto* p = static_cast<Producer*>(data);
    // Frames are paced by our timer while someone reads them.
    timespec next{0, 1}, interval{0, static_cast<long>(1000000000L / p->rate)};
    if (state == PW_STREAM_STATE_STREAMING) {
        pw_loop_update_timer(pw_main_loop_get_loop(p->loop), p->timer, &next, &interval, false);
    } else {
        timespec off{0, 0};
        pw_loop_update_timer(pw_main_loop_get_loop(p->loop), p->timer, &off, &off, false);
    }
}

void OnTimer(void* data, uint64_t) {
    auto* p = static_cast<Producer*>(data);
    pw_stream_trigger_process(p->stream);
}

Producer* running = nullptr;
void OnSignal(void*, int) { pw_main_loop_quit(running->loop); }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s NAME WIDTHxHEIGHT RATE RRGGBB [FORMAT [WxH@FRAMES]]\n",
                     argv[0]);
        return 2;
    }
    Producer p;
    running = &p;
    p.marked = std::getenv("VMC_TEST_PRODUCER_MARK") != nullptr;
    unsigned color = 0;
    if (std::sscanf(argv[2], "%ux%u", &p.width, &p.height) != 2 || p.width == 0 || p.height == 0 ||
        p.width > 8192 || p.height > 8192 || std::sscanf(argv[3], "%u", &p.rate) != 1 ||
        p.rate == 0 || p.rate > 1000 || std::sscanf(argv[4], "%x", &color) != 1 ||
        (argc > 6 &&
         (std::sscanf(argv[6], "%ux%u@%llu", &p.nextWidth, &p.nextHeight, &p.resizeAt) != 3 ||
          p.nextWidth == 0 || p.nextHeight == 0 || p.nextWidth > 8192 || p.nextHeight > 8192))) {
        std::fprintf(stderr, "bad arguments\n");
        return 2;
    }
    const uint8_t r = color >> 16 & 0xFF, g = color >> 8 & 0xFF, bl = color & 0xFF;
    // The formats offered, each with its pixel's bytes in memory order.
    const struct {
        const char* name;
        spa_video_format format;
        uint8_t bytes[4];
    } formats[] = {
        {"BGRx", SPA_VIDEO_FORMAT_BGRx, {bl, g, r, 0xFF}},
        {"RGBx", SPA_VIDEO_FORMAT_RGBx, {r, g, bl, 0xFF}},
        {"xRGB", SPA_VIDEO_FORMAT_xRGB, {0xFF, r, g, bl}},
        {"xBGR", SPA_VIDEO_FORMAT_xBGR, {0xFF, bl, g, r}},
    };
    const char* wanted = argc > 5 ? argv[5] : "BGRx";
    const auto* f = std::find_if(std::begin(formats), std::end(formats), [&](const auto& entry) {
        return std::strcmp(wanted, entry.name) == 0;
    });
    if (f == std::end(formats)) {
        std::fprintf(stderr, "unknown format %s\n", wanted);
        return 2;
    }
    p.format = f->format;
    std::memcpy(p.pixel, f->bytes, 4);

    pw_init(&argc, &argv);
    p.loop = pw_main_loop_new(nullptr);
    pw_loop_add_signal(pw_main_loop_get_loop(p.loop), SIGINT, OnSignal, &p);
    pw_loop_add_signal(pw_main_loop_get_loop(p.loop), SIGTERM, OnSignal, &p);
    p.timer = pw_loop_add_timer(pw_main_loop_get_loop(p.loop), OnTimer, &p);
    p.stream = pw_stream_new_simple(
        pw_main_loop_get_loop(p.loop), argv[1],
        pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_NODE_NAME, argv[1],
                          PW_KEY_MEDIA_TYPE, "Video", nullptr),
        [] {
            static pw_stream_events e{};
            e.version = PW_VERSION_STREAM_EVENTS;
            e.process = OnProcess;
            e.param_changed = OnParamChanged;
            e.state_changed = OnStateChanged;
            return &e;
        }(),
        &p);
    uint8_t buffer[512];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    const spa_pod* params[1] = {Format(p, &b)};
    if (pw_stream_connect(
            p.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
            static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS),
            params, 1) < 0) {
        std::fprintf(stderr, "cannot connect the stream\n");
        return 1;
    }
    pw_main_loop_run(p.loop);
    pw_stream_destroy(p.stream);
    pw_main_loop_destroy(p.loop);
    pw_deinit();
    std::fprintf(stderr, "%llu frames\n", static_cast<unsigned long long>(p.frames));
    return 0;
}
