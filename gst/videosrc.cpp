// vornvideosrc: a live source of the screen, a window or a camera of the library, as
// video/x-raw BGR (top row first) or I420 (the library's converter).
#include <gst/base/gstpushsrc.h>
#include <gst/video/video.h>

#include <cmath>
#include <cstring>

#include "capture.h"
#include "elements.h"
#include "image.h"

GST_DEBUG_CATEGORY_STATIC(vorn_video_debug);
#define GST_CAT_DEFAULT vorn_video_debug

namespace {

// The frame rate offered first where the device has none of its own.
constexpr int kDefaultRate = 20;

struct VideoState : vorngst::ElementState {
    GstVideoInfo info;
    bool negotiated = false;
    // What a window or camera delivers when opened as it likes (the caps it offers), read
    // once the element starts.
    bool probed = false;
    vmcapture::StreamFormat probe;
    vmcapture::I420Maker maker;
    uint64_t frames = 0;
    uint64_t lostSeen = 0;
    bool warnedSize = false;
};

}  // namespace

struct VornVideoSrc : vorngst::SourceInstance {};
struct VornVideoSrcClass {
    GstPushSrcClass parent_class;
};

G_DEFINE_TYPE(VornVideoSrc, vorn_video_src, GST_TYPE_PUSH_SRC)

namespace {

VideoState& State(gpointer self) {
    return static_cast<VideoState&>(*reinterpret_cast<VornVideoSrc*>(self)->state);
}

GstStructure* VideoStructure(const char* format, guint width, guint height) {
    GstStructure* s = gst_structure_new("video/x-raw", "format", G_TYPE_STRING, format,
                                        "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
    GValue value = G_VALUE_INIT;
    for (const char* field : {"width", "height"}) {
        const guint side = std::strcmp(field, "width") == 0 ? width : height;
        if (side != 0) {
            gst_structure_set(s, field, G_TYPE_INT, static_cast<int>(side), nullptr);
        } else {
            g_value_init(&value, GST_TYPE_INT_RANGE);
            gst_value_set_int_range(&value, 1, static_cast<int>(vmcapture::kMaxSide));
            gst_structure_set_value(s, field, &value);
            g_value_unset(&value);
        }
    }
    return s;
}

void SetRate(GstCaps* caps, const vmcapture::StreamFormat* fixed) {
    GValue value = G_VALUE_INIT;
    if (fixed != nullptr && fixed->frameInterval != 0) {
        int numerator = 0, denominator = 1;
        gst_util_double_to_fraction(fixed->DeviceRate(), &numerator, &denominator);
        g_value_init(&value, GST_TYPE_FRACTION);
        gst_value_set_fraction(&value, numerator, denominator);
    } else {
        g_value_init(&value, GST_TYPE_FRACTION_RANGE);
        gst_value_set_fraction_range_full(&value, 1, 1, 1000, 1);
    }
    gst_caps_set_value(caps, "framerate", &value);
    g_value_unset(&value);
}

// A screen size: sizes up to it (the region from the top-left corner). Otherwise a fixed size.
GstCaps* CapsUpTo(guint width, guint height, bool upTo) {
    GstCaps* caps = gst_caps_new_empty();
    for (const char* format : {"BGR", "I420"}) {
        GstStructure* s = VideoStructure(format, upTo ? 0 : width, upTo ? 0 : height);
        if (upTo && width != 0) {
            GValue value = G_VALUE_INIT;
            g_value_init(&value, GST_TYPE_INT_RANGE);
            gst_value_set_int_range(&value, 1, static_cast<int>(width));
            gst_structure_set_value(s, "width", &value);
            gst_value_set_int_range(&value, 1, static_cast<int>(height));
            gst_structure_set_value(s, "height", &value);
            g_value_unset(&value);
        }
        gst_caps_append_structure(caps, s);
    }
    return caps;
}

GstCaps* CurrentCaps(VideoState& state) {
    const bool desktop = state.session.IsKind("desktop");
    if (desktop) {
        const vmcapture::ScreenExtent screen = vmcapture::ScreenSize();
        GstCaps* caps = CapsUpTo(screen.width, screen.height, true);
        SetRate(caps, nullptr);
        return caps;
    }
    if (!state.probed) return nullptr;
    GstCaps* caps = CapsUpTo(state.probe.width, state.probe.height, false);
    SetRate(caps, state.session.IsKind("camera") ? &state.probe : nullptr);
    return caps;
}

void Fail(VornVideoSrc* self, const std::string& text, bool notFound) {
    if (notFound)
        GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("%s", text.c_str()), (nullptr));
    else
        GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ, ("%s", text.c_str()), (nullptr));
}

gboolean Start(GstBaseSrc* base) {
    auto* self = reinterpret_cast<VornVideoSrc*>(base);
    VideoState& state = State(self);
    std::string error;
    const vorngst::DeviceChoice choice = state.settings.Choice();
    if (choice.kind == "microphone") {
        Fail(self, "vornvideosrc captures video: kind desktop, window or camera", true);
        return FALSE;
    }
    if (!state.session.Find(choice, error)) {
        Fail(self, error, true);
        return FALSE;
    }
    state.negotiated = false;
    state.probed = false;
    if (!state.session.IsKind("desktop")) {
        // A window delivers its client size, a camera what it connects at: opened once as it
        // likes, it tells the caps to offer; it stays open for a negotiation that agrees.
        if (!state.session.Open(vmcapture::CaptureRequest{}, error)) {
            Fail(self, "cannot open " + choice.kind + " " + choice.device + ": " + error, false);
            return FALSE;
        }
        state.probe = state.session.Format();
        state.probed = true;
    }
    state.frames = 0;
    state.lostSeen = 0;
    state.warnedSize = false;
    state.time.Reset();
    return TRUE;
}

gboolean Stop(GstBaseSrc* base) {
    VideoState& state = State(base);
    state.session.Close();
    state.negotiated = false;
    state.probed = false;
    return TRUE;
}

GstCaps* GetCaps(GstBaseSrc* base, GstCaps* filter) {
    VideoState& state = State(base);
    GstCaps* caps = nullptr;
    if (state.negotiated) {
        caps = gst_video_info_to_caps(&state.info);
    } else {
        caps = CurrentCaps(state);
        if (caps == nullptr) caps = gst_pad_get_pad_template_caps(GST_BASE_SRC_PAD(base));
    }
    if (filter != nullptr) {
        GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(caps);
        caps = both;
    }
    return caps;
}

GstCaps* Fixate(GstBaseSrc* base, GstCaps* caps) {
    VideoState& state = State(base);
    caps = gst_caps_make_writable(caps);
    caps = gst_caps_truncate(caps);
    GstStructure* s = gst_caps_get_structure(caps, 0);
    // The whole screen (or the device's size), at the device's rate or the tool's default.
    vmcapture::ScreenExtent size = vmcapture::ScreenSize();
    if (state.probed) size = {state.probe.width, state.probe.height};
    gst_structure_fixate_field_nearest_int(s, "width", static_cast<int>(size.width));
    gst_structure_fixate_field_nearest_int(s, "height", static_cast<int>(size.height));
    gst_structure_fixate_field_nearest_fraction(s, "framerate", kDefaultRate, 1);
    return GST_BASE_SRC_CLASS(vorn_video_src_parent_class)->fixate(base, caps);
}

gboolean SetCaps(GstBaseSrc* base, GstCaps* caps) {
    auto* self = reinterpret_cast<VornVideoSrc*>(base);
    VideoState& state = State(self);
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, caps) || info.fps_n <= 0 || info.fps_d <= 0) return FALSE;
    const auto width = static_cast<uint32_t>(GST_VIDEO_INFO_WIDTH(&info));
    const auto height = static_cast<uint32_t>(GST_VIDEO_INFO_HEIGHT(&info));
    if (GST_VIDEO_INFO_FORMAT(&info) == GST_VIDEO_FORMAT_I420 && (width % 2 || height % 2)) {
        GST_WARNING_OBJECT(self, "I420 wants an even width and height, not %ux%u", width, height);
        return FALSE;
    }
    const double rate = static_cast<double>(info.fps_n) / info.fps_d;
    vmcapture::CaptureRequest request;
    request.sizeGiven = true;
    request.width = width;
    request.height = height;
    request.frameRate = static_cast<uint32_t>(std::lround(std::max(1.0, std::min(rate, 1000.0))));
    // An open device that delivers the size keeps running unless a window's rate changes.
    const vmcapture::StreamFormat& open = state.session.Format();
    const bool keep = state.session.IsOpen() && open.width == width && open.height == height &&
                      (state.session.IsKind("camera") || open.frameRate == request.frameRate);
    std::string error;
    if (!keep && !state.session.Open(request, error)) {
        Fail(self, "cannot open the device: " + error, false);
        return FALSE;
    }
    const vmcapture::StreamFormat& format = state.session.Format();
    if (format.width != width || format.height != height) {
        GST_ELEMENT_ERROR(self, CORE, NEGOTIATION,
                          ("the device delivers %ux%u, not the %ux%u negotiated", format.width,
                           format.height, width, height),
                          (nullptr));
        return FALSE;
    }
    state.info = info;
    state.negotiated = true;
    gst_base_src_set_blocksize(base, static_cast<guint>(GST_VIDEO_INFO_SIZE(&info)));
    return TRUE;
}

gboolean Query(GstBaseSrc* base, GstQuery* query) {
    VideoState& state = State(base);
    if (GST_QUERY_TYPE(query) == GST_QUERY_LATENCY) {
        if (!state.negotiated) return FALSE;
        // A frame is stamped when it is taken, a period after the device began it at most;
        // the push queue holds up to 32 frames.
        const GstClockTime period =
            gst_util_uint64_scale_int(GST_SECOND, state.info.fps_d, state.info.fps_n);
        gst_query_set_latency(query, TRUE, period, period * 32);
        return TRUE;
    }
    return GST_BASE_SRC_CLASS(vorn_video_src_parent_class)->query(base, query);
}

// Writes the device's bottom-up frame into the buffer in the negotiated format.
bool FillFrame(VideoState& state, const vmcapture::ImageView& view, GstBuffer* buffer) {
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &state.info, buffer, GST_MAP_WRITE)) return false;
    const uint32_t width = view.width, height = view.height;
    bool ok = true;
    if (GST_VIDEO_INFO_FORMAT(&state.info) == GST_VIDEO_FORMAT_BGR) {
        auto* out = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
        const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
        for (uint32_t y = 0; y < height; ++y)
            std::memcpy(out + static_cast<size_t>(y) * stride, view.Row(y),
                        static_cast<size_t>(width) * 3);
    } else if ((ok = state.maker.Convert(view, width, height))) {
        for (int plane = 0; plane < 3; ++plane) {
            const vmcapture::I420Maker::Plane in = state.maker.PlaneAt(plane);
            const uint32_t rows = plane == 0 ? height : height / 2;
            const size_t row = plane == 0 ? width : width / 2;
            auto* out = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, plane));
            const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, plane);
            for (uint32_t y = 0; y < rows && (y + 1) * row <= in.size; ++y)
                std::memcpy(out + static_cast<size_t>(y) * stride, in.bytes + y * row, row);
        }
    }
    gst_video_frame_unmap(&frame);
    return ok;
}

GstFlowReturn Create(GstPushSrc* push, GstBuffer** out) {
    auto* self = reinterpret_cast<VornVideoSrc*>(push);
    VideoState& state = State(self);
    if (!state.negotiated) return GST_FLOW_NOT_NEGOTIATED;
    const auto width = static_cast<uint32_t>(GST_VIDEO_INFO_WIDTH(&state.info));
    const auto height = static_cast<uint32_t>(GST_VIDEO_INFO_HEIGHT(&state.info));
    for (;;) {
        const uint8_t* data = nullptr;
        size_t size = 0;
        double seconds = 0;
        const GstFlowReturn taken = vorngst::TakeUnit(push, data, size, seconds);
        if (taken != GST_FLOW_OK) return taken;
        vmcapture::ImageView view;
        if (!vmcapture::DeviceFrameView(data, size, width, height, view)) {
            // A window that changed size: its frames no longer fit the caps.
            if (!state.warnedSize)
                GST_ELEMENT_WARNING(self, STREAM, FORMAT,
                                    ("a frame of %zu bytes does not fit %ux%u; such frames are "
                                     "dropped",
                                     size, width, height),
                                    (nullptr));
            state.warnedSize = true;
            continue;
        }
        GstBuffer* buffer =
            gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&state.info), nullptr);
        if (!FillFrame(state, view, buffer)) {
            gst_buffer_unref(buffer);
            GST_ELEMENT_ERROR(self, STREAM, FAILED, ("the frame could not be converted"),
                              (nullptr));
            return GST_FLOW_ERROR;
        }
        GST_BUFFER_PTS(buffer) = state.time.Map(GST_ELEMENT(self), seconds);
        GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
        GST_BUFFER_DURATION(buffer) =
            gst_util_uint64_scale_int(GST_SECOND, state.info.fps_d, state.info.fps_n);
        GST_BUFFER_OFFSET(buffer) = state.frames;
        GST_BUFFER_OFFSET_END(buffer) = state.frames + 1;
        // Frames the device made that never came here: the stream has a gap.
        const uint64_t lost = state.session.Lost();
        if (state.frames == 0 || lost != state.lostSeen) {
            GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
            if (lost != state.lostSeen)
                GST_WARNING_OBJECT(self, "%" G_GUINT64_FORMAT " frames lost so far", lost);
            state.lostSeen = lost;
        }
        ++state.frames;
        *out = buffer;
        return GST_FLOW_OK;
    }
}

}  // namespace

GstCaps* VornVideoCaps(guint width, guint height) {
    GstCaps* caps = CapsUpTo(width, height, true);
    SetRate(caps, nullptr);
    return caps;
}

static void vorn_video_src_class_init(VornVideoSrcClass* klass) {
    GST_DEBUG_CATEGORY_INIT(vorn_video_debug, "vornvideosrc", 0, "Vorn video source");
    auto* object = G_OBJECT_CLASS(klass);
    auto* element = GST_ELEMENT_CLASS(klass);
    auto* base = GST_BASE_SRC_CLASS(klass);
    vorngst::InstallCommon(object, true, "desktop");
    gst_element_class_set_static_metadata(
        element, "Vorn video source", "Source/Video",
        "Captures the screen, a window or a camera through VornMediaCapture",
        "VornMediaCapture developers");
    GstCaps* caps = VornVideoCaps(0, 0);
    gst_element_class_add_pad_template(
        element, gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, caps));
    gst_caps_unref(caps);
    base->start = Start;
    base->stop = Stop;
    base->get_caps = GetCaps;
    base->fixate = Fixate;
    base->set_caps = SetCaps;
    base->query = Query;
    GST_PUSH_SRC_CLASS(klass)->create = Create;
}

static void vorn_video_src_init(VornVideoSrc* self) {
    self->state = new VideoState;
    self->state->settings.Update([](vorngst::DeviceChoice& choice) {
        choice.kind = "desktop";
        choice.device = "0";
    });
    gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}
