// SPDX-License-Identifier: MIT
// The media devices' format choice as pure functions: which capability a video pin is asked
// for, at what size and frame interval, and the audio devices' records and buffer suggestions
// where their products must not wrap (the device tests of the virtual world see the usual ones).
#include <gtest/gtest.h>

#include <vector>

#include "internal/graph/formatchoice.h"

namespace {

using namespace TQZCapture;
using namespace TQZCapture::internal;

VideoCapability Cap(HRESULT status, const GUID& major, const GUID& sub, bool header, LONG w, LONG h,
                    SIZE largest = {1920, 1080}) {
    return {status, true, major, sub, header, w, h, largest};
}

// A pin's listing with one trap of each kind before the usable entries.
std::vector<VideoCapability> Listing() {
    VideoCapability untyped;
    untyped.status = S_OK;
    return {
        Cap(E_FAIL, MEDIATYPE_Video, MEDIASUBTYPE_I420, true, 640, 480),   // 0: read failed
        untyped,                                                           // 1: no media type
        Cap(S_OK, MEDIATYPE_Video, MEDIASUBTYPE_RGB24, false, 320, 240),   // 2: no video header
        Cap(S_OK, MEDIATYPE_Audio, MEDIASUBTYPE_YUY2, true, 640, 480),     // 3: not video
        Cap(S_FALSE, MEDIATYPE_Video, MEDIASUBTYPE_YUY2, true, 640, 480),  // 4
        Cap(S_OK, MEDIATYPE_Video, MEDIASUBTYPE_RGB24, true, 640, -480),   // 5: top-down
        Cap(S_OK, MEDIATYPE_Video, MEDIASUBTYPE_RGB24, true, 640, 480),    // 6
        Cap(S_OK, MEDIATYPE_Video, MEDIASUBTYPE_I420, true, 1280, 720),    // 7
    };
}

// The index of the first entry the pin would take, read in order as the device reads them;
// -1 when none fits.
template <class Fits>
int FirstTaken(const std::vector<VideoCapability>& caps, Fits fits) {
    for (size_t i = 0; i < caps.size(); ++i)
        if (fits(caps[i])) return static_cast<int>(i);
    return -1;
}

TEST(FormatChoice, ExactVideoCapabilityTakesTheFirstUsableEntryOfThatSubtypeAndSize) {
    const struct {
        const GUID* subtype;
        unsigned int width, height;
        int expected;
    } cases[] = {
        {&MEDIASUBTYPE_YUY2, 640, 480, 4},   // the audio-typed twin before it is passed over
        {&MEDIASUBTYPE_RGB24, 640, 480, 6},  // the top-down twin is another size
        {&MEDIASUBTYPE_RGB24, 640, 0xFFFFFE20u, 5},  // -480 as the host's unsigned field
        {&MEDIASUBTYPE_RGB24, 320, 240, -1},         // listed without a header
        {&MEDIASUBTYPE_I420, 640, 480, -1},          // listed, but its read failed
        {&MEDIASUBTYPE_I420, 1280, 720, 7},         {&MEDIASUBTYPE_YV12, 640, 480, -1},
    };
    const std::vector<VideoCapability> caps = Listing();
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, FirstTaken(caps,
                                         [&](const VideoCapability& cap) {
                                             return IsExactVideoCapability(cap, *c.subtype, c.width,
                                                                           c.height);
                                         }))
            << c.width << " x " << c.height;
    }
}

TEST(FormatChoice, FirstVideoCapabilityTakesAnySizeOrHeaderButNotAFailedRead) {
    const std::vector<VideoCapability> caps = Listing();
    auto first = [&](const GUID& subtype) {
        return FirstTaken(
            caps, [&](const VideoCapability& cap) { return IsVideoCapabilityOf(cap, subtype); });
    };
    EXPECT_EQ(2, first(MEDIASUBTYPE_RGB24));
    EXPECT_EQ(3, first(MEDIASUBTYPE_YUY2));  // whatever its major type
    EXPECT_EQ(7, first(MEDIASUBTYPE_I420));
    EXPECT_EQ(-1, first(MEDIASUBTYPE_RGB32));
}

TEST(FormatChoice, AskedSizeIntervalAndSubtype) {
    const VideoCapability cap =
        Cap(S_OK, MEDIATYPE_Video, MEDIASUBTYPE_I420, true, 320, 240, SIZE{1280, 960});
    const SIZE requested = VideoAskSize(cap, 800, 600, false);
    const SIZE largest = VideoAskSize(cap, 800, 600, true);
    EXPECT_EQ(800, requested.cx);
    EXPECT_EQ(600, requested.cy);
    EXPECT_EQ(1280, largest.cx);
    EXPECT_EQ(960, largest.cy);

    const struct {
        unsigned int rate;
        REFERENCE_TIME interval;
    } rates[] = {{0, 500000},   {1, 10000000}, {20, 500000},    {30, 333333},
                 {10000000, 1}, {10000001, 0}, {0xFFFFFFFFu, 0}};
    for (const auto& r : rates) EXPECT_EQ(r.interval, FrameInterval(r.rate)) << r.rate;

    EXPECT_TRUE(IsEqualGUID(*VideoSubtype(TQZCapture::DataTypeYUY2), MEDIASUBTYPE_YUY2));
    EXPECT_EQ(nullptr, VideoSubtype(TQZCapture::DataTypePCM));
    EXPECT_EQ(nullptr, VideoSubtype(TQZCapture::DataTypeUnknown));
    EXPECT_TRUE(Representable(0x7FFFFFFFu, 1));
    EXPECT_FALSE(Representable(1, 0x80000000u));
}

TEST(FormatChoice, PushPcmProductsFitTheRecordOrAreRefused) {
    const struct {
        unsigned int rate, bits, channels;
        bool fits;
        LONG bytesPerSecond, buffer;
    } cases[] = {
        {48000, 24, 2, true, 288000, 5760},
        {11025, 12, 3, true, 49612, 992},  // 49612.5 bytes a second, truncated
        {8000, 65535, 1, true, 65535000, 1310700},
        {44100, 65535, 1, false, 0, 0},              // 2.9 billion bits a second
        {44100, 65536, 1, false, 0, 0},              // bits x channels beyond 16 bits
        {0x7FFFFFFFu / 32 + 1, 16, 2, false, 0, 0},  // bits x rate x channels beyond 31 bits
        {0xFFFFFFFFu, 16, 2, false, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz " << c.bits << " bits " << c.channels);
        EXPECT_EQ(c.fits, PcmFits(c.rate, c.bits, c.channels));
        if (!c.fits) continue;
        EXPECT_EQ(c.bytesPerSecond, BytesPerSecond(c.rate, c.bits, c.channels));
        EXPECT_EQ(c.buffer, TwentyMsBuffer(c.bytesPerSecond));
    }
}

TEST(FormatChoice, PullRecordAndBufferSuggestion) {
    EXPECT_TRUE(PullRecordFits(16, 2));
    EXPECT_TRUE(PullRecordFits(0xFFFF, 7));    // 57,344 bytes a block
    EXPECT_FALSE(PullRecordFits(0xFFFF, 9));   // 73,726 bytes a block
    EXPECT_FALSE(PullRecordFits(0x10000, 1));  // bits beyond the 16-bit field
    EXPECT_FALSE(PullRecordFits(8, 0x10000));

    const struct {
        unsigned int rate, bits, channels;
        WORD recordBits, recordChannels;
        bool made;
        LONG buffer, align;
    } cases[] = {
        {22050, 8, 1, 8, 1, true, 1102, 8},  // 1,102.5 truncated
        {0x7FFFFFFFu, 1, 1, 1, 1, true, 13421772, 1},
        {0x7FFFFFFFu, 2, 1, 2, 1, false, 0, 0},  // bits x rate x channels wraps 31 bits
        {44100, 16, 0x10000, 16, 0, false, 0, 0},
    };
    for (const auto& c : cases) {
        ALLOCATOR_PROPERTIES suggestion = {-1, -1, -1, -1};
        EXPECT_EQ(c.made, PullBufferSuggestion(c.rate, c.bits, c.channels, c.recordBits,
                                               c.recordChannels, 6, 0.05, suggestion))
            << c.rate << " Hz " << c.bits << " bits " << c.channels;
        if (!c.made) continue;
        EXPECT_EQ((std::vector<LONG>{6, c.buffer, c.align, 0}),
                  (std::vector<LONG>{suggestion.cBuffers, suggestion.cbBuffer, suggestion.cbAlign,
                                     suggestion.cbPrefix}));
    }
}

}  // namespace
