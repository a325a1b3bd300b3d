// SPDX-License-Identifier: MIT
// Copies a region of a device context into a 24-bit bottom-up image, optionally with the
// mouse cursor drawn in, and hands the image to a delivery function. Shared by the screen
// devices' four capture operations; each caller acquires and releases its source context.
#pragma once

#include <cstring>
#include <functional>

#include "vornplatform.h"

namespace TQZCapture {
namespace internal {

// The header of a 24-bit bottom-up DIB of width x height pixels, as the screen devices read
// their copies back.
inline void FillHeader(BITMAPINFO& info, LONG width, LONG height, unsigned long imageBytes) {
    std::memset(&info, 0, sizeof(info));
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    info.bmiHeader.biSizeImage = static_cast<DWORD>(imageBytes);
}

class FrameStore;

struct GrabRequest {
    HDC source = nullptr;  // the context the pixels come from
    LONG x = 0;            // top-left corner of the region in the source context
    LONG y = 0;
    LONG width = 0;  // size of the region, and of the bitmap it is copied into
    LONG height = 0;

    // Cursor overlay: drawn at the cursor's screen position less its hot spot and less
    // (originX, originY), when that point lies inside [minX, maxX] x [minY, maxY].
    bool drawCursor = false;
    LONG originX = 0;
    LONG originY = 0;
    RECT cursorBounds = {0, 0, 0, 0};

    // The image: either the requested size with rows packed to exactly 3 bytes per pixel
    // (imageWidth x imageHeight), or the bitmap's own size with rows padded to 4 bytes.
    bool imageFromBitmap = false;
    LONG imageWidth = 0;
    LONG imageHeight = 0;

    // GetDIBits reads through the memory context instead of the source context.
    bool readThroughMemory = false;

    // A null memory context or bitmap is reported (ReportNullHandle) before the grab ends.
    bool reportNullHandles = false;

    // Where the image is read back: the worker's frame store, or (null) a buffer of the
    // grab's own that lives until deliver returns.
    FrameStore* store = nullptr;
};

using FrameSink = std::function<void(unsigned char* data, long length)>;

// Performs one grab. Every platform object it creates is released before it returns, on every
// path; a failed step ends the grab without delivery. Returns true when a frame was delivered.
bool GrabFrame(const GrabRequest& request, const FrameSink& deliver);

// Bytes of one bottom-up 24-bit row padded to 4 bytes; 0 when width is not positive or the
// size does not fit in 31 bits.
unsigned long PaddedStride(LONG width);

// width x height x 3 when positive and no larger than 31 bits, else 0.
unsigned long PackedImageSize(LONG width, LONG height);

// Diagnostic builds (VMC_DIAGNOSTICS, on in Debug builds) report a null platform handle of the
// desktop device's window capture on standard error, as a failed assertion naming the handle,
// and go on; other builds say nothing.
void ReportNullHandle(const char* handle);

}  // namespace internal
}  // namespace TQZCapture
