// SPDX-License-Identifier: MIT
// Device contexts and bitmaps of the virtual display: one table of live handles, so that a
// stale or foreign handle is refused instead of followed.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "world/display.h"

namespace VornWorld {
namespace display {

constexpr uint32_t kWhite = 0x00FFFFFFu;

// Bitmaps keep 0x00RRGGBB pixels, rows from the top. A monochrome bitmap keeps only black and
// white. Width, height and kind never change; `mutex` guards everything else.
//
// Rows are filled only when something needs them. Until then a row is black, or, after a copy
// that covered the whole bitmap, it shows `source` at (sourceX, sourceY + row): a capture then
// reads the screen straight into its DIB and fills only the rows the cursor is drawn on.
struct BitmapData {
    BitmapData() = default;
    BitmapData(const BitmapData&) = delete;
    BitmapData& operator=(const BitmapData&) = delete;
    // Hands the pixel memory back for the next bitmap of the same size.
    ~BitmapData();

    int width = 0;
    int height = 0;
    bool mono = false;
    bool stock = false;
    std::mutex mutex;
    std::unique_ptr<uint32_t[]> pixels;

    uint32_t* Row(int y) { return pixels.get() + static_cast<size_t>(y) * width; }
    // Fills rows [top, bottom) that are not filled yet.
    void Realize(int top, int bottom);
    void RealizeAll() { Realize(0, height); }
    // Every row shows `surface` from (x, y) on, which covers the whole bitmap; nothing copied.
    void ShowLater(std::shared_ptr<const Surface> surface, int x, int y);
    // Every row was just written.
    void MarkFilled();
    // Columns [x, x + count) of row y, in `scratch` (count pixels) unless the row is filled.
    const uint32_t* ReadRow(int y, int x, int count, uint32_t* scratch) const;

    int BitsPerPixel() const { return mono ? 1 : 32; }
    // Bytes per row of the bitmap in the system's own layout (rows padded to 2 bytes).
    int WidthBytes() const { return mono ? (width + 15) / 16 * 2 : width * 4; }

private:
    std::vector<uint8_t> filled_;  // per row
    int unfilled_ = 0;
    std::shared_ptr<const Surface> source_;
    int sourceX_ = 0;
    int sourceY_ = 0;

    friend std::shared_ptr<BitmapData> MakeBitmap(int width, int height, bool mono);
};

// Largest bitmap: 2^27 pixels (512 MiB).
constexpr uint64_t kMaxBitmapPixels = uint64_t{1} << 27;
// A new black bitmap, or null when the size is out of range or memory is short.
std::shared_ptr<BitmapData> MakeBitmap(int width, int height, bool mono);

enum class DcKind {
    Memory,   // CreateCompatibleDC: draws into its selected bitmap
    Display,  // CreateDCA("DISPLAY")
    Window,   // GetDC / GetWindowDC: a window, or the screen when `window` is null
};

// What a context shows or draws into, as looked up at one moment.
struct DcTarget {
    DcKind kind = DcKind::Memory;
    std::shared_ptr<BitmapData> bitmap;  // memory contexts
    HWND window = nullptr;               // window contexts; null: the screen
    bool client = false;                 // GetDC of a window: its client area
};

HDC AddDc(DcKind kind, HWND window, bool client);
bool FindDc(HDC dc, DcTarget* target);
HBITMAP AddBitmap(std::shared_ptr<BitmapData> bitmap);
std::shared_ptr<BitmapData> FindBitmap(HGDIOBJ object);
// The view a non-memory context gives for reading pixels.
bool ViewOfDc(const DcTarget& target, bool advance, View* view);

// COLORREF (0x00BBGGRR) and pixel (0x00RRGGBB) conversions.
inline uint32_t PixelOf(COLORREF c) {
    return ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}
inline COLORREF ColorRefOf(uint32_t p) { return PixelOf(p); }
// What a monochrome bitmap keeps of a colour: white stays white, every other colour is black.
inline uint32_t MonoOf(uint32_t p) { return (p & kWhite) == kWhite ? kWhite : 0; }

// Converts `count` pixels to 3-byte blue-green-red.
void PixelsTo24(const uint32_t* from, uint8_t* to, size_t count);

}  // namespace display
}  // namespace VornWorld
