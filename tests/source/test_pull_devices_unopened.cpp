// SPDX-License-Identifier: MIT
// The capture devices through their public interface, without opening a device (so these hold
// wherever the platform has no capture device): copies from a pointer, and what a camera or
// voice device that holds no graph answers.
#include <gtest/gtest.h>

#include "devicedescription.h"
#include "tqzcameradevice.h"
#include "tqzpacket.h"
#include "tqzusbaudiodevice.h"
#include "tqzusbvideodevice.h"
#include "tqzvoicedevice.h"

using namespace TQZCapture;

namespace {

template <class Device>
class PullDeviceTest : public ::testing::Test {};
using PullDevices = ::testing::Types<TQZCameraDevice, TQZVoiceDevice>;
TYPED_TEST_SUITE(PullDeviceTest, PullDevices);

TYPED_TEST(PullDeviceTest, WithoutAGraphNothingIsGrabbedAndNothingFails) {
    TypeParam device;
    EXPECT_FALSE(device.Opened || device.Graph || device.MediaControl || device.DeviceFilter);
    EXPECT_EQ(2u, device.Packets.GetTheMaxCount());
    int host = 0;
    device.OnOpenBefore(&host);
    TQZCapture::TQZPacket* got = device.Get();
    TQZCapture::TQZPacket* queried = device.Query();
    ASSERT_NE(nullptr, got);
    ASSERT_NE(nullptr, queried);
    EXPECT_NE(got, queried);
    EXPECT_EQ(0u, got->Size());
    EXPECT_EQ(0u, queried->Size());
    EXPECT_EQ(got, device.Get());
    EXPECT_TRUE(device.Close());
    EXPECT_TRUE(device.Pause());
    EXPECT_FALSE(device.Opened);
}

// A device made from a pointer to another takes its description only: its capture fields keep
// the class's defaults, and a null pointer gives a device like a new one.
template <class Device>
class FromPointerTest : public ::testing::Test {};
using CaptureDevices =
    ::testing::Types<TQZCameraDevice, TQZVoiceDevice, TQZUSBVideoDevice, TQZUSBAudioDevice>;
TYPED_TEST_SUITE(FromPointerTest, CaptureDevices);

void ChangeCaptureFields(TQZVideoDevice& device) {
    device.Width = 1280, device.Height = 720, device.FrameRate = 5, device.UserParam3 = 7;
}
void ChangeCaptureFields(TQZAudioDevice& device) {
    device.SampleRate = 8000, device.BitsPerSample = 8, device.Channels = 1;
}

TYPED_TEST(FromPointerTest, TakesTheDescriptionOnly) {
    TypeParam source;
    Describe(source, "capture", 3);
    ChangeCaptureFields(source);
    const TypeParam copy(&source), fresh;
    EXPECT_EQ(DescriptionOf(source) + "|" + CaptureFieldsOf(fresh), FieldsOf(copy));
    EXPECT_EQ(FieldsOf(fresh), FieldsOf(TypeParam(static_cast<const TypeParam*>(nullptr))));
}

}  // namespace
