// SPDX-License-Identifier: MIT
#include "host/v4l2/v4l2_node.h"

#include <fcntl.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstring>

namespace VornWorld::host {

int AskV4l2(V4l2System& system, int fd, unsigned long request, void* record) {
    int result;
    do {
        result = system.Ioctl(fd, request, record);
    } while (result < 0 && errno == EINTR);
    return result;
}

V4l2Node::V4l2Node(std::shared_ptr<V4l2System> system, const std::string& path, int* error)
    : system_(std::move(system)), fd_(system_->Open(path, O_RDWR | O_NONBLOCK)) {
    *error = fd_ < 0 ? errno : 0;
}

V4l2Node::~V4l2Node() {
    if (fd_ >= 0) system_->Close(fd_);
}

const char* V4l2Meaning(int error) {
    switch (error) {
        case EBUSY:
            return "busy: another program is using it";
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return "gone: it was unplugged or switched off";
        case EACCES:
        case EPERM:
            return "not allowed: no permission to open it";
        case EIO:
            return "failed: the device reported an I/O error";
        default:
            return std::strerror(error);
    }
}

int SetV4l2Format(const V4l2Node& node, uint32_t pixelFormat, uint32_t width, uint32_t height,
                  v4l2_pix_format* got) {
    v4l2_format wanted{};
    wanted.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    wanted.fmt.pix.pixelformat = pixelFormat;
    wanted.fmt.pix.width = width;
    wanted.fmt.pix.height = height;
    wanted.fmt.pix.field = V4L2_FIELD_NONE;
    if (node.Ask(VIDIOC_S_FMT, &wanted) < 0) return errno;
    *got = wanted.fmt.pix;
    if (got->pixelformat != pixelFormat || got->width != width || got->height != height)
        return EINVAL;
    return 0;
}

bool MapV4l2Buffers(const V4l2Node& node, uint32_t count, std::vector<V4l2Mapping>* maps) {
    v4l2_requestbuffers request{};
    request.count = count;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (node.Ask(VIDIOC_REQBUFS, &request) < 0) return false;
    if (request.count == 0 || request.count > 32) {
        errno = ENOMEM;
        return false;
    }
    for (uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (node.Ask(VIDIOC_QUERYBUF, &buffer) < 0) return false;
        void* start = node.system().Mmap(buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED,
                                         node.fd(), buffer.m.offset);
        if (start == MAP_FAILED) return false;
        maps->push_back({start, buffer.length});
        if (node.Ask(VIDIOC_QBUF, &buffer) < 0) return false;
    }
    return true;
}

void ReleaseV4l2Buffers(const V4l2Node& node, bool streaming, std::vector<V4l2Mapping>* maps) {
    if (streaming) {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        node.Ask(VIDIOC_STREAMOFF, &type);
    }
    for (const V4l2Mapping& map : *maps) node.system().Munmap(map.start, map.length);
    if (!maps->empty()) {
        v4l2_requestbuffers none{};  // the driver's buffers freed with the mappings
        none.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        none.memory = V4L2_MEMORY_MMAP;
        node.Ask(VIDIOC_REQBUFS, &none);
    }
    maps->clear();
}

}  // namespace VornWorld::host
