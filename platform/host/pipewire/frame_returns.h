// SPDX-License-Identifier: MIT
// Frames a stream hands to readers on other threads, and how they come back to it. A reader's
// handle on a frame is a shared_ptr; when its last copy is dropped, on whatever thread, the frame
// is queued here under a mutex, and the stream's thread takes it out under the same mutex before
// it writes the frame again or gives its buffer back. So everything a reader did with a frame
// happens before the frame's reuse, which a look at use_count() (a relaxed read) cannot promise.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "host/pipewire/video_stream.h"

namespace VornWorld {
namespace host {
namespace pipewire {

class FrameReturns : public std::enable_shared_from_this<FrameReturns> {
public:
    // A handle on `frame` for readers. The frame comes back here once the handle and all its
    // copies are gone; after Close() it is freed instead.
    std::shared_ptr<const VideoFrame> HandOut(std::shared_ptr<VideoFrame> frame);

    // The frames that came back since the last call, in the order they came.
    std::vector<std::shared_ptr<VideoFrame>> Take();

    // The stream is going: frames waiting here and frames coming back later are freed.
    void Close();

private:
    void Back(std::shared_ptr<VideoFrame> frame);

    std::mutex mutex_;
    std::vector<std::shared_ptr<VideoFrame>> back_;
    bool closed_ = false;
};

}  // namespace pipewire
}  // namespace host
}  // namespace VornWorld
