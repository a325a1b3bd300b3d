// SPDX-License-Identifier: MIT
#include "com_test.h"

namespace comtest {

AM_MEDIA_TYPE PartialType(const GUID& major, const GUID& subtype, const GUID& format) {
    AM_MEDIA_TYPE type{};
    type.majortype = major;
    type.subtype = subtype;
    type.formattype = format;
    return type;
}

HRESULT CountingCallback::QueryInterface(REFIID iid, void** out) {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISampleGrabberCB)) {
        *out = this;
        return S_OK;
    }
    return E_NOINTERFACE;
}

HRESULT CountingCallback::BufferCB(double time, BYTE* buffer, LONG length) {
    std::lock_guard<std::mutex> lock(mutex);
    times.push_back(time);
    lengths.push_back(length);
    last.assign(buffer, buffer + length);
    ++calls;
    return S_OK;
}

void CaptureGraph::Build(const CLSID& category, ULONG index, const GUID& major,
                         const GUID& subtype) {
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               graph.Void()),
              S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC,
                               IID_ICaptureGraphBuilder2, builder.Void()),
              S_OK);
    ASSERT_EQ(builder->SetFiltergraph(graph.get()), S_OK);
    ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, control.Void()), S_OK);
    ASSERT_EQ(graph->QueryInterface(IID_IMediaEvent, events.Void()), S_OK);
    *device.Out() = BindDevice(category, index);
    ASSERT_TRUE(device);
    ASSERT_EQ(graph->AddFilter(device.get(), L"Capture Filter"), S_OK);
    ASSERT_EQ(CoCreateInstance(kSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_ISampleGrabber,
                               grabber.Void()),
              S_OK);
    ASSERT_EQ(grabber->QueryInterface(IID_IBaseFilter, grabberFilter.Void()), S_OK);
    AM_MEDIA_TYPE wanted = PartialType(major, subtype, GUID_NULL);
    ASSERT_EQ(grabber->SetMediaType(&wanted), S_OK);
    ASSERT_EQ(graph->AddFilter(grabberFilter.get(), L"Grabber"), S_OK);
    Ptr<IPin> out, in;
    *out.Out() = FirstPin(device.get(), PINDIR_OUTPUT);
    *in.Out() = FirstPin(grabberFilter.get(), PINDIR_INPUT);
    ASSERT_EQ(graph->Connect(out.get(), in.get()), S_OK);
}

void CaptureGraph::AddRenderer() {
    ASSERT_EQ(CoCreateInstance(kNullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               renderer.Void()),
              S_OK);
    ASSERT_EQ(graph->AddFilter(renderer.get(), L"NullRenderer"), S_OK);
    Ptr<IPin> out, in;
    *out.Out() = FirstPin(grabberFilter.get(), PINDIR_OUTPUT);
    *in.Out() = FirstPin(renderer.get(), PINDIR_INPUT);
    ASSERT_EQ(graph->Connect(out.get(), in.get()), S_OK);
}

}  // namespace comtest
