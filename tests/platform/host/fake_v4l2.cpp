// SPDX-License-Identifier: MIT
#include "fake_v4l2.h"

#include <sys/eventfd.h>
#include <sys/mman.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <deque>
#include <memory>

#include "jpeg.h"
#include "shared/testsignal.h"

namespace fakev4l2 {
namespace {

using VornSignal::PixelLayout;

constexpr size_t kPage = 4096;

bool Compressed(uint32_t fourcc) {
    return fourcc == V4L2_PIX_FMT_MJPEG || fourcc == V4L2_PIX_FMT_H264;
}

// Bytes per pixel of the first plane of a format with lines (0: a compressed one, 1: the 4:2:0
// formats with their chroma in planes of their own).
uint32_t LineBytesPerPixel(uint32_t fourcc) {
    switch (fourcc) {
        case V4L2_PIX_FMT_YUYV:
        case V4L2_PIX_FMT_UYVY:
            return 2;
        case V4L2_PIX_FMT_BGR24:
        case V4L2_PIX_FMT_RGB24:
            return 3;
        case V4L2_PIX_FMT_YUV420:
        case V4L2_PIX_FMT_YVU420:
        case V4L2_PIX_FMT_NV12:
        case V4L2_PIX_FMT_NV21:
            return 1;
        default:
            return 0;
    }
}

std::vector<BYTE> Paint(PixelLayout layout, uint32_t width, uint32_t height, uint64_t index) {
    std::vector<BYTE> frame(VornSignal::FrameBytes(layout, width, height)), scratch;
    VornSignal::PaintTestFrame(layout, width, height, index, frame.data(), scratch);
    return frame;
}

size_t RgbRow(uint32_t width) { return (size_t{width} * 3 + 3) / 4 * 4; }

v4l2_fract IntervalOf(double rate) {
    const double whole = std::round(rate);
    if (std::fabs(whole - rate) < 1e-9) return {1, static_cast<uint32_t>(whole)};
    return {1000, static_cast<uint32_t>(std::lround(rate * 1000))};
}

}  // namespace

std::vector<BYTE> PaintFrame(uint32_t fourcc, uint32_t width, uint32_t height, uint32_t stride,
                             uint64_t index) {
    const size_t w = width, h = height, halfW = (w + 1) / 2, halfH = (h + 1) / 2;
    std::vector<BYTE> out;
    // Lines of `rowBytes` from `from` written `stride` apart.
    auto lines = [&](const BYTE* from, size_t rowBytes, size_t rows, size_t step) {
        for (size_t row = 0; row < rows; ++row) {
            out.insert(out.end(), from + row * rowBytes, from + (row + 1) * rowBytes);
            out.insert(out.end(), step - rowBytes, 0xEE);  // padding
        }
    };
    switch (fourcc) {
        case V4L2_PIX_FMT_YUYV:
        case V4L2_PIX_FMT_UYVY: {
            std::vector<BYTE> yuy2 = Paint(PixelLayout::YUY2, width, height, index);
            if (fourcc == V4L2_PIX_FMT_UYVY)
                for (size_t i = 0; i + 1 < yuy2.size(); i += 2) std::swap(yuy2[i], yuy2[i + 1]);
            lines(yuy2.data(), halfW * 4, h, stride);
            break;
        }
        case V4L2_PIX_FMT_YUV420:
        case V4L2_PIX_FMT_YVU420: {
            const std::vector<BYTE> planes =
                Paint(fourcc == V4L2_PIX_FMT_YUV420 ? PixelLayout::I420 : PixelLayout::YV12, width,
                      height, index);
            lines(planes.data(), w, h, stride);
            lines(planes.data() + w * h, halfW, halfH, stride / 2);
            lines(planes.data() + w * h + halfW * halfH, halfW, halfH, stride / 2);
            break;
        }
        case V4L2_PIX_FMT_NV12:
        case V4L2_PIX_FMT_NV21: {
            const std::vector<BYTE> i420 = Paint(PixelLayout::I420, width, height, index);
            lines(i420.data(), w, h, stride);
            const BYTE* u = i420.data() + w * h;
            const BYTE* v = u + halfW * halfH;
            if (fourcc == V4L2_PIX_FMT_NV21) std::swap(u, v);
            std::vector<BYTE> pairs(halfW * 2 * halfH);
            for (size_t i = 0; i < halfW * halfH; ++i) {
                pairs[2 * i] = u[i];
                pairs[2 * i + 1] = v[i];
            }
            lines(pairs.data(), halfW * 2, halfH, stride);
            break;
        }
        case V4L2_PIX_FMT_BGR24:
        case V4L2_PIX_FMT_RGB24: {
            const std::vector<BYTE> rgb = Paint(PixelLayout::RGB24, width, height, index);
            std::vector<BYTE> topDown(w * 3 * h);
            for (size_t row = 0; row < h; ++row) {
                const BYTE* from = rgb.data() + (h - 1 - row) * RgbRow(width);
                BYTE* to = topDown.data() + row * w * 3;
                std::memcpy(to, from, w * 3);
                if (fourcc == V4L2_PIX_FMT_RGB24)
                    for (size_t x = 0; x < w * 3; x += 3) std::swap(to[x], to[x + 2]);
            }
            lines(topDown.data(), w * 3, h, stride);
            break;
        }
        case V4L2_PIX_FMT_MJPEG: {
            const std::vector<BYTE> rgb = Paint(PixelLayout::RGB24, width, height, index);
            out = vmc_test::CompressJpeg(rgb.data(), static_cast<int>(width),
                                         static_cast<int>(height), static_cast<int>(RgbRow(width)),
                                         TJPF_BGR, TJSAMP_422, 90, TJFLAG_BOTTOMUP);
        } break;
        default:
            out.assign(64, 0);  // an H.264 stream nobody decodes
            break;
    }
    return out;
}

std::vector<BYTE> WithoutHuffmanTables(const std::vector<BYTE>& jpeg) {
    std::vector<BYTE> bare(jpeg.begin(), jpeg.begin() + std::min<size_t>(2, jpeg.size()));
    size_t at = 2;
    // Marker segments up to the start of scan: FF, marker, a two-byte length that counts itself.
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA) {
        const size_t length = size_t{jpeg[at + 2]} << 8 | jpeg[at + 3];
        const size_t end = std::min(jpeg.size(), at + 2 + length);
        if (jpeg[at + 1] != 0xC4) bare.insert(bare.end(), jpeg.begin() + at, jpeg.begin() + end);
        at = end;
    }
    bare.insert(bare.end(), jpeg.begin() + std::min(at, jpeg.size()), jpeg.end());
    return bare;
}

std::vector<BYTE> ExpectedRgb(uint32_t fourcc, uint32_t width, uint32_t height, uint64_t index) {
    PixelLayout layout = PixelLayout::RGB24;
    if (fourcc == V4L2_PIX_FMT_YUYV || fourcc == V4L2_PIX_FMT_UYVY) layout = PixelLayout::YUY2;
    if (fourcc == V4L2_PIX_FMT_YUV420 || fourcc == V4L2_PIX_FMT_NV12 || fourcc == V4L2_PIX_FMT_NV21)
        layout = PixelLayout::I420;
    if (fourcc == V4L2_PIX_FMT_YVU420) layout = PixelLayout::YV12;
    const std::vector<BYTE> native = Paint(layout, width, height, index);
    std::vector<BYTE> rgb(VornSignal::FrameBytes(PixelLayout::RGB24, width, height));
    VornSignal::ConvertFrame(layout, native.data(), PixelLayout::RGB24, rgb.data(), width, height);
    return rgb;
}

struct FakeV4l2::Node {
    int number;
    Camera camera;
    FrameFaults frameFaults;
    std::vector<std::pair<Fault, int>> faults;  // with the calls of its kind made before it
    std::map<unsigned long, int> calls;         // calls made, by kind
    bool present = true;
    Handle* owner = nullptr;  // the descriptor that holds the buffers
};

struct FakeV4l2::Handle {
    int fd = -1;
    Node* node = nullptr;
    uint32_t fourcc = 0, width = 0, height = 0, stride = 0, sizeImage = 0;
    double rate = 30;
    std::vector<BufferState> buffers;
    std::deque<uint32_t> queue;
    bool streaming = false;
    bool signalled = false;
    uint32_t sequence = 0;
    std::map<uint64_t, std::vector<BYTE>> painted;  // by picture, while it is in use
};

FakeV4l2::~FakeV4l2() {
    for (auto& entry : handles_) {
        FreeBuffers(*entry.second);
        close(entry.first);
        delete entry.second;
    }
    for (auto& entry : nodes_) delete entry.second;
}

void FakeV4l2::Plug(int number, const Camera& camera, FrameFaults faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    Node* node = new Node{number, camera, std::move(faults), {}, {}, true, nullptr};
    // An earlier node of the number stays alive for its descriptors, under a key of its own.
    auto old = nodes_.find(number);
    if (old != nodes_.end()) nodes_[-1000 - static_cast<int>(nodes_.size())] = old->second;
    nodes_[number] = node;
}

void FakeV4l2::Unplug(int number) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = nodes_.find(number);
    if (found == nodes_.end()) return;
    found->second->present = false;
    for (auto& entry : handles_)
        if (entry.second->node == found->second) Signal(*entry.second);
}

void FakeV4l2::AddFault(int number, Fault fault) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = nodes_.find(number);
    if (found != nodes_.end())
        found->second->faults.emplace_back(fault, found->second->calls[fault.call]);
}

int FakeV4l2::OpenDescriptors() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(handles_.size());
}

int FakeV4l2::LiveMappings() {
    std::lock_guard<std::mutex> lock(mutex_);
    return liveMappings_;
}

uint32_t FakeV4l2::LastStreamed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastStreamed_;
}

std::vector<FakeV4l2::BufferState> FakeV4l2::Buffers(int number) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = nodes_.find(number);
    if (found == nodes_.end() || found->second->owner == nullptr) return {};
    return found->second->owner->buffers;
}

std::vector<std::string> FakeV4l2::Names(const std::string& folder) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> names;
    if (folder != kFolder) return names;
    names = {".", "..", "media0", "video", "videox", "video12abc"};
    for (auto& entry : nodes_)
        if (entry.first >= 0 && entry.second->present)
            names.push_back("video" + std::to_string(entry.first));
    std::reverse(names.begin(), names.end());  // folders are in no particular order
    return names;
}

bool FakeV4l2::Failing(Node& node, unsigned long call, int* error) {
    const int made = node.calls[call]++;
    for (const auto& entry : node.faults) {
        const Fault& fault = entry.first;
        const int since = made - entry.second;  // calls of the kind since the fault was added
        if (fault.call != call || since < fault.after) continue;
        if (fault.times >= 0 && since >= fault.after + fault.times) continue;
        *error = fault.error;
        return true;
    }
    return false;
}

int FakeV4l2::Open(const std::string& path, int) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string prefix = std::string(kFolder) + "/video";
    auto found = path.compare(0, prefix.size(), prefix) == 0
                     ? nodes_.find(std::atoi(path.c_str() + prefix.size()))
                     : nodes_.end();
    int error = 0;
    if (found == nodes_.end() || !found->second->present) {
        errno = ENOENT;
        return -1;
    }
    if (Failing(*found->second, kOpen, &error)) {
        errno = error;
        return -1;
    }
    const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) return -1;
    auto* handle = new Handle();
    handle->fd = fd;
    handle->node = found->second;
    handles_[fd] = handle;
    return fd;
}

int FakeV4l2::Close(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    Handle* handle = Find(fd);
    if (handle == nullptr) {
        errno = EBADF;
        return -1;
    }
    FreeBuffers(*handle);
    handles_.erase(fd);
    delete handle;
    return close(fd);
}

FakeV4l2::Handle* FakeV4l2::Find(int fd) {
    auto found = handles_.find(fd);
    return found == handles_.end() ? nullptr : found->second;
}

void FakeV4l2::FreeBuffers(Handle& handle) {
    for (BufferState& buffer : handle.buffers) {
        if (buffer.mapped) --liveMappings_;  // a mapping left behind: counted until now
        munmap(buffer.memory, buffer.length);
    }
    handle.buffers.clear();
    handle.queue.clear();
    handle.streaming = false;
    if (handle.node->owner == &handle) handle.node->owner = nullptr;
}

// The descriptor is readable while a frame waits in a queued buffer, and once its node is gone.
void FakeV4l2::Signal(Handle& handle) {
    const FrameFaults& faults = handle.node->frameFaults;
    const bool stalled =
        faults.stallAfter >= 0 && handle.sequence >= static_cast<uint32_t>(faults.stallAfter);
    const bool ready =
        !handle.node->present || (handle.streaming && !handle.queue.empty() && !stalled);
    uint64_t value = 1;
    if (ready && !handle.signalled) {
        handle.signalled = write(handle.fd, &value, sizeof value) == sizeof value;
    } else if (!ready && handle.signalled) {
        handle.signalled = read(handle.fd, &value, sizeof value) != sizeof value;
    }
}

int FakeV4l2::Ioctl(int fd, unsigned long request, void* record) {
    std::lock_guard<std::mutex> lock(mutex_);
    Handle* handle = Find(fd);
    if (handle == nullptr) {
        errno = EBADF;
        return -1;
    }
    int error = 0;
    if (!handle->node->present) {
        error = ENODEV;
    } else if (!Failing(*handle->node, request, &error)) {
        error = Query(*handle, request, record);
    }
    Signal(*handle);
    if (error == 0) return 0;
    errno = error;
    return -1;
}

// One ioctl of a present node: 0 or the errno.
int FakeV4l2::Query(Handle& handle, unsigned long request, void* record) {
    Node& node = *handle.node;
    const Camera& camera = node.camera;
    auto formatOf = [&](uint32_t fourcc) -> const Format* {
        for (const Format& format : camera.formats)
            if (format.fourcc == fourcc) return &format;
        return nullptr;
    };
    auto sizeOf = [&](uint32_t fourcc, uint32_t width, uint32_t height) -> const Size* {
        if (const Format* format = formatOf(fourcc))
            for (const Size& size : format->sizes)
                if (size.width == width && size.height == height) return &size;
        return nullptr;
    };
    switch (request) {
        case VIDIOC_QUERYCAP: {
            auto* caps = static_cast<v4l2_capability*>(record);
            *caps = {};
            std::strncpy(reinterpret_cast<char*>(caps->driver), "fake", sizeof caps->driver - 1);
            std::strncpy(reinterpret_cast<char*>(caps->card), camera.card.c_str(),
                         sizeof caps->card - 1);
            caps->capabilities = camera.caps | V4L2_CAP_DEVICE_CAPS;
            caps->device_caps = camera.caps;
            return 0;
        }
        case VIDIOC_ENUM_FMT: {
            auto* format = static_cast<v4l2_fmtdesc*>(record);
            if (format->type != V4L2_BUF_TYPE_VIDEO_CAPTURE ||
                format->index >= camera.formats.size())
                return EINVAL;
            format->pixelformat = camera.formats[format->index].fourcc;
            format->flags = Compressed(format->pixelformat) ? V4L2_FMT_FLAG_COMPRESSED : 0;
            return 0;
        }
        case VIDIOC_ENUM_FRAMESIZES: {
            auto* size = static_cast<v4l2_frmsizeenum*>(record);
            const Format* format = formatOf(size->pixel_format);
            if (format == nullptr || size->index >= format->sizes.size()) return EINVAL;
            size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
            size->discrete = {format->sizes[size->index].width, format->sizes[size->index].height};
            return 0;
        }
        case VIDIOC_ENUM_FRAMEINTERVALS: {
            auto* interval = static_cast<v4l2_frmivalenum*>(record);
            const Size* size = sizeOf(interval->pixel_format, interval->width, interval->height);
            if (size == nullptr || interval->index >= size->rates.size()) return EINVAL;
            interval->type = V4L2_FRMIVAL_TYPE_DISCRETE;
            interval->discrete = IntervalOf(size->rates[interval->index]);
            return 0;
        }
        case VIDIOC_S_FMT: {
            auto* format = static_cast<v4l2_format*>(record);
            if (format->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return EINVAL;
            v4l2_pix_format& pix = format->fmt.pix;
            if (node.owner != nullptr && node.owner != &handle) return EBUSY;
            if (handle.streaming || !handle.buffers.empty()) return EBUSY;
            // Like a driver: what it has of the request, else its first mode.
            const Size* size = sizeOf(pix.pixelformat, pix.width, pix.height);
            handle.painted.clear();
            handle.fourcc = size != nullptr ? pix.pixelformat : camera.formats[0].fourcc;
            if (size == nullptr) size = &camera.formats[0].sizes[0];
            handle.width = size->width;
            handle.height = size->height;
            handle.rate = size->rates.empty() ? 30 : size->rates[0];
            const uint32_t bytes = LineBytesPerPixel(handle.fourcc);
            handle.stride = bytes == 0 ? 0 : handle.width * bytes + camera.padding;
            const uint32_t h = handle.height, halfH = (h + 1) / 2;
            handle.sizeImage =
                bytes == 0   ? static_cast<uint32_t>(tjBufSize(static_cast<int>(handle.width),
                                                               static_cast<int>(h), TJSAMP_422))
                : bytes == 1 ? handle.stride * h + handle.stride * halfH
                             : handle.stride * h;
            pix = {};
            pix.pixelformat = handle.fourcc;
            pix.width = handle.width;
            pix.height = handle.height;
            pix.field = V4L2_FIELD_NONE;
            pix.bytesperline = handle.stride;
            pix.sizeimage = handle.sizeImage;
            return 0;
        }
        case VIDIOC_S_PARM: {
            auto* parm = static_cast<v4l2_streamparm*>(record);
            const Size* size = sizeOf(handle.fourcc, handle.width, handle.height);
            const v4l2_fract asked = parm->parm.capture.timeperframe;
            if (size != nullptr && !size->rates.empty() && asked.numerator != 0) {
                const double want = static_cast<double>(asked.denominator) / asked.numerator;
                handle.rate = size->rates[0];
                for (double rate : size->rates)
                    if (std::fabs(rate - want) < std::fabs(handle.rate - want)) handle.rate = rate;
            }
            parm->parm.capture.timeperframe = IntervalOf(handle.rate);
            return 0;
        }
        case VIDIOC_REQBUFS: {
            auto* request_ = static_cast<v4l2_requestbuffers*>(record);
            if (request_->memory != V4L2_MEMORY_MMAP) return EINVAL;
            if (handle.streaming || (node.owner != nullptr && node.owner != &handle)) return EBUSY;
            if (handle.sizeImage == 0) return EINVAL;
            for (const BufferState& buffer : handle.buffers)
                if (buffer.mapped) return EBUSY;
            FreeBuffers(handle);
            const uint32_t count = std::min<uint32_t>(request_->count, 8);
            const size_t length = (handle.sizeImage + kPage - 1) / kPage * kPage;
            for (uint32_t i = 0; i < count; ++i) {
                void* memory = mmap(nullptr, length, PROT_READ | PROT_WRITE,
                                    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
                if (memory == MAP_FAILED) return ENOMEM;
                handle.buffers.push_back({static_cast<BYTE*>(memory), length});
            }
            node.owner = count == 0 ? nullptr : &handle;
            request_->count = count;
            return 0;
        }
        case VIDIOC_QUERYBUF:
        case VIDIOC_QBUF: {
            auto* buffer = static_cast<v4l2_buffer*>(record);
            if (buffer->index >= handle.buffers.size()) return EINVAL;
            BufferState& ours = handle.buffers[buffer->index];
            if (request == VIDIOC_QBUF) {
                if (ours.queued) return EINVAL;
                ours.queued = true;
                handle.queue.push_back(buffer->index);
            }
            buffer->length = static_cast<uint32_t>(ours.length);
            buffer->m.offset = buffer->index * static_cast<uint32_t>(ours.length);
            buffer->flags =
                (ours.queued ? V4L2_BUF_FLAG_QUEUED : 0) | (ours.mapped ? V4L2_BUF_FLAG_MAPPED : 0);
            return 0;
        }
        case VIDIOC_DQBUF: {
            auto* buffer = static_cast<v4l2_buffer*>(record);
            if (!handle.streaming) return EINVAL;
            const FrameFaults& faults = node.frameFaults;
            if (handle.queue.empty() ||
                (faults.stallAfter >= 0 &&
                 handle.sequence >= static_cast<uint32_t>(faults.stallAfter)))
                return EAGAIN;
            const uint32_t index = handle.queue.front();
            handle.queue.pop_front();
            BufferState& ours = handle.buffers[index];
            ours.queued = false;
            uint32_t number = handle.sequence++;
            while (faults.skipped.count(number) != 0) number = handle.sequence++;
            // A node that cycles through a few pictures paints each once.
            const uint64_t picture = camera.pictures > 0 ? number % camera.pictures : number;
            std::vector<BYTE>& frame = handle.painted[picture];
            if (frame.empty()) {
                frame =
                    PaintFrame(handle.fourcc, handle.width, handle.height, handle.stride, picture);
                if (camera.bareJpeg && handle.fourcc == V4L2_PIX_FMT_MJPEG)
                    frame = WithoutHuffmanTables(frame);
            }
            size_t used = std::min(frame.size(), ours.length);
            std::memcpy(ours.memory, frame.data(), used);
            if (camera.pictures == 0) handle.painted.erase(picture);
            if (faults.truncated.count(number) != 0) used /= 3;
            if (faults.corrupt.count(number) != 0)
                std::memset(ours.memory + 2, 0x5A, std::min<size_t>(used, 200) - 2);
            *buffer = {};
            buffer->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buffer->memory = V4L2_MEMORY_MMAP;
            buffer->index = index;
            buffer->bytesused = static_cast<uint32_t>(used);
            buffer->length = static_cast<uint32_t>(ours.length);
            buffer->sequence = number;
            buffer->flags = faults.broken.count(number) != 0 ? V4L2_BUF_FLAG_ERROR : 0;
            const double seconds = number / handle.rate;
            buffer->timestamp.tv_sec = static_cast<time_t>(seconds);
            buffer->timestamp.tv_usec =
                static_cast<suseconds_t>(std::lround((seconds - std::floor(seconds)) * 1e6));
            return 0;
        }
        case VIDIOC_STREAMON:
        case VIDIOC_STREAMOFF: {
            if (*static_cast<int*>(record) != V4L2_BUF_TYPE_VIDEO_CAPTURE) return EINVAL;
            if (request == VIDIOC_STREAMON) {
                if (handle.buffers.empty()) return EINVAL;
                handle.streaming = true;
                lastStreamed_ = handle.fourcc;
                return 0;
            }
            handle.streaming = false;
            for (BufferState& buffer : handle.buffers) buffer.queued = false;
            handle.queue.clear();
            return 0;
        }
        default:
            return ENOTTY;
    }
}

void* FakeV4l2::Mmap(size_t length, int, int, int fd, off_t offset) {
    std::lock_guard<std::mutex> lock(mutex_);
    Handle* handle = Find(fd);
    if (handle == nullptr || !handle->node->present) {
        errno = handle == nullptr ? EBADF : ENODEV;
        return MAP_FAILED;
    }
    for (size_t i = 0; i < handle->buffers.size(); ++i) {
        BufferState& buffer = handle->buffers[i];
        if (static_cast<off_t>(i * buffer.length) != offset || length > buffer.length ||
            buffer.mapped)
            continue;
        buffer.mapped = true;
        ++liveMappings_;
        return buffer.memory;
    }
    errno = EINVAL;
    return MAP_FAILED;
}

int FakeV4l2::Munmap(void* start, size_t) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& entry : handles_)
        for (BufferState& buffer : entry.second->buffers)
            if (buffer.memory == start && buffer.mapped) {
                buffer.mapped = false;
                --liveMappings_;
                return 0;
            }
    errno = EINVAL;
    return -1;
}

// The system's poll over the event counters; a node that is gone reports an error too.
int FakeV4l2::Poll(pollfd* fds, nfds_t count, int timeoutMs) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (nfds_t i = 0; i < count; ++i) {
            Handle* handle = Find(fds[i].fd);
            int error = 0;
            if (handle != nullptr && Failing(*handle->node, kPoll, &error)) {
                errno = error;
                return -1;
            }
        }
    }
    const int ready = poll(fds, count, timeoutMs);
    if (ready < 0) return ready;
    std::lock_guard<std::mutex> lock(mutex_);
    for (nfds_t i = 0; i < count; ++i) {
        Handle* handle = Find(fds[i].fd);
        if (handle != nullptr && !handle->node->present) fds[i].revents |= POLLERR;
    }
    return ready;
}

}  // namespace fakev4l2
