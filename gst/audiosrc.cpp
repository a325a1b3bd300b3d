// SPDX-License-Identifier: MIT
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
GstCaps* DeviceCaps(std::vector<VornCapture::StreamFormat> formats) {
    const auto distance = [](const VornCapture::StreamFormat& f) {
        return (f.sampleRate != 48000) + (f.bitsPerSample != 16) + (f.channels != 2);
    };
    std::stable_sort(formats.begin(), formats.end(),
                     [&](const auto& a, const auto& b) { return distance(a) < distance(b); });
    GstCaps* caps = gst_caps_new_empty();
    for (const VornCapture::StreamFormat& f : formats) {
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

struct AudioState : vorngst::ElementState {
    GstAudioInfo info;
    // Samples since the stream (re)started at `startTime`.
    GstClockTime startTime = GST_CLOCK_TIME_NONE;
    uint64_t samples = 0;
    uint64_t offset = 0;
    GstClockTime bufferTime = kFirstLatency;
    // What the device lists, read when the element starts.
    std::vector<VornCapture::StreamFormat> formats;

    bool Choose(vorngst::DeviceChoice& choice, std::string&) override {
        choice.kind = "microphone";
        return true;
    }

    bool Begin() override {
        formats = session.MicrophoneFormats();
        startTime = GST_CLOCK_TIME_NONE;
        samples = offset = 0;
        bufferTime = kFirstLatency;
        return true;
    }

    GstCaps* NegotiatedCaps() override { return gst_audio_info_to_caps(&info); }

    GstCaps* OfferedCaps() override {
        return !formats.empty() ? DeviceCaps(formats) : VornAudioCaps();
    }

    void Fixate(GstStructure* s) override {
        gst_structure_fixate_field_nearest_int(s, "rate", 48000);
        gst_structure_fixate_field_nearest_int(s, "channels", 2);
        gst_structure_fixate_field_string(s, "format", "S16LE");
    }

    bool Negotiate(GstCaps* caps) override {
        GstAudioInfo asked;
        if (!gst_audio_info_from_caps(&asked, caps)) return false;
        VornCapture::CaptureRequest request;
        request.sampleRate = static_cast<uint32_t>(GST_AUDIO_INFO_RATE(&asked));
        request.channels = static_cast<uint32_t>(GST_AUDIO_INFO_CHANNELS(&asked));
        request.bitsPerSample = static_cast<uint32_t>(GST_AUDIO_INFO_WIDTH(&asked));
        if (!OpenDevice(request)) return false;
        const VornCapture::StreamFormat& format = session.Format();
        if (format.sampleRate != request.sampleRate || format.channels != request.channels ||
            format.bitsPerSample != request.bitsPerSample) {
            const std::string delivered =
                VornCapture::AudioText(format.sampleRate, format.bitsPerSample, format.channels);
            GST_ELEMENT_ERROR(
                element, CORE, NEGOTIATION,
                ("the device delivers %s, not the format negotiated", delivered.c_str()),
                (nullptr));
            session.Close();
            return false;
        }
        info = asked;
        return true;
    }

    // A buffer is stamped with the time of its first sample and leaves once it is full.
    GstClockTime Latency() const override { return bufferTime; }

    GstFlowReturn Make(const uint8_t* data, size_t size, double seconds, GstBuffer** out) override {
        const uint32_t frameBytes = static_cast<uint32_t>(GST_AUDIO_INFO_BPF(&info));
        const uint32_t rate = static_cast<uint32_t>(GST_AUDIO_INFO_RATE(&info));
        const size_t count = size / frameBytes;
        if (count == 0) return GST_FLOW_CUSTOM_SUCCESS;
        if (count * frameBytes != size)
            GST_WARNING_OBJECT(element, "a buffer of %zu bytes ends in a partial sample", size);
        // Stamped by the samples counted since the start, so the stream has no gaps or
        // overlaps, unless samples were lost or the device's clock runs ahead by more than
        // kResyncAfter.
        const GstClockTime deviceTime = time.Map(GST_ELEMENT(element), seconds);
        const bool started = GST_CLOCK_TIME_IS_VALID(startTime);
        const GstClockTime expected =
            started ? startTime + gst_util_uint64_scale_int(samples, GST_SECOND, rate) : 0;
        bool discont = LostMore() || !started;
        if (started && deviceTime > expected + kResyncAfter) {
            discont = true;
            GST_WARNING_OBJECT(element,
                               "device time %" GST_TIME_FORMAT " is %" GST_TIME_FORMAT
                               " after the samples counted; starting afresh",
                               GST_TIME_ARGS(deviceTime), GST_TIME_ARGS(deviceTime - expected));
        }
        GstClockTime pts = expected;
        if (discont) {
            pts = std::max(deviceTime, expected);
            startTime = pts;
            samples = 0;
        }
        GstBuffer* buffer = gst_buffer_new_memdup(data, count * frameBytes);
        samples += count;
        const GstClockTime end = startTime + gst_util_uint64_scale_int(samples, GST_SECOND, rate);
        GST_BUFFER_PTS(buffer) = pts;
        GST_BUFFER_DURATION(buffer) = end - pts;
        GST_BUFFER_OFFSET(buffer) = offset;
        offset += count;
        GST_BUFFER_OFFSET_END(buffer) = offset;
        if (discont) GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
        if (end - pts != bufferTime) {
            bufferTime = end - pts;
            gst_element_post_message(GST_ELEMENT(element),
                                     gst_message_new_latency(GST_OBJECT(element)));
        }
        *out = buffer;
        return GST_FLOW_OK;
    }
};

}  // namespace

using VornAudioSrc = vorngst::SourceInstance;
using VornAudioSrcClass = vorngst::SourceClass;

G_DEFINE_TYPE(VornAudioSrc, vorn_audio_src, GST_TYPE_PUSH_SRC)

GstCaps* VornAudioCaps() {
    GstCaps* caps = gst_caps_from_string(
        "audio/x-raw, format=(string){ S16LE, S24LE, S32LE, U8 }, rate=(int)[ 1000, 384000 ], "
        "channels=(int)[ 1, 2 ], layout=(string)interleaved");
    return caps;
}

static void vorn_audio_src_class_init(VornAudioSrcClass* klass) {
    GST_DEBUG_CATEGORY_INIT(vorn_audio_debug, "vornaudiosrc", 0, "Vorn audio source");
    vorngst::InitClass(
        klass, {"Vorn audio source", "Source/Audio",
                "Captures a microphone through VornMediaCapture", VornAudioCaps(), false, nullptr});
}

static void vorn_audio_src_init(VornAudioSrc* self) {
    vorngst::InitInstance(self, new AudioState, "microphone");
}
