// The capture filters of the virtual devices: one capture pin with its capability list,
// format and buffer negotiation, a streaming thread while running; and the crossbar that
// may sit upstream of a video device.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "com/classes.h"
#include "com/filter.h"
#include "com/graph.h"
#include "world/media_pixels.h"

namespace VornCom {
namespace {

using VornWorld::AudioCapability;
using VornWorld::DeviceHandle;
using VornWorld::FormatRequest;
using VornWorld::VideoCapability;

const GUID kAnalogVideo = {
    0x0482DDE1, 0x7817, 0x11cf, {0x8A, 0x03, 0x00, 0xAA, 0x00, 0x6E, 0xCB, 0x65}};
const GUID kAnalogAudio = {
    0x0482DEE1, 0x7817, 0x11cf, {0x8A, 0x03, 0x00, 0xAA, 0x00, 0x6E, 0xCB, 0x65}};
constexpr REFERENCE_TIME kSecond = 10000000;

REFERENCE_TIME ShortestInterval(const VideoCapability& cap) {
    return static_cast<REFERENCE_TIME>(std::floor(kSecond / cap.maxFrameRate));
}
REFERENCE_TIME LongestInterval(const VideoCapability& cap) {
    return static_cast<REFERENCE_TIME>(std::ceil(kSecond / cap.minFrameRate));
}
LONG MaxWidth(const VideoCapability& cap) { return cap.maxWidth == 0 ? cap.width : cap.maxWidth; }
LONG MaxHeight(const VideoCapability& cap) {
    return cap.maxHeight == 0 ? cap.height : cap.maxHeight;
}

bool SizeFits(const VideoCapability& cap, LONG width, LONG height) {
    return width >= cap.width && width <= MaxWidth(cap) && height >= cap.height &&
           height <= MaxHeight(cap) && (width - cap.width) % cap.granularityX == 0 &&
           (height - cap.height) % cap.granularityY == 0;
}

WAVEFORMATEX WaveOf(const AudioCapability& cap) {
    WAVEFORMATEX wave{};
    wave.wFormatTag = WAVE_FORMAT_PCM;
    wave.nChannels = cap.channels;
    wave.nSamplesPerSec = cap.sampleRate;
    wave.wBitsPerSample = cap.bitsPerSample;
    wave.nBlockAlign = static_cast<WORD>(cap.channels * cap.bitsPerSample / 8);
    wave.nAvgBytesPerSec = wave.nBlockAlign * cap.sampleRate;
    return wave;
}

bool SameType(const MediaType& a, const MediaType& b) {
    const AM_MEDIA_TYPE& x = a.Type();
    const AM_MEDIA_TYPE& y = b.Type();
    return x.majortype == y.majortype && x.subtype == y.subtype && x.cbFormat == y.cbFormat &&
           (x.cbFormat == 0 || std::memcmp(x.pbFormat, y.pbFormat, x.cbFormat) == 0);
}

class CaptureFilter;

// The capture pin: capabilities, the current format, and the suggested allocator.
class CapturePin : public Pin, public IAMStreamConfig, public IAMBufferNegotiation {
public:
    CapturePin(Filter* owner, DeviceHandle device)
        : Pin(owner, L"Capture", PINDIR_OUTPUT), device_(std::move(device)) {}
    VORN_PIN_IUNKNOWN

    HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE* pmt) override {
        if (Fails("IAMStreamConfig::SetFormat")) return E_FAIL;
        if (pmt == nullptr) return E_POINTER;
        MediaType normal;
        HRESULT result = Normalize(*pmt, &normal);
        if (SUCCEEDED(result) && Owner()->State() != State_Stopped) result = VFW_E_NOT_STOPPED;
        if (SUCCEEDED(result) && Connected()) result = VFW_E_ALREADY_CONNECTED;
        FormatRequest request{};
        request.result = result;
        request.subtype = pmt->subtype;
        Describe(*pmt, &request);
        VornWorld::RecordFormat(*device_, request);
        if (FAILED(result)) return result;
        std::lock_guard<std::mutex> lock(mutex_);
        current_ = normal;
        chosen_ = true;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE** pmt) override {
        if (pmt != nullptr) *pmt = nullptr;
        if (Fails("IAMStreamConfig::GetFormat")) return E_FAIL;
        if (pmt == nullptr) return E_POINTER;
        if (CapsCount() == 0 && !Connected()) return VFW_E_NO_ACCEPTABLE_TYPES;
        *pmt = Current().NewRecord();
        return *pmt == nullptr ? E_OUTOFMEMORY : S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int* piCount, int* piSize) override {
        if (Fails("IAMStreamConfig::GetNumberOfCapabilities")) return E_FAIL;
        if (piCount == nullptr || piSize == nullptr) return E_POINTER;
        *piCount = CapsCount();
        *piSize = ReportedCapsSize();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetStreamCaps(int iIndex, AM_MEDIA_TYPE** pmt, BYTE* pSCC) override {
        if (pmt != nullptr) *pmt = nullptr;
        if (Fails("IAMStreamConfig::GetStreamCaps")) return E_FAIL;
        if (pmt == nullptr || pSCC == nullptr) return E_POINTER;
        if (iIndex < 0 || iIndex >= CapsCount()) return S_FALSE;
        std::vector<BYTE> caps;
        MediaType type = CapsAt(iIndex, caps);
        std::memcpy(pSCC, caps.data(),
                    std::min(caps.size(), static_cast<size_t>(ReportedCapsSize())));
        *pmt = type.NewRecord();
        return *pmt == nullptr ? E_OUTOFMEMORY : S_OK;
    }

    HRESULT STDMETHODCALLTYPE
    SuggestAllocatorProperties(const ALLOCATOR_PROPERTIES* prop) override {
        if (Fails("IAMBufferNegotiation::SuggestAllocatorProperties")) return E_FAIL;
        if (prop == nullptr) return E_POINTER;
        HRESULT result = Connected() ? VFW_E_ALREADY_CONNECTED : S_OK;
        VornWorld::RecordAllocator(*device_, {result, *prop});
        if (FAILED(result)) return result;
        std::lock_guard<std::mutex> lock(mutex_);
        suggested_ = *prop;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetAllocatorProperties(ALLOCATOR_PROPERTIES* prop) override {
        if (prop == nullptr) return E_POINTER;
        if (!Connected()) return VFW_E_NOT_CONNECTED;
        ALLOCATOR_PROPERTIES suggested = Suggested();
        prop->cBuffers = suggested.cBuffers > 0 ? suggested.cBuffers : 4;
        prop->cbBuffer = static_cast<LONG>(BufferBytes(ConnectionType()));
        prop->cbAlign = suggested.cbAlign > 0 ? suggested.cbAlign : 1;
        prop->cbPrefix = 0;
        return S_OK;
    }

    bool Accepts(const MediaType& type) override {
        MediaType normal;
        if (FAILED(Normalize(type.Type(), &normal))) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        return !chosen_ || SameType(normal, current_);
    }

    // The chosen format, or every capability in order until one is chosen.
    std::vector<MediaType> Proposals() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (chosen_) return {current_};
        }
        std::vector<MediaType> types;
        std::vector<BYTE> caps;
        for (int i = 0; i < CapsCount(); ++i) types.push_back(CapsAt(i, caps));
        return types;
    }

    // Bytes of one sample in this format (video: a frame; audio: one buffer).
    virtual size_t BufferBytes(const MediaType& type) = 0;

protected:
    void* FindExtra(REFIID iid) override {
        return FindAmong<IAMStreamConfig, IAMBufferNegotiation>(this, iid);
    }
    const VornWorld::DeviceConfig& Config() const { return device_->config; }
    ALLOCATOR_PROPERTIES Suggested() {
        std::lock_guard<std::mutex> lock(mutex_);
        return suggested_;
    }

    virtual int CapsCount() const = 0;
    virtual int NaturalCapsSize() const = 0;
    virtual MediaType CapsAt(int index, std::vector<BYTE>& caps) const = 0;
    // Checks a requested format against the capabilities; the format as the pin keeps it.
    virtual HRESULT Normalize(const AM_MEDIA_TYPE& type, MediaType* normal) const = 0;
    // Fills the size, rate or wave format of a request record from a requested type.
    virtual void Describe(const AM_MEDIA_TYPE& type, FormatRequest* request) const = 0;

private:
    int ReportedCapsSize() const {
        return Config().reportedCapsSize != 0 ? Config().reportedCapsSize : NaturalCapsSize();
    }
    MediaType Current() {
        if (Connected()) return ConnectionType();
        std::lock_guard<std::mutex> lock(mutex_);
        if (chosen_) return current_;
        std::vector<BYTE> caps;
        return CapsAt(0, caps);
    }

    DeviceHandle device_;
    std::mutex mutex_;
    MediaType current_;
    bool chosen_ = false;
    ALLOCATOR_PROPERTIES suggested_{-1, -1, -1, -1};
};

class VideoCapturePin final : public CapturePin {
public:
    using CapturePin::CapturePin;

    size_t BufferBytes(const MediaType& type) override {
        const VIDEOINFOHEADER* video = type.VideoInfo();
        return video == nullptr ? 0
                                : VornWorld::FrameBytes(type.Subtype(), video->bmiHeader.biWidth,
                                                        video->bmiHeader.biHeight);
    }

protected:
    int CapsCount() const override { return static_cast<int>(Config().video.size()); }
    int NaturalCapsSize() const override { return sizeof(VIDEO_STREAM_CONFIG_CAPS); }

    MediaType CapsAt(int index, std::vector<BYTE>& caps) const override {
        const VideoCapability& cap = Config().video[static_cast<size_t>(index)];
        VIDEO_STREAM_CONFIG_CAPS record{};
        record.guid = FORMAT_VideoInfo;
        record.InputSize = {MaxWidth(cap), MaxHeight(cap)};
        record.MinCroppingSize = {cap.width, cap.height};
        record.MaxCroppingSize = {MaxWidth(cap), MaxHeight(cap)};
        record.CropGranularityX = record.CropGranularityY = 1;
        record.CropAlignX = record.CropAlignY = 1;
        record.MinOutputSize = {cap.width, cap.height};
        record.MaxOutputSize = {MaxWidth(cap), MaxHeight(cap)};
        record.OutputGranularityX = cap.granularityX;
        record.OutputGranularityY = cap.granularityY;
        record.MinFrameInterval = ShortestInterval(cap);
        record.MaxFrameInterval = LongestInterval(cap);
        double smallest =
            static_cast<double>(VornWorld::FrameBytes(cap.subtype, cap.width, cap.height));
        double largest =
            static_cast<double>(VornWorld::FrameBytes(cap.subtype, MaxWidth(cap), MaxHeight(cap)));
        record.MinBitsPerSecond =
            static_cast<LONG>(std::min(2147483647.0, smallest * 8 * cap.minFrameRate));
        record.MaxBitsPerSecond =
            static_cast<LONG>(std::min(2147483647.0, largest * 8 * cap.maxFrameRate));
        const BYTE* bytes = reinterpret_cast<const BYTE*>(&record);
        caps.assign(bytes, bytes + sizeof record);
        return MediaType::Video(cap.subtype, cap.width, cap.height, ShortestInterval(cap));
    }

    HRESULT Normalize(const AM_MEDIA_TYPE& type, MediaType* normal) const override {
        MediaType given(type);
        const VIDEOINFOHEADER* video = given.VideoInfo();
        if (!IsEqualGUID(type.majortype, MEDIATYPE_Video) || video == nullptr)
            return VFW_E_INVALIDMEDIATYPE;
        LONG width = video->bmiHeader.biWidth;
        LONG height = video->bmiHeader.biHeight;
        REFERENCE_TIME interval = video->AvgTimePerFrame;
        for (const VideoCapability& cap : Config().video) {
            if (!IsEqualGUID(cap.subtype, type.subtype) || !SizeFits(cap, width, height)) continue;
            if (interval == 0) interval = ShortestInterval(cap);
            if (interval < ShortestInterval(cap) || interval > LongestInterval(cap)) continue;
            *normal = MediaType::Video(cap.subtype, width, height, interval);
            return S_OK;
        }
        return VFW_E_INVALIDMEDIATYPE;
    }

    void Describe(const AM_MEDIA_TYPE& type, FormatRequest* request) const override {
        MediaType given(type);
        if (const VIDEOINFOHEADER* video = given.VideoInfo()) {
            request->width = video->bmiHeader.biWidth;
            request->height = video->bmiHeader.biHeight;
            request->avgTimePerFrame = video->AvgTimePerFrame;
        }
    }
};

class AudioCapturePin final : public CapturePin {
public:
    using CapturePin::CapturePin;

    // The suggested buffer (or a tenth of a second), whole blocks, at most ten seconds.
    size_t BufferBytes(const MediaType& type) override {
        const WAVEFORMATEX* wave = type.Wave();
        if (wave == nullptr || wave->nBlockAlign == 0) return 0;
        size_t block = wave->nBlockAlign;
        size_t most = std::min<size_t>(size_t{wave->nAvgBytesPerSec} * 10, size_t{64} << 20);
        LONG suggested = Suggested().cbBuffer;
        size_t bytes = suggested > 0 ? static_cast<size_t>(suggested) : wave->nAvgBytesPerSec / 10;
        bytes = std::max(block, std::min(bytes, most));
        return bytes / block * block;
    }

protected:
    int CapsCount() const override { return static_cast<int>(Config().audio.size()); }
    int NaturalCapsSize() const override { return sizeof(AUDIO_STREAM_CONFIG_CAPS); }

    MediaType CapsAt(int index, std::vector<BYTE>& caps) const override {
        const AudioCapability& cap = Config().audio[static_cast<size_t>(index)];
        AUDIO_STREAM_CONFIG_CAPS record{};
        record.guid = MEDIATYPE_Audio;
        record.MinimumChannels = record.MaximumChannels = cap.channels;
        record.ChannelsGranularity = 1;
        record.MinimumBitsPerSample = record.MaximumBitsPerSample = cap.bitsPerSample;
        record.BitsPerSampleGranularity = 8;
        record.MinimumSampleFrequency = record.MaximumSampleFrequency = cap.sampleRate;
        record.SampleFrequencyGranularity = 1;
        const BYTE* bytes = reinterpret_cast<const BYTE*>(&record);
        caps.assign(bytes, bytes + sizeof record);
        return MediaType::Audio(WaveOf(cap));
    }

    HRESULT Normalize(const AM_MEDIA_TYPE& type, MediaType* normal) const override {
        WAVEFORMATEX wave{};
        if (!ReadWave(type, &wave) || !IsEqualGUID(type.majortype, MEDIATYPE_Audio) ||
            !IsEqualGUID(type.subtype, MEDIASUBTYPE_PCM) || wave.wFormatTag != WAVE_FORMAT_PCM)
            return VFW_E_INVALIDMEDIATYPE;
        for (const AudioCapability& cap : Config().audio) {
            WAVEFORMATEX offered = WaveOf(cap);
            if (wave.nChannels == offered.nChannels &&
                wave.wBitsPerSample == offered.wBitsPerSample &&
                wave.nSamplesPerSec == offered.nSamplesPerSec &&
                wave.nBlockAlign == offered.nBlockAlign &&
                wave.nAvgBytesPerSec == offered.nAvgBytesPerSec) {
                *normal = MediaType::Audio(offered);
                return S_OK;
            }
        }
        return VFW_E_INVALIDMEDIATYPE;
    }

    void Describe(const AM_MEDIA_TYPE& type, FormatRequest* request) const override {
        ReadWave(type, &request->wave);
    }

private:
    // The wave format of a type (a PCMWAVEFORMAT of 16 bytes is read with cbSize 0).
    static bool ReadWave(const AM_MEDIA_TYPE& type, WAVEFORMATEX* wave) {
        if (!IsEqualGUID(type.formattype, FORMAT_WaveFormatEx) || type.pbFormat == nullptr ||
            type.cbFormat < 16)
            return false;
        std::memcpy(wave, type.pbFormat, std::min<size_t>(type.cbFormat, sizeof(WAVEFORMATEX)));
        return true;
    }
};

// Pins of the analog side: crossbar pins and the capture filter's analog input. They carry
// no samples.
class AnalogPin final : public Pin {
public:
    AnalogPin(Filter* owner, std::wstring name, PIN_DIRECTION direction, const GUID& major)
        : Pin(owner, std::move(name), direction), major_(major) {}
    bool Accepts(const MediaType& type) override { return IsEqualGUID(type.Major(), major_); }
    std::vector<MediaType> Proposals() override {
        AM_MEDIA_TYPE type{};
        type.majortype = major_;
        type.formattype = FORMAT_None;
        return {MediaType(type)};
    }

private:
    GUID major_;
};

bool IsVideoConnector(LONG type) { return type < PhysConn_Audio_Tuner; }

std::wstring ConnectorName(LONG type) {
    static const wchar_t* const kVideo[] = {L"Video Tuner",
                                            L"Video Composite",
                                            L"Video SVideo",
                                            L"Video RGB",
                                            L"Video YRYBY",
                                            L"Video SerialDigital",
                                            L"Video ParallelDigital",
                                            L"Video SCSI",
                                            L"Video AUX",
                                            L"Video 1394",
                                            L"Video USB",
                                            L"Video Decoder",
                                            L"Video Encoder",
                                            L"Video SCART",
                                            L"Video Black"};
    static const wchar_t* const kAudio[] = {
        L"Audio Tuner", L"Audio Line", L"Audio Mic",  L"Audio AES Digital", L"Audio SPDIF Digital",
        L"Audio SCSI",  L"Audio AUX",  L"Audio 1394", L"Audio USB",         L"Audio Decoder"};
    if (type >= PhysConn_Video_Tuner && type <= PhysConn_Video_Black) return kVideo[type - 1];
    if (type >= PhysConn_Audio_Tuner && type <= PhysConn_Audio_AudioDecoder)
        return kAudio[type - PhysConn_Audio_Tuner];
    return L"Connector";
}

class Crossbar final : public Filter, public IAMCrossbar {
public:
    explicit Crossbar(DeviceHandle device) : device_(std::move(device)) {
        const auto& config = device_->config;
        for (size_t i = 0; i < config.crossbarInputs.size(); ++i)
            AddConnector(i, config.crossbarInputs[i], PINDIR_INPUT);
        for (size_t i = 0; i < config.crossbarOutputs.size(); ++i) {
            AddConnector(i, config.crossbarOutputs[i], PINDIR_OUTPUT);
            LONG input = -1;
            for (size_t j = 0; j < config.crossbarInputs.size() && input < 0; ++j)
                if (Routable(config.crossbarOutputs[i], config.crossbarInputs[j]))
                    input = static_cast<LONG>(j);
            routes_.push_back(input);
        }
    }
    VORN_FILTER_IUNKNOWN

    HRESULT STDMETHODCALLTYPE get_PinCounts(LONG* output, LONG* input) override {
        if (Fails("IAMCrossbar::get_PinCounts")) return E_FAIL;
        if (output == nullptr || input == nullptr) return E_POINTER;
        *output = Outputs();
        *input = Inputs();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE CanRoute(LONG output, LONG input) override {
        if (Fails("IAMCrossbar::CanRoute")) return E_FAIL;
        return Check(output, input);
    }

    HRESULT STDMETHODCALLTYPE Route(LONG output, LONG input) override {
        HRESULT result = Fails("IAMCrossbar::Route") ? E_FAIL : Check(output, input);
        if (result == S_FALSE) result = E_FAIL;
        if (result == S_OK) {
            std::lock_guard<std::mutex> lock(mutex_);
            routes_[static_cast<size_t>(output)] = input;
        }
        VornWorld::RecordRoute(*device_, {result, output, input});
        return result;
    }

    HRESULT STDMETHODCALLTYPE get_IsRoutedTo(LONG output, LONG* input) override {
        if (input == nullptr) return E_POINTER;
        if (output < 0 || output >= Outputs()) return E_INVALIDARG;
        std::lock_guard<std::mutex> lock(mutex_);
        *input = routes_[static_cast<size_t>(output)];
        return *input < 0 ? S_FALSE : S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_CrossbarPinInfo(BOOL is_input, LONG index, LONG* related,
                                                  LONG* type) override {
        if (Fails("IAMCrossbar::get_CrossbarPinInfo")) return E_FAIL;
        if (related == nullptr || type == nullptr) return E_POINTER;
        const auto& list =
            is_input ? device_->config.crossbarInputs : device_->config.crossbarOutputs;
        if (index < 0 || static_cast<size_t>(index) >= list.size()) return E_INVALIDARG;
        *related = -1;
        *type = list[static_cast<size_t>(index)];
        return S_OK;
    }

    VornWorld::FilterKind Kind() const override { return VornWorld::FilterKind::Crossbar; }
    VornWorld::DeviceId Device() const override { return device_->id; }
    std::wstring DefaultName() const override { return L"Crossbar"; }
    bool CanEndStream() const override { return false; }

    // The output that feeds the capture filter: the video decoder output, else the first.
    Pin* FeedingPin() const {
        const auto& outputs = device_->config.crossbarOutputs;
        auto decoder = std::find(outputs.begin(), outputs.end(), PhysConn_Video_VideoDecoder);
        size_t index =
            decoder == outputs.end() ? 0 : static_cast<size_t>(decoder - outputs.begin());
        return outputs.empty() ? nullptr
                               : Pins()[device_->config.crossbarInputs.size() + index].get();
    }

protected:
    void* FindExtra(REFIID iid) override { return FindAmong<IAMCrossbar>(this, iid); }

private:
    LONG Inputs() const { return static_cast<LONG>(device_->config.crossbarInputs.size()); }
    LONG Outputs() const { return static_cast<LONG>(device_->config.crossbarOutputs.size()); }
    static bool Routable(LONG output, LONG input) {
        return IsVideoConnector(output) == IsVideoConnector(input);
    }
    // S_OK when the route can be made, S_FALSE when the types differ, E_INVALIDARG for
    // indices out of range (an input of -1 cuts the route).
    HRESULT Check(LONG output, LONG input) const {
        if (output < 0 || output >= Outputs() || input < -1 || input >= Inputs())
            return E_INVALIDARG;
        if (input == -1) return S_OK;
        return Routable(device_->config.crossbarOutputs[static_cast<size_t>(output)],
                        device_->config.crossbarInputs[static_cast<size_t>(input)])
                   ? S_OK
                   : S_FALSE;
    }
    void AddConnector(size_t index, LONG type, PIN_DIRECTION direction) {
        std::wstring name = std::to_wstring(index) + L": " + ConnectorName(type) +
                            (direction == PINDIR_INPUT ? L" In" : L" Out");
        AddPin(std::make_unique<AnalogPin>(this, name, direction,
                                           IsVideoConnector(type) ? kAnalogVideo : kAnalogAudio));
    }

    DeviceHandle device_;
    std::mutex mutex_;
    std::vector<LONG> routes_;
};

// The devices keep running whoever looks at them: their pictures and tones follow one clock,
// not the graphs that read them. A run starts at the frame or sample the clock has reached.
// A microphone holds what it captured for a second, like a device's buffer: a run that starts
// within that second of where the device's last buffer ended goes on from there, so a reader
// that builds a graph per buffer still gets continuous sound.
class DeviceClock {
public:
    static REFERENCE_TIME Now() {
        static const auto epoch = std::chrono::steady_clock::now();
        return std::chrono::duration_cast<std::chrono::duration<int64_t, std::ratio<1, kSecond>>>(
                   std::chrono::steady_clock::now() - epoch)
            .count();
    }

    static uint64_t FirstFrame(REFERENCE_TIME period) {
        return static_cast<uint64_t>(Now() / std::max<REFERENCE_TIME>(period, 1));
    }

    static uint64_t FirstSample(VornWorld::DeviceId device, DWORD rate) {
        const REFERENCE_TIME now = Now();
        const uint64_t reached = static_cast<uint64_t>(now / kSecond) * rate +
                                 static_cast<uint64_t>(now % kSecond) * rate / kSecond;
        std::lock_guard<std::mutex> lock(Mutex());
        const auto last = Ends().find(device);
        if (last != Ends().end() && last->second.rate == rate &&
            last->second.sample + rate >= reached && last->second.sample <= reached + rate)
            return last->second.sample;
        return reached;
    }

    static void EndedAt(VornWorld::DeviceId device, DWORD rate, uint64_t sample) {
        std::lock_guard<std::mutex> lock(Mutex());
        Ends()[device] = {rate, sample};
    }

private:
    struct End {
        DWORD rate;
        uint64_t sample;
    };
    // Never destroyed: a streaming thread may still be ending while the program exits.
    static std::mutex& Mutex() {
        static auto* mutex = new std::mutex;
        return *mutex;
    }
    static std::map<VornWorld::DeviceId, End>& Ends() {
        static auto* ends = new std::map<VornWorld::DeviceId, End>;
        return *ends;
    }
};

class CaptureFilter final : public Filter {
public:
    explicit CaptureFilter(DeviceHandle device) : device_(std::move(device)) {
        bool video = device_->config.kind == VornWorld::MediaKind::Video;
        if (video)
            AddPin(std::make_unique<VideoCapturePin>(this, device_));
        else
            AddPin(std::make_unique<AudioCapturePin>(this, device_));
        if (video && device_->config.crossbar) {
            AddPin(
                std::make_unique<AnalogPin>(this, L"Analog Video In", PINDIR_INPUT, kAnalogVideo));
            crossbar_ = Ref<IBaseFilter>(new Crossbar(device_), false);
        }
    }
    ~CaptureFilter() override { StopStreaming(); }

    VornWorld::FilterKind Kind() const override {
        return device_->config.kind == VornWorld::MediaKind::Video
                   ? VornWorld::FilterKind::VideoCapture
                   : VornWorld::FilterKind::AudioCapture;
    }
    VornWorld::DeviceId Device() const override { return device_->id; }
    std::wstring DefaultName() const override {
        return device_->config.friendlyName.empty() ? L"Capture" : device_->config.friendlyName;
    }
    bool IsSource() const override { return true; }
    bool CanEndStream() const override { return false; }
    Filter* CrossbarFilter() const { return static_cast<Crossbar*>(crossbar_.get()); }

protected:
    void OnStateChange(FILTER_STATE, FILTER_STATE to) override {
        if (to == State_Running)
            StartStreaming();
        else
            StopStreaming();
        if (to == State_Stopped) streamTime_ = 0;
    }

private:
    CapturePin* Output() const { return static_cast<CapturePin*>(Pins()[0].get()); }

    void StartStreaming() {
        if (!Output()->Connected() || thread_.joinable()) return;
        stop_ = false;
        ++VornWorld::Counters().threads;
        thread_ = std::thread(&CaptureFilter::Stream, this, Output()->ConnectionType());
    }

    void StopStreaming() {
        if (!thread_.joinable()) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
        --VornWorld::Counters().threads;
    }

    // Waits until `due` or until asked to stop; true when asked to stop.
    template <class Due>
    bool Sleep(std::unique_lock<std::mutex>& lock, const Due& due) {
        return wake_.wait_until(lock, due, [this] { return stop_; });
    }

    // The streaming thread: one sample per period, from the start of the run.
    void Stream(MediaType type) {
        SetStreamingGraph(Graph());
        const VornWorld::DeviceConfig& config = device_->config;
        size_t bytes = Output()->BufferBytes(type);
        const WAVEFORMATEX* wave = type.Wave();
        const VIDEOINFOHEADER* video = type.VideoInfo();
        REFERENCE_TIME period =
            wave != nullptr ? static_cast<REFERENCE_TIME>(bytes * kSecond / wave->nAvgBytesPerSec)
                            : std::max<REFERENCE_TIME>(video->AvgTimePerFrame, 1);
        std::vector<BYTE> buffer(bytes), scratch;
        uint64_t position = wave != nullptr
                                ? DeviceClock::FirstSample(device_->id, wave->nSamplesPerSec)
                                : DeviceClock::FirstFrame(period);
        auto begin = std::chrono::steady_clock::now();
        uint64_t sent = 0;
        std::unique_lock<std::mutex> lock(mutex_);
        while (config.delivers) {
            auto due = begin + std::chrono::duration<int64_t, std::ratio<1, kSecond>>(
                                   period * static_cast<REFERENCE_TIME>(sent));
            if (Sleep(lock, due)) break;
            lock.unlock();
            if (wave != nullptr) {
                VornWorld::PaintTone(*wave, config.toneFrequency, position, buffer.data(), bytes);
                position += bytes / wave->nBlockAlign;
                DeviceClock::EndedAt(device_->id, wave->nSamplesPerSec, position);
            } else {
                VornWorld::PaintTestFrame(type.Subtype(), video->bmiHeader.biWidth,
                                          video->bmiHeader.biHeight, position++, buffer.data(),
                                          scratch);
            }
            Sample sample{buffer.data(), static_cast<LONG>(bytes), streamTime_,
                          streamTime_ + period};
            streamTime_ += period;
            ++sent;
            HRESULT verdict = Output()->Deliver(sample);
            VornWorld::RecordSamples(*device_, 1);
            if (verdict != S_OK) Output()->DeliverEndOfStream();
            lock.lock();
            if (verdict != S_OK) break;
        }
        if (!lock.owns_lock()) lock.lock();
        wake_.wait(lock, [this] { return stop_; });
        SetStreamingGraph(nullptr);
    }

    DeviceHandle device_;
    Ref<IBaseFilter> crossbar_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    REFERENCE_TIME streamTime_ = 0;
};

}  // namespace

Filter* NewCaptureFilter(const DeviceHandle& device) { return new CaptureFilter(device); }

Filter* CrossbarOf(Filter* capture) {
    auto* filter = dynamic_cast<CaptureFilter*>(capture);
    return filter == nullptr ? nullptr : filter->CrossbarFilter();
}

Pin* CrossbarFeed(Filter* crossbar) {
    auto* filter = dynamic_cast<Crossbar*>(crossbar);
    return filter == nullptr ? nullptr : filter->FeedingPin();
}

}  // namespace VornCom
