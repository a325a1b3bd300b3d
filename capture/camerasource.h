// SPDX-License-Identifier: MIT
// A camera of the host world handing its frames in its own format: Motion-JPEG, YUY2, NV12,
// I420 (or packed RGB) as the camera gives them, with their strides, the producer's time and a
// sequence number, lent for as long as a frame is held. Nothing is decoded or converted here: a
// consumer converts the frames it takes, once, to what it wants (convert.h).
//
// A PipeWire camera's stream data thread copies each buffer once as it arrives (the buffer
// must go back to the producer within the graph cycle) and that copy is what a frame lends. A
// V4L2 camera no PipeWire node reads lends the driver's own buffers (v4l2camera.h): no copy.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "frame.h"
#include "sources.h"

namespace VornCapture {

// One mode of a camera: its format, size and rate (0/0: a rate the camera does not fix).
struct CameraMode {
    PixelFormat format = PixelFormat::MJPEG;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t rateNum = 0;
    std::uint32_t rateDenom = 0;
};

class CameraSource {
public:
    CameraSource();
    ~CameraSource();
    CameraSource(const CameraSource&) = delete;
    CameraSource& operator=(const CameraSource&) = delete;

    // Finds the camera `selector` names, by its index or name among the cameras the library
    // lists in the host world. False, with the reason, when there is none, when the process
    // captures another world, or when the camera cannot hand its frames as they are (none of
    // its formats is one of the frame path's).
    bool Find(const Selector& selector, std::string& error);
    // The modes of the camera found, in its own order.
    const std::vector<CameraMode>& Modes() const;
    std::string Name() const;

    // Starts the camera in `mode` (one of Modes()). False with the reason when it cannot start.
    bool Open(const CameraMode& mode, std::string& error);
    // Waits up to `waitMs` for a frame newer than the last one taken, in the mode opened; false
    // when none came (or the camera ended). A frame of another size or format than the mode's
    // is passed over and counted as lost.
    bool Take(VideoFrame& frame, int waitMs);
    // Whether the camera went away or failed; it delivers nothing more.
    bool Ended() const;
    // Frames the camera made since it opened that never reached Take.
    std::uint64_t Lost() const;
    void Close();

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace VornCapture
