// The virtual display's state: screen, picture, windows in Z order, cursor and message boxes,
// all behind one lock; and the control API that shapes it.
#include "world/display.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <mutex>

#include "vorn/control/display.h"
#include "vorn/control/world.h"
#include "vorn/win/kernel.h"
#include "world/display_state.h"

namespace VornWorld {
namespace display {
namespace {

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
int Extent(int64_t from, int64_t to) {
    return static_cast<int>(std::clamp<int64_t>(to - from, 0, std::numeric_limits<int>::max()));
}

int OuterWidth(const WindowEntry& w) { return Extent(w.rect.left, w.rect.right); }
int OuterHeight(const WindowEntry& w) { return Extent(w.rect.top, w.rect.bottom); }

// The client area in window coordinates: the inset taken off the outer size, never inverted.
RECT ClientArea(const WindowEntry& w) {
    int width = OuterWidth(w), height = OuterHeight(w);
    RECT c;
    c.left = std::min<LONG>(w.inset.left, width);
    c.top = std::min<LONG>(w.inset.top, height);
    c.right = std::max<LONG>(c.left, width - std::min<LONG>(w.inset.right, width));
    c.bottom = std::max<LONG>(c.top, height - std::min<LONG>(w.inset.bottom, height));
    return c;
}

std::shared_ptr<const WindowLook> LookOf(const WindowEntry& w) {
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

World& TheWorld() {
    static World* world = new World();  // lives as long as the process: no exit-order hazards
    return *world;
}

using Lock = std::lock_guard<std::mutex>;

// The control API shapes only the virtual world: in the host world its shaping calls fail
// (false, null) or do nothing, and its queries answer for the host's display where they can.
bool Shaping() { return CurrentWorld() == WorldKind::Virtual; }

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

}  // namespace

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
    state.handle = world.cursorHandle;
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
