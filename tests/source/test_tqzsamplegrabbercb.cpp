// SPDX-License-Identifier: MIT
#include "tqzsamplegrabbercb.h"
#include "tqzusbaudiodevice.h"
#include "tqzusbvideodevice.h"

#include <gtest/gtest.h>

#include <vector>

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
