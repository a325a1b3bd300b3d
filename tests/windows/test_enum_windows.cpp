// SPDX-License-Identifier: MIT
// The window enumerators against the real window list: the test's own windows, visible or
// hidden, with or without title, are listed with their titles and handles, in Z order.
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "tqzenumdevice.h"
#include "windows_support.h"

using TQZCapture::TQZEnumDevice;
using TQZCapture::TQZWindowDevice;
using TQZCapture::TQZWindowDeviceSet;
using wintest::TestWindow;

namespace {

const wintest::Quadrants kPicture{0x00303030, 0x00606060, 0x00909090, 0x00C0C0C0};

bool OwnedByThisProcess(HWND window) {
    DWORD pid = 0;
    return GetWindowThreadProcessId(window, &pid) != 0 && pid == GetCurrentProcessId();
}

const TQZWindowDevice* Find(TQZWindowDeviceSet& set, HWND window) {
    for (auto* device : *set.GetList())
        if (device->WindowHandle == window) return device;
    return nullptr;
}

}  // namespace

TEST(EnumWindows, ListsTheTestsOwnWindowsWithTitlesInZOrder) {
    const std::string longTitle(2000, 'L');
    // Created bottom to top: each new topmost window goes above the ones before it.
    TestWindow lower("vmc lower", 120, 80, 10, 10, kPicture);
    TestWindow upper("vmc upper", 120, 80, 200, 10, kPicture);
    TestWindow hidden("vmc hidden", 120, 80, 400, 10, kPicture, WS_OVERLAPPEDWINDOW, false);
    TestWindow untitled("", 120, 80, 600, 10, kPicture);
    TestWindow longNamed(longTitle, 120, 80, 800, 10, kPicture);
    const std::vector<std::pair<const TestWindow*, std::string>> mine = {
        {&lower, "vmc lower"},
        {&upper, "vmc upper"},
        {&hidden, "vmc hidden"},
        {&untitled, ""},
        {&longNamed, std::string(1023, 'L')}};  // cut to the 1024-byte buffer

    TQZWindowDeviceSet local, all;
    for (int round = 0; round < 2; ++round) {  // a second call replaces, never appends
        TQZEnumDevice::EnumLocalProcessWindowsDevice(local);
        TQZEnumDevice::EnumAllWindowsDevice(all);
        for (TQZWindowDeviceSet* set : {&local, &all}) {
            const bool isLocal = set == &local;
            unsigned int index = 0;
            std::set<HWND> seen;
            for (auto* device : *set->GetList()) {
                EXPECT_EQ(index++, device->Index);
                EXPECT_EQ(device->Name, device->Caption);
                EXPECT_TRUE(seen.insert(device->WindowHandle).second) << "listed twice";
                if (isLocal) {
                    EXPECT_TRUE(OwnedByThisProcess(device->WindowHandle)) << device->Name;
                }
            }
            for (const auto& [window, title] : mine) {
                const TQZWindowDevice* device = Find(*set, window->Handle());
                ASSERT_NE(nullptr, device) << "not listed: " << title.substr(0, 20);
                EXPECT_EQ(title, device->Name);
                EXPECT_EQ(640u, device->Width);  // a listed window starts at the defaults
            }
            EXPECT_LT(Find(*set, upper.Handle())->Index, Find(*set, lower.Handle())->Index)
                << "not in Z order";
        }
        // Other processes' windows (the desktop's shell, on Wine its helper processes) appear
        // only in the full list.
        EXPECT_TRUE(std::any_of(
            all.GetList()->begin(), all.GetList()->end(),
            [](const TQZWindowDevice* d) { return !OwnedByThisProcess(d->WindowHandle); }));
    }
}
