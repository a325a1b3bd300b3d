// SPDX-License-Identifier: MIT
// Test helper: the bytes of a store or buffer as a string ("" when it holds none).
#pragma once

#include "tqzbuffer.h"
#include "tqzmemory.h"

#include <string>

inline std::string BytesOf(const TQZCapture::TQZMemory& memory) {
    if (memory.Bytes() == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(memory.Bytes()), memory.Size());
}

inline std::string BytesOf(const TQZCapture::TQZBuffer& buffer) {
    if (buffer.bytes() == nullptr) return {};
    return std::string(buffer.bytes(), static_cast<size_t>(buffer.size()));
}
