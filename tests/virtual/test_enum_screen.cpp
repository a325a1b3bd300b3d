// SPDX-License-Identifier: MIT
// Screen enumeration against windows built to hit each rule of the walk.
#include <string>
#include <vector>

#include "screen_fixture.h"
#include "tqzenumdevice.h"

using TQZCapture::TQZEnumDevice;

TEST_F(ScreenTest, DesktopSetHoldsOneDeviceAtDefaults) {
    TQZCapture::TQZDesktopDeviceSet set;
    for (int round = 0; round < 2; ++round) {
        TQZEnumDevice::EnumDesktopDevice(set);
        ASSERT_EQ(1u, set.Count());
        auto* desktop = set.GetByName("Desktop");
        ASSERT_NE(nullptr, desktop);
        EXPECT_EQ(desktop, set.GetByIndex(0));
        EXPECT_EQ("Desktop", desktop->Caption);
        EXPECT_EQ(640u, desktop->Width);
        EXPECT_EQ(20u, desktop->FrameRate);
        EXPECT_EQ(nullptr, set.GetByName("desktop"));
    }
}

TEST_F(ScreenTest, WindowWalkFollowsZOrderAndTheProcessFilter) {
    const DWORD self = GetCurrentProcessId();
    const std::string longTitle(5000, 'T');
    struct WindowSetup {
        std::string title;
        DWORD pid, tid;
        bool visible;
    };
    // Added bottom to top: the last one ends up topmost.
    const std::vector<WindowSetup> setups = {
        {"mine, hidden", self, 7, false}, {"", self, 7, true},  // no title
        {"foreign", self + 1, 9, true},                         // another process
        {"no thread", self, 0, true},                           // thread 0: never listed
        {longTitle, self, 7, true},                             // cut to 1023 bytes
    };
    std::vector<HWND> windows;
    for (const auto& s : setups) {
        windows.push_back(VornWorld::AddWindow(s.title.c_str(), RECT{0, 0, 50, 50}, s.pid, s.tid));
        VornWorld::SetWindowVisible(windows.back(), s.visible);
    }
    const std::vector<std::string> allExpected = {std::string(1023, 'T'), "foreign", "",
                                                  "mine, hidden"};
    const std::vector<std::string> localExpected = {std::string(1023, 'T'), "", "mine, hidden"};

    TQZCapture::TQZWindowDeviceSet all, local;
    for (int round = 0; round < 2; ++round) {
        TQZEnumDevice::EnumAllWindowsDevice(all);
        TQZEnumDevice::EnumLocalProcessWindowsDevice(local);
        for (auto [set, expected] : {std::pair{&all, &allExpected}, {&local, &localExpected}}) {
            ASSERT_EQ(expected->size(), set->Count());
            unsigned int index = 0;
            for (auto* device : *set->GetList()) {
                EXPECT_EQ(index, device->Index);
                EXPECT_EQ((*expected)[index], device->Name);
                EXPECT_EQ(device->Name, device->Caption);
                EXPECT_NE(nullptr, device->WindowHandle);
                ++index;
            }
        }
    }
    EXPECT_EQ(windows[2], all.GetByName("foreign")->WindowHandle);
    EXPECT_EQ(640u, all.GetByName("foreign")->Width);  // a listed window starts at the defaults
    EXPECT_EQ(nullptr, local.GetByName("foreign"));
    for (HWND w : windows) VornWorld::RemoveWindow(w);
    TQZEnumDevice::EnumLocalProcessWindowsDevice(local);
    EXPECT_EQ(0u, local.Count());
}
