// SPDX-License-Identifier: MIT
#include "world/media_pixels.h"

#include "shared/mediatype.h"
#include "shared/testsignal.h"

namespace VornWorld {
using VornMedia::LayoutOfSubtype;
using VornSignal::PixelLayout;

bool ConvertFrame(const GUID& from, const BYTE* source, const GUID& to, BYTE* target, LONG width,
                  LONG height) {
    PixelLayout in, out;
    return LayoutOfSubtype(from, in) && LayoutOfSubtype(to, out) &&
           VornSignal::ConvertFrame(in, source, out, target, width, height);
}

void PaintTestFrame(const GUID& subtype, LONG width, LONG height, uint64_t index, BYTE* target,
                    std::vector<BYTE>& scratch) {
    PixelLayout layout;
    if (LayoutOfSubtype(subtype, layout))
        VornSignal::PaintTestFrame(layout, width, height, index, target, scratch);
}

void PaintTone(const WAVEFORMATEX& format, double frequency, uint64_t start, BYTE* target,
               size_t bytes) {
    const VornSignal::PcmLayout pcm = {format.nSamplesPerSec, format.nChannels,
                                       format.wBitsPerSample, format.nBlockAlign};
    VornSignal::PaintTone(pcm, frequency, start, target, bytes);
}

}  // namespace VornWorld
