// SPDX-License-Identifier: MIT
// A V4L2 stream that lends its memory-mapped buffers instead of copying out of them: each frame
// the driver fills is handed as it lies in its buffer, in the device's own format, with a lease,
// and the buffer goes back into the driver's queue when the last copy of the lease is gone, on
// whichever thread lets it go. Nothing is decoded, converted or copied on the way.
//
// While every buffer is lent the driver has none to fill: Take waits for one to come back (or
// for its time to run out), it never takes a lent buffer back. Closing stops the stream at
// once; the node and the mappings stay until the last lease is gone, so a frame held past
// Close stays valid (and the node busy) until it is let go.
#pragma once

#include <linux/videodev2.h>

#include <cstdint>
#include <memory>
#include <string>

#include "host/v4l2/v4l2_system.h"

namespace VornWorld::host {

// One frame in a lent buffer.
struct V4l2LentFrame {
    const uint8_t* data = nullptr;      // the buffer's mapping
    size_t bytes = 0;                   // what the driver filled, never more than the mapping
    int64_t timeNs = 0;                 // the driver's time stamp
    uint64_t sequence = 0;              // the driver's frame count from 1, widened to 64 bits: a
                                        // frame the driver dropped leaves its number out
    uint32_t index = 0;                 // the driver's buffer
    std::shared_ptr<const void> lease;  // the buffer is queued again once the last copy goes
};

class V4l2LendingStream {
public:
    // Opens the node at `path` in exactly `pixelFormat` at `width` x `height`, asks for the frame
    // interval `interval` (0/0: the driver's own), maps `buffers` buffers and starts streaming.
    // Null, with the reason in `error`, when the node is gone or busy or refuses any of it.
    static std::unique_ptr<V4l2LendingStream> Open(std::shared_ptr<V4l2System> system,
                                                   const std::string& path, uint32_t pixelFormat,
                                                   uint32_t width, uint32_t height,
                                                   v4l2_fract interval, std::string* error,
                                                   uint32_t buffers = 4);
    ~V4l2LendingStream();
    V4l2LendingStream(const V4l2LendingStream&) = delete;
    V4l2LendingStream& operator=(const V4l2LendingStream&) = delete;

    // The format as the driver set it (its bytesperline and sizeimage).
    const v4l2_pix_format& Format() const;

    // Waits up to `waitMs` for the next frame the driver filled. False when none came in time,
    // when every buffer is lent and none came back, or when the stream ended. A frame the
    // driver marks broken is queued again at once and never handed (its number is left out).
    // One thread takes; leases may go on any thread.
    bool Take(V4l2LentFrame* frame, int waitMs);
    // Whether the stream failed (the node went away or refused a call); it hands nothing more.
    bool Ended() const;
    // The failure, for a person: "camera /dev/video0: failed to hand over a frame (gone: ...)".
    std::string Error() const;
    // Buffers the driver granted, and how many of them are lent now.
    uint32_t Buffers() const;
    uint32_t Lent() const;
    // Stops the stream; leases still held stay valid and are given back to nobody.
    void Close();

    struct Core;

private:
    explicit V4l2LendingStream(std::shared_ptr<Core> core);
    std::shared_ptr<Core> core_;
};

}  // namespace VornWorld::host
