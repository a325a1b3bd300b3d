// SPDX-License-Identifier: MIT
// The system calls the V4L2 path makes, behind one interface: the machine's own calls in use,
// a device made of data in the tests. Every call answers as the system call does: -1 (or
// MAP_FAILED) with errno set on failure.
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace VornWorld::host {

class V4l2System {
public:
    virtual ~V4l2System() = default;
    // The entries of a folder (names only; empty when it cannot be read).
    virtual std::vector<std::string> Names(const std::string& folder) = 0;
    virtual int Open(const std::string& path, int flags) = 0;
    virtual int Close(int fd) = 0;
    virtual int Ioctl(int fd, unsigned long request, void* record) = 0;
    virtual void* Mmap(size_t length, int protection, int flags, int fd, off_t offset) = 0;
    virtual int Munmap(void* start, size_t length) = 0;
    // Descriptors of the system (a source's own wake-up counter among them) may be mixed with
    // the device's.
    virtual int Poll(pollfd* fds, nfds_t count, int timeoutMs) = 0;
};

// The machine's calls.
std::shared_ptr<V4l2System> MachineV4l2();

}  // namespace VornWorld::host
