// SPDX-License-Identifier: MIT
// The capture graph builder: finds interfaces on capture pins and on the filters upstream
// or downstream of a filter, placing a device's crossbar into the graph when asked to look
// upstream of its capture filter.
#include <set>

#include "com/classes.h"
#include "com/graph.h"

namespace VornCom {
namespace {

enum class Direction { Up, Down, Both };

class CaptureGraphBuilder final : public Unknown, public ICaptureGraphBuilder2 {
public:
    VORN_IUNKNOWN
    void* Find(REFIID iid) override { return FindAmong<ICaptureGraphBuilder2>(this, iid); }

    HRESULT STDMETHODCALLTYPE SetFiltergraph(IGraphBuilder* pfg) override {
        if (Fails(VORN_FAULT("ICaptureGraphBuilder2::SetFiltergraph"))) return E_FAIL;
        if (pfg == nullptr) return E_POINTER;
        if (graph_) return E_UNEXPECTED;
        graph_ = Ref<IGraphBuilder>(pfg);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetFiltergraph(IGraphBuilder** ppfg) override {
        if (ppfg == nullptr) return E_POINTER;
        *ppfg = graph_.get();
        if (!graph_) return E_UNEXPECTED;
        graph_->AddRef();
        return S_OK;
    }

    // Capture-pin categories search the output pins of that category (and major type):
    // E_NOINTERFACE when none has the interface. LOOK_UPSTREAM_ONLY, LOOK_DOWNSTREAM_ONLY
    // and no category search the filter, its pins and the filters connected in that
    // direction: E_FAIL when nothing has it.
    HRESULT STDMETHODCALLTYPE FindInterface(const GUID* pCategory, const GUID* pType,
                                            IBaseFilter* pf, REFIID riid, void** ppint) override {
        if (ppint != nullptr) *ppint = nullptr;
        const int named = InterfaceIndex(riid);
        bool failAll = Fails(VORN_FAULT("ICaptureGraphBuilder2::FindInterface"));
        bool failThis =
            named >= 0 && Fails({VornWorld::kFindInterfaceFirst + static_cast<unsigned>(named)});
        if (failAll || failThis) return E_FAIL;
        if (pf == nullptr || ppint == nullptr) return E_POINTER;
        auto* filter = dynamic_cast<Filter*>(pf);
        if (filter == nullptr) return E_NOINTERFACE;
        bool up = pCategory != nullptr && IsEqualGUID(*pCategory, LOOK_UPSTREAM_ONLY);
        bool down = pCategory != nullptr && IsEqualGUID(*pCategory, LOOK_DOWNSTREAM_ONLY);
        if (pCategory != nullptr && !up && !down)
            return FindOnPin(*pCategory, pType, filter, riid, ppint);
        Direction direction = up ? Direction::Up : down ? Direction::Down : Direction::Both;
        if (direction != Direction::Down) PlaceCrossbar(filter);
        std::set<Filter*> seen;
        return Search(filter, direction, riid, ppint, seen) ? S_OK : E_FAIL;
    }

    HRESULT STDMETHODCALLTYPE FindPin(IUnknown* pSource, PIN_DIRECTION pindir,
                                      const GUID* pCategory, const GUID* pType, BOOL fUnconnected,
                                      int num, IPin** ppPin) override {
        if (ppPin == nullptr) return E_POINTER;
        *ppPin = nullptr;
        auto* filter = dynamic_cast<Filter*>(pSource);
        if (filter == nullptr) return E_INVALIDARG;
        for (const auto& pin : filter->Pins()) {
            if (pin->Direction() != pindir || (fUnconnected && pin->Connected())) continue;
            if (pCategory != nullptr && !IsCapturePin(*pin, *pCategory, pType)) continue;
            if (num-- > 0) continue;
            pin->AddRef();
            *ppPin = pin.get();
            return S_OK;
        }
        return E_FAIL;
    }

    HRESULT STDMETHODCALLTYPE SetOutputFileName(const GUID*, LPCOLESTR, IBaseFilter** ppf,
                                                IFileSinkFilter** ppSink) override {
        if (ppf != nullptr) *ppf = nullptr;
        if (ppSink != nullptr) *ppSink = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RenderStream(const GUID*, const GUID*, IUnknown*, IBaseFilter*,
                                           IBaseFilter*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ControlStream(const GUID*, const GUID*, IBaseFilter*, REFERENCE_TIME*,
                                            REFERENCE_TIME*, WORD, WORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AllocCapFile(LPCOLESTR, DWORDLONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyCaptureFile(LPOLESTR, LPOLESTR, int,
                                              IAMCopyCaptureFileProgress*) override {
        return E_NOTIMPL;
    }

private:
    // The capture pin is the capture category; its major type is that of its types.
    static bool IsCapturePin(Pin& pin, const GUID& category, const GUID* type) {
        Filter* owner = pin.Owner();
        if (!owner->IsSource() || pin.Direction() != PINDIR_OUTPUT ||
            !IsEqualGUID(category, PIN_CATEGORY_CAPTURE))
            return false;
        if (type == nullptr) return true;
        for (const MediaType& proposal : pin.Proposals())
            if (IsEqualGUID(proposal.Major(), *type)) return true;
        return false;
    }

    static HRESULT FindOnPin(const GUID& category, const GUID* type, Filter* filter, REFIID riid,
                             void** ppint) {
        for (const auto& pin : filter->Pins()) {
            if (!IsCapturePin(*pin, category, type)) continue;
            bool self = IsEqualIID(riid, IID_IPin) || IsEqualIID(riid, IID_IUnknown);
            void* found = self ? static_cast<IPin*>(pin.get()) : pin->FindExtra(riid);
            if (found == nullptr) return E_NOINTERFACE;
            static_cast<IUnknown*>(found)->AddRef();
            *ppint = found;
            return S_OK;
        }
        return E_NOINTERFACE;
    }

    // Puts the device's crossbar into the graph, feeding the capture filter's analog input.
    void PlaceCrossbar(Filter* capture) {
        Filter* crossbar = CrossbarOf(capture);
        auto* graph = dynamic_cast<FilterGraph*>(graph_.get());
        if (graph == nullptr) graph = capture->Graph();
        if (crossbar == nullptr || graph == nullptr || capture->Graph() != graph ||
            crossbar->Graph() != nullptr)
            return;
        graph->AddFilterInternal(crossbar, crossbar->DefaultName());
        Pin* feed = CrossbarFeed(crossbar);
        Pin* input = capture->FirstPin(PINDIR_INPUT);
        if (feed != nullptr && input != nullptr) graph->ConnectPins(feed, input, nullptr);
    }

    static bool Search(Filter* filter, Direction direction, REFIID riid, void** ppint,
                       std::set<Filter*>& seen) {
        if (!seen.insert(filter).second) return false;
        if (filter->QueryInternal(riid, ppint) == S_OK) return true;
        for (const auto& pin : filter->Pins()) {
            if (void* found = pin->FindExtra(riid)) {
                static_cast<IUnknown*>(found)->AddRef();
                *ppint = found;
                return true;
            }
        }
        for (const auto& pin : filter->Pins()) {
            bool upstream = pin->Direction() == PINDIR_INPUT;
            if (!pin->Connected() || (upstream && direction == Direction::Down) ||
                (!upstream && direction == Direction::Up))
                continue;
            if (Search(pin->Peer()->Owner(), direction, riid, ppint, seen)) return true;
        }
        if (direction != Direction::Down)
            if (Filter* crossbar = CrossbarOf(filter))
                return Search(crossbar, direction, riid, ppint, seen);
        return false;
    }

    Ref<IGraphBuilder> graph_;
};

}  // namespace

HRESULT CreateCaptureGraphBuilder(REFIID iid, void** out) {
    return CreateObject<CaptureGraphBuilder>(iid, out);
}

}  // namespace VornCom
