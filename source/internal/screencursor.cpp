// SPDX-License-Identifier: MIT
#include "internal/screencursor.h"

#include <cstring>

namespace TQZCapture {
namespace internal {

void DrawScreenCursor(HDC memory, LONG originX, LONG originY, const RECT& bounds) {
    CURSORINFO cursor;
    std::memset(&cursor, 0, sizeof(cursor));
    cursor.cbSize = sizeof(CURSORINFO);
    ICONINFO icon;
    std::memset(&icon, 0, sizeof(icon));
    GetCursorInfo(&cursor);

    // In 64 bits: an origin near either end of the LONG range must not wrap the position.
    long long x = cursor.ptScreenPos.x;
    long long y = cursor.ptScreenPos.y;
    if (GetIconInfo(cursor.hCursor, &icon)) {
        x -= static_cast<long long>(icon.xHotspot) + originX;
        y -= static_cast<long long>(icon.yHotspot) + originY;
        if (icon.hbmMask != nullptr) DeleteObject(icon.hbmMask);
        if (icon.hbmColor != nullptr) DeleteObject(icon.hbmColor);
    }
    if (x >= bounds.left && x <= bounds.right && y >= bounds.top && y <= bounds.bottom) {
        DrawIconEx(memory, static_cast<int>(x), static_cast<int>(y), cursor.hCursor, 0, 0, 0,
                   nullptr, DI_NORMAL | DI_COMPAT);
    }
}

}  // namespace internal
}  // namespace TQZCapture
