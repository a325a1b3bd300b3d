// SPDX-License-Identifier: MIT
// The cursor: where it is, its icon information, and drawing it into a memory bitmap.
#include <algorithm>
#include <mutex>

#include "vorn/win/kernel.h"
#include "world/display_objects.h"
#include "world/faults.h"

using VornWorld::ShouldFail;
using namespace VornWorld::display;

namespace {

// The size of the system's icons, used with DI_DEFAULTSIZE.
constexpr int kSystemIconSide = 32;

// The cursor a handle names, or an empty state for any other handle.
CursorState CursorOf(HICON icon) {
    CursorState cursor = Display().CurrentCursor();
    if (icon == nullptr || icon != cursor.handle) {
        SetLastError(ERROR_INVALID_CURSOR_HANDLE);
        return CursorState{};
    }
    return cursor;
}

// Copies the cursor's mask (white where the target shows through) or its colours into a new
// bitmap.
std::shared_ptr<BitmapData> CursorBitmap(const CursorImage& image, bool mask) {
    auto bitmap = MakeBitmap(image.width, image.height, mask);
    if (!bitmap) return nullptr;
    size_t count = static_cast<size_t>(image.width) * image.height;
    for (size_t i = 0; i < count; ++i) {
        bitmap->pixels[i] = mask ? (image.mask[i] != 0 ? kWhite : 0) : image.colors[i] & kWhite;
    }
    bitmap->MarkFilled();
    return bitmap;
}

}  // namespace

extern "C" {

BOOL WINAPI GetCursorInfo(PCURSORINFO info) {
    if (ShouldFail(VORN_FAULT("GetCursorInfo"))) return FALSE;
    if (info == nullptr || info->cbSize != sizeof(CURSORINFO)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    CursorState cursor = Display().CurrentCursor();
    info->flags = cursor.visible ? CURSOR_SHOWING : 0;
    info->hCursor = cursor.handle;
    info->ptScreenPos = cursor.position;
    return TRUE;
}

BOOL WINAPI GetIconInfo(HICON icon, PICONINFO info) {
    if (ShouldFail(VORN_FAULT("GetIconInfo"))) return FALSE;
    if (info == nullptr) return FALSE;
    CursorState cursor = CursorOf(icon);
    if (!cursor.image) return FALSE;
    // Fresh bitmaps each time: the caller owns and deletes them.
    auto mask = CursorBitmap(*cursor.image, true);
    auto color = CursorBitmap(*cursor.image, false);
    if (!mask || !color) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    info->fIcon = FALSE;
    info->xHotspot = static_cast<DWORD>(cursor.hotSpot.x);
    info->yHotspot = static_cast<DWORD>(cursor.hotSpot.y);
    info->hbmMask = AddBitmap(std::move(mask));
    info->hbmColor = AddBitmap(std::move(color));
    return TRUE;
}

BOOL WINAPI DrawIconEx(HDC dc, int x, int y, HICON icon, int width, int height, UINT step,
                       HBRUSH flickerFreeBrush, UINT flags) {
    (void)step;
    (void)flickerFreeBrush;
    if (ShouldFail(VORN_FAULT("DrawIconEx"))) return FALSE;
    CursorState cursor = CursorOf(icon);
    DcTarget target;
    if (!cursor.image || !FindDc(dc, &target) || (flags & DI_NORMAL) == 0 || width < 0 ||
        height < 0) {
        return FALSE;
    }
    // Drawing reaches memory bitmaps only, as with BitBlt.
    if (target.kind != DcKind::Memory || !target.bitmap) return FALSE;
    const CursorImage& image = *cursor.image;
    bool defaultSize = (flags & DI_DEFAULTSIZE) != 0;
    if (width == 0) width = defaultSize ? kSystemIconSide : image.width;
    if (height == 0) height = defaultSize ? kSystemIconSide : image.height;

    BitmapData& to = *target.bitmap;
    int64_t left = std::max<int64_t>(x, 0), right = std::min<int64_t>(int64_t{x} + width, to.width);
    int64_t top = std::max<int64_t>(y, 0),
            bottom = std::min<int64_t>(int64_t{y} + height, to.height);
    if (left >= right || top >= bottom) return TRUE;
    bool useMask = (flags & DI_MASK) != 0, useImage = (flags & DI_IMAGE) != 0;
    std::lock_guard<std::mutex> lock(to.mutex);
    to.Realize(static_cast<int>(top), static_cast<int>(bottom));
    for (int64_t ty = top; ty < bottom; ++ty) {
        // Stretched to the size asked for by picking the nearest image pixel.
        size_t iy = static_cast<size_t>((ty - y) * image.height / height);
        const uint32_t* colors = image.colors.data() + iy * image.width;
        const uint8_t* mask = image.mask.data() + iy * image.width;
        uint32_t* row = to.Row(static_cast<int>(ty));
        for (int64_t tx = left; tx < right; ++tx) {
            size_t ix = static_cast<size_t>((tx - x) * image.width / width);
            uint32_t p = row[tx];
            if (image.alpha && useMask && useImage) {
                p = BlendOver(colors[ix], p);
            } else {
                if (useMask && mask[ix] == 0) p = 0;
                if (useImage) p = useMask ? p ^ (colors[ix] & kWhite) : colors[ix] & kWhite;
            }
            row[tx] = to.mono ? MonoOf(p) : p;
        }
    }
    return TRUE;
}

}  // extern "C"
