// SPDX-License-Identifier: MIT
// The capture layer's one conversion: any frame format to BGRx, BGR24 or I420, at the source's
// size or scaled to another, written straight into memory the consumer describes (its own
// buffer, an array, a pipeline's buffer), so that a frame is converted once and never copied
// again. Built where libyuv is found (VORN_CAPTURE_HAS_CONVERT is then 1).
#pragma once

#include "frame.h"

namespace VornCapture {

enum class ConvertError {
    None,
    BadSource,    // the source frame fails Validate
    BadTarget,    // the target fails Validate
    Unsupported,  // the target's format is not one a conversion writes
    Failed,       // the data could not be converted (an undecodable JPEG, a size it disowns)
    NoMemory,     // an intermediate buffer could not be had
};

const char* ConvertErrorName(ConvertError error);

// Whether Convert writes `to` from `from`: every source format to BGRx, BGR24 and I420.
bool CanConvert(PixelFormat from, PixelFormat to);

// Converts `source` into `target`, scaling when their sizes differ and flipping when their
// orientations differ. An I420 target of full range is written from a Motion-JPEG source (its
// own planes as decoded, without the pass into video range) or a packed RGB one; from a YUV
// source, whose samples are video range, it is Unsupported. A refused source or target leaves the
// target's memory untouched; a JPEG that fails to decode part way may leave it partly written.
ConvertError Convert(const VideoFrame& source, const FrameTarget& target);

// Converts into a frame of its own, with the source's time stamp and sequence number.
struct Converted {
    ConvertError error = ConvertError::BadSource;
    VideoFrame frame;
};
Converted ConvertToOwned(const VideoFrame& source, PixelFormat format, std::uint32_t width,
                         std::uint32_t height, Orientation orientation = Orientation::TopDown);

}  // namespace VornCapture
