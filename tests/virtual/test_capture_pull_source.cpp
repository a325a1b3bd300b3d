// SPDX-License-Identifier: MIT
// The capture layer's pulled source over the camera device of the virtual world: whether a Get
// brought a new frame is what the graph says, never what the pixels look like.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "delivery.h"
#include "media_fixture.h"
#include "tqzcameradevice.h"

namespace {

using VornCapture::CaptureRequest;
using VornCapture::PullSource;

// A camera whose test picture cannot move: at 2 x 2 the bars and the square fill the frame
// whatever the frame's index, so every frame is the same, as a slide or a test card is.
VornWorld::DeviceId AddStillCamera() {
    VornWorld::DeviceConfig still = VornWorld::DefaultCamera();
    still.friendlyName = L"Still camera";
    still.video = {{MEDIASUBTYPE_RGB24, 2, 2}};
    return VornWorld::AddDevice(still, 0);
}

class ToolPullSourceTest : public MediaDeviceTest {
protected:
    void SetUp() override {
        MediaDeviceTest::SetUp();
        camera_ = AddStillCamera();
        description_.Index = 0;
        request_.sizeGiven = true;
        request_.width = request_.height = 2;
        request_.frameRate = 30;
    }
    VornWorld::DeviceId camera_ = VornWorld::kNoDevice;
    TQZCapture::TQZCameraDevice description_;
    CaptureRequest request_;
};

TEST_F(ToolPullSourceTest, AStillPictureGivesEveryFrameAsked) {
    PullSource<TQZCapture::TQZCameraDevice> source(&description_);
    std::string error;
    ASSERT_TRUE(source.Open(request_, error)) << error;
    std::vector<std::vector<uint8_t>> frames;
    for (int taken = 0; taken < 200 && frames.size() < 12; ++taken) {
        const uint8_t* data = nullptr;
        size_t size = 0;
        double seconds = 0;
        if (source.Take(data, size, seconds, 1000)) frames.emplace_back(data, data + size);
    }
    ASSERT_EQ(12u, frames.size()) << "frames refused: " << source.Lost();
    for (const auto& frame : frames) EXPECT_EQ(frames.front(), frame) << "the picture moved";
    EXPECT_EQ(0u, source.Lost());
    EXPECT_LE(12u, VornWorld::Activity(camera_).samplesDelivered);
}

// A graph that no longer runs after the first frame: each Get finds the completion of no grab
// and copies the grabber's kept frame again, which must never pass for a new one.
TEST_F(ToolPullSourceTest, TheKeptFrameOfAGraphThatNoLongerRunsIsNoNewFrame) {
    PullSource<TQZCapture::TQZCameraDevice> source(&description_);
    std::string error;
    ASSERT_TRUE(source.Open(request_, error)) << error;
    const uint8_t* data = nullptr;
    size_t size = 0;
    double seconds = 0;
    bool first = false;
    for (int tries = 0; tries < 50 && !first; ++tries)
        first = source.Take(data, size, seconds, 1000);
    ASSERT_TRUE(first);
    VornWorld::FailCall("IMediaControl::Run", 0, VornWorld::kAlways);
    for (int tries = 0; tries < 5; ++tries)
        EXPECT_FALSE(source.Take(data, size, seconds, 200)) << "try " << tries;
    EXPECT_LE(1u, source.Lost());
}

}  // namespace
