// SPDX-License-Identifier: MIT
// Pixel transfers: bit-block transfer into memory bitmaps, read-back as device-independent
// bitmaps, and single pixels.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "vorn/win/kernel.h"
#include "world/display_objects.h"
#include "world/faults.h"

namespace VornWorld {
namespace display {
namespace {

// A destination rectangle clipped to the bitmap and to what the source can give; source
// coordinates are destination coordinates plus (dx, dy).
struct Clip {
    int left = 0, top = 0, right = 0, bottom = 0;
    int64_t dx = 0, dy = 0;
    bool Empty() const { return left >= right || top >= bottom; }
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

Clip ClipBlit(int x, int y, int w, int h, const BitmapData& to, int64_t dx, int64_t dy,
              const RECT& sourceArea) {
    Clip c;
    c.dx = dx;
    c.dy = dy;
    int64_t left = std::max<int64_t>({0, x, sourceArea.left - dx});
    int64_t right = std::min<int64_t>({to.width, int64_t{x} + w, sourceArea.right - dx});
    int64_t top = std::max<int64_t>({0, y, sourceArea.top - dy});
    int64_t bottom = std::min<int64_t>({to.height, int64_t{y} + h, sourceArea.bottom - dy});
    if (left >= right || top >= bottom) return c;
    c.left = static_cast<int>(left);
    c.right = static_cast<int>(right);
    c.top = static_cast<int>(top);
    c.bottom = static_cast<int>(bottom);
    return c;
}

bool Covers(const Clip& c, const BitmapData& b) {
    return c.left == 0 && c.top == 0 && c.right == b.width && c.bottom == b.height;
}

void MakeMono(BitmapData& b, const Clip& c) {
    for (int y = c.top; y < c.bottom; ++y) {
        uint32_t* row = b.Row(y);
        for (int x = c.left; x < c.right; ++x) row[x] = MonoOf(row[x]);
    }
}

void FillBlit(BitmapData& to, int x, int y, int w, int h, uint32_t value) {
    RECT all{0, 0, to.width, to.height};
    Clip c = ClipBlit(x, y, w, h, to, 0, 0, all);
    if (c.Empty()) return;
    std::lock_guard<std::mutex> lock(to.mutex);
    to.Realize(c.top, c.bottom);
    for (int row = c.top; row < c.bottom; ++row) {
        FillPixels(to.Row(row) + c.left, value, static_cast<size_t>(c.Width()));
    }
}

void BitmapBlit(BitmapData& to, int x, int y, int w, int h, BitmapData& from, int sx, int sy) {
    RECT all{0, 0, from.width, from.height};
    Clip c = ClipBlit(x, y, w, h, to, int64_t{sx} - x, int64_t{sy} - y, all);
    if (c.Empty()) return;
    std::unique_lock<std::mutex> first(to.mutex, std::defer_lock);
    std::unique_lock<std::mutex> second(from.mutex, std::defer_lock);
    if (&to == &from) {
        first.lock();
    } else {
        std::lock(first, second);
    }
    from.Realize(static_cast<int>(c.top + c.dy), static_cast<int>(c.bottom + c.dy));
    to.Realize(c.top, c.bottom);
    // Within one bitmap the rows may overlap: copy away from the overlap.
    bool upward = &to == &from && c.dy < 0;
    for (int i = 0; i < c.Height(); ++i) {
        int row = upward ? c.bottom - 1 - i : c.top + i;
        std::memmove(to.Row(row) + c.left, from.Row(static_cast<int>(row + c.dy)) + c.left + c.dx,
                     static_cast<size_t>(c.Width()) * sizeof(uint32_t));
    }
    if (to.mono && !from.mono) MakeMono(to, c);
}

// False when the source's pixels could not be read.
bool ViewBlit(BitmapData& to, int x, int y, int w, int h, const View& view, int sx, int sy) {
    const Surface& surface = *view.surface;
    RECT area{std::max<LONG>(view.area.left, 0), std::max<LONG>(view.area.top, 0),
              std::min<LONG>(view.area.right, surface.Width()),
              std::min<LONG>(view.area.bottom, surface.Height())};
    Clip c = ClipBlit(x, y, w, h, to, int64_t{view.area.left} + sx - x,
                      int64_t{view.area.top} + sy - y, area);
    if (c.Empty()) return true;
    RECT source{static_cast<LONG>(c.left + c.dx), static_cast<LONG>(c.top + c.dy),
                static_cast<LONG>(c.right + c.dx), static_cast<LONG>(c.bottom + c.dy)};
    if (!surface.Fetch(source)) return false;
    std::lock_guard<std::mutex> lock(to.mutex);
    if (Covers(c, to) && !to.mono) {
        // The pixels are read when they are needed, mostly straight into a DIB.
        to.ShowLater(view.surface, static_cast<int>(c.dx), static_cast<int>(c.dy));
        return true;
    }
    to.Realize(c.top, c.bottom);
    surface.Copy(static_cast<int>(c.left + c.dx), static_cast<int>(c.top + c.dy), c.Width(),
                 c.Height(), to.Row(c.top) + c.left, static_cast<size_t>(to.width));
    if (to.mono) MakeMono(to, c);
    return true;
}

// Bytes per row of a device-independent bitmap: rows padded to 4 bytes.
uint64_t DibStride(int64_t width, int bits) {
    return (static_cast<uint64_t>(width) * static_cast<uint64_t>(bits) + 31) / 32 * 4;
}

// Fills a header asked about with a null buffer: the bitmap's own format when biBitCount is 0,
// otherwise just the image size for the format asked for.
int DescribeDib(const BitmapData& bitmap, BITMAPINFOHEADER& header) {
    if (header.biBitCount == 0) {
        header.biWidth = bitmap.width;
        header.biHeight = bitmap.height;
        header.biPlanes = 1;
        header.biBitCount = static_cast<WORD>(bitmap.BitsPerPixel());
        header.biCompression = BI_RGB;
        header.biXPelsPerMeter = 0;
        header.biYPelsPerMeter = 0;
        header.biClrUsed = 0;
        header.biClrImportant = 0;
    }
    // Sizes beyond 32 bits are left at 0.
    uint64_t stride = DibStride(header.biWidth, header.biBitCount);
    uint64_t rows = static_cast<uint64_t>(std::abs(int64_t{header.biHeight}));
    bool fits = header.biWidth >= 0 && (rows == 0 || stride <= 0xFFFFFFFFu / rows);
    header.biSizeImage = fits ? static_cast<DWORD>(stride * rows) : 0;
    return bitmap.height;
}

}  // namespace
}  // namespace display
}  // namespace VornWorld

using VornWorld::ShouldFail;
using namespace VornWorld::display;

extern "C" {

BOOL WINAPI BitBlt(HDC dc, int x, int y, int width, int height, HDC source, int sourceX,
                   int sourceY, DWORD rop) {
    if (ShouldFail(VORN_FAULT("BitBlt"))) return FALSE;
    DcTarget to;
    if (!FindDc(dc, &to)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // Drawing reaches memory bitmaps only: the screen and windows are the world's to paint.
    if (to.kind != DcKind::Memory || !to.bitmap) return FALSE;
    rop &= ~CAPTUREBLT;
    if (rop == BLACKNESS || rop == WHITENESS) {
        if (width > 0 && height > 0) {
            FillBlit(*to.bitmap, x, y, width, height, rop == WHITENESS ? kWhite : 0);
        }
        return TRUE;
    }
    if (rop != SRCCOPY) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DcTarget from;
    if (!FindDc(source, &from)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (from.kind == DcKind::Memory) {
        if (!from.bitmap) return FALSE;
        if (width > 0 && height > 0) {
            BitmapBlit(*to.bitmap, x, y, width, height, *from.bitmap, sourceX, sourceY);
        }
        return TRUE;
    }
    View view;
    // The window may have gone since its context was taken.
    if (!ViewOfDc(from, true, &view)) return FALSE;
    if (width <= 0 || height <= 0) return TRUE;
    return ViewBlit(*to.bitmap, x, y, width, height, view, sourceX, sourceY) ? TRUE : FALSE;
}

int WINAPI GetDIBits(HDC dc, HBITMAP bitmapHandle, UINT start, UINT lines, LPVOID bits,
                     LPBITMAPINFO info, UINT usage) {
    if (ShouldFail(VORN_FAULT("GetDIBits"))) return 0;
    DcTarget target;
    auto bitmap = FindBitmap(bitmapHandle);
    if (!FindDc(dc, &target) || !bitmap || info == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    BITMAPINFOHEADER& header = info->bmiHeader;
    if (usage > DIB_PAL_COLORS || header.biSize < sizeof(BITMAPINFOHEADER)) return 0;
    if (bits == nullptr) return DescribeDib(*bitmap, header);

    int depth = header.biBitCount;
    if ((depth != 24 && depth != 32) || header.biCompression != BI_RGB || header.biWidth <= 0 ||
        header.biHeight == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    bool topDown = header.biHeight < 0;
    int64_t dibHeight = std::abs(int64_t{header.biHeight});
    if (start >= dibHeight) return 0;
    int64_t count = std::min<int64_t>(lines, dibHeight - start);
    uint64_t stride = DibStride(header.biWidth, depth);
    int columns = std::min<int>(header.biWidth, bitmap->width);

    // The image lies over the bitmap from its top-left corner; scan lines count from the
    // image's first row in memory order: the bottom row for a bottom-up image.
    constexpr int kChunk = 1024;
    uint32_t scratch[kChunk];
    size_t pixelBytes = static_cast<size_t>(depth / 8);
    int copied = 0;
    std::lock_guard<std::mutex> lock(bitmap->mutex);
    for (int64_t i = 0; i < count; ++i) {
        int64_t scan = start + i;
        int64_t row = topDown ? scan : dibHeight - 1 - scan;
        auto* out = static_cast<uint8_t*>(bits) + static_cast<size_t>(i) * stride;
        size_t done = 0;
        if (row < bitmap->height) ++copied;
        for (int x = 0; row < bitmap->height && x < columns; x += kChunk) {
            int n = std::min(kChunk, columns - x);
            const uint32_t* from = bitmap->ReadRow(static_cast<int>(row), x, n, scratch);
            if (depth == 24) {
                PixelsTo24(from, out + done, static_cast<size_t>(n));
            } else {
                std::memcpy(out + done, from, static_cast<size_t>(n) * sizeof(uint32_t));
            }
            done += static_cast<size_t>(n) * pixelBytes;
        }
        std::memset(out + done, 0, static_cast<size_t>(stride) - done);
    }
    // Lines beyond the bitmap come out black and are not counted.
    DescribeDib(*bitmap, header);
    return copied;
}

COLORREF WINAPI SetPixel(HDC dc, int x, int y, COLORREF color) {
    if (ShouldFail(VORN_FAULT("SetPixel"))) return CLR_INVALID;
    DcTarget target;
    if (!FindDc(dc, &target) || target.kind != DcKind::Memory || !target.bitmap) {
        return CLR_INVALID;
    }
    BitmapData& b = *target.bitmap;
    if (x < 0 || y < 0 || x >= b.width || y >= b.height) return CLR_INVALID;
    uint32_t value = PixelOf(color);
    if (b.mono) {
        // The nearer of black and white.
        uint32_t sum = (value >> 16) + ((value >> 8) & 0xFFu) + (value & 0xFFu);
        value = sum >= 384 ? kWhite : 0;
    }
    std::lock_guard<std::mutex> lock(b.mutex);
    b.Realize(y, y + 1);
    b.Row(y)[x] = value;
    return ColorRefOf(value);
}

COLORREF WINAPI GetPixel(HDC dc, int x, int y) {
    if (ShouldFail(VORN_FAULT("GetPixel"))) return CLR_INVALID;
    DcTarget target;
    if (!FindDc(dc, &target)) return CLR_INVALID;
    if (target.kind == DcKind::Memory) {
        if (!target.bitmap) return CLR_INVALID;
        BitmapData& b = *target.bitmap;
        if (x < 0 || y < 0 || x >= b.width || y >= b.height) return CLR_INVALID;
        std::lock_guard<std::mutex> lock(b.mutex);
        b.Realize(y, y + 1);
        return ColorRefOf(b.Row(y)[x]);
    }
    View view;
    if (!ViewOfDc(target, false, &view)) return CLR_INVALID;
    int64_t sx = int64_t{view.area.left} + x, sy = int64_t{view.area.top} + y;
    if (x < 0 || y < 0 || sx >= view.area.right || sy >= view.area.bottom) return CLR_INVALID;
    if (sx >= view.surface->Width() || sy >= view.surface->Height()) return CLR_INVALID;
    RECT one{static_cast<LONG>(sx), static_cast<LONG>(sy), static_cast<LONG>(sx + 1),
             static_cast<LONG>(sy + 1)};
    if (!view.surface->Fetch(one)) return CLR_INVALID;
    return ColorRefOf(view.surface->Pixel(static_cast<int>(sx), static_cast<int>(sy)));
}

}  // extern "C"
