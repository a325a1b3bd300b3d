// vmcapture capture: one source into a file, with progress, until a limit or Ctrl-C.
#include <chrono>
#include <cstdio>

#include "commands.h"
#include "console.h"
#include "image.h"
#include "options.h"
#include "progress.h"
#include "report.h"
#include "sinks.h"
#include "sources.h"
#include "stopsignal.h"
#include "world.h"

namespace vmcapture {

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
};

CommandDef Definition() {
    CommandDef def{
        "vmcapture capture KIND [INDEX|NAME] -o FILE [options]",
        "Captures one source into a file until a limit is reached or Ctrl-C is pressed.\n"
        "KIND is desktop, window, camera or microphone (vmcapture list shows the sources);\n"
        "the source is picked by INDEX (default 0) or by NAME (a window by its title). A\n"
        "camera or microphone is captured through one of its two device classes: --via push\n"
        "(the device calls the tool for every frame or buffer; the default) or --via pull\n"
        "(the tool asks for each one). Video is written as Y4M (I420, BT.601 studio range)\n"
        "or as numbered 24-bit BMP files, audio as WAV.",
        {
            {"output", 'o', "FILE",
             "output file; '-' writes Y4M to standard output; for BMP a pattern such as "
             "shot-%04d.bmp (default: a number before the extension)"},
            {"format", 'f', "FORMAT", "y4m, bmp or wav (default: from the file name)"},
            {"name", 0, "TEXT", "pick the source by its name, also one made of digits"},
            {"via", 0, "push|pull", "how a camera or microphone delivers (default push)"},
            {"size", 's', "WxH", "frame size asked of the source (default 640x480)"},
            {"fps", 'r', "N", "frames per second, 1 to 1000 (default 20)"},
            {"rate", 0, "HZ", "audio sample rate, 1000 to 384000 (default 44100)"},
            {"bits", 0, "N", "audio bits per sample: 8, 16, 24 or 32 (default 16)"},
            {"channels", 0, "N", "audio channels, 1 to 16 (default 2)"},
            {"seconds", 't', "S", "stop after S seconds"},
            {"frames", 'n', "N", "stop after N video frames"},
            {"timeout", 0, "S",
             "give up when the source delivers nothing for S seconds "
             "(default 5)"},
            {"quiet", 'q', nullptr, "no progress and no notices"},
        },
        "Without --seconds or --frames the capture runs until Ctrl-C. Progress (frames,\n"
        "dropped frames, achieved rate) is shown only when standard error is a terminal.\n"
        "Y4M frames of odd width or height are cropped to even sizes.\n\n"
        "Examples:\n"
        "  vmcapture capture desktop --seconds 3 -o desktop.y4m\n"
        "  vmcapture capture desktop --size 1280x720 --fps 10 --frames 5 -o shot-%03d.bmp\n"
        "  vmcapture capture window 'Untitled - Editor' --seconds 10 -o editor.y4m\n"
        "  vmcapture capture camera 0 --via pull --size 320x240 --frames 100 -o camera.y4m\n"
        "  vmcapture capture microphone --rate 48000 --seconds 5 -o voice.wav"};
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

// Tells where the source delivers something other than what was asked.
void ReportFormatChanges(const CaptureRequest& request, const StreamFormat& stream) {
    if (stream.medium == Medium::Video) {
        if (request.sizeGiven && (request.width != stream.width || request.height != stream.height))
            ReportNotice("the source delivers " + SizeText(stream.width, stream.height) +
                         ", not the " + SizeText(request.width, request.height) + " asked for");
        return;
    }
    if (request.sampleRate != stream.sampleRate || request.bitsPerSample != stream.bitsPerSample ||
        request.channels != stream.channels)
        ReportNotice("the source delivers " + std::to_string(stream.sampleRate) + " Hz, " +
                     std::to_string(stream.bitsPerSample) + " bits, " +
                     std::to_string(stream.channels) + " channels");
}

std::string DescribeStream(const StreamFormat& stream) {
    if (stream.medium == Medium::Video)
        return SizeText(stream.width, stream.height) + " at " + std::to_string(stream.frameRate) +
               " fps";
    return std::to_string(stream.sampleRate) + " Hz, " + std::to_string(stream.bitsPerSample) +
           " bits, " + std::to_string(stream.channels) + " channels";
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

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The byte rate at which units arrive, from the end of the first unit to the end of the last.
class ArrivalRate {
public:
    void Add(size_t size) {
        const auto now = std::chrono::steady_clock::now();
        if (units_++ == 0)
            first_ = now;
        else
            bytes_ += size;
        last_ = now;
    }
    // Bytes a second; 0 when the units span less than `minimumSeconds`.
    double BytesPerSecond(double minimumSeconds) const {
        const double span = std::chrono::duration<double>(last_ - first_).count();
        return units_ > 1 && span >= minimumSeconds ? bytes_ / span : 0.0;
    }

private:
    uint64_t units_ = 0;
    uint64_t bytes_ = 0;
    std::chrono::steady_clock::time_point first_{}, last_{};
};

// A device that refuses the audio format asked of it keeps the request in its fields and
// delivers a format of its own, which the WAV header then misnames. Pushed audio arrives in
// real time, so its byte rate tells.
void CheckAudioRate(const SourceKind& kind, const StreamFormat& stream, const ArrivalRate& rate) {
    const double measured = rate.BytesPerSecond(1.0);
    const double declared = static_cast<double>(stream.BytesPerSecond());
    if (stream.medium != Medium::Audio || kind.delivery != Delivery::Push || measured == 0 ||
        (measured > declared * 0.75 && measured < declared * 1.25))
        return;
    ReportNotice("the device delivered about " + std::to_string(static_cast<long long>(measured)) +
                 " bytes a second, not the " + std::to_string(static_cast<long long>(declared)) +
                 " of the format it reports: it may not support the format asked for, and the "
                 "WAV file may play at the wrong speed");
}

// Moves units from the source to the sink until a limit, a stop request or a failure. Time
// counts from `start`, when the source began to open: a device may capture while it opens.
int Pump(Source& source, Sink& sink, const Settings& settings, const StreamFormat& stream,
         Progress& progress, std::chrono::steady_clock::time_point start, ArrivalRate& rate) {
    auto lastUnit = std::chrono::steady_clock::now();
    CaptureCounts counts;
    uint64_t taken = 0;
    int status = kExitOk;
    while (!StopRequested()) {
        counts.seconds = SecondsSince(start);
        if (settings.maxFrames != 0 && counts.units >= settings.maxFrames) break;
        if (settings.maxSeconds > 0 && counts.seconds >= settings.maxSeconds) break;
        if (SecondsSince(lastUnit) >= settings.timeout) {
            const std::string limit = std::to_string(static_cast<long long>(settings.timeout));
            if (taken == 0) {
                ReportError("the source delivered nothing within " + limit + " s");
                status = kExitNoSource;
            } else {
                ReportError("the source stopped delivering (nothing for " + limit + " s)");
                status = kExitFailure;
            }
            break;
        }
        const uint8_t* data = nullptr;
        size_t size = 0;
        if (source.Take(data, size, 50)) {
            lastUnit = std::chrono::steady_clock::now();
            ++taken;
            if (!sink.Consume(data, size)) {
                ReportError("writing " + settings.output + " failed: " + sink.Error());
                status = kExitFailure;
                break;
            }
            rate.Add(size);
            counts.units = taken - sink.Skipped();
            if (stream.medium == Medium::Audio) counts.audioBytes += size;
        }
        counts.dropped = source.Lost() + sink.Skipped();
        progress.Show(DescribeCounts(counts, stream));
    }
    counts.seconds = SecondsSince(start);
    counts.dropped = source.Lost() + sink.Skipped();
    progress.Finish(DescribeCounts(counts, stream));
    return status;
}

int Capture(const Settings& settings, const SourceKind& kind) {
    std::string error;
    OutputFormat format;
    if (!ChooseOutputFormat(settings.format, settings.output, kind.medium, format, error)) {
        ReportError(error);
        return kExitUsage;
    }
    if (kind.medium == Medium::Audio && settings.maxFrames != 0) {
        ReportError("--frames counts video frames; use --seconds for audio");
        return kExitUsage;
    }
    std::unique_ptr<Source> source = kind.make(settings.selector, error);
    if (!source) {
        ReportError(std::string(kind.kind) + ": " + error);
        return kExitNoSource;
    }
    CatchStopRequests();
    const auto start = std::chrono::steady_clock::now();
    if (!source->Open(settings.request, error)) {
        ReportError("cannot open " + std::string(kind.kind) + " '" + source->Name() + "': " +
                    error + " (asked for " + DescribeRequest(settings.request, kind.medium) + ")");
        return kExitNoSource;
    }
    const StreamFormat stream = source->Format();
    ReportFormatChanges(settings.request, stream);
    std::unique_ptr<Sink> sink = MakeSink(format, settings.output, stream, error);
    if (!sink) {
        ReportError(error);
        return kExitFailure;
    }
    const bool onTerminal = !settings.quiet && IsTerminal(stderr);
    Progress progress(stderr, onTerminal);
    if (onTerminal)
        std::fprintf(stderr, "vmcapture: %s '%s' (%s), %s -> %s; Ctrl-C stops\n", kind.kind,
                     source->Name().c_str(), DeliveryName(kind.delivery),
                     DescribeStream(stream).c_str(), settings.output.c_str());
    ArrivalRate rate;
    int status = Pump(*source, *sink, settings, stream, progress, start, rate);
    source->Close();
    CheckAudioRate(kind, stream, rate);
    if (!sink->Finish(error)) {
        ReportError("writing " + settings.output + " failed: " + error);
        status = kExitFailure;
    }
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
    return Capture(settings, *kind);
}

}  // namespace vmcapture
