// SPDX-License-Identifier: MIT
#include "formats.h"

#include "shared/streamcaps.h"

#include <cstring>

namespace VornDevices {
namespace {

using VornSignal::PixelLayout;

constexpr REFERENCE_TIME kSecond = 10000000;

struct VideoSize {
    long width, height;
    int maxFramesPerSecond;
};
constexpr VideoSize kSizes[] = {{640, 480, 30}, {320, 240, 30}, {160, 120, 30}, {1280, 720, 15}};

// The subtypes the devices offer, in the order of their capabilities.
const GUID* const kSubtypes[] = {&MEDIASUBTYPE_RGB24, &VornMedia::kSubtypeI420, &MEDIASUBTYPE_YUY2};
constexpr int kSubtypeCount = sizeof(kSubtypes) / sizeof(kSubtypes[0]);
constexpr int kSizeCount = sizeof(kSizes) / sizeof(kSizes[0]);

struct PcmFormat {
    DWORD rate;
    WORD bits, channels;
};
constexpr PcmFormat kPcmFormats[] = {{44100, 16, 2}, {44100, 16, 1}, {48000, 16, 2}, {48000, 16, 1},
                                     {32000, 16, 2}, {22050, 16, 2}, {22050, 16, 1}, {16000, 16, 1},
                                     {11025, 16, 1}, {11025, 8, 1},  {8000, 16, 1},  {8000, 8, 1}};
constexpr int kPcmCount = sizeof(kPcmFormats) / sizeof(kPcmFormats[0]);
constexpr DWORD kMinRate = 8000, kMaxRate = 96000;

// Capability index -> subtype and size: every size of the first subtype, then of the next.
const GUID& SubtypeAt(int index) { return *kSubtypes[index / kSizeCount]; }
const VideoSize& SizeAt(int index) { return kSizes[index % kSizeCount]; }

REFERENCE_TIME MinInterval(const VideoSize& size) { return kSecond / size.maxFramesPerSecond; }

bool MakeAudioType(DWORD rate, WORD bits, WORD channels, MediaType& out) {
    out = MediaType::Audio(VornMedia::PcmWave(channels, bits, rate));
    return true;
}

bool AcceptVideo(const AM_MEDIA_TYPE& t, MediaType& out) {
    if (t.majortype != MEDIATYPE_Video || t.formattype != FORMAT_VideoInfo ||
        t.pbFormat == nullptr || t.cbFormat < sizeof(VIDEOINFOHEADER))
        return false;
    const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(t.pbFormat);
    for (const GUID* subtype : kSubtypes) {
        if (t.subtype != *subtype) continue;
        for (const VideoSize& size : kSizes) {
            if (info->bmiHeader.biWidth != size.width || info->bmiHeader.biHeight != size.height)
                continue;
            REFERENCE_TIME interval = info->AvgTimePerFrame;
            if (interval == 0) interval = MinInterval(size);
            if (interval < MinInterval(size) || interval > kSecond) return false;
            return VideoType(*subtype, size.width, size.height, interval, out);
        }
    }
    return false;
}

bool AcceptAudio(const AM_MEDIA_TYPE& t, MediaType& out) {
    if (t.majortype != MEDIATYPE_Audio || t.subtype != MEDIASUBTYPE_PCM ||
        t.formattype != FORMAT_WaveFormatEx || t.pbFormat == nullptr ||
        t.cbFormat < sizeof(PCMWAVEFORMAT))
        return false;
    const auto* wave = reinterpret_cast<const WAVEFORMATEX*>(t.pbFormat);
    const WORD bits = wave->wBitsPerSample;
    if (wave->wFormatTag != WAVE_FORMAT_PCM || wave->nChannels < 1 || wave->nChannels > 2 ||
        (bits != 8 && bits != 16 && bits != 24 && bits != 32) || wave->nSamplesPerSec < kMinRate ||
        wave->nSamplesPerSec > kMaxRate)
        return false;
    return MakeAudioType(wave->nSamplesPerSec, bits, wave->nChannels, out);
}

}  // namespace

bool VideoType(const GUID& subtype, long width, long height, REFERENCE_TIME interval,
               MediaType& out) {
    if (VornMedia::FrameBytes(subtype, width, height) == 0 || interval <= 0) return false;
    out = MediaType::Video(subtype, width, height, interval);
    return true;
}

int CapabilityCount(Medium medium) {
    return medium == Medium::Video ? kSubtypeCount * kSizeCount : kPcmCount;
}

int CapabilityRecordSize(Medium medium) {
    return medium == Medium::Video ? sizeof(VIDEO_STREAM_CONFIG_CAPS)
                                   : sizeof(AUDIO_STREAM_CONFIG_CAPS);
}

bool Capability(Medium medium, int index, MediaType& type, BYTE* caps) {
    if (index < 0 || index >= CapabilityCount(medium)) return false;
    if (medium == Medium::Audio) {
        const PcmFormat& f = kPcmFormats[index];
        if (caps != nullptr) {
            const AUDIO_STREAM_CONFIG_CAPS record = VornMedia::AudioCapsRecord(
                {f.channels, f.channels, f.bits, f.bits, f.rate, f.rate});
            std::memcpy(caps, &record, sizeof(record));
        }
        return MakeAudioType(f.rate, f.bits, f.channels, type);
    }
    const GUID& subtype = SubtypeAt(index);
    const VideoSize& size = SizeAt(index);
    if (caps != nullptr) {
        // One size each, at any rate from its most frames a second down to one.
        const VIDEO_STREAM_CONFIG_CAPS record = VornMedia::VideoCapsRecord(
            {subtype, size.width, size.height, size.width, size.height, 1, 1, MinInterval(size),
             kSecond, 1.0, static_cast<double>(size.maxFramesPerSecond)});
        std::memcpy(caps, &record, sizeof(record));
    }
    return VideoType(subtype, size.width, size.height, MinInterval(size), type);
}

bool Accept(Medium medium, const AM_MEDIA_TYPE& requested, MediaType& normalised) {
    return medium == Medium::Video ? AcceptVideo(requested, normalised)
                                   : AcceptAudio(requested, normalised);
}

HRESULT NegotiateAllocator(IMemInputPin* input, ALLOCATOR_PROPERTIES asked,
                           IMemAllocator** chosen) {
    ALLOCATOR_PROPERTIES wanted = {};
    input->GetAllocatorRequirements(&wanted);
    if (wanted.cBuffers > asked.cBuffers) asked.cBuffers = wanted.cBuffers;
    if (wanted.cbAlign > asked.cbAlign) asked.cbAlign = wanted.cbAlign;
    if (wanted.cbPrefix > asked.cbPrefix) asked.cbPrefix = wanted.cbPrefix;
    // The receiver's allocator if it offers one that takes the sizes, else a memory
    // allocator of our own.
    for (int attempt = 0; attempt < 2; ++attempt) {
        IMemAllocator* allocator = nullptr;
        const HRESULT got = attempt == 0 ? input->GetAllocator(&allocator)
                                         : CoCreateInstance(CLSID_MemoryAllocator, nullptr,
                                                            CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                                            reinterpret_cast<void**>(&allocator));
        if (FAILED(got) || allocator == nullptr) continue;
        ALLOCATOR_PROPERTIES actual = {};
        if (SUCCEEDED(allocator->SetProperties(&asked, &actual)) &&
            actual.cbBuffer >= asked.cbBuffer && actual.cBuffers >= 1 &&
            SUCCEEDED(input->NotifyAllocator(allocator, FALSE))) {
            *chosen = allocator;
            return S_OK;
        }
        allocator->Release();
    }
    return VFW_E_NO_ALLOCATOR;
}

long DefaultAudioBuffer(const WAVEFORMATEX& format) {
    const long block = format.nBlockAlign;
    return static_cast<long>(format.nSamplesPerSec / 20) * block;
}

StreamPlan PlanFor(const AM_MEDIA_TYPE& type, long audioBuffer) {
    StreamPlan plan;
    if (type.formattype == FORMAT_VideoInfo) {
        const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
        plan.video = true;
        VornMedia::LayoutOfSubtype(type.subtype, plan.layout);
        plan.width = info->bmiHeader.biWidth;
        plan.height = info->bmiHeader.biHeight;
        plan.frameInterval = info->AvgTimePerFrame;
        plan.bufferBytes =
            static_cast<long>(VornSignal::FrameBytes(plan.layout, plan.width, plan.height));
        return plan;
    }
    const auto* wave = reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat);
    plan.pcm = {wave->nSamplesPerSec, wave->nChannels, wave->wBitsPerSample, wave->nBlockAlign};
    const long block = wave->nBlockAlign;
    // At most ten seconds of sound in one buffer, and whole sample frames.
    const long most = static_cast<long>(wave->nAvgBytesPerSec) * 10;
    long bytes = audioBuffer > most ? most : audioBuffer;
    bytes = bytes > 0 ? bytes - bytes % block : 0;
    plan.bufferBytes = bytes >= block ? bytes : DefaultAudioBuffer(*wave);
    return plan;
}

}  // namespace VornDevices
