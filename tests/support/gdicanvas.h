// SPDX-License-Identifier: MIT
// Drawing tests of the window system: a canvas as the screen devices draw their frames on.
#pragma once

#include <cstring>

#include "vornplatform.h"

// The header of an uncompressed DIB of w x h (negative h: top-down rows) and `bits` per pixel.
inline BITMAPINFO DibHeader(int w, int h, int bits) {
    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = static_cast<WORD>(bits);
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

// A memory context with a w x h bitmap made for the screen selected into it.
class MemoryCanvas {
public:
    MemoryCanvas(int w, int h)
        : width_(w),
          height_(h),
          screen_(GetDC(nullptr)),
          dc_(CreateCompatibleDC(screen_)),
          bitmap_(CreateCompatibleBitmap(screen_, w, h)),
          old_(SelectObject(dc_, bitmap_)) {}
    ~MemoryCanvas() {
        if (old_ != nullptr) SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
        ReleaseDC(nullptr, screen_);
    }
    HDC Screen() const { return screen_; }
    HDC Dc() const { return dc_; }
    HBITMAP Bitmap() const { return bitmap_; }
    // Takes the bitmap out of the context, as the capture does before reading it back.
    void Deselect() {
        SelectObject(dc_, old_);
        old_ = nullptr;
    }
    // Sets every pixel to `colour`.
    void Fill(COLORREF colour) {
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x) SetPixel(dc_, x, y, colour);
    }

private:
    int width_, height_;
    HDC screen_;
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ old_;
};
