// SPDX-License-Identifier: MIT
// Helpers of the media-graph service tests: a fixture that starts every test from the default
// world and checks that it leaks no object or thread, and short-hands for building capture
// graphs (the interface pointer and device binding are in com_objects.h).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "com_objects.h"
#include "vorn/control/faults.h"
#include "vorn/control/media.h"
#include "vornplatform.h"

namespace comtest {

class MediaTest : public ::testing::Test {
protected:
    void SetUp() override {
        VornWorld::ResetMedia();
        VornWorld::ClearFaults();
        objects_ = VornWorld::LiveComObjects();
        memory_ = VornWorld::LiveTaskMemBlocks();
        strings_ = VornWorld::LiveBstrs();
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    }
    // After the derived test's members are gone: nothing of the test may be left.
    ~MediaTest() override {
        CoUninitialize();
        VornWorld::ClearFaults();
        EXPECT_EQ(VornWorld::LiveComObjects(), objects_) << "COM objects leaked";
        EXPECT_EQ(VornWorld::LiveStreamingThreads(), 0) << "streaming threads left";
        EXPECT_EQ(VornWorld::LiveTaskMemBlocks(), memory_) << "task memory leaked";
        EXPECT_EQ(VornWorld::LiveBstrs(), strings_) << "strings leaked";
    }

private:
    long objects_ = 0;
    long memory_ = 0;
    long strings_ = 0;
};

// A zero-filled partial type.
AM_MEDIA_TYPE PartialType(const GUID& major, const GUID& subtype, const GUID& format);

// Counts buffer callbacks and keeps what the last one saw.
class CountingCallback : public ISampleGrabberCB {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE BufferCB(double time, BYTE* buffer, LONG length) override;

    std::atomic<int> calls{0};
    std::mutex mutex;
    std::vector<double> times;
    std::vector<LONG> lengths;
    std::vector<BYTE> last;
};

// A running capture graph: device -> (converter) -> grabber, like a capture-builder
// device builds it; the grabber asks for `subtype` of `major`.
struct CaptureGraph {
    Ptr<IGraphBuilder> graph;
    Ptr<ICaptureGraphBuilder2> builder;
    Ptr<IMediaControl> control;
    Ptr<IMediaEvent> events;
    Ptr<IBaseFilter> device;
    Ptr<ISampleGrabber> grabber;
    Ptr<IBaseFilter> grabberFilter;
    Ptr<IBaseFilter> renderer;

    // Builds the graph; each step must succeed (checked with gtest).
    void Build(const CLSID& category, ULONG index, const GUID& major, const GUID& subtype);
    // Adds a null renderer behind the grabber.
    void AddRenderer();
};

// A capture graph of camera `index` that hands RGB24 to the grabber.
struct VideoGraph : CaptureGraph {
    explicit VideoGraph(ULONG index = 0) {
        Build(CLSID_VideoInputDeviceCategory, index, MEDIATYPE_Video, MEDIASUBTYPE_RGB24);
    }
};

// Makes a camera with this one capability the only camera.
inline VornWorld::DeviceId OnlyCamera(const VornWorld::VideoCapability& capability) {
    VornWorld::DeviceConfig camera = VornWorld::DefaultCamera();
    camera.video = {capability};
    VornWorld::RemoveAllDevices(VornWorld::MediaKind::Video);
    return VornWorld::AddDevice(camera);
}

}  // namespace comtest
