// SPDX-License-Identifier: MIT
// vmcapture convert: RGB24 or BMP images to I420 with the library's converter.
#include <cstdio>
#include <memory>

#include "bmp.h"
#include "commands.h"
#include "console.h"
#include "files.h"
#include "image.h"
#include "options.h"
#include "rawframes.h"
#include "report.h"
#include "yuvwriter.h"

namespace vmcapture {

using VornCapture::EvenDown;
using VornCapture::I420Maker;
using VornCapture::ImageView;
using VornCapture::kMaxSide;

namespace {

CommandDef Definition() {
    return CommandDef{
        "vmcapture convert INPUT -o OUTPUT [options]",
        "Converts a 24-bit image to I420 with the library's converter (BT.601 studio range,\n"
        "chroma point-sampled). INPUT is a BMP file (24 or 32 bits) or raw RGB24 frames, one\n"
        "after another ('-' reads standard input). OUTPUT is a Y4M stream or raw I420 (the\n"
        "planes Y, U, V of each frame); '-' writes to standard output.",
        {
            {"output", 'o', "FILE", "output file ('-': standard output)"},
            {"format", 'f', "y4m|i420",
             "output format (default: y4m for a .y4m name and for '-', i420 for a .yuv or "
             ".i420 name)"},
            {"input", 'i', "bmp|rgb|bgr",
             "input format (default: bmp for a .bmp name, else rgb: red, green, blue bytes)"},
            {"size", 's', "WxH", "size of raw input frames (needed for rgb and bgr; not for bmp)"},
            {"bottom-up", 0, nullptr, "raw input rows are stored bottom row first"},
            {"fps", 'r', "N", "frame rate written into a Y4M header (default 20)"},
            {"quiet", 'q', nullptr, "no notices"},
        },
        "Odd widths and heights are cropped to even sizes (the converter takes even sizes).\n\n"
        "Examples:\n"
        "  vmcapture convert picture.bmp -o picture.y4m\n"
        "  vmcapture convert frames.rgb --size 640x480 -o frames.yuv"};
}

bool HasExtension(const std::string& path, const std::string& extension) {
    if (path.size() <= extension.size()) return false;
    std::string tail = path.substr(path.size() - extension.size());
    for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return tail == extension;
}

// Converts images of one size and writes them, cropping odd sizes once announced.
class Converter {
public:
    Converter(const std::string& output, YuvContainer container, uint32_t frameRate)
        : output_(output), container_(container), frameRate_(frameRate) {}

    bool Write(const ImageView& image, std::string& error) {
        const uint32_t width = EvenDown(image.width), height = EvenDown(image.height);
        if (width == 0 || height == 0) {
            error = "a picture of width or height 1 has no even part to convert";
            return false;
        }
        if (!opened_) {
            if (width != image.width || height != image.height)
                ReportNotice("size " + std::to_string(image.width) + "x" +
                             std::to_string(image.height) + " is odd; cropped to " +
                             std::to_string(width) + "x" + std::to_string(height));
            if (!writer_.Open(output_, container_, width, height, {frameRate_, 1}, error))
                return false;
            opened_ = true;
        }
        if (!maker_.Convert(image, width, height)) {
            error = "the colour converter failed";
            return false;
        }
        if (!writer_.WriteFrame(maker_)) {
            writer_.Close(error);
            return false;
        }
        return true;
    }
    bool Close(std::string& error) { return writer_.Close(error); }

private:
    std::string output_;
    YuvContainer container_;
    uint32_t frameRate_;
    bool opened_ = false;
    I420Maker maker_;
    YuvWriter writer_;
};

bool ConvertBmp(const std::string& path, Converter& converter, std::string& error) {
    std::vector<uint8_t> file;
    ImageView image;
    return ReadBmpFile(path, file, image, error) && converter.Write(image, error);
}

bool ConvertRaw(const std::string& path, const RawFrames& layout, Converter& converter,
                std::string& error) {
    const bool fromStdin = path == "-";
    std::FILE* in = fromStdin ? stdin : std::fopen(path.c_str(), "rb");
    if (in == nullptr) {
        error = SystemError(path);
        return false;
    }
    if (fromStdin) UseBinaryMode(stdin);
    const bool ok = ReadRawFrames(
        in, path, layout,
        [&converter](const ImageView& image, std::string& why) {
            return converter.Write(image, why);
        },
        error);
    if (!fromStdin) std::fclose(in);
    return ok;
}

}  // namespace

int RunConvert(const std::vector<std::string>& args) {
    ParsedArgs parsed;
    const int parseStatus = ParseCommandLine(args, Definition(), parsed);
    if (parseStatus >= 0) return parseStatus;
    SetQuiet(parsed.Has("quiet"));
    if (parsed.Positionals().size() != 1) {
        ReportError("convert wants one input file (see --help)");
        return kExitUsage;
    }
    const std::string input = parsed.Positionals()[0];
    const std::string output = parsed.Value("output");
    if (output.empty()) {
        ReportError("convert wants an output file: -o FILE (see --help)");
        return kExitUsage;
    }
    std::string format = parsed.Value("format");
    if (format.empty()) {
        if (output == "-" || HasExtension(output, ".y4m"))
            format = "y4m";
        else if (HasExtension(output, ".yuv") || HasExtension(output, ".i420"))
            format = "i420";
        else {
            ReportError("cannot tell the output format from '" + output +
                        "': name it .y4m, .yuv or .i420, or give -f y4m|i420");
            return kExitUsage;
        }
    }
    std::string inputFormat = parsed.Value("input");
    if (inputFormat.empty()) inputFormat = HasExtension(input, ".bmp") ? "bmp" : "rgb";
    uint64_t frameRate = 20;
    uint32_t width = 0, height = 0;
    if (format != "y4m" && format != "i420") {
        ReportError("--format wants y4m or i420");
        return kExitUsage;
    }
    if (inputFormat != "bmp" && inputFormat != "rgb" && inputFormat != "bgr") {
        ReportError("--input wants bmp, rgb or bgr");
        return kExitUsage;
    }
    if (parsed.Has("fps") && !ParseUnsigned(parsed.Value("fps"), 1, 1000, frameRate)) {
        ReportError("--fps wants a whole number from 1 to 1000");
        return kExitUsage;
    }
    if (inputFormat == "bmp" && parsed.Has("size")) {
        ReportError("--size is for raw input; a BMP file gives its own size");
        return kExitUsage;
    }
    if (inputFormat != "bmp" && !ParseSize(parsed.Value("size"), kMaxSide, width, height)) {
        ReportError("raw input needs --size WxH, each side 1 to " + std::to_string(kMaxSide));
        return kExitUsage;
    }

    Converter converter(output, format == "y4m" ? YuvContainer::Y4m : YuvContainer::RawI420,
                        static_cast<uint32_t>(frameRate));
    std::string error;
    const bool converted =
        inputFormat == "bmp"
            ? ConvertBmp(input, converter, error)
            : ConvertRaw(input, {width, height, inputFormat == "bgr", parsed.Has("bottom-up")},
                         converter, error);
    // A failed conversion leaves no output: the converter's file is discarded unclosed.
    if (!converted || !converter.Close(error)) {
        ReportError(error);
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace vmcapture
