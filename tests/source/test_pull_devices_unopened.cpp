// SPDX-License-Identifier: MIT
// The camera and voice devices through their public interface, without opening a device (so
// these hold wherever the platform has no capture device): defaults, copies from a pointer,
// and what a device that holds no graph answers.
#include <gtest/gtest.h>

#include "devicedescription.h"
#include "tqzcameradevice.h"
#include "tqzpacket.h"
#include "tqzvoicedevice.h"

using TQZCapture::TQZCameraDevice;
using TQZCapture::TQZVoiceDevice;

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

TYPED_TEST(PullDeviceTest, CopyFromAPointerTakesTheDescriptionOnly) {
    TypeParam source;
    Describe(source, "capture", 3);
    const TypeParam copy(&source);
    EXPECT_EQ(DescriptionOf(source), DescriptionOf(copy));
    const TypeParam fresh(static_cast<const TypeParam*>(nullptr));
    EXPECT_EQ(DescriptionOf(TypeParam()), DescriptionOf(fresh));
}

TEST(PullDeviceFields, CopiesFromAPointerKeepTheCaptureDefaults) {
    TQZCameraDevice camera;
    camera.Width = 1280;
    camera.Height = 720;
    camera.FrameRate = 5;
    const TQZCameraDevice cameraCopy(&camera);
    EXPECT_EQ(Join({640, 480, 20, 5, 28, 256}),
              Join({cameraCopy.Width, cameraCopy.Height, cameraCopy.FrameRate,
                    cameraCopy.UserParam1, cameraCopy.UserParam2, cameraCopy.UserParam3}));
    EXPECT_EQ(TQZCapture::DataTypeRGB24, cameraCopy.DataType);

    TQZVoiceDevice voice;
    voice.SampleRate = 8000;
    voice.BitsPerSample = 8;
    voice.Channels = 1;
    const TQZVoiceDevice voiceCopy(&voice);
    EXPECT_EQ(Join({44100, 16, 2}),
              Join({voiceCopy.SampleRate, voiceCopy.BitsPerSample, voiceCopy.Channels}));
    EXPECT_EQ(TQZCapture::DataTypePCM, voiceCopy.DataType);
    EXPECT_EQ(TQZCapture::DeviceTypeAudio, voiceCopy.DeviceType);
}

}  // namespace
