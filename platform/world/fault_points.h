// SPDX-License-Identifier: MIT
// The platform calls a test can make fail, each known by the text a test names it with (its
// Windows name, "IGraphBuilder::Connect"). One table: the services ask by index, fixed when
// they are compiled, so a misspelled call in the platform does not build, and a test that
// names a call that does not exist is refused at once (see FailCall).
#pragma once

#include <cstddef>
#include <type_traits>

// Calls made to fail by name alone.
#define VORN_FAULT_CALLS(X)                               \
    X("BitBlt")                                           \
    X("CloseHandle")                                      \
    X("CoCreateInstance")                                 \
    X("CoCreateInstance:CaptureGraphBuilder2")            \
    X("CoCreateInstance:FilterGraph")                     \
    X("CoCreateInstance:NullRenderer")                    \
    X("CoCreateInstance:SampleGrabber")                   \
    X("CoCreateInstance:SystemDeviceEnum")                \
    X("CreateCompatibleBitmap")                           \
    X("CreateCompatibleDC")                               \
    X("CreateDCA")                                        \
    X("CreateThread")                                     \
    X("CreateWindowExA")                                  \
    X("DeleteDC")                                         \
    X("DeleteObject")                                     \
    X("DestroyWindow")                                    \
    X("DrawIconEx")                                       \
    X("GetClientRect")                                    \
    X("GetCursorInfo")                                    \
    X("GetDC")                                            \
    X("GetDIBits")                                        \
    X("GetDesktopWindow")                                 \
    X("GetDeviceCaps")                                    \
    X("GetExitCodeThread")                                \
    X("GetIconInfo")                                      \
    X("GetObjectA")                                       \
    X("GetPixel")                                         \
    X("GetTopWindow")                                     \
    X("GetWindow")                                        \
    X("GetWindowDC")                                      \
    X("GetWindowRect")                                    \
    X("GetWindowTextA")                                   \
    X("GetWindowTextLengthA")                             \
    X("GetWindowThreadProcessId")                         \
    X("IAMBufferNegotiation::SuggestAllocatorProperties") \
    X("IAMCrossbar::CanRoute")                            \
    X("IAMCrossbar::Route")                               \
    X("IAMCrossbar::get_CrossbarPinInfo")                 \
    X("IAMCrossbar::get_PinCounts")                       \
    X("IAMStreamConfig::GetFormat")                       \
    X("IAMStreamConfig::GetNumberOfCapabilities")         \
    X("IAMStreamConfig::GetStreamCaps")                   \
    X("IAMStreamConfig::SetFormat")                       \
    X("IBaseFilter::EnumPins")                            \
    X("ICaptureGraphBuilder2::FindInterface")             \
    X("ICaptureGraphBuilder2::SetFiltergraph")            \
    X("ICreateDevEnum::CreateClassEnumerator")            \
    X("IEnumFilters::Next")                               \
    X("IEnumFilters::Reset")                              \
    X("IEnumFilters::Skip")                               \
    X("IEnumMediaTypes::Next")                            \
    X("IEnumMediaTypes::Reset")                           \
    X("IEnumMediaTypes::Skip")                            \
    X("IEnumMoniker::Next")                               \
    X("IEnumMoniker::Reset")                              \
    X("IEnumMoniker::Skip")                               \
    X("IEnumPins::Next")                                  \
    X("IEnumPins::Reset")                                 \
    X("IEnumPins::Skip")                                  \
    X("IFilterGraph::AddFilter")                          \
    X("IFilterGraph::ConnectDirect")                      \
    X("IFilterGraph::Disconnect")                         \
    X("IFilterGraph::RemoveFilter")                       \
    X("IGraphBuilder::Connect")                           \
    X("IMediaControl::Pause")                             \
    X("IMediaControl::Run")                               \
    X("IMediaControl::Stop")                              \
    X("IMediaEvent::WaitForCompletion")                   \
    X("IMoniker::BindToObject")                           \
    X("IMoniker::BindToStorage")                          \
    X("IPin::QueryDirection")                             \
    X("IPin::QueryPinInfo")                               \
    X("IPropertyBag::Read")                               \
    X("ISampleGrabber::GetConnectedMediaType")            \
    X("ISampleGrabber::GetCurrentBuffer")                 \
    X("ISampleGrabber::SetBufferSamples")                 \
    X("ISampleGrabber::SetCallback")                      \
    X("ISampleGrabber::SetMediaType")                     \
    X("ISampleGrabber::SetOneShot")                       \
    X("IVideoWindow::put_Owner")                          \
    X("IVideoWindow::put_Visible")                        \
    X("IsRectEmpty")                                      \
    X("IsWindow")                                         \
    X("IsWindowVisible")                                  \
    X("MessageBoxA")                                      \
    X("MultiByteToWideChar")                              \
    X("RegisterClassA")                                   \
    X("ReleaseDC")                                        \
    X("ResumeThread")                                     \
    X("SelectObject")                                     \
    X("SetPixel")                                         \
    X("SetWindowTextA")                                   \
    X("SuspendThread")                                    \
    X("TerminateThread")                                  \
    X("UnregisterClassA")                                 \
    X("WaitForSingleObject")                              \
    X("WideCharToMultiByte")

// Interfaces known by name: QueryInterface for each, and the capture graph builder's
// FindInterface for each, can be made to fail on its own ("QueryInterface:IMediaControl").
#define VORN_NAMED_INTERFACES(X) \
    X(IUnknown)                  \
    X(IPersist)                  \
    X(IPersistStream)            \
    X(IMoniker)                  \
    X(IEnumMoniker)              \
    X(IPropertyBag)              \
    X(IDispatch)                 \
    X(ICreateDevEnum)            \
    X(IPin)                      \
    X(IEnumPins)                 \
    X(IEnumMediaTypes)           \
    X(IMediaFilter)              \
    X(IBaseFilter)               \
    X(IFilterGraph)              \
    X(IGraphBuilder)             \
    X(IEnumFilters)              \
    X(IMediaSample)              \
    X(ICaptureGraphBuilder2)     \
    X(IAMStreamConfig)           \
    X(IAMBufferNegotiation)      \
    X(IAMCrossbar)               \
    X(IMediaControl)             \
    X(IMediaEvent)               \
    X(IMediaEventEx)             \
    X(IVideoWindow)              \
    X(IBasicVideo)               \
    X(IBasicAudio)               \
    X(ISampleGrabber)            \
    X(ISampleGrabberCB)

namespace VornWorld {

struct FaultPoint {
    unsigned index;
};

#define VORN_FAULT_TEXT(text) text,
#define VORN_QUERY_TEXT(name) "QueryInterface:" #name,
#define VORN_FIND_TEXT(name) "ICaptureGraphBuilder2::FindInterface:" #name,
inline constexpr const char* kFaultTexts[] = {VORN_FAULT_CALLS(
    VORN_FAULT_TEXT) VORN_NAMED_INTERFACES(VORN_QUERY_TEXT) VORN_NAMED_INTERFACES(VORN_FIND_TEXT)};
#undef VORN_FAULT_TEXT
#undef VORN_QUERY_TEXT
#undef VORN_FIND_TEXT

inline constexpr unsigned kFaultPointCount = sizeof kFaultTexts / sizeof kFaultTexts[0];
#define VORN_COUNT_ONE(name) +1
inline constexpr unsigned kNamedInterfaces = 0 VORN_NAMED_INTERFACES(VORN_COUNT_ONE);
#undef VORN_COUNT_ONE
inline constexpr unsigned kQueryInterfaceFirst = kFaultPointCount - 2 * kNamedInterfaces;
inline constexpr unsigned kFindInterfaceFirst = kFaultPointCount - kNamedInterfaces;

constexpr bool SameText(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) ++a, ++b;
    return *a == *b;
}

// The index of a call's text; kFaultPointCount when no call has it.
constexpr unsigned FaultIndex(const char* text) {
    for (unsigned i = 0; i < kFaultPointCount; ++i)
        if (SameText(kFaultTexts[i], text)) return i;
    return kFaultPointCount;
}

// At compile time: fails to build where the text is not in the table.
constexpr unsigned KnownFaultIndex(const char* text) {
    return FaultIndex(text) < kFaultPointCount ? FaultIndex(text)
                                               : throw "not a fault point of the platform";
}

}  // namespace VornWorld

// The fault point of a call named by a literal text, checked when the service is compiled.
#define VORN_FAULT(text)                                                            \
    ::VornWorld::FaultPoint {                                                       \
        std::integral_constant<unsigned, ::VornWorld::KnownFaultIndex(text)>::value \
    }
