// SPDX-License-Identifier: MIT
// The system device enumerator: whatever devices a machine has (the video category may be
// empty), each listed device has a friendly name and binds to a capture filter whose first
// output pin describes its formats with records of the published sizes.
#include "com_parity.h"

namespace comparity {
namespace {

class DeviceParity : public ComTest,
                     public ::testing::WithParamInterface<std::pair<const CLSID*, int>> {};

TEST_P(DeviceParity, EachListedDeviceNamesItselfAndBinds) {
    const CLSID& category = *GetParam().first;
    Ref<ICreateDevEnum> devices;
    ASSERT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICreateDevEnum, devices.Void()),
              S_OK);
    Ref<IEnumMoniker> monikers;
    HRESULT listed = devices->CreateClassEnumerator(category, monikers.Out(), 0);
    ASSERT_TRUE(listed == S_OK || listed == S_FALSE);
    if (listed == S_FALSE) {
        EXPECT_FALSE(monikers);
        return;
    }
    ASSERT_EQ(monikers->Reset(), S_OK);
    IMoniker* moniker = nullptr;
    int count = 0;
    while (monikers->Next(1, &moniker, nullptr) == S_OK) {
        ++count;
        Ref<IPropertyBag> bag;
        ASSERT_EQ(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.Void()), S_OK);
        VARIANT name;
        VariantInit(&name);
        ASSERT_EQ(bag->Read(L"FriendlyName", &name, nullptr), S_OK);
        EXPECT_EQ(name.vt, VT_BSTR);
        EXPECT_GT(SysStringLen(name.bstrVal), 0u);
        VariantClear(&name);
        Ref<IBaseFilter> filter;
        ASSERT_EQ(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.Void()), S_OK);
        moniker->Release();
        Ref<IEnumPins> pins;
        ASSERT_EQ(filter->EnumPins(pins.Out()), S_OK);
        IPin* pin = nullptr;
        ASSERT_EQ(pins->Next(1, &pin, nullptr), S_OK);
        PIN_DIRECTION direction;
        EXPECT_EQ(pin->QueryDirection(&direction), S_OK);
        EXPECT_EQ(direction, PINDIR_OUTPUT);
        Ref<IAMStreamConfig> config;
        if (pin->QueryInterface(IID_IAMStreamConfig, config.Void()) == S_OK) {
            int capabilities = 0, size = 0;
            if (config->GetNumberOfCapabilities(&capabilities, &size) == S_OK && capabilities > 0) {
                EXPECT_EQ(size, GetParam().second);
            }
        }
        pin->Release();
    }
    EXPECT_GT(count, 0);
}

const std::pair<const CLSID*, int> kCategories[] = {
    {&CLSID_VideoInputDeviceCategory, static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS))},
    {&CLSID_AudioInputDeviceCategory, static_cast<int>(sizeof(AUDIO_STREAM_CONFIG_CAPS))}};
INSTANTIATE_TEST_SUITE_P(Categories, DeviceParity, ::testing::ValuesIn(kCategories));

// A camera asked for a YUV format still reaches an RGB24 grabber through the graph's
// intelligent connect, which puts a converter between them, and a one-shot grab then yields
// one RGB24 frame of the asked size. (Wine's own graph has no such converter; the registered
// virtual devices bring one.)
TEST_F(ComTest, YuvCameraReachesAnRgbGrabberThroughAConverter) {
    Ref<IBaseFilter> camera, grabberFilter, renderer;
    *camera.Out() = comtest::BindDevice(CLSID_VideoInputDeviceCategory, 0);
    if (!camera) GTEST_SKIP() << "no camera listed";
    Ref<IGraphBuilder> graph;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               graph.Void()),
              S_OK);
    ASSERT_EQ(CoCreateInstance(kSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               grabberFilter.Void()),
              S_OK);
    ASSERT_EQ(CoCreateInstance(kNullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               renderer.Void()),
              S_OK);
    Ref<ISampleGrabber> grabber;
    ASSERT_EQ(grabberFilter->QueryInterface(IID_ISampleGrabber, grabber.Void()), S_OK);
    AM_MEDIA_TYPE rgb = {};
    rgb.majortype = MEDIATYPE_Video;
    rgb.subtype = MEDIASUBTYPE_RGB24;
    rgb.formattype = FORMAT_VideoInfo;
    ASSERT_EQ(grabber->SetMediaType(&rgb), S_OK);
    ASSERT_EQ(graph->AddFilter(camera.get(), L"Camera"), S_OK);
    ASSERT_EQ(graph->AddFilter(grabberFilter.get(), L"Grabber"), S_OK);
    ASSERT_EQ(graph->AddFilter(renderer.get(), L"Renderer"), S_OK);
    Ref<IPin> output, grabberIn, grabberOut, rendererIn;
    *output.Out() = comtest::FirstPin(camera.get(), PINDIR_OUTPUT);
    *grabberIn.Out() = comtest::FirstPin(grabberFilter.get(), PINDIR_INPUT);
    *grabberOut.Out() = comtest::FirstPin(grabberFilter.get(), PINDIR_OUTPUT);
    *rendererIn.Out() = comtest::FirstPin(renderer.get(), PINDIR_INPUT);
    ASSERT_TRUE(output && grabberIn && grabberOut && rendererIn);

    // The first YUV capability (I420 or YUY2) becomes the pin's format.
    Ref<IAMStreamConfig> config;
    ASSERT_EQ(output->QueryInterface(IID_IAMStreamConfig, config.Void()), S_OK);
    int count = 0, size = 0;
    ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    LONG width = 0, height = 0;
    for (int i = 0; i < count && width == 0; ++i) {
        AM_MEDIA_TYPE* type = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps;
        if (config->GetStreamCaps(i, &type, reinterpret_cast<BYTE*>(&caps)) != S_OK) continue;
        const DWORD fourcc = type->subtype.Data1;
        if ((fourcc == MAKEFOURCC('I', '4', '2', '0') ||
             fourcc == MAKEFOURCC('Y', 'U', 'Y', '2')) &&
            type->formattype == FORMAT_VideoInfo && config->SetFormat(type) == S_OK) {
            const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
            width = info->bmiHeader.biWidth;
            height = info->bmiHeader.biHeight;
        }
        comtest::DeleteType(type);
    }
    if (width == 0) GTEST_SKIP() << "the camera offers no YUV format";

    ASSERT_EQ(graph->Connect(output.get(), grabberIn.get()), S_OK);
    ASSERT_EQ(graph->Connect(grabberOut.get(), rendererIn.get()), S_OK);
    AM_MEDIA_TYPE connected = {};
    ASSERT_EQ(grabber->GetConnectedMediaType(&connected), S_OK);
    EXPECT_EQ(connected.subtype, MEDIASUBTYPE_RGB24);
    CoTaskMemFree(connected.pbFormat);
    if (connected.pUnk != nullptr) connected.pUnk->Release();

    ASSERT_EQ(grabber->SetBufferSamples(TRUE), S_OK);
    ASSERT_EQ(grabber->SetOneShot(TRUE), S_OK);
    Ref<IMediaControl> control;
    Ref<IMediaEvent> events;
    ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, control.Void()), S_OK);
    ASSERT_EQ(graph->QueryInterface(IID_IMediaEvent, events.Void()), S_OK);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    LONG event = 0;
    EXPECT_EQ(events->WaitForCompletion(5000, &event), S_OK);
    LONG bytes = 0;
    EXPECT_EQ(grabber->GetCurrentBuffer(&bytes, nullptr), S_OK);
    EXPECT_EQ(((width * 3 + 3) & ~3) * height, bytes);
    EXPECT_EQ(control->Stop(), S_OK);
}

}  // namespace
}  // namespace comparity
