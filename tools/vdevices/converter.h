// A colour converter for the media graph: I420 or YUY2 video in, RGB24 out, one frame at a
// time on the thread that delivers the input. Registered with a low merit, so the graph's
// intelligent connect only takes it where the system has no converter of its own for these
// pairs (Wine's graph has none) and a camera's YUV output can still reach an RGB24 grabber.
#pragma once

#include <windows.h>

#include <dshow.h>

#include "filter.h"

namespace VornDevices {

class ConverterFilter;

// The parts both pins share: references are the filter's, the peer and the connected type.
class ConverterPin : public IPin {
public:
    ConverterPin(ConverterFilter& filter, PIN_DIRECTION direction, const wchar_t* id);
    ConverterPin(const ConverterPin&) = delete;
    ConverterPin& operator=(const ConverterPin&) = delete;
    virtual ~ConverterPin();

    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** pin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* type) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* direction) override;
    STDMETHODIMP QueryId(LPWSTR* id) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override;
    STDMETHODIMP QueryInternalConnections(IPin** pins, ULONG* count) override;

    IPin* Peer() const { return peer_; }
    const MediaType& Connection() const { return type_; }

protected:
    virtual void Disconnected() {}
    // The types the pin offers now.
    virtual std::vector<MediaType> Offered() const = 0;

    ConverterFilter& filter_;
    const PIN_DIRECTION direction_;
    const wchar_t* const id_;
    IPin* peer_ = nullptr;
    MediaType type_;
};

class ConverterInput final : public ConverterPin, public IMemInputPin {
public:
    explicit ConverterInput(ConverterFilter& filter);

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ConverterPin::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return ConverterPin::Release(); }
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
    std::vector<uint8_t> scratch_;
};

class ConverterOutput final : public ConverterPin {
public:
    explicit ConverterOutput(ConverterFilter& filter);

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP Connect(IPin* receiver, const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    IMemAllocator* Allocator() const { return allocator_; }
    IMemInputPin* Input() const { return input_; }

private:
    std::vector<MediaType> Offered() const override;
    void Disconnected() override;

    IMemInputPin* input_ = nullptr;
    IMemAllocator* allocator_ = nullptr;
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
