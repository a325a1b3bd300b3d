// SPDX-License-Identifier: MIT
// vornvideosrc: a live source of the screen, a window or a camera of the library, as
// video/x-raw BGR (top row first) or I420 (the library's converter). An X screen is also offered
// as it lies in the display's shared memory, BGRx, lent into the buffers without a copy; the
// screen of a Wayland session likewise, in the portal stream's own format (BGRx, RGBx, ...). A
// PipeWire camera is offered in its own formats first (image/jpeg, YUY2, NV12, I420 at its
// modes), lent into the buffers as they arrived, then as BGR and I420 converted once (I420 of a
// Motion-JPEG mode first in the JPEG's own full range, as its decoder gives it).
#include <gst/base/gstpushsrc.h>
#include <gst/video/video.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "cameramode.h"
#include "camerasource.h"
#include "capture.h"
#include "convert.h"
#include "elements.h"
#include "image.h"
#include "portalscreen.h"
#include "x11screen.h"

GST_DEBUG_CATEGORY_STATIC(vorn_video_debug);
#define GST_CAT_DEFAULT vorn_video_debug

namespace {

// The frame rate offered first where the device has none of its own.
constexpr int kDefaultRate = 20;
// Give up on a screen or camera that gives no frame for this long.
constexpr gint64 kSilentMicroseconds = 5000000;
// How long a take waits for a frame of the portal's screen or a camera before looking again.
constexpr int kTakeWaitMs = 20;
// What FromPool returns for a camera's JPEG image that does not decode: no buffer, no error.
constexpr GstFlowReturn kUndecodable = GST_FLOW_CUSTOM_SUCCESS_1;

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
            gst_value_set_int_range(&value, 1, static_cast<int>(VornCapture::kMaxSide));
            gst_structure_set_value(s, field, &value);
            g_value_unset(&value);
        }
    }
    return s;
}

void SetRate(GstCaps* caps, const VornCapture::StreamFormat* fixed) {
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
// With `lent` (a raw format's name), the screen's own format first, at its whole size only (any
// size for a template).
GstCaps* CapsUpTo(guint width, guint height, bool upTo, const char* lent = nullptr) {
    GstCaps* caps = gst_caps_new_empty();
    if (lent != nullptr) gst_caps_append_structure(caps, VideoStructure(lent, width, height));
    for (const char* format : {"BGR", "I420"}) {
        if (lent != nullptr && std::strcmp(format, lent) == 0) continue;
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

// GStreamer's name of a raw format of the frame path.
GstVideoFormat GstFormatOf(VornCapture::PixelFormat format) {
    using VornCapture::PixelFormat;
    switch (format) {
        case PixelFormat::BGRx:
            return GST_VIDEO_FORMAT_BGRx;
        case PixelFormat::RGBx:
            return GST_VIDEO_FORMAT_RGBx;
        case PixelFormat::BGR24:
            return GST_VIDEO_FORMAT_BGR;
        case PixelFormat::RGB24:
            return GST_VIDEO_FORMAT_RGB;
        case PixelFormat::I420:
            return GST_VIDEO_FORMAT_I420;
        case PixelFormat::NV12:
            return GST_VIDEO_FORMAT_NV12;
        case PixelFormat::YUY2:
            return GST_VIDEO_FORMAT_YUY2;
        case PixelFormat::MJPEG:
            break;
    }
    return GST_VIDEO_FORMAT_UNKNOWN;
}

// The caps of one camera mode in `format` (image/jpeg for Motion-JPEG) at the mode's size and
// rate (any rate where the camera fixes none).
GstStructure* ModeStructure(const VornCapture::CameraMode& mode, VornCapture::PixelFormat format) {
    GstStructure* s =
        format == VornCapture::PixelFormat::MJPEG
            ? gst_structure_new("image/jpeg", "width", G_TYPE_INT, static_cast<int>(mode.width),
                                "height", G_TYPE_INT, static_cast<int>(mode.height), nullptr)
            : VideoStructure(gst_video_format_to_string(GstFormatOf(format)), mode.width,
                             mode.height);
    if (mode.rateDenom != 0 && mode.rateNum != 0)
        gst_structure_set(s, "framerate", GST_TYPE_FRACTION, static_cast<int>(mode.rateNum),
                          static_cast<int>(mode.rateDenom), nullptr);
    else
        gst_structure_set(s, "framerate", GST_TYPE_FRACTION_RANGE, 1, 1, 1000, 1, nullptr);
    return s;
}

bool SameSizeAndRate(const VornCapture::CameraMode& a, const VornCapture::CameraMode& b) {
    return a.width == b.width && a.height == b.height && a.rateNum == b.rateNum &&
           a.rateDenom == b.rateDenom;
}

// The colorimetry of I420 decoded from a JPEG: full range, BT.601 (its chroma sited as JPEG's).
constexpr const char* kJpegColorimetry = "1:4:0:0";

// A camera's caps: every mode in its own format, in the camera's order, then each mode's size
// and rate as BGR and as I420 (even sizes), converted once. A Motion-JPEG mode that no raw mode
// of the same size and rate stands beside offers I420 in the JPEG's full range first: its
// planes as decoded, without the pass into video range (which the plain I420 after it makes).
// A raw mode's I420 comes first where there is one: it is the cheaper conversion.
GstCaps* CameraCaps(const std::vector<VornCapture::CameraMode>& modes) {
    using VornCapture::PixelFormat;
    GstCaps* caps = gst_caps_new_empty();
    for (const VornCapture::CameraMode& mode : modes)
        caps = gst_caps_merge_structure(caps, ModeStructure(mode, mode.format));
    for (const VornCapture::CameraMode& mode : modes) {
        caps = gst_caps_merge_structure(caps, ModeStructure(mode, PixelFormat::BGR24));
        if (mode.width % 2 != 0 || mode.height % 2 != 0) continue;
        const bool rawTwin = std::any_of(modes.begin(), modes.end(), [&](const auto& other) {
            return other.format != PixelFormat::MJPEG && SameSizeAndRate(other, mode);
        });
        if (mode.format == PixelFormat::MJPEG && !rawTwin) {
            GstStructure* full = ModeStructure(mode, PixelFormat::I420);
            gst_structure_set(full, "colorimetry", G_TYPE_STRING, kJpegColorimetry, "chroma-site",
                              G_TYPE_STRING, "jpeg", nullptr);
            caps = gst_caps_merge_structure(caps, full);
        }
        caps = gst_caps_merge_structure(caps, ModeStructure(mode, PixelFormat::I420));
    }
    return caps;
}

// The mode a camera runs in for caps of `format` at `width` x `height` and `rate` (n/d): the
// mode in that format itself where there is one (its frames pass through); else, for BGR or
// I420, the mode of that size and rate whose frames convert cheapest (planar YUV, then packed,
// then Motion-JPEG); I420 of full range from a Motion-JPEG mode only. Null when none fits.
const VornCapture::CameraMode* ModeFor(const std::vector<VornCapture::CameraMode>& modes,
                                       VornCapture::PixelFormat format, uint32_t width,
                                       uint32_t height, int rateNum, int rateDenom,
                                       bool fullRange) {
    using VornCapture::PixelFormat;
    auto fits = [&](const VornCapture::CameraMode& mode) {
        const bool anyRate = mode.rateNum == 0 || mode.rateDenom == 0;
        return mode.width == width && mode.height == height &&
               (anyRate || gst_util_fraction_compare(static_cast<int>(mode.rateNum),
                                                     static_cast<int>(mode.rateDenom), rateNum,
                                                     rateDenom) == 0);
    };
    for (const auto& mode : modes)
        if (mode.format == format && fits(mode) && !fullRange) return &mode;
    if (format != PixelFormat::BGR24 && format != PixelFormat::I420) return nullptr;
    for (PixelFormat from : VornCapture::kRawFirst) {
        if (fullRange && from != PixelFormat::MJPEG) continue;
        for (const auto& mode : modes)
            if (mode.format == from && fits(mode)) return &mode;
    }
    return nullptr;
}

struct VideoState : vorngst::ElementState {
    GstVideoInfo info;
    // What a window or camera delivers when opened as it likes (the caps it offers), read
    // once the element starts.
    bool probed = false;
    VornCapture::StreamFormat probe;
    VornCapture::I420Maker maker;
    uint64_t frames = 0;
    bool warnedSize = false;
    // The negotiated frames' buffers, handed out again once downstream lets go of them, so a
    // frame is written into memory already mapped (and often still cached).
    GstBufferPool* pool = nullptr;
    // The desktop is an X screen or a portal's screen whose frames can be lent (found at
    // Begin), in `lentFormat`; the caps negotiated take it whole or convert a region of it: the
    // element then takes its frames itself, without the device.
    bool lendable = false;
    bool direct = false;
    VornCapture::PixelFormat lentFormat = VornCapture::PixelFormat::BGRx;
    VornCapture::X11Screen screen;
    VornCapture::PortalScreen portal;
    bool portalScreen = false;
    // The portal's last frame, given again while the compositor sends nothing newer (it sends
    // a frame only when the screen changed), and when it was taken (monotonic, ns).
    VornCapture::VideoFrame portalHeld;
    gint64 portalHeldAtNs = 0;
    uint64_t skippedSeen = 0;
    gint64 nextDueNs = 0;
    uint64_t lastSequence = 0;
    // A camera whose frames come in its own format (found at Begin): the element then takes
    // them itself, passing them through in that format or converting each once.
    VornCapture::CameraSource camera;
    bool cameraFound = false;
    bool cameraRuns = false;
    bool passThrough = false;
    bool fullRange = false;         // I420 in the JPEG's own full range
    GstCaps* cameraCaps = nullptr;  // the caps negotiated with it
    uint64_t cameraLostSeen = 0;
    uint64_t undecoded = 0;    // the camera's JPEG images passed over
    bool undecodable = false;  // the last conversion met a JPEG image that does not decode

    ~VideoState() override {
        DropPool();
        DropCameraCaps();
    }

    void DropCameraCaps() {
        if (cameraCaps != nullptr) gst_caps_unref(cameraCaps);
        cameraCaps = nullptr;
    }

    void DropPool() {
        if (pool == nullptr) return;
        gst_buffer_pool_set_active(pool, FALSE);
        gst_object_unref(pool);
        pool = nullptr;
    }

    bool MakePool(GstCaps* caps) {
        DropPool();
        pool = gst_video_buffer_pool_new();
        GstStructure* config = gst_buffer_pool_get_config(pool);
        gst_buffer_pool_config_set_params(config, caps, static_cast<guint>(info.size), 2, 0);
        if (!gst_buffer_pool_set_config(pool, config) || !gst_buffer_pool_set_active(pool, TRUE)) {
            DropPool();
            return false;
        }
        return true;
    }

    bool Choose(vorngst::DeviceChoice& choice, std::string& error) override {
        if (choice.kind != "microphone") return true;
        error = "vornvideosrc captures video: kind desktop, window or camera";
        return false;
    }

    bool Begin() override {
        probed = false;
        frames = 0;
        warnedSize = false;
        direct = false;
        lendable = false;
        cameraFound = cameraRuns = false;
        portalScreen = false;
        lentFormat = VornCapture::PixelFormat::BGRx;
        if (session.IsKind("desktop") && VornCapture::PortalScreen::InUse()) {
            // The portal's screen in its own format, unless a delivery of the library's device
            // is asked for; the device reads it where it cannot be lent.
            std::string why = "a delivery of the desktop device asked for";
            if (settings.Choice().via.empty() && portal.Open(why, 3000)) {
                lendable = portalScreen = true;
                lentFormat = portal.Format();
            } else {
                GST_INFO_OBJECT(element, "the screen through the desktop device: %s", why.c_str());
            }
            return true;
        }
        if (session.IsKind("desktop")) {
            // The X screen's own frames, unless a delivery of the desktop device is asked for.
            lendable = settings.Choice().via.empty() && VornCapture::X11Screen::Usable();
            return true;
        }
        // A camera asked without a delivery (push or pull exercise the library's devices) is
        // taken in its own formats where it can be.
        if (session.IsKind("camera") && settings.Choice().via.empty()) {
            std::string why;
            cameraFound = camera.Find(session.Selection(), why);
            if (cameraFound) return true;
            GST_INFO_OBJECT(element, "the camera through the library's device: %s", why.c_str());
        }
        // A window delivers its client size, a camera what it connects at: opened once as it
        // likes, it tells the caps to offer; it stays open for a negotiation that agrees.
        std::string error;
        if (!session.Open(VornCapture::CaptureRequest{}, error)) {
            const vorngst::DeviceChoice choice = settings.Choice();
            GST_ELEMENT_ERROR(element, RESOURCE, OPEN_READ,
                              ("cannot open %s %s: %s", choice.kind.c_str(), choice.device.c_str(),
                               error.c_str()),
                              (nullptr));
            return false;
        }
        probe = session.Format();
        probed = true;
        return true;
    }

    void End() override {
        probed = false;
        direct = false;
        portalHeld = VornCapture::VideoFrame{};
        portal.Close();
        portalScreen = false;
        camera.Close();
        cameraFound = cameraRuns = false;
        DropCameraCaps();
        DropPool();
    }

    GstCaps* NegotiatedCaps() override {
        if (cameraRuns) return gst_caps_ref(cameraCaps);
        return gst_video_info_to_caps(&info);
    }

    GstCaps* OfferedCaps() override {
        if (cameraFound) return CameraCaps(camera.Modes());
        if (session.IsKind("desktop")) {
            const VornCapture::ScreenExtent screen = WholeScreen();
            GstCaps* caps =
                CapsUpTo(screen.width, screen.height, true,
                         lendable ? gst_video_format_to_string(GstFormatOf(lentFormat)) : nullptr);
            SetRate(caps, nullptr);
            return caps;
        }
        if (!probed) return gst_pad_get_pad_template_caps(GST_BASE_SRC_PAD(element));
        GstCaps* caps = CapsUpTo(probe.width, probe.height, false);
        SetRate(caps, session.IsKind("camera") ? &probe : nullptr);
        return caps;
    }

    // The whole screen (or the device's size), at the device's rate or the tool's default.
    void Fixate(GstStructure* s) override {
        VornCapture::ScreenExtent size = WholeScreen();
        if (probed) size = {probe.width, probe.height};
        if (cameraFound) size = {camera.Modes()[0].width, camera.Modes()[0].height};
        gst_structure_fixate_field_nearest_int(s, "width", static_cast<int>(size.width));
        gst_structure_fixate_field_nearest_int(s, "height", static_cast<int>(size.height));
        gst_structure_fixate_field_nearest_fraction(s, "framerate", kDefaultRate, 1);
    }

    bool Negotiate(GstCaps* caps) override {
        fullRange = false;
        if (cameraFound) return NegotiateCamera(caps);
        GstVideoInfo asked;
        if (!gst_video_info_from_caps(&asked, caps) || asked.fps_n <= 0 || asked.fps_d <= 0)
            return false;
        const auto width = static_cast<uint32_t>(GST_VIDEO_INFO_WIDTH(&asked));
        const auto height = static_cast<uint32_t>(GST_VIDEO_INFO_HEIGHT(&asked));
        if (GST_VIDEO_INFO_FORMAT(&asked) == GST_VIDEO_FORMAT_I420 && (width % 2 || height % 2)) {
            GST_WARNING_OBJECT(element, "I420 wants an even width and height, not %ux%u", width,
                               height);
            return false;
        }
        const VornCapture::ScreenExtent whole = WholeScreen();
        const bool lent = GST_VIDEO_INFO_FORMAT(&asked) == GstFormatOf(lentFormat) ||
                          GST_VIDEO_INFO_FORMAT(&asked) == GST_VIDEO_FORMAT_BGRx;
        // The screen's own format is lent whole; a conversion reads the region from the
        // screen's top-left corner.
        direct = lendable && (lent ? GST_VIDEO_INFO_FORMAT(&asked) == GstFormatOf(lentFormat) &&
                                         width == whole.width && height == whole.height
                                   : width <= whole.width && height <= whole.height &&
                                         VORN_CAPTURE_HAS_CONVERT);
        if (lent && !direct) {
            GST_WARNING_OBJECT(element, "%s is the whole screen's own format only",
                               gst_video_format_to_string(GST_VIDEO_INFO_FORMAT(&asked)));
            return false;
        }
        if (direct) {
            // The frames are the screen's own: the device is not opened at all.
            session.Close();
            info = asked;
            nextDueNs = 0;
            lastSequence = 0;
            skippedSeen = 0;
            if (lent) {
                DropPool();
            } else if (!MakePool(caps)) {
                GST_ELEMENT_ERROR(element, RESOURCE, NO_SPACE_LEFT, ("no buffers for the frames"),
                                  (nullptr));
                return false;
            }
            gst_base_src_set_blocksize(element, static_cast<guint>(GST_VIDEO_INFO_SIZE(&info)));
            return true;
        }
        const double rate = static_cast<double>(asked.fps_n) / asked.fps_d;
        VornCapture::CaptureRequest request;
        request.sizeGiven = true;
        request.width = width;
        request.height = height;
        request.frameRate =
            static_cast<uint32_t>(std::lround(std::max(1.0, std::min(rate, 1000.0))));
        // An open device that delivers the size keeps running unless a window's rate changes.
        const VornCapture::StreamFormat& open = session.Format();
        const bool keep = session.IsOpen() && open.width == width && open.height == height &&
                          (session.IsKind("camera") || open.frameRate == request.frameRate);
        if (!keep && !OpenDevice(request)) return false;
        const VornCapture::StreamFormat& format = session.Format();
        if (format.width != width || format.height != height) {
            GST_ELEMENT_ERROR(element, CORE, NEGOTIATION,
                              ("the device delivers %ux%u, not the %ux%u negotiated", format.width,
                               format.height, width, height),
                              (nullptr));
            return false;
        }
        info = asked;
        if (!MakePool(caps)) {
            GST_ELEMENT_ERROR(element, RESOURCE, NO_SPACE_LEFT, ("no buffers for the frames"),
                              (nullptr));
            return false;
        }
        gst_base_src_set_blocksize(element, static_cast<guint>(GST_VIDEO_INFO_SIZE(&info)));
        return true;
    }

    // Starts the camera in the mode the caps ask: in that format itself (its frames pass
    // through), or a mode of that size and rate converted once into BGR or I420.
    bool NegotiateCamera(GstCaps* caps) {
        const GstStructure* s = gst_caps_get_structure(caps, 0);
        int width = 0, height = 0, rateNum = 0, rateDenom = 0;
        if (!gst_structure_get_int(s, "width", &width) ||
            !gst_structure_get_int(s, "height", &height) ||
            !gst_structure_get_fraction(s, "framerate", &rateNum, &rateDenom) || width <= 0 ||
            height <= 0 || rateNum <= 0 || rateDenom <= 0)
            return false;
        VornCapture::PixelFormat format = VornCapture::PixelFormat::MJPEG;
        gst_video_info_init(&info);
        if (!gst_structure_has_name(s, "image/jpeg")) {
            if (!gst_video_info_from_caps(&info, caps)) return false;
            bool known = false;
            for (auto f : {VornCapture::PixelFormat::BGRx, VornCapture::PixelFormat::RGBx,
                           VornCapture::PixelFormat::BGR24, VornCapture::PixelFormat::RGB24,
                           VornCapture::PixelFormat::I420, VornCapture::PixelFormat::NV12,
                           VornCapture::PixelFormat::YUY2})
                if (GstFormatOf(f) == GST_VIDEO_INFO_FORMAT(&info)) {
                    format = f;
                    known = true;
                }
            if (!known) return false;
        }
        info.fps_n = rateNum;
        info.fps_d = rateDenom;
        fullRange = format == VornCapture::PixelFormat::I420 &&
                    info.colorimetry.range == GST_VIDEO_COLOR_RANGE_0_255;
        const VornCapture::CameraMode* mode =
            ModeFor(camera.Modes(), format, static_cast<uint32_t>(width),
                    static_cast<uint32_t>(height), rateNum, rateDenom, fullRange);
        if (mode == nullptr) {
            GST_WARNING_OBJECT(element, "the camera has no mode for %" GST_PTR_FORMAT, caps);
            return false;
        }
        passThrough = mode->format == format;
        std::string error;
        if (!camera.Open(*mode, error)) {
            GST_ELEMENT_ERROR(element, RESOURCE, OPEN_READ,
                              ("cannot open camera %s: %s", camera.Name().c_str(), error.c_str()),
                              (nullptr));
            return false;
        }
        GST_INFO_OBJECT(element, "camera in %s %ux%u, %s",
                        VornCapture::PixelFormatName(mode->format), mode->width, mode->height,
                        passThrough ? "passed through" : "converted");
        if (!passThrough && !MakePool(caps)) {
            GST_ELEMENT_ERROR(element, RESOURCE, NO_SPACE_LEFT, ("no buffers for the frames"),
                              (nullptr));
            return false;
        }
        if (passThrough) DropPool();
        DropCameraCaps();
        cameraCaps = gst_caps_copy(caps);
        cameraRuns = true;
        cameraLostSeen = 0;
        undecoded = 0;
        return true;
    }

    // The camera's next frame: passed through lent, or converted once into the pool's buffer.
    GstFlowReturn ProduceCamera(GstBuffer** out) {
        VornCapture::VideoFrame frame;
        const std::string what = "camera " + camera.Name();
        GstFlowReturn made = kUndecodable;
        const gint64 began = g_get_monotonic_time();
        while (made == kUndecodable) {
            if (g_get_monotonic_time() - began > kSilentMicroseconds) {
                GST_ELEMENT_ERROR(element, STREAM, DECODE,
                                  ("%s: no image that decodes for 5 s", what.c_str()), (nullptr));
                return GST_FLOW_ERROR;
            }
            const GstFlowReturn taken = Await([&] { return camera.Take(frame, kTakeWaitMs); },
                                              [&] { return camera.Ended(); }, what.c_str());
            if (taken != GST_FLOW_OK) return taken;
            made = Deliver(frame, passThrough, out);
            // A JPEG image that does not decode (cut short or corrupt) is passed over and
            // counted as lost, as the library's devices drop theirs; said once.
            if (made == kUndecodable && undecoded++ == 0)
                GST_ELEMENT_WARNING(element, STREAM, DECODE,
                                    ("%s: a Motion-JPEG image did not decode; such images are "
                                     "passed over and counted as lost",
                                     what.c_str()),
                                    (nullptr));
        }
        if (made != GST_FLOW_OK) return made;
        // Frames the camera made that never came here: the stream has a gap.
        const uint64_t lost = camera.Lost() + undecoded;
        if (lost > cameraLostSeen && frames > 1) {
            GST_BUFFER_FLAG_SET(*out, GST_BUFFER_FLAG_DISCONT);
            GST_WARNING_OBJECT(element, "%" G_GUINT64_FORMAT " camera frames lost so far", lost);
        }
        cameraLostSeen = lost;
        return GST_FLOW_OK;
    }

    // Takes with `take` until it gives a frame: FLUSHING when the element flushes, an error
    // once `ended` says the source went away or after kSilentMicroseconds without a frame.
    template <class Take, class Ended>
    GstFlowReturn Await(Take take, Ended ended, const char* what) {
        const gint64 began = g_get_monotonic_time();
        while (!take()) {
            if (session.Flushing()) return GST_FLOW_FLUSHING;
            const bool gone = ended();
            if (gone || g_get_monotonic_time() - began > kSilentMicroseconds) {
                GST_ELEMENT_ERROR(
                    element, RESOURCE, READ,
                    ("%s %s", what, gone ? "went away" : "delivered no frame for 5 s"), (nullptr));
                return GST_FLOW_ERROR;
            }
        }
        return GST_FLOW_OK;
    }

    // A frame of a source's own: lent as it is, or converted once into a buffer of the pool.
    GstFlowReturn Deliver(const VornCapture::VideoFrame& frame, bool lend, GstBuffer** out) {
        const double seconds = static_cast<double>(frame.timeNs) / 1e9;
        if (!lend)
            return FromPool([&](GstBuffer* buffer) { return ConvertInto(frame, buffer); }, seconds,
                            out);
        *out = Lend(frame);
        Stamp(*out, seconds);
        return GST_FLOW_OK;
    }

    // The whole screen: the portal's frames' size, else the desktop device's.
    VornCapture::ScreenExtent WholeScreen() const {
        if (portalScreen) return {portal.Width(), portal.Height()};
        return VornCapture::ScreenSize();
    }

    // A frame is stamped when it is taken, a period after the device began it at most.
    GstClockTime Latency() const override {
        return gst_util_uint64_scale_int(GST_SECOND, info.fps_d, info.fps_n);
    }

    GstFlowReturn Make(const uint8_t* data, size_t size, double seconds, GstBuffer** out) override {
        const auto width = static_cast<uint32_t>(GST_VIDEO_INFO_WIDTH(&info));
        const auto height = static_cast<uint32_t>(GST_VIDEO_INFO_HEIGHT(&info));
        VornCapture::ImageView view;
        if (!VornCapture::DeviceFrameView(data, size, width, height, view)) {
            // A window that changed size: its frames no longer fit the caps.
            if (!warnedSize)
                GST_ELEMENT_WARNING(element, STREAM, FORMAT,
                                    ("a frame of %zu bytes does not fit %ux%u; such frames are "
                                     "dropped",
                                     size, width, height),
                                    (nullptr));
            warnedSize = true;
            return GST_FLOW_CUSTOM_SUCCESS;
        }
        return FromPool([&](GstBuffer* buffer) { return Fill(view, buffer); }, seconds, out);
    }

    // A buffer of the pool that `write` fills with the frame, stamped with its time.
    template <class Write>
    GstFlowReturn FromPool(Write write, double seconds, GstBuffer** out) {
        GstBuffer* buffer = nullptr;
        const GstFlowReturn acquired = gst_buffer_pool_acquire_buffer(pool, &buffer, nullptr);
        if (acquired != GST_FLOW_OK) return acquired;
        undecodable = false;
        if (!write(buffer)) {
            gst_buffer_unref(buffer);
            if (undecodable) return kUndecodable;
            GST_ELEMENT_ERROR(element, STREAM, FAILED, ("the frame could not be converted"),
                              (nullptr));
            return GST_FLOW_ERROR;
        }
        Stamp(buffer, seconds);
        *out = buffer;
        return GST_FLOW_OK;
    }

    void Stamp(GstBuffer* buffer, double seconds) {
        GST_BUFFER_PTS(buffer) = time.Map(GST_ELEMENT(element), seconds);
        GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
        GST_BUFFER_DURATION(buffer) = Latency();
        GST_BUFFER_OFFSET(buffer) = frames;
        GST_BUFFER_OFFSET_END(buffer) = frames + 1;
        // Frames the device made that never came here: the stream has a gap.
        const bool gap = LostMore();
        if (frames == 0 || gap) GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
        if (gap) GST_WARNING_OBJECT(element, "%" G_GUINT64_FORMAT " frames lost so far", lostSeen);
        ++frames;
    }

    bool OwnFrames() const override { return direct || cameraRuns; }

    // One frame of the lent screen a period, none made up when late: the screen's own format
    // lent as it is, the others converted once into a buffer of the pool.
    GstFlowReturn Produce(GstBuffer** out) override {
        if (cameraRuns) return ProduceCamera(out);
        const gint64 period = static_cast<gint64>(Latency());
        gint64 now = g_get_monotonic_time() * 1000;
        if (nextDueNs == 0) nextDueNs = now;
        while (now < nextDueNs) {
            if (session.Flushing()) return GST_FLOW_FLUSHING;
            g_usleep(static_cast<gulong>(std::min<gint64>((nextDueNs - now) / 1000 + 1, 5000)));
            now = g_get_monotonic_time() * 1000;
        }
        nextDueNs = nextDueNs + period < now ? now : nextDueNs + period;

        // The portal's next frame, or its last one again while the screen is still; or the X
        // screen now, once a copy of it is free (every copy may be held downstream: wait for
        // one to come back).
        VornCapture::VideoFrame frame;
        const GstFlowReturn taken =
            portalScreen ? TakePortal(frame, period)
                         : Await(
                               [&] {
                                   if (screen.Take(frame)) return true;
                                   g_usleep(2000);
                                   return false;
                               },
                               [] { return false; }, "the X screen (every frame held downstream?)");
        if (taken != GST_FLOW_OK) return taken;
        const uint32_t screenWidth = frame.width, screenHeight = frame.height;
        const bool whole = screenWidth == static_cast<uint32_t>(GST_VIDEO_INFO_WIDTH(&info)) &&
                           screenHeight == static_cast<uint32_t>(GST_VIDEO_INFO_HEIGHT(&info));
        const bool lend = GST_VIDEO_INFO_FORMAT(&info) == GstFormatOf(lentFormat);
        if (!(lend ? whole && frame.format == lentFormat
                   : VornCapture::CropTopLeft(frame, GST_VIDEO_INFO_WIDTH(&info),
                                              GST_VIDEO_INFO_HEIGHT(&info)))) {
            GST_ELEMENT_ERROR(
                element, STREAM, FORMAT,
                ("the screen is now %ux%u %s, which does not hold the %dx%d %s "
                 "negotiated",
                 screenWidth, screenHeight, VornCapture::PixelFormatName(frame.format),
                 GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info),
                 GST_VIDEO_INFO_NAME(&info)),
                (nullptr));
            return GST_FLOW_ERROR;
        }
        if (frame.sequence == lastSequence)
            GST_LOG_OBJECT(element, "screen unchanged since frame %" G_GUINT64_FORMAT,
                           frame.sequence);
        lastSequence = frame.sequence;
        // Frames of the portal's screen made since the last one taken: fewer a second asked
        // for than the compositor made, or a consumer slower than it.
        if (portalScreen && portal.Skipped() > skippedSeen) {
            GST_DEBUG_OBJECT(element, "%" G_GUINT64_FORMAT " screen frames passed over so far",
                             portal.Skipped());
            skippedSeen = portal.Skipped();
        }
        return Deliver(frame, lend, out);
    }

    // The portal's next frame, waited for up to half a period. Where none came and the cast runs
    // on, the screen is still: its last frame again, the same picture under the same sequence
    // number, stamped as now on that frame's clock (its time plus the time since it came).
    // Before any frame, and once the cast ended, as Await says.
    GstFlowReturn TakePortal(VornCapture::VideoFrame& frame, gint64 periodNs) {
        const int waitMs = static_cast<int>(std::min<gint64>(periodNs / 2000000 + 1, 500));
        if (portal.Take(frame, waitMs)) {
            portalHeld = frame;
            portalHeldAtNs = g_get_monotonic_time() * 1000;
            return GST_FLOW_OK;
        }
        if (portalHeld.planes[0].data == nullptr || portal.Ended()) {
            const GstFlowReturn taken =
                Await([&] { return portal.Take(frame, kTakeWaitMs); },
                      [&] { return portal.Ended(); }, "the portal's screen");
            if (taken != GST_FLOW_OK) return taken;
            portalHeld = frame;
            portalHeldAtNs = g_get_monotonic_time() * 1000;
            return GST_FLOW_OK;
        }
        frame = portalHeld;
        frame.timeNs += g_get_monotonic_time() * 1000 - portalHeldAtNs;
        return GST_FLOW_OK;
    }

    // A buffer over the frame's own bytes, read-only, its planes (which lie in one block, in
    // order) described by a video meta; the frame's lease goes with the buffer.
    GstBuffer* Lend(const VornCapture::VideoFrame& frame) {
        const VornCapture::Shape shape =
            VornCapture::ShapeOf(frame.format, frame.width, frame.height);
        const int planes = std::max(shape.planes, 1);
        const uint8_t* start = frame.planes[0].data;
        const VornCapture::Plane& last = frame.planes[planes - 1];
        const auto length = static_cast<gsize>(last.data + last.length - start);
        auto* lease = new VornCapture::Keeper(frame.keeper);
        GstBuffer* buffer = gst_buffer_new_wrapped_full(
            GST_MEMORY_FLAG_READONLY, const_cast<gpointer>(static_cast<const void*>(start)), length,
            0, length, lease,
            [](gpointer kept) { delete static_cast<VornCapture::Keeper*>(kept); });
        if (frame.format == VornCapture::PixelFormat::MJPEG) return buffer;
        gsize offset[GST_VIDEO_MAX_PLANES] = {0};
        gint stride[GST_VIDEO_MAX_PLANES] = {0};
        for (int p = 0; p < shape.planes; ++p) {
            offset[p] = static_cast<gsize>(frame.planes[p].data - start);
            stride[p] = static_cast<gint>(frame.planes[p].stride);
        }
        gst_buffer_add_video_meta_full(buffer, GST_VIDEO_FRAME_FLAG_NONE, GstFormatOf(frame.format),
                                       frame.width, frame.height, static_cast<guint>(shape.planes),
                                       offset, stride);
        return buffer;
    }

    // Converts the lent frame once, straight into the buffer in the negotiated format.
    bool ConvertInto(const VornCapture::VideoFrame& source, GstBuffer* buffer) {
#if VORN_CAPTURE_HAS_CONVERT
        GstVideoFrame mapped;
        if (!gst_video_frame_map(&mapped, &info, buffer, GST_MAP_WRITE)) return false;
        VornCapture::FrameTarget target;
        target.format = GST_VIDEO_INFO_FORMAT(&info) == GST_VIDEO_FORMAT_BGR
                            ? VornCapture::PixelFormat::BGR24
                            : VornCapture::PixelFormat::I420;
        target.width = source.width;
        target.height = source.height;
        target.range = fullRange && target.format == VornCapture::PixelFormat::I420
                           ? VornCapture::YuvRange::Full
                           : VornCapture::YuvRange::Video;
        for (guint p = 0; p < GST_VIDEO_FRAME_N_PLANES(&mapped) && p < 3; ++p) {
            const auto stride = static_cast<size_t>(GST_VIDEO_FRAME_PLANE_STRIDE(&mapped, p));
            target.planes[p] = {
                static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&mapped, p)), stride,
                stride * static_cast<size_t>(GST_VIDEO_FRAME_COMP_HEIGHT(&mapped, p))};
        }
        const VornCapture::ConvertError error = VornCapture::Convert(source, target);
        gst_video_frame_unmap(&mapped);
        undecodable = source.format == VornCapture::PixelFormat::MJPEG &&
                      error == VornCapture::ConvertError::Failed;
        return error == VornCapture::ConvertError::None;
#else
        (void)source;
        (void)buffer;
        return false;
#endif
    }

    // Writes the device's bottom-up frame into the buffer in the negotiated format.
    bool Fill(const VornCapture::ImageView& view, GstBuffer* buffer) {
        GstVideoFrame frame;
        if (!gst_video_frame_map(&frame, &info, buffer, GST_MAP_WRITE)) return false;
        const uint32_t width = view.width, height = view.height;
        bool ok = true;
        if (GST_VIDEO_INFO_FORMAT(&info) == GST_VIDEO_FORMAT_BGR) {
            auto* out = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
            const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
            for (uint32_t y = 0; y < height; ++y)
                std::memcpy(out + static_cast<size_t>(y) * stride, view.Row(y),
                            static_cast<size_t>(width) * 3);
        } else if ((ok = maker.Convert(view, width, height))) {
            for (int plane = 0; plane < 3; ++plane) {
                const VornCapture::I420Maker::Plane in = maker.PlaneAt(plane);
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
};

}  // namespace

using VornVideoSrc = vorngst::SourceInstance;
using VornVideoSrcClass = vorngst::SourceClass;

G_DEFINE_TYPE(VornVideoSrc, vorn_video_src, GST_TYPE_PUSH_SRC)

GstCaps* VornVideoCaps(guint width, guint height) {
    GstCaps* caps = CapsUpTo(width, height, true);
    SetRate(caps, nullptr);
    return caps;
}

// Every format the element may give: the lent screen's BGRx too, and a camera's own formats.
static GstCaps* TemplateCaps() {
    GstCaps* caps = CapsUpTo(0, 0, true, "BGRx");
    for (const char* format : {"YUY2", "NV12", "RGBx", "RGB"})
        gst_caps_append_structure(caps, VideoStructure(format, 0, 0));
    GstStructure* jpeg = VideoStructure("", 0, 0);
    gst_structure_set_name(jpeg, "image/jpeg");
    gst_structure_remove_fields(jpeg, "format", "pixel-aspect-ratio", nullptr);
    gst_caps_append_structure(caps, jpeg);
    SetRate(caps, nullptr);
    return caps;
}

static void vorn_video_src_class_init(VornVideoSrcClass* klass) {
    GST_DEBUG_CATEGORY_INIT(vorn_video_debug, "vornvideosrc", 0, "Vorn video source");
    vorngst::InitClass(klass, {"Vorn video source", "Source/Video",
                               "Captures the screen, a window or a camera through VornMediaCapture",
                               TemplateCaps(), true, "desktop"});
}

static void vorn_video_src_init(VornVideoSrc* self) {
    vorngst::InitInstance(self, new VideoState, "desktop");
}
