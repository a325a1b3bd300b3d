// SPDX-License-Identifier: MIT
#include "host/pipewire/frame_returns.h"

#include <utility>

namespace VornWorld {
namespace host {
namespace pipewire {

std::shared_ptr<const VideoFrame> FrameReturns::HandOut(std::shared_ptr<VideoFrame> frame) {
    VideoFrame* raw = frame.get();
    return std::shared_ptr<const VideoFrame>(
        raw, [self = shared_from_this(), frame = std::move(frame)](const VideoFrame*) mutable {
            self->Back(std::move(frame));
        });
}

void FrameReturns::Back(std::shared_ptr<VideoFrame> frame) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!closed_) {
        back_.push_back(std::move(frame));
        return;
    }
    lock.unlock();
    frame.reset();  // freed without the lock held
}

std::vector<std::shared_ptr<VideoFrame>> FrameReturns::Take() {
    std::vector<std::shared_ptr<VideoFrame>> frames;
    std::lock_guard<std::mutex> lock(mutex_);
    frames.swap(back_);
    return frames;
}

void FrameReturns::Close() {
    std::vector<std::shared_ptr<VideoFrame>> frames;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        frames.swap(back_);
    }
}

}  // namespace pipewire
}  // namespace host
}  // namespace VornWorld
