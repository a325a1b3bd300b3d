// SPDX-License-Identifier: MIT
#include "host/v4l2/v4l2_lending.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <vector>

#include "host/v4l2/v4l2.h"
#include "host/v4l2/v4l2_node.h"

namespace VornWorld::host {
namespace {

using Clock = std::chrono::steady_clock;

std::string Describe(const std::string& path, const char* what, int error) {
    return "camera " + path + ": " + what + " (" + V4l2Meaning(error) + ")";
}

}  // namespace

// What the stream and its leases share: the node, the mappings and which buffers are lent. It
// lives until the stream is closed and the last lease is gone, then stops, unmaps and closes.
struct V4l2LendingStream::Core {
    Core(std::shared_ptr<V4l2System> system, std::string path_, int* openError)
        : path(std::move(path_)),
          node(std::move(system), path, openError),
          wake(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~Core() {
        ReleaseV4l2Buffers(node, streaming, &maps);
        if (wake >= 0) close(wake);
    }

    // Rouses a Take waiting for a buffer to come back or for the stream to close.
    void Wake() {
        const uint64_t one = 1;
        ssize_t written = write(wake, &one, sizeof one);
        (void)written;
    }
    void Drain() {
        uint64_t drained;
        while (read(wake, &drained, sizeof drained) > 0) {
        }
    }

    // The stream ends for good (the mutex held): said once on standard error, kept for Error.
    void Fail(const char* what, int errorNumber) {
        if (ended) return;
        ended = true;
        error = Describe(path, what, errorNumber);
        ++V4l2Counts().lost;
        std::fprintf(stderr, "vornplatform: %s\n", error.c_str());
    }

    // Our number of the driver's 32-bit frame count: from 1, carried past the count's wrap, and
    // never going back when a driver starts its count again.
    uint64_t Number(uint32_t driverSequence) {
        if (numbered && driverSequence < lastDriverSequence &&
            lastDriverSequence - driverSequence > 0x80000000u)
            base += uint64_t{1} << 32;
        uint64_t number = base + driverSequence + 1;
        if (numbered && number <= lastNumber) {
            base = lastNumber - driverSequence;
            number = lastNumber + 1;
        }
        numbered = true;
        lastDriverSequence = driverSequence;
        lastNumber = number;
        return number;
    }

    // A buffer's last lease went: back into the driver's queue while the stream runs.
    void GiveBack(uint32_t index) {
        std::lock_guard<std::mutex> lock(mutex);
        lent[index] = false;
        --lentCount;
        if (streaming && !ended) {
            v4l2_buffer buffer{};
            buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buffer.memory = V4L2_MEMORY_MMAP;
            buffer.index = index;
            if (node.Ask(VIDIOC_QBUF, &buffer) < 0) Fail("refused a buffer back", errno);
        }
        Wake();
    }

    const std::string path;
    V4l2Node node;
    const int wake;  // an event counter raised by a buffer given back and by Close
    v4l2_pix_format format{};
    std::vector<V4l2Mapping> maps;

    mutable std::mutex mutex;  // guards what follows and every call on the node once streaming
    std::vector<bool> lent;
    uint32_t lentCount = 0;
    bool streaming = false;
    bool ended = false;
    std::string error;
    bool numbered = false;
    uint32_t lastDriverSequence = 0;
    uint64_t lastNumber = 0;
    uint64_t base = 0;
};

namespace {

// One lent buffer; the last copy going gives it back.
struct Lease {
    std::shared_ptr<V4l2LendingStream::Core> core;
    uint32_t index;
    Lease(std::shared_ptr<V4l2LendingStream::Core> core_, uint32_t index_)
        : core(std::move(core_)), index(index_) {}
    ~Lease() { core->GiveBack(index); }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
};

}  // namespace

std::unique_ptr<V4l2LendingStream> V4l2LendingStream::Open(std::shared_ptr<V4l2System> system,
                                                           const std::string& path,
                                                           uint32_t pixelFormat, uint32_t width,
                                                           uint32_t height, v4l2_fract interval,
                                                           std::string* error, uint32_t buffers) {
    int openError = 0;
    auto core = std::make_shared<Core>(std::move(system), path, &openError);
    if (core->node.fd() < 0) {
        *error = Describe(path, "cannot be opened", openError);
        return nullptr;
    }
    if (core->wake < 0) {
        *error = Describe(path, "cannot be waited for", errno);
        return nullptr;
    }
    const int refused = SetV4l2Format(core->node, pixelFormat, width, height, &core->format);
    if (refused != 0) {
        *error = Describe(
            path,
            refused == EINVAL ? "offered another format than the one asked" : "refused the format",
            refused);
        return nullptr;
    }
    if (interval.numerator != 0 && interval.denominator != 0) {
        // The driver takes its nearest rate; one without rates keeps its own.
        v4l2_streamparm rate{};
        rate.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        rate.parm.capture.timeperframe = interval;
        core->node.Ask(VIDIOC_S_PARM, &rate);
    }
    if (!MapV4l2Buffers(core->node, std::max<uint32_t>(buffers, 1), &core->maps)) {
        *error = Describe(path, "refused its buffers", errno);
        return nullptr;
    }
    core->lent.assign(core->maps.size(), false);
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (core->node.Ask(VIDIOC_STREAMON, &type) < 0) {
        *error = Describe(path, "refused to start streaming", errno);
        return nullptr;
    }
    core->streaming = true;
    return std::unique_ptr<V4l2LendingStream>(new V4l2LendingStream(std::move(core)));
}

V4l2LendingStream::V4l2LendingStream(std::shared_ptr<Core> core) : core_(std::move(core)) {}

V4l2LendingStream::~V4l2LendingStream() { Close(); }

const v4l2_pix_format& V4l2LendingStream::Format() const { return core_->format; }

bool V4l2LendingStream::Take(V4l2LentFrame* frame, int waitMs) {
    Core& c = *core_;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(std::max(0, waitMs));
    for (;;) {
        bool driverHasBuffers;
        {
            std::lock_guard<std::mutex> lock(c.mutex);
            if (!c.streaming || c.ended) return false;
            driverHasBuffers = c.lentCount < c.maps.size();
        }
        const long long left = std::max<long long>(
            0,
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        // With every buffer lent the node has nothing to fill: only a buffer coming back (or
        // Close) is waited for.
        pollfd fds[2] = {{c.wake, POLLIN, 0}, {c.node.fd(), POLLIN, 0}};
        const int ready =
            c.node.system().Poll(fds, driverHasBuffers ? 2 : 1, static_cast<int>(left));
        if (ready < 0) {
            if (errno == EINTR) continue;
            std::lock_guard<std::mutex> lock(c.mutex);
            c.Fail("could not be waited for", errno);
            return false;
        }
        if ((fds[0].revents & POLLIN) != 0) c.Drain();
        if (driverHasBuffers && (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            std::lock_guard<std::mutex> lock(c.mutex);
            c.Fail("stopped answering", ENODEV);
            return false;
        }
        if (driverHasBuffers && (fds[1].revents & POLLIN) != 0) {
            V4l2LentFrame taken;
            {
                std::lock_guard<std::mutex> lock(c.mutex);
                if (!c.streaming || c.ended) return false;
                v4l2_buffer buffer{};
                buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
                buffer.memory = V4L2_MEMORY_MMAP;
                if (c.node.Ask(VIDIOC_DQBUF, &buffer) < 0) {
                    if (errno != EAGAIN) {
                        c.Fail("failed to hand over a frame", errno);
                        return false;
                    }
                } else if (buffer.index >= c.maps.size() || c.lent[buffer.index]) {
                    c.Fail("handed a buffer it had not been given", EINVAL);
                    return false;
                } else {
                    taken.sequence = c.Number(buffer.sequence);
                    if ((buffer.flags & V4L2_BUF_FLAG_ERROR) != 0) {
                        // Broken: straight back to the driver, its number left out.
                        ++V4l2Counts().dropped;
                        if (c.node.Ask(VIDIOC_QBUF, &buffer) < 0) {
                            c.Fail("refused a buffer back", errno);
                            return false;
                        }
                    } else {
                        const V4l2Mapping& map = c.maps[buffer.index];
                        c.lent[buffer.index] = true;
                        ++c.lentCount;
                        ++V4l2Counts().delivered;
                        taken.data = static_cast<const uint8_t*>(map.start);
                        taken.bytes = std::min<size_t>(buffer.bytesused, map.length);
                        taken.timeNs = static_cast<int64_t>(buffer.timestamp.tv_sec) * 1000000000 +
                                       static_cast<int64_t>(buffer.timestamp.tv_usec) * 1000;
                        taken.index = buffer.index;
                        taken.lease = std::make_shared<Lease>(core_, buffer.index);
                    }
                }
            }
            // Out of the lock: the lease `frame` held before may be the last of its buffer.
            if (taken.lease != nullptr) {
                *frame = std::move(taken);
                return true;
            }
        }
        if (left == 0) return false;
    }
}

bool V4l2LendingStream::Ended() const {
    std::lock_guard<std::mutex> lock(core_->mutex);
    return core_->ended;
}

std::string V4l2LendingStream::Error() const {
    std::lock_guard<std::mutex> lock(core_->mutex);
    return core_->error;
}

uint32_t V4l2LendingStream::Buffers() const { return static_cast<uint32_t>(core_->maps.size()); }

uint32_t V4l2LendingStream::Lent() const {
    std::lock_guard<std::mutex> lock(core_->mutex);
    return core_->lentCount;
}

void V4l2LendingStream::Close() {
    std::lock_guard<std::mutex> lock(core_->mutex);
    if (core_->streaming) {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        core_->node.Ask(VIDIOC_STREAMOFF, &type);
        core_->streaming = false;
    }
    core_->Wake();
}

}  // namespace VornWorld::host
