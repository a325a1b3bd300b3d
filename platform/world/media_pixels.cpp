#include "world/media_pixels.h"

#include "shared/testsignal.h"

namespace VornWorld {
namespace {

using VornSignal::PixelLayout;

// The layout of a subtype; false for subtypes the generator does not know.
bool LayoutOf(const GUID& subtype, PixelLayout& layout) {
    if (subtype == MEDIASUBTYPE_I420 || subtype == MEDIASUBTYPE_IYUV) {
        layout = PixelLayout::I420;
    } else if (subtype == MEDIASUBTYPE_YV12) {
        layout = PixelLayout::YV12;
    } else if (subtype == MEDIASUBTYPE_YUY2) {
        layout = PixelLayout::YUY2;
    } else if (subtype == MEDIASUBTYPE_RGB24) {
        layout = PixelLayout::RGB24;
    } else if (subtype == MEDIASUBTYPE_RGB32) {
        layout = PixelLayout::RGB32;
    } else {
        return false;
    }
    return true;
}

}  // namespace

WORD BitsPerPixel(const GUID& subtype) {
    PixelLayout layout;
    if (!LayoutOf(subtype, layout)) return 0;
    switch (layout) {
        case PixelLayout::I420:
        case PixelLayout::YV12:
            return 12;
        case PixelLayout::YUY2:
            return 16;
        case PixelLayout::RGB24:
            return 24;
        case PixelLayout::RGB32:
            return 32;
    }
    return 0;
}

DWORD Compression(const GUID& subtype) {
    return subtype == MEDIASUBTYPE_RGB24 || subtype == MEDIASUBTYPE_RGB32 ? BI_RGB : subtype.Data1;
}

size_t FrameBytes(const GUID& subtype, LONG width, LONG height) {
    PixelLayout layout;
    return LayoutOf(subtype, layout) ? VornSignal::FrameBytes(layout, width, height) : 0;
}

bool ConvertFrame(const GUID& from, const BYTE* source, const GUID& to, BYTE* target, LONG width,
                  LONG height) {
    PixelLayout in, out;
    return LayoutOf(from, in) && LayoutOf(to, out) &&
           VornSignal::ConvertFrame(in, source, out, target, width, height);
}

void PaintTestFrame(const GUID& subtype, LONG width, LONG height, uint64_t index, BYTE* target,
                    std::vector<BYTE>& scratch) {
    PixelLayout layout;
    if (LayoutOf(subtype, layout))
        VornSignal::PaintTestFrame(layout, width, height, index, target, scratch);
}

void PaintTone(const WAVEFORMATEX& format, double frequency, uint64_t start, BYTE* target,
               size_t bytes) {
    const VornSignal::PcmLayout pcm = {format.nSamplesPerSec, format.nChannels,
                                       format.wBitsPerSample, format.nBlockAlign};
    VornSignal::PaintTone(pcm, frequency, start, target, bytes);
}

}  // namespace VornWorld
