// SPDX-License-Identifier: MIT
// A consumer of a queued screen source that is slow between takes: the frames waiting for it
// are the newest few the device made, and every frame it never saw is counted lost, the count
// agreeing with the numbers of the frames it did see.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "media_fixture.h"
#include "sources.h"

namespace {

using VornCapture::Source;
using VornCapture::VideoFrame;

class QueuedNewestTest : public MediaDeviceTest, public ::testing::WithParamInterface<int> {};

// The parameter: how long the consumer is away between two takes, in ms.
TEST_P(QueuedNewestTest, ASlowConsumerFindsTheNewestFramesAndTheRestCountedLost) {
    constexpr int kRate = 50;
    const int awayMs = GetParam();
    std::string error;
    const VornCapture::SourceKind* row = VornCapture::FindSourceKind("desktop", "queued", error);
    ASSERT_NE(row, nullptr) << error;
    std::unique_ptr<Source> source = row->make(VornCapture::Selector{}, error);
    ASSERT_TRUE(source) << error;
    VornCapture::CaptureRequest request;
    request.sizeGiven = true;
    request.width = 64;
    request.height = 48;
    request.frameRate = kRate;
    ASSERT_TRUE(source->Open(request, error)) << error;

    VideoFrame before;
    ASSERT_TRUE(source->TakeFrame(before, 2000));
    uint64_t seen = 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(awayMs));

    // What waits now, taken without waiting: the newest few, the first of them made while the
    // consumer was away, not just after it left.
    VideoFrame first, last = before;
    int waiting = 0;
    for (VideoFrame frame; source->TakeFrame(frame, 0); ++waiting) {
        if (waiting == 0) first = frame;
        EXPECT_GT(frame.sequence, last.sequence);
        last = frame;
        ++seen;
    }
    ASSERT_GT(waiting, 0);
    EXPECT_LE(waiting, 8) << "a slow consumer makes the source hold only a few frames";
    EXPECT_GE(first.timeNs - before.timeNs, int64_t{awayMs} * 1000000 / 2)
        << "the first frame waiting was made soon after the consumer left: an old one";
    // Lost: the frames the numbers of those seen leave out, and at least most of those the
    // device's rate made while the consumer was away (a loaded machine makes fewer).
    const uint64_t lost = source->Lost();
    EXPECT_EQ(lost, last.sequence - seen);
    EXPECT_GE(static_cast<int64_t>(lost), int64_t{awayMs} * kRate / 1000 / 2 - waiting);
    source->Close();
}

INSTANTIATE_TEST_SUITE_P(AwayFor, QueuedNewestTest, ::testing::Values(600, 2500));

}  // namespace
