// SPDX-License-Identifier: MIT
// The pin parts every filter of the DLL shares. PinBase is what any pin is: its references are
// the filter's, and it keeps its direction, its id, the peer and the connected type, all
// guarded by the filter's lock. OutputPinBase adds what a pin that sends samples does: the
// connection step (the receiver takes the type, then the two agree an allocator), the
// allocator's commit with the filter's state, the stamping and sending of a filled buffer,
// and the answers an output pin gives to calls that only an input pin takes.
#pragma once

#include <windows.h>

#include <dshow.h>

#include <cstddef>
#include <vector>

#include "comsupport.h"
#include "formats.h"

namespace VornDevices {

// Drops the reference `pointer` holds, if any, and empties it.
template <class T>
void ReleaseInto(T*& pointer) {
    if (pointer != nullptr) pointer->Release();
    pointer = nullptr;
}

// Whether `type` fits the partial type a caller asked Connect for (any type when null).
bool Matches(const AM_MEDIA_TYPE& type, const AM_MEDIA_TYPE* partial);

class PinBase : public IPin {
public:
    PinBase(FilterBase& filter, PIN_DIRECTION direction, const wchar_t* id);
    PinBase(const PinBase&) = delete;
    PinBase& operator=(const PinBase&) = delete;
    virtual ~PinBase();

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
    bool Named(const wchar_t* id) const;

protected:
    // Called under the filter's lock when the pin disconnects, before the peer is released.
    virtual void Disconnected() {}
    // The types the pin offers now, called under the filter's lock.
    virtual std::vector<MediaType> Offered() const = 0;

    FilterBase& filter_;
    const PIN_DIRECTION direction_;
    const wchar_t* const id_;
    IPin* peer_ = nullptr;
    MediaType type_;
};

// The pin among `pins` whose id is `id`, held, or VFW_E_NOT_FOUND.
HRESULT FindPinAmong(const std::vector<PinBase*>& pins, LPCWSTR id, IPin** pin);

class OutputPinBase : public PinBase {
public:
    OutputPinBase(FilterBase& filter, const wchar_t* id);
    ~OutputPinBase() override;

    STDMETHODIMP Connect(IPin* receiver, const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    IMemAllocator* Allocator() const { return allocator_; }
    IMemInputPin* Input() const { return input_; }
    // Called by the filter under its lock: stopped -> paused, and -> stopped.
    void CommitAllocator();
    void DecommitAllocator();

    // Delivery, on the thread that sends. The data of a buffer from the allocator, or null
    // when it cannot hold `bytes`.
    static BYTE* DataOf(IMediaSample* sample, size_t bytes);
    // Stamps a filled buffer (`bytes` of data, the stream times when given, a sync point, a
    // break when `discontinuity`), sends it downstream and releases it. S_FALSE: the
    // receiver wants no more samples until the stream starts again.
    HRESULT Send(IMediaSample* sample, long bytes, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                 bool discontinuity);

protected:
    // Connects to `receiver`, stopped and unconnected, with a type that fits `partial` (any
    // type when null). By default: the offered types in turn.
    virtual HRESULT ConnectTo(IPin* receiver, const AM_MEDIA_TYPE* partial);
    // Tries the offered types that fit `partial`: S_OK when one connects, else the last
    // attempt's failure, or VFW_E_NO_ACCEPTABLE_TYPES when none fits.
    HRESULT TryOffered(IPin* receiver, const AM_MEDIA_TYPE* partial);
    // Offers `type` to `receiver` and agrees an allocator with its memory input; on failure
    // the receiver is disconnected again and this pin stays unconnected.
    HRESULT TryConnection(IPin* receiver, const AM_MEDIA_TYPE& type);
    // The allocator properties the pin asks for to send samples of `type`.
    virtual ALLOCATOR_PROPERTIES AllocatorWanted(const AM_MEDIA_TYPE& type) const = 0;
    void Disconnected() override;

    IMemInputPin* input_ = nullptr;
    IMemAllocator* allocator_ = nullptr;
};

}  // namespace VornDevices
