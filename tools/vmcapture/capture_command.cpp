// SPDX-License-Identifier: MIT
// vmcapture capture: one source into a file, with progress, until a limit or Ctrl-C.
#include <algorithm>
#include <chrono>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "autoworld.h"
#include "commands.h"
#include "console.h"
#include "image.h"
#include "options.h"
#include "progress.h"
#include "recording.h"
#include "report.h"
#include "sinks.h"
#include "sources.h"
#include "stopsignal.h"
#include "world.h"
#ifndef _WIN32
#include "camerasource.h"
#include "cameramode.h"
#include "portalscreen.h"
#include "x11screen.h"
#else
#include "gdiscreen.h"
#endif

namespace vmcapture {

using VornCapture::AudioText;
using VornCapture::CaptureRequest;
using VornCapture::DeliveryName;
using VornCapture::EvenDown;
using VornCapture::FindSourceKind;
using VornCapture::kMaxSide;
using VornCapture::MeasureScreen;
using VornCapture::Medium;
using VornCapture::NoDisplay;
using VornCapture::ScreenExtent;
using VornCapture::Selector;
using VornCapture::Source;
using VornCapture::SourceKind;
using VornCapture::StreamFormat;

namespace {

struct Settings {
    std::string kind;
    std::string via;
    Selector selector;
    CaptureRequest request;
    std::string output;
    std::string format;
    uint64_t maxFrames = 0;  // 0: no limit
    double maxSeconds = 0;   // 0: no limit
    double timeout = 5;
    bool quiet = false;
    std::string audio;       // --audio: microphone[:INDEX|NAME]
    uint32_t videoKbps = 0;  // --bitrate
    bool strict = false;     // lost audio makes the exit status kExitLost
};

CommandDef Definition() {
    CommandDef def{
        "vmcapture capture KIND [INDEX|NAME] -o FILE [options]",
        "Captures one source into a file until a limit is reached or Ctrl-C is pressed.\n"
        "KIND is desktop, window, camera or microphone (vmcapture list shows the sources);\n"
        "the source is picked by INDEX (default 0) or by NAME (a window by its title). A\n"
        "camera or microphone is captured through one of its two device classes: --via push\n"
        "(the device calls the tool for every frame or buffer; the default) or --via pull\n"
        "(the tool asks for each one); without --via a PipeWire camera is taken in its own\n"
        "format, each frame converted once (into .mkv its JPEG images are stored as they\n"
        "come). Video is written as Y4M (I420, BT.601 studio range)\n"
        "or as numbered 24-bit BMP files, audio as WAV; a video source, with a microphone or\n"
        "without, is recorded compressed as MKV, MP4 or WebM.",
        {
            {"output", 'o', "FILE",
             "output file: .y4m, .bmp or .wav, or a compressed recording .mkv (H.264, Opus), "
             ".mp4 (H.264, Opus) or .webm (VP8, Opus) (or say which with -f); '-' writes Y4M "
             "or WAV to "
             "standard output; for BMP a pattern such as shot-%04d.bmp (default: a number "
             "before the extension)"},
            {"format", 'f', "FORMAT",
             "y4m, bmp, wav, mkv, mp4 or webm (default: from the file name)"},
            {"name", 0, "TEXT", "pick the source by its name, also one made of digits"},
            {"via", 0, "push|pull|queued",
             "how a camera or microphone delivers (default push; a PipeWire camera is taken in "
             "its own format unless --via names a device class); the desktop of an X display, "
             "of Windows or of a Wayland session is taken as the screen's own frames unless --via "
             "queued "
             "asks for its device"},
            {"size", 's', "WxH",
             "frame size asked of the source: for the desktop the region from its top-left "
             "corner (default: the whole screen); a window is captured at its client size, a "
             "camera at the size it connects"},
            {"fps", 'r', "N",
             "frames per second asked, 1 to 1000 (default 20); the Y4M file says the rate the "
             "frames really came at: the device's rate, or the measured one where they "
             "differ"},
            {"rate", 0, "HZ", "audio sample rate, 1000 to 384000 (default 44100)"},
            {"bits", 0, "N", "audio bits per sample: 8, 16, 24 or 32 (default 16)"},
            {"channels", 0, "N", "audio channels, 1 to 16 (default 2)"},
            {"seconds", 't', "S",
             "stop after S seconds; for audio, once the file holds S seconds of audio"},
            {"frames", 'n', "N", "stop after N video frames"},
            {"timeout", 0, "S",
             "give up when the source delivers nothing for S seconds "
             "(default 5)"},
            {"audio", 'a', "microphone[:INDEX|NAME]",
             "also record a microphone (the first, or the one named) into the same .mkv, "
             ".mp4 or .webm file"},
            {"bitrate", 'b', "KBPS",
             "video bitrate of a .mkv, .mp4 or .webm recording, 50 to 100000 kbit/s "
             "(default: the encoder's choice for the size)"},
            {"quiet", 'q', nullptr, "no progress and no notices"},
            {"strict", 0, nullptr,
             "exit with status 4 when audio was lost during the capture (the file is still "
             "written)"},
        },
        "Without --seconds or --frames the capture runs until Ctrl-C; SIGTERM, a hang-up\n"
        "(a closed terminal) and Ctrl-\\ stop it as cleanly. A disk that fills up ends it\n"
        "with status 5, the file keeping its whole frames or samples. Progress (frames,\n"
        "dropped frames, frames the source never produced, achieved rate) is shown only\n"
        "when standard error is a terminal. Y4M frames of odd width or height are cropped\n"
        "to even sizes. A device that does not take the format asked of it delivers its\n"
        "own, and the file says what it delivers ('vmcapture list --formats' shows what\n"
        "each device takes). The output appears when the capture succeeds; until then it\n"
        "is written as FILE.<process id>.part. Audio that the device lost (a gap in its\n"
        "stream) is named on standard error, how much and where, and so are video frames\n"
        "the source never produced or that were dropped, also with --quiet; a\n"
        "microphone that breaks off leaves the file of what it delivered, with an error.\n\n"
        "A window is captured as its device does it: a region of the client area's size,\n"
        "rounded down to a multiple of 4, taken from the window's outer top-left corner.\n"
        "So the frames show the title bar and the left border, and lose the right and\n"
        "bottom of the client area by as much.\n\n"
        "Examples:\n"
        "  vmcapture capture desktop --seconds 3 -o desktop.y4m\n"
        "  vmcapture capture desktop --size 1280x720 --fps 10 --frames 5 -o shot-%03d.bmp\n"
        "  vmcapture capture window 'Untitled - Editor' --seconds 3 -o editor.y4m\n"
        "  vmcapture capture camera 0 --via pull --size 320x240 --frames 30 -o camera.y4m\n"
        "  vmcapture capture microphone --rate 48000 --seconds 2 -o voice.wav\n"
        "  vmcapture capture microphone --seconds 2 -o - | sox -t wav - voice.flac\n"
        "  vmcapture capture desktop --audio microphone -t 10 -o talk.mkv\n"
        "  vmcapture capture camera --audio microphone:0 --bitrate 800 -t 5 -o hello.webm"};
    const std::vector<OptionDef>& world = WorldOptions();
    def.options.insert(def.options.end(), world.begin(), world.end());
    return def;
}

bool ReadUnsigned(const ParsedArgs& parsed, const char* name, uint64_t min, uint64_t max,
                  uint32_t& value) {
    if (!parsed.Has(name)) return true;
    uint64_t parsedValue = 0;
    if (!ParseUnsigned(parsed.Value(name), min, max, parsedValue)) {
        ReportError(std::string("--") + name + " wants a whole number from " + std::to_string(min) +
                    " to " + std::to_string(max));
        return false;
    }
    value = static_cast<uint32_t>(parsedValue);
    return true;
}

bool ReadSeconds(const ParsedArgs& parsed, const char* name, double& value) {
    if (!parsed.Has(name)) return true;
    if (ParseSeconds(parsed.Value(name), value)) return true;
    ReportError(std::string("--") + name + " wants a positive number of seconds");
    return false;
}

// Fills `settings` from the command line; false after reporting a usage error.
bool ReadSettings(const ParsedArgs& parsed, Settings& settings) {
    const std::vector<std::string>& words = parsed.Positionals();
    if (words.empty() || words.size() > 2) {
        ReportError("capture wants a source kind and optionally an index or a name (see --help)");
        return false;
    }
    settings.kind = words[0];
    if (parsed.Has("name")) {
        settings.selector.byName = true;
        settings.selector.name = parsed.Value("name");
    } else if (words.size() == 2) {
        uint64_t index = 0;
        settings.selector.byName = !ParseUnsigned(words[1], 0, 0xFFFFFFFFu, index);
        settings.selector.index = static_cast<unsigned int>(index);
        settings.selector.name = words[1];
    }
    settings.output = parsed.Value("output");
    if (settings.output.empty()) {
        ReportError("capture wants an output file: -o FILE (see --help)");
        return false;
    }
    settings.format = parsed.Value("format");
    settings.via = parsed.Value("via");
    settings.quiet = parsed.Has("quiet");
    settings.audio = parsed.Value("audio");
    if (parsed.Has("audio") && settings.audio.rfind("microphone", 0) != 0) {
        ReportError("--audio wants microphone, microphone:INDEX or microphone:NAME");
        return false;
    }
    if (!ReadUnsigned(parsed, "bitrate", 50, 100000, settings.videoKbps)) return false;
    settings.strict = parsed.Has("strict");
    CaptureRequest& request = settings.request;
    if (parsed.Has("size")) {
        if (!ParseSize(parsed.Value("size"), kMaxSide, request.width, request.height)) {
            ReportError("--size wants WxH, each side 1 to " + std::to_string(kMaxSide));
            return false;
        }
        request.sizeGiven = true;
    }
    uint64_t frames = 0;
    if (parsed.Has("frames") &&
        !ParseUnsigned(parsed.Value("frames"), 1, UINT64_MAX >> 1, frames)) {
        ReportError("--frames wants a positive whole number");
        return false;
    }
    settings.maxFrames = frames;
    if (!ReadUnsigned(parsed, "fps", 1, 1000, request.frameRate) ||
        !ReadUnsigned(parsed, "rate", 1000, 384000, request.sampleRate) ||
        !ReadUnsigned(parsed, "bits", 8, 32, request.bitsPerSample) ||
        !ReadUnsigned(parsed, "channels", 1, 16, request.channels) ||
        !ReadSeconds(parsed, "seconds", settings.maxSeconds) ||
        !ReadSeconds(parsed, "timeout", settings.timeout))
        return false;
    if (request.bitsPerSample % 8 != 0) {
        ReportError("--bits wants 8, 16, 24 or 32");
        return false;
    }
    return true;
}

std::string SizeText(uint32_t width, uint32_t height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

std::string DescribeStream(const StreamFormat& stream) {
    if (stream.medium == Medium::Video)
        return SizeText(stream.width, stream.height) + " at " + Fixed(stream.DeviceRate()) + " fps";
    return AudioText(stream.sampleRate, stream.bitsPerSample, stream.channels);
}

std::string DescribeRequest(const CaptureRequest& request, Medium medium) {
    if (medium == Medium::Video && !request.sizeGiven)
        return std::to_string(request.frameRate) + " fps at the default size";
    StreamFormat asked;
    asked.medium = medium;
    asked.width = request.width;
    asked.height = request.height;
    asked.frameRate = request.frameRate;
    asked.sampleRate = request.sampleRate;
    asked.bitsPerSample = request.bitsPerSample;
    asked.channels = request.channels;
    return DescribeStream(asked);
}

// Tells where the source delivers something other than what was asked.
void ReportFormatChanges(const CaptureRequest& request, const StreamFormat& stream) {
    if (stream.medium == Medium::Video) {
        if (request.sizeGiven && (request.width != stream.width || request.height != stream.height))
            ReportNotice("the source delivers " + SizeText(stream.width, stream.height) +
                         ", not the " + SizeText(request.width, request.height) + " asked for");
        if (stream.frameInterval != 0 &&
            std::fabs(stream.DeviceRate() - request.frameRate) > 0.02 * request.frameRate)
            ReportNotice("the device connected at " + Fixed(stream.DeviceRate()) +
                         " frames a second, not the " + std::to_string(request.frameRate) +
                         " asked for");
        return;
    }
    if (request.sampleRate != stream.sampleRate || request.bitsPerSample != stream.bitsPerSample ||
        request.channels != stream.channels)
        ReportNotice("the device does not take the format asked for (" +
                     DescribeRequest(request, Medium::Audio) + "); it delivers " +
                     DescribeStream(stream) + ", and the WAV header says so");
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The rate of the frames written, from the time stamps of the first and the last.
class RateMeter {
public:
    void Add(double seconds) {
        if (count_++ == 0) first_ = seconds;
        last_ = seconds;
    }
    uint64_t Count() const { return count_; }
    double Span() const { return count_ > 1 ? last_ - first_ : 0.0; }
    // Frames a second; 0 until two frames lie apart in time.
    double PerSecond() const { return Span() > 0 ? (count_ - 1) / Span() : 0.0; }

private:
    uint64_t count_ = 0;
    double first_ = 0, last_ = 0;
};

// Frames that the asked rate would have brought since the first frame and that the source
// never produced (neither written nor dropped). A frame of jitter is not counted.
uint64_t MissingFrames(uint32_t askedRate, const RateMeter& meter, uint64_t dropped) {
    const double expected = askedRate * meter.Span() + 1;
    const double produced = static_cast<double>(meter.Count() + dropped);
    return expected > produced + 1 ? static_cast<uint64_t>(expected - produced) : 0;
}

// A gap in the audio: `lost` seconds missing before the audio at `at` seconds of the file.
struct AudioGap {
    double at;
    double lost;
};

// "1.0 s of audio lost in 2 gaps: 0.9 s before 2.1 s, 0.1 s before 3.0 s into the file".
std::string DescribeGaps(const std::vector<AudioGap>& gaps) {
    double total = 0;
    std::string where;
    for (size_t i = 0; i < gaps.size(); ++i) {
        total += gaps[i].lost;
        char text[64];
        std::snprintf(text, sizeof text, "%.3f s before %.3f s", gaps[i].lost, gaps[i].at);
        if (i < 8) where += (i == 0 ? "" : ", ") + std::string(text);
    }
    if (gaps.size() > 8) where += ", ...";
    char head[64];
    std::snprintf(head, sizeof head, "%.3f s of audio lost in ", total);
    return head + std::to_string(gaps.size()) + (gaps.size() == 1 ? " gap: " : " gaps: ") + where +
           " into the file";
}

// The bytes of `seconds` of audio, whole sample frames; 0 for no limit.
uint64_t AudioLimit(double seconds, const StreamFormat& stream) {
    const uint64_t frame = static_cast<uint64_t>(stream.bitsPerSample / 8) * stream.channels;
    if (seconds <= 0 || frame == 0) return 0;
    return static_cast<uint64_t>(std::llround(seconds * stream.sampleRate)) * frame;
}

// Where the pump takes its units from: an open device of the library's, or the X screen's lent
// frames.
class Feed {
public:
    virtual ~Feed() = default;
    // The next unit, within `waitMs`: its time (seconds, on the feed's own clock) and bytes.
    virtual bool Take(double& seconds, size_t& size, int waitMs) = 0;
    // Writes the `size` first bytes of the unit Take gave last (audio may be cut short).
    virtual bool Write(Sink& sink, size_t size) = 0;
    // Units the feed made or was due to make that never reached Take.
    virtual uint64_t Lost() const = 0;
    virtual double GapBeforeLast() { return 0; }
    virtual void Close() {}
};

// The device's units as it delivers them.
class DeviceFeed : public Feed {
public:
    explicit DeviceFeed(Source& source) : source_(source) {}
    bool Take(double& seconds, size_t& size, int waitMs) override {
        return source_.Take(data_, size, seconds, waitMs);
    }
    bool Write(Sink& sink, size_t size) override { return sink.Consume(data_, size); }
    uint64_t Lost() const override { return source_.Lost(); }
    double GapBeforeLast() override { return source_.GapBeforeLast(); }
    void Close() override { source_.Close(); }

private:
    Source& source_;
    const uint8_t* data_ = nullptr;
};

std::int64_t MonotonicNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A feed of frames in their source's own format, lent by the source: the sink converts each
// once, straight from where it lies into what the file holds. The frame is let go before the
// next is taken, so the source may write into that memory again.
class LentFeed : public Feed {
public:
    bool Write(Sink& sink, size_t) override { return sink.ConsumeFrame(frame_); }
    void Close() override { frame_ = VornCapture::VideoFrame{}; }

protected:
    // Hands the frame just taken to the pump: its time and its bytes.
    bool Hand(double& seconds, size_t& size) const {
        seconds = static_cast<double>(frame_.timeNs) / 1e9;
        size = frame_.planes[0].length;
        return true;
    }
    VornCapture::VideoFrame frame_;
};

// The host's screen lent in its own BGRx frames: on an X display the whole screen where the
// display connection keeps it, on Windows the region asked, copied by GDI into a DIB section.
#ifndef _WIN32
using HostScreen = VornCapture::X11Screen;
HostScreen MakeHostScreen(const CaptureRequest&) { return HostScreen(); }
#else
using HostScreen = VornCapture::GdiScreen;
HostScreen MakeHostScreen(const CaptureRequest& request) {
    return HostScreen(request.width, request.height);
}
#endif

// A screen's periods at the rate asked, from the first take on. A period that passed while the
// capture was held back is a frame lost, and counted; frames are never made up afterwards.
class Pacer {
public:
    explicit Pacer(uint32_t rate) : period_(1000000000 / std::max<uint32_t>(rate, 1)) {}
    // Waits up to `waitMs` for the next period; true once it is due.
    bool Due(int waitMs) {
        std::int64_t now = MonotonicNs();
        if (due_ == 0) due_ = now;
        if (now < due_) {
            const std::int64_t wait = std::min<std::int64_t>(due_ - now, waitMs * 1000000LL);
            std::this_thread::sleep_for(std::chrono::nanoseconds(wait));
            now = MonotonicNs();
            if (now < due_) return false;
        }
        if (now - due_ >= period_) {
            const std::int64_t missed = (now - due_) / period_;
            lost_ += static_cast<uint64_t>(missed);
            due_ += missed * period_;
        }
        return true;
    }
    // The period due got its frame; the next is one period on.
    void Served() { due_ += period_; }
    uint64_t Lost() const { return lost_; }

private:
    const std::int64_t period_;
    std::int64_t due_ = 0;
    uint64_t lost_ = 0;
};

// The host screen's own BGRx frames, one a period of the rate asked. An unchanged X screen gives
// its last frame again (written again: the file keeps its rate).
class ScreenFeed : public LentFeed {
public:
    explicit ScreenFeed(const CaptureRequest& request)
        : screen_(MakeHostScreen(request)), pacer_(request.frameRate) {}
    bool Take(double& seconds, size_t& size, int waitMs) override {
        if (!pacer_.Due(waitMs)) return false;
        frame_ = VornCapture::VideoFrame{};  // its copy of the screen goes back first
        if (!screen_.Take(frame_)) {
            // Not readable now: the pump's timeout ends a screen that stays so.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            return false;
        }
        pacer_.Served();
        return Hand(seconds, size);
    }
    uint64_t Lost() const override { return pacer_.Lost(); }

private:
    HostScreen screen_;
    Pacer pacer_;
};

#ifndef _WIN32
// The portal's screen in the stream's own format (BGRx or RGBx, top row first), one frame a
// period of the rate asked. The stream brings a frame only when the screen changed, so a period
// with nothing newer gives the last frame again, held meanwhile (written again: the file keeps
// its rate); that is the screen as it was. A frame that comes a moment after its period began
// is waited for, up to half a period, so that a screen changing at the rate asked is not written
// as repeats beside frames passed over. A cast that ended gives nothing more.
class PortalFeed : public LentFeed {
public:
    PortalFeed(VornCapture::PortalScreen& screen, uint32_t rate)
        : screen_(screen),
          pacer_(rate),
          lateMs_(static_cast<int>(500 / std::max<uint32_t>(rate, 1))) {}
    bool Take(double& seconds, size_t& size, int waitMs) override {
        if (!pacer_.Due(waitMs)) return false;
        if (screen_.Ended()) {
            // The pump's timeout ends the capture, which says the source stopped delivering.
            std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
            return false;
        }
        VornCapture::VideoFrame newer;
        if (screen_.Take(newer, lateMs_)) {
            frame_ = std::move(newer);
        } else if (frame_.planes[0].data == nullptr) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            return false;
        }
        pacer_.Served();
        // The frame stands for this period, whenever the screen last changed.
        seconds = static_cast<double>(MonotonicNs()) / 1e9;
        size = frame_.planes[0].length;
        return true;
    }
    uint64_t Lost() const override { return pacer_.Lost(); }
    void Close() override {
        LentFeed::Close();
        screen_.Close();
    }

private:
    VornCapture::PortalScreen& screen_;
    Pacer pacer_;
    const int lateMs_;  // how long a period's frame is waited for
};

// A camera's frames in its own format (Motion-JPEG, YUY2, NV12, I420, ...), as the camera
// paces them. Frames it made after the first one taken that never reached the tool (numbers
// the sequence skipped, frames of another format or size) are lost, and counted.
class CameraFeed : public LentFeed {
public:
    explicit CameraFeed(VornCapture::CameraSource& camera) : camera_(camera) {}
    bool Take(double& seconds, size_t& size, int waitMs) override {
        frame_ = VornCapture::VideoFrame{};  // the stream may write into it again
        if (!camera_.Take(frame_, waitMs)) return false;
        if (!started_) lostBefore_ = camera_.Lost();
        started_ = true;
        return Hand(seconds, size);
    }
    uint64_t Lost() const override { return started_ ? camera_.Lost() - lostBefore_ : 0; }
    void Close() override {
        LentFeed::Close();
        camera_.Close();
    }

private:
    VornCapture::CameraSource& camera_;
    bool started_ = false;
    uint64_t lostBefore_ = 0;  // frames before the first one taken are not the capture's
};
#endif

// Moves units from the source to the sink until a limit, a stop request or a failure. The
// progress counts time from `start`, when the source began to open. Video's seconds are its
// frames' time stamps from the first one's (the caller turns them into frames too), and audio
// stops once the file holds the seconds asked for (the last buffer cut to fit), so that the
// time a device takes to open or to hand over its buffers costs none of them.
// `sourceFailed`: the failure was the source's, and what was written is whole.
int Pump(Feed& source, Sink& sink, const Settings& settings, const StreamFormat& stream,
         Progress& progress, std::chrono::steady_clock::time_point start, RateMeter& meter,
         CaptureCounts& counts, std::vector<AudioGap>& gaps, bool& sourceFailed) {
    auto lastUnit = std::chrono::steady_clock::now();
    uint64_t taken = 0;
    int status = kExitOk;
    const bool video = stream.medium == Medium::Video;
    const uint64_t audioLimit = video ? 0 : AudioLimit(settings.maxSeconds, stream);
    counts.askedRate = settings.request.frameRate;
    const auto update = [&] {
        counts.seconds = SecondsSince(start);
        counts.dropped = source.Lost() + sink.Skipped();
        if (video) {
            counts.frameRate = meter.PerSecond();
            counts.missing = MissingFrames(counts.askedRate, meter, counts.dropped);
        }
    };
    double firstStamp = 0;
    bool skippedSince = false;  // the last unit taken was skipped
    while (!StopRequested()) {
        counts.seconds = SecondsSince(start);
        if (settings.maxFrames != 0 && counts.units >= settings.maxFrames) break;
        if (audioLimit != 0 && counts.audioBytes >= audioLimit) break;
        if (SecondsSince(lastUnit) >= settings.timeout) {
            const std::string limit = Fixed(settings.timeout);
            // Frames skipped (of another size, an image that did not decode) are no delivery.
            const std::string skipping = skippedSince ? "; frames came, but were skipped" : "";
            if (counts.units == 0) {
                ReportError("the source delivered nothing within " + limit + " s" + skipping);
                status = kExitNoSource;
            } else {
                ReportError("the source stopped delivering (nothing for " + limit + " s" +
                            skipping + ")");
                status = kExitFailure;
                sourceFailed = true;
            }
            break;
        }
        size_t size = 0;
        double stamp = 0;
        if (source.Take(stamp, size, 50)) {
            if (taken == 0) firstStamp = stamp;
            // Video's seconds are the frames' own time: a frame stamped at or past them, from
            // the first frame's stamp, ends the capture unwritten.
            if (video && settings.maxSeconds > 0 && taken != 0 &&
                stamp - firstStamp >= settings.maxSeconds)
                break;
            if (taken++ == 0) counts.firstAt = SecondsSince(start);
            if (!video) {
                const double gap = source.GapBeforeLast();
                const double perSecond = static_cast<double>(stream.BytesPerSecond());
                if (gap > 0 && perSecond > 0)
                    gaps.push_back({static_cast<double>(counts.audioBytes) / perSecond, gap});
                if (audioLimit != 0)
                    size = static_cast<size_t>(
                        std::min<uint64_t>(size, audioLimit - counts.audioBytes));
            }
            const uint64_t skipped = sink.Skipped();
            if (!source.Write(sink, size)) {
                if (!sink.NoRoom().empty()) {
                    status = kExitNoRoom;  // the caller keeps what was written
                    break;
                }
                ReportError("writing " + settings.output + " failed: " + sink.Error());
                status = kExitFailure;
                break;
            }
            // A slow output (a pipe nobody reads yet) is not the source's silence.
            skippedSince = sink.Skipped() != skipped;
            if (!skippedSince) {
                lastUnit = std::chrono::steady_clock::now();
                meter.Add(stamp);
            }
            counts.units = taken - sink.Skipped();
            if (!video) counts.audioBytes += size;
        }
        update();
        progress.Show(DescribeCounts(counts, stream));
    }
    update();
    return status;
}

// The rate the device means to deliver at: the rate it connected at, or for a device that
// does not say (the screens) the rate asked of it.
FrameRate DeviceRate(const StreamFormat& stream) {
    return stream.frameInterval != 0 ? RateOf(stream.DeviceRate()) : FrameRate{stream.frameRate, 1};
}

// The rate the frames written really came at: the device's rate where the rate measured over
// them agrees within 2 %, or within a frame and a half over the whole capture (there the
// measurement would only add jitter), or lies above it; otherwise the measured rate. A device
// makes no more frames than its rate: frames that seem to come faster came late at first (a
// graph that took long to start, a machine under load) and then together.
FrameRate TrueRate(const RateMeter& meter, FrameRate device) {
    const double measured = meter.PerSecond(), meant = ToDouble(device);
    const double tolerance = std::max(0.02 * meant, 1.5 / std::max(meter.Span(), 1e-3));
    if (measured <= 0 || measured >= meant - tolerance) return device;
    return RateOf(measured);
}

// A capture that ended (its time up, or stopped) before anything was written: the file would
// be a header alone, so it fails and the output is not left behind.
int ReportNothingWritten(const CaptureCounts& counts) {
    ReportError(StopRequested() ? kStoppedBeforeFirstFrame
                                : "the source delivered nothing in the " + Fixed(counts.seconds) +
                                      " s of the capture");
    return kExitNoSource;
}

// The file system took no more: the output keeps its whole frames or samples, with a true
// header, under its own name. "disk full after 61.2 s: talk.wav holds 60.0 s".
int KeepWhatWasWritten(const std::string& output, Sink& sink, const CaptureCounts& counts) {
    std::string error;
    double seconds = 0;
    if (!sink.KeepWritten(seconds, error)) {
        ReportError(sink.NoRoom() + " after " + Fixed(counts.seconds) + " s: " +
                    (output == "-" ? "standard output keeps what reached it"
                                   : "nothing of " + output + " could be kept: " + error));
        return kExitNoRoom;
    }
    ReportError(sink.NoRoom() + " after " + Fixed(counts.seconds) + " s: " + output + " holds " +
                Fixed(seconds) + " s");
    return kExitNoRoom;
}

// After a video capture: the frames the source never produced, and the rate the Y4M file
// says and where it comes from.
void ReportRate(const Settings& settings, const StreamFormat& stream, Sink& sink,
                const RateMeter& meter, const CaptureCounts& counts, bool y4m, bool onTerminal) {
    const uint32_t asked = settings.request.frameRate;
    const double produced = meter.PerSecond();
    if (counts.missing > 0 && produced > 0)
        ReportWarning("the source produced " + Fixed(produced) + " frames a second, not the " +
                      std::to_string(asked) + " asked for: " + std::to_string(counts.missing) +
                      " frames were never produced");
    if (counts.dropped > 0)
        ReportWarning(std::to_string(counts.dropped) +
                      " frames were dropped: the source made them, or would have while it was "
                      "held back for a capture that fell behind, but they were not written");
    if (!y4m) return;
    const FrameRate device = DeviceRate(stream), rate = TrueRate(meter, device);
    const bool measured = ToDouble(rate) != ToDouble(device);
    const std::string origin =
        measured ? "measured over the " + std::to_string(meter.Count()) + " frames written"
        : stream.frameInterval != 0 ? "the rate the device connected at; the frames agree"
                                    : "the rate asked for; the frames agree";
    if (measured && !sink.SetFrameRate(rate)) {
        ReportNotice("the Y4M header on standard output went out first and says " +
                     Fixed(ToDouble(device)) + " frames a second; the frames came at " +
                     Fixed(ToDouble(rate)) + " (a file gets the measured rate)");
        return;
    }
    if (onTerminal)
        std::fprintf(stderr, "vmcapture: the Y4M file says %s frames a second (%s)\n",
                     Fixed(ToDouble(rate)).c_str(), origin.c_str());
}

// Refuses a size the platform cannot capture; false after the report.
bool CheckCaptureSize(const CaptureRequest& request) {
    const uint64_t largest = LargestCapturePixels();
    if (largest == 0 || static_cast<uint64_t>(request.width) * request.height <= largest)
        return true;
    uint32_t side = 1;
    while (static_cast<uint64_t>(side + 1) * (side + 1) <= largest) ++side;
    ReportError("cannot capture " + SizeText(request.width, request.height) +
                ": the display makes pictures of at most " + std::to_string(largest) + " pixels (" +
                SizeText(side, side) + " as a square)");
    return false;
}

// The desktop is captured whole unless a region is asked for; false (reported) when the
// screen's size cannot be told, as the screen gives no picture, and for a screen or a window
// of a host world that has no display at all.
bool WholeScreenByDefault(const SourceKind& kind, CaptureRequest& request) {
    const std::string name = kind.kind;
    if ((name == "desktop" || name == "window") && !NoDisplay().empty()) {
        ReportError(name + ": the host world has " + NoDisplay() +
                    " (--world virtual captures the virtual one)");
        return false;
    }
    if (name != "desktop" || request.sizeGiven) return true;
    ScreenExtent screen{};
    if (!MeasureScreen(&screen)) {
        // A stop while the screen was asked for (a consent dialog open) ends the wait.
        if (StopRequested()) {
            ReportError(kStoppedBeforeFirstFrame);
            return false;
        }
        ReportError(
            "desktop: the screen delivered nothing, so its size is unknown (in a Wayland "
            "session: the screen cast did not start)");
        return false;
    }
    request.width = screen.width;
    request.height = screen.height;
    request.sizeGiven = true;
    return true;
}

#ifndef _WIN32
using VornCapture::CameraMode;
using VornCapture::PixelFormat;

// Whether a camera is taken in its own format: the default road (no --via) for a camera the
// capture layer reads as it is (a PipeWire camera of the host world). Otherwise the library's
// camera device captures it.
bool FindOwnFormatCamera(const Settings& settings, const SourceKind& kind,
                         VornCapture::CameraSource& camera) {
    if (std::string(kind.kind) != "camera" || !settings.via.empty() || !VORN_CAPTURE_HAS_CONVERT)
        return false;
    std::string why;
    return camera.Find(settings.selector, why);
}

// The stream of a camera mode: its size, and its rate where it fixes one.
StreamFormat CameraStream(const CameraMode& mode, uint32_t askedRate) {
    StreamFormat stream;
    stream.medium = Medium::Video;
    stream.width = mode.width;
    stream.height = mode.height;
    stream.frameRate = askedRate;
    if (mode.rateNum != 0 && mode.rateDenom != 0)
        stream.frameInterval = static_cast<uint64_t>(10000000) * mode.rateDenom / mode.rateNum;
    return stream;
}
#endif

// The compressed container that the format or the file's extension names, or "".
std::string ContainerOf(const std::string& format, const std::string& path) {
    std::string name = format;
    if (name.empty()) {
        const size_t dot = path.find_last_of('.'), slash = path.find_last_of('/');
        if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
            name = path.substr(dot + 1);
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return name == "mkv" || name == "mp4" || name == "webm" ? name : "";
}

int RecordCompressed(Settings settings, const SourceKind& kind, const std::string& container) {
    if (kind.medium != Medium::Video) {
        ReportError("a " + container + " recording wants a video source (add the microphone " +
                    "with --audio); sound alone is written as WAV");
        return kExitUsage;
    }
    if (settings.output == "-") {
        ReportError("a " + container + " recording is written to a file, not standard output");
        return kExitUsage;
    }
    CaptureRequest& request = settings.request;
    if (!WholeScreenByDefault(kind, request)) return kExitNoSource;
    if (std::string(kind.kind) == "desktop") {
        // The encoders take even sizes.
        request.width = EvenDown(request.width);
        request.height = EvenDown(request.height);
    }
    if (!CheckCaptureSize(request)) return kExitUsage;
    RecordingSettings recording;
#ifndef _WIN32
    // A camera taken in its own format runs in the mode chosen here. Into .mkv without a
    // bitrate a Motion-JPEG mode is preferred, and its frames are stored as they come.
    VornCapture::CameraSource camera;
    if (FindOwnFormatCamera(settings, kind, camera)) {
        const bool store = container == "mkv" && settings.videoKbps == 0;
        const CameraMode& mode = *VornCapture::ChooseCameraMode(
            camera.Modes(), request, store ? VornCapture::kJpegFirst : VornCapture::kRawFirst);
        recording.cameraMode = true;
        recording.storeJpeg = store && mode.format == PixelFormat::MJPEG;
        // Converted once, straight into what the encoders take (at even sizes).
        recording.toI420 = mode.width % 2 == 0 && mode.height % 2 == 0;
        request.width = mode.width;
        request.height = mode.height;
        recording.rateNum = mode.rateNum;
        recording.rateDenom = mode.rateDenom;
        if (mode.rateNum != 0 && mode.rateDenom != 0)
            request.frameRate =
                std::max<uint32_t>(1, (mode.rateNum + mode.rateDenom / 2) / mode.rateDenom);
    }
#endif
    recording.container = container;
    recording.output = settings.output;
    recording.videoKind = kind.kind;
    recording.videoDevice =
        settings.selector.byName ? settings.selector.name : std::to_string(settings.selector.index);
    recording.via = settings.via;
    recording.request = request;
    recording.audio = !settings.audio.empty();
    const size_t colon = settings.audio.find(':');
    recording.audioDevice = colon == std::string::npos ? "0" : settings.audio.substr(colon + 1);
    recording.maxSeconds = settings.maxSeconds;
    recording.maxFrames = settings.maxFrames;
    recording.timeout = settings.timeout;
    recording.videoKbps = settings.videoKbps;
    recording.quiet = settings.quiet;
#ifdef VMCAPTURE_RECORDING
    return Record(recording);
#else
    ReportError("this vmcapture was built without GStreamer: it records no ." + container +
                " files (Y4M, BMP and WAV it writes)");
    return kExitUsage;
#endif
}

// Whether the desktop is taken as the host screen's own lent frames: the default road (no
// --via) for the first desktop of an X display or of Windows, a region from its top-left corner
// no larger than it.
bool LentScreen(const Settings& settings, const SourceKind& kind, const CaptureRequest& request) {
    ScreenExtent screen{};
    return std::string(kind.kind) == "desktop" && settings.via.empty() &&
           !settings.selector.byName && settings.selector.index == 0 &&
#ifndef _WIN32
           VornCapture::X11Screen::Usable() &&
#endif
           MeasureScreen(&screen) && request.width <= screen.width &&
           request.height <= screen.height;
}

#ifndef _WIN32
// Whether the desktop is taken as the portal's own frames: the default road (no --via) for the
// first desktop of a Wayland session whose cast hands packed RGB frames that hold the region
// asked. Opening it waits for the cast to start (the desktop's dialog) and for its first frame;
// where it cannot be had the desktop device reads the screen, and says what it gets.
bool OpenPortalScreen(const Settings& settings, const SourceKind& kind,
                      const CaptureRequest& request, VornCapture::PortalScreen& screen) {
    std::string why;
    if (std::string(kind.kind) != "desktop" || !settings.via.empty() || settings.selector.byName ||
        settings.selector.index != 0 || !VornCapture::PortalScreen::InUse() ||
        !screen.Open(why, static_cast<int>(std::min(settings.timeout, 60.0) * 1000)))
        return false;
    if (request.width <= screen.Width() && request.height <= screen.Height()) return true;
    screen.Close();
    return false;
}
#endif

int Capture(Settings settings, const SourceKind& kind) {
    std::string error;
    const std::string container = ContainerOf(settings.format, settings.output);
    if (!container.empty()) return RecordCompressed(settings, kind, container);
    if (!settings.audio.empty() || settings.videoKbps != 0) {
        ReportError("--audio and --bitrate are for .mkv, .mp4 and .webm recordings");
        return kExitUsage;
    }
    OutputFormat format;
    if (!ChooseOutputFormat(settings.format, settings.output, kind.medium, format, error)) {
        ReportError(error);
        return kExitUsage;
    }
    if (kind.medium == Medium::Audio && settings.maxFrames != 0) {
        ReportError("--frames counts video frames; use --seconds for audio");
        return kExitUsage;
    }
    CaptureRequest& request = settings.request;
    if (!WholeScreenByDefault(kind, request)) return kExitNoSource;
    if (kind.medium == Medium::Video && !CheckCaptureSize(request)) return kExitUsage;
    std::unique_ptr<Source> source;
#ifndef _WIN32
    VornCapture::CameraSource camera;  // outlives the feed that reads it
    VornCapture::PortalScreen portal;  // so does the portal's screen
#endif
    std::unique_ptr<Feed> feed;
    StreamFormat stream;
    std::string name, road;
    // A JPEG camera's frames keep the full range their planes decode to.
    VornCapture::YuvRange range = VornCapture::YuvRange::Video;
    CatchStopRequests();
    const auto start = std::chrono::steady_clock::now();
    if (LentScreen(settings, kind, request)) {
        stream.medium = Medium::Video;
        stream.width = request.width;
        stream.height = request.height;
        stream.frameRate = request.frameRate;
        feed = std::make_unique<ScreenFeed>(request);
#ifndef _WIN32
        name = "X screen";
        road = "lent frames";
#else
        name = "Desktop";
        road = "lent GDI frames";
#endif
#ifndef _WIN32
    } else if (OpenPortalScreen(settings, kind, request, portal)) {
        stream.medium = Medium::Video;
        stream.width = request.width;
        stream.height = request.height;
        stream.frameRate = request.frameRate;
        feed = std::make_unique<PortalFeed>(portal, request.frameRate);
        name = "portal's screen";
        road = std::string("the portal's own ") + VornCapture::PixelFormatName(portal.Format()) +
               " frames";
    } else if (StopRequested()) {
        // The stop came while the portal's dialog was open.
        ReportError(kStoppedBeforeFirstFrame);
        return kExitNoSource;
    } else if (FindOwnFormatCamera(settings, kind, camera)) {
        const CameraMode& mode =
            *VornCapture::ChooseCameraMode(camera.Modes(), request, VornCapture::kRawFirst);
        if (!camera.Open(mode, error)) {
            ReportError("cannot open camera '" + camera.Name() + "': " + error);
            return kExitNoSource;
        }
        stream = CameraStream(mode, request.frameRate);
        feed = std::make_unique<CameraFeed>(camera);
        if (mode.format == PixelFormat::MJPEG) range = VornCapture::YuvRange::Full;
        name = camera.Name();
        road = std::string("its own ") + VornCapture::PixelFormatName(mode.format) + " frames";
#endif
    } else {
        source = kind.make(settings.selector, error);
        if (!source) {
            ReportError(std::string(kind.kind) + ": " + error);
            return kExitNoSource;
        }
        const bool opened = source->Open(request, error);
        // A stop while the device opened (a window's consent dialog open) ends the capture.
        if (StopRequested()) {
            ReportError(kStoppedBeforeFirstFrame);
            return kExitNoSource;
        }
        if (!opened) {
            ReportError("cannot open " + std::string(kind.kind) + " '" + source->Name() + "': " +
                        error + " (asked for " + DescribeRequest(request, kind.medium) + ")");
            return kExitNoSource;
        }
        stream = source->Format();
        feed = std::make_unique<DeviceFeed>(*source);
        name = source->Name();
        road = DeliveryName(kind.delivery);
    }
    ReportFormatChanges(request, stream);
    // S seconds at R frames a second are S x R frames, counted from the first.
    if (stream.medium == Medium::Video && settings.maxSeconds > 0) {
        const uint64_t frames = std::max<uint64_t>(
            1, static_cast<uint64_t>(
                   std::llround(settings.maxSeconds * ToDouble(DeviceRate(stream)))));
        settings.maxFrames =
            settings.maxFrames == 0 ? frames : std::min(settings.maxFrames, frames);
    }
    if (std::string(kind.kind) == "window" && (stream.width < 4 || stream.height < 4)) {
        ReportError("the window '" + name + "' delivers nothing: its client area " +
                    SizeText(stream.width, stream.height) + " is under 4 pixels either way");
        return kExitNoSource;
    }
    // The header says the device's rate until the capture ends; then the rate the frames
    // really came at replaces it where the two disagree.
    std::unique_ptr<Sink> sink =
        MakeSink(format, settings.output, stream, DeviceRate(stream), error, range);
    if (!sink) {
        ReportError(error);
        return kExitFailure;
    }
    const bool onTerminal = !settings.quiet && IsTerminal(stderr);
    Progress progress(stderr, onTerminal);
    if (onTerminal)
        std::fprintf(stderr, "vmcapture: %s '%s' (%s), %s -> %s; Ctrl-C stops\n", kind.kind,
                     name.c_str(), road.c_str(), DescribeStream(stream).c_str(),
                     settings.output.c_str());
    RateMeter meter;
    CaptureCounts counts;
    std::vector<AudioGap> gaps;
    bool sourceFailed = false;
    int status =
        Pump(*feed, *sink, settings, stream, progress, start, meter, counts, gaps, sourceFailed);
    feed->Close();
    progress.Finish(DescribeCounts(counts, stream));
    if (status == kExitOk && counts.units == 0) status = ReportNothingWritten(counts);
    if (!gaps.empty()) {
        ReportWarning(DescribeGaps(gaps));
        if (settings.strict && status == kExitOk) status = kExitLost;
    }
    if (status == kExitNoRoom) return KeepWhatWasWritten(settings.output, *sink, counts);
    // Audio that a device delivered before it broke off is kept, and said to be short.
    const bool keepPartial =
        sourceFailed && stream.medium == Medium::Audio && counts.audioBytes > 0;
    if (status != kExitOk && status != kExitLost && !keepPartial)
        return status;  // the unfinished output goes with the sink
    if (stream.medium == Medium::Video)
        ReportRate(settings, stream, *sink, meter, counts, format == OutputFormat::Y4m, onTerminal);
    if (!sink->Finish(error)) {
        ReportError("writing " + settings.output + " failed: " + error);
        return kExitFailure;
    }
    if (keepPartial)
        ReportError((settings.output == "-" ? std::string("standard output") : settings.output) +
                    " holds the " +
                    Fixed(static_cast<double>(counts.audioBytes) / stream.BytesPerSecond()) +
                    " s of audio the device delivered before it broke off");
    return status;
}

}  // namespace

int RunCapture(const std::vector<std::string>& args) {
    ParsedArgs parsed;
    const int parseStatus = ParseCommandLine(args, Definition(), parsed);
    if (parseStatus >= 0) return parseStatus;
    Settings settings;
    if (!ReadSettings(parsed, settings)) return kExitUsage;
    SetQuiet(settings.quiet);
    std::string error;
    const SourceKind* kind = FindSourceKind(settings.kind, settings.via, error);
    if (kind == nullptr) {
        ReportError(error);
        return kExitUsage;
    }
    const int worldStatus = ApplyWorldOptions(parsed);
    if (worldStatus != kExitOk) return worldStatus;
    // From here on a stop is the capture's: one while the world waits on the user (the screen's
    // consent dialog) ends that wait.
    SetStopHook(StopWorldWaits);
    CatchStopRequests();
    return Capture(settings, *kind);
}

}  // namespace vmcapture
