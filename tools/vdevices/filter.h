// SPDX-License-Identifier: MIT
// The capture source filter of a virtual camera or microphone: one output pin of the capture
// category that offers the device's capabilities, negotiates an allocator with the pin it is
// connected to, and, while the graph runs, delivers time-stamped samples of the test picture
// or the tone from a streaming thread at the negotiated rate.
#pragma once

#include <windows.h>

#include <dshow.h>

#include <cstdint>

#include "devices.h"
#include "pinbase.h"

namespace VornDevices {

class SourceFilter;

// The output pin, of the capture category. Its state is guarded by the filter's lock, except
// what the streaming thread reads, which is fixed while the thread runs.
class OutputPin final : public OutputPinBase,
                        public IKsPropertySet,
                        public IAMStreamConfig,
                        public IAMBufferNegotiation {
public:
    OutputPin(SourceFilter& filter, Medium medium);
    ~OutputPin() override;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return OutputPinBase::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return OutputPinBase::Release(); }
    // IPin
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* type) override;
    // IKsPropertySet
    STDMETHODIMP Set(REFGUID set, DWORD id, LPVOID instance, DWORD instanceLength, LPVOID data,
                     DWORD dataLength) override;
    STDMETHODIMP Get(REFGUID set, DWORD id, LPVOID instance, DWORD instanceLength, LPVOID data,
                     DWORD dataLength, DWORD* returned) override;
    STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override;
    // IAMStreamConfig
    STDMETHODIMP SetFormat(AM_MEDIA_TYPE* type) override;
    STDMETHODIMP GetFormat(AM_MEDIA_TYPE** type) override;
    STDMETHODIMP GetNumberOfCapabilities(int* count, int* size) override;
    STDMETHODIMP GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) override;
    // IAMBufferNegotiation (audio pins only)
    STDMETHODIMP SuggestAllocatorProperties(const ALLOCATOR_PROPERTIES* properties) override;
    STDMETHODIMP GetAllocatorProperties(ALLOCATOR_PROPERTIES* properties) override;

    // State changes, called by the filter under its lock.
    void Start(REFERENCE_TIME start, IReferenceClock* clock);  // -> running
    void Halt();                                               // running -> paused
    void Deactivate();                                         // -> stopped
    void SetToneFrequency(double frequency) { toneFrequency_ = frequency; }

private:
    // The format set, else every capability.
    std::vector<MediaType> Offered() const override;
    // A fully specified type as the device takes it, else the offered types, then the
    // receiver's types that the device takes (of the format's subtype, once one is set).
    HRESULT ConnectTo(IPin* receiver, const AM_MEDIA_TYPE* partial) override;
    ALLOCATOR_PROPERTIES AllocatorWanted(const AM_MEDIA_TYPE& type) const override;
    REFERENCE_TIME Now() const;
    void Join();  // ends the streaming thread and waits for it
    static DWORD WINAPI StreamThread(void* self);
    void Stream();

    const Medium medium_;
    MediaType format_;  // set through SetFormat; empty: the first capability
    ALLOCATOR_PROPERTIES suggested_ = {-1, -1, -1, -1};
    double toneFrequency_ = VornSignal::kToneFrequency;

    // The streaming thread and what it reads.
    HANDLE thread_ = nullptr;
    HANDLE stopEvent_ = nullptr;
    StreamPlan plan_;
    IReferenceClock* clock_ = nullptr;
    REFERENCE_TIME streamStart_ = 0;  // the clock time of stream time 0
    uint64_t position_ = 0;           // frames or sample frames delivered by this pin
};

class SourceFilter final : public FilterBase,
                           public IPersistPropertyBag,
                           public IAMFilterMiscFlags {
public:
    explicit SourceFilter(Medium medium);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return FilterBase::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return FilterBase::Release(); }
    // IPersist
    STDMETHODIMP GetClassID(CLSID* id) override;
    // IMediaFilter
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME start) override;
    // IBaseFilter
    STDMETHODIMP EnumPins(IEnumPins** pins) override;
    STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
    STDMETHODIMP QueryVendorInfo(LPWSTR* info) override;
    // IPersistPropertyBag
    STDMETHODIMP InitNew() override;
    STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) override;
    STDMETHODIMP Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;
    // IAMFilterMiscFlags
    STDMETHODIMP_(ULONG) GetMiscFlags() override;

    IPin* Pin() { return &pin_; }

private:
    ~SourceFilter() override;
    // A live source has nothing to show while paused.
    HRESULT PausedState() const override { return VFW_S_CANT_CUE; }

    const Medium medium_;
    const DeviceEntry* device_;
    OutputPin pin_;  // last: it refers to the filter
};

}  // namespace VornDevices
