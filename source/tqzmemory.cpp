// SPDX-License-Identifier: MIT
#include "tqzmemory.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "internal/scopedlocker.h"

namespace TQZCapture {

namespace {
constexpr std::uint64_t kLargestSize = UINT32_MAX;
}

TQZMemory::TQZMemory() : data_(nullptr), size_(0) {}

TQZMemory::TQZMemory(const TQZMemory& other) : TQZMemory() { TQZMemory::CopyFrom(&other); }

TQZMemory::TQZMemory(TQZMemory&& other) noexcept : data_(other.data_), size_(other.size_) {
    other.data_ = nullptr;
    other.size_ = 0;
}

TQZMemory& TQZMemory::operator=(const TQZMemory& other) {
    TQZMemory::CopyFrom(&other);
    return *this;
}

TQZMemory& TQZMemory::operator=(TQZMemory&& other) noexcept {
    if (&other == this) return *this;
    internal::ScopedLocker hold(lock_);
    ReleaseBlock();
    data_ = other.data_;
    size_ = other.size_;
    other.data_ = nullptr;
    other.size_ = 0;
    return *this;
}

TQZMemory::~TQZMemory() { Free(); }

bool TQZMemory::CopyFrom(const TQZMemory* source) {
    if (source == this) return true;
    internal::ScopedLocker hold(lock_);
    ReleaseBlock();
    if (source == nullptr) return false;
    const unsigned char* bytes = source->data_;
    const std::uint32_t size = source->size_;
    if (bytes == nullptr || size == 0) return true;
    auto* block = new (std::nothrow) unsigned char[size];
    if (block == nullptr) return false;
    std::memcpy(block, bytes, size);
    data_ = block;
    size_ = size;
    return true;
}

unsigned long TQZMemory::Append(unsigned char const* data, unsigned long length,
                                unsigned long position) {
    if (data == nullptr || length == 0) return size_;
    // unsigned long may be 64 bits wide, so the end is bounded without a sum that could wrap.
    const std::uint64_t count = length;
    const std::uint64_t start = position;
    if (count > kLargestSize || start > kLargestSize - count) return size_;
    const std::uint64_t end = start + count;

    internal::ScopedLocker hold(lock_);
    const auto newSize = static_cast<std::uint32_t>(end);
    const auto offset = static_cast<std::uint32_t>(position);
    auto* block = new (std::nothrow) unsigned char[newSize];
    if (block == nullptr) return size_;
    const std::uint32_t kept = std::min(size_, offset);
    if (kept > 0) std::memcpy(block, data_, kept);
    if (kept < offset) std::memset(block + kept, 0, offset - kept);
    // data may point into the old block, which is released only after this copy.
    std::memcpy(block + offset, data, length);
    ReleaseBlock();
    data_ = block;
    size_ = newSize;
    return size_;
}

unsigned char* TQZMemory::Bytes() const { return data_; }

unsigned long TQZMemory::Size() const { return size_; }

void TQZMemory::Clear() {
    internal::ScopedLocker hold(lock_);
    if (data_ != nullptr) std::memset(data_, 0, size_);
}

void TQZMemory::Free() {
    internal::ScopedLocker hold(lock_);
    ReleaseBlock();
}

void TQZMemory::Erase(unsigned int first, unsigned int last) {
    if (first == 0 || last == 0 || first >= last) return;
    internal::ScopedLocker hold(lock_);
    last = std::min<std::uint32_t>(last, size_);
    if (first >= last) return;
    // Shrinking in place needs no allocation, so it cannot fail.
    std::memmove(data_ + first, data_ + last, size_ - last);
    size_ -= last - first;
}

void TQZMemory::ReleaseBlock() {
    delete[] data_;
    data_ = nullptr;
    size_ = 0;
}

}  // namespace TQZCapture
