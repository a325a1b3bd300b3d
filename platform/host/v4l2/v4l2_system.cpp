// SPDX-License-Identifier: MIT
// The machine's own V4L2 calls.
#include "host/v4l2/v4l2_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace VornWorld::host {
namespace {

class Machine final : public V4l2System {
public:
    std::vector<std::string> Names(const std::string& folder) override {
        std::vector<std::string> names;
        if (DIR* dir = opendir(folder.c_str())) {
            while (dirent* entry = readdir(dir)) names.emplace_back(entry->d_name);
            closedir(dir);
        }
        return names;
    }
    int Open(const std::string& path, int flags) override {
        return open(path.c_str(), flags | O_CLOEXEC);
    }
    int Close(int fd) override { return close(fd); }
    int Ioctl(int fd, unsigned long request, void* record) override {
        return ioctl(fd, request, record);
    }
    void* Mmap(size_t length, int protection, int flags, int fd, off_t offset) override {
        return mmap(nullptr, length, protection, flags, fd, offset);
    }
    int Munmap(void* start, size_t length) override { return munmap(start, length); }
    int Poll(pollfd* fds, nfds_t count, int timeoutMs) override {
        return poll(fds, count, timeoutMs);
    }
};

}  // namespace

std::shared_ptr<V4l2System> MachineV4l2() {
    static const std::shared_ptr<V4l2System> machine = std::make_shared<Machine>();
    return machine;
}

}  // namespace VornWorld::host
