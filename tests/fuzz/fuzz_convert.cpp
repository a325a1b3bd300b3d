// SPDX-License-Identifier: MIT
// The RGB24 to I420 converter with any size and any announced output length. Every buffer is
// allocated at exactly the size given to the converter, so AddressSanitizer sees any byte read
// or written past it; a successful conversion is checked against the formulas pixel by pixel.
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_check.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "tqzcolorspaceconvert.h"

namespace {

// Larger images are only ever offered with too small an output buffer: their source would not
// fit the fuzzer's memory limit.
constexpr std::uint64_t kMaxPixels = 1u << 16;
constexpr std::uint64_t kMaxOutput = 1u << 20;
constexpr std::uint8_t kFill = 0xA5;

std::uint32_t PickSide(FuzzedDataProvider& in) {
    const int kind = in.ConsumeIntegralInRange(0, 3);
    if (kind < 2) return in.ConsumeIntegralInRange<std::uint32_t>(0, kind == 0 ? 16 : 2048);
    if (kind == 3) return in.ConsumeIntegral<std::uint32_t>();
    // Near the ends of the signed and unsigned ranges: "negative" sizes.
    return in.ConsumeBool() ? 0xFFFFFFFFu - in.ConsumeIntegralInRange<std::uint32_t>(0, 4)
                            : 0x80000000u + in.ConsumeIntegralInRange<std::uint32_t>(0, 4) - 2u;
}

int Floor8(int v) { return v >> 8; }  // arithmetic shift: rounds towards minus infinity
std::uint8_t Luma(const std::uint8_t* p) {
    return static_cast<std::uint8_t>(Floor8(66 * p[0] + 129 * p[1] + 25 * p[2] + 128) + 16);
}
std::uint8_t Cb(const std::uint8_t* p) {
    return static_cast<std::uint8_t>(Floor8(-38 * p[0] - 74 * p[1] + 112 * p[2] + 128) + 128);
}
std::uint8_t Cr(const std::uint8_t* p) {
    return static_cast<std::uint8_t>(Floor8(112 * p[0] - 94 * p[1] - 18 * p[2] + 128) + 128);
}

// The expected output of a bottom-up source, top row first: luma, then Cr, then Cb. Built
// apart and compared in one call: the target's own comparisons are traced by the fuzzer, so
// they stay out of the per-byte loops.
std::vector<std::uint8_t> Expected(const std::uint8_t* rgb, std::uint32_t w, std::uint32_t h) {
    std::vector<std::uint8_t> out(std::size_t{w} * h * 3 / 2);
    std::uint8_t* cr = out.data() + std::size_t{w} * h;
    std::uint8_t* cb = cr + std::size_t{w / 2} * (h / 2);
    for (std::uint32_t y = 0; y < h; ++y) {
        const std::uint8_t* row = rgb + std::size_t{h - 1 - y} * w * 3;
        for (std::uint32_t x = 0; x < w; ++x) out[std::size_t{y} * w + x] = Luma(row + 3 * x);
        std::uint8_t* chroma = (y % 2 == 0 ? cb : cr) + std::size_t{y / 2} * (w / 2);
        auto value = y % 2 == 0 ? Cb : Cr;
        for (std::uint32_t x = 0; x < w; x += 2) chroma[x / 2] = value(row + 3 * x);
    }
    return out;
}

// Whether `count` bytes at `p` all hold `value`.
bool AllAre(const std::uint8_t* p, std::size_t count, std::uint8_t value) {
    return count == 0 || (p[0] == value && std::memcmp(p, p + 1, count - 1) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using TQZCapture::TQZColorSpaceConvert;
    FuzzedDataProvider in(data, size);
    const std::uint32_t width = PickSide(in);
    const std::uint32_t height = PickSide(in);
    const std::uint64_t pixels = std::uint64_t{width} * height;
    const bool even = width % 2 == 0 && height % 2 == 0;
    const std::uint64_t required = pixels + pixels / 2;
    const bool sourceFits = pixels <= kMaxPixels;

    // The announced output length: exact, one short, one over, or anything the limit allows.
    const int how = in.ConsumeIntegralInRange(0, 3);
    std::uint64_t available = how == 3 ? in.ConsumeIntegralInRange<std::uint64_t>(0, kMaxOutput)
                                       : std::max<std::uint64_t>(required + how, 1) - 1;
    available = std::min(available, kMaxOutput);
    // A source we cannot allocate must not be read: the output must then be refused first.
    if (!sourceFits && even && available >= required) available = required - 1;

    const std::size_t sourceBytes = sourceFits ? static_cast<std::size_t>(pixels * 3) : 1;
    std::unique_ptr<std::uint8_t[]> rgb(new std::uint8_t[sourceBytes == 0 ? 1 : sourceBytes]);
    std::vector<std::uint8_t> rest = in.ConsumeRemainingBytes<std::uint8_t>();
    if (rest.empty()) rest.push_back(0x5A);
    for (std::size_t i = 0; i < sourceBytes; i += rest.size())
        std::memcpy(&rgb[i], rest.data(), std::min(rest.size(), sourceBytes - i));

    const std::size_t outBytes = static_cast<std::size_t>(available);
    std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[outBytes == 0 ? 1 : outBytes]);
    std::memset(out.get(), kFill, outBytes);
    unsigned int outLen = static_cast<unsigned int>(available);

    // Null arguments: refused, nothing written.
    FUZZ_REQUIRE(
        !TQZColorSpaceConvert::RGB24_TO_YUV_I420(nullptr, width, height, out.get(), &outLen) &&
        !TQZColorSpaceConvert::RGB24_TO_YUV_I420(rgb.get(), width, height, nullptr, &outLen) &&
        !TQZColorSpaceConvert::RGB24_TO_YUV_I420(rgb.get(), width, height, out.get(), nullptr) &&
        outLen == available);

    const bool ok =
        TQZColorSpaceConvert::RGB24_TO_YUV_I420(rgb.get(), width, height, out.get(), &outLen);
    const bool fits32 = required <= 0xFFFFFFFFu;
    if (!even || !fits32) {
        // Refused: the announced bytes cleared, the length 0.
        FUZZ_REQUIRE(!ok && outLen == 0);
        FUZZ_REQUIRE(AllAre(out.get(), outBytes, 0));
    } else if (available < required) {
        // Too small: untouched, the length it needs.
        FUZZ_REQUIRE(!ok && outLen == required);
        FUZZ_REQUIRE(AllAre(out.get(), outBytes, kFill));
    } else {
        FUZZ_REQUIRE(ok && outLen == required);
        const std::size_t length = static_cast<std::size_t>(required);
        FUZZ_REQUIRE(AllAre(out.get() + length, outBytes - length, 0));
        if (length > 0) {
            std::vector<std::uint8_t> expected = Expected(rgb.get(), width, height);
            FUZZ_REQUIRE(std::memcmp(out.get(), expected.data(), length) == 0);
        }
    }
    return 0;
}
