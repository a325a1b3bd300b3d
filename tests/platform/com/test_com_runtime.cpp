// The component runtime: initialisation per thread, class creation, identifiers as text,
// strings, variants and task memory.
#include <thread>

#include "com_test.h"

namespace {

using comtest::Ptr;

TEST(ComRuntime, InitialisationIsCountedPerThread) {
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    EXPECT_EQ(VornWorld::ComInitCount(), 2u);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
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
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(IID_IPin, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(
        CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &object),
        REGDB_E_CLASSNOTREG);
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

TEST(ComRuntime, ObjectsShareOneIdentityAndFreeAtZero) {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    long before = VornWorld::LiveComObjects();
    IGraphBuilder* graph = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               reinterpret_cast<void**>(&graph)),
              S_OK);
    IMediaControl* control = nullptr;
    IUnknown* viaGraph = nullptr;
    IUnknown* viaControl = nullptr;
    ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control)), S_OK);
    graph->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaGraph));
    control->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaControl));
    EXPECT_EQ(viaGraph, viaControl);
    EXPECT_EQ(viaGraph->Release(), 3u);
    EXPECT_EQ(viaControl->Release(), 2u);
    EXPECT_EQ(control->Release(), 1u);
    EXPECT_EQ(VornWorld::LiveComObjects(), before + 1);
    EXPECT_EQ(graph->Release(), 0u);
    EXPECT_EQ(VornWorld::LiveComObjects(), before);
    CoUninitialize();
}

TEST(ComRuntime, ClassIdentifierText) {
    struct Case {
        const wchar_t* text;
        HRESULT result;
    } cases[] = {
        {L"{E436EBB3-524F-11CE-9F53-0020AF0BA770}", NOERROR},
        {L"{e436ebb3-524f-11ce-9f53-0020af0ba770}", NOERROR},
        {L"E436EBB3-524F-11CE-9F53-0020AF0BA770", CO_E_CLASSSTRING},
        {L"{E436EBB3-524F-11CE-9F53-0020AF0BA77}", CO_E_CLASSSTRING},
        {L"{E436EBB3-524F-11CE-9F53-0020AF0BA77G}", CO_E_CLASSSTRING},
        {L"{E436EBB3+524F-11CE-9F53-0020AF0BA770}", CO_E_CLASSSTRING},
        {L"", CO_E_CLASSSTRING},
    };
    for (const Case& c : cases) {
        CLSID parsed = GUID_NULL;
        EXPECT_EQ(CLSIDFromString(c.text, &parsed), c.result) << c.text;
        if (c.result == NOERROR) {
            EXPECT_TRUE(IsEqualCLSID(parsed, CLSID_FilterGraph));
        }
    }
    OLECHAR text[39];
    EXPECT_EQ(StringFromGUID2(CLSID_FilterGraph, text, 38), 0);
    ASSERT_EQ(StringFromGUID2(CLSID_FilterGraph, text, 39), 39);
    EXPECT_STREQ(text, L"{E436EBB3-524F-11CE-9F53-0020AF0BA770}");
    LPOLESTR allocated = nullptr;
    ASSERT_EQ(StringFromCLSID(MEDIASUBTYPE_I420, &allocated), S_OK);
    EXPECT_STREQ(allocated, L"{30323449-0000-0010-8000-00AA00389B71}");
    CoTaskMemFree(allocated);
}

TEST(ComRuntime, StringsVariantsAndTaskMemoryAreCounted) {
    long strings = VornWorld::LiveBstrs();
    long blocks = VornWorld::LiveTaskMemBlocks();
    BSTR text = SysAllocString(L"Camera");
    EXPECT_EQ(SysStringLen(text), 6u);
    EXPECT_EQ(SysStringByteLen(text), 6u * sizeof(OLECHAR));
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    BSTR empty = SysAllocStringLen(nullptr, 3);
    EXPECT_EQ(SysStringLen(empty), 3u);
    EXPECT_EQ(empty[0], 0);
    SysFreeString(empty);
    VARIANT value;
    VariantInit(&value);
    EXPECT_EQ(value.vt, VT_EMPTY);
    value.vt = VT_BSTR;
    value.bstrVal = text;
    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopy(&copy, &value), S_OK);
    EXPECT_NE(copy.bstrVal, text);
    EXPECT_EQ(VornWorld::LiveBstrs(), strings + 2);
    EXPECT_EQ(VariantClear(&value), S_OK);
    EXPECT_EQ(VariantClear(&copy), S_OK);
    EXPECT_EQ(value.vt, VT_EMPTY);
    EXPECT_EQ(VornWorld::LiveBstrs(), strings);
    void* block = CoTaskMemAlloc(16);
    block = CoTaskMemRealloc(block, 4096);
    EXPECT_EQ(VornWorld::LiveTaskMemBlocks(), blocks + 1);
    CoTaskMemFree(block);
    CoTaskMemFree(nullptr);
    EXPECT_EQ(VornWorld::LiveTaskMemBlocks(), blocks);
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

}  // namespace
