// SPDX-License-Identifier: MIT
#include "shared/streamcaps.h"

#include <algorithm>

namespace VornMedia {

VIDEO_STREAM_CONFIG_CAPS VideoCapsRecord(const VideoRange& range) {
    VIDEO_STREAM_CONFIG_CAPS record{};
    record.guid = FORMAT_VideoInfo;
    record.InputSize = {range.maxWidth, range.maxHeight};
    record.MinCroppingSize = {range.width, range.height};
    record.MaxCroppingSize = {range.maxWidth, range.maxHeight};
    record.CropGranularityX = record.CropGranularityY = 1;
    record.CropAlignX = record.CropAlignY = 1;
    record.MinOutputSize = {range.width, range.height};
    record.MaxOutputSize = {range.maxWidth, range.maxHeight};
    record.OutputGranularityX = range.granularityX;
    record.OutputGranularityY = range.granularityY;
    record.MinFrameInterval = range.shortestInterval;
    record.MaxFrameInterval = range.longestInterval;
    const double smallest =
        static_cast<double>(FrameBytes(range.subtype, range.width, range.height));
    const double largest =
        static_cast<double>(FrameBytes(range.subtype, range.maxWidth, range.maxHeight));
    record.MinBitsPerSecond =
        static_cast<LONG>(std::min(2147483647.0, smallest * 8 * range.minFrameRate));
    record.MaxBitsPerSecond =
        static_cast<LONG>(std::min(2147483647.0, largest * 8 * range.maxFrameRate));
    return record;
}

AUDIO_STREAM_CONFIG_CAPS AudioCapsRecord(const AudioRange& range) {
    AUDIO_STREAM_CONFIG_CAPS record{};
    record.guid = MEDIATYPE_Audio;
    record.MinimumChannels = range.channels;
    record.MaximumChannels = range.maxChannels;
    record.ChannelsGranularity = 1;
    record.MinimumBitsPerSample = range.bitsPerSample;
    record.MaximumBitsPerSample = range.maxBitsPerSample;
    record.BitsPerSampleGranularity = 8;
    record.MinimumSampleFrequency = range.sampleRate;
    record.MaximumSampleFrequency = range.maxSampleRate;
    record.SampleFrequencyGranularity = 1;
    return record;
}

WAVEFORMATEX PcmWave(WORD channels, WORD bitsPerSample, DWORD sampleRate) {
    WAVEFORMATEX wave{};
    wave.wFormatTag = WAVE_FORMAT_PCM;
    wave.nChannels = channels;
    wave.nSamplesPerSec = sampleRate;
    wave.wBitsPerSample = bitsPerSample;
    // Unsigned: two 16-bit fields multiplied as int overflow at 65535 x 65535.
    wave.nBlockAlign = static_cast<WORD>(DWORD{channels} * bitsPerSample / 8);
    wave.nAvgBytesPerSec = sampleRate * wave.nBlockAlign;
    return wave;
}

}  // namespace VornMedia
