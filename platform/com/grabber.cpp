// SPDX-License-Identifier: MIT
// The sample grabber (hands every sample to a callback and keeps a copy on request) and the
// null renderer (takes every sample and drops it).
#include <cstring>
#include <mutex>

#include "com/classes.h"
#include "com/filter.h"

namespace VornCom {
namespace {

// A sample handed to ISampleGrabberCB::SampleCB: a copy, valid as long as it is held.
class MediaSample final : public Unknown, public IMediaSample {
public:
    explicit MediaSample(const Sample& sample, const MediaType& type)
        : bytes_(sample.data, sample.data + sample.length),
          start_(sample.start),
          stop_(sample.stop),
          type_(type) {}
    VORN_IUNKNOWN
    void* Find(REFIID iid) override { return FindAmong<IMediaSample>(this, iid); }

    HRESULT STDMETHODCALLTYPE GetPointer(BYTE** ppBuffer) override {
        if (ppBuffer == nullptr) return E_POINTER;
        *ppBuffer = bytes_.data();
        return S_OK;
    }
    LONG STDMETHODCALLTYPE GetSize() override { return static_cast<LONG>(bytes_.size()); }
    HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* pTimeStart,
                                      REFERENCE_TIME* pTimeEnd) override {
        if (pTimeStart == nullptr || pTimeEnd == nullptr) return E_POINTER;
        *pTimeStart = start_;
        *pTimeEnd = stop_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME* pTimeStart,
                                      REFERENCE_TIME* pTimeEnd) override {
        if (pTimeStart != nullptr) start_ = *pTimeStart;
        if (pTimeEnd != nullptr) stop_ = *pTimeEnd;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsSyncPoint() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE IsPreroll() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetPreroll(BOOL) override { return S_OK; }
    LONG STDMETHODCALLTYPE GetActualDataLength() override { return GetSize(); }
    HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG length) override {
        return length >= 0 && static_cast<size_t>(length) <= bytes_.size() ? S_OK
                                                                           : VFW_E_RUNTIME_ERROR;
    }
    HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE** ppMediaType) override {
        if (ppMediaType == nullptr) return E_POINTER;
        *ppMediaType = type_.NewRecord();
        return *ppMediaType == nullptr ? E_OUTOFMEMORY : S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsDiscontinuity() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG*, LONGLONG*) override {
        return VFW_E_NOT_FOUND;
    }
    HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }

private:
    std::vector<BYTE> bytes_;
    REFERENCE_TIME start_;
    REFERENCE_TIME stop_;
    MediaType type_;
};

class SampleGrabber;

class GrabberInput final : public Pin {
public:
    GrabberInput(SampleGrabber* owner);
    bool Accepts(const MediaType& type) override;

private:
    SampleGrabber* grabber_;
};

// Passes on exactly what the input receives.
class GrabberOutput final : public Pin {
public:
    GrabberOutput(Filter* owner, Pin* input)
        : Pin(owner, L"Output", PINDIR_OUTPUT), input_(input) {}
    bool Accepts(const MediaType& type) override {
        return input_->Connected() && type.Fits(input_->ConnectionType().Type()) &&
               type.Type().cbFormat == input_->ConnectionType().Type().cbFormat &&
               (type.Type().cbFormat == 0 ||
                std::memcmp(type.Type().pbFormat, input_->ConnectionType().Type().pbFormat,
                            type.Type().cbFormat) == 0);
    }
    std::vector<MediaType> Proposals() override {
        if (!input_->Connected()) return {};
        return {input_->ConnectionType()};
    }

private:
    Pin* input_;
};

class SampleGrabber final : public Filter, public ISampleGrabber {
public:
    SampleGrabber() {
        AddPin(std::make_unique<GrabberInput>(this));
        AddPin(std::make_unique<GrabberOutput>(this, Pins()[0].get()));
    }
    VORN_FILTER_IUNKNOWN

    HRESULT STDMETHODCALLTYPE SetOneShot(BOOL OneShot) override {
        if (Fails(VORN_FAULT("ISampleGrabber::SetOneShot"))) return E_FAIL;
        oneShot_ = OneShot != FALSE;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetMediaType(const AM_MEDIA_TYPE* pType) override {
        if (Fails(VORN_FAULT("ISampleGrabber::SetMediaType"))) return E_FAIL;
        if (pType == nullptr) return E_POINTER;
        std::lock_guard<std::mutex> lock(mutex_);
        wanted_ = MediaType(*pType);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetConnectedMediaType(AM_MEDIA_TYPE* pType) override {
        if (Fails(VORN_FAULT("ISampleGrabber::GetConnectedMediaType"))) return E_FAIL;
        if (pType == nullptr) return E_POINTER;
        Pin* input = Pins()[0].get();
        if (!input->Connected()) return VFW_E_NOT_CONNECTED;
        return input->ConnectionType().CopyTo(pType);
    }

    HRESULT STDMETHODCALLTYPE SetBufferSamples(BOOL BufferThem) override {
        if (Fails(VORN_FAULT("ISampleGrabber::SetBufferSamples"))) return E_FAIL;
        std::lock_guard<std::mutex> lock(mutex_);
        buffering_ = BufferThem != FALSE;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetCurrentBuffer(LONG* pBufferSize, LONG* pBuffer) override {
        if (Fails(VORN_FAULT("ISampleGrabber::GetCurrentBuffer"))) return E_FAIL;
        if (pBufferSize == nullptr) return E_POINTER;
        if (!Pins()[0]->Connected()) return VFW_E_NOT_CONNECTED;
        std::lock_guard<std::mutex> lock(mutex_);
        if (!buffering_) return E_INVALIDARG;
        if (!buffered_) return VFW_E_WRONG_STATE;
        LONG size = static_cast<LONG>(buffer_.size());
        if (pBuffer == nullptr) {
            *pBufferSize = size;
            return S_OK;
        }
        if (*pBufferSize < size) return E_OUTOFMEMORY;
        std::memcpy(pBuffer, buffer_.data(), buffer_.size());
        *pBufferSize = size;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetCurrentSample(IMediaSample** ppSample) override {
        if (ppSample != nullptr) *ppSample = nullptr;
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE SetCallback(ISampleGrabberCB* pCallback,
                                          LONG WhichMethodToCallback) override {
        if (Fails(VORN_FAULT("ISampleGrabber::SetCallback"))) return E_FAIL;
        if (WhichMethodToCallback != 0 && WhichMethodToCallback != 1) return E_INVALIDARG;
        Ref<ISampleGrabberCB> old;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            old = callback_;
            callback_ = Ref<ISampleGrabberCB>(pCallback);
            method_ = WhichMethodToCallback;
        }
        return S_OK;
    }

    bool Fits(const MediaType& type) {
        std::lock_guard<std::mutex> lock(mutex_);
        return !IsEqualGUID(type.Major(), GUID_NULL) && type.Fits(wanted_.Type());
    }

    VornWorld::FilterKind Kind() const override { return VornWorld::FilterKind::SampleGrabber; }
    std::wstring DefaultName() const override { return L"SampleGrabber"; }
    HRESULT CanRun() const override { return Pins()[0]->Connected() ? S_OK : VFW_E_NOT_CONNECTED; }

    HRESULT Receive(Pin*, const Sample& sample) override {
        if (oneShot_ && shotTaken_) return S_FALSE;
        Ref<ISampleGrabberCB> callback;
        LONG method;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (buffering_) {
                buffer_.assign(sample.data, sample.data + sample.length);
                buffered_ = true;
            }
            callback = callback_;
            method = method_;
        }
        double seconds = static_cast<double>(sample.start) / 10000000.0;
        if (callback && method == 1) {
            callback->BufferCB(seconds, sample.data, sample.length);
        } else if (callback) {
            Ref<IMediaSample> copy(new MediaSample(sample, Pins()[0]->ConnectionType()), false);
            callback->SampleCB(seconds, copy.get());
        }
        HRESULT downstream = Pins()[1]->Connected() ? Pins()[1]->Deliver(sample) : S_OK;
        if (oneShot_) {
            shotTaken_ = true;
            return S_FALSE;
        }
        return downstream;
    }

protected:
    void* FindExtra(REFIID iid) override { return FindAmong<ISampleGrabber>(this, iid); }
    void OnStateChange(FILTER_STATE from, FILTER_STATE) override {
        if (from == State_Stopped) shotTaken_ = false;
    }
    void OnRestart() override { shotTaken_ = false; }
    CLSID ClassId() const override { return kSampleGrabber; }

private:
    std::mutex mutex_;
    MediaType wanted_;
    bool buffering_ = false;
    bool buffered_ = false;
    std::vector<BYTE> buffer_;
    Ref<ISampleGrabberCB> callback_;
    LONG method_ = 0;
    std::atomic<bool> oneShot_{false};
    std::atomic<bool> shotTaken_{false};
};

GrabberInput::GrabberInput(SampleGrabber* owner)
    : Pin(owner, L"Input", PINDIR_INPUT), grabber_(owner) {}

bool GrabberInput::Accepts(const MediaType& type) { return grabber_->Fits(type); }

class RendererInput final : public Pin {
public:
    explicit RendererInput(Filter* owner) : Pin(owner, L"In", PINDIR_INPUT) {}
    bool Accepts(const MediaType& type) override { return !IsEqualGUID(type.Major(), GUID_NULL); }
};

class NullRenderer final : public Filter {
public:
    NullRenderer() { AddPin(std::make_unique<RendererInput>(this)); }
    VornWorld::FilterKind Kind() const override { return VornWorld::FilterKind::NullRenderer; }
    std::wstring DefaultName() const override { return L"Null Renderer"; }

protected:
    CLSID ClassId() const override { return kNullRenderer; }
};

}  // namespace

HRESULT CreateSampleGrabber(REFIID iid, void** out) {
    return CreateObject<SampleGrabber>(iid, out);
}

HRESULT CreateNullRenderer(REFIID iid, void** out) { return CreateObject<NullRenderer>(iid, out); }

}  // namespace VornCom
