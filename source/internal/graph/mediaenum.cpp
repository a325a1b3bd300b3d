// SPDX-License-Identifier: MIT
#include "internal/graph/mediaenum.h"

#include <vector>

namespace TQZCapture {
namespace internal {

std::string NarrowText(const wchar_t* wide) {
    if (wide == nullptr) return std::string();
    const int bytes = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) return std::string();
    std::vector<char> text(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text.data(), bytes, nullptr, nullptr);
    return std::string(text.data());
}

}  // namespace internal
}  // namespace TQZCapture
