// SPDX-License-Identifier: MIT
// The virtual display as the GDI/USER calls read it: screen shots, window views, the window
// list and the cursor, served as the virtual world's DisplayService; and the message boxes.
#include "world/display.h"

#include <cstdio>

#include "virtual/display_world.h"

namespace VornWorld {
namespace display {
std::shared_ptr<const ScreenShot> TakeScreen(bool advance) {
    World& world = TheWorld();
    Lock lock(world.mutex);
    uint64_t at = world.frame;
    if (advance && !world.frozen) ++world.frame;
    return world.Shot(at);
}

SIZE CurrentScreenSize() {
    World& world = TheWorld();
    Lock lock(world.mutex);
    return SIZE{world.width, world.height};
}

HWND DesktopHandle() { return TheWorld().desktop; }

bool TakeWindowView(HWND window, bool client, bool advance, View* view) {
    World& world = TheWorld();
    if (window == nullptr || window == world.desktop) {
        auto shot = TakeScreen(advance);
        view->area = RECT{0, 0, shot->Width(), shot->Height()};
        view->surface = std::move(shot);
        return true;
    }
    Lock lock(world.mutex);
    const WindowEntry* w = world.Find(window);
    if (w == nullptr) return false;
    view->surface = LookOf(*w);
    view->area = client ? ClientArea(*w) : RECT{0, 0, OuterWidth(*w), OuterHeight(*w)};
    return true;
}

bool FindWindow(HWND window, WindowInfo* info) {
    World& world = TheWorld();
    Lock lock(world.mutex);
    const WindowEntry* w = world.Find(window);
    if (w == nullptr) return false;
    if (info != nullptr) {
        static_cast<NewWindow&>(*info) = *w;
        info->client = ClientArea(*w);
    }
    return true;
}

bool WindowExists(HWND window) { return FindWindow(window, nullptr); }

HWND TopWindow() {
    World& world = TheWorld();
    Lock lock(world.mutex);
    return world.windows.empty() ? nullptr : world.windows.front().handle;
}

HWND NeighbourWindow(HWND window, UINT command) {
    World& world = TheWorld();
    Lock lock(world.mutex);
    size_t i = world.IndexOf(window);
    size_t count = world.windows.size();
    if (i == count) return nullptr;
    switch (command) {
        case GW_HWNDFIRST:
            return world.windows.front().handle;
        case GW_HWNDLAST:
            return world.windows.back().handle;
        case GW_HWNDNEXT:
            return i + 1 < count ? world.windows[i + 1].handle : nullptr;
        case GW_HWNDPREV:
            return i > 0 ? world.windows[i - 1].handle : nullptr;
        default:
            return nullptr;
    }
}

bool RetitleWindow(HWND window, const std::string& title) {
    return ChangeWindow(window, false, [&](WindowEntry& w) {
        w.title = title;
        return true;
    });
}

HWND CreateWindowInWorld(const NewWindow& request) {
    World& world = TheWorld();
    Lock lock(world.mutex);
    WindowEntry w;
    static_cast<NewWindow&>(w) = request;
    w.handle = reinterpret_cast<HWND>(NewHandleValue());
    w.inset = RECT{std::max<LONG>(request.inset.left, 0), std::max<LONG>(request.inset.top, 0),
                   std::max<LONG>(request.inset.right, 0), std::max<LONG>(request.inset.bottom, 0)};
    // Client colours that differ from window to window and from the grey frame.
    uint32_t n = ++world.windowsMade;
    w.clientColor = (0x00305070u + n * 0x00254A13u) & 0x00FFFFFFu;
    world.windows.insert(world.windows.begin(), std::move(w));
    world.composite.reset();
    return world.windows.front().handle;
}

bool DestroyWindowInWorld(HWND window) {
    World& world = TheWorld();
    Lock lock(world.mutex);
    size_t i = world.IndexOf(window);
    if (i == world.windows.size()) return false;
    world.windows.erase(world.windows.begin() + static_cast<long>(i));
    world.composite.reset();
    return true;
}

bool ClassHasWindows(const std::string& className) {
    World& world = TheWorld();
    Lock lock(world.mutex);
    return std::any_of(world.windows.begin(), world.windows.end(),
                       [&](const WindowEntry& w) { return w.className == className; });
}

CursorState CurrentCursor() {
    World& world = TheWorld();
    Lock lock(world.mutex);
    CursorState state;
    state.handle = world.cursorUnset ? nullptr : world.cursorHandle;
    state.position = world.cursorPosition;
    state.hotSpot = world.hotSpot;
    state.visible = world.cursorVisible;
    state.image = world.cursorImage;
    return state;
}

namespace {

class Virtual final : public DisplayService {
public:
    SIZE ScreenSize() override { return CurrentScreenSize(); }
    HWND Desktop() override { return DesktopHandle(); }
    bool TakeWindowView(HWND window, bool client, bool advance, View* view) override {
        return display::TakeWindowView(window, client, advance, view);
    }
    bool FindWindow(HWND window, WindowInfo* info) override {
        return display::FindWindow(window, info);
    }
    HWND TopWindow() override { return display::TopWindow(); }
    HWND NeighbourWindow(HWND window, UINT command) override {
        return display::NeighbourWindow(window, command);
    }
    bool RetitleWindow(HWND window, const std::string& title) override {
        return display::RetitleWindow(window, title);
    }
    HWND CreateWindowInWorld(const NewWindow& request) override {
        return display::CreateWindowInWorld(request);
    }
    bool DestroyWindowInWorld(HWND window) override {
        return display::DestroyWindowInWorld(window);
    }
    bool ClassHasWindows(const std::string& className) override {
        return display::ClassHasWindows(className);
    }
    CursorState CurrentCursor() override { return display::CurrentCursor(); }
};

}  // namespace

DisplayService& VirtualDisplay() {
    static Virtual* service = new Virtual();
    return *service;
}

void RecordMessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    World& world = TheWorld();
    Lock lock(world.mutex);
    world.boxes.push_back(MessageBoxRecord{owner, text, caption, type});
    if (world.echo) std::fprintf(stderr, "[MessageBox] %s: %s\n", caption, text);
}

}  // namespace display
}  // namespace VornWorld
