// SPDX-License-Identifier: MIT
// A V4L2 camera no PipeWire node reads, handing its frames as the driver filled them: each
// frame lies in one of the driver's memory-mapped buffers, in the camera's own format and at
// the driver's stride, with the driver's time stamp and its frame count, and the buffer goes
// back to the driver when the last copy of the frame is let go. Nothing is copied, decoded or
// converted here. CameraSource takes its V4L2 cameras through it.
//
// A consumer holds buffers the driver cannot fill. By default, once all are held, Take returns
// no frame until one comes back (the driver drops the frames it had no buffer for, and their
// numbers count as lost). A consumer that may hold many frames at once (an encoder looking
// ahead) keeps some buffers with the driver instead (KeepWithDriver): a frame that would take
// one of those is copied once and its buffer goes back at once. Frames held past Close stay
// valid: the node and its buffers are released with the last of them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "camerasource.h"
#include "frame.h"

namespace VornWorld::host {
class V4l2System;
class V4l2LendingStream;
}  // namespace VornWorld::host

namespace VornCapture {

class V4l2Camera {
public:
    V4l2Camera();
    ~V4l2Camera();
    V4l2Camera(const V4l2Camera&) = delete;
    V4l2Camera& operator=(const V4l2Camera&) = delete;

    // Reads the modes of the node at `path` (through `system`: the machine's calls, or a device
    // of data). False, with the reason, when it cannot be opened or has no format the frame path
    // takes as it is (Motion-JPEG, YUYV, NV12, I420, packed RGB).
    bool Find(std::shared_ptr<VornWorld::host::V4l2System> system, const std::string& path,
              std::string& error);
    // Each format, size and frame rate of the camera, in the driver's order.
    const std::vector<CameraMode>& Modes() const { return modes_; }
    // The driver's card name.
    const std::string& Name() const { return name_; }

    // As CameraSource's.
    bool Open(const CameraMode& mode, std::string& error);
    // How many buffers are never lent: a frame in one of them is handed as a copy of its own.
    void KeepWithDriver(std::uint32_t buffers) { keep_ = buffers; }
    bool Take(VideoFrame& frame, int waitMs);
    bool Ended() const;
    std::uint64_t Lost() const;
    void Close();
    // Why the stream ended, for a person (empty while it runs).
    std::string Error() const;

    // The buffers the driver granted, and how many a frame holds now.
    std::uint32_t Buffers() const;
    std::uint32_t Held() const;

private:
    std::shared_ptr<VornWorld::host::V4l2System> system_;
    std::string path_;
    std::string name_;
    std::vector<CameraMode> modes_;
    std::vector<std::uint32_t> pixelFormats_;  // the driver's format of each mode
    CameraMode mode_;
    std::unique_ptr<VornWorld::host::V4l2LendingStream> stream_;
    std::uint64_t lastSequence_ = 0;
    std::uint64_t taken_ = 0;
    std::uint32_t keep_ = 0;
};

}  // namespace VornCapture
