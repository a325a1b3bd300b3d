// SPDX-License-Identifier: MIT
// Pixel surfaces of the virtual display: screen frames with the moving test box, the look of a
// window, and the routines every copy goes through.
#include <algorithm>
#include <atomic>
#include <cstring>

#include "world/display.h"
#include "virtual/display_state.h"

namespace VornWorld {
namespace display {

uintptr_t NewHandleValue() {
    // Multiples of 4 far from null, like the handles of the real system; never reused, so a
    // stale handle is recognised as stale.
    static std::atomic<uintptr_t> next{0x10000};
    return next.fetch_add(4);
}

void CopyPixels(uint32_t* to, const uint32_t* from, size_t count) {
    std::memcpy(to, from, count * sizeof(uint32_t));
}

void FillPixels(uint32_t* to, uint32_t value, size_t count) { std::fill_n(to, count, value); }

namespace {

// Position along a track of `range` pixels that bounces back and forth.
long Bounce(uint64_t t, long range) {
    if (range <= 0) return 0;
    uint64_t period = 2 * static_cast<uint64_t>(range);
    uint64_t p = t % period;
    return static_cast<long>(p <= static_cast<uint64_t>(range) ? p : period - p);
}

}  // namespace

RECT BoxOfFrame(int width, int height, uint64_t frame) {
    long side = std::max(1, std::min(64, std::min(width, height) / 4));
    long x = Bounce(frame * 7, width - side);
    long y = Bounce(frame * 3, height - side);
    return RECT{static_cast<LONG>(x), static_cast<LONG>(y), static_cast<LONG>(x + side),
                static_cast<LONG>(y + side)};
}

uint32_t BoxColorOfFrame(uint64_t frame) {
    // An odd multiplier makes the colour differ for 2^24 consecutive frames.
    return static_cast<uint32_t>(frame * 0x9E3779B1u + 0x00406080u) & 0x00FFFFFFu;
}

std::vector<uint32_t> TestBackground(int width, int height) {
    std::vector<uint32_t> reds(static_cast<size_t>(width));
    for (int x = 0; x < width; ++x) {
        reds[x] = (static_cast<uint32_t>(x) * 255u / static_cast<uint32_t>(std::max(1, width - 1)))
                  << 16;
    }
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        uint32_t green =
            (static_cast<uint32_t>(y) * 255u / static_cast<uint32_t>(std::max(1, height - 1))) << 8;
        uint32_t* row = pixels.data() + static_cast<size_t>(y) * width;
        for (int x = 0; x < width; ++x) {
            uint32_t blue = (((x >> 6) + (y >> 6)) & 1) != 0 ? 0xC0u : 0x40u;
            row[x] = reds[x] | green | blue;
        }
    }
    return pixels;
}

ScreenShot::ScreenShot(std::shared_ptr<const Composite> composite, uint64_t frame)
    : composite_(std::move(composite)) {
    width_ = composite_->width;
    height_ = composite_->height;
    if (composite_->moving) {
        box_ = BoxOfFrame(width_, height_, frame);
        boxColor_ = BoxColorOfFrame(frame);
    }
}

void ScreenShot::Copy(int x, int y, int w, int h, uint32_t* to, size_t stride) const {
    const uint32_t* from = composite_->pixels.data() + static_cast<size_t>(y) * width_ + x;
    for (int row = 0; row < h; ++row) {
        CopyPixels(to + row * stride, from + static_cast<size_t>(row) * width_,
                   static_cast<size_t>(w));
    }
    // The box lies on the background, under every window: drawn only where the copy shows it.
    int left = std::max<int>(x, box_.left), right = std::min<int>(x + w, box_.right);
    int top = std::max<int>(y, box_.top), bottom = std::min<int>(y + h, box_.bottom);
    for (int sy = top; sy < bottom; ++sy) {
        const uint8_t* open = composite_->open.data() + static_cast<size_t>(sy) * width_;
        uint32_t* out = to + static_cast<size_t>(sy - y) * stride - x;
        for (int sx = left; sx < right; ++sx) {
            if (open[sx] != 0) out[sx] = boxColor_;
        }
    }
}

const uint32_t* Surface::Read(int x, int y, int count, uint32_t* scratch) const {
    Copy(x, y, count, 1, scratch, static_cast<size_t>(count));
    return scratch;
}

const uint32_t* ScreenShot::Read(int x, int y, int count, uint32_t* scratch) const {
    // Rows the moving box does not cross are read in place.
    if (y < box_.top || y >= box_.bottom || x + count <= box_.left || x >= box_.right) {
        return composite_->pixels.data() + static_cast<size_t>(y) * width_ + x;
    }
    return Surface::Read(x, y, count, scratch);
}

bool Surface::Fetch(const RECT& area) const {
    (void)area;
    return true;
}

uint32_t Surface::Pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    uint32_t value = 0;
    Copy(x, y, 1, 1, &value, 1);
    return value;
}

WindowLook::WindowLook(int width, int height, const RECT& client, uint32_t frame,
                       uint32_t clientColor, std::shared_ptr<const Picture> picture)
    : client_(client), frame_(frame), clientColor_(clientColor), picture_(std::move(picture)) {
    width_ = width;
    height_ = height;
}

void WindowLook::Row(int y, int x0, int x1, uint32_t* to) const {
    if (picture_ && y < picture_->height && x1 <= picture_->width) {
        CopyPixels(to, picture_->pixels.data() + static_cast<size_t>(y) * picture_->width + x0,
                   static_cast<size_t>(x1 - x0));
        return;
    }
    FillPixels(to, frame_, static_cast<size_t>(x1 - x0));
    if (y >= client_.top && y < client_.bottom) {
        int left = std::max<int>(x0, client_.left), right = std::min<int>(x1, client_.right);
        if (left < right)
            FillPixels(to + (left - x0), clientColor_, static_cast<size_t>(right - left));
    }
    if (picture_ && y < picture_->height && x0 < picture_->width) {
        CopyPixels(to, picture_->pixels.data() + static_cast<size_t>(y) * picture_->width + x0,
                   static_cast<size_t>(std::min(x1, picture_->width) - x0));
    }
}

void WindowLook::Copy(int x, int y, int w, int h, uint32_t* to, size_t stride) const {
    for (int row = 0; row < h; ++row) Row(y + row, x, x + w, to + row * stride);
}

std::shared_ptr<const Picture> MakePicture(const uint32_t* pixels, int width, int height,
                                           int stride) {
    if (pixels == nullptr || width <= 0 || height <= 0) return nullptr;
    if (stride == 0) stride = width;
    if (stride < width) return nullptr;
    if (static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > kMaxPicturePixels) {
        return nullptr;
    }
    auto picture = std::make_shared<Picture>();
    picture->width = width;
    picture->height = height;
    picture->pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        const uint32_t* from = pixels + static_cast<size_t>(y) * static_cast<size_t>(stride);
        uint32_t* to = picture->pixels.data() + static_cast<size_t>(y) * width;
        for (int x = 0; x < width; ++x) to[x] = from[x] & 0x00FFFFFFu;
    }
    return picture;
}

namespace {

bool InsideArrow(int x, int y, int width, int height) {
    // The arrow drawn on a 32 x 32 grid, scaled to the cursor's size: a head with its tip at
    // the top-left corner and a stem slanting down to the right.
    int gx = x * 32 / width, gy = y * 32 / height;
    bool head = gx <= gy && 17 * gy + 7 * gx <= 408;
    int slant = 2 * gx - gy;
    bool stem = gy >= 16 && gy <= 30 && slant >= -10 && slant <= -2 && gx >= 4;
    return head || stem;
}

}  // namespace

std::shared_ptr<const CursorImage> MakeArrow(int width, int height) {
    auto image = std::make_shared<CursorImage>();
    image->width = width;
    image->height = height;
    image->colors.assign(static_cast<size_t>(width) * height, 0);
    image->mask.assign(static_cast<size_t>(width) * height, 1);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (!InsideArrow(x, y, width, height)) continue;
            bool edge =
                x == 0 || y == 0 || x == width - 1 || y == height - 1 ||
                !InsideArrow(x - 1, y, width, height) || !InsideArrow(x + 1, y, width, height) ||
                !InsideArrow(x, y - 1, width, height) || !InsideArrow(x, y + 1, width, height);
            size_t i = static_cast<size_t>(y) * width + x;
            image->mask[i] = 0;
            image->colors[i] = edge ? 0x000000u : 0xFFFFFFu;
        }
    }
    return image;
}

}  // namespace display
}  // namespace VornWorld
