// SPDX-License-Identifier: MIT
// The machine's video capture devices (V4L2) as video input devices. The mapping from what a
// driver reports to our capability records, and the unpacking of its frames, are plain
// functions of the driver's records; the device calls go through V4l2System.
#pragma once

#include <linux/videodev2.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "host/media/host_device.h"
#include "host/v4l2/v4l2_system.h"

namespace VornWorld::host {

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

// The subtype frames of a pixel format are delivered in: YUYV and UYVY as YUY2, YU12, NV12
// and NV21 as I420, YV12 as YV12, BGR24, RGB24 and Motion-JPEG (decoded) as RGB24. False for
// every other format (H.264 and the other compressed ones, packed RGB of other depths, ...).
bool SubtypeOfPixelFormat(uint32_t pixelFormat, GUID* subtype);

// The card name and the formats, sizes and intervals the node at `path` reports, in the
// driver's order. 0, or the errno when the node cannot be opened or asked.
int ReadV4l2Formats(const std::shared_ptr<V4l2System>& system, const std::string& path,
                    std::vector<V4l2FormatRecord>* formats, std::string* card);

// One capability per format we take and frame size (a range of sizes: one capability with
// its steps), with the range of frame rates of the size's intervals (1 to 30 frames a second
// when the driver reports none), in the driver's order. Sizes outside 1..16384 and formats we
// do not take are left out. The Motion-JPEG modes follow a second time at the end, as I420,
// decoded straight to planar YUV (the decoder converts no colours): a host that asks for I420
// first finds a webcam's larger sizes at their full rate. `pixelFormats`, when given,
// receives the pixel format of each.
std::vector<VornWorld::VideoCapability> CapabilitiesOf(
    const std::vector<V4l2FormatRecord>& formats, std::vector<uint32_t>* pixelFormats = nullptr);

// Turns the frames of one pixel format and size, as the driver fills its buffers (`stride`
// bytes per line of the first plane, the chroma planes of planar formats at half of it), into
// the packed layout of a subtype, which holds VornWorld::FrameBytes(subtype, width, height)
// bytes: the format's own (SubtypeOfPixelFormat), or I420 for Motion-JPEG and packed 4:2:2
// (YUYV, UYVY: the chroma of each two rows averaged). Motion-JPEG frames are decoded with
// libjpeg-turbo; as I420 their full-range YUV of any chroma sampling becomes the limited range
// and 4:2:0 sampling of video. The PipeWire cameras unpack their frames here too.
class FrameUnpacker {
public:
    FrameUnpacker(uint32_t pixelFormat, LONG width, LONG height, size_t stride);
    FrameUnpacker(uint32_t pixelFormat, const GUID& subtype, LONG width, LONG height,
                  size_t stride);
    ~FrameUnpacker();
    FrameUnpacker(const FrameUnpacker&) = delete;
    FrameUnpacker& operator=(const FrameUnpacker&) = delete;

    // False when the frame cannot be whole: a buffer too short for it, a stride too small for
    // a line, a JPEG image that is corrupt, cut short or of another size. Uncompressed frames
    // are checked before anything is written; a failed JPEG frame may leave part of `to` written.
    bool Unpack(const BYTE* from, size_t bytes, BYTE* to);

private:
    bool DecodeJpeg(const BYTE* from, size_t bytes, BYTE* to, size_t rowBytes);
    bool DecodeJpegToI420(const BYTE* from, size_t bytes, BYTE* to);
    bool DecodeJpegOfRgbToI420(const BYTE* from, size_t bytes, BYTE* to);
    void PackedToI420(const BYTE* from, bool swap, BYTE* to) const;
    // The decompressor, made on the first JPEG frame; null when none can be made. And the
    // image's own size and chroma sampling, false when it is not one of this frame's size.
    void* Decompressor();
    bool ReadJpegHeader(const BYTE* from, size_t bytes, int* subsampling, int* colours = nullptr);
    // A decompressor stopped inside an image does not take the next one whole: a new one.
    bool Renew();

    uint32_t pixelFormat_;
    GUID subtype_;  // what the frames become
    LONG width_, height_;
    size_t stride_;
    void* jpeg_ = nullptr;
    std::vector<BYTE> planes_;  // a JPEG image's YUV planes as decoded, for I420
};

// Counts of the process's V4L2 streams, for hosts and tests.
struct V4l2Counters {
    std::atomic<unsigned long> delivered{0};  // frames handed to the graph
    std::atomic<unsigned long> dropped{0};    // frames the driver marked broken or that were
                                              // cut short or corrupt
    std::atomic<unsigned long> stalls{0};     // streams ended: no whole frame within the bound
    std::atomic<unsigned long> lost{0};       // streams ended: the device failed or went away
};
V4l2Counters& V4l2Counts();

// How long a camera stream waits for its next frame: `optionMs`, never less than four frame
// intervals (`interval` in 100 ns units), an hour at most.
int FrameBoundMs(int optionMs, REFERENCE_TIME interval);

struct V4l2Options {
    // How long a stream waits for its next whole frame (at least four frame intervals) before
    // it ends as stalled.
    int frameBoundMs = 5000;
};

// Every device node videoN of `folder` that captures video by streaming, in the order of N,
// named by its card name. Nodes that cannot be opened or asked are left out. Each device opens
// its node anew when its graph runs; a node gone or busy by then fails that run.
std::vector<HostDevice> ListV4l2Devices(const std::shared_ptr<V4l2System>& system = MachineV4l2(),
                                        const std::string& folder = "/dev",
                                        const V4l2Options& options = {});

}  // namespace VornWorld::host
