#include "tqzvoicedevice.h"

#include <cstddef>
#include <cstdint>

#include "pullgraph.h"

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

// Whether bits and channels fit the 16-bit fields of a wave format, with their block
// alignment; anything else would reach the device cut down to other values.
bool RecordFits(unsigned int bits, unsigned int channels) {
    return bits <= 0xFFFFu && channels <= 0xFFFFu && std::uint64_t{bits} * channels / 8 <= 0xFFFFu;
}

// a x b x c into `product` when it fits in a signed 32-bit value.
bool SignedProduct(std::uint64_t a, std::uint64_t b, std::uint64_t c, LONG& product) {
    constexpr std::uint64_t kMax = 0x7FFFFFFF;
    if (a != 0 && b > kMax / a) return false;
    const std::uint64_t ab = a * b;
    if (ab != 0 && c > kMax / ab) return false;
    product = static_cast<LONG>(ab * c);
    return true;
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
        if (wave != nullptr && RecordFits(device_.BitsPerSample, device_.Channels)) {
            wave->wFormatTag = WAVE_FORMAT_PCM;
            wave->nChannels = channels;
            wave->nSamplesPerSec = device_.SampleRate & 0xFFFFu;  // a 16-bit rate, see header
            wave->wBitsPerSample = bits;
            wave->nBlockAlign = static_cast<WORD>(std::uint32_t{bits} * channels / 8);
            wave->nAvgBytesPerSec = std::uint32_t{wave->nBlockAlign} * wave->nSamplesPerSec;
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
        LONG bitsPerSecond = 0;
        LONG alignment = 0;
        if (SignedProduct(device_.BitsPerSample, device_.SampleRate, device_.Channels,
                          bitsPerSecond) &&
            SignedProduct(bits, channels, 1, alignment)) {
            ALLOCATOR_PROPERTIES properties;
            properties.cBuffers = kSuggestedBuffers;
            properties.cbBuffer = static_cast<LONG>((bitsPerSecond / 8) * kBufferSeconds);
            properties.cbAlign = alignment;
            properties.cbPrefix = 0;
            negotiation_->SuggestAllocatorProperties(&properties);
        }
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
