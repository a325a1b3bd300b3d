// vornaudiosrc: a live source of a microphone of the library, as audio/x-raw in the PCM format
// the device delivers (8-bit unsigned, or 16, 24, 32-bit signed little-endian samples).
#include <gst/audio/audio.h>
#include <gst/base/gstpushsrc.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "capture.h"
#include "elements.h"

GST_DEBUG_CATEGORY_STATIC(vorn_audio_debug);
#define GST_CAT_DEFAULT vorn_audio_debug

namespace {

// A buffer whose device time lies further than this after the end of the samples counted so
// far starts the count afresh there, marked as a break in the stream (samples were lost). One
// that comes early (a late pull's neighbour) is counted on: the stream never overlaps itself.
constexpr GstClockTime kResyncAfter = 40 * GST_MSECOND;
// The latency assumed until the first buffer tells its length.
constexpr GstClockTime kFirstLatency = 20 * GST_MSECOND;

struct AudioState : vorngst::ElementState {
    GstAudioInfo info;
    bool negotiated = false;
    // Samples since the stream (re)started at `startTime`.
    GstClockTime startTime = GST_CLOCK_TIME_NONE;
    uint64_t samples = 0;
    uint64_t offset = 0;
    GstClockTime bufferTime = kFirstLatency;
    uint64_t lostSeen = 0;
    // What the device lists, read when the element starts.
    std::vector<vmcapture::StreamFormat> formats;
};

const char* FormatName(uint32_t bits) {
    switch (bits) {
        case 8:
            return "U8";
        case 16:
            return "S16LE";
        case 24:
            return "S24LE";
        case 32:
            return "S32LE";
        default:
            return nullptr;
    }
}

// The device's formats, those nearest 48000 Hz, 16 bits, stereo first (the first is the one
// taken when downstream does not mind).
GstCaps* DeviceCaps(std::vector<vmcapture::StreamFormat> formats) {
    const auto distance = [](const vmcapture::StreamFormat& f) {
        return (f.sampleRate != 48000) + (f.bitsPerSample != 16) + (f.channels != 2);
    };
    std::stable_sort(formats.begin(), formats.end(),
                     [&](const auto& a, const auto& b) { return distance(a) < distance(b); });
    GstCaps* caps = gst_caps_new_empty();
    for (const vmcapture::StreamFormat& f : formats) {
        const char* name = FormatName(f.bitsPerSample);
        if (name == nullptr || f.channels > 2) continue;
        gst_caps_append_structure(
            caps, gst_structure_new("audio/x-raw", "format", G_TYPE_STRING, name, "rate",
                                    G_TYPE_INT, static_cast<int>(f.sampleRate), "channels",
                                    G_TYPE_INT, static_cast<int>(f.channels), "layout",
                                    G_TYPE_STRING, "interleaved", nullptr));
    }
    return caps;
}

}  // namespace

struct VornAudioSrc : vorngst::SourceInstance {};
struct VornAudioSrcClass {
    GstPushSrcClass parent_class;
};

G_DEFINE_TYPE(VornAudioSrc, vorn_audio_src, GST_TYPE_PUSH_SRC)

namespace {

AudioState& State(gpointer self) {
    return static_cast<AudioState&>(*reinterpret_cast<VornAudioSrc*>(self)->state);
}

gboolean Start(GstBaseSrc* base) {
    auto* self = reinterpret_cast<VornAudioSrc*>(base);
    AudioState& state = State(self);
    vorngst::DeviceChoice choice = state.settings.Choice();
    choice.kind = "microphone";
    std::string error;
    if (!state.session.Find(choice, error)) {
        GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("%s", error.c_str()), (nullptr));
        return FALSE;
    }
    state.negotiated = false;
    state.formats = state.session.MicrophoneFormats();
    state.startTime = GST_CLOCK_TIME_NONE;
    state.samples = state.offset = state.lostSeen = 0;
    state.bufferTime = kFirstLatency;
    state.time.Reset();
    return TRUE;
}

gboolean Stop(GstBaseSrc* base) {
    AudioState& state = State(base);
    state.session.Close();
    state.negotiated = false;
    return TRUE;
}

GstCaps* GetCaps(GstBaseSrc* base, GstCaps* filter) {
    AudioState& state = State(base);
    GstCaps* caps = state.negotiated         ? gst_audio_info_to_caps(&state.info)
                    : !state.formats.empty() ? DeviceCaps(state.formats)
                                             : VornAudioCaps();
    if (filter != nullptr) {
        GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(caps);
        caps = both;
    }
    return caps;
}

GstCaps* Fixate(GstBaseSrc* base, GstCaps* caps) {
    caps = gst_caps_truncate(gst_caps_make_writable(caps));
    GstStructure* s = gst_caps_get_structure(caps, 0);
    gst_structure_fixate_field_nearest_int(s, "rate", 48000);
    gst_structure_fixate_field_nearest_int(s, "channels", 2);
    gst_structure_fixate_field_string(s, "format", "S16LE");
    return GST_BASE_SRC_CLASS(vorn_audio_src_parent_class)->fixate(base, caps);
}

gboolean SetCaps(GstBaseSrc* base, GstCaps* caps) {
    auto* self = reinterpret_cast<VornAudioSrc*>(base);
    AudioState& state = State(self);
    GstAudioInfo info;
    if (!gst_audio_info_from_caps(&info, caps)) return FALSE;
    vmcapture::CaptureRequest request;
    request.sampleRate = static_cast<uint32_t>(GST_AUDIO_INFO_RATE(&info));
    request.channels = static_cast<uint32_t>(GST_AUDIO_INFO_CHANNELS(&info));
    request.bitsPerSample = static_cast<uint32_t>(GST_AUDIO_INFO_WIDTH(&info));
    std::string error;
    if (!state.session.Open(request, error)) {
        GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ, ("cannot open the device: %s", error.c_str()),
                          (nullptr));
        return FALSE;
    }
    const vmcapture::StreamFormat& format = state.session.Format();
    if (format.sampleRate != request.sampleRate || format.channels != request.channels ||
        format.bitsPerSample != request.bitsPerSample) {
        const std::string delivered =
            vmcapture::AudioText(format.sampleRate, format.bitsPerSample, format.channels);
        GST_ELEMENT_ERROR(self, CORE, NEGOTIATION,
                          ("the device delivers %s, not the format negotiated", delivered.c_str()),
                          (nullptr));
        state.session.Close();
        return FALSE;
    }
    state.info = info;
    state.negotiated = true;
    return TRUE;
}

gboolean Query(GstBaseSrc* base, GstQuery* query) {
    AudioState& state = State(base);
    if (GST_QUERY_TYPE(query) == GST_QUERY_LATENCY) {
        if (!state.negotiated) return FALSE;
        // A buffer is stamped with the time of its first sample and leaves once it is full;
        // the push queue holds up to 32 buffers.
        gst_query_set_latency(query, TRUE, state.bufferTime, state.bufferTime * 32);
        return TRUE;
    }
    return GST_BASE_SRC_CLASS(vorn_audio_src_parent_class)->query(base, query);
}

GstFlowReturn Create(GstPushSrc* push, GstBuffer** out) {
    auto* self = reinterpret_cast<VornAudioSrc*>(push);
    AudioState& state = State(self);
    if (!state.negotiated) return GST_FLOW_NOT_NEGOTIATED;
    const uint32_t frameBytes = static_cast<uint32_t>(GST_AUDIO_INFO_BPF(&state.info));
    const uint32_t rate = static_cast<uint32_t>(GST_AUDIO_INFO_RATE(&state.info));
    for (;;) {
        const uint8_t* data = nullptr;
        size_t size = 0;
        double seconds = 0;
        const GstFlowReturn taken = vorngst::TakeUnit(push, data, size, seconds);
        if (taken != GST_FLOW_OK) return taken;
        const size_t count = size / frameBytes;
        if (count == 0) continue;
        if (count * frameBytes != size)
            GST_WARNING_OBJECT(self, "a buffer of %zu bytes ends in a partial sample", size);
        // Stamped by the samples counted since the start, so the stream has no gaps or
        // overlaps, unless samples were lost or the device's clock runs ahead by more than
        // kResyncAfter.
        const GstClockTime deviceTime = state.time.Map(GST_ELEMENT(self), seconds);
        const uint64_t lost = state.session.Lost();
        const bool started = GST_CLOCK_TIME_IS_VALID(state.startTime);
        const GstClockTime expected =
            started ? state.startTime + gst_util_uint64_scale_int(state.samples, GST_SECOND, rate)
                    : 0;
        bool discont = !started || lost != state.lostSeen;
        if (started && deviceTime > expected + kResyncAfter) {
            discont = true;
            GST_WARNING_OBJECT(self,
                               "device time %" GST_TIME_FORMAT " is %" GST_TIME_FORMAT
                               " after the samples counted; starting afresh",
                               GST_TIME_ARGS(deviceTime), GST_TIME_ARGS(deviceTime - expected));
        }
        GstClockTime pts = expected;
        if (discont) {
            pts = std::max(deviceTime, expected);
            state.startTime = pts;
            state.samples = 0;
            state.lostSeen = lost;
        }
        GstBuffer* buffer = gst_buffer_new_memdup(data, count * frameBytes);
        state.samples += count;
        const GstClockTime end =
            state.startTime + gst_util_uint64_scale_int(state.samples, GST_SECOND, rate);
        GST_BUFFER_PTS(buffer) = pts;
        GST_BUFFER_DURATION(buffer) = end - pts;
        GST_BUFFER_OFFSET(buffer) = state.offset;
        state.offset += count;
        GST_BUFFER_OFFSET_END(buffer) = state.offset;
        if (discont) GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
        if (end - pts != state.bufferTime) {
            state.bufferTime = end - pts;
            gst_element_post_message(GST_ELEMENT(self), gst_message_new_latency(GST_OBJECT(self)));
        }
        *out = buffer;
        return GST_FLOW_OK;
    }
}

}  // namespace

GstCaps* VornAudioCaps() {
    GstCaps* caps = gst_caps_from_string(
        "audio/x-raw, format=(string){ S16LE, S24LE, S32LE, U8 }, rate=(int)[ 1000, 384000 ], "
        "channels=(int)[ 1, 2 ], layout=(string)interleaved");
    return caps;
}

static void vorn_audio_src_class_init(VornAudioSrcClass* klass) {
    GST_DEBUG_CATEGORY_INIT(vorn_audio_debug, "vornaudiosrc", 0, "Vorn audio source");
    auto* object = G_OBJECT_CLASS(klass);
    auto* element = GST_ELEMENT_CLASS(klass);
    auto* base = GST_BASE_SRC_CLASS(klass);
    vorngst::InstallCommon(object, false, nullptr);
    gst_element_class_set_static_metadata(element, "Vorn audio source", "Source/Audio",
                                          "Captures a microphone through VornMediaCapture",
                                          "VornMediaCapture developers");
    GstCaps* caps = VornAudioCaps();
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

static void vorn_audio_src_init(VornAudioSrc* self) {
    self->state = new AudioState;
    self->state->settings.Update([](vorngst::DeviceChoice& choice) { choice.device = "0"; });
    gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}
