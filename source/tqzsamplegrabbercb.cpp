// SPDX-License-Identifier: MIT
#include "tqzsamplegrabbercb.h"

namespace TQZCapture {

TQZSampleGrabberCB::TQZSampleGrabberCB() = default;

TQZSampleGrabberCB::TQZSampleGrabberCB(const TQZSampleGrabberCB&) : ISampleGrabberCB() {}

TQZSampleGrabberCB& TQZSampleGrabberCB::operator=(const TQZSampleGrabberCB&) { return *this; }

TQZSampleGrabberCB::~TQZSampleGrabberCB() = default;

HRESULT STDMETHODCALLTYPE TQZSampleGrabberCB::QueryInterface(REFIID riid, void** object) {
    if (IsEqualIID(riid, IID_ISampleGrabberCB) || IsEqualIID(riid, IID_IUnknown)) {
        if (object == nullptr) return E_POINTER;
        *object = static_cast<ISampleGrabberCB*>(this);
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE TQZSampleGrabberCB::AddRef() { return 2; }

ULONG STDMETHODCALLTYPE TQZSampleGrabberCB::Release() { return 1; }

HRESULT STDMETHODCALLTYPE TQZSampleGrabberCB::SampleCB(double, IMediaSample*) { return S_OK; }

HRESULT STDMETHODCALLTYPE TQZSampleGrabberCB::BufferCB(double sampleTime, BYTE* data, LONG length) {
    if (data == nullptr || length <= 0) return E_POINTER;
    FrameHandler(sampleTime, data, length);
    return S_OK;
}

void TQZSampleGrabberCB::FrameHandler(double, unsigned char*, long) {}

}  // namespace TQZCapture
