// SPDX-License-Identifier: MIT
#include "tqzbuffer.h"

#include <climits>
#include <functional>
#include <new>

namespace TQZCapture {

TQZBuffer::TQZBuffer(const char* data, unsigned int length) { append(data, length); }

TQZBuffer::TQZBuffer(const TQZBuffer& other) { *this = other; }

TQZBuffer& TQZBuffer::operator=(const TQZBuffer& other) {
    try {
        bytes_ = other.bytes_;
    } catch (const std::bad_alloc&) {
    }
    return *this;
}

TQZBuffer::~TQZBuffer() = default;

void TQZBuffer::append(char const* data, unsigned int length) {
    if (data == nullptr || length == 0) return;
    if (length > static_cast<unsigned int>(INT_MAX) - bytes_.size()) return;
    const char* begin = bytes_.data();
    const bool fromSelf = !bytes_.empty() && !std::less<const char*>()(data, begin) &&
                          std::less<const char*>()(data, begin + bytes_.size());
    try {
        if (!fromSelf) {
            // A range insert gives the strong guarantee: on failure nothing changes.
            bytes_.insert(bytes_.end(), data, data + length);
            return;
        }
        // Bytes of the buffer itself: copy them into new storage before the old goes.
        std::vector<char> grown;
        grown.reserve(bytes_.size() + length);
        grown.assign(bytes_.begin(), bytes_.end());
        grown.insert(grown.end(), data, data + length);
        bytes_.swap(grown);
    } catch (const std::bad_alloc&) {
    }
}

char* TQZBuffer::bytes() { return bytes_.empty() ? nullptr : bytes_.data(); }

const char* TQZBuffer::bytes() const { return bytes_.empty() ? nullptr : bytes_.data(); }

int TQZBuffer::size() const { return static_cast<int>(bytes_.size()); }

bool TQZBuffer::empty() const { return size() < 1; }

void TQZBuffer::clear() { bytes_.clear(); }

void TQZBuffer::erase(int count) {
    if (count <= 0) return;
    if (count >= size()) {
        clear();
        return;
    }
    bytes_.erase(bytes_.begin(), bytes_.begin() + count);
}

}  // namespace TQZCapture
