// SPDX-License-Identifier: MIT
// Building graphs: intelligent connect with a converter, direct connections, the capture
// graph builder's searches, the crossbar, faults, and the graph records.
#include "com_test.h"

namespace {

using comtest::CaptureGraph;
using comtest::Ptr;
using comtest::VideoGraph;
using VornWorld::FilterKind;

class GraphBuilding : public comtest::MediaTest {
protected:
    static VornWorld::GraphRecord LastGraph() {
        std::vector<VornWorld::GraphRecord> graphs = VornWorld::Graphs();
        return graphs.empty() ? VornWorld::GraphRecord{} : graphs.back();
    }

    // FindInterface of the graph's builder, with the result released.
    static HRESULT Find(CaptureGraph& g, const GUID* category, const GUID* major,
                        IBaseFilter* filter, REFIID iid) {
        Ptr<IUnknown> found;
        return g.builder->FindInterface(category, major, filter, iid, found.Void());
    }
};

TEST_F(GraphBuilding, ConnectInsertsAConverterToReachTheGrabbersType) {
    VornWorld::DeviceConfig camera = VornWorld::DefaultCamera();
    camera.video = {{MEDIASUBTYPE_I420, 640, 480}};
    VornWorld::RemoveAllDevices(VornWorld::MediaKind::Video);
    VornWorld::DeviceId id = VornWorld::AddDevice(camera);
    VideoGraph g;
    AM_MEDIA_TYPE connected;
    ASSERT_EQ(g.grabber->GetConnectedMediaType(&connected), S_OK);
    EXPECT_TRUE(IsEqualGUID(connected.subtype, MEDIASUBTYPE_RGB24));
    auto* header = reinterpret_cast<VIDEOINFOHEADER*>(connected.pbFormat);
    EXPECT_EQ(header->bmiHeader.biWidth, 640);
    EXPECT_EQ(header->bmiHeader.biBitCount, 24);
    CoTaskMemFree(connected.pbFormat);

    VornWorld::GraphRecord record = LastGraph();
    ASSERT_EQ(record.filters.size(), 3u);
    EXPECT_EQ(record.filters[0].kind, FilterKind::VideoCapture);
    EXPECT_EQ(record.filters[0].device, id);
    EXPECT_EQ(record.filters[2].kind, FilterKind::Converter);
    ASSERT_EQ(record.connections.size(), 2u);
    EXPECT_EQ(record.connections[0].fromFilter, L"Capture Filter");
    EXPECT_TRUE(IsEqualGUID(record.connections[0].subtype, MEDIASUBTYPE_I420));
    EXPECT_EQ(record.connections[1].toFilter, L"Grabber");
    EXPECT_TRUE(IsEqualGUID(record.connections[1].subtype, MEDIASUBTYPE_RGB24));
}

TEST_F(GraphBuilding, ConnectFailsWithoutAWayToTheType) {
    CaptureGraph g;
    g.Build(CLSID_AudioInputDeviceCategory, 0, MEDIATYPE_Audio, MEDIASUBTYPE_PCM);
    Ptr<IBaseFilter> camera;
    *camera.Out() = comtest::BindDevice(CLSID_VideoInputDeviceCategory, 0);
    ASSERT_EQ(g.graph->AddFilter(camera.get(), nullptr), S_OK);
    Ptr<IPin> out, in;
    *out.Out() = comtest::FirstPin(camera.get(), PINDIR_OUTPUT);
    Ptr<IAMStreamConfig> config;
    ASSERT_EQ(out->QueryInterface(IID_IAMStreamConfig, config.Void()), S_OK);
    AM_MEDIA_TYPE* chosen = nullptr;
    ASSERT_EQ(config->GetFormat(&chosen), S_OK);
    chosen->subtype = MEDIASUBTYPE_RGB24;
    EXPECT_EQ(config->SetFormat(chosen), S_OK);
    comtest::DeleteType(chosen);
    Ptr<ISampleGrabber> grabber;
    Ptr<IBaseFilter> grabberFilter;
    ASSERT_EQ(CoCreateInstance(comtest::kSampleGrabber, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ISampleGrabber, grabber.Void()),
              S_OK);
    grabber->QueryInterface(IID_IBaseFilter, grabberFilter.Void());
    AM_MEDIA_TYPE yuy2 = comtest::PartialType(MEDIATYPE_Video, MEDIASUBTYPE_YUY2, GUID_NULL);
    grabber->SetMediaType(&yuy2);
    EXPECT_EQ(g.graph->AddFilter(grabberFilter.get(), L"Grabber"), VFW_S_DUPLICATE_NAME);
    *in.Out() = comtest::FirstPin(grabberFilter.get(), PINDIR_INPUT);
    EXPECT_EQ(g.graph->Connect(out.get(), in.get()), VFW_E_CANNOT_CONNECT);
    EXPECT_EQ(g.graph->Connect(in.get(), out.get()), VFW_E_INVALID_DIRECTION);
    EXPECT_EQ(LastGraph().filters.size(), 4u);  // no converter left behind
    // A grabber whose input is not connected keeps the graph from running.
    EXPECT_EQ(g.control->Run(), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(VornWorld::LiveStreamingThreads(), 0);
}

TEST_F(GraphBuilding, CaptureGraphBuilderFindsPinInterfaces) {
    CaptureGraph g;
    g.Build(CLSID_AudioInputDeviceCategory, 0, MEDIATYPE_Audio, MEDIASUBTYPE_PCM);
    IBaseFilter* device = g.device.get();
    IBaseFilter* grabber = g.grabberFilter.get();
    const GUID* capture = &PIN_CATEGORY_CAPTURE;
    EXPECT_EQ(Find(g, capture, &MEDIATYPE_Audio, device, IID_IAMStreamConfig), S_OK);
    EXPECT_EQ(Find(g, capture, &MEDIATYPE_Audio, device, IID_IAMBufferNegotiation), S_OK);
    EXPECT_EQ(Find(g, capture, &MEDIATYPE_Video, device, IID_IAMStreamConfig), E_NOINTERFACE);
    EXPECT_EQ(Find(g, capture, nullptr, grabber, IID_IAMStreamConfig), E_NOINTERFACE);
    // Without a category: the filter, its pins, then the filters around it.
    EXPECT_EQ(Find(g, nullptr, nullptr, grabber, IID_IAMStreamConfig), S_OK);
    EXPECT_EQ(Find(g, &LOOK_DOWNSTREAM_ONLY, nullptr, grabber, IID_IAMStreamConfig), E_FAIL);
}

TEST_F(GraphBuilding, CrossbarIsPlacedUpstreamAndRoutes) {
    VornWorld::DeviceConfig tv = VornWorld::DefaultCamera();
    tv.friendlyName = L"Capture Card";
    tv.crossbar = true;
    tv.crossbarInputs = {PhysConn_Video_Tuner, PhysConn_Video_Composite, PhysConn_Audio_Line};
    tv.crossbarOutputs = {PhysConn_Video_VideoDecoder, PhysConn_Audio_AudioDecoder};
    VornWorld::DeviceId id = VornWorld::AddDevice(tv, 0);
    VideoGraph g;
    Ptr<IAMCrossbar> crossbar;
    ASSERT_EQ(g.builder->FindInterface(&LOOK_UPSTREAM_ONLY, nullptr, g.device.get(),
                                       IID_IAMCrossbar, crossbar.Void()),
              S_OK);
    VornWorld::GraphRecord record = LastGraph();
    ASSERT_EQ(record.filters.back().kind, FilterKind::Crossbar);
    EXPECT_EQ(record.connections.back().fromPin, L"0: Video Decoder Out");
    EXPECT_EQ(record.connections.back().toPin, L"Analog Video In");

    LONG outputs = 0, inputs = 0, related = 0, type = 0;
    ASSERT_EQ(crossbar->get_PinCounts(&outputs, &inputs), S_OK);
    EXPECT_EQ(outputs, 2);
    EXPECT_EQ(inputs, 3);
    ASSERT_EQ(crossbar->get_CrossbarPinInfo(TRUE, 1, &related, &type), S_OK);
    EXPECT_EQ(type, PhysConn_Video_Composite);
    EXPECT_EQ(crossbar->get_CrossbarPinInfo(FALSE, 2, &related, &type), E_INVALIDARG);
    EXPECT_EQ(crossbar->CanRoute(0, 1), S_OK);
    EXPECT_EQ(crossbar->CanRoute(0, 2), S_FALSE);  // video output, audio input
    EXPECT_EQ(crossbar->Route(0, 1), S_OK);
    EXPECT_TRUE(FAILED(crossbar->Route(1, 0)));
    LONG routed = -1;
    EXPECT_EQ(crossbar->get_IsRoutedTo(0, &routed), S_OK);
    EXPECT_EQ(routed, 1);
    std::vector<VornWorld::CrossbarRoute> routes = VornWorld::Activity(id).routes;
    ASSERT_EQ(routes.size(), 2u);
    EXPECT_EQ(routes[0].input, 1);
    EXPECT_TRUE(FAILED(routes[1].result));

    // A second search finds the crossbar already in place; a device without one has none.
    EXPECT_EQ(Find(g, &LOOK_UPSTREAM_ONLY, nullptr, g.device.get(), IID_IAMCrossbar), S_OK);
    EXPECT_EQ(LastGraph().filters.size(), record.filters.size());
    VideoGraph plain(1);
    EXPECT_EQ(Find(plain, &LOOK_UPSTREAM_ONLY, nullptr, plain.device.get(), IID_IAMCrossbar),
              E_FAIL);
}

// IMediaControl::Run and IFilterGraph::AddFilter fail through the devices in
// tests/virtual/test_push_devices.cpp and test_pull_devices.cpp.
TEST_F(GraphBuilding, NamedCallsFailOnRequest) {
    VideoGraph g;
    Ptr<IMediaControl> control;
    VornWorld::FailCall("QueryInterface:IMediaControl");
    EXPECT_EQ(g.graph->QueryInterface(IID_IMediaControl, control.Void()), E_NOINTERFACE);
    EXPECT_FALSE(control);
    EXPECT_EQ(g.graph->QueryInterface(IID_IMediaControl, control.Void()), S_OK);

    VornWorld::FailCall("ICaptureGraphBuilder2::FindInterface:IAMStreamConfig");
    EXPECT_EQ(Find(g, &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, g.device.get(), IID_IAMStreamConfig),
              E_FAIL);
}

// What the graph answers without a video renderer is a parity test (GraphParity).
TEST_F(GraphBuilding, RecordsOutliveTheGraph) {
    {
        VideoGraph g;
        ASSERT_EQ(g.control->Run(), S_OK);
        ASSERT_EQ(g.control->Pause(), S_OK);
        ASSERT_EQ(g.control->Stop(), S_OK);
        EXPECT_TRUE(LastGraph().alive);
    }
    VornWorld::GraphRecord record = LastGraph();
    EXPECT_FALSE(record.alive);
    EXPECT_EQ(record.stateChanges,
              (std::vector<FILTER_STATE>{State_Running, State_Paused, State_Stopped}));
    EXPECT_EQ(record.filters.size(), 2u);  // the camera offers RGB24: connected directly
    ASSERT_EQ(record.connections.size(), 1u);
    EXPECT_EQ(record.connections[0].width, 640);  // the first RGB24 capability
    VornWorld::ResetMedia();
    EXPECT_TRUE(VornWorld::Graphs().empty());
}

}  // namespace
