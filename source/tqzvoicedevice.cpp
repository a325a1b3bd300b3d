// SPDX-License-Identifier: MIT
#include "tqzvoicedevice.h"

#include <cstddef>
#include <cstdint>

#include "internal/graph/formatchoice.h"
#include "internal/pull/pullgraph.h"

namespace TQZCapture {

namespace {

const internal::GraphBox kStreamConfigBox = {"Create audio AMStreamConfig ",
                                             "Failed to AMStreamConfig to interfaces!"};
const internal::GraphBox kBufferNegotiationBox = {"Create audio IAMBufferNegotiation ",
                                                  "Failed to IAMBufferNegotiation to interfaces!"};

// Buffers suggested to the device, each holding this share of a second of audio.
constexpr LONG kSuggestedBuffers = 6;
constexpr double kBufferSeconds = 0.05;

// The device's current format as a WAVEFORMATEX, when it is one long enough for every field
// that Open writes (all but cbSize).
WAVEFORMATEX* WaveFormatOf(AM_MEDIA_TYPE& type) {
    if (type.formattype != FORMAT_WaveFormatEx || type.pbFormat == nullptr ||
        type.cbFormat < offsetof(WAVEFORMATEX, cbSize))
        return nullptr;
    return reinterpret_cast<WAVEFORMATEX*>(type.pbFormat);
}

// The audio graph: PCM grabber, the requested format, a buffer suggestion.
class VoiceMedia : public internal::PullMedia {
public:
    explicit VoiceMedia(TQZVoiceDevice& device) : device_(device) {}

    const CLSID& Category() const override { return CLSID_AudioInputDeviceCategory; }
    void GrabberType(AM_MEDIA_TYPE& type) const override {
        type.majortype = MEDIATYPE_Audio;
        type.subtype = MEDIASUBTYPE_PCM;
        type.formattype = FORMAT_WaveFormatEx;
    }
    const internal::GraphBox& StreamConfigBox() const override { return kStreamConfigBox; }
    bool TakeOutputExtras(IPin* output) override {
        return internal::QueryStep(output, IID_IAMBufferNegotiation, negotiation_,
                                   &kBufferNegotiationBox);
    }
    // A refused format (or one that cannot be written) leaves the fields as requested; Open
    // goes on either way.
    bool ApplyFormat(IAMStreamConfig* config, AM_MEDIA_TYPE& current) override {
        WORD bits = static_cast<WORD>(device_.BitsPerSample);
        WORD channels = static_cast<WORD>(device_.Channels);
        WAVEFORMATEX* wave = WaveFormatOf(current);
        if (wave != nullptr && internal::PullRecordFits(device_.BitsPerSample, device_.Channels)) {
            // a 16-bit rate, see header
            internal::WritePcm(*wave, device_.SampleRate & 0xFFFFu, bits, channels);
            if (config->SetFormat(&current) == S_OK) {
                device_.SampleRate = wave->nSamplesPerSec;
                device_.BitsPerSample = wave->wBitsPerSample;
                device_.Channels = wave->nChannels;
            }
        }
        SuggestBuffers(bits, channels);
        return true;
    }

private:
    void SuggestBuffers(WORD bits, WORD channels) {
        ALLOCATOR_PROPERTIES properties;
        if (internal::PullBufferSuggestion(device_.SampleRate, device_.BitsPerSample,
                                           device_.Channels, bits, channels, kSuggestedBuffers,
                                           kBufferSeconds, properties))
            negotiation_->SuggestAllocatorProperties(&properties);
        negotiation_.Release();
    }

    TQZVoiceDevice& device_;
    TQZComPointer<IAMBufferNegotiation> negotiation_;
};

}  // namespace

TQZVoiceDevice::TQZVoiceDevice() : Opened(false), Packets(100) {
    Packets.SetTheMaxCount(2);
    CoInitialize(nullptr);
}

TQZVoiceDevice::TQZVoiceDevice(const TQZVoiceDevice* source) : TQZVoiceDevice() {
    CopyDescription(source);
}

TQZVoiceDevice::TQZVoiceDevice(const TQZVoiceDevice& other) : TQZVoiceDevice() { *this = other; }

TQZVoiceDevice& TQZVoiceDevice::operator=(const TQZVoiceDevice& other) = default;

TQZVoiceDevice::~TQZVoiceDevice() {
    TQZVoiceDevice::Close();
    CoUninitialize();
}

bool TQZVoiceDevice::Open() {
    VoiceMedia media(*this);
    return internal::OpenPullGraph(*this, internal::FieldsOf(*this), media);
}

bool TQZVoiceDevice::Close() { return internal::ClosePullGraph(internal::FieldsOf(*this)); }

bool TQZVoiceDevice::Pause() { return internal::PausePullGraph(internal::FieldsOf(*this)); }

TQZPacket* TQZVoiceDevice::Query() {
    return internal::GrabPacket(*this, internal::FieldsOf(*this), false);
}

TQZPacket* TQZVoiceDevice::Get() {
    return internal::GrabPacket(*this, internal::FieldsOf(*this), true);
}

void TQZVoiceDevice::OnError(unsigned int) {}
void TQZVoiceDevice::OnOpenBefore(void*) {}
void TQZVoiceDevice::OnCloseBefore() {}
void TQZVoiceDevice::OnOpenAfter() {}
void TQZVoiceDevice::OnCloseAfter() {}

bool TQZVoiceDevice::BindFilter(int index, IBaseFilter** filter) {
    return internal::BindCategoryFilter(CLSID_AudioInputDeviceCategory, index, filter);
}

void TQZVoiceDevice::SetCrossBar() { internal::RouteCrossbar(Graph, DeviceFilter); }

}  // namespace TQZCapture
