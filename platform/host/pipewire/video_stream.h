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

// One frame of `height` rows of `width` pixels, top row first, as 0x00RRGGBB: each buffer the
// stream receives is converted (RGB) or decoded (YUY2, Motion-JPEG) into a frame of our own as
// it arrives, and the buffer goes back to the producer at once.
struct VideoFrame {
    VideoFrame();
    ~VideoFrame();
    VideoFrame(const VideoFrame&) = delete;
    VideoFrame& operator=(const VideoFrame&) = delete;

    // Row y from pixel x on, inside the frame, where the frame keeps it: valid while the frame
    // is held.
    const uint32_t* Row(int x, int y) const;
    // Pixels [x, x + count) of row y, which lie inside the frame, as 0x00RRGGBB into `to`.
    void ReadRow(int x, int y, int count, uint32_t* to) const;

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
    // in the 32-bit RGB family (BGRx, RGBx, xRGB, xBGR and their alpha forms), in 24-bit RGB
    // and BGR, in YUY2 and in Motion-JPEG (as cameras give them) are accepted; null when the
    // remote cannot be reached.
    static std::unique_ptr<VideoStream> Open(int fd, int64_t node, const char* name);

    // What a reader prefers where the node offers a choice, and what it says it is for.
    struct Wish {
        int width = 1920;
        int height = 1080;
        int rate = 30;
        const char* role = "Screen";  // the stream's media.role
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
// False for a parameter that is not such a format.
bool ParseReadable(const spa_pod* param, ReadableFormat* format);

// PipeWire objects of this process that exist now (thread loops, contexts, cores, streams):
// every one a stream made is gone once the stream is destroyed.
long LiveObjects();

}  // namespace pipewire
}  // namespace host
}  // namespace VornWorld
