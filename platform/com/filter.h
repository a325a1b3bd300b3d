// SPDX-License-Identifier: MIT
// Filters and pins of the media graph. A filter owns its pins; a pin's references are its
// filter's. Samples travel synchronously on the streaming thread of the source: an output
// pin hands each one to the connected input pin's filter.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "com/object.h"
#include "shared/mediatype.h"
#include "vorn/control/media.h"

namespace VornCom {

using VornMedia::MediaType;

class Filter;
class FilterGraph;

// One media sample on its way downstream; the bytes belong to the sender.
struct Sample {
    BYTE* data;
    LONG length;
    REFERENCE_TIME start;
    REFERENCE_TIME stop;
};

class Pin : public IPin {
public:
    Pin(Filter* filter, std::wstring name, PIN_DIRECTION direction);
    virtual ~Pin() = default;
    Pin(const Pin&) = delete;
    Pin& operator=(const Pin&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* pConnector,
                                                const AM_MEDIA_TYPE* pmt) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pPin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* pInfo) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* pPinDir) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* Id) override;
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* pmt) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** apPin, ULONG* nPin) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop,
                                         double dRate) override;

    Filter* Owner() const { return filter_; }
    const std::wstring& Name() const { return name_; }
    PIN_DIRECTION Direction() const { return direction_; }
    Pin* Peer() const { return peer_.load(); }
    bool Connected() const { return Peer() != nullptr; }
    // The type of the connection; only meaningful while connected.
    const MediaType& ConnectionType() const { return type_; }

    // Whether the pin can carry this complete type now.
    virtual bool Accepts(const MediaType& type) = 0;
    // The types the pin proposes for a connection, best first.
    virtual std::vector<MediaType> Proposals() { return {}; }
    // The pin's interfaces beyond IPin.
    virtual void* FindExtra(REFIID) { return nullptr; }

    // Connects two pins with the first type both accept: `partial` (null GUIDs match
    // anything) restricts the candidates, a complete `partial` is tried first.
    static HRESULT Negotiate(Pin* out, Pin* in, const AM_MEDIA_TYPE* partial);
    // Cuts the connection on both sides.
    void Unlink();

    // Output pins, on the streaming thread: the connected filter's verdict (S_FALSE: send
    // no more), or S_FALSE when unconnected.
    HRESULT Deliver(const Sample& sample);
    void DeliverEndOfStream();

protected:
    // After a connection was made, on both pins.
    virtual void OnLinked() {}

private:
    Filter* filter_;
    std::wstring name_;
    PIN_DIRECTION direction_;
    std::atomic<Pin*> peer_{nullptr};
    MediaType type_;
};

// IUnknown of a pin class that adds interfaces of its own.
#define VORN_PIN_IUNKNOWN                                                       \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { \
        return Pin::QueryInterface(iid, out);                                   \
    }                                                                           \
    ULONG STDMETHODCALLTYPE AddRef() override { return Pin::AddRef(); }         \
    ULONG STDMETHODCALLTYPE Release() override { return Pin::Release(); }

class Filter : public Unknown, public IBaseFilter {
public:
    VORN_IUNKNOWN
    void* Find(REFIID iid) override;

    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* pClassID) override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME tStart) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* pClock) override;
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** pClock) override;
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** ppEnum) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR Id, IPin** ppPin) override;
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* pInfo) override;
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* pVendorInfo) override;

    virtual VornWorld::FilterKind Kind() const = 0;
    virtual VornWorld::DeviceId Device() const { return VornWorld::kNoDevice; }
    // The name the filter takes when added without one.
    virtual std::wstring DefaultName() const = 0;
    // Sources run their own streaming thread; they are stopped first and started last.
    virtual bool IsSource() const { return false; }
    // Whether the filter ends a stream when it has a connected input and no connected
    // output (the graph completes when every such filter has had its end of stream).
    virtual bool CanEndStream() const { return true; }
    bool EndsStream() const;
    // Why the filter cannot run now (S_OK: it can).
    virtual HRESULT CanRun() const { return S_OK; }

    const std::vector<std::unique_ptr<Pin>>& Pins() const { return pins_; }
    Pin* FirstPin(PIN_DIRECTION direction) const;
    FilterGraph* Graph() const { return graph_.load(); }
    const std::wstring& Name() const { return name_; }
    FILTER_STATE State() const { return state_.load(); }
    void Join(FilterGraph* graph, const std::wstring& name);
    void ChangeState(FILTER_STATE to);
    // The graph starts a finished stream again without stopping (the filter is paused): the
    // filter may end that stream anew.
    void Restart();

    // Streaming thread: a sample, or the end of the stream, arrived at `input`.
    virtual HRESULT Receive(Pin* input, const Sample& sample);
    virtual void EndOfStream(Pin* input);

protected:
    Filter() = default;
    ~Filter() override = default;
    void AddPin(std::unique_ptr<Pin> pin) { pins_.push_back(std::move(pin)); }
    // Interfaces of the filter beyond IBaseFilter.
    virtual void* FindExtra(REFIID) { return nullptr; }
    virtual void OnStateChange(FILTER_STATE from, FILTER_STATE to) {
        (void)from;
        (void)to;
    }
    virtual CLSID ClassId() const { return GUID_NULL; }
    // Paused, before a finished stream starts again (see Restart).
    virtual void OnRestart() {}

private:
    std::vector<std::unique_ptr<Pin>> pins_;
    std::atomic<FilterGraph*> graph_{nullptr};
    std::wstring name_;
    std::atomic<FILTER_STATE> state_{State_Stopped};
    std::atomic<bool> endReported_{false};
};

// IUnknown of a filter class that adds interfaces of its own.
#define VORN_FILTER_IUNKNOWN                                                    \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { \
        return Filter::QueryInterface(iid, out);                                \
    }                                                                           \
    ULONG STDMETHODCALLTYPE AddRef() override { return Filter::AddRef(); }      \
    ULONG STDMETHODCALLTYPE Release() override { return Filter::Release(); }

// The fault points of an enumerator's calls, "IEnumPins::Next" and so on.
struct EnumFaults {
    VornWorld::FaultPoint next, skip, reset;
};
#define VORN_ENUM_FAULTS(name)                                                           \
    ::VornCom::EnumFaults {                                                              \
        VORN_FAULT(name "::Next"), VORN_FAULT(name "::Skip"), VORN_FAULT(name "::Reset") \
    }

// The platform's object under the shared enumerator: counted, its QueryInterface and its calls
// fault-checked.
template <class IEnum>
class EnumObject : public Unknown, public IEnum {
public:
    using Setup = EnumFaults;
    explicit EnumObject(EnumFaults faults) : faults_(faults) {}
    VORN_IUNKNOWN
    void* Find(REFIID iid) override { return FindAmong<IEnum>(this, iid); }

protected:
    bool Refuses(VornMedia::EnumCall call) {
        return Fails(call == VornMedia::EnumCall::Next   ? faults_.next
                     : call == VornMedia::EnumCall::Skip ? faults_.skip
                                                         : faults_.reset);
    }
    EnumFaults CloneSetup() const { return faults_; }

private:
    EnumFaults faults_;
};

template <class IEnum, class Item, class Holder>
using ListEnum = VornMedia::ListEnum<EnumObject<IEnum>, IEnum, Item, Holder>;

using PinEnum = ListEnum<IEnumPins, IPin*, Ref<IPin>>;
using FilterEnum = ListEnum<IEnumFilters, IBaseFilter*, Ref<IBaseFilter>>;
using MonikerEnum = ListEnum<IEnumMoniker, IMoniker*, Ref<IMoniker>>;
using MediaTypeEnum = ListEnum<IEnumMediaTypes, AM_MEDIA_TYPE*, MediaType>;

}  // namespace VornCom
