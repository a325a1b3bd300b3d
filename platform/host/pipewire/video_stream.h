// SPDX-License-Identifier: MIT
// A PipeWire video stream read into memory: the newest frame is kept for whoever asks. Used for
// screens handed out by the ScreenCast portal; nothing in it is specific to screens, so a camera
// node can be read the same way.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

struct spa_pod;

namespace VornWorld {
namespace host {
namespace pipewire {

// The pixel formats a stream reads, as a buffer holds them: the 32-bit RGB family (the alpha
// forms read as their x forms), 24-bit RGB and BGR, packed YUY2, Motion-JPEG, and (for readers
// of the frames as they are only, see Wish::native) planar I420 and NV12.
enum class RawFormat { BGRx, RGBx, xRGB, xBGR, RGB, BGR, YUY2, MJPEG, I420, NV12 };

// Whether a frame of `format` is read as it is or as I420 only: no conversion to RGB takes it.
bool NativeOnly(RawFormat format);

// A buffer's picture as the producer wrote it: `height` rows of `width` pixels, top row first,
// `stride` bytes apart (a Motion-JPEG image: `size` bytes of one image, stride 0). I420 and NV12
// follow with their chroma planes in the same block: the plane `i` at `data + offset[i]`,
// `strides[i]` bytes a row. The bytes are the stream's copy: they stay valid, and unchanged,
// while the frame they come from is held.
struct RawFrame {
    RawFormat format = RawFormat::BGRx;
    int width = 0;
    int height = 0;
    size_t stride = 0;
    const uint8_t* data = nullptr;
    size_t size = 0;  // from `data` to the end of the last row (or of the image)
    int planes = 1;   // 0 for Motion-JPEG
    size_t offset[3] = {};
    size_t strides[3] = {};
    uint64_t sequence = 0;
    // When the picture was made, in ns: the producer's presentation time where its buffers
    // carry one (`producerTime`), else the time of CLOCK_MONOTONIC when the buffer arrived.
    int64_t timeNs = 0;
    bool producerTime = false;
};

// One frame of the stream. The stream's data thread only copies a buffer's bytes into it, as
// they are, and hands the buffer back; anything made of the pixels is made on the thread of the
// reader that asks for it.
struct VideoFrame {
    VideoFrame();
    ~VideoFrame();
    VideoFrame(const VideoFrame&) = delete;
    VideoFrame& operator=(const VideoFrame&) = delete;

    // The picture as it arrived; valid while the frame is held. This is the frame path's way
    // in: a reader that takes the source's own format holds the frame (its shared_ptr is the
    // lease) and reads these bytes without any conversion.
    RawFrame Raw() const;

    // The picture as 0x00RRGGBB, top row first: converted (or decoded) on the first call, by
    // the thread that calls, once for all the frame's readers. Null when it does not decode
    // (a Motion-JPEG image cut short or corrupt).
    const uint32_t* Rgb32() const;
    // Whether ReadSpan can read the frame: always for the packed RGB formats, which it reads
    // straight from the raw bytes; for YUY2 and Motion-JPEG when Rgb32() gives pixels.
    bool Readable() const;
    // Pixels [x, x + count) of row y, inside the frame, as 0x00RRGGBB into `to`: converted
    // from the raw bytes as read (packed RGB), else copied from Rgb32(). The frame must be
    // Readable().
    void ReadSpan(int x, int y, int count, uint32_t* to) const;

    int width = 0;
    int height = 0;
    uint64_t sequence = 0;  // 1 for the stream's first frame, then one more for each
    struct Pixels;
    std::unique_ptr<Pixels> pixels;
};

class VideoStream {
public:
    // Connects to the PipeWire remote on `fd` (taken over; -1: the default remote of the
    // environment) and reads node `node` (negative: any video source). Shared-memory buffers
    // in the RawFormats are accepted; null when the remote cannot be reached.
    static std::unique_ptr<VideoStream> Open(int fd, int64_t node, const char* name);

    // What a reader prefers where the node offers a choice, and what it says it is for.
    struct Wish {
        int width = 1920;
        int height = 1080;
        int rate = 30;
        const char* role = "Screen";  // the stream's media.role
        bool yuvOnly = false;  // only YUY2, I420, NV12 and Motion-JPEG, for a reader of I420
        // The camera formats as they are (Motion-JPEG, YUY2, NV12, I420, and BGRx, RGBx, BGR
        // and RGB), for a reader that takes the frames in their own format (Raw()) and
        // converts them itself.
        bool native = false;
        // With `native`: the format `only` alone, at the wished size.
        bool pinned = false;
        RawFormat only = RawFormat::MJPEG;
    };
    static std::unique_ptr<VideoStream> Open(int fd, int64_t node, const char* name,
                                             const Wish& wish);
    ~VideoStream();
    VideoStream(const VideoStream&) = delete;
    VideoStream& operator=(const VideoStream&) = delete;

    // The newest frame; null before the first. A frame is not written again while anyone holds
    // it: it comes back to the stream through a lock once the last holder lets go.
    std::shared_ptr<const VideoFrame> Newest() const;
    // Waits up to `ms` milliseconds for a frame newer than `after` (a sequence number) or for
    // the stream's end; returns the newest frame (null when none came).
    std::shared_ptr<const VideoFrame> WaitNewer(uint64_t after, int ms) const;
    // Whether the stream has ended: its node went away, the remote closed or reported an
    // error. An ended stream delivers nothing more.
    bool Ended() const;

    struct State;

private:
    VideoStream() = default;
    std::unique_ptr<State> state_;
};

// Initialises the PipeWire library, once for the process.
void InitOnce();

// A video format a VideoStream reads, as a format parameter (a node's EnumFormat, a stream's
// Format) describes it: Motion-JPEG or one of the raw formats read, sides of 1 to 16384.
struct ReadableFormat {
    bool jpeg = false;
    uint32_t raw = 0;  // the spa_video_format, when not Motion-JPEG
    int width = 0;
    int height = 0;
    uint32_t rateNum = 0;  // the frame rate, 0/0 where none is given
    uint32_t rateDenom = 0;
};
// The format of a stream's bytes a format read gives (with `native`, I420 and NV12 too).
bool RawFormatOf(const ReadableFormat& format, RawFormat* raw, bool native);
// False for a parameter that is not such a format. `native`: I420 and NV12 are read too (by a
// stream opened with Wish::native).
bool ParseReadable(const spa_pod* param, ReadableFormat* format, bool native = false);

// PipeWire objects of this process that exist now (thread loops, contexts, cores, streams):
// every one a stream or a camera listing made is gone once it is destroyed.
long LiveObjects();

}  // namespace pipewire
}  // namespace host
}  // namespace VornWorld
