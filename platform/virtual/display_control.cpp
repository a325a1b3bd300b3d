// SPDX-License-Identifier: MIT
// The control API's calls that shape the virtual display and read it back: the screen's size,
// picture and frame, windows, the cursor and the message boxes. In the host world the shaping
// calls fail or do nothing.
#include <limits>

#include "vorn/control/display.h"
#include "world/display.h"
#include "virtual/display_world.h"

namespace VornWorld {
using display::Lock;
using display::TheWorld;
using display::WindowEntry;
using display::World;

void ResetDisplay() {
    if (!display::Shaping()) return;
    World& world = TheWorld();
    Lock lock(world.mutex);
    world.Reset();
}

bool SetScreenSize(int width, int height) {
    if (!display::Shaping()) return false;
    if (width < 1 || height < 1 || width > kMaxScreenSide || height > kMaxScreenSide) return false;
    World& world = TheWorld();
    Lock lock(world.mutex);
    world.width = width;
    world.height = height;
    world.fixed.reset();
    world.composite.reset();
    return true;
}

SIZE ScreenSize() { return display::Display().ScreenSize(); }

bool SetScreenPicture(const uint32_t* pixels, int width, int height, int stride) {
    if (!display::Shaping()) return false;
    if (width > kMaxScreenSide || height > kMaxScreenSide) return false;
    auto picture = display::MakePicture(pixels, width, height, stride);
    if (!picture) return false;
    World& world = TheWorld();
    Lock lock(world.mutex);
    world.width = width;
    world.height = height;
    world.fixed = std::move(picture);
    world.composite.reset();
    return true;
}

void UseTestPicture() {
    if (!display::Shaping()) return;
    World& world = TheWorld();
    Lock lock(world.mutex);
    world.fixed.reset();
    world.composite.reset();
}

uint64_t ScreenFrame() {
    World& world = TheWorld();
    Lock lock(world.mutex);
    return world.frame;
}

void SetScreenFrame(uint64_t frame) {
    if (!display::Shaping()) return;
    World& world = TheWorld();
    Lock lock(world.mutex);
    world.frame = frame;
}

void FreezeScreen(bool frozen) {
    if (!display::Shaping()) return;
    World& world = TheWorld();
    Lock lock(world.mutex);
    world.frozen = frozen;
}

uint32_t ScreenPixel(int x, int y, uint64_t frame) {
    World& world = TheWorld();
    std::shared_ptr<const display::ScreenShot> shot;
    {
        Lock lock(world.mutex);
        shot = world.Shot(frame);
    }
    return shot->Pixel(x, y);
}

RECT MovingBox(uint64_t frame) {
    World& world = TheWorld();
    Lock lock(world.mutex);
    if (world.fixed) return RECT{0, 0, 0, 0};
    return display::BoxOfFrame(world.width, world.height, frame);
}

HWND AddWindow(const char* title, const RECT& outer) {
    return AddWindow(title, outer, GetCurrentProcessId(), GetCurrentThreadId());
}

HWND AddWindow(const char* title, const RECT& outer, DWORD processId, DWORD threadId) {
    if (!display::Shaping()) return nullptr;
    display::NewWindow request;
    request.title = title != nullptr ? title : "";
    request.rect = outer;
    request.inset = kDefaultInset;
    request.processId = processId;
    request.threadId = threadId;
    return display::CreateWindowInWorld(request);
}

bool RemoveWindow(HWND window) {
    if (!display::Shaping()) return false;
    return display::DestroyWindowInWorld(window);
}

bool MoveWindowTo(HWND window, int left, int top) {
    return display::ChangeWindow(window, true, [&](WindowEntry& w) {
        int64_t width = int64_t{w.rect.right} - w.rect.left;
        int64_t height = int64_t{w.rect.bottom} - w.rect.top;
        int64_t right = left + width, bottom = top + height;
        if (right > std::numeric_limits<LONG>::max() || bottom > std::numeric_limits<LONG>::max() ||
            right < std::numeric_limits<LONG>::min() || bottom < std::numeric_limits<LONG>::min()) {
            return false;
        }
        w.rect = RECT{left, top, static_cast<LONG>(right), static_cast<LONG>(bottom)};
        return true;
    });
}

bool ResizeWindowTo(HWND window, int width, int height) {
    if (width < 0 || height < 0) return false;
    return display::ChangeWindow(window, true, [&](WindowEntry& w) {
        int64_t right = int64_t{w.rect.left} + width, bottom = int64_t{w.rect.top} + height;
        if (right > std::numeric_limits<LONG>::max() || bottom > std::numeric_limits<LONG>::max()) {
            return false;
        }
        w.rect.right = static_cast<LONG>(right);
        w.rect.bottom = static_cast<LONG>(bottom);
        return true;
    });
}

bool SetWindowTitle(HWND window, const std::string& title) {
    if (!display::Shaping()) return false;
    return display::RetitleWindow(window, title);
}

bool SetWindowOwner(HWND window, DWORD processId, DWORD threadId) {
    return display::ChangeWindow(window, false, [&](WindowEntry& w) {
        w.processId = processId;
        w.threadId = threadId;
        return true;
    });
}

bool SetWindowClientInset(HWND window, const RECT& inset) {
    if (inset.left < 0 || inset.top < 0 || inset.right < 0 || inset.bottom < 0) return false;
    return display::ChangeWindow(window, true, [&](WindowEntry& w) {
        w.inset = inset;
        return true;
    });
}

bool SetWindowVisible(HWND window, bool visible) {
    return display::ChangeWindow(window, true, [&](WindowEntry& w) {
        w.visible = visible;
        return true;
    });
}

bool SetWindowColor(HWND window, uint32_t frame, uint32_t client) {
    return display::ChangeWindow(window, true, [&](WindowEntry& w) {
        w.frameColor = frame & 0x00FFFFFFu;
        w.clientColor = client & 0x00FFFFFFu;
        return true;
    });
}

bool SetWindowPixels(HWND window, const uint32_t* pixels, int width, int height, int stride) {
    std::shared_ptr<const display::Picture> picture;
    if (pixels != nullptr) {
        picture = display::MakePicture(pixels, width, height, stride);
        if (!picture) return false;
    }
    return display::ChangeWindow(window, true, [&](WindowEntry& w) {
        w.picture = picture;
        return true;
    });
}

uint32_t WindowPixel(HWND window, int x, int y) {
    display::View view;
    if (window == nullptr || window == display::DesktopHandle()) return 0;
    if (!display::TakeWindowView(window, false, false, &view)) return 0;
    return view.surface->Pixel(x, y);
}

bool RaiseWindow(HWND window) {
    if (!display::Shaping()) return false;
    World& world = TheWorld();
    Lock lock(world.mutex);
    size_t i = world.IndexOf(window);
    if (i == world.windows.size()) return false;
    std::rotate(world.windows.begin(), world.windows.begin() + static_cast<long>(i),
                world.windows.begin() + static_cast<long>(i) + 1);
    world.composite.reset();
    return true;
}

bool LowerWindow(HWND window) {
    if (!display::Shaping()) return false;
    World& world = TheWorld();
    Lock lock(world.mutex);
    size_t i = world.IndexOf(window);
    if (i == world.windows.size()) return false;
    std::rotate(world.windows.begin() + static_cast<long>(i),
                world.windows.begin() + static_cast<long>(i) + 1, world.windows.end());
    world.composite.reset();
    return true;
}

std::vector<HWND> WindowsInZOrder() {
    if (!display::Shaping()) {
        std::vector<HWND> handles;
        display::DisplayService& host = display::Display();
        for (HWND w = host.TopWindow(); w != nullptr; w = host.NeighbourWindow(w, GW_HWNDNEXT)) {
            handles.push_back(w);
        }
        return handles;
    }
    World& world = TheWorld();
    Lock lock(world.mutex);
    std::vector<HWND> handles;
    for (const auto& w : world.windows) handles.push_back(w.handle);
    return handles;
}

void SetCursorPosition(int x, int y) {
    if (!display::Shaping()) return;
    World& world = TheWorld();
    Lock lock(world.mutex);
    world.cursorPosition = POINT{x, y};
}

void SetCursorHotSpot(int x, int y) {
    if (!display::Shaping()) return;
    World& world = TheWorld();
    Lock lock(world.mutex);
    world.hotSpot = POINT{x, y};
}

void SetCursorVisible(bool visible) {
    if (!display::Shaping()) return;
    World& world = TheWorld();
    Lock lock(world.mutex);
    world.cursorVisible = visible;
}

void SetCursorUnset(bool unset) {
    if (!display::Shaping()) return;
    World& world = TheWorld();
    Lock lock(world.mutex);
    world.cursorUnset = unset;
}

constexpr int kMaxCursorSide = 256;

bool SetCursorSize(int width, int height) {
    if (!display::Shaping()) return false;
    if (width < 1 || height < 1 || width > kMaxCursorSide || height > kMaxCursorSide) return false;
    auto image = display::MakeArrow(width, height);
    World& world = TheWorld();
    Lock lock(world.mutex);
    world.cursorImage = std::move(image);
    return true;
}

bool SetCursorImage(const uint32_t* colors, const uint8_t* mask, int width, int height) {
    if (!display::Shaping()) return false;
    if (colors == nullptr || mask == nullptr || width < 1 || height < 1 || width > kMaxCursorSide ||
        height > kMaxCursorSide) {
        return false;
    }
    auto image = std::make_shared<display::CursorImage>();
    image->width = width;
    image->height = height;
    size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    image->colors.assign(colors, colors + count);
    for (auto& c : image->colors) c &= 0x00FFFFFFu;
    image->mask.assign(mask, mask + count);
    World& world = TheWorld();
    Lock lock(world.mutex);
    world.cursorImage = std::move(image);
    return true;
}

HCURSOR CursorHandle() { return display::Display().CurrentCursor().handle; }

std::vector<MessageBoxRecord> MessageBoxes() {
    World& world = TheWorld();
    Lock lock(world.mutex);
    return world.boxes;
}

void ClearMessageBoxes() {
    World& world = TheWorld();
    Lock lock(world.mutex);
    world.boxes.clear();
}

void EchoMessageBoxes(bool echo) {
    World& world = TheWorld();
    Lock lock(world.mutex);
    world.echo = echo;
}

}  // namespace VornWorld
