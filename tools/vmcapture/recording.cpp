// SPDX-License-Identifier: MIT
#include "recording.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/audio/audio.h>
#include <gst/gst.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cerrno>
#include <deque>
#include <mutex>

#include "console.h"
#include "elements.h"
#include "files.h"
#include "progress.h"
#include "report.h"
#include "stopsignal.h"

namespace vmcapture {

using VornCapture::CaptureRequest;

namespace {

struct Container {
    const char* name;
    const char* videoEncoder;  // with its settings; %u: key frame distance
    const char* rateProperty;  // the encoder's bitrate property
    uint32_t rateScale;        // kbit/s to the property's unit
    const char* muxer;
};

const Container kContainers[] = {
    {"mkv", "x264enc speed-preset=veryfast tune=zerolatency key-int-max=%u", "bitrate", 1,
     "matroskamux"},
    {"mp4", "x264enc speed-preset=veryfast tune=zerolatency key-int-max=%u", "bitrate", 1,
     "mp4mux"},
    {"webm", "vp8enc deadline=1 cpu-used=8 threads=2 keyframe-max-dist=%u", "target-bitrate", 1000,
     "webmmux"},
};

const Container* FindContainer(const std::string& name) {
    for (const Container& container : kContainers)
        if (name == container.name) return &container;
    return nullptr;
}

// Owns a GStreamer reference.
template <class T>
struct Ref {
    T* p = nullptr;
    ~Ref() {
        if (p != nullptr) gst_object_unref(p);
    }
};

// Samples of one appsink on their way to one appsrc, restamped from the common start.
struct Stream {
    GstAppSink* sink = nullptr;
    GstAppSrc* source = nullptr;
    std::deque<GstSample*> waiting;  // taken before the start was known
    bool capsSet = false;
    bool ended = false;
    GstClockTime lastEnd = GST_CLOCK_TIME_NONE;  // restamped end of the last buffer sent
    uint64_t sent = 0;
    uint64_t gaps = 0;      // video: frames missing between those sent; audio: breaks
    uint64_t nextSlot = 0;  // video: the next place on the frame grid
    uint64_t doubled = 0;   // video: frames left out, their place on the grid taken

    ~Stream() {
        for (GstSample* sample : waiting) gst_sample_unref(sample);
    }
};

// Both streams go to the encoders this much after zero. An audio encoder stamps its output
// earlier than its input by its look-ahead (Opus: 6.5 ms); from zero that would wrap around to
// a time in the far future, and the muxer would then put every video frame before the sound.
constexpr GstClockTime kEncoderLeadIn = 20 * GST_MSECOND;

GstClockTime Pts(GstSample* sample) { return GST_BUFFER_PTS(gst_sample_get_buffer(sample)); }

enum class Sent { Yes, No, Past, Failed };

// Where a video frame stamped `pts` goes on the frame grid from `start` (pipeline times): the
// frames are placed one after the other (the source paces them by its rate, with some jitter;
// the file then has a constant rate). Yes: `stamped` is its place, from `start`. No: it comes
// before the start, or too soon after the frame before. Past: the stream reached `stop`.
Sent Place(Stream& stream, GstClockTime pts, GstClockTime duration, GstClockTime start,
           GstClockTime stop, GstClockTime& stamped) {
    if (pts < start) return Sent::No;
    // The frame takes the next place on the grid unless it lies a whole period or more from
    // it: later, the places between stay empty (frames never produced); sooner, it is one
    // frame too many.
    const GstClockTime actual = pts - start, expected = stream.nextSlot * duration;
    uint64_t slot = stream.nextSlot;
    if (actual >= expected + duration) {
        slot += (actual - expected) / duration;
    } else if (expected >= actual + duration) {
        ++stream.doubled;
        return Sent::No;
    }
    stamped = slot * duration;
    // The file holds the places that begin before `stop`. A period in whole nanoseconds can be
    // up to 1 ns short (1/30 s is 33,333,333.3 ns), so a place is taken to begin as late as it
    // may: one second at 30 frames a second is 30 places, not 31.
    const GstClockTime length = stop - start;
    if (slot * (duration + 1) >= length) {
        // The places left before the end stay empty: frames never produced, too.
        const uint64_t places = (length + duration) / (duration + 1);
        if (places > stream.nextSlot) stream.gaps += places - stream.nextSlot;
        stream.nextSlot = std::max(stream.nextSlot, places);
        return Sent::Past;
    }
    stream.gaps += slot - stream.nextSlot;
    stream.nextSlot = slot + 1;
    return Sent::Yes;
}

// Gives `buffer` its time in the file and counts it as sent.
void Stamp(Stream& stream, GstBuffer* buffer, GstClockTime stamped, GstClockTime duration) {
    GST_BUFFER_PTS(buffer) = kEncoderLeadIn + stamped;
    GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DURATION(buffer) = duration;
    stream.lastEnd = stamped + duration;
    ++stream.sent;
}

// Sends what of `sample` lies between `start` and `stop` (pipeline times) to the stream's
// appsrc, stamped from `start`. Audio is cut at whole sample frames; video frames are placed
// on the frame grid. Past: the stream reached `stop` (with its last part sent).
Sent Send(Stream& stream, GstSample* sample, GstClockTime start, GstClockTime stop, bool audio) {
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstClockTime pts = GST_BUFFER_PTS(buffer), duration = GST_BUFFER_DURATION(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(pts) || !GST_CLOCK_TIME_IS_VALID(duration) || duration == 0)
        return Sent::No;
    if (!stream.capsSet) {
        gst_app_src_set_caps(stream.source, gst_sample_get_caps(sample));
        stream.capsSet = true;
    }
    GstBuffer* out = nullptr;
    GstClockTime stamped = 0;
    bool past = false;
    if (audio) {
        GstAudioInfo info;
        if (!gst_audio_info_from_caps(&info, gst_sample_get_caps(sample))) return Sent::Failed;
        const gsize frameBytes = GST_AUDIO_INFO_BPF(&info);
        const gint rate = GST_AUDIO_INFO_RATE(&info);
        const gsize frames = gst_buffer_get_size(buffer) / frameBytes;
        past = pts + duration >= stop;
        const GstClockTime from = std::max(pts, start), to = std::min(pts + duration, stop);
        const gsize first =
            to > from ? gst_util_uint64_scale_round(from - pts, rate, GST_SECOND) : 0;
        const gsize last =
            to > from
                ? std::min<gsize>(frames, gst_util_uint64_scale_round(to - pts, rate, GST_SECOND))
                : 0;
        if (last <= first) return past ? Sent::Past : Sent::No;
        out = gst_buffer_copy_region(buffer, GST_BUFFER_COPY_MEMORY, first * frameBytes,
                                     (last - first) * frameBytes);
        stamped = pts + gst_util_uint64_scale_int(first, GST_SECOND, rate) - start;
        duration = gst_util_uint64_scale_int(last - first, GST_SECOND, rate);
        // A break in the sound: a buffer that begins after the last one ended.
        if (GST_CLOCK_TIME_IS_VALID(stream.lastEnd) && stamped > stream.lastEnd + GST_MSECOND)
            ++stream.gaps;
    } else {
        const Sent placed = Place(stream, pts, duration, start, stop, stamped);
        if (placed != Sent::Yes) return placed;
        out = gst_buffer_copy(buffer);
    }
    Stamp(stream, out, stamped, duration);
    if (gst_app_src_push_buffer(stream.source, out) != GST_FLOW_OK) return Sent::Failed;
    return past ? Sent::Past : Sent::Yes;
}

// A recording without sound needs no common start: the frames are put on the frame grid on
// the source's own streaming thread as they leave it (a probe on its pad), so that each goes
// from the source through the muxer into the file without a hand-over between threads. The
// probe posts an application message when the stream reached its end.
struct Grid {
    std::mutex lock;
    Stream stream;
    GstClockTime start = GST_CLOCK_TIME_NONE;
    GstClockTime length = GST_CLOCK_TIME_NONE;  // from the start; NONE: until stopped
    uint64_t maxFrames = 0;
    std::chrono::steady_clock::time_point lastFrame = std::chrono::steady_clock::now();

    void End(GstPad* pad) {
        stream.ended = true;
        GstElement* source = GST_ELEMENT(GST_PAD_PARENT(pad));
        gst_element_post_message(
            source, gst_message_new_application(GST_OBJECT(source),
                                                gst_structure_new_empty("vmcapture-video-ended")));
    }
};

GstPadProbeReturn OnVideoFrame(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* grid = static_cast<Grid*>(data);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    std::lock_guard<std::mutex> hold(grid->lock);
    Stream& stream = grid->stream;
    if (stream.ended) return GST_PAD_PROBE_DROP;
    grid->lastFrame = std::chrono::steady_clock::now();
    const GstClockTime pts = GST_BUFFER_PTS(buffer), duration = GST_BUFFER_DURATION(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(pts) || !GST_CLOCK_TIME_IS_VALID(duration) || duration == 0)
        return GST_PAD_PROBE_DROP;
    if (grid->start == GST_CLOCK_TIME_NONE) {
        grid->start = pts;
        if (grid->maxFrames != 0) grid->length = grid->maxFrames * duration;
    }
    const GstClockTime stop =
        grid->length == GST_CLOCK_TIME_NONE ? GST_CLOCK_TIME_NONE : grid->start + grid->length;
    GstClockTime stamped = 0;
    const Sent placed = Place(stream, pts, duration, grid->start, stop, stamped);
    if (placed == Sent::Past) grid->End(pad);
    if (placed != Sent::Yes) return GST_PAD_PROBE_DROP;
    // A lent frame stays as it is: only the buffer around its memory is new.
    buffer = gst_buffer_make_writable(buffer);
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    Stamp(stream, buffer, stamped, duration);
    if (grid->maxFrames != 0 && stream.sent >= grid->maxFrames) grid->End(pad);
    return GST_PAD_PROBE_OK;
}

// What of the recording reached the file: the bytes of the buffers the file sink took and
// wrote, and where in time the last of them ends. The sink writes each buffer as it takes it
// (unbuffered), so a buffer has reached the file once the next one comes.
struct Written {
    std::mutex lock;
    uint64_t bytes = 0, pendingBytes = 0;
    GstClockTime end = 0, pendingEnd = 0;

    void Take(GstBuffer* buffer) {
        std::lock_guard<std::mutex> hold(lock);
        bytes += pendingBytes;
        end = std::max(end, pendingEnd);
        pendingBytes = gst_buffer_get_size(buffer);
        const GstClockTime pts = GST_BUFFER_PTS(buffer), duration = GST_BUFFER_DURATION(buffer);
        pendingEnd = GST_CLOCK_TIME_IS_VALID(pts)
                         ? pts + (GST_CLOCK_TIME_IS_VALID(duration) ? duration : 0)
                         : pendingEnd;
    }
};

GstPadProbeReturn OnFileBuffer(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* written = static_cast<Written*>(data);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) {
        written->Take(GST_PAD_PROBE_INFO_BUFFER(info));
    } else if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER_LIST) {
        GstBufferList* list = GST_PAD_PROBE_INFO_BUFFER_LIST(info);
        for (guint i = 0; i < gst_buffer_list_length(list); ++i)
            written->Take(gst_buffer_list_get(list, i));
    }
    return GST_PAD_PROBE_OK;
}

// What stopped the file sink when the file system took no more ("disk full", "file size
// limit reached", "disk quota reached"), or "" for any other error.
std::string NoRoomOf(GstMessage* message) {
    if (std::string(GST_OBJECT_NAME(GST_MESSAGE_SRC(message))) != "file") return "";
    GError* error = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    const std::string details = debug != nullptr ? debug : "";
    std::string reason;
    if (error != nullptr && error->domain == GST_RESOURCE_ERROR) {
        if (error->code == GST_RESOURCE_ERROR_NO_SPACE_LEFT ||
            details.find(g_strerror(ENOSPC)) != std::string::npos)
            reason = "disk full";
        else if (details.find(g_strerror(EFBIG)) != std::string::npos)
            reason = "file size limit reached";
#ifdef EDQUOT
        else if (details.find(g_strerror(EDQUOT)) != std::string::npos)
            reason = "disk quota reached";
#endif
    }
    if (error != nullptr) g_error_free(error);
    g_free(debug);
    return reason;
}

std::string ErrorText(GstMessage* message) {
    GError* error = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    std::string text = std::string(GST_OBJECT_NAME(GST_MESSAGE_SRC(message))) + ": " +
                       (error != nullptr ? error->message : "error");
    if (error != nullptr) g_error_free(error);
    g_free(debug);
    return text;
}

// The first error on the bus, or ""; `noRoom` says whether the file system took no more.
// A message of the types in `wakeOn` ends the wait too, with "".
std::string PollError(GstBus* bus, GstClockTime wait, std::string& noRoom,
                      GstMessageType wakeOn = GST_MESSAGE_UNKNOWN) {
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, wait, static_cast<GstMessageType>(GST_MESSAGE_ERROR | wakeOn));
    if (message == nullptr) return "";
    if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_ERROR) {
        gst_message_unref(message);
        return "";
    }
    const std::string text = ErrorText(message);
    noRoom = NoRoomOf(message);
    gst_message_unref(message);
    return text;
}

// The file system took no more: a Matroska file (.mkv, .webm) keeps every buffer that reached
// it whole, and is readable as it is; an MP4 file is readable only once finished.
int KeepRecorded(const RecordingSettings& settings, const std::string& temporary, Written& written,
                 const std::string& noRoom, double elapsed) {
    const std::string after = noRoom + " after " + Fixed(elapsed) + " s";
    std::lock_guard<std::mutex> hold(written.lock);
    uint64_t bytes = written.bytes;
    if (settings.container == "mp4" || bytes == 0 || !CutFile(temporary.c_str(), bytes) ||
        !RenameOver(temporary.c_str(), settings.output.c_str())) {
        std::remove(temporary.c_str());
        ReportError(after + ": nothing of " + settings.output + " could be kept" +
                    (settings.container == "mp4"
                         ? " (an MP4 file is readable only once finished; .mkv keeps what "
                           "was written)"
                         : ""));
        return kExitNoRoom;
    }
    const GstClockTime end = written.end > kEncoderLeadIn ? written.end - kEncoderLeadIn : 0;
    ReportError(after + ": " + settings.output + " holds " +
                Fixed(static_cast<double>(end) / GST_SECOND) + " s");
    return kExitNoRoom;
}

// The exit status of an error on the bus.
int ErrorStatus(const std::string& noRoom) { return noRoom.empty() ? kExitFailure : kExitNoRoom; }

// The sources were silent for the timeout: before anything came (`started` false) or after.
int Silent(bool started, uint64_t sent, const RecordingSettings& settings, std::string& error) {
    const std::string timeout = Fixed(settings.timeout);
    error = started ? "a source stopped delivering (nothing for " + timeout + " s)"
                    : "the sources delivered nothing within " + timeout + " s";
    return sent == 0 ? kExitNoSource : kExitFailure;
}

// Waits while the source's thread records a stream without sound: until its end, a stop
// request, an error on the bus, or a source silent for the timeout.
int WaitForGrid(Grid& grid, GstBus* bus, const RecordingSettings& settings, std::string& error,
                std::string& noRoom) {
    for (;;) {
        // Woken early by the end the probe posts.
        error = PollError(bus, 100 * GST_MSECOND, noRoom, GST_MESSAGE_APPLICATION);
        if (!error.empty()) return ErrorStatus(noRoom);
        std::lock_guard<std::mutex> hold(grid.lock);
        if (grid.stream.ended) return kExitOk;
        if (StopRequested()) {
            // Ends after the frames already taken: the later ones are left out.
            grid.stream.ended = true;
            if (grid.start != GST_CLOCK_TIME_NONE) return kExitOk;
            error = kStoppedBeforeFirstFrame;
            return kExitNoSource;
        }
        const std::chrono::duration<double> silent =
            std::chrono::steady_clock::now() - grid.lastFrame;
        if (silent.count() >= settings.timeout)
            return Silent(grid.start != GST_CLOCK_TIME_NONE, grid.stream.sent, settings, error);
    }
}

std::string Quote(const std::string& text) {
    gchar* escaped = g_strescape(text.c_str(), nullptr);
    std::string quoted = std::string("\"") + escaped + "\"";
    g_free(escaped);
    return quoted;
}

std::string Launch(const RecordingSettings& s, const Container& container,
                   const std::string& path) {
    const CaptureRequest& r = s.request;
    const std::string size =
        ",width=" + std::to_string(r.width) + ",height=" + std::to_string(r.height);
    std::string video = "vornvideosrc name=vsrc kind=" + s.videoKind +
                        " device=" + Quote(s.videoDevice) + (s.via.empty() ? "" : " via=" + s.via) +
                        (s.storeJpeg ? " ! image/jpeg" : " ! video/x-raw");
    if (s.cameraMode) {
        if (s.storeJpeg || s.toI420) video += (s.storeJpeg ? "" : ",format=I420") + size;
        if (s.rateNum != 0 && s.rateDenom != 0)
            video += ",framerate=" + std::to_string(s.rateNum) + "/" + std::to_string(s.rateDenom);
    } else {
        if (s.videoKind == "desktop") video += ",format=I420" + size;
        if (s.videoKind != "camera") video += ",framerate=" + std::to_string(r.frameRate) + "/1";
    }
    // With sound the frames go by the recording's loop, which starts both streams together;
    // without, the source's thread takes them on to the muxer (or the encoder's queue).
    std::string launch = video + (s.audio ? " ! appsink name=vsink sync=false wait-on-eos=false "
                                            "appsrc name=vin format=time ! queue ! "
                                  : s.storeJpeg ? " ! "
                                                : " ! queue ! ");
    if (!s.storeJpeg) {
        char encoder[160];
        std::snprintf(encoder, sizeof encoder, container.videoEncoder, 2 * r.frameRate);
        launch += std::string("videoconvert ! ") + encoder;
        if (s.videoKbps != 0)
            launch += std::string(" ") + container.rateProperty + "=" +
                      std::to_string(s.videoKbps * container.rateScale);
        launch += " ! queue ! ";
    }
    launch += "mux. ";
    if (s.audio)
        launch += "vornaudiosrc name=asrc device=" + Quote(s.audioDevice) +
                  " ! appsink name=asink sync=false wait-on-eos=false "
                  "appsrc name=ain format=time ! queue ! audioconvert ! audioresample ! "
                  "opusenc bitrate=" +
                  std::to_string(s.audioKbps * 1000) + " ! queue ! mux. ";
    launch +=
        std::string(container.muxer) +
        " name=mux ! filesink name=file async=false buffer-mode=unbuffered location=" + Quote(path);
    return launch;
}

GstElement* Child(GstElement* pipeline, const char* name) {
    return gst_bin_get_by_name(GST_BIN(pipeline), name);
}

}  // namespace

int Record(const RecordingSettings& settings) {
    const Container* container = FindContainer(settings.container);
    if (container == nullptr) {
        ReportError("no such container: " + settings.container);
        return kExitUsage;
    }
    gst_init(nullptr, nullptr);
    if (gst_registry_find_plugin(gst_registry_get(), "vorn") == nullptr &&
        !VornRegisterStaticPlugin()) {
        ReportError("the capture elements could not be registered with GStreamer");
        return kExitFailure;
    }
    // Written under a temporary name until the muxer has completed it.
    const std::string temporary = TemporaryPath(settings.output);
    const std::string launch = Launch(settings, *container, temporary);
    GError* parseError = nullptr;
    Ref<GstElement> pipeline{gst_parse_launch(launch.c_str(), &parseError)};
    if (parseError != nullptr) {
        ReportError("GStreamer cannot make the recording pipeline (" +
                    std::string(parseError->message) +
                    "); are its plugins installed (base, good, ugly)?");
        g_error_free(parseError);
        return kExitFailure;
    }
    Stream video, audio;
    Grid grid;
    Ref<GstElement> vsink{Child(pipeline.p, "vsink")}, vin{Child(pipeline.p, "vin")};
    Ref<GstElement> asink{Child(pipeline.p, "asink")}, ain{Child(pipeline.p, "ain")};
    if (settings.audio) {
        video.sink = GST_APP_SINK(vsink.p);
        video.source = GST_APP_SRC(vin.p);
        audio.sink = GST_APP_SINK(asink.p);
        audio.source = GST_APP_SRC(ain.p);
    } else {
        grid.maxFrames = settings.maxFrames;
        if (settings.maxSeconds > 0)
            grid.length = static_cast<GstClockTime>(settings.maxSeconds * GST_SECOND);
        Ref<GstElement> source{Child(pipeline.p, "vsrc")};
        Ref<GstPad> pad{gst_element_get_static_pad(source.p, "src")};
        gst_pad_add_probe(pad.p, GST_PAD_PROBE_TYPE_BUFFER, OnVideoFrame, &grid, nullptr);
    }
    Ref<GstBus> bus{gst_element_get_bus(pipeline.p)};
    Written written;
    {
        Ref<GstElement> file{Child(pipeline.p, "file")};
        Ref<GstPad> pad{gst_element_get_static_pad(file.p, "sink")};
        gst_pad_add_probe(pad.p,
                          static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                       GST_PAD_PROBE_TYPE_BUFFER_LIST),
                          OnFileBuffer, &written, nullptr);
    }
    CatchStopRequests();
    int status = kExitOk;
    std::string error, noRoom;
    const auto began = std::chrono::steady_clock::now();
    if (gst_element_set_state(pipeline.p, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        error = PollError(bus.p, GST_SECOND, noRoom);
        status = kExitNoSource;
    }
    const GstClockTime period =
        gst_util_uint64_scale_int(GST_SECOND, 1, settings.request.frameRate);
    GstClockTime start = GST_CLOCK_TIME_NONE, end = GST_CLOCK_TIME_NONE;
    if (settings.maxSeconds > 0) end = static_cast<GstClockTime>(settings.maxSeconds * GST_SECOND);
    auto lastSample = std::chrono::steady_clock::now();
    GstClockTime videoPeriod = period;
    bool stopping = false;
    if (status == kExitOk && !settings.audio)
        status = WaitForGrid(grid, bus.p, settings, error, noRoom);
    while (status == kExitOk && settings.audio) {
        if (!(error = PollError(bus.p, 0, noRoom)).empty()) {
            status = ErrorStatus(noRoom);
            break;
        }
        // Everything both sinks hold, so that neither stream falls behind the other (a
        // sample per turn would leave audio, which comes in many small buffers, ever later).
        bool took = false;
        for (Stream* stream : {&video, &audio}) {
            if (stream->sink == nullptr || stream->ended) continue;
            while (GstSample* sample = gst_app_sink_try_pull_sample(stream->sink, 0)) {
                took = true;
                stream->waiting.push_back(sample);
            }
        }
        // Nothing waiting: sleep until the next video frame comes (10 ms at most, so that
        // sound and the bus are looked at as often), rather than waking on a timer.
        if (!took) {
            GstSample* sample = video.ended || gst_app_sink_is_eos(video.sink)
                                    ? nullptr
                                    : gst_app_sink_try_pull_sample(video.sink, 10 * GST_MSECOND);
            if (sample != nullptr) {
                took = true;
                video.waiting.push_back(sample);
            } else if (video.ended || gst_app_sink_is_eos(video.sink)) {
                g_usleep(5000);
            }
        }
        const std::chrono::duration<double> silent = std::chrono::steady_clock::now() - lastSample;
        if (took) {
            lastSample = std::chrono::steady_clock::now();
        } else if (silent.count() >= settings.timeout) {
            status = Silent(start != GST_CLOCK_TIME_NONE || video.sent != 0, video.sent, settings,
                            error);
            break;
        }
        if (start == GST_CLOCK_TIME_NONE && video.waiting.empty() && StopRequested()) {
            error = kStoppedBeforeFirstFrame;
            status = kExitNoSource;
            break;
        }
        // The start: the first video frame at or after the microphone's first sample.
        if (start == GST_CLOCK_TIME_NONE) {
            if (video.waiting.empty() || (settings.audio && audio.waiting.empty())) continue;
            const GstClockTime audioFirst = settings.audio ? Pts(audio.waiting.front()) : 0;
            while (!video.waiting.empty() && Pts(video.waiting.front()) < audioFirst) {
                gst_sample_unref(video.waiting.front());
                video.waiting.pop_front();
            }
            if (video.waiting.empty()) continue;
            start = Pts(video.waiting.front());
            const GstClockTime frame =
                GST_BUFFER_DURATION(gst_sample_get_buffer(video.waiting.front()));
            if (GST_CLOCK_TIME_IS_VALID(frame) && frame > 0) videoPeriod = frame;
            if (settings.maxFrames != 0) end = settings.maxFrames * videoPeriod;
        }
        if (!stopping && StopRequested()) {
            stopping = true;
            // Ends after the frames already taken; the audio follows to the same moment.
            const GstClockTime taken = video.lastEnd != GST_CLOCK_TIME_NONE ? video.lastEnd : 0;
            end = end == GST_CLOCK_TIME_NONE ? taken : std::min(end, taken);
        }
        const GstClockTime stop = end == GST_CLOCK_TIME_NONE ? GST_CLOCK_TIME_NONE : start + end;
        for (Stream* stream : {&video, &audio}) {
            const bool isAudio = stream == &audio;
            while (!stream->waiting.empty()) {
                GstSample* sample = stream->waiting.front();
                stream->waiting.pop_front();
                const Sent sent = Send(*stream, sample, start, stop, isAudio);
                gst_sample_unref(sample);
                if (sent == Sent::Failed) status = kExitFailure;
                if (sent == Sent::Past ||
                    (!isAudio && settings.maxFrames != 0 && stream->sent >= settings.maxFrames)) {
                    stream->ended = true;
                    break;
                }
            }
        }
        if (video.ended && (!settings.audio || audio.ended)) break;
    }
    if (status == kExitOk) {
        // Both streams end; the muxer completes the file, and the sources stop.
        if (settings.audio) {
            gst_app_src_end_of_stream(video.source);
            gst_app_src_end_of_stream(audio.source);
        }
        for (const char* name : {"vsrc", "asrc"}) {
            Ref<GstElement> source{Child(pipeline.p, name)};
            if (source.p != nullptr) gst_element_send_event(source.p, gst_event_new_eos());
        }
        GstMessage* message = gst_bus_timed_pop_filtered(
            bus.p, 60 * GST_SECOND,
            static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        if (message == nullptr || GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
            error = message != nullptr ? ErrorText(message) : "the file was not completed";
            noRoom = message != nullptr ? NoRoomOf(message) : "";
            status = ErrorStatus(noRoom);
        }
        if (message != nullptr) gst_message_unref(message);
    }
    gst_element_set_state(pipeline.p, GST_STATE_NULL);
    if (status == kExitNoRoom)
        return KeepRecorded(
            settings, temporary, written, noRoom,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());
    if (status == kExitOk && std::rename(temporary.c_str(), settings.output.c_str()) != 0) {
        error = SystemError(settings.output);
        status = kExitFailure;
    }
    if (status != kExitOk) {
        ReportError(error.empty() ? std::string("the recording failed") : error);
        std::remove(temporary.c_str());
        return status;
    }
    // The pipeline has stopped, so the source's thread no longer touches the grid; the lock
    // only makes that plain.
    std::lock_guard<std::mutex> hold(grid.lock);
    const Stream& shown = settings.audio ? video : grid.stream;
    if (shown.gaps != 0)
        ReportWarning(std::to_string(shown.gaps) +
                      " video frames were never produced; players hold the frame before over "
                      "each gap");
    if (shown.doubled != 0)
        ReportNotice(std::to_string(shown.doubled) +
                     " video frames came too soon after the one before and were left out");
    if (audio.gaps != 0) ReportNotice("the sound has " + std::to_string(audio.gaps) + " breaks");
    if (!settings.quiet)
        std::fprintf(stderr, "vmcapture: %s: %llu video frames%s%s\n", settings.output.c_str(),
                     static_cast<unsigned long long>(shown.sent),
                     settings.storeJpeg ? " (the camera's JPEG images as they came)" : "",
                     settings.audio ? " and sound" : "");
    return kExitOk;
}

}  // namespace vmcapture
