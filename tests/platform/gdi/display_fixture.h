// SPDX-License-Identifier: MIT
// Shared pieces of the display tests: the fixture of a clean virtual display, and a capture
// done the way the screen devices do it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "gdicanvas.h"
#include "virtual_display.h"
#include "vornplatform.h"

// A w x h copy of `source` from (x, y), read back as a DIB of `bits` per pixel (height
// negated for top-down). Returns the rows as GetDIBits wrote them; empty when a step failed.
inline std::vector<uint8_t> Grab(HDC source, int x, int y, int w, int h, int bits = 24,
                                 bool topDown = false) {
    std::vector<uint8_t> out;
    HDC memory = CreateCompatibleDC(source);
    HBITMAP bitmap = CreateCompatibleBitmap(source, w, h);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    bool copied = BitBlt(memory, 0, 0, w, h, source, x, y, SRCCOPY) != FALSE;
    SelectObject(memory, previous);
    if (copied) {
        BITMAPINFO info = DibHeader(w, topDown ? -h : h, bits);
        size_t stride = (static_cast<size_t>(w) * bits / 8 + 3) / 4 * 4;
        out.assign(stride * h, 0xEE);
        if (GetDIBits(memory, bitmap, 0, h, out.data(), &info, DIB_RGB_COLORS) != h) out.clear();
    }
    DeleteObject(bitmap);
    DeleteDC(memory);
    return out;
}

// The pixel at column x of row `row` (counted in memory order) of a 24-bit DIB of width w.
inline uint32_t Pixel24(const std::vector<uint8_t>& dib, int w, int row, int x) {
    size_t stride = (static_cast<size_t>(w) * 3 + 3) / 4 * 4;
    const uint8_t* p = dib.data() + stride * row + 3 * x;
    return (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
}
