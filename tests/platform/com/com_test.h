// Helpers of the media-graph service tests: an owning interface pointer, a fixture that
// starts every test from the default world and checks that it leaks no object or thread,
// and short-hands for building capture graphs.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "vorn/control/faults.h"
#include "vorn/control/media.h"
#include "vornplatform.h"

namespace comtest {

template <class T>
class Ptr {
public:
    Ptr() = default;
    Ptr(const Ptr&) = delete;
    Ptr& operator=(const Ptr&) = delete;
    ~Ptr() { Reset(); }
    T* operator->() const { return p_; }
    T* get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T** Out() {
        Reset();
        return &p_;
    }
    void** Void() { return reinterpret_cast<void**>(Out()); }
    void Reset() {
        if (p_ != nullptr) p_->Release();
        p_ = nullptr;
    }

private:
    T* p_ = nullptr;
};

// Sample grabber and null renderer, known by value.
const CLSID kSampleGrabber = {
    0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
const CLSID kNullRenderer = {
    0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

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

// The capture filter of device `index` of a category, or null.
IBaseFilter* BindDevice(const CLSID& category, ULONG index);

// The first pin of a filter with that direction (with a reference), or null.
IPin* FirstPin(IBaseFilter* filter, PIN_DIRECTION direction);

// Frees a media type record from the platform.
void DeleteType(AM_MEDIA_TYPE* type);

// A zero-filled partial type.
AM_MEDIA_TYPE PartialType(const GUID& major, const GUID& subtype, const GUID& format);

// Counts buffer callbacks and keeps what the last one saw.
class CountingCallback : public ISampleGrabberCB {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample*) override;
    HRESULT STDMETHODCALLTYPE BufferCB(double time, BYTE* buffer, LONG length) override;

    std::atomic<int> calls{0};
    std::atomic<int> sampleCalls{0};
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

}  // namespace comtest
