// SPDX-License-Identifier: MIT
// V4L2 devices: finding the capture nodes, reading their formats, and streaming from one by
// memory-mapped buffers, every call through a V4l2System.
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/v4l2/v4l2.h"
#include "host/v4l2/v4l2_node.h"
#include "world/media.h"
#include "world/media_pixels.h"

namespace VornWorld::host {
namespace {

using Clock = std::chrono::steady_clock;
using VornWorld::MediaSource;
using SystemHandle = std::shared_ptr<V4l2System>;

constexpr uint32_t kBuffers = 4;

using Node = V4l2Node;

uint32_t CapabilitiesOfNode(const v4l2_capability& caps) {
    return (caps.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? caps.device_caps : caps.capabilities;
}

std::string CardOf(const v4l2_capability& caps) {
    return std::string(reinterpret_cast<const char*>(caps.card),
                       strnlen(reinterpret_cast<const char*>(caps.card), sizeof caps.card));
}

std::vector<V4l2FormatRecord> FormatsOf(const Node& node) {
    std::vector<V4l2FormatRecord> formats;
    for (uint32_t i = 0; i < 256; ++i) {
        V4l2FormatRecord format{};
        format.format.index = i;
        format.format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (node.Ask(VIDIOC_ENUM_FMT, &format.format) < 0) break;
        for (uint32_t j = 0; j < 1024; ++j) {
            V4l2SizeRecord size{};
            size.size.index = j;
            size.size.pixel_format = format.format.pixelformat;
            if (node.Ask(VIDIOC_ENUM_FRAMESIZES, &size.size) < 0) break;
            bool discrete = size.size.type == V4L2_FRMSIZE_TYPE_DISCRETE;
            for (uint32_t k = 0; k < 256; ++k) {
                v4l2_frmivalenum interval{};
                interval.index = k;
                interval.pixel_format = format.format.pixelformat;
                interval.width = discrete ? size.size.discrete.width : size.size.stepwise.max_width;
                interval.height =
                    discrete ? size.size.discrete.height : size.size.stepwise.max_height;
                if (node.Ask(VIDIOC_ENUM_FRAMEINTERVALS, &interval) < 0) break;
                size.intervals.push_back(interval);
                if (interval.type != V4L2_FRMIVAL_TYPE_DISCRETE) break;
            }
            format.sizes.push_back(size);
            if (!discrete) break;  // a range is reported once
        }
        formats.push_back(format);
    }
    return formats;
}

void Report(const std::string& path, const char* what, int error) {
    std::fprintf(stderr, "vornplatform: camera %s: %s (%s)\n", path.c_str(), what,
                 V4l2Meaning(error));
}

// Streams one node: the format set, buffers mapped and queued, frames taken as they come.
class V4l2Source final : public MediaSource {
public:
    V4l2Source(SystemHandle system, std::string path, uint32_t pixelFormat,
               const VornWorld::StreamFormat& format, const V4l2Options& options)
        : path_(std::move(path)),
          pixelFormat_(pixelFormat),
          format_(format),
          node_(std::move(system), path_, &openError_),
          wake_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
        boundMs_ = FrameBoundMs(options.frameBoundMs, format.interval);
    }

    ~V4l2Source() override {
        ReleaseV4l2Buffers(node_, streaming_, &maps_);
        if (wake_ >= 0) close(wake_);
    }

    // False, with the reason on standard error, when the node is gone or busy or refuses the
    // format or its buffers.
    bool Open() {
        if (node_.fd() < 0) {
            Report(path_, "cannot be opened", openError_);
            return false;
        }
        if (wake_ < 0) return false;
        v4l2_pix_format got{};
        const int refused = SetV4l2Format(node_, pixelFormat_, static_cast<uint32_t>(format_.width),
                                          static_cast<uint32_t>(format_.height), &got);
        if (refused != 0) {
            Report(path_,
                   refused == EINVAL ? "offered another format than the one asked"
                                     : "refused the format",
                   refused);
            return false;
        }
        size_t stride = got.bytesperline;
        if (stride == 0) {
            const size_t w = got.width;
            stride = pixelFormat_ == V4L2_PIX_FMT_YUYV || pixelFormat_ == V4L2_PIX_FMT_UYVY ? w * 2
                     : pixelFormat_ == V4L2_PIX_FMT_BGR24 || pixelFormat_ == V4L2_PIX_FMT_RGB24
                         ? w * 3
                         : w;
        }
        unpacker_ = std::make_unique<FrameUnpacker>(pixelFormat_, format_.subtype, format_.width,
                                                    format_.height, stride);
        // The rate is the driver's nearest to the one asked; a driver without rates keeps its own.
        v4l2_streamparm rate{};
        rate.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        rate.parm.capture.timeperframe = {static_cast<uint32_t>(format_.interval), 10000000};
        node_.Ask(VIDIOC_S_PARM, &rate);
        if (!MapV4l2Buffers(node_, kBuffers, &maps_) || !Stream()) {
            Report(path_, "refused its buffers", errno);
            return false;
        }
        return true;
    }

    void Begin() override {
        uint64_t drained;
        while (read(wake_, &drained, sizeof drained) > 0) {
        }
        interrupted_ = false;
    }

    Result Read(BYTE* buffer, size_t bytes, uint64_t, REFERENCE_TIME* time) override {
        if (ended_) return Result::Failed;
        const bool room =
            bytes >= VornWorld::FrameBytes(format_.subtype, format_.width, format_.height);
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(boundMs_);
        for (;;) {
            if (interrupted_) return Result::Interrupted;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                ++V4l2Counts().stalls;
                return End("delivered no whole frame within its bound", ETIMEDOUT);
            }
            pollfd fds[2] = {{node_.fd(), POLLIN, 0}, {wake_, POLLIN, 0}};
            const int ready = node_.system().Poll(fds, 2, static_cast<int>(left.count()));
            if (ready < 0 && errno != EINTR) return Lost("could not be waited for", errno);
            if (interrupted_) return Result::Interrupted;
            if (ready <= 0) continue;
            if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0)
                return Lost("stopped answering", ENODEV);
            if ((fds[0].revents & POLLIN) == 0) continue;
            v4l2_buffer frame{};
            frame.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            frame.memory = V4L2_MEMORY_MMAP;
            if (node_.Ask(VIDIOC_DQBUF, &frame) < 0) {
                if (errno == EAGAIN) continue;
                return Lost("failed to hand over a frame", errno);
            }
            bool whole = false;
            if (frame.index < maps_.size()) {
                const V4l2Mapping& map = maps_[frame.index];
                whole = (frame.flags & V4L2_BUF_FLAG_ERROR) == 0 && room &&
                        unpacker_->Unpack(static_cast<const BYTE*>(map.start),
                                          std::min<size_t>(frame.bytesused, map.length), buffer);
            }
            REFERENCE_TIME at = static_cast<REFERENCE_TIME>(frame.timestamp.tv_sec) * 10000000 +
                                static_cast<REFERENCE_TIME>(frame.timestamp.tv_usec) * 10;
            if (node_.Ask(VIDIOC_QBUF, &frame) < 0) return Lost("refused a buffer back", errno);
            if (!whole) {  // a broken frame is dropped and counted; the bound runs on
                ++V4l2Counts().dropped;
                continue;
            }
            if (first_ < 0) first_ = at;
            *time = at - first_;
            ++V4l2Counts().delivered;
            return Result::Filled;
        }
    }

    void Interrupt() override {
        interrupted_ = true;
        uint64_t one = 1;
        ssize_t written = write(wake_, &one, sizeof one);
        (void)written;
    }

private:
    Result Lost(const char* what, int error) {
        ++V4l2Counts().lost;
        return End(what, error);
    }
    // The stream ends for good: said once, and every later Read fails at once.
    Result End(const char* what, int error) {
        Report(path_, what, error);
        ended_ = true;
        return Result::Failed;
    }

    bool Stream() {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        streaming_ = node_.Ask(VIDIOC_STREAMON, &type) == 0;
        return streaming_;
    }

    const std::string path_;
    const uint32_t pixelFormat_;
    const VornWorld::StreamFormat format_;
    int openError_ = 0;
    Node node_;
    int wake_;  // an event counter that Interrupt raises
    int boundMs_ = 0;
    std::atomic<bool> interrupted_{false};
    std::unique_ptr<FrameUnpacker> unpacker_;
    std::vector<V4l2Mapping> maps_;
    bool streaming_ = false;
    bool ended_ = false;
    REFERENCE_TIME first_ = -1;
};

// The number N of a name videoN, or -1.
long NodeNumber(const char* name) {
    if (std::strncmp(name, "video", 5) != 0 || name[5] == '\0') return -1;
    char* end = nullptr;
    long number = std::strtol(name + 5, &end, 10);
    return *end == '\0' && number >= 0 ? number : -1;
}

}  // namespace

int FrameBoundMs(int optionMs, REFERENCE_TIME interval) {
    const long long intervalMs = interval / 10000;
    return static_cast<int>(
        std::min<long long>(std::max<long long>(optionMs, 4 * intervalMs), 60 * 60 * 1000));
}

int ReadV4l2Formats(const std::shared_ptr<V4l2System>& system, const std::string& path,
                    std::vector<V4l2FormatRecord>* formats, std::string* card) {
    int error = 0;
    Node node(system, path, &error);
    if (node.fd() < 0) return error;
    v4l2_capability caps{};
    if (node.Ask(VIDIOC_QUERYCAP, &caps) < 0) return errno;
    *card = CardOf(caps);
    *formats = FormatsOf(node);
    return 0;
}

V4l2Counters& V4l2Counts() {
    static V4l2Counters counters;
    return counters;
}

std::vector<HostDevice> ListV4l2Devices(const std::shared_ptr<V4l2System>& system,
                                        const std::string& folder, const V4l2Options& options) {
    std::vector<std::pair<long, std::string>> nodes;
    for (const std::string& name : system->Names(folder)) {
        long number = NodeNumber(name.c_str());
        if (number >= 0) nodes.emplace_back(number, folder + "/" + name);
    }
    std::sort(nodes.begin(), nodes.end());
    std::vector<HostDevice> devices;
    for (const auto& entry : nodes) {
        const std::string& path = entry.second;
        int error = 0;
        Node node(system, path, &error);
        v4l2_capability caps{};
        if (node.fd() < 0 || node.Ask(VIDIOC_QUERYCAP, &caps) < 0) continue;
        uint32_t node_caps = CapabilitiesOfNode(caps);
        if ((node_caps & V4L2_CAP_VIDEO_CAPTURE) == 0 || (node_caps & V4L2_CAP_STREAMING) == 0)
            continue;
        HostDevice device;
        device.key = "v4l2:" + path;
        VornWorld::DeviceConfig& config = device.config;
        config.kind = VornWorld::MediaKind::Video;
        config.friendlyName = WideFromUtf8(CardOf(caps));
        config.devicePath = WideFromUtf8(path);
        std::vector<uint32_t> pixelFormats;
        config.video = CapabilitiesOf(FormatsOf(node), &pixelFormats);
        const std::vector<VornWorld::VideoCapability> modes = config.video;
        device.open = [system, path, modes, pixelFormats, options](
                          const VornWorld::StreamFormat& format) -> std::unique_ptr<MediaSource> {
            if (format.audio) return nullptr;
            // The mode the capture pin took: the first of the device's that fits the format.
            const int mode = VornWorld::FittingCapability(modes, format.subtype, format.width,
                                                          format.height, format.interval);
            if (mode < 0) return nullptr;
            auto source = std::make_unique<V4l2Source>(
                system, path, pixelFormats[static_cast<size_t>(mode)], format, options);
            if (!source->Open()) return nullptr;
            return source;
        };
        devices.push_back(std::move(device));
    }
    return devices;
}

}  // namespace VornWorld::host
