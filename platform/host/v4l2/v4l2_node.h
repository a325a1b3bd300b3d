// SPDX-License-Identifier: MIT
// What every V4L2 stream of ours does with its node, whatever it makes of the frames: the node
// opened and closed through the system, calls retried after a signal, the format set exactly
// as asked, the driver's buffers mapped and queued, and a failure said to a person.
#pragma once

#include <linux/videodev2.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/v4l2/v4l2_system.h"

namespace VornWorld::host {

// An ioctl, again when a signal interrupted it.
int AskV4l2(V4l2System& system, int fd, unsigned long request, void* record);

// A device node opened through the system (read and write, not blocking), closed with the
// object.
class V4l2Node {
public:
    V4l2Node(std::shared_ptr<V4l2System> system, const std::string& path, int* error);
    ~V4l2Node();
    V4l2Node(const V4l2Node&) = delete;
    V4l2Node& operator=(const V4l2Node&) = delete;
    int fd() const { return fd_; }
    V4l2System& system() const { return *system_; }
    int Ask(unsigned long request, void* record) const {
        return AskV4l2(*system_, fd_, request, record);
    }

private:
    std::shared_ptr<V4l2System> system_;
    int fd_;
};

// What a failed call of a camera means to a person ("busy: another program is using it").
const char* V4l2Meaning(int error);

// Sets exactly `pixelFormat` at `width` x `height`; the driver's answer in `got`. 0, or the
// errno (EINVAL when the driver offered another format or size than the one asked).
int SetV4l2Format(const V4l2Node& node, uint32_t pixelFormat, uint32_t width, uint32_t height,
                  v4l2_pix_format* got);

// One of the driver's buffers as mapped into the process.
struct V4l2Mapping {
    void* start;
    size_t length;
};

// Asks for `count` memory-mapped buffers, maps and queues each. False with errno set (ENOMEM
// for a driver that grants none or more than 32); what was mapped is in `maps` either way.
bool MapV4l2Buffers(const V4l2Node& node, uint32_t count, std::vector<V4l2Mapping>* maps);

// Stops the stream when `streaming`, unmaps `maps` and gives the driver's buffers back.
void ReleaseV4l2Buffers(const V4l2Node& node, bool streaming, std::vector<V4l2Mapping>* maps);

}  // namespace VornWorld::host
