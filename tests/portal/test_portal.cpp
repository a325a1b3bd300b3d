// SPDX-License-Identifier: MIT
// The host world's screen in a Wayland session, against the real portal frontend, a test
// backend of ours (backend.py) and a real PipeWire daemon with a video source of a known
// picture, as tests/portal/session.sh starts them. Without that session every test skips.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <iterator>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "host/pipewire/video_stream.h"
#include "host/portal/screencast.h"
#include "child_process.h"
#include "host_support.h"
#include "polling.h"
#include "screengrabbers.h"
#include "tqzdesktopdevice.h"
#include "tqzpacket.h"
#include "vorn/control/world.h"
#include "tqzenumdevice.h"
#include "vornplatform.h"
#include "x_window.h"

namespace {

using VornWorld::host::portal::Outcome;
using VornWorld::host::portal::ScreenCast;
using VornWorld::host::portal::Source;
namespace pipewire = VornWorld::host::pipewire;
namespace portal = VornWorld::host::portal;

// The pixel (x, y) of a bottom-up 24-bit frame, as 0xRRGGBB.
uint32_t PixelAt(const TQZCapture::TQZPacket& packet, int width, int height, int x, int y) {
    return vmc_test::PixelAt(packet.Bytes(), vmc_test::PaddedStride(width), height, x, y);
}

// One frame through the screen device at `width` x `height`; null when none came.
TQZCapture::TQZPacket* GrabSized(Desktop& grabber, int width, int height) {
    grabber.Width = width;
    grabber.Height = height;
    return grabber.Grab();
}

// The screen's size as the window system gives it: the desktop window's rectangle.
SIZE ScreenSize() {
    RECT rect{};
    if (!GetWindowRect(GetDesktopWindow(), &rect)) return SIZE{0, 0};
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

long OpenDescriptors() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

// A screen device at `rate` (on `window`, or of `width` x `height`) opened as a host opens it.
template <class Device>
class OpenDevice {
public:
    explicit OpenDevice(unsigned rate, HWND window = nullptr, int width = 0, int height = 0)
        : opened_(Setup(rate, window, width, height)) {}
    bool Close() { return opened_.Close(); }
    bool Opened() const { return opened_.Opened(); }
    Device* operator->() { return &device_; }

private:
    TQZCapture::TQZDevice& Setup(unsigned rate, HWND window, int width, int height) {
        if constexpr (std::is_same_v<Device, TQZCapture::TQZWindowDevice>) {
            device_.WindowHandle = window;
        } else {
            device_.Width = static_cast<unsigned>(width);
            device_.Height = static_cast<unsigned>(height);
        }
        device_.FrameRate = rate;
        return device_;
    }
    Device device_;
    vmc_test::HostOpened opened_;  // after the device: closes it before it goes
};
using OpenScreen = OpenDevice<TQZCapture::TQZDesktopDevice>;
using OpenWindow = OpenDevice<TQZCapture::TQZWindowDevice>;

constexpr const char* kPickedTitle = "Window picked in the desktop's dialog";

// The window devices a listing gives, by name.
std::vector<std::pair<std::string, HWND>> ListedWindows() {
    TQZCapture::TQZWindowDeviceSet set;
    TQZCapture::TQZEnumDevice::EnumAllWindowsDevice(set);
    std::vector<std::pair<std::string, HWND>> listed;
    for (unsigned i = 0; i < set.Count(); ++i) {
        listed.emplace_back(set.GetByIndex(i)->Name, set.GetByIndex(i)->WindowHandle);
    }
    return listed;
}

// The window listed under `title`; null when none is.
HWND ListedAs(const std::string& title) {
    for (const auto& [name, handle] : ListedWindows())
        if (name == title) return handle;
    return nullptr;
}

class PortalTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* control = std::getenv("VMC_PORTAL_CONTROL");
        const char* source = std::getenv("VMC_PORTAL_SOURCE");
        if (control == nullptr || source == nullptr) {
            GTEST_SKIP() << "no portal session (tests/portal/session.sh; the test command's "
                            "portal stage starts one)";
        }
        control_ = control;
        unsigned color = 0;
        char name[64] = {};
        ASSERT_EQ(4, std::sscanf(source, "%63[^:]:%dx%d:%*d:%x", name, &width_, &height_, &color));
        color_ = color;
        bus_ = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        Steer("response", "0");
        Steer("node", name);
        Steer("window-response", "");
        Steer("window-node", "");
        Steer("hold", "0");
        ScreenCast::Reset();
    }

    void TearDown() override {
        if (control_.empty()) return;
        setenv("DBUS_SESSION_BUS_ADDRESS", bus_.c_str(), 1);
        Steer("response", "0");
        Steer("window-response", "");
        Steer("hold", "0");
        ScreenCast::Reset();
        EXPECT_EQ(0, portal::LiveObjects()) << "D-Bus objects left";
        EXPECT_EQ(0, pipewire::LiveObjects()) << "PipeWire objects left";
    }

    void Steer(const std::string& file, const std::string& value) {
        std::ofstream(control_ + "/" + file) << value << '\n';
    }
    // How many calls named `method` the backend (of `control`, ours by default) has logged so
    // far, and the last one's line.
    int Calls(const std::string& method, std::string* last = nullptr, std::string control = "") {
        std::ifstream in((control.empty() ? control_ : control) + "/log");
        std::string line;
        int count = 0;
        while (std::getline(in, line)) {
            if (line.find("\"method\": \"" + method + "\"") != std::string::npos) {
                ++count;
                if (last != nullptr) *last = line;
            }
        }
        return count;
    }
    int BackendSessions() { return std::atoi(ReadFile(control_ + "/sessions").c_str()); }

    // One frame through the screen device at the source's size; null when none came.
    TQZCapture::TQZPacket* GrabOne(Desktop& grabber) { return GrabSized(grabber, width_, height_); }

    std::string control_;
    std::string bus_;
    int width_ = 0, height_ = 0;
    uint32_t color_ = 0;
};

TEST_F(PortalTest, FramesCarryTheSourcesPictureAtItsSize) {
    SIZE screen = ScreenSize();
    EXPECT_EQ(width_, screen.cx);
    EXPECT_EQ(height_, screen.cy);
    EXPECT_EQ(Outcome::Started, ScreenCast::The().LastOutcome());
    Desktop grabber;
    TQZCapture::TQZPacket* packet = GrabOne(grabber);
    ASSERT_NE(nullptr, packet);
    ASSERT_EQ(vmc_test::PaddedStride(width_) * height_, packet->Size());
    for (auto [x, y] : {std::pair{0, 0}, {width_ / 2, height_ / 2}, {width_ - 1, height_ - 1}})
        EXPECT_EQ(color_, PixelAt(*packet, width_, height_, x, y)) << "at " << x << "," << y;
}

// A request the backend ends without a stream: no frame, no hang, and no second dialog
// straight after.
TEST_F(PortalTest, RefusedOrCancelledStartDeliversNothing) {
    for (auto [response, outcome] :
         {std::pair<const char*, Outcome>{"1", Outcome::Cancelled}, {"2", Outcome::Refused}}) {
        SCOPED_TRACE(response);
        ScreenCast::Reset();
        Steer("response", response);
        Desktop grabber;
        auto begun = std::chrono::steady_clock::now();
        EXPECT_EQ(nullptr, GrabOne(grabber));
        EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(5));
        EXPECT_EQ(outcome, ScreenCast::The().LastOutcome());
        int starts = Calls("Start");
        EXPECT_EQ(nullptr, GrabOne(grabber));
        EXPECT_EQ(starts, Calls("Start")) << "asked again at once";
        if (*response != '1') continue;
        // A capture that keeps reading gets no second dialog, however long it goes on; once
        // nothing has read the screen for a while, a new reading asks again.
        for (int i = 0; i < 30; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            EXPECT_EQ(nullptr, GrabOne(grabber));
        }
        EXPECT_EQ(starts, Calls("Start")) << "a second dialog while the capture went on";
        std::this_thread::sleep_for(std::chrono::milliseconds(5200));
        EXPECT_EQ(nullptr, GrabOne(grabber));
        EXPECT_EQ(starts + 1, Calls("Start")) << "not asked again after the capture stopped";
    }
    Steer("response", "0");
    ScreenCast::Reset();
    Desktop grabber;
    EXPECT_NE(nullptr, GrabOne(grabber));
}

TEST_F(PortalTest, MissingPortalOrBackendOrBusDeliversNothing) {
    const char* bare = std::getenv("VMC_PORTAL_BUS_BARE");
    const char* noBackend = std::getenv("VMC_PORTAL_BUS_NO_BACKEND");
    ASSERT_TRUE(bare != nullptr && noBackend != nullptr);
    std::string nowhere = "unix:path=" + control_ + "/no-such-bus";
    for (auto [address, outcome] : {std::pair<const char*, Outcome>{bare, Outcome::NoPortal},
                                    {noBackend, Outcome::NoPortal},
                                    {nowhere.c_str(), Outcome::NoBus}}) {
        SCOPED_TRACE(address);
        setenv("DBUS_SESSION_BUS_ADDRESS", address, 1);
        ScreenCast::Reset();
        Desktop grabber;
        auto begun = std::chrono::steady_clock::now();
        EXPECT_EQ(nullptr, GrabOne(grabber));
        EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(10));
        EXPECT_EQ(outcome, ScreenCast::The().LastOutcome());
        EXPECT_EQ(0, ScreenSize().cx);
        EXPECT_FALSE(ScreenCast::Offers(Source::Window));  // nor is a window listed
        EXPECT_EQ(nullptr, ListedAs(kPickedTitle));
    }
}

// A second source of our own, started and killed by the test; `resize` ("WxH@FRAMES") changes
// the size after that many frames.
class Producer : public vmc_test::ChildProcess {
public:
    // 320 x 200, green in RGBx unless told otherwise.
    explicit Producer(const std::string& name, const char* resize = nullptr,
                      const char* format = "RGBx", const char* color = "00ff00")
        : ChildProcess(Args(name, resize, format, color), {}) {}

private:
    static std::vector<std::string> Args(const std::string& name, const char* resize,
                                         const char* format, const char* color) {
        const char* program = std::getenv("VMC_PORTAL_PRODUCER");
        std::vector<std::string> args = {
            program != nullptr ? program : "/nonexistent", name, "320x200", "30", color, format};
        if (resize != nullptr) args.emplace_back(resize);
        return args;
    }
};

TEST_F(PortalTest, ProducerKilledMidCaptureEndsTheFrames) {
    Producer producer("vmc-test-killed");
    ASSERT_TRUE(producer.Running());
    Steer("node", "vmc-test-killed");
    OpenScreen device(20, nullptr, 320, 200);
    ASSERT_TRUE(device.Opened());
    ASSERT_TRUE(vmc_test::Eventually([&] { return device->Packets.Count() > 2; }));
    producer.Kill();
    EXPECT_TRUE(vmc_test::Eventually([] { return !ScreenCast::The().Stream(); }));
    EXPECT_EQ(Outcome::Ended, ScreenCast::The().LastOutcome());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    unsigned long settled = device->Packets.Count();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(settled, device->Packets.Count());
    auto begun = std::chrono::steady_clock::now();
    EXPECT_TRUE(device.Close());
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(5));
}

// Every byte order the stream is read in gives the same picture: a colour whose three
// components differ, so that red and blue swapped or a shift by one byte shows.
TEST_F(PortalTest, EveryByteOrderGivesTheSourcesColour) {
    for (const char* format : {"BGRx", "RGBx", "xRGB", "xBGR"}) {
        SCOPED_TRACE(format);
        const std::string name = std::string("vmc-test-") + format;
        Producer producer(name, nullptr, format, "336699");
        ASSERT_TRUE(producer.Running());
        Steer("node", name);
        ScreenCast::Reset();
        Desktop grabber;
        TQZCapture::TQZPacket* packet = GrabSized(grabber, 320, 200);
        ASSERT_NE(nullptr, packet);
        EXPECT_EQ(0x336699u, PixelAt(*packet, 320, 200, 7, 5));
        EXPECT_EQ(0x336699u, PixelAt(*packet, 320, 200, 319, 199));
    }
}

// Frames a reader holds keep their pixels while the stream goes on, changes size and ends: the
// producer is never left without buffers, and nothing is read from a buffer given back.
TEST_F(PortalTest, HeldFramesKeepTheirPixelsAcrossAResize) {
    Producer producer("vmc-test-held", "400x300@20");
    ASSERT_TRUE(producer.Running());
    Steer("node", "vmc-test-held");
    auto stream = ScreenCast::The().Stream();
    ASSERT_TRUE(stream);
    std::vector<std::shared_ptr<const pipewire::VideoFrame>> held;
    auto frame = stream->WaitNewer(0, 3000);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (frame && std::chrono::steady_clock::now() < until) {
        if (held.empty() || frame->sequence != held.back()->sequence) held.push_back(frame);
        frame = stream->WaitNewer(frame->sequence, 500);
    }
    // 30 a second for 2 seconds, all held: far more frames than the stream has buffers, and
    // never more than the producer made (a loaded machine may lose some).
    EXPECT_GT(held.size(), 20u);
    EXPECT_LE(held.size(), 72u);
    ASSERT_FALSE(held.empty());
    EXPECT_EQ(320, held.front()->width);
    EXPECT_EQ(400, held.back()->width);
    // A monitor change: the screen takes the stream's new size.
    EXPECT_TRUE(vmc_test::Eventually([] { return ScreenSize().cx == 400; }));
    EXPECT_EQ(300, ScreenSize().cy);
    Desktop grabber;
    TQZCapture::TQZPacket* packet = GrabSized(grabber, 400, 300);
    ASSERT_NE(nullptr, packet);
    EXPECT_EQ(0x00FF00u, PixelAt(*packet, 400, 300, 399, 299));
    stream.reset();
    producer.Kill();
    EXPECT_TRUE(vmc_test::Eventually([] { return !ScreenCast::The().Stream(); }));
    for (const auto& f : held) {
        SCOPED_TRACE(f->sequence);
        std::vector<uint32_t> row(static_cast<size_t>(f->width));
        for (int y : {0, f->height - 1}) {
            f->ReadSpan(0, y, f->width, row.data());
            EXPECT_EQ(0x00FF00u, row.front());
            EXPECT_EQ(0x00FF00u, row.back());
        }
    }
}

// Without a stored permission, or with one that cannot be used, the start costs one request (one
// session, one Start) that asks for the cursor in the picture and a permission to keep: a stored
// one that cannot be used is dropped, the user asked once without it, and the new one kept and
// offered the next time.
TEST_F(PortalTest, UnusableStoredTokenCostsOneRequest) {
    namespace fs = std::filesystem;
    const std::string path = portal::TokenPath();
    struct Case {
        const char* name;
        std::string text;  // what the file holds
        bool folder;       // a folder in the file's place (with `text` as a file inside)
        const char* said;  // what standard error must say, "" for nothing in particular
    };
    const Case cases[] = {
        {"missing", "", false, ""},
        // The portal checks the form: it answers SelectSources with an error.
        {"damaged", "not a token at all\n", false, "refused (SelectSources: "},
        // Well formed, but no permission of the portal's: it drops it without a word.
        {"unknown", "0b5d6a2e-6f7c-4d7e-9a51-3f1e2d4c5b6a\n", false, ""},
        {"empty", "", false, ""},
        {"empty folder", "", true, "cannot be read"},
        {"folder with a file", "x", true, "cannot be replaced"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScreenCast::Reset();
        fs::remove_all(path);
        if (c.folder) {
            fs::create_directories(path);
            if (!c.text.empty()) std::ofstream(path + "/inside") << c.text;
        } else if (std::string(c.name) != "missing") {
            std::ofstream(path, std::ios::binary) << c.text;
        }
        const int sessions = Calls("CreateSession"), starts = Calls("Start");
        testing::internal::CaptureStderr();
        const bool started = ScreenCast::The().Stream() != nullptr;
        const std::string said = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(started) << said;
        EXPECT_EQ(sessions + 1, Calls("CreateSession"));
        EXPECT_EQ(starts + 1, Calls("Start"));
        EXPECT_NE(std::string::npos, said.find(c.said)) << said;
        // The portal's own words, not a bare "failed".
        EXPECT_EQ(std::string::npos, said.find("(SelectSources: failed)")) << said;
        std::string select;
        Calls("SelectSources", &select);
        EXPECT_EQ(std::string::npos, select.find("restore_data")) << select;
        EXPECT_EQ(2u, ScreenCast::The().CursorMode());
        for (const char* option : {"\"cursor_mode\": 2", "\"persist_mode\": 2", "\"types\": 1"})
            EXPECT_NE(std::string::npos, select.find(option)) << select;
        if (std::string(c.name) == "folder with a file") {
            EXPECT_TRUE(fs::is_directory(path));
            continue;
        }
        const std::string kept = ReadFile(path);
        EXPECT_EQ(37u, kept.size()) << "a UUID and a line end: " << kept;
        ScreenCast::Reset();
        ASSERT_TRUE(ScreenCast::The().Stream());
        Calls("SelectSources", &select);
        EXPECT_NE(std::string::npos, select.find("restore_data")) << "not offered: " << select;
    }
    fs::remove_all(path);
}

// A stop while the dialog is open closes the request and the session at once, and no further
// request is made.
TEST_F(PortalTest, StopAskingClosesTheOpenDialog) {
    Steer("hold", "1");
    const int held = Calls("Start held"), closes = Calls("Request.Close");
    std::shared_ptr<pipewire::VideoStream> got;
    std::thread asker([&] { got = ScreenCast::The().Stream(); });
    ASSERT_TRUE(vmc_test::Eventually([&] { return Calls("Start held") > held; }));
    EXPECT_EQ(1, BackendSessions());
    const auto begun = std::chrono::steady_clock::now();
    portal::StopAsking();
    asker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(2));
    EXPECT_FALSE(got);
    EXPECT_EQ(Outcome::Stopped, ScreenCast::The().LastOutcome());
    EXPECT_TRUE(vmc_test::Eventually([&] { return Calls("Request.Close") > closes; }));
    EXPECT_TRUE(vmc_test::Eventually([&] { return BackendSessions() == 0; }));
    const int sessions = Calls("CreateSession");
    EXPECT_FALSE(ScreenCast::The().Stream());
    EXPECT_EQ(sessions, Calls("CreateSession")) << "asked again after the stop";
}

// A screen device closed while the dialog is open returns within a transfer's wait; the start
// goes on without it, and a reset closes it.
TEST_F(PortalTest, DeviceClosesPromptlyWhileTheDialogIsOpen) {
    Steer("hold", "1");
    const int held = Calls("Start held"), closes = Calls("Request.Close");
    OpenScreen device(20, nullptr, width_, height_);
    ASSERT_TRUE(device.Opened());
    ASSERT_TRUE(vmc_test::Eventually([&] { return Calls("Start held") > held; }));
    auto begun = std::chrono::steady_clock::now();
    EXPECT_TRUE(device.Close());
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(5));
    EXPECT_EQ(0u, device->Packets.Count());
    begun = std::chrono::steady_clock::now();
    ScreenCast::Reset();
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(2));
    EXPECT_TRUE(vmc_test::Eventually([&] { return Calls("Request.Close") == closes + 1; }));
    EXPECT_TRUE(vmc_test::Eventually([&] { return BackendSessions() == 0; }));
}

// A dialog answered after a transfer stopped waiting for it: the device's next transfers get
// the picture.
TEST_F(PortalTest, DialogAnsweredLateStillBringsFrames) {
    Steer("hold", "1");
    OpenScreen device(20, nullptr, width_, height_);
    ASSERT_TRUE(device.Opened());
    std::this_thread::sleep_for(std::chrono::seconds(4));
    EXPECT_EQ(0u, device->Packets.Count());
    Steer("hold", "0");
    EXPECT_TRUE(vmc_test::Eventually([&] { return device->Packets.Count() > 2; }));
    EXPECT_EQ(Outcome::Started, ScreenCast::The().LastOutcome());
}

// The picked window is listed, first, exactly where the portal shares windows; listing asks the
// portal for no session, so no dialog comes up. X programs' windows (on XWayland) are listed and
// captured through the X display either way.
TEST_F(PortalTest, PickedWindowIsListedWhereWindowsAreShared) {
    const char* monitorsOnly = std::getenv("VMC_PORTAL_BUS_MONITORS");
    const char* monitorsControl = std::getenv("VMC_PORTAL_CONTROL_MONITORS");
    ASSERT_TRUE(monitorsOnly != nullptr && monitorsControl != nullptr);
    std::unique_ptr<XProgramWindow> xWindow;
    if (std::getenv("DISPLAY") != nullptr) {
        xWindow = std::make_unique<XProgramWindow>("vmc X program beside", 40, 40, 0x112233);
    }
    struct Case {
        const char* bus;
        std::string control;
        bool shared;
    };
    for (const Case& c :
         {Case{bus_.c_str(), control_, true}, Case{monitorsOnly, monitorsControl, false}}) {
        SCOPED_TRACE(c.bus);
        setenv("DBUS_SESSION_BUS_ADDRESS", c.bus, 1);
        ScreenCast::Reset();
        int sessions = Calls("CreateSession", nullptr, c.control);
        int selections = Calls("SelectSources", nullptr, c.control);
        int starts = Calls("Start", nullptr, c.control);
        EXPECT_EQ(c.shared, ScreenCast::Offers(Source::Window));
        EXPECT_TRUE(ScreenCast::Offers(Source::Monitor));
        auto listed = ListedWindows();
        EXPECT_EQ(c.shared ? 1 : 0, std::count_if(listed.begin(), listed.end(), [](const auto& e) {
                      return e.first == kPickedTitle;
                  }));
        if (c.shared) {
            ASSERT_FALSE(listed.empty());
            EXPECT_EQ(kPickedTitle, listed.front().first);
            // Before its cast it has no size; a title and an owner's thread, as listings ask.
            HWND window = listed.front().second;
            EXPECT_TRUE(IsWindow(window));
            DWORD pid = 99;
            EXPECT_NE(0u, GetWindowThreadProcessId(window, &pid));
            EXPECT_EQ(0u, pid);
            EXPECT_EQ(nullptr, GetWindow(window, GW_HWNDPREV));
            EXPECT_EQ(window, GetWindow(window, GW_HWNDFIRST));
        }
        if (xWindow && xWindow->Valid()) {
            auto at = std::find_if(listed.begin(), listed.end(), [&](const auto& entry) {
                return entry.second == xWindow->Handle();
            });
            ASSERT_NE(listed.end(), at) << "the X program's window is not listed";
            HWND previous = GetWindow(static_cast<HWND>(xWindow->Handle()), GW_HWNDFIRST);
            EXPECT_EQ(listed.front().second, previous);
            Window grabber;  // captured through the X display
            grabber.WindowHandle = at->second;
            grabber.Width = grabber.Height = 40;
            TQZCapture::TQZPacket* packet = grabber.Grab();
            ASSERT_NE(nullptr, packet);
            EXPECT_EQ(0x112233u, PixelAt(*packet, 40, 40, 20, 20));
        }
        EXPECT_EQ(sessions, Calls("CreateSession", nullptr, c.control));
        EXPECT_EQ(selections, Calls("SelectSources", nullptr, c.control));
        EXPECT_EQ(starts, Calls("Start", nullptr, c.control));
    }
}

// Opening the picked window's device starts a cast of windows of its own (the dialog): frames
// of the picked window at its size, its permission kept apart from the screen's and offered
// the next time, and its picture kept apart from the screen's beside it.
TEST_F(PortalTest, PickedWindowIsCapturedFromAWindowCast) {
    Producer producer("vmc-test-window", nullptr, "BGRx", "aa5511");
    ASSERT_TRUE(producer.Running());
    Steer("window-node", "vmc-test-window");
    std::remove(portal::TokenPath(Source::Window).c_str());
    std::string screenToken = ReadFile(portal::TokenPath(Source::Monitor));
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ScreenCast::Reset();
        HWND window = ListedAs(kPickedTitle);
        ASSERT_NE(nullptr, window);
        OpenWindow open(20, window);
        ASSERT_TRUE(open.Opened());
        EXPECT_EQ(320u, open->Width);
        EXPECT_EQ(200u, open->Height);
        ASSERT_TRUE(vmc_test::Eventually([&] { return open->Packets.Count() > 1; }));
        TQZCapture::TQZPacket* packet = open->Get();
        ASSERT_NE(nullptr, packet);
        EXPECT_EQ(0xAA5511u, PixelAt(*packet, 320, 200, 5, 5));
        EXPECT_EQ(0xAA5511u, PixelAt(*packet, 320, 200, 319, 199));
        EXPECT_EQ(Outcome::Started, ScreenCast::The(Source::Window).LastOutcome());
        std::string select, start;
        Calls("SelectSources", &select);
        Calls("Start", &start);
        EXPECT_NE(std::string::npos, select.find("\"types\": 2")) << select;
        EXPECT_NE(std::string::npos, select.find("\"persist_mode\": 2")) << select;
        EXPECT_NE(std::string::npos, start.find("\"types\": 2")) << start;
        if (round == 0) {
            EXPECT_EQ(std::string::npos, select.find("restore_data")) << select;
        } else {
            EXPECT_NE(std::string::npos, select.find("\"restore_data\": \"2:vmc-test-window\""))
                << "the window's permission not offered: " << select;
        }
        EXPECT_GT(ReadFile(portal::TokenPath(Source::Window)).size(), 1u);
        EXPECT_EQ(screenToken, ReadFile(portal::TokenPath(Source::Monitor)));
        if (round == 1) {
            // Beside the screen: two casts, two portal sessions, each device its own picture.
            OpenScreen desktop(20, nullptr, width_, height_);
            ASSERT_TRUE(desktop.Opened());
            EXPECT_TRUE(vmc_test::Eventually(
                [&] { return desktop->Packets.Count() > 2 && open->Packets.Count() > 2; }));
            EXPECT_EQ(2, BackendSessions());
            TQZCapture::TQZPacket* screen = desktop->Get();
            ASSERT_NE(nullptr, screen);
            EXPECT_EQ(color_, PixelAt(*screen, width_, height_, 10, 10));
            EXPECT_EQ(0xAA5511u, PixelAt(*open->Get(), 320, 200, 10, 10));
            EXPECT_TRUE(desktop.Close());
        }
        EXPECT_TRUE(open.Close());
    }
}

// The user dismisses the window's dialog: the device opens without a picture and delivers
// nothing, without a hang; the screen's cast is not disturbed.
TEST_F(PortalTest, DismissedWindowDialogDeliversNothing) {
    Steer("window-response", "1");
    Desktop screen;
    ASSERT_NE(nullptr, GrabOne(screen));
    HWND window = ListedAs(kPickedTitle);
    ASSERT_NE(nullptr, window);
    auto begun = std::chrono::steady_clock::now();
    OpenWindow open(20, window);
    EXPECT_EQ(0u, open->Width);
    EXPECT_EQ(0u, open->Height);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(0u, open->Packets.Count());
    EXPECT_TRUE(open.Close());
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(5));
    EXPECT_EQ(Outcome::Cancelled, ScreenCast::The(Source::Window).LastOutcome());
    RECT rect{1, 1, 1, 1};
    EXPECT_FALSE(GetClientRect(window, &rect));
    EXPECT_TRUE(IsWindow(window)) << "still offered for another try";
    EXPECT_EQ(Outcome::Started, ScreenCast::The(Source::Monitor).LastOutcome());
    Desktop again;
    EXPECT_NE(nullptr, GrabOne(again));
}

// Devices share the one cast; a reset ends it. Every PipeWire object, D-Bus object, portal
// session and descriptor comes back.
TEST_F(PortalTest, OpenCloseCyclesReturnEveryObject) {
    long descriptors = 0;
    int starts = Calls("Start");
    for (int cycle = 0; cycle < 5; ++cycle) {
        SCOPED_TRACE(cycle);
        for (int device = 0; device < 2; ++device) {
            OpenScreen d(30, nullptr, width_, height_);
            ASSERT_TRUE(d.Opened());
            EXPECT_TRUE(vmc_test::Eventually([&] { return d->Packets.Count() > 0; }));
            EXPECT_TRUE(d.Close());
        }
        EXPECT_EQ(1, BackendSessions()) << "one portal session for both devices";
        ScreenCast::Reset();
        EXPECT_EQ(0, portal::LiveObjects());
        EXPECT_EQ(0, pipewire::LiveObjects());
        EXPECT_TRUE(vmc_test::Eventually([&] { return BackendSessions() == 0; }));
        // Counted from the end of the first cycle on: what a process keeps once (GLib's and
        // PipeWire's own) is not a leak of each cycle.
        if (cycle == 0) descriptors = OpenDescriptors();
    }
    EXPECT_EQ(starts + 5, Calls("Start"));
    EXPECT_TRUE(vmc_test::Eventually([&] { return OpenDescriptors() <= descriptors; }))
        << OpenDescriptors() << " descriptors open, " << descriptors << " after the first cycle";
}

}  // namespace

int main(int argc, char** argv) {
    setenv("VORN_WORLD", "host", 1);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
