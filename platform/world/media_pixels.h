// SPDX-License-Identifier: MIT
// Pictures and sound of the virtual capture devices in the media graph's terms: the subtypes
// of the frame layouts (shared/mediatype.h), over the generator in shared/testsignal.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "shared/mediatype.h"
#include "vorn/win/dshow.h"

namespace VornWorld {

// Bytes of one frame; 0 for an unknown subtype or a size outside 1..16384.
using VornMedia::FrameBytes;

// Converts one frame. Any supported subtype converts to RGB24/RGB32; I420/IYUV also to
// YV12 and YUY2; a subtype to itself is a copy. False when the pair is not supported.
bool ConvertFrame(const GUID& from, const BYTE* source, const GUID& to, BYTE* target, LONG width,
                  LONG height);

// Paints frame `index` of the test picture (colour bars sliding left, a white square
// moving diagonally) into `target` in `subtype`. `scratch` is reused between calls.
void PaintTestFrame(const GUID& subtype, LONG width, LONG height, uint64_t index, BYTE* target,
                    std::vector<BYTE>& scratch);

// Writes `bytes` of a sine tone in `format` (PCM), starting at sample frame `start`.
void PaintTone(const WAVEFORMATEX& format, double frequency, uint64_t start, BYTE* target,
               size_t bytes);

}  // namespace VornWorld
