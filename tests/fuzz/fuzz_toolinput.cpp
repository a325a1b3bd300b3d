// SPDX-License-Identifier: MIT
// The capture tool's readers of what comes from outside: its bitmap decoder, its reader of raw
// RGB frames, and the parsers of option values and command lines. The first byte picks the
// reader, the rest is its input. Each result is checked against the input it came from.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bmp.h"
#include "fuzz_check.h"
#include "image.h"
#include "options.h"
#include "rawframes.h"

namespace {

using namespace vmcapture;
using namespace VornCapture;

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == separator)
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

// Converts the even part of `image` as the tool does, when it has one.
void ConvertEvenPart(const ImageView& image) {
    const uint32_t width = EvenDown(image.width), height = EvenDown(image.height);
    if (width == 0 || height == 0) return;
    I420Maker maker;
    FUZZ_REQUIRE(maker.Convert(image, width, height));
    FUZZ_REQUIRE(maker.PlaneAt(0).size == size_t{width} * height);
    FUZZ_REQUIRE(maker.PlaneAt(1).size == size_t{width / 2} * (height / 2));
}

// A decoded bitmap lies wholly inside its file.
void Bitmap(const std::vector<uint8_t>& file) {
    ImageView view;
    std::string error;
    if (!DecodeBmp(file, view, error)) {
        FUZZ_REQUIRE(!error.empty());
        return;
    }
    FUZZ_REQUIRE(view.width >= 1 && view.width <= kMaxSide);
    FUZZ_REQUIRE(view.height >= 1 && view.height <= kMaxSide);
    FUZZ_REQUIRE(view.pixelBytes == 3 || view.pixelBytes == 4);
    FUZZ_REQUIRE(view.stride >= size_t{view.width} * view.pixelBytes);
    const size_t start = static_cast<size_t>(view.bits - file.data());
    FUZZ_REQUIRE(view.bits >= file.data() && start <= file.size());
    FUZZ_REQUIRE(view.stride * (view.height - 1) + size_t{view.width} * view.pixelBytes <=
                 file.size() - start);
    ConvertEvenPart(view);
}

// Raw frames: "<W>x<H>\n", a byte of flags (1: blue first, 2: bottom row first), the frames.
void Raw(const std::vector<uint8_t>& input) {
    const std::string text(input.begin(), input.end());
    const size_t newline = text.find('\n');
    if (newline == std::string::npos || newline + 1 >= text.size()) return;
    uint32_t width = 0, height = 0;
    // A small bound: the reader holds one whole frame.
    if (!ParseSize(text.substr(0, newline), 64, width, height)) return;
    const uint8_t flags = static_cast<uint8_t>(text[newline + 1]);
    const RawFrames layout{width, height, (flags & 1) != 0, (flags & 2) != 0};
    std::string frames = text.substr(newline + 2);
    const size_t frameBytes = size_t{width} * height * 3;
    const bool whole = !frames.empty() && frames.size() % frameBytes == 0;
    frames += '\0';  // fmemopen wants a buffer of one byte at least; the size below excludes it
    std::FILE* in = fmemopen(&frames[0], frames.size() - 1, "rb");
    FUZZ_REQUIRE(in != nullptr);
    size_t seen = 0;
    std::string error;
    const bool ok = ReadRawFrames(
        in, "input", layout,
        [&](const ImageView& image, std::string&) {
            // The top-left pixel, found in the input apart from the reader.
            const size_t top = layout.bottomUp ? size_t{height - 1} * width * 3 : 0;
            const auto* p = reinterpret_cast<const uint8_t*>(frames.data()) + seen * frameBytes;
            const uint32_t r = p[top + (layout.blueFirst ? 2 : 0)], g = p[top + 1],
                           b = p[top + (layout.blueFirst ? 0 : 2)];
            FUZZ_REQUIRE(image.Pixel(0, 0) == (r << 16 | g << 8 | b));
            ConvertEvenPart(image);
            ++seen;
            return true;
        },
        error);
    std::fclose(in);
    FUZZ_REQUIRE(ok == whole);
    FUZZ_REQUIRE(ok ? error.empty() : !error.empty());
    if (ok) FUZZ_REQUIRE(seen == (frames.size() - 1) / frameBytes);
}

// The value of a decimal text when it is one of at most 19 digits (which always fits).
bool Decimal(const std::string& text, uint64_t& value) {
    if (text.empty() || text.size() > 19) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

// Option values: counts, sizes, durations; then the words as a command line.
void Numbers(const std::vector<uint8_t>& input) {
    const std::vector<std::string> words = Split(std::string(input.begin(), input.end()), '\n');
    for (const std::string& word : words) {
        uint64_t value = 0, expected = 0;
        const bool decimal = Decimal(word, expected);
        FUZZ_REQUIRE(ParseUnsigned(word, 0, UINT64_MAX, value) == decimal);
        if (decimal) FUZZ_REQUIRE(value == expected);
        const bool inRange = decimal && expected >= 1 && expected <= 1000;
        value = 7;
        FUZZ_REQUIRE(ParseUnsigned(word, 1, 1000, value) == inRange);
        FUZZ_REQUIRE(value == (inRange ? expected : 7));

        uint32_t width = 0, height = 0;
        if (ParseSize(word, kMaxSide, width, height)) {
            FUZZ_REQUIRE(width >= 1 && width <= kMaxSide && height >= 1 && height <= kMaxSide);
            const size_t x = word.find_first_of("xX");
            uint64_t w = 0, h = 0;
            FUZZ_REQUIRE(Decimal(word.substr(0, x), w) && Decimal(word.substr(x + 1), h));
            FUZZ_REQUIRE(w == width && h == height);
        }
        uint32_t rgb = 0;
        if (ParseHexColor(word, rgb)) FUZZ_REQUIRE(rgb <= 0xFFFFFFu);
        double seconds = 0;
        if (ParseSeconds(word, seconds)) FUZZ_REQUIRE(seconds > 0 && seconds <= 366.0 * 24 * 3600);
    }
    const std::vector<OptionDef> defs = {{"output", 'o', "FILE", ""},
                                         {"size", 's', "WxH", ""},
                                         {"frames", 'n', "N", ""},
                                         {"quiet", 'q', nullptr, ""}};
    ParsedArgs parsed;
    std::string error;
    if (ParseArgs(words, defs, parsed, error)) {
        FUZZ_REQUIRE(parsed.Positionals().size() <= words.size());
        for (const char* name : {"output", "size", "frames"})
            if (parsed.Has(name)) FUZZ_REQUIRE(parsed.Values(name).size() <= words.size());
    } else {
        FUZZ_REQUIRE(!error.empty());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::vector<uint8_t> input(data + 1, data + size);
    (data[0] % 3 == 0 ? Bitmap : data[0] % 3 == 1 ? Raw : Numbers)(input);
    return 0;
}
