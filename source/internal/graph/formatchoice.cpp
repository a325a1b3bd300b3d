// SPDX-License-Identifier: MIT
#include "internal/graph/formatchoice.h"

#include <cstdint>

namespace TQZCapture {
namespace internal {

namespace {
const unsigned int kDefaultFrameRate = 20;

// a x b x c into `product` when it fits in a signed 32-bit value.
bool SignedProduct(std::uint64_t a, std::uint64_t b, std::uint64_t c, LONG& product) {
    constexpr std::uint64_t kMax = 0x7FFFFFFF;
    if (a != 0 && b > kMax / a) return false;
    const std::uint64_t ab = a * b;
    if (ab != 0 && c > kMax / ab) return false;
    product = static_cast<LONG>(ab * c);
    return true;
}
}  // namespace

const GUID* VideoSubtype(TQZDataType type) {
    switch (type) {
        case DataTypeI420:
            return &MEDIASUBTYPE_I420;
        case DataTypeRGB24:
            return &MEDIASUBTYPE_RGB24;
        case DataTypeRGB32:
            return &MEDIASUBTYPE_RGB32;
        case DataTypeYUY2:
            return &MEDIASUBTYPE_YUY2;
        case DataTypeYV12:
            return &MEDIASUBTYPE_YV12;
        default:
            return nullptr;
    }
}

REFERENCE_TIME FrameInterval(unsigned int frameRate) {
    return static_cast<REFERENCE_TIME>(10000000u /
                                       (frameRate == 0 ? kDefaultFrameRate : frameRate));
}

bool Representable(unsigned int width, unsigned int height) {
    return width <= 0x7FFFFFFFu && height <= 0x7FFFFFFFu;
}

bool IsExactVideoCapability(const VideoCapability& cap, const GUID& subtype, unsigned int width,
                            unsigned int height) {
    return SUCCEEDED(cap.status) && cap.typed && cap.videoInfo &&
           IsEqualGUID(cap.majortype, MEDIATYPE_Video) && IsEqualGUID(cap.subtype, subtype) &&
           cap.width == static_cast<LONG>(width) && cap.height == static_cast<LONG>(height);
}

bool IsVideoCapabilityOf(const VideoCapability& cap, const GUID& subtype) {
    return SUCCEEDED(cap.status) && cap.typed && IsEqualGUID(cap.subtype, subtype);
}

SIZE VideoAskSize(const VideoCapability& cap, unsigned int width, unsigned int height,
                  bool useMaxSize) {
    if (useMaxSize) return cap.largest;
    return SIZE{static_cast<LONG>(width), static_cast<LONG>(height)};
}

bool PcmFits(unsigned int sampleRate, unsigned int bitsPerSample, unsigned int channels) {
    const unsigned long long bitsPerFrame =
        static_cast<unsigned long long>(bitsPerSample) * channels;
    return bitsPerFrame <= 0xFFFFu && bitsPerFrame * sampleRate <= 0x7FFFFFFFu;
}

LONG BytesPerSecond(unsigned int sampleRate, unsigned int bitsPerSample, unsigned int channels) {
    return static_cast<LONG>(static_cast<unsigned long long>(bitsPerSample) * sampleRate *
                             channels / 8);
}

LONG TwentyMsBuffer(LONG bytesPerSecond) {
    return static_cast<LONG>(static_cast<double>(static_cast<float>(bytesPerSecond)) * 0.02);
}

void WritePcm(WAVEFORMATEX& wave, DWORD sampleRate, WORD bitsPerSample, WORD channels) {
    wave.wFormatTag = WAVE_FORMAT_PCM;
    wave.nChannels = channels;
    wave.nSamplesPerSec = sampleRate;
    wave.wBitsPerSample = bitsPerSample;
    wave.nBlockAlign = static_cast<WORD>(std::uint32_t{bitsPerSample} * channels / 8);
    wave.nAvgBytesPerSec = std::uint32_t{wave.nBlockAlign} * wave.nSamplesPerSec;
}

bool PullRecordFits(unsigned int bitsPerSample, unsigned int channels) {
    return bitsPerSample <= 0xFFFFu && channels <= 0xFFFFu &&
           std::uint64_t{bitsPerSample} * channels / 8 <= 0xFFFFu;
}

bool PullBufferSuggestion(unsigned int sampleRate, unsigned int bitsPerSample,
                          unsigned int channels, WORD recordBits, WORD recordChannels, LONG count,
                          double seconds, ALLOCATOR_PROPERTIES& suggestion) {
    LONG bitsPerSecond = 0;
    LONG alignment = 0;
    if (!SignedProduct(bitsPerSample, sampleRate, channels, bitsPerSecond) ||
        !SignedProduct(recordBits, recordChannels, 1, alignment))
        return false;
    suggestion.cBuffers = count;
    suggestion.cbBuffer = static_cast<LONG>((bitsPerSecond / 8) * seconds);
    suggestion.cbAlign = alignment;
    suggestion.cbPrefix = 0;
    return true;
}

}  // namespace internal
}  // namespace TQZCapture
