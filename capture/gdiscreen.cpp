// SPDX-License-Identifier: MIT
#include "gdiscreen.h"

#include <chrono>

#include "internal/screencursor.h"
#include "sources.h"
#include "vornplatform.h"

namespace VornCapture {

// A DIB section selected into a memory context of its own for its whole life. The frames it is
// lent to keep it; the last one gone deletes both.
struct GdiScreen::Section {
    HDC memory = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
    std::uint8_t* bits = nullptr;

    Section() = default;
    Section(const Section&) = delete;
    Section& operator=(const Section&) = delete;
    ~Section() {
        if (previous != nullptr) SelectObject(memory, previous);
        if (bitmap != nullptr) DeleteObject(bitmap);
        if (memory != nullptr) DeleteDC(memory);
    }

    // width x height, 32 bits a pixel, top row first; null when GDI refuses it.
    static std::shared_ptr<Section> Make(std::uint32_t width, std::uint32_t height) {
        auto section = std::make_shared<Section>();
        section->memory = CreateCompatibleDC(nullptr);
        if (section->memory == nullptr) return nullptr;
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = static_cast<LONG>(width);
        info.bmiHeader.biHeight = -static_cast<LONG>(height);  // negative: top-down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        section->bitmap =
            CreateDIBSection(section->memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (section->bitmap == nullptr || bits == nullptr) return nullptr;
        section->bits = static_cast<std::uint8_t*>(bits);
        section->previous = SelectObject(section->memory, section->bitmap);
        if (section->previous == nullptr) return nullptr;
        return section;
    }
};

GdiScreen::GdiScreen(std::uint32_t width, std::uint32_t height) : width_(width), height_(height) {}

GdiScreen::~GdiScreen() {
    // Sections still lent stay with their frames.
    if (screen_ != nullptr) DeleteDC(static_cast<HDC>(screen_));
}

std::shared_ptr<GdiScreen::Section> GdiScreen::FreeSection() {
    for (auto& section : sections_) {
        if (section == nullptr) section = Section::Make(width_, height_);
        // Only this ring holds it: no frame reads it any more.
        if (section != nullptr && section.use_count() == 1) return section;
    }
    return nullptr;
}

bool GdiScreen::Take(VideoFrame& frame) {
    if (width_ == 0 || height_ == 0) {
        ScreenExtent screen{};
        if (!MeasureScreen(&screen)) return false;
        width_ = screen.width;
        height_ = screen.height;
    }
    // Sides and bytes within the layer's limits, so width * height * 4 fits a 32-bit size_t.
    const Shape shape = ShapeOf(PixelFormat::BGRx, width_, height_);
    if (shape.error != FrameError::None) return false;
    if (screen_ == nullptr) screen_ = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    if (screen_ == nullptr) return false;
    const std::shared_ptr<Section> section = FreeSection();
    if (section == nullptr) return false;
    const int width = static_cast<int>(width_), height = static_cast<int>(height_);
    if (!BitBlt(section->memory, 0, 0, width, height, static_cast<HDC>(screen_), 0, 0, SRCCOPY))
        return false;
    TQZCapture::internal::DrawScreenCursor(section->memory, 0, 0, RECT{0, 0, width, height});
    GdiFlush();  // the bits are read directly: GDI's queued drawing must be done
    const std::size_t stride = shape.plane[0].rowBytes;
    const std::array<Plane, 3> planes{Plane{section->bits, stride, stride * height_}};
    frame = LendFrame(PixelFormat::BGRx, width_, height_, Orientation::TopDown, planes, section);
    frame.sequence = ++sequence_;
    frame.timeNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                       .count();
    return true;
}

}  // namespace VornCapture
