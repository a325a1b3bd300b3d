// SPDX-License-Identifier: MIT
// The component runtime's own bookkeeping, which the parity suite cannot see: initialisation
// counted per thread, live objects, aggregation, and creation faults (every media test checks
// that strings and task memory come back, com_test.h).
// What the real runtime answers as well (identifiers, texts, unknown classes) is checked by the
// parity suite on both platforms.
#include <thread>

#include "com_test.h"

namespace {

using comtest::Ptr;

TEST(ComRuntime, InitialisationIsCountedPerThread) {
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    EXPECT_EQ(VornWorld::ComInitCount(), 2u);
    std::thread other([] {
        EXPECT_EQ(VornWorld::ComInitCount(), 0u);
        Ptr<IGraphBuilder> graph;
        EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IGraphBuilder, graph.Void()),
                  CO_E_NOTINITIALIZED);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();
    });
    other.join();
    CoUninitialize();
    CoUninitialize();
    CoUninitialize();  // one too many: ignored
    EXPECT_EQ(VornWorld::ComInitCount(), 0u);
}

TEST(ComRuntime, CreationChecksClassContextAndAggregation) {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    long before = VornWorld::LiveComObjects();
    void* object = nullptr;
    Ptr<IUnknown> outer;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               outer.Void()),
              S_OK);
    EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, outer.get(), CLSCTX_INPROC_SERVER, IID_IUnknown,
                               &object),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IGraphBuilder, &object),
              E_NOINTERFACE);
    EXPECT_EQ(VornWorld::LiveComObjects(), before + 1);
    outer.Reset();
    EXPECT_EQ(VornWorld::LiveComObjects(), before);
    CoUninitialize();
}

// One identity across interfaces is a parity test (GraphParity); here the shared count.
TEST(ComRuntime, InterfacesShareOneCountAndTheObjectFreesAtZero) {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    long before = VornWorld::LiveComObjects();
    IGraphBuilder* graph = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               reinterpret_cast<void**>(&graph)),
              S_OK);
    IMediaControl* control = nullptr;
    ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control)), S_OK);
    EXPECT_EQ(control->Release(), 1u);
    EXPECT_EQ(VornWorld::LiveComObjects(), before + 1);
    EXPECT_EQ(graph->Release(), 0u);
    EXPECT_EQ(VornWorld::LiveComObjects(), before);
    CoUninitialize();
}

TEST(ComRuntime, CreationFaultsByNameAndByClass) {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    VornWorld::ClearFaults();
    VornWorld::FailCall("CoCreateInstance:NullRenderer");
    Ptr<IBaseFilter> filter;
    EXPECT_EQ(CoCreateInstance(comtest::kNullRenderer, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IBaseFilter, filter.Void()),
              E_FAIL);
    EXPECT_FALSE(filter);
    EXPECT_EQ(CoCreateInstance(comtest::kNullRenderer, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IBaseFilter, filter.Void()),
              S_OK);
    VornWorld::FailCall("CoCreateInstance", 1);
    EXPECT_EQ(CoCreateInstance(comtest::kSampleGrabber, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IBaseFilter, filter.Void()),
              S_OK);
    EXPECT_EQ(CoCreateInstance(comtest::kSampleGrabber, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IBaseFilter, filter.Void()),
              E_FAIL);
    EXPECT_EQ(VornWorld::CallCount("CoCreateInstance"), 4u);
    EXPECT_EQ(VornWorld::CallCount("CoCreateInstance:SampleGrabber"), 2u);
    filter.Reset();
    VornWorld::ClearFaults();
    CoUninitialize();
}

// A fault named after no call would inject nothing, and the test that armed it would pass: the
// platform stops the program instead. Families by interface are calls of their own.
TEST(ComRuntime, FaultsNamedAfterNoCallAreRefusedLoudly) {
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    for (const char* name : {"IMediaControl::Runn", "QueryInterface:IMediaControll",
                             "CoCreateInstance:Nothing", "bitblt"}) {
        EXPECT_DEATH(VornWorld::FailCall(name), "no platform call is named") << name;
        EXPECT_DEATH(VornWorld::CallCount(name), "no platform call is named") << name;
    }
    VornWorld::ClearFaults();
    VornWorld::FailCall("");  // no call: nothing armed
    VornWorld::FailCall("QueryInterface:IAMStreamConfig", 1, 2);
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    Ptr<IBaseFilter> filter;
    ASSERT_EQ(CoCreateInstance(comtest::kSampleGrabber, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IBaseFilter, filter.Void()),
              S_OK);
    Ptr<IAMStreamConfig> config;
    for (int i = 0; i < 4; ++i) filter->QueryInterface(IID_IAMStreamConfig, config.Void());
    EXPECT_EQ(4u, VornWorld::CallCount("QueryInterface:IAMStreamConfig"));
    EXPECT_EQ(2u, VornWorld::FailedCount("QueryInterface:IAMStreamConfig"));
    EXPECT_EQ(0u, VornWorld::CallCount(""));
    filter.Reset();
    VornWorld::ClearFaults();
    EXPECT_EQ(0u, VornWorld::CallCount("QueryInterface:IAMStreamConfig"));
    CoUninitialize();
}

}  // namespace
