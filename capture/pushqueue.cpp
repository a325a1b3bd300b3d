// SPDX-License-Identifier: MIT
#include "pushqueue.h"

#include <chrono>
#include <utility>

namespace VornCapture {

void PushQueue::Put(double seconds, const unsigned char* data, long length) {
    if (data == nullptr || length <= 0) return;
    std::vector<uint8_t> unit;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const size_t bytes = static_cast<size_t>(length);
        if (byteBound_ != 0 ? heldBytes_ + bytes > byteBound_ : units_.size() >= bound_) {
            ++dropped_;
            return;
        }
        if (!spare_.empty()) {
            unit = std::move(spare_.back());
            spare_.pop_back();
        }
    }
    unit.assign(data, data + length);  // copied outside the lock
    {
        std::lock_guard<std::mutex> lock(mutex_);
        heldBytes_ += unit.size();
        units_.push_back(std::move(unit));
        stamps_.push_back(seconds);
    }
    ready_.notify_one();
}

bool PushQueue::Take(std::vector<uint8_t>& unit, double& seconds, int waitMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!ready_.wait_for(lock, std::chrono::milliseconds(waitMs),
                         [this] { return !units_.empty(); }))
        return false;
    if (!unit.empty() && spare_.size() < 2) spare_.push_back(std::move(unit));
    unit = std::move(units_.front());
    units_.pop_front();
    heldBytes_ -= unit.size();
    seconds = stamps_.front();
    stamps_.pop_front();
    return true;
}

void PushQueue::SetByteBound(size_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    byteBound_ = bytes;
}

uint64_t PushQueue::Dropped() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
}

}  // namespace VornCapture
