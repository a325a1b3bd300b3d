// SPDX-License-Identifier: MIT
// The media type values that the registered capture filters of the Windows build and the
// platform layer's media graph both build from: built and run on every platform, against the
// system's headers and task memory on Windows and the platform layer's elsewhere.
#include <gtest/gtest.h>

#include "counted.h"

#include <cstring>

#include "shared/mediatype.h"
#include "shared/streamcaps.h"

namespace {

using VornMedia::MediaType;

struct SubtypeCase {
    const char* name;
    GUID subtype;
    WORD bits;
    DWORD compression;
    size_t bytes320x240;
};

TEST(SharedMediaType, SubtypesNameTheirLayoutBitsAndFrameSize) {
    const GUID unknown = VornMedia::FourccSubtype(VornMedia::Fourcc('M', 'J', 'P', 'G'));
    const SubtypeCase cases[] = {
        {"RGB24", MEDIASUBTYPE_RGB24, 24, BI_RGB, 320 * 240 * 3},
        {"RGB32", MEDIASUBTYPE_RGB32, 32, BI_RGB, 320 * 240 * 4},
        {"I420", VornMedia::kSubtypeI420, 12, VornMedia::Fourcc('I', '4', '2', '0'), 115200},
        {"IYUV", MEDIASUBTYPE_IYUV, 12, VornMedia::Fourcc('I', 'Y', 'U', 'V'), 115200},
        {"YV12", MEDIASUBTYPE_YV12, 12, VornMedia::Fourcc('Y', 'V', '1', '2'), 115200},
        {"YUY2", MEDIASUBTYPE_YUY2, 16, VornMedia::Fourcc('Y', 'U', 'Y', '2'), 320 * 240 * 2},
        {"MJPG", unknown, 0, VornMedia::Fourcc('M', 'J', 'P', 'G'), 0},
    };
    for (const SubtypeCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(VornMedia::BitsPerPixel(c.subtype), c.bits);
        EXPECT_EQ(VornMedia::Compression(c.subtype), c.compression);
        EXPECT_EQ(VornMedia::FrameBytes(c.subtype, 320, 240), c.bytes320x240);
        VornSignal::PixelLayout layout;
        EXPECT_EQ(VornMedia::LayoutOfSubtype(c.subtype, layout), c.bits != 0);
    }
    // Sizes a frame cannot have, and the largest whose byte count still fits.
    EXPECT_EQ(VornMedia::FrameBytes(MEDIASUBTYPE_RGB24, 0, 240), 0u);
    EXPECT_EQ(VornMedia::FrameBytes(MEDIASUBTYPE_RGB24, 320, -1), 0u);
    EXPECT_EQ(VornMedia::FrameBytes(MEDIASUBTYPE_RGB32, 16385, 16), 0u);
    EXPECT_EQ(VornMedia::FrameBytes(MEDIASUBTYPE_RGB32, 16384, 16384), size_t{16384} * 16384 * 4);
}

TEST(SharedMediaType, VideoTypesCarryTheirFrameSizeAndASaturatedBitRate) {
    struct Case {
        GUID subtype;
        LONG width, height;
        REFERENCE_TIME interval;
        DWORD bitRate;
    } cases[] = {
        {MEDIASUBTYPE_RGB24, 320, 240, 333333, 55296055},  // 30 frames a second
        {MEDIASUBTYPE_RGB24, 640, 480, 10000000, 921600 * 8},
        // 1280x720 RGB32 a frame every 100 ns: far beyond 32 bits, whatever size_t is.
        {MEDIASUBTYPE_RGB32, 1280, 720, 1, 0xFFFFFFFFu},
        {MEDIASUBTYPE_YUY2, 160, 120, 0, 0},  // no interval: no rate
    };
    for (const Case& c : cases) {
        MediaType type = MediaType::Video(c.subtype, c.width, c.height, c.interval);
        const VIDEOINFOHEADER* info = type.VideoInfo();
        ASSERT_NE(info, nullptr);
        const size_t bytes = VornMedia::FrameBytes(c.subtype, c.width, c.height);
        EXPECT_EQ(type.SampleSize(), bytes);
        EXPECT_EQ(info->bmiHeader.biSizeImage, bytes);
        EXPECT_EQ(info->bmiHeader.biWidth, c.width);
        EXPECT_EQ(info->AvgTimePerFrame, c.interval);
        EXPECT_EQ(info->dwBitRate, c.bitRate);
        EXPECT_TRUE(IsEqualGUID(type.Major(), MEDIATYPE_Video));
        EXPECT_EQ(type.Wave(), nullptr);
    }
}

TEST(SharedMediaType, AudioTypesAreOneBlockASample) {
    WAVEFORMATEX wave = VornMedia::PcmWave(2, 16, 48000);
    wave.cbSize = 22;  // extra bytes the type must not claim
    MediaType type = MediaType::Audio(wave);
    ASSERT_NE(type.Wave(), nullptr);
    EXPECT_EQ(type.Wave()->cbSize, 0);
    EXPECT_EQ(type.SampleSize(), 4u);
    EXPECT_EQ(type.Type().cbFormat, sizeof(WAVEFORMATEX));
    EXPECT_EQ(type.VideoInfo(), nullptr);
}

TEST(SharedMediaType, CopiesOwnTheirFormatBlockAndHoldTheObject) {
    Counted object;
    MediaType original = MediaType::Video(MEDIASUBTYPE_RGB24, 320, 240, 333333);
    AM_MEDIA_TYPE raw = original.Type();
    raw.pUnk = &object;
    {
        MediaType held(raw);
        EXPECT_EQ(object.references, 2u);
        EXPECT_NE(held.Type().pbFormat, raw.pbFormat);
        EXPECT_EQ(std::memcmp(held.Type().pbFormat, raw.pbFormat, raw.cbFormat), 0);
        MediaType copy = held;
        EXPECT_EQ(object.references, 3u);
        MediaType moved = std::move(copy);
        EXPECT_EQ(object.references, 3u);
        EXPECT_TRUE(copy.Empty());
        EXPECT_EQ(copy.Type().pbFormat, nullptr);
        moved = original;  // gives its reference back
        EXPECT_EQ(object.references, 2u);
        EXPECT_EQ(moved.VideoInfo()->bmiHeader.biWidth, 320);

        AM_MEDIA_TYPE* record = held.NewRecord();
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(object.references, 3u);
        EXPECT_NE(record->pbFormat, held.Type().pbFormat);
        VornMedia::DeleteMediaType(record);
        EXPECT_EQ(object.references, 2u);
    }
    EXPECT_EQ(object.references, 1u);
    VornMedia::DeleteMediaType(nullptr);
    EXPECT_EQ(original.CopyTo(nullptr), E_POINTER);
}

TEST(SharedMediaType, PartialTypesMatchOnTheirNamedParts) {
    const MediaType video = MediaType::Video(MEDIASUBTYPE_YUY2, 320, 240, 333333);
    struct Case {
        GUID major, subtype, format;
        bool fits;
    } cases[] = {
        {GUID_NULL, GUID_NULL, GUID_NULL, true},
        {MEDIATYPE_Video, GUID_NULL, GUID_NULL, true},
        {MEDIATYPE_Video, MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, true},
        {MEDIATYPE_Audio, GUID_NULL, GUID_NULL, false},
        {GUID_NULL, MEDIASUBTYPE_RGB24, GUID_NULL, false},
        {GUID_NULL, GUID_NULL, FORMAT_WaveFormatEx, false},
    };
    for (const Case& c : cases) {
        AM_MEDIA_TYPE partial{};
        partial.majortype = c.major;
        partial.subtype = c.subtype;
        partial.formattype = c.format;
        EXPECT_EQ(video.Fits(partial), c.fits);
    }
}

}  // namespace
