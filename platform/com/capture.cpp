// SPDX-License-Identifier: MIT
// The capture filters of the devices of either world: one capture pin with its capability
// list, format and buffer negotiation, and a streaming thread that stamps and delivers what the
// device's source fills while running. The crossbar upstream of a video device is in
// crossbar.cpp.
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "com/classes.h"
#include "com/filter.h"
#include "com/graph.h"
#include "shared/streamcaps.h"
#include "world/media_pixels.h"

namespace VornCom {
namespace {

using VornWorld::AudioCapability;
using VornWorld::DeviceHandle;
using VornWorld::FormatRequest;
using VornWorld::VideoCapability;

constexpr REFERENCE_TIME kSecond = 10000000;
using VornWorld::LongestInterval;
using VornWorld::MaxHeight;
using VornWorld::MaxWidth;
using VornWorld::ShortestInterval;

WAVEFORMATEX WaveOf(const AudioCapability& cap) {
    return VornMedia::PcmWave(cap.channels, cap.bitsPerSample, cap.sampleRate);
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
        if (Fails(VORN_FAULT("IAMStreamConfig::SetFormat"))) return E_FAIL;
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
        if (Fails(VORN_FAULT("IAMStreamConfig::GetFormat"))) return E_FAIL;
        if (pmt == nullptr) return E_POINTER;
        if (CapsCount() == 0 && !Connected()) return VFW_E_NO_ACCEPTABLE_TYPES;
        *pmt = Current().NewRecord();
        return *pmt == nullptr ? E_OUTOFMEMORY : S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int* piCount, int* piSize) override {
        if (Fails(VORN_FAULT("IAMStreamConfig::GetNumberOfCapabilities"))) return E_FAIL;
        if (piCount == nullptr || piSize == nullptr) return E_POINTER;
        *piCount = CapsCount();
        *piSize = ReportedCapsSize();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetStreamCaps(int iIndex, AM_MEDIA_TYPE** pmt, BYTE* pSCC) override {
        if (pmt != nullptr) *pmt = nullptr;
        if (Fails(VORN_FAULT("IAMStreamConfig::GetStreamCaps"))) return E_FAIL;
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
        if (Fails(VORN_FAULT("IAMBufferNegotiation::SuggestAllocatorProperties"))) return E_FAIL;
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
        const VIDEO_STREAM_CONFIG_CAPS record = VornMedia::VideoCapsRecord(
            {cap.subtype, cap.width, cap.height, MaxWidth(cap), MaxHeight(cap), cap.granularityX,
             cap.granularityY, ShortestInterval(cap), LongestInterval(cap), cap.minFrameRate,
             cap.maxFrameRate});
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
        const int fits =
            VornWorld::FittingCapability(Config().video, type.subtype, width, height, interval);
        if (fits < 0) return VFW_E_INVALIDMEDIATYPE;
        const VideoCapability& cap = Config().video[static_cast<size_t>(fits)];
        *normal = MediaType::Video(cap.subtype, width, height,
                                   interval == 0 ? ShortestInterval(cap) : interval);
        return S_OK;
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
        AudioCapability most = VornWorld::WidestOf(cap);
        const AUDIO_STREAM_CONFIG_CAPS record =
            VornMedia::AudioCapsRecord({cap.channels, most.channels, cap.bitsPerSample,
                                        most.bitsPerSample, cap.sampleRate, most.sampleRate});
        const BYTE* bytes = reinterpret_cast<const BYTE*>(&record);
        caps.assign(bytes, bytes + sizeof record);
        return MediaType::Audio(WaveOf(cap));
    }

    HRESULT Normalize(const AM_MEDIA_TYPE& type, MediaType* normal) const override {
        WAVEFORMATEX wave{};
        if (!ReadWave(type, &wave) || !IsEqualGUID(type.majortype, MEDIATYPE_Audio) ||
            !IsEqualGUID(type.subtype, MEDIASUBTYPE_PCM) || wave.wFormatTag != WAVE_FORMAT_PCM)
            return VFW_E_INVALIDMEDIATYPE;
        AudioCapability asked{wave.nChannels, wave.wBitsPerSample, wave.nSamplesPerSec};
        WAVEFORMATEX offered = WaveOf(asked);
        if (wave.nBlockAlign != offered.nBlockAlign ||
            wave.nAvgBytesPerSec != offered.nAvgBytesPerSec || wave.wBitsPerSample % 8 != 0)
            return VFW_E_INVALIDMEDIATYPE;
        for (const AudioCapability& cap : Config().audio) {
            AudioCapability most = VornWorld::WidestOf(cap);
            if (asked.channels >= cap.channels && asked.channels <= most.channels &&
                asked.bitsPerSample >= cap.bitsPerSample &&
                asked.bitsPerSample <= most.bitsPerSample && asked.sampleRate >= cap.sampleRate &&
                asked.sampleRate <= most.sampleRate) {
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

class CaptureFilter final : public Filter {
public:
    explicit CaptureFilter(DeviceHandle device) : device_(std::move(device)) {
        bool video = device_->config.kind == VornWorld::MediaKind::Video;
        if (video)
            AddPin(std::make_unique<VideoCapturePin>(this, device_));
        else
            AddPin(std::make_unique<AudioCapturePin>(this, device_));
        if (video && device_->config.crossbar) {
            AddPin(NewAnalogPin(this, L"Analog Video In", PINDIR_INPUT, true));
            crossbar_ = Ref<IBaseFilter>(NewCrossbar(device_), false);
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
    Filter* CrossbarFilter() const { return static_cast<Filter*>(crossbar_.get()); }

    // A run needs the device's source, opened in the connected format on the first run
    // after a stop and kept until the next stop.
    HRESULT CanRun() const override {
        if (!Output()->Connected()) return S_OK;
        std::lock_guard<std::mutex> lock(mutex_);
        return OpenSource() != nullptr ? S_OK : VFW_E_NO_CAPTURE_HARDWARE;
    }

protected:
    void OnStateChange(FILTER_STATE, FILTER_STATE to) override {
        if (to == State_Running)
            StartStreaming();
        else
            StopStreaming();
        if (to == State_Stopped) {
            position_ = 0;
            streamTime_ = 0;
            std::lock_guard<std::mutex> lock(mutex_);
            source_.reset();
        }
    }

    // A source that does not go on capturing between runs is opened afresh, as after a stop.
    void OnRestart() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (source_ == nullptr || source_->Continuous()) return;
        source_.reset();
        position_ = 0;
        streamTime_ = 0;
    }

private:
    CapturePin* Output() const { return static_cast<CapturePin*>(Pins()[0].get()); }

    static VornWorld::StreamFormat FormatOf(const MediaType& type) {
        VornWorld::StreamFormat format;
        format.subtype = type.Subtype();
        if (const WAVEFORMATEX* wave = type.Wave()) {
            format.audio = true;
            format.wave = *wave;
        } else if (const VIDEOINFOHEADER* video = type.VideoInfo()) {
            format.width = video->bmiHeader.biWidth;
            format.height = video->bmiHeader.biHeight;
            format.interval = video->AvgTimePerFrame;
        }
        return format;
    }

    // Under mutex_: the source, opened now if it is not yet; null when the device refuses.
    VornWorld::MediaSource* OpenSource() const {
        if (source_ == nullptr && device_->open) {
            VornWorld::StreamFormat format = FormatOf(Output()->ConnectionType());
            format.sampleBytes = Output()->BufferBytes(Output()->ConnectionType());
            source_ = device_->open(format);
        }
        return source_.get();
    }

    // A source that cannot be opened (a stop came between CanRun and here, and the device went
    // away) gives a stream that ends at once.
    void StartStreaming() {
        if (!Output()->Connected() || thread_.joinable()) return;
        VornWorld::MediaSource* source;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            source = OpenSource();
            stop_ = false;
        }
        if (source != nullptr) source->Begin();
        ++VornWorld::Counters().threads;
        thread_ = std::thread(&CaptureFilter::Stream, this, Output()->ConnectionType(), source);
    }

    void StopStreaming() {
        if (!thread_.joinable()) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
            if (source_ != nullptr) source_->Interrupt();
        }
        wake_.notify_all();
        thread_.join();
        --VornWorld::Counters().threads;
    }

    // The streaming thread: each sample the source fills, stamped from the audio position or
    // the frame count (or with the source's own capture time), until stopped or refused.
    void Stream(MediaType type, VornWorld::MediaSource* source) {
        SetStreamingGraph(Graph());
        size_t bytes = Output()->BufferBytes(type);
        const WAVEFORMATEX* wave = type.Wave();
        const VIDEOINFOHEADER* video = type.VideoInfo();
        std::vector<BYTE> buffer(bytes);
        if (source == nullptr) Output()->DeliverEndOfStream();
        while (source != nullptr) {
            REFERENCE_TIME start = -1;
            auto result = source->Read(buffer.data(), bytes, position_, &start);
            if (result != VornWorld::MediaSource::Result::Filled) {
                if (result == VornWorld::MediaSource::Result::Failed)
                    Output()->DeliverEndOfStream();
                break;
            }
            REFERENCE_TIME length;
            if (wave != nullptr) {
                uint64_t frames = bytes / wave->nBlockAlign;
                if (start < 0)
                    start = static_cast<REFERENCE_TIME>(position_ * kSecond / wave->nSamplesPerSec);
                // Later than the last sample ended by more than a sample frame: a gap.
                else if (start - streamTime_ > kSecond / wave->nSamplesPerSec)
                    VornWorld::RecordAudioLost(*device_, start - streamTime_);
                position_ += frames;
                length = static_cast<REFERENCE_TIME>(frames * kSecond / wave->nSamplesPerSec);
            } else {
                length = std::max<REFERENCE_TIME>(video->AvgTimePerFrame, 1);
                if (start < 0) start = streamTime_;
                ++position_;
            }
            streamTime_ = start + length;
            Sample sample{buffer.data(), static_cast<LONG>(bytes), start, start + length};
            HRESULT verdict = Output()->Deliver(sample);
            VornWorld::RecordSamples(*device_, 1);
            if (verdict != S_OK) {
                Output()->DeliverEndOfStream();
                break;
            }
        }
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return stop_; });
        SetStreamingGraph(nullptr);
    }

    DeviceHandle device_;
    Ref<IBaseFilter> crossbar_;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    // Opened by CanRun, dropped at a stop; the streaming thread uses it while it runs.
    mutable std::unique_ptr<VornWorld::MediaSource> source_;
    // Written by the streaming thread, read after it was joined.
    uint64_t position_ = 0;  // video frames or audio sample frames
    REFERENCE_TIME streamTime_ = 0;
};

}  // namespace

Filter* NewCaptureFilter(const DeviceHandle& device) { return new CaptureFilter(device); }

Filter* CrossbarOf(Filter* capture) {
    auto* filter = dynamic_cast<CaptureFilter*>(capture);
    return filter == nullptr ? nullptr : filter->CrossbarFilter();
}

}  // namespace VornCom
