// SPDX-License-Identifier: MIT
#include "internal/queued/screengrab.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "internal/queued/framestore.h"
#include "internal/screencursor.h"

namespace TQZCapture {
namespace internal {
namespace {

const unsigned long kMaxImageBytes = 0x7FFFFFFFul;

unsigned long CheckedProduct(unsigned long a, unsigned long b) {
    if (a == 0 || b == 0 || a > kMaxImageBytes / b) return 0;
    return a * b;
}

// Reads the bitmap back and hands it on. Rows come back padded to 4 bytes; for a packed image
// they are moved together, so the frame holds exactly 3 bytes per pixel.
void ReadBackAndDeliver(const GrabRequest& request, HDC memory, HBITMAP captured,
                        const FrameSink& deliver) {
    LONG width = request.imageWidth;
    LONG height = request.imageHeight;
    if (request.imageFromBitmap) {
        BITMAP bitmap;
        std::memset(&bitmap, 0, sizeof(bitmap));
        if (GetObjectA(captured, sizeof(BITMAP), &bitmap) == 0) return;
        width = bitmap.bmWidth;
        height = bitmap.bmHeight;
    }
    const unsigned long stride = PaddedStride(width);
    const unsigned long paddedBytes =
        height > 0 ? CheckedProduct(stride, static_cast<unsigned long>(height)) : 0;
    const unsigned long packedBytes = PackedImageSize(width, height);
    if (paddedBytes == 0 || packedBytes == 0) return;
    const unsigned long frameBytes = request.imageFromBitmap ? paddedBytes : packedBytes;

    // The worker's store takes a frame read back as it is; rows that must be repacked are
    // read into its scratch block and packed into the frame. Without a store, one buffer
    // serves both, packed in place.
    FrameStore* store = request.store;
    const bool asRead = request.imageFromBitmap || packedBytes == paddedBytes;
    std::unique_ptr<unsigned char[]> owned;
    unsigned char* buffer = nullptr;
    if (store != nullptr) {
        buffer = asRead ? store->Block(frameBytes) : store->Scratch(paddedBytes);
    } else {
        owned.reset(new (std::nothrow) unsigned char[paddedBytes]);
        buffer = owned.get();
    }
    if (buffer == nullptr) return;

    BITMAPINFO info;
    FillHeader(info, width, height, frameBytes);
    HDC reader = request.readThroughMemory ? memory : request.source;
    // A failed read-back leaves a black frame rather than stale bytes.
    if (GetDIBits(reader, captured, 0, static_cast<UINT>(height), buffer, &info, DIB_RGB_COLORS) ==
        0)
        std::memset(buffer, 0, paddedBytes);

    unsigned char* frame = buffer;
    if (!asRead) {
        if (store != nullptr) frame = store->Block(frameBytes);
        if (frame == nullptr) return;
        const unsigned long packedStride = static_cast<unsigned long>(width) * 3;
        for (LONG row = 0; row < height; ++row) {
            std::memmove(frame + row * packedStride, buffer + row * stride, packedStride);
        }
    }
    deliver(frame, static_cast<long>(frameBytes));
}

}  // namespace

unsigned long PaddedStride(LONG width) {
    if (width <= 0) return 0;
    const unsigned long bytes = CheckedProduct(static_cast<unsigned long>(width), 3);
    if (bytes == 0 || bytes > kMaxImageBytes - 3) return 0;
    return (bytes + 3) & ~3ul;
}

unsigned long PackedImageSize(LONG width, LONG height) {
    if (width <= 0 || height <= 0) return 0;
    return CheckedProduct(CheckedProduct(static_cast<unsigned long>(width), 3),
                          static_cast<unsigned long>(height));
}

void ReportNullHandle(const char* handle) {
#if defined(VMC_DIAGNOSTICS)
    std::fprintf(stderr, "Assertion failed: %s, file source/tqzdesktopdevice\n", handle);
#else
    (void)handle;
#endif
}

bool GrabFrame(const GrabRequest& request, const FrameSink& deliver) {
    if (request.source == nullptr || request.width <= 0 || request.height <= 0) return false;
    if (PackedImageSize(request.width, request.height) == 0) return false;

    HDC memory = CreateCompatibleDC(request.source);
    if (memory == nullptr) {
        if (request.reportNullHandles) ReportNullHandle("hMemDC");
        return false;
    }
    bool delivered = false;
    HBITMAP bitmap = CreateCompatibleBitmap(request.source, request.width, request.height);
    if (bitmap == nullptr && request.reportNullHandles) ReportNullHandle("hBitmap");
    if (bitmap != nullptr) {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        if (previous != nullptr) {
            if (BitBlt(memory, 0, 0, request.width, request.height, request.source, request.x,
                       request.y, SRCCOPY)) {
                if (request.drawCursor)
                    DrawScreenCursor(memory, request.originX, request.originY,
                                     request.cursorBounds);
                // The bitmap comes out of the memory context before it is read back.
                HBITMAP captured = static_cast<HBITMAP>(SelectObject(memory, previous));
                if (captured != nullptr) {
                    ReadBackAndDeliver(request, memory, captured,
                                       [&](unsigned char* data, long length) {
                                           delivered = true;
                                           deliver(data, length);
                                       });
                }
            }
            SelectObject(memory, previous);
        }
        // A bitmap that could not be taken out of the context cannot be deleted while it is
        // selected: delete it once the context is gone.
        if (!DeleteObject(bitmap)) {
            DeleteDC(memory);
            DeleteObject(bitmap);
            return delivered;
        }
    }
    DeleteDC(memory);
    return delivered;
}

}  // namespace internal
}  // namespace TQZCapture
