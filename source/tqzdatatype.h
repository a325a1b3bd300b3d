// SPDX-License-Identifier: MIT
#pragma once

namespace TQZCapture {

// Format of the bytes that a device delivers and that packets and frames carry.
// 32-bit; the values are fixed (6 to 8 are unassigned).
enum TQZDataType : int {
    DataTypeUnknown = 0,
    DataTypeRGB24 = 1,  // 24-bit RGB
    DataTypeRGB32 = 2,  // 32-bit RGB
    DataTypeI420 = 3,   // planar YUV 4:2:0 (Y, U, V)
    DataTypeYUY2 = 4,   // packed YUV 4:2:2
    DataTypeYV12 = 5,   // planar YUV 4:2:0 (Y, V, U)
    DataTypePCM = 9,    // PCM audio samples
};

}  // namespace TQZCapture
