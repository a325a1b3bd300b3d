// V4L2 devices: finding the capture nodes, reading their formats, and streaming from one by
// memory-mapped buffers.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "host/v4l2/v4l2.h"
#include "world/media_pixels.h"

namespace VornHost {
namespace {

using VornWorld::MediaSource;

// ioctl, again when a signal interrupted it.
int Ask(int fd, unsigned long request, void* record) {
    int result;
    do {
        result = ioctl(fd, request, record);
    } while (result < 0 && errno == EINTR);
    return result;
}

// An open file descriptor, closed with the object.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

uint32_t CapabilitiesOfNode(const v4l2_capability& caps) {
    return (caps.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? caps.device_caps : caps.capabilities;
}

std::vector<V4l2FormatRecord> FormatsOf(int fd) {
    std::vector<V4l2FormatRecord> formats;
    for (uint32_t i = 0; i < 256; ++i) {
        V4l2FormatRecord format{};
        format.format.index = i;
        format.format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (Ask(fd, VIDIOC_ENUM_FMT, &format.format) < 0) break;
        for (uint32_t j = 0; j < 1024; ++j) {
            V4l2SizeRecord size{};
            size.size.index = j;
            size.size.pixel_format = format.format.pixelformat;
            if (Ask(fd, VIDIOC_ENUM_FRAMESIZES, &size.size) < 0) break;
            bool discrete = size.size.type == V4L2_FRMSIZE_TYPE_DISCRETE;
            for (uint32_t k = 0; k < 256; ++k) {
                v4l2_frmivalenum interval{};
                interval.index = k;
                interval.pixel_format = format.format.pixelformat;
                interval.width = discrete ? size.size.discrete.width : size.size.stepwise.max_width;
                interval.height =
                    discrete ? size.size.discrete.height : size.size.stepwise.max_height;
                if (Ask(fd, VIDIOC_ENUM_FRAMEINTERVALS, &interval) < 0) break;
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

uint32_t PixelFormatOf(const GUID& subtype) {
    if (subtype == MEDIASUBTYPE_YUY2) return V4L2_PIX_FMT_YUYV;
    if (subtype == MEDIASUBTYPE_I420) return V4L2_PIX_FMT_YUV420;
    if (subtype == MEDIASUBTYPE_YV12) return V4L2_PIX_FMT_YVU420;
    return 0;
}

// Streams one node: the format set, buffers mapped and queued, frames taken as they come.
class V4l2Source final : public MediaSource {
public:
    V4l2Source(const std::string& path, const VornWorld::StreamFormat& format)
        : format_(format),
          device_(open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC)),
          wake_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

    ~V4l2Source() override {
        if (streaming_) {
            int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            Ask(device_.get(), VIDIOC_STREAMOFF, &type);
        }
        for (const Mapping& map : maps_) munmap(map.start, map.length);
    }

    // False when the device refuses the format or its buffers.
    bool Open() {
        const VornWorld::StreamFormat& format = format_;
        int fd = device_.get();
        if (fd < 0 || wake_.get() < 0 || PixelFormatOf(format.subtype) == 0) return false;
        v4l2_format wanted{};
        wanted.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        wanted.fmt.pix.pixelformat = PixelFormatOf(format.subtype);
        wanted.fmt.pix.width = static_cast<uint32_t>(format.width);
        wanted.fmt.pix.height = static_cast<uint32_t>(format.height);
        wanted.fmt.pix.field = V4L2_FIELD_NONE;
        if (Ask(fd, VIDIOC_S_FMT, &wanted) < 0 ||
            wanted.fmt.pix.pixelformat != PixelFormatOf(format.subtype) ||
            wanted.fmt.pix.width != static_cast<uint32_t>(format.width) ||
            wanted.fmt.pix.height != static_cast<uint32_t>(format.height))
            return false;
        stride_ = wanted.fmt.pix.bytesperline;
        if (stride_ == 0)
            stride_ = format.subtype == MEDIASUBTYPE_YUY2 ? wanted.fmt.pix.width * 2
                                                          : wanted.fmt.pix.width;
        // The rate is the driver's nearest to the one asked; a driver without rates keeps its own.
        v4l2_streamparm rate{};
        rate.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        rate.parm.capture.timeperframe = {static_cast<uint32_t>(format.interval), 10000000};
        Ask(fd, VIDIOC_S_PARM, &rate);
        return MapBuffers() && Stream();
    }

    void Begin() override {
        uint64_t drained;
        while (read(wake_.get(), &drained, sizeof drained) > 0) {
        }
        interrupted_ = false;
    }

    Result Read(BYTE* buffer, size_t bytes, uint64_t, REFERENCE_TIME* time) override {
        for (;;) {
            pollfd fds[2] = {{device_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
            if (poll(fds, 2, -1) < 0 && errno != EINTR) return Result::Failed;
            if (interrupted_) return Result::Interrupted;
            if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return Result::Failed;
            if ((fds[0].revents & POLLIN) == 0) continue;
            v4l2_buffer frame{};
            frame.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            frame.memory = V4L2_MEMORY_MMAP;
            if (Ask(device_.get(), VIDIOC_DQBUF, &frame) < 0) {
                if (errno == EAGAIN) continue;
                return Result::Failed;
            }
            bool whole =
                frame.index < maps_.size() && (frame.flags & V4L2_BUF_FLAG_ERROR) == 0 &&
                bytes >= VornWorld::FrameBytes(format_.subtype, format_.width, format_.height) &&
                PackFrame(format_.subtype, format_.width, format_.height, stride_,
                          static_cast<const BYTE*>(maps_[frame.index].start),
                          std::min<size_t>(frame.bytesused, maps_[frame.index].length), buffer);
            REFERENCE_TIME at = static_cast<REFERENCE_TIME>(frame.timestamp.tv_sec) * 10000000 +
                                static_cast<REFERENCE_TIME>(frame.timestamp.tv_usec) * 10;
            if (Ask(device_.get(), VIDIOC_QBUF, &frame) < 0) return Result::Failed;
            if (!whole) continue;  // a broken frame is skipped
            if (first_ < 0) first_ = at;
            *time = at - first_;
            return Result::Filled;
        }
    }

    void Interrupt() override {
        interrupted_ = true;
        uint64_t one = 1;
        ssize_t written = write(wake_.get(), &one, sizeof one);
        (void)written;
    }

private:
    struct Mapping {
        void* start;
        size_t length;
    };

    bool MapBuffers() {
        v4l2_requestbuffers request{};
        request.count = 4;
        request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        request.memory = V4L2_MEMORY_MMAP;
        if (Ask(device_.get(), VIDIOC_REQBUFS, &request) < 0 || request.count == 0) return false;
        for (uint32_t i = 0; i < request.count; ++i) {
            v4l2_buffer buffer{};
            buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buffer.memory = V4L2_MEMORY_MMAP;
            buffer.index = i;
            if (Ask(device_.get(), VIDIOC_QUERYBUF, &buffer) < 0) return false;
            void* start = mmap(nullptr, buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED,
                               device_.get(), buffer.m.offset);
            if (start == MAP_FAILED) return false;
            maps_.push_back({start, buffer.length});
            if (Ask(device_.get(), VIDIOC_QBUF, &buffer) < 0) return false;
        }
        return true;
    }

    bool Stream() {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        streaming_ = Ask(device_.get(), VIDIOC_STREAMON, &type) == 0;
        return streaming_;
    }

    const VornWorld::StreamFormat format_;
    Descriptor device_;
    Descriptor wake_;  // an event counter that Interrupt raises
    std::atomic<bool> interrupted_{false};
    std::vector<Mapping> maps_;
    size_t stride_ = 0;
    bool streaming_ = false;
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

std::vector<HostDevice> ListV4l2Devices(const std::string& folder) {
    std::vector<std::pair<long, std::string>> nodes;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            long number = NodeNumber(entry->d_name);
            if (number >= 0) nodes.emplace_back(number, folder + "/" + entry->d_name);
        }
        closedir(dir);
    }
    std::sort(nodes.begin(), nodes.end());
    std::vector<HostDevice> devices;
    for (const auto& node : nodes) {
        const std::string& path = node.second;
        Descriptor fd(open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
        v4l2_capability caps{};
        if (fd.get() < 0 || Ask(fd.get(), VIDIOC_QUERYCAP, &caps) < 0) continue;
        uint32_t node_caps = CapabilitiesOfNode(caps);
        if ((node_caps & V4L2_CAP_VIDEO_CAPTURE) == 0 || (node_caps & V4L2_CAP_STREAMING) == 0)
            continue;
        HostDevice device;
        device.key = "v4l2:" + path;
        VornWorld::DeviceConfig& config = device.config;
        config.kind = VornWorld::MediaKind::Video;
        std::string card(reinterpret_cast<const char*>(caps.card),
                         strnlen(reinterpret_cast<const char*>(caps.card), sizeof caps.card));
        config.friendlyName = WideFromUtf8(card);
        config.devicePath = WideFromUtf8(path);
        config.video = CapabilitiesOf(FormatsOf(fd.get()));
        device.open =
            [path](const VornWorld::StreamFormat& format) -> std::unique_ptr<MediaSource> {
            if (format.audio) return nullptr;
            auto source = std::make_unique<V4l2Source>(path, format);
            if (!source->Open()) return nullptr;
            return source;
        };
        devices.push_back(std::move(device));
    }
    return devices;
}

}  // namespace VornHost
