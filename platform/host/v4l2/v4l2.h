// The machine's video capture devices (V4L2) as video input devices. The mapping from what a
// driver reports to our capability records, and the packing of its frames, are plain
// functions of the driver's records.
#pragma once

#include <linux/videodev2.h>

#include <string>
#include <vector>

#include "host/media/host_device.h"

namespace VornHost {

// What a driver reports for one pixel format: the format, its frame sizes and, for each size,
// its frame intervals (for a range of sizes: the intervals at the largest size).
struct V4l2SizeRecord {
    v4l2_frmsizeenum size;
    std::vector<v4l2_frmivalenum> intervals;
};
struct V4l2FormatRecord {
    v4l2_fmtdesc format;
    std::vector<V4l2SizeRecord> sizes;
};

// The subtype frames of a pixel format are delivered in: YUYV as YUY2, YU12 as I420, YV12 as
// YV12. False for every other format (compressed ones, packed RGB, semi-planar NV12, ...).
bool SubtypeOfPixelFormat(uint32_t pixelFormat, GUID* subtype);

// One capability per format we take and frame size (a range of sizes: one capability with
// its steps), with the range of frame rates of the size's intervals (1 to 30 frames a second
// when the driver reports none). Sizes outside 1..16384 and compressed formats are left out.
std::vector<VornWorld::VideoCapability> CapabilitiesOf(
    const std::vector<V4l2FormatRecord>& formats);

// Copies one frame of the driver's buffer (`stride` bytes per line of the first plane, the
// chroma planes of planar formats at half of it) into the packed layout of `subtype`, which
// holds VornWorld::FrameBytes(subtype, width, height) bytes. False, with nothing written, when
// the buffer is too short for the frame or the stride too small for a line.
bool PackFrame(const GUID& subtype, LONG width, LONG height, size_t stride, const BYTE* from,
               size_t fromBytes, BYTE* to);

// Every device node videoN of `folder` that captures video by streaming, in the order of N,
// named by its card name. Nodes that cannot be opened or asked are left out.
std::vector<HostDevice> ListV4l2Devices(const std::string& folder = "/dev");

}  // namespace VornHost
