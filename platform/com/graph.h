// SPDX-License-Identifier: MIT
// The filter graph manager: holds the filters, connects pins (inserting a colour
// converter when an output cannot feed an input directly), runs, pauses and stops the
// streaming, reports completion, and keeps its record in the virtual world.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "com/filter.h"
#include "world/media.h"

namespace VornCom {

class FilterGraph final : public Unknown,
                          public IGraphBuilder,
                          public IMediaControl,
                          public IMediaEventEx,
                          public IVideoWindow,
                          public IBasicVideo,
                          public IBasicAudio {
public:
    FilterGraph();
    VORN_IUNKNOWN
    VORN_NO_DISPATCH
    void* Find(REFIID iid) override;

    // IFilterGraph, IGraphBuilder
    HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter* pFilter, LPCWSTR pName) override;
    HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter* pFilter) override;
    HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters** ppEnum) override;
    HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) override;
    HRESULT STDMETHODCALLTYPE ConnectDirect(IPin* ppinOut, IPin* ppinIn,
                                            const AM_MEDIA_TYPE* pmt) override;
    HRESULT STDMETHODCALLTYPE Reconnect(IPin* ppin) override;
    HRESULT STDMETHODCALLTYPE Disconnect(IPin* ppin) override;
    HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() override;
    HRESULT STDMETHODCALLTYPE Connect(IPin* ppinOut, IPin* ppinIn) override;
    HRESULT STDMETHODCALLTYPE Render(IPin* ppinOut) override;
    HRESULT STDMETHODCALLTYPE RenderFile(LPCWSTR lpcwstrFile, LPCWSTR lpcwstrPlayList) override;
    HRESULT STDMETHODCALLTYPE AddSourceFilter(LPCWSTR lpcwstrFileName, LPCWSTR lpcwstrFilterName,
                                              IBaseFilter** ppFilter) override;
    HRESULT STDMETHODCALLTYPE SetLogFile(DWORD_PTR hFile) override;
    HRESULT STDMETHODCALLTYPE Abort() override;
    HRESULT STDMETHODCALLTYPE ShouldOperationContinue() override;

    // IMediaControl
    HRESULT STDMETHODCALLTYPE Run() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE GetState(LONG msTimeout, OAFilterState* pfs) override;
    HRESULT STDMETHODCALLTYPE RenderFile(BSTR strFilename) override;
    HRESULT STDMETHODCALLTYPE AddSourceFilter(BSTR strFilename, IDispatch** ppUnk) override;
    HRESULT STDMETHODCALLTYPE get_FilterCollection(IDispatch** ppUnk) override;
    HRESULT STDMETHODCALLTYPE get_RegFilterCollection(IDispatch** ppUnk) override;
    HRESULT STDMETHODCALLTYPE StopWhenReady() override;

    // IMediaEvent, IMediaEventEx
    HRESULT STDMETHODCALLTYPE GetEventHandle(OAEVENT* hEvent) override;
    HRESULT STDMETHODCALLTYPE GetEvent(LONG* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2,
                                       LONG msTimeout) override;
    HRESULT STDMETHODCALLTYPE WaitForCompletion(LONG msTimeout, LONG* pEvCode) override;
    HRESULT STDMETHODCALLTYPE CancelDefaultHandling(LONG lEvCode) override;
    HRESULT STDMETHODCALLTYPE RestoreDefaultHandling(LONG lEvCode) override;
    HRESULT STDMETHODCALLTYPE FreeEventParams(LONG lEvCode, LONG_PTR lParam1,
                                              LONG_PTR lParam2) override;
    HRESULT STDMETHODCALLTYPE SetNotifyWindow(OAHWND hwnd, LONG lMsg,
                                              LONG_PTR lInstanceData) override;
    HRESULT STDMETHODCALLTYPE SetNotifyFlags(LONG lNoNotifyFlags) override;
    HRESULT STDMETHODCALLTYPE GetNotifyFlags(LONG* lplNoNotifyFlags) override;

    // IBasicAudio: the graph has no audio renderer to adjust.
    HRESULT STDMETHODCALLTYPE put_Volume(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Volume(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Balance(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Balance(LONG*) override { return E_NOTIMPL; }

    // IVideoWindow: the graph has no video renderer, so every call answers E_NOINTERFACE;
    // visibility and owner requests are recorded all the same.
    HRESULT STDMETHODCALLTYPE put_Visible(LONG Visible) override;
    HRESULT STDMETHODCALLTYPE get_Visible(LONG* pVisible) override;
    HRESULT STDMETHODCALLTYPE put_Owner(OAHWND Owner) override;
    HRESULT STDMETHODCALLTYPE get_Owner(OAHWND* Owner) override;

    // Platform use, without fault checks.
    // Adds a filter under `name`, made unique; VFW_S_DUPLICATE_NAME when renamed.
    HRESULT AddFilterInternal(Filter* filter, std::wstring name);
    // Connects two pins of this graph directly.
    HRESULT ConnectPins(Pin* out, Pin* in, const AM_MEDIA_TYPE* partial);
    // Streaming thread: a filter that ends streams had its end of stream.
    void SinkDone(Filter* filter);
    // The topology changed: the record is renewed.
    void Changed();

private:
    ~FilterGraph() override;
    struct Entry {
        Ref<IBaseFilter> reference;
        Filter* filter;
    };
    Entry* FindEntry(const Filter* filter);
    bool NameTaken(const std::wstring& name) const;
    HRESULT CheckPins(Pin* out, Pin* in) const;
    HRESULT ConnectLocked(Pin* out, Pin* in);
    void ChangeAll(FILTER_STATE to);
    void Arm();
    void Publish();
    bool OwnThread() const;

    std::mutex control_;  // topology and state changes
    std::vector<Entry> filters_;
    std::atomic<FILTER_STATE> state_{State_Stopped};
    std::vector<FILTER_STATE> stateChanges_;

    std::mutex events_;  // completion and the event queue
    std::condition_variable eventSignal_;
    std::set<Filter*> pendingEnds_;
    bool armed_ = false;
    bool complete_ = false;
    std::deque<LONG> queue_;
    LONG notifyFlags_ = 0;

    LONG visible_ = OATRUE;
    OAHWND owner_ = 0;
    unsigned long windowCalls_ = 0;
    std::shared_ptr<VornWorld::GraphSlot> slot_;
    bool alive_ = true;

public:
    // The rest of IVideoWindow and IBasicVideo: no video renderer to answer them.
    HRESULT STDMETHODCALLTYPE put_Caption(BSTR) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE get_Caption(BSTR*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE put_WindowStyle(LONG) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE get_WindowStyle(LONG*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE put_WindowStyleEx(LONG) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE get_WindowStyleEx(LONG*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE put_AutoShow(LONG) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE get_AutoShow(LONG*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE put_WindowState(LONG) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE get_WindowState(LONG*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE put_BackgroundPalette(LONG) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE get_BackgroundPalette(LONG*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE put_Left(LONG) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE get_Left(LONG*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE put_Width(LONG) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE get_Width(LONG*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE put_Top(LONG) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE get_Top(LONG*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE put_Height(LONG) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE get_Height(LONG*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE put_MessageDrain(OAHWND) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE get_MessageDrain(OAHWND*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE get_BorderColor(LONG*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE put_BorderColor(LONG) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE get_FullScreenMode(LONG*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE put_FullScreenMode(LONG) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE SetWindowForeground(LONG) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE NotifyOwnerMessage(OAHWND, LONG, LONG_PTR, LONG_PTR) override {
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE SetWindowPosition(LONG, LONG, LONG, LONG) override {
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE GetWindowPosition(LONG*, LONG*, LONG*, LONG*) override {
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE GetMinIdealImageSize(LONG*, LONG*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE GetMaxIdealImageSize(LONG*, LONG*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE GetRestorePosition(LONG*, LONG*, LONG*, LONG*) override {
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE HideCursor(LONG) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE IsCursorHidden(LONG*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE get_AvgTimePerFrame(REFTIME*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE get_BitRate(LONG*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE get_BitErrorRate(LONG*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE get_VideoWidth(LONG*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE get_VideoHeight(LONG*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE put_SourceLeft(LONG) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE get_SourceLeft(LONG*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE put_SourceWidth(LONG) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE get_SourceWidth(LONG*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE put_SourceTop(LONG) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE get_SourceTop(LONG*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE put_SourceHeight(LONG) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE get_SourceHeight(LONG*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE put_DestinationLeft(LONG) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE get_DestinationLeft(LONG*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE put_DestinationWidth(LONG) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE get_DestinationWidth(LONG*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE put_DestinationTop(LONG) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE get_DestinationTop(LONG*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE put_DestinationHeight(LONG) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE get_DestinationHeight(LONG*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE SetSourcePosition(LONG, LONG, LONG, LONG) override {
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE GetSourcePosition(LONG*, LONG*, LONG*, LONG*) override {
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE SetDefaultSourcePosition() override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE SetDestinationPosition(LONG, LONG, LONG, LONG) override {
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE GetDestinationPosition(LONG*, LONG*, LONG*, LONG*) override {
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE SetDefaultDestinationPosition() override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE GetVideoSize(LONG*, LONG*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE GetVideoPaletteEntries(LONG, LONG, LONG*, LONG*) override {
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentImage(LONG*, LONG*) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE IsUsingDefaultSource() override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE IsUsingDefaultDestination() override { return E_NOINTERFACE; }
};

// Marks the calling thread as a streaming thread of `graph` (null: none), so the graph
// refuses state changes from it instead of waiting for itself.
void SetStreamingGraph(const FilterGraph* graph);

}  // namespace VornCom
