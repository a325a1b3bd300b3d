// SPDX-License-Identifier: MIT
// A colour converter for the media graph: I420 or YUY2 video in, RGB24 out, one frame at a
// time on the thread that delivers the input. Registered with a low merit, so the graph's
// intelligent connect only takes it where the system has no converter of its own for these
// pairs (Wine's graph has none) and a camera's YUV output can still reach an RGB24 grabber.
#pragma once

#include <windows.h>

#include <dshow.h>

#include "pinbase.h"

namespace VornDevices {

class ConverterFilter;

class ConverterInput final : public PinBase, public IMemInputPin {
public:
    explicit ConverterInput(ConverterFilter& filter);

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return PinBase::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return PinBase::Release(); }
    STDMETHODIMP Connect(IPin* receiver, const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
    // IMemInputPin
    STDMETHODIMP GetAllocator(IMemAllocator** allocator) override;
    STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) override;
    STDMETHODIMP Receive(IMediaSample* sample) override;
    STDMETHODIMP ReceiveMultiple(IMediaSample** samples, long count, long* done) override;
    STDMETHODIMP ReceiveCanBlock() override;

private:
    std::vector<MediaType> Offered() const override;

    ConverterFilter& converter_;
};

// Offers the RGB24 type of the input's connection, once the input is connected.
class ConverterOutput final : public OutputPinBase {
public:
    explicit ConverterOutput(ConverterFilter& filter);

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* type) override;

private:
    std::vector<MediaType> Offered() const override;
    ALLOCATOR_PROPERTIES AllocatorWanted(const AM_MEDIA_TYPE& type) const override;

    ConverterFilter& converter_;
};

class ConverterFilter final : public FilterBase {
public:
    ConverterFilter();

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP GetClassID(CLSID* id) override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME start) override;
    STDMETHODIMP EnumPins(IEnumPins** pins) override;
    STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
    STDMETHODIMP QueryVendorInfo(LPWSTR* info) override;

    ConverterInput& In() { return input_; }
    ConverterOutput& Out() { return output_; }

private:
    ~ConverterFilter() override;

    ConverterInput input_;
    ConverterOutput output_;
};

}  // namespace VornDevices
