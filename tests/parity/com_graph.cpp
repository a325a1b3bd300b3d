// SPDX-License-Identifier: MIT
// Filter graphs, the capture graph builder, the sample grabber and the null renderer, as a
// device builds them, on Windows and on the platform layer alike.
#include <cstring>

#include "com_parity.h"

namespace comparity {
namespace {

class GraphParity : public ComTest {
protected:
    void SetUp() override {
        ComTest::SetUp();
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IGraphBuilder, graph_.Void()),
                  S_OK);
        ASSERT_EQ(CoCreateInstance(kSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   grabberFilter_.Void()),
                  S_OK);
        ASSERT_EQ(grabberFilter_->QueryInterface(IID_ISampleGrabber, grabber_.Void()), S_OK);
        ASSERT_EQ(CoCreateInstance(kNullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   renderer_.Void()),
                  S_OK);
    }
    void TearDown() override {
        renderer_.Reset();
        grabber_.Reset();
        grabberFilter_.Reset();
        graph_.Reset();
        ComTest::TearDown();
    }

    // The directions of a filter's pins in enumeration order.
    static std::vector<PIN_DIRECTION> Directions(IBaseFilter* filter) {
        std::vector<PIN_DIRECTION> directions;
        Ref<IEnumPins> pins;
        if (filter->EnumPins(pins.Out()) != S_OK) return directions;
        pins->Reset();
        IPin* pin = nullptr;
        while (pins->Next(1, &pin, nullptr) == S_OK) {
            PIN_DIRECTION direction;
            if (pin->QueryDirection(&direction) == S_OK) directions.push_back(direction);
            pin->Release();
        }
        return directions;
    }

    Ref<IGraphBuilder> graph_;
    Ref<IBaseFilter> grabberFilter_;
    Ref<ISampleGrabber> grabber_;
    Ref<IBaseFilter> renderer_;
};

TEST_F(GraphParity, GraphAnswersEveryInterfaceTheDevicesAskFor) {
    const IID* wanted[] = {&IID_IMediaControl, &IID_IMediaEvent, &IID_IMediaEventEx,
                           &IID_IVideoWindow,  &IID_IBasicVideo, &IID_IBasicAudio,
                           &IID_IFilterGraph};
    for (const IID* iid : wanted) {
        Ref<IUnknown> part;
        EXPECT_EQ(graph_->QueryInterface(*iid, part.Void()), S_OK) << GuidText(*iid).size();
    }
    Ref<IUnknown> one, two;
    Ref<IMediaControl> control;
    graph_->QueryInterface(IID_IMediaControl, control.Void());
    graph_->QueryInterface(IID_IUnknown, one.Void());
    control->QueryInterface(IID_IUnknown, two.Void());
    EXPECT_EQ(one.get(), two.get());
    OAFilterState state = -1;
    EXPECT_EQ(control->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
}

TEST_F(GraphParity, GrabberAndRendererPins) {
    EXPECT_EQ(Directions(grabberFilter_.get()),
              (std::vector<PIN_DIRECTION>{PINDIR_INPUT, PINDIR_OUTPUT}));
    EXPECT_EQ(Directions(renderer_.get()), std::vector<PIN_DIRECTION>{PINDIR_INPUT});
    Ref<IPin> output;
    *output.Out() = comtest::FirstPin(grabberFilter_.get(), PINDIR_OUTPUT);
    ASSERT_TRUE(output);
    PIN_INFO info;
    ASSERT_EQ(output->QueryPinInfo(&info), S_OK);
    EXPECT_EQ(info.dir, PINDIR_OUTPUT);
    EXPECT_EQ(info.pFilter, grabberFilter_.get());
    info.pFilter->Release();
    Ref<IPin> peer;
    EXPECT_EQ(output->ConnectedTo(peer.Out()), VFW_E_NOT_CONNECTED);
}

TEST_F(GraphParity, GrabberBeforeAnySample) {
    AM_MEDIA_TYPE wanted;
    std::memset(&wanted, 0, sizeof wanted);
    wanted.majortype = MEDIATYPE_Video;
    wanted.subtype = MEDIASUBTYPE_RGB24;
    wanted.formattype = FORMAT_VideoInfo;
    EXPECT_EQ(grabber_->SetMediaType(&wanted), S_OK);
    EXPECT_EQ(grabber_->SetOneShot(FALSE), S_OK);
    LONG size = 0;
    EXPECT_EQ(grabber_->GetCurrentBuffer(&size, nullptr), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(grabber_->SetBufferSamples(TRUE), S_OK);
    EXPECT_EQ(grabber_->GetCurrentBuffer(&size, nullptr), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(grabber_->GetCurrentBuffer(nullptr, nullptr), E_POINTER);
    AM_MEDIA_TYPE connected;
    std::memset(&connected, 0, sizeof connected);
    EXPECT_EQ(grabber_->GetConnectedMediaType(&connected), VFW_E_NOT_CONNECTED);
    ASSERT_EQ(graph_->AddFilter(grabberFilter_.get(), L"Grabber"), S_OK);
    ASSERT_EQ(graph_->AddFilter(renderer_.get(), L"NullRenderer"), S_OK);
    // The grabber's output has nothing to pass on while its input is unconnected.
    Ref<IPin> out, in;
    *out.Out() = comtest::FirstPin(grabberFilter_.get(), PINDIR_OUTPUT);
    *in.Out() = comtest::FirstPin(renderer_.get(), PINDIR_INPUT);
    EXPECT_TRUE(FAILED(graph_->Connect(out.get(), in.get())));
}

TEST_F(GraphParity, AnEmptyGraphRunsButNeverCompletes) {
    Ref<IMediaControl> control;
    Ref<IMediaEvent> events;
    ASSERT_EQ(graph_->QueryInterface(IID_IMediaControl, control.Void()), S_OK);
    ASSERT_EQ(graph_->QueryInterface(IID_IMediaEvent, events.Void()), S_OK);
    LONG code = 5;
    EXPECT_EQ(events->WaitForCompletion(0, &code), VFW_E_WRONG_STATE);
    ASSERT_EQ(control->Run(), S_OK);
    OAFilterState state = -1;
    EXPECT_EQ(control->GetState(100, &state), S_OK);
    EXPECT_EQ(state, State_Running);
    EXPECT_EQ(events->WaitForCompletion(0, &code), E_ABORT);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(control->Stop(), S_OK);
}

TEST_F(GraphParity, WithoutAVideoRendererTheWindowIsNotThere) {
    Ref<IVideoWindow> window;
    ASSERT_EQ(graph_->QueryInterface(IID_IVideoWindow, window.Void()), S_OK);
    EXPECT_EQ(window->put_Visible(OAFALSE), E_NOINTERFACE);
    EXPECT_EQ(window->put_Owner((OAHWND)0), E_NOINTERFACE);
}

TEST_F(GraphParity, NamesConnectionsAndTheBuilderGraph) {
    ASSERT_EQ(graph_->AddFilter(grabberFilter_.get(), L"Grabber"), S_OK);
    ASSERT_EQ(graph_->AddFilter(renderer_.get(), L"Grabber"), VFW_S_DUPLICATE_NAME);
    Ref<IPin> out, in;
    *out.Out() = comtest::FirstPin(grabberFilter_.get(), PINDIR_OUTPUT);
    *in.Out() = comtest::FirstPin(renderer_.get(), PINDIR_INPUT);
    EXPECT_EQ(graph_->ConnectDirect(out.get(), in.get(), nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
    EXPECT_EQ(graph_->Disconnect(in.get()), S_FALSE);
    Ref<ICaptureGraphBuilder2> builder;
    ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr,
                               CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                               IID_ICaptureGraphBuilder2, builder.Void()),
              S_OK);
    EXPECT_EQ(builder->SetFiltergraph(graph_.get()), S_OK);
    EXPECT_EQ(builder->SetFiltergraph(graph_.get()), E_UNEXPECTED);
    Ref<IGraphBuilder> back;
    EXPECT_EQ(builder->GetFiltergraph(back.Out()), S_OK);
    EXPECT_EQ(back.get(), graph_.get());
    Ref<IUnknown> found;
    EXPECT_EQ(builder->FindInterface(&LOOK_UPSTREAM_ONLY, nullptr, grabberFilter_.get(),
                                     IID_IAMCrossbar, found.Void()),
              E_FAIL);
    EXPECT_EQ(builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, grabberFilter_.get(),
                                     IID_IAMStreamConfig, found.Void()),
              E_NOINTERFACE);
    EXPECT_EQ(builder->FindInterface(nullptr, nullptr, grabberFilter_.get(), IID_ISampleGrabber,
                                     found.Void()),
              S_OK);
}

}  // namespace
}  // namespace comparity
