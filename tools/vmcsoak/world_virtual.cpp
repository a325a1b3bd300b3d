// SPDX-License-Identifier: MIT
// The soak's world on the virtual platform: windows, counters, faults and failure reports
// through the control API.
#include "soak.h"
#include "vorn/control/display.h"
#include "vorn/control/faults.h"
#include "vorn/control/kernel.h"
#include "vorn/control/media.h"
#include "vorn/control/world.h"

namespace soak {
namespace world {
namespace {

// Before main, so before any platform call fixes the world.
const bool kVirtualWorld = VornWorld::ChooseWorld(VornWorld::WorldKind::Virtual);

// The default camera and microphone, and a capture card with a crossbar in front of it.
void ShapeMedia() {
    VornWorld::ResetMedia();
    VornWorld::DeviceConfig card = VornWorld::DefaultCamera();
    card.friendlyName = L"Soak Capture Card";
    card.devicePath = L"\\\\?\\vorn#soak-card#0";
    card.crossbar = true;
    card.crossbarInputs = {PhysConn_Video_Tuner, PhysConn_Video_Composite};
    card.crossbarOutputs = {PhysConn_Video_VideoDecoder};
    VornWorld::AddDevice(card);
}

std::vector<std::string> MediaFaultNames() {
    std::vector<std::string> names = {
        "CoCreateInstance",
        "CoCreateInstance:FilterGraph",
        "CoCreateInstance:CaptureGraphBuilder2",
        "CoCreateInstance:SystemDeviceEnum",
        "CoCreateInstance:SampleGrabber",
        "CoCreateInstance:NullRenderer",
        "ICreateDevEnum::CreateClassEnumerator",
        "IMoniker::BindToStorage",
        "IMoniker::BindToObject",
        "IPropertyBag::Read",
        "IFilterGraph::AddFilter",
        "IFilterGraph::RemoveFilter",
        "IFilterGraph::ConnectDirect",
        "IFilterGraph::Disconnect",
        "IGraphBuilder::Connect",
        "IMediaControl::Run",
        "IMediaControl::Pause",
        "IMediaControl::Stop",
        "IMediaEvent::WaitForCompletion",
        "IVideoWindow::put_Visible",
        "IVideoWindow::put_Owner",
        "ICaptureGraphBuilder2::SetFiltergraph",
        "ICaptureGraphBuilder2::FindInterface",
        "IBaseFilter::EnumPins",
        "IPin::QueryDirection",
        "IPin::QueryPinInfo",
        "IAMStreamConfig::GetNumberOfCapabilities",
        "IAMStreamConfig::GetStreamCaps",
        "IAMStreamConfig::GetFormat",
        "IAMStreamConfig::SetFormat",
        "IAMBufferNegotiation::SuggestAllocatorProperties",
        "IAMCrossbar::get_PinCounts",
        "IAMCrossbar::get_CrossbarPinInfo",
        "IAMCrossbar::CanRoute",
        "IAMCrossbar::Route",
        "ISampleGrabber::SetMediaType",
        "ISampleGrabber::SetOneShot",
        "ISampleGrabber::SetBufferSamples",
        "ISampleGrabber::SetCallback",
        "ISampleGrabber::GetConnectedMediaType",
        "ISampleGrabber::GetCurrentBuffer",
        "WideCharToMultiByte",
        "MessageBoxA",
    };
    for (const char* enumerator :
         {"IEnumMoniker", "IEnumPins", "IEnumFilters", "IEnumMediaTypes"}) {
        for (const char* call : {"::Next", "::Skip", "::Reset"}) {
            names.push_back(std::string(enumerator) + call);
        }
    }
    for (const char* iface : {"IUnknown",
                              "IPersist",
                              "IMoniker",
                              "IEnumMoniker",
                              "IPropertyBag",
                              "ICreateDevEnum",
                              "IPin",
                              "IEnumPins",
                              "IEnumMediaTypes",
                              "IMediaFilter",
                              "IBaseFilter",
                              "IFilterGraph",
                              "IGraphBuilder",
                              "IEnumFilters",
                              "IMediaSample",
                              "ICaptureGraphBuilder2",
                              "IAMStreamConfig",
                              "IAMBufferNegotiation",
                              "IAMCrossbar",
                              "IMediaControl",
                              "IMediaEvent",
                              "IMediaEventEx",
                              "IVideoWindow",
                              "IBasicVideo",
                              "IBasicAudio",
                              "ISampleGrabber"}) {
        names.push_back(std::string("QueryInterface:") + iface);
        names.push_back(std::string("ICaptureGraphBuilder2::FindInterface:") + iface);
    }
    return names;
}

}  // namespace

const char* Name() {
    return kVirtualWorld ? "virtual platform" : "virtual platform (not in force)";
}

void Prepare() {
    VornWorld::ClearFaults();
    VornWorld::ResetDisplay();
    VornWorld::EchoMessageBoxes(false);
    VornWorld::ClearMessageBoxes();
    ShapeMedia();
}

std::vector<std::pair<std::string, long>> Resources() {
    return PlatformResources(static_cast<long>(VornWorld::WindowsInZOrder().size()), {});
}

void DropRecords() {
    ShapeMedia();
    DropPlatformRecords();
    // It also keeps its last composed picture of the screen (10 MB at full HD) until a window
    // changes; one made and removed drops it, so that no count includes it.
    VornWorld::RemoveWindow(VornWorld::AddWindow("", RECT{0, 0, 1, 1}));
}

HWND OpenWindow(const std::string& title, int x, int y, int width, int height) {
    return VornWorld::AddWindow(title.c_str(), RECT{x, y, x + width, y + height});
}
void CloseWindow(HWND window) { VornWorld::RemoveWindow(window); }
bool ResizeWindow(HWND window, int width, int height) {
    return VornWorld::ResizeWindowTo(window, width, height);
}
bool MoveWindowTo(HWND window, int x, int y) { return VornWorld::MoveWindowTo(window, x, y); }
bool RetitleWindow(HWND window, const std::string& title) {
    return VornWorld::SetWindowTitle(window, title);
}
bool ShowWindow(HWND window, bool visible) { return VornWorld::SetWindowVisible(window, visible); }
void PumpMessages() {}

std::vector<std::string> FaultNames() {
    static const std::vector<std::string> names = MediaFaultNames();
    return names;
}
}  // namespace world
}  // namespace soak
