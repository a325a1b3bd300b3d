// SPDX-License-Identifier: MIT
// The Windows desktop as frames lent straight from the 32-bit top-down DIB sections GDI copies
// it into: BGRx, top row first, no repacking and no flip.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "frame.h"

namespace VornCapture {

class GdiScreen {
public:
    // DIB sections kept; a frame holds one until its last copy is gone.
    static constexpr int kSections = 3;

    // The region of `width` x `height` from the screen's origin, the primary screen's top-left
    // corner (where the desktop device reads too); 0 x 0: the primary screen's size. Nothing is
    // read or created before the first Take.
    explicit GdiScreen(std::uint32_t width = 0, std::uint32_t height = 0);
    ~GdiScreen();
    GdiScreen(const GdiScreen&) = delete;
    GdiScreen& operator=(const GdiScreen&) = delete;

    // One grab of the region now, with the cursor drawn in where it lies. Every grab has the
    // next sequence number, and the monotonic clock's time (ns) when it was taken. While any
    // copy of the frame is held its section is not written, also after the screen object is
    // gone. False when the screen cannot be read, the region's size is refused (ShapeOf), or
    // every section is still held by earlier frames (let some go and take again).
    bool Take(VideoFrame& frame);

private:
    struct Section;
    std::shared_ptr<Section> FreeSection();

    std::uint32_t width_;
    std::uint32_t height_;
    void* screen_ = nullptr;  // the screen's device context, made at the first grab
    std::array<std::shared_ptr<Section>, kSections> sections_;
    std::uint64_t sequence_ = 0;
};

}  // namespace VornCapture
