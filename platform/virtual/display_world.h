// SPDX-License-Identifier: MIT
// The virtual display's state, shared by the display service that the GDI/USER calls read
// (display.cpp) and the control API that shapes it (display_control.cpp): screen, picture,
// windows in Z order, cursor and message boxes, all behind one lock.
#pragma once

#include <algorithm>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

#include "vorn/control/display.h"
#include "vorn/control/world.h"
#include "vorn/win/kernel.h"
#include "virtual/display_state.h"

namespace VornWorld {
namespace display {

constexpr int kDefaultWidth = 1920;
constexpr int kDefaultHeight = 1080;
constexpr int kDefaultCursorSide = 32;
constexpr uint32_t kDefaultFrameColor = 0x00606060u;

struct WindowEntry : NewWindow {
    HWND handle = nullptr;
    uint32_t frameColor = kDefaultFrameColor;
    uint32_t clientColor = 0;
    std::shared_ptr<const Picture> picture;
};

// Clamps a 64-bit extent to what an int holds, negative extents to 0.
inline int Extent(int64_t from, int64_t to) {
    return static_cast<int>(std::clamp<int64_t>(to - from, 0, std::numeric_limits<int>::max()));
}

inline int OuterWidth(const WindowEntry& w) { return Extent(w.rect.left, w.rect.right); }
inline int OuterHeight(const WindowEntry& w) { return Extent(w.rect.top, w.rect.bottom); }

// The client area in window coordinates: the inset taken off the outer size, never inverted.
inline RECT ClientArea(const WindowEntry& w) {
    int width = OuterWidth(w), height = OuterHeight(w);
    RECT c;
    c.left = std::min<LONG>(w.inset.left, width);
    c.top = std::min<LONG>(w.inset.top, height);
    c.right = std::max<LONG>(c.left, width - std::min<LONG>(w.inset.right, width));
    c.bottom = std::max<LONG>(c.top, height - std::min<LONG>(w.inset.bottom, height));
    return c;
}

inline std::shared_ptr<const WindowLook> LookOf(const WindowEntry& w) {
    return std::make_shared<WindowLook>(OuterWidth(w), OuterHeight(w), ClientArea(w), w.frameColor,
                                        w.clientColor, w.picture);
}

class World {
public:
    World() { Reset(); }

    std::mutex mutex;
    int width = kDefaultWidth;
    int height = kDefaultHeight;
    std::shared_ptr<const Picture> fixed;        // null: the moving test picture
    std::vector<WindowEntry> windows;            // topmost first
    std::shared_ptr<const Composite> composite;  // null when the screen must be rebuilt
    uint64_t frame = 0;
    bool frozen = false;
    HWND desktop = reinterpret_cast<HWND>(NewHandleValue());
    HCURSOR cursorHandle = reinterpret_cast<HCURSOR>(NewHandleValue());
    POINT cursorPosition{};
    POINT hotSpot{};
    bool cursorVisible = true;
    bool cursorUnset = false;  // GetCursorInfo names no cursor
    std::shared_ptr<const CursorImage> cursorImage;
    std::vector<MessageBoxRecord> boxes;
    bool echo = true;
    uint32_t windowsMade = 0;

    // Callers hold `mutex` for everything below.
    void Reset() {
        width = kDefaultWidth;
        height = kDefaultHeight;
        fixed.reset();
        windows.clear();
        composite.reset();
        frame = 0;
        frozen = false;
        cursorPosition = POINT{kDefaultWidth / 2, kDefaultHeight / 2};
        hotSpot = POINT{0, 0};
        cursorVisible = true;
        cursorUnset = false;
        cursorImage = MakeArrow(kDefaultCursorSide, kDefaultCursorSide);
        boxes.clear();
        echo = true;
    }

    WindowEntry* Find(HWND handle) {
        for (auto& w : windows) {
            if (w.handle == handle) return &w;
        }
        return nullptr;
    }

    size_t IndexOf(HWND handle) const {
        for (size_t i = 0; i < windows.size(); ++i) {
            if (windows[i].handle == handle) return i;
        }
        return windows.size();
    }

    const std::shared_ptr<const Composite>& Screen() {
        if (!composite) composite = Build();
        return composite;
    }

    std::shared_ptr<const ScreenShot> Shot(uint64_t at) {
        return std::make_shared<const ScreenShot>(Screen(), at);
    }

private:
    // The still background, kept while the screen keeps its size and picture.
    std::shared_ptr<const std::vector<uint32_t>> background;
    SIZE backgroundSize{0, 0};

    const std::vector<uint32_t>& Background() {
        if (fixed) return fixed->pixels;
        if (!background || backgroundSize.cx != width || backgroundSize.cy != height) {
            background =
                std::make_shared<const std::vector<uint32_t>>(TestBackground(width, height));
            backgroundSize = SIZE{width, height};
        }
        return *background;
    }

    std::shared_ptr<const Composite> Build() {
        auto c = std::make_shared<Composite>();
        c->width = width;
        c->height = height;
        c->moving = !fixed;
        size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
        c->pixels = Background();
        c->open.assign(count, 1);
        for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
            if (!it->visible) continue;
            int64_t left = std::max<int64_t>(it->rect.left, 0);
            int64_t top = std::max<int64_t>(it->rect.top, 0);
            int64_t right = std::min<int64_t>(it->rect.left + int64_t{OuterWidth(*it)}, width);
            int64_t bottom = std::min<int64_t>(it->rect.top + int64_t{OuterHeight(*it)}, height);
            if (left >= right || top >= bottom) continue;
            auto look = LookOf(*it);
            for (int64_t y = top; y < bottom; ++y) {
                size_t at = static_cast<size_t>(y) * width + static_cast<size_t>(left);
                look->Row(static_cast<int>(y - it->rect.top),
                          static_cast<int>(left - it->rect.left),
                          static_cast<int>(right - it->rect.left), c->pixels.data() + at);
                std::fill_n(c->open.data() + at, static_cast<size_t>(right - left), 0);
            }
        }
        return c;
    }
};

inline World& TheWorld() {
    static World* world = new World();  // lives as long as the process: no exit-order hazards
    return *world;
}

using Lock = std::lock_guard<std::mutex>;

// The control API shapes only the virtual world: in the host world its shaping calls fail
// (false, null) or do nothing, and its queries answer for the host's display where they can.
inline bool Shaping() { return CurrentWorld() == WorldKind::Virtual; }

// Runs `change` on a live window under the lock; the screen is rebuilt when `redraw`.
template <typename F>
bool ChangeWindow(HWND handle, bool redraw, F change) {
    if (!Shaping()) return false;
    World& world = TheWorld();
    Lock lock(world.mutex);
    WindowEntry* w = world.Find(handle);
    if (w == nullptr) return false;
    if (!change(*w)) return false;
    if (redraw) world.composite.reset();
    return true;
}

}  // namespace display
}  // namespace VornWorld
