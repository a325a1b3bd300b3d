// SPDX-License-Identifier: MIT
// The stream configuration records of both stacks' capture pins, from a range of formats.
#include <gtest/gtest.h>

#include <vector>

#include "shared/streamcaps.h"

namespace {

using VornMedia::VideoRange;

TEST(SharedStreamCaps, VideoRecordsSpanTheRangeAndItsBitRates) {
    struct Case {
        const char* name;
        VideoRange range;
        LONG minBits, maxBits;
    } cases[] = {
        // One size at 1 to 30 frames a second.
        {"fixed",
         {MEDIASUBTYPE_RGB24, 320, 240, 320, 240, 1, 1, 333333, 10000000, 1.0, 30.0},
         230400 * 8,
         230400 * 8 * 30},
        // Sizes in steps of 16 by 8; bit rates from the smallest at the lowest rate to the largest
        // at the highest.
        {"stepped",
         {MEDIASUBTYPE_YUY2, 160, 120, 640, 480, 16, 8, 400000, 2000000, 5.0, 25.0},
         160 * 120 * 2 * 8 * 5,
         640 * 480 * 2 * 8 * 25},
        // Beyond what a LONG holds.
        {"huge",
         {MEDIASUBTYPE_RGB32, 16, 16, 16384, 16384, 1, 1, 166666, 10000000, 1.0, 60.0},
         16 * 16 * 4 * 8,
         2147483647},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const VIDEO_STREAM_CONFIG_CAPS r = VornMedia::VideoCapsRecord(c.range);
        EXPECT_TRUE(IsEqualGUID(r.guid, FORMAT_VideoInfo));
        const VideoRange& g = c.range;
        EXPECT_EQ(
            (std::vector<long long>{g.width, g.height, g.maxWidth, g.maxHeight, g.maxWidth, g.width,
                                    g.maxHeight, g.granularityX, g.granularityY, g.shortestInterval,
                                    g.longestInterval, c.minBits, c.maxBits}),
            (std::vector<long long>{r.MinOutputSize.cx, r.MinOutputSize.cy, r.MaxOutputSize.cx,
                                    r.MaxOutputSize.cy, r.InputSize.cx, r.MinCroppingSize.cx,
                                    r.MaxCroppingSize.cy, r.OutputGranularityX,
                                    r.OutputGranularityY, r.MinFrameInterval, r.MaxFrameInterval,
                                    r.MinBitsPerSecond, r.MaxBitsPerSecond}));
    }
}

TEST(SharedStreamCaps, AudioRecordsAndWaveFormats) {
    const AUDIO_STREAM_CONFIG_CAPS r = VornMedia::AudioCapsRecord({1, 2, 8, 24, 8000, 48000});
    EXPECT_TRUE(IsEqualGUID(r.guid, MEDIATYPE_Audio));
    EXPECT_EQ((std::vector<ULONG>{1, 2, 8, 24, 8, 8000, 48000}),
              (std::vector<ULONG>{r.MinimumChannels, r.MaximumChannels, r.MinimumBitsPerSample,
                                  r.MaximumBitsPerSample, r.BitsPerSampleGranularity,
                                  r.MinimumSampleFrequency, r.MaximumSampleFrequency}));

    struct Case {
        WORD channels, bits;
        DWORD rate;
        WORD block;
        DWORD bytesPerSecond;
    } waves[] = {{2, 16, 44100, 4, 176400}, {1, 8, 8000, 1, 8000}, {2, 24, 96000, 6, 576000}};
    for (const Case& c : waves) {
        const WAVEFORMATEX wave = VornMedia::PcmWave(c.channels, c.bits, c.rate);
        EXPECT_EQ(wave.wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(wave.nBlockAlign, c.block);
        EXPECT_EQ(wave.nAvgBytesPerSec, c.bytesPerSecond);
        EXPECT_EQ(wave.cbSize, 0);
    }
}

}  // namespace
