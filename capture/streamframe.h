// SPDX-License-Identifier: MIT
// A PipeWire stream's frames on the frame path: the stream's formats paired with the frame
// path's, and the stream's copy of a picture lent as a VideoFrame. Shared by the sources that
// read such a stream (the cameras, the portal's screen); reached through the platform's own
// headers, so it is for the layer's sources only, never for its faces.
#pragma once

#include <memory>

#include "frame.h"
#include "host/pipewire/video_stream.h"

namespace VornCapture {

// The frame path's format of a stream's; false for one it has none of (xRGB, xBGR).
bool FormatOfStream(VornWorld::host::pipewire::RawFormat raw, PixelFormat* format);

// The stream's format of the frame path's (Motion-JPEG for one no stream reads).
VornWorld::host::pipewire::RawFormat StreamFormatOf(PixelFormat format);

// The stream's frame `frame` as it arrived, lent: the frame (its shared pointer) is the lease,
// so the picture is not written again while the VideoFrame or a copy of it lives. Time stamp
// and sequence number are the stream's. False for a format the frame path has none of, or a
// picture that fails Validate.
bool LendStreamFrame(std::shared_ptr<const VornWorld::host::pipewire::VideoFrame> frame,
                     VideoFrame& lent);

}  // namespace VornCapture
