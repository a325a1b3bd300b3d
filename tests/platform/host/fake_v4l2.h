// SPDX-License-Identifier: MIT
// A V4L2 system made of data, for the tests of the host world's cameras: device nodes that
// answer the capability, format, frame-size and frame-interval queries from a description,
// and stream painted frames through real buffer queueing (REQBUFS, QUERYBUF, QBUF, DQBUF,
// STREAMON, STREAMOFF). Each open node is a real event counter, readable while a frame is
// ready, so the source waits on it with the system's own poll. Faults are rows: a call that
// fails with an errno, frames cut short or corrupt, a stream that stops giving frames, a node
// that is unplugged.
#pragma once

#include <linux/videodev2.h>

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "host/v4l2/v4l2_system.h"
#include "vorn/win/dshow.h"

namespace fakev4l2 {

struct Size {
    uint32_t width, height;
    std::vector<double> rates;  // frames a second, fastest first (as drivers list them)
};
struct Format {
    uint32_t fourcc;
    std::vector<Size> sizes;
};
struct Camera {
    std::string card;
    std::vector<Format> formats;
    uint32_t padding = 0;   // bytes after each line of the first plane (drivers that align)
    bool bareJpeg = false;  // Motion-JPEG frames without Huffman tables, as many webcams send
    uint32_t caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    uint32_t pictures = 0;  // frame k shows picture k % pictures, each painted once (0: frame k
                            // shows picture k, painted as it is sent)
};

// Calls a fault can hit besides the ioctls (given by their request).
constexpr unsigned long kOpen = 1, kPoll = 2;

// A call that fails: after `after` calls of its kind on the node (counted from when the fault
// was added), the next `times` calls (-1: every one) fail with `error`.
struct Fault {
    unsigned long call;
    int error;
    int after = 0;
    int times = 1;
};

// What the node does to its frames: those numbered in `truncated` are cut to a third of their
// bytes, those in `corrupt` have bytes after the first sixteen overwritten, those in `broken`
// carry V4L2_BUF_FLAG_ERROR, those in `skipped` are never handed (the driver's count jumps
// past them, as when it had no buffer); after `stallAfter` frames (-1: never) none comes any
// more.
struct FrameFaults {
    std::set<uint32_t> truncated, corrupt, broken;
    int stallAfter = -1;
    std::set<uint32_t> skipped{};
};

// The frame number `index` of the test picture as a node sends it in `fourcc` (lines of
// `stride` bytes where the format has lines), and as the graph hands it to a host: bottom-up
// RGB24 rows padded to four bytes, blue first.
std::vector<BYTE> PaintFrame(uint32_t fourcc, uint32_t width, uint32_t height, uint32_t stride,
                             uint64_t index);
// A JPEG image without its Huffman table segments (DHT): a decoder must use the standard ones.
std::vector<BYTE> WithoutHuffmanTables(const std::vector<BYTE>& jpeg);
std::vector<BYTE> ExpectedRgb(uint32_t fourcc, uint32_t width, uint32_t height, uint64_t index);

class FakeV4l2 final : public VornWorld::host::V4l2System {
public:
    static constexpr const char* kFolder = "/fake/dev";

    FakeV4l2() = default;
    ~FakeV4l2() override;

    // Node /fake/dev/videoN.
    void Plug(int number, const Camera& camera, FrameFaults faults = {});
    // The node goes: gone from the folder, its open descriptors fail with ENODEV.
    void Unplug(int number);
    void AddFault(int number, Fault fault);

    // Leak counts: descriptors open and buffers mapped now.
    int OpenDescriptors();
    int LiveMappings();
    uint32_t LastStreamed();  // the pixel format of the last stream started

    // The buffers of the descriptor that holds node N's, as the driver sees them now.
    struct BufferState {
        BYTE* memory;
        size_t length;
        bool queued = false;  // in the driver's queue (not handed out)
        bool mapped = false;
    };
    std::vector<BufferState> Buffers(int number);

    std::vector<std::string> Names(const std::string& folder) override;
    int Open(const std::string& path, int flags) override;
    int Close(int fd) override;
    int Ioctl(int fd, unsigned long request, void* record) override;
    void* Mmap(size_t length, int protection, int flags, int fd, off_t offset) override;
    int Munmap(void* start, size_t length) override;
    int Poll(pollfd* fds, nfds_t count, int timeoutMs) override;

private:
    struct Node;
    struct Handle;
    int Query(Handle& handle, unsigned long request, void* record);
    bool Failing(Node& node, unsigned long call, int* error);
    void Signal(Handle& handle);
    void FreeBuffers(Handle& handle);
    Handle* Find(int fd);

    std::mutex mutex_;
    std::map<int, Node*> nodes_;
    std::map<int, Handle*> handles_;  // by descriptor
    int liveMappings_ = 0;
    uint32_t lastStreamed_ = 0;
};

}  // namespace fakev4l2
