// SPDX-License-Identifier: MIT
#include "tqzaudiodevice.h"
#include "tqzcameradevice.h"
#include "tqzusbaudiodevice.h"
#include "tqzusbvideodevice.h"
#include "tqzvideodevice.h"
#include "tqzvoicedevice.h"

#include <gtest/gtest.h>

#include "devicedescription.h"

using namespace TQZCapture;

static_assert(sizeof(TQZDataType) == 4 && sizeof(TQZDeviceType) == 4, "32-bit enumerations");
static_assert(DataTypeRGB24 == 1 && DataTypeRGB32 == 2 && DataTypeI420 == 3 && DataTypeYUY2 == 4 &&
                  DataTypeYV12 == 5 && DataTypePCM == 9,
              "data type values");
static_assert(DeviceTypeVideo == 1 && DeviceTypeAudio == 2, "device type values");

TEST(TQZDevice, DefaultsAndBaseOperations) {
    TQZDevice device;
    TQZVideoDevice video;
    TQZAudioDevice audio;
    const std::string blank = "0|||" + std::string(32, '0') + "|||||";  // ClassID zeroed
    EXPECT_EQ(DescriptionOf(device), blank + "0|0");
    EXPECT_EQ(FieldsOf(video), blank + "1|1|640,480,20,5,28,256");
    EXPECT_EQ(FieldsOf(audio), blank + "9|2|44100,16,2");

    for (TQZDevice* d :
         {&device, static_cast<TQZDevice*>(&video), static_cast<TQZDevice*>(&audio)}) {
        EXPECT_FALSE(d->Open() || d->Close() || d->Pause());
        EXPECT_EQ(d->Query(), nullptr);
        EXPECT_EQ(d->Get(), nullptr);
        d->OnOpenBefore(d);
        d->OnOpenAFter();
        d->OnError(5);
        d->OnCloseBefore();
        d->OnCloseAFter();
    }
}

TEST(TQZDevice, CopiesCarryEveryField) {
    TQZVideoDevice video;
    Describe(video, "cam", 3);
    video.Width = 1920;
    video.UserParam3 = 7;
    TQZAudioDevice audio;
    Describe(audio, "mic", 4);
    audio.Channels = 1;

    TQZVideoDevice videoCopy(video);
    TQZVideoDevice videoAssigned;
    videoAssigned = video;
    TQZVideoDevice& alias = videoAssigned;
    videoAssigned = alias;
    TQZAudioDevice audioCopy(audio);
    TQZAudioDevice audioAssigned;
    audioAssigned = audio;
    EXPECT_EQ(FieldsOf(videoCopy), FieldsOf(video));
    EXPECT_EQ(FieldsOf(videoAssigned), FieldsOf(video));
    EXPECT_EQ(FieldsOf(audioCopy), FieldsOf(audio));
    EXPECT_EQ(FieldsOf(audioAssigned), FieldsOf(audio));
    videoCopy.Name = "changed";
    EXPECT_EQ(video.Name, "cam");
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
