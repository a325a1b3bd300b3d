// SPDX-License-Identifier: MIT
// The stream configuration records that the capture pins of both filter stacks hand out with
// each capability (IAMStreamConfig::GetStreamCaps), and the PCM wave format of a capability.
// What the devices offer differs between the stacks; the records are built here.
#pragma once

#include "shared/mediatype.h"

namespace VornMedia {

// Video formats of one subtype: sizes from the smallest to the largest in steps of the
// granularity, frame intervals between the shortest and the longest (and the frame rates they
// stand for, which the bit rates follow).
struct VideoRange {
    GUID subtype;
    LONG width, height;
    LONG maxWidth, maxHeight;
    LONG granularityX, granularityY;
    REFERENCE_TIME shortestInterval, longestInterval;
    double minFrameRate, maxFrameRate;
};
// Bit rates saturate at the largest LONG.
VIDEO_STREAM_CONFIG_CAPS VideoCapsRecord(const VideoRange& range);

// PCM formats from the smallest to the largest: channels in steps of one, bits in steps of 8,
// any rate between.
struct AudioRange {
    WORD channels, maxChannels;
    WORD bitsPerSample, maxBitsPerSample;
    DWORD sampleRate, maxSampleRate;
};
AUDIO_STREAM_CONFIG_CAPS AudioCapsRecord(const AudioRange& range);

// The PCM wave format of interleaved samples: block and byte rate follow.
WAVEFORMATEX PcmWave(WORD channels, WORD bitsPerSample, DWORD sampleRate);

}  // namespace VornMedia
