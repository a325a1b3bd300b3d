// SPDX-License-Identifier: MIT
// Frames taken from the capture layer's sources over the devices of the virtual world: their
// format as the device made them, numbers that say which frame is new, and pixels lent to the
// frame that later frames never overwrite while it is held.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "media_fixture.h"
#include "sources.h"

namespace {

using VornCapture::CaptureRequest;
using VornCapture::OwningCopy;
using VornCapture::Selector;
using VornCapture::Source;
using VornCapture::VideoFrame;

// The bytes of a frame's plane, row by row as they lie.
std::vector<uint8_t> Bytes(const VideoFrame& frame) {
    const VornCapture::Plane& plane = frame.planes[0];
    return {plane.data, plane.data + plane.stride * frame.height};
}

std::unique_ptr<Source> OpenSource(const char* kind, std::string& error) {
    const VornCapture::SourceKind* row = VornCapture::FindSourceKind(kind, "", error);
    if (row == nullptr) return nullptr;
    std::unique_ptr<Source> source = row->make(Selector{}, error);
    // A small screen; the camera at the size it offers first.
    CaptureRequest request;
    request.sizeGiven = std::string(kind) == "desktop";
    request.width = 64;
    request.height = 48;
    request.frameRate = 60;
    if (!source || !source->Open(request, error)) return nullptr;
    return source;
}

class CaptureFramesTest : public MediaDeviceTest,
                          public ::testing::WithParamInterface<const char*> {};

TEST_P(CaptureFramesTest, FramesAreTheDevicesRowsNumberedAndLentWhileHeld) {
    std::string error;
    std::unique_ptr<Source> source = OpenSource(GetParam(), error);
    ASSERT_TRUE(source) << error;
    const VornCapture::StreamFormat format = source->Format();

    std::vector<VideoFrame> held;
    std::vector<std::vector<uint8_t>> asTaken;
    for (int tries = 0; tries < 200 && held.size() < 8; ++tries) {
        VideoFrame frame;
        if (!source->TakeFrame(frame, 1000)) continue;
        EXPECT_EQ(VornCapture::PixelFormat::BGR24, frame.format);
        EXPECT_EQ(VornCapture::Orientation::BottomUp, frame.orientation);
        EXPECT_EQ(format.width, frame.width);
        EXPECT_EQ(format.height, frame.height);
        EXPECT_EQ(VornCapture::FrameError::None, VornCapture::Validate(frame));
        EXPECT_TRUE(frame.keeper) << "the pixels are held by nothing";
        if (!held.empty()) {
            EXPECT_GT(frame.sequence, held.back().sequence) << "a new frame has a new number";
            EXPECT_GE(frame.timeNs, held.back().timeNs);
        }
        asTaken.push_back(Bytes(frame));
        held.push_back(frame);
    }
    ASSERT_EQ(8u, held.size()) << "frames lost: " << source->Lost();
    // Each held frame still shows what it showed when taken, after every later one.
    for (size_t i = 0; i < held.size(); ++i)
        EXPECT_EQ(asTaken[i], Bytes(held[i])) << GetParam() << " frame " << i << " was overwritten";
    // A frame outlives its source.
    const VornCapture::OwnedFrame before = OwningCopy(held.back());
    source->Close();
    source.reset();
    EXPECT_EQ(Bytes(before.frame), Bytes(held.back()));
}

INSTANTIATE_TEST_SUITE_P(EveryDelivery, CaptureFramesTest, ::testing::Values("desktop", "camera"));

}  // namespace
