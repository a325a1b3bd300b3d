// SPDX-License-Identifier: MIT
#include "tqzsamplegrabbercb.h"
#include "tqzusbaudiodevice.h"
#include "tqzusbvideodevice.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "graphprobes.h"

using namespace TQZCapture;

namespace {

struct Frame {
    double time;
    unsigned char* data;
    long length;
};

class RecordingGrabber : public TQZSampleGrabberCB {
public:
    std::vector<Frame> frames;

protected:
    void FrameHandler(double time, unsigned char* data, long length) override {
        frames.push_back({time, data, length});
    }
};

// Reaches the protected graph operations of the devices.
using OpenVideo = VideoGraphProbe;
using OpenAudio = AudioGraphProbe;

}  // namespace

TEST(TQZSampleGrabberCB, IdentityWithoutReferenceCounting) {
    RecordingGrabber grabber;
    ISampleGrabberCB* self = &grabber;
    void* out = nullptr;
    for (const IID* iid : {&IID_IUnknown, &IID_ISampleGrabberCB}) {
        out = nullptr;
        EXPECT_EQ(grabber.QueryInterface(*iid, &out), S_OK);
        EXPECT_EQ(out, static_cast<void*>(self));
    }
    void* untouched = &grabber.frames;
    out = untouched;
    EXPECT_EQ(grabber.QueryInterface(IID_IBaseFilter, &out), E_NOINTERFACE);
    EXPECT_EQ(out, untouched);
    EXPECT_EQ(grabber.QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(self->AddRef(), 2u);
        EXPECT_EQ(self->Release(), 1u);
        EXPECT_EQ(self->Release(), 1u);
    }
    EXPECT_EQ(self->SampleCB(1.5, nullptr), S_OK);
}

TEST(TQZSampleGrabberCB, BufferCBPassesOnlyRealBuffers) {
    RecordingGrabber grabber;
    unsigned char bytes[16] = {};
    EXPECT_EQ(grabber.BufferCB(1.0, nullptr, 16), E_POINTER);
    EXPECT_EQ(grabber.BufferCB(1.0, bytes, 0), E_POINTER);
    EXPECT_EQ(grabber.BufferCB(1.0, bytes, -4), E_POINTER);
    EXPECT_TRUE(grabber.frames.empty());
    EXPECT_EQ(grabber.BufferCB(2.25, bytes, 16), S_OK);
    ASSERT_EQ(grabber.frames.size(), 1u);
    EXPECT_EQ(grabber.frames[0].time, 2.25);
    EXPECT_EQ(grabber.frames[0].data, bytes);
    EXPECT_EQ(grabber.frames[0].length, 16);

    TQZUSBVideoDevice video;  // no callback stored: the buffer is dropped, still S_OK
    EXPECT_EQ(static_cast<TQZSampleGrabberCB&>(video).BufferCB(0.5, bytes, 16), S_OK);
}

// What holds on every system without building a graph (no message box can appear).
TEST(TQZUSBDevices, FreshDevicesAndGraphlessOperations) {
    OpenVideo video;
    OpenAudio audio;
    EXPECT_EQ(std::make_pair(video.Width, video.Height), std::make_pair(640u, 480u));
    EXPECT_EQ(video.FrameRate, 20u);
    EXPECT_EQ(video.CallBack, nullptr);
    EXPECT_EQ(audio.CallBack, nullptr);

    EXPECT_EQ(video.SetVideoCapFormat(640, 480, 20, DataTypePCM), long(E_FAIL));
    EXPECT_EQ(video.SetVideoCapFormat(640, 480, 20, DataTypeI420), long(E_FAIL));  // no builder
    EXPECT_EQ(video.UpdateVideoCapOpt(640, 480, 0, DataTypeI420, false), long(E_FAIL));
    EXPECT_EQ(video.ConnectFilters(nullptr, nullptr), long(E_FAIL));
    EXPECT_EQ(video.ConnectFilters(TQZComPointer<IGraphBuilder>(), TQZComPointer<IBaseFilter>(),
                                   TQZComPointer<IBaseFilter>()),
              long(E_INVALIDARG));
    IPin* pin = nullptr;
    EXPECT_LT(video.GetPin(nullptr, PINDIR_OUTPUT, &pin), 0);
    EXPECT_EQ(pin, nullptr);
    EXPECT_EQ(audio.EnumPinsOnFilter(nullptr, PINDIR_OUTPUT), 0u);
    EXPECT_EQ(audio.UpdateAudioCapOpt(0, 8000, 8, 1), long(E_FAIL));
    EXPECT_EQ(audio.SampleRate * 100 + audio.BitsPerSample * 10 + audio.Channels, 800081u);

    AM_MEDIA_TYPE* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    ASSERT_NE(type, nullptr);
    *type = AM_MEDIA_TYPE();
    type->cbFormat = 88;
    type->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(88));
    video.FreeMediaType(*type);
    EXPECT_EQ(type->cbFormat, 0u);
    EXPECT_EQ(type->pbFormat, nullptr);
    video.DeleteMediaType(type);
    video.DeleteMediaType(nullptr);
}
