// SPDX-License-Identifier: MIT
// Media-graph enumeration against virtual device lists built to hit each rule of the walk.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tqzenumdevice.h"
#include "vorn/control/display.h"
#include "vorn/control/faults.h"
#include "vorn/control/media.h"

using TQZCapture::TQZEnumDevice;
using VornWorld::MediaKind;

namespace {

class MediaEnumTest : public ::testing::Test {
protected:
    void SetUp() override {
        VornWorld::ClearFaults();
        VornWorld::ResetMedia();
        VornWorld::ResetDisplay();
    }
    void TearDown() override {
        VornWorld::ClearFaults();
        VornWorld::ResetMedia();
    }

    static VornWorld::DeviceId Add(MediaKind kind, const wchar_t* name) {
        VornWorld::DeviceConfig config =
            kind == MediaKind::Video ? VornWorld::DefaultCamera() : VornWorld::DefaultMicrophone();
        config.friendlyName = name;
        return VornWorld::AddDevice(config);
    }
};

// Each device of a set as its index and name (its caption checked to be the name).
using Listed = std::pair<unsigned int, std::string>;

template <class Set>
std::vector<Listed> Contents(Set& set) {
    std::vector<Listed> out;
    for (auto* device : *set.GetList()) {
        EXPECT_EQ(device->Name, device->Caption);
        out.emplace_back(device->Index, device->Name);
    }
    return out;
}

}  // namespace

TEST_F(MediaEnumTest, CounterRulesGiveGapsAndSkips) {
    VornWorld::RemoveAllDevices(MediaKind::Video);
    VornWorld::DeviceConfig config = VornWorld::DefaultCamera();
    auto add = [&](const wchar_t* name, auto tweak) {
        VornWorld::DeviceConfig c = config;
        c.friendlyName = name;
        tweak(c);
        ASSERT_NE(VornWorld::kNoDevice, VornWorld::AddDevice(c));
    };
    add(L"First", [](auto&) {});
    add(L"No bag", [](auto& c) { c.hasPropertyBag = false; });     // takes no number
    add(L"Unbindable", [](auto& c) { c.bindable = false; });       // number 1, not listed
    add(L"Nameless", [](auto& c) { c.hasFriendlyName = false; });  // number 2, empty texts
    add(L"No class id", [](auto& c) { c.clsid.clear(); });         // number 3
    add(L"Last", [](auto&) {});                                    // number 4

    const std::vector<Listed> expected = {{0, "First"}, {2, ""}, {3, "No class id"}, {4, "Last"}};
    TQZCapture::TQZCameraDeviceSet cameras;
    TQZCapture::TQZUSBVideoDeviceSet videos;
    for (int round = 0; round < 2; ++round) {
        TQZEnumDevice::EnumCameraDevice(cameras);
        TQZEnumDevice::EnumVideoDevice(videos);
        EXPECT_EQ(expected, Contents(cameras));
        EXPECT_EQ(expected, Contents(videos));
    }
    // The class identifier is parsed from the "CLSID" text; without one it stays zero.
    auto* first = cameras.GetByName("First");
    ASSERT_NE(nullptr, first);
    EXPECT_EQ("{17CCA71B-ECD7-11D0-B908-00A0C9223196}", first->ClassIDText);
    EXPECT_EQ(0x17CCA71Bu, first->ClassID.Data1);
    auto* none = cameras.GetByName("No class id");
    ASSERT_NE(nullptr, none);
    EXPECT_TRUE(none->ClassIDText.empty());
    EXPECT_EQ(0u, none->ClassID.Data1);
    // Lookups by Index are bounded by the count: Index 4 is beyond a set of four.
    EXPECT_EQ(nullptr, cameras.GetByIndex(4));
    EXPECT_EQ(first, cameras.GetByIndex(0));
}

TEST_F(MediaEnumTest, EmptyCategoriesAndFailuresLeaveSetsEmpty) {
    VornWorld::RemoveAllDevices(MediaKind::Video);
    TQZCapture::TQZCameraDeviceSet cameras;
    TQZCapture::TQZVoiceDeviceSet voices;
    TQZEnumDevice::EnumCameraDevice(cameras);
    TQZEnumDevice::EnumVoiceDevice(voices);
    EXPECT_EQ(0u, cameras.Count());
    EXPECT_EQ(1u, voices.Count());  // the audio category is unaffected

    for (const char* call :
         {"CoCreateInstance:SystemDeviceEnum", "ICreateDevEnum::CreateClassEnumerator"}) {
        VornWorld::ClearFaults();
        VornWorld::FailCall(call, 0, VornWorld::kAlways);
        TQZEnumDevice::EnumVoiceDevice(voices);
        EXPECT_EQ(0u, voices.Count()) << call;
    }
}

TEST_F(MediaEnumTest, EachDeviceIsListedUnderBothClassesWithTheSameIndexAndName) {
    Add(MediaKind::Video, L"Second Camera");
    Add(MediaKind::Audio, L"Line In \u00e9");  // é is in the ANSI code page
    Add(MediaKind::Audio, L"Mic \u4e2d");      // outside it: becomes '?'
    TQZEnumDevice all;
    EXPECT_EQ(Contents(all.CameraDevices), Contents(all.VideoDevices));
    EXPECT_EQ(Contents(all.VoiceDevices), Contents(all.AudioDevices));
    const std::vector<Listed> audio = {
        {0, "Vorn Virtual Microphone"}, {1, "Line In \xe9"}, {2, "Mic ?"}};
    EXPECT_EQ(audio, Contents(all.VoiceDevices));
    EXPECT_EQ(2u, all.CameraDevices.Count());
    EXPECT_EQ(1u, all.DesktopDevices.Count());
    // Devices from a set start from the class defaults, whatever the enumerator's copy had.
    EXPECT_EQ(44100u, all.VoiceDevices.GetByIndex(1)->SampleRate);
    EXPECT_EQ(640u, all.CameraDevices.GetByIndex(1)->Width);
}

TEST_F(MediaEnumTest, CopiesOfTheEnumeratorOwnDevicesOfTheirOwn) {
    auto* copy = new TQZEnumDevice();
    TQZEnumDevice second(*copy);
    ASSERT_EQ(copy->CameraDevices.Count(), second.CameraDevices.Count());
    EXPECT_NE(copy->CameraDevices.GetByIndex(0), second.CameraDevices.GetByIndex(0));
    delete copy;
    ASSERT_NE(nullptr, second.CameraDevices.GetByIndex(0));
    EXPECT_EQ("Vorn Virtual Camera", second.CameraDevices.GetByIndex(0)->Name);
}
