// SPDX-License-Identifier: MIT
// Frames of a PipeWire stream coming back from their readers: a frame is written again only
// after every reader let go of it, ordered by the returns' mutex (the ThreadSanitizer build runs
// this suite too).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "host/pipewire/frame_returns.h"

namespace {

using VornWorld::host::pipewire::FrameReturns;
using VornWorld::host::pipewire::VideoFrame;

TEST(PipeWireFrameReturns, FramesComingBackAfterCloseAreFreed) {
    auto returns = std::make_shared<FrameReturns>();
    std::weak_ptr<VideoFrame> waiting, late;
    std::shared_ptr<const VideoFrame> held;
    {
        auto first = std::make_shared<VideoFrame>();
        auto second = std::make_shared<VideoFrame>();
        waiting = first;
        late = second;
        returns->HandOut(std::move(first));  // dropped at once: waits to be taken
        held = returns->HandOut(std::move(second));
    }
    EXPECT_FALSE(waiting.expired());
    returns->Close();
    EXPECT_TRUE(waiting.expired());
    returns.reset();  // the stream is gone; a reader still holds a frame
    EXPECT_FALSE(late.expired());
    held.reset();
    EXPECT_TRUE(late.expired());
}

// A stream thread publishing frames and writing again those that came back, beside readers
// that hold the newest for a while: a reader never sees its frame change under it.
TEST(PipeWireFrameReturns, FramesAreRewrittenOnlyAfterTheirReadersAreDone) {
    auto returns = std::make_shared<FrameReturns>();
    std::mutex mutex;
    std::shared_ptr<const VideoFrame> newest;
    std::atomic<bool> done{false};
    std::atomic<int> reused{0}, torn{0}, grabs{0};

    std::thread stream([&] {
        std::vector<std::shared_ptr<VideoFrame>> spare;
        for (uint64_t sequence = 1; grabs < 300 && sequence < 100000000; ++sequence) {
            for (auto& frame : returns->Take()) spare.push_back(std::move(frame));
            // Moved, not copied, as the stream does: a copy would update the count and so order
            // the writes below by itself, whether or not the returns did.
            if (spare.empty())
                spare.push_back(std::make_shared<VideoFrame>());
            else
                ++reused;
            std::shared_ptr<VideoFrame> frame = std::move(spare.back());
            spare.pop_back();
            // Three fields that agree with each other while nobody writes the frame.
            frame->sequence = sequence;
            frame->width = static_cast<int>(sequence % 1000);
            frame->height = static_cast<int>(sequence % 777);
            std::shared_ptr<const VideoFrame> previous, handle = returns->HandOut(frame);
            {
                std::lock_guard<std::mutex> lock(mutex);
                previous = std::move(newest);
                newest = std::move(handle);
            }
        }
        done = true;
    });
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r) {
        readers.emplace_back([&] {
            while (!done) {
                std::shared_ptr<const VideoFrame> frame;
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    frame = newest;
                }
                if (!frame) continue;
                auto agrees = [&frame] {
                    const uint64_t s = frame->sequence;
                    return frame->width == static_cast<int>(s % 1000) &&
                           frame->height == static_cast<int>(s % 777);
                };
                ++grabs;
                const uint64_t first = frame->sequence;
                if (!agrees()) ++torn;
                std::this_thread::sleep_for(std::chrono::microseconds(100));
                if (!agrees() || frame->sequence != first) ++torn;
                // Let go, then stay away from the lock for a while: nothing but the way frames
                // come back orders the reads above before the frame is written again.
                frame.reset();
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
    }
    stream.join();
    for (auto& reader : readers) reader.join();
    EXPECT_EQ(0, torn.load());
    EXPECT_GT(reused.load(), 0);
    newest.reset();
    returns->Close();
}

}  // namespace
