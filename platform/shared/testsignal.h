// SPDX-License-Identifier: MIT
// The moving test picture and the sine tone of the virtual cameras and microphones, with the
// frame layouts they come in and the conversions between them. Free of any platform header:
// the platform layer's virtual devices and the registered capture filters of the Windows
// build paint from this one generator.
//
// Layouts: I420 (Y, U, V planes), YV12 (Y, V, U), chroma halved in both directions and
// rounded up; YUY2 packed pairs; RGB24/RGB32 bottom-up rows padded to 4 bytes, blue first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace VornSignal {

enum class PixelLayout { I420, YV12, YUY2, RGB24, RGB32 };

// The tone of the virtual microphones, in hertz.
constexpr double kToneFrequency = 440.0;

// Bytes of one frame; 0 for a size outside 1..16384.
size_t FrameBytes(PixelLayout layout, long width, long height);

// Converts one frame. Any layout converts to RGB24/RGB32; I420 also to YV12 and YUY2; a
// layout to itself is a copy. False when the pair is not supported or the size is not.
bool ConvertFrame(PixelLayout from, const uint8_t* source, PixelLayout to, uint8_t* target,
                  long width, long height);

// Paints frame `index` of the test picture (colour bars sliding left, a white square
// moving diagonally) into `target` in `layout`. `scratch` is reused between calls.
void PaintTestFrame(PixelLayout layout, long width, long height, uint64_t index, uint8_t* target,
                    std::vector<uint8_t>& scratch);

// Interleaved integer PCM: 8-bit unsigned, 16/24/32-bit signed little-endian.
struct PcmLayout {
    uint32_t samplesPerSecond;
    uint16_t channels;
    uint16_t bitsPerSample;
    uint16_t blockAlign;  // bytes of one sample frame, all channels
};

// Writes `bytes` of a sine tone at half of full scale, starting at sample frame `start` (the
// phase follows the sample frame number, so consecutive calls continue the wave).
void PaintTone(const PcmLayout& format, double frequency, uint64_t start, uint8_t* target,
               size_t bytes);

}  // namespace VornSignal
