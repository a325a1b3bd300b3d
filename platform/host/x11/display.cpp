// SPDX-License-Identifier: MIT
// The host's X display as the window-system and GDI services see it: the screen and its
// top-level windows read with Xlib, the cursor with the XFixes extension.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "host/shared/readonly_display.h"
#include "host/x11/connection.h"
#include "host/x11/x11.h"
#include "vorn/win/kernel.h"

namespace VornWorld {
namespace host {
namespace x11 {
namespace {

using display::CursorImage;
using display::CursorState;
using display::View;
using display::WindowInfo;

Window XidOf(HWND window) { return static_cast<Window>(reinterpret_cast<uintptr_t>(window)); }
HWND HandleOf(Window window) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(window)); }

// A part of the screen, its top-left corner at (left, top) of the root window: the screen
// itself or a window's outer rectangle. Its pixels are read when a transfer asks for them.
class ScreenArea : public display::Surface {
public:
    ScreenArea(int left, int top, int width, int height) : left_(left), top_(top) {
        width_ = width;
        height_ = height;
    }

    bool Fetch(const RECT& area) const override {
        Connection& x = Connection::The();
        auto lock = x.Lock();
        if (x.Get() == nullptr) return false;
        // What lies off the screen reads as black.
        int64_t left = std::max<int64_t>(int64_t{area.left} + left_, 0);
        int64_t top = std::max<int64_t>(int64_t{area.top} + top_, 0);
        int64_t right = std::min<int64_t>(int64_t{area.right} + left_, x.Width());
        int64_t bottom = std::min<int64_t>(int64_t{area.bottom} + top_, x.Height());
        fetched_ = RECT{0, 0, 0, 0};
        pixels_ = Pixels{};
        if (left >= right || top >= bottom) return true;
        if (!x.Grab(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                    static_cast<int>(bottom - top), &pixels_)) {
            return false;
        }
        fetched_ = RECT{static_cast<LONG>(left - left_), static_cast<LONG>(top - top_),
                        static_cast<LONG>(right - left_), static_cast<LONG>(bottom - top_)};
        return true;
    }

    void Copy(int x, int y, int w, int h, uint32_t* to, size_t stride) const override {
        for (int row = 0; row < h; ++row) {
            uint32_t* out = to + static_cast<size_t>(row) * stride;
            int sy = y + row;
            int from = std::clamp<int>(fetched_.left, x, x + w);
            int until = std::clamp<int>(fetched_.right, from, x + w);
            if (sy < fetched_.top || sy >= fetched_.bottom) from = until = x + w;
            display::FillPixels(out, 0, static_cast<size_t>(from - x));
            if (until > from) {
                display::CopyPixels(out + (from - x), RowOf(sy) + (from - fetched_.left),
                                    static_cast<size_t>(until - from));
            }
            display::FillPixels(out + (until - x), 0, static_cast<size_t>(x + w - until));
        }
    }

    const uint32_t* Read(int x, int y, int count, uint32_t* scratch) const override {
        if (y >= fetched_.top && y < fetched_.bottom && x >= fetched_.left &&
            x + count <= fetched_.right) {
            return RowOf(y) + (x - fetched_.left);
        }
        return Surface::Read(x, y, count, scratch);
    }

private:
    const uint32_t* RowOf(int y) const {
        return pixels_.data + static_cast<size_t>(y - fetched_.top) * pixels_.stride;
    }

    int left_;
    int top_;
    // Filled by Fetch, on the one thread that makes the transfer, before anyone reads.
    mutable RECT fetched_{0, 0, 0, 0};
    mutable Pixels pixels_;
};

// Properties, read with the connection's lock held; empty when missing.
std::vector<unsigned char> Property(Display* d, Window w, Atom name, Atom* type, int* format,
                                    unsigned long* items) {
    Atom actualType = None;
    int actualFormat = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned char> bytes;
    if (XGetWindowProperty(d, w, name, 0, 1 << 16, False, AnyPropertyType, &actualType,
                           &actualFormat, &count, &after, &data) == Success &&
        data != nullptr) {
        // Xlib hands 32-bit items as longs.
        size_t size = actualFormat == 32 ? sizeof(long) : static_cast<size_t>(actualFormat / 8);
        bytes.assign(data, data + count * size);
    }
    if (data != nullptr) XFree(data);
    *type = actualType;
    *format = actualFormat;
    *items = count;
    return bytes;
}

// 32-bit items of a property (window lists, cardinals).
std::vector<unsigned long> Cardinals(Display* d, Window w, Atom name) {
    Atom type = None;
    int format = 0;
    unsigned long items = 0;
    auto bytes = Property(d, w, name, &type, &format, &items);
    std::vector<unsigned long> values;
    if (format != 32) return values;
    values.resize(items);
    std::memcpy(values.data(), bytes.data(), items * sizeof(long));
    return values;
}

// Text in the system's ANSI code page: from UTF-8, or from Latin-1 (WM_NAME's STRING).
std::string AnsiOf(const std::vector<unsigned char>& text, bool utf8) {
    std::wstring wide;
    if (utf8) {
        auto narrow = reinterpret_cast<const char*>(text.data());
        int length = static_cast<int>(text.size());
        int count = MultiByteToWideChar(CP_UTF8, 0, narrow, length, nullptr, 0);
        if (count <= 0) return std::string();
        wide.resize(static_cast<size_t>(count));
        MultiByteToWideChar(CP_UTF8, 0, narrow, length, &wide[0], count);
    } else {
        wide.assign(text.begin(), text.end());
    }
    int wideLength = static_cast<int>(wide.size());
    int size =
        WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string ansi(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, &ansi[0], size, nullptr, nullptr);
    return ansi;
}

std::string TitleOf(Connection& x, Display* d, Window w) {
    Atom type = None;
    int format = 0;
    unsigned long items = 0;
    auto text = Property(d, w, x.netWmName, &type, &format, &items);
    if (format == 8 && type == x.utf8String) return AnsiOf(text, true);
    text = Property(d, w, XA_WM_NAME, &type, &format, &items);
    if (format != 8) return std::string();
    return AnsiOf(text, type == x.utf8String);
}

// The child of the root window that holds `w` (its frame, when a window manager reparented
// it); None when `w` is gone.
Window TopLevelOf(Display* d, Window root, Window w) {
    for (int depth = 0; depth < 64; ++depth) {
        Window rootReturn = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(d, w, &rootReturn, &parent, &children, &count)) return None;
        if (children != nullptr) XFree(children);
        if (parent == root || parent == None) return w;
        w = parent;
    }
    return None;
}

// With the connection's lock held: where a window is and how it is framed; its title, class
// and process when `details`.
bool Describe(Connection& x, Display* d, Window w, bool details, WindowInfo* info) {
    if (w == None || w == x.Root()) return false;
    x.ClearError();
    XWindowAttributes a;
    if (!XGetWindowAttributes(d, w, &a) || x.Failed()) return false;
    int rx = 0, ry = 0;
    Window child = 0;
    if (!XTranslateCoordinates(d, w, x.Root(), 0, 0, &rx, &ry, &child) || x.Failed()) return false;
    RECT outer{}, inset{};
    auto extents = Cardinals(d, w, x.netFrameExtents);  // left, right, top, bottom
    Window top = extents.size() == 4 ? w : TopLevelOf(d, x.Root(), w);
    if (top == None || x.Failed()) return false;
    if (extents.size() == 4) {
        LONG l = static_cast<LONG>(extents[0]), r = static_cast<LONG>(extents[1]);
        LONG t = static_cast<LONG>(extents[2]), b = static_cast<LONG>(extents[3]);
        outer = RECT{rx - l, ry - t, rx + a.width + r, ry + a.height + b};
    } else if (top != w) {
        XWindowAttributes f;
        if (!XGetWindowAttributes(d, top, &f) || x.Failed()) return false;
        outer =
            RECT{f.x, f.y, f.x + f.width + 2 * f.border_width, f.y + f.height + 2 * f.border_width};
    } else {
        outer = RECT{rx - a.border_width, ry - a.border_width, rx + a.width + a.border_width,
                     ry + a.height + a.border_width};
    }
    inset = RECT{std::max<LONG>(rx - outer.left, 0), std::max<LONG>(ry - outer.top, 0),
                 std::max<LONG>(outer.right - (rx + a.width), 0),
                 std::max<LONG>(outer.bottom - (ry + a.height), 0)};
    if (info == nullptr) return true;
    info->rect = outer;
    info->inset = inset;
    info->client = RECT{inset.left, inset.top, inset.left + a.width, inset.top + a.height};
    info->visible = a.map_state == IsViewable;
    if (!details) return true;
    info->title = TitleOf(x, d, w);
    XClassHint hint{nullptr, nullptr};
    info->className.clear();
    if (XGetClassHint(d, w, &hint)) {
        if (hint.res_class != nullptr) info->className = hint.res_class;
        if (hint.res_name != nullptr) XFree(hint.res_name);
        if (hint.res_class != nullptr) XFree(hint.res_class);
    }
    auto pid = Cardinals(d, w, x.netWmPid);
    info->processId = pid.size() == 1 ? static_cast<DWORD>(pid[0]) : 0;
    // Windows without an owning process are still listed: their thread is never 0.
    info->threadId = info->processId != 0 ? info->processId : 1;
    return !x.Failed();
}

// With the connection's lock held: the top-level windows, topmost first.
std::vector<Window> ListWindows(Connection& x, Display* d) {
    x.ClearError();
    std::vector<Window> list;
    auto stacking = Cardinals(d, x.Root(), x.netClientListStacking);  // bottom first
    if (!stacking.empty()) {
        list.assign(stacking.rbegin(), stacking.rend());
        return list;
    }
    Window rootReturn = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(d, x.Root(), &rootReturn, &parent, &children, &count)) return list;
    std::vector<Window> frames(children, children + count);  // bottom first
    if (children != nullptr) XFree(children);
    auto clients = Cardinals(d, x.Root(), x.netClientList);
    if (!clients.empty()) {
        // The window manager's clients, in the stacking order of their frames.
        std::vector<std::pair<size_t, Window>> ranked;
        for (unsigned long c : clients) {
            Window top = TopLevelOf(d, x.Root(), c);
            auto at = std::find(frames.begin(), frames.end(), top);
            if (at != frames.end()) ranked.emplace_back(at - frames.begin(), c);
        }
        std::stable_sort(ranked.begin(), ranked.end(),
                         [](const auto& a, const auto& b) { return a.first > b.first; });
        for (const auto& r : ranked) list.push_back(r.second);
        return list;
    }
    for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
        XWindowAttributes a;
        x.ClearError();
        if (XGetWindowAttributes(d, *it, &a) && !x.Failed() && a.c_class == InputOutput &&
            a.map_state == IsViewable) {
            list.push_back(*it);
        }
    }
    return list;
}

class Host final : public ReadOnlyDisplay {
public:
    SIZE ScreenSize() override {
        Connection& x = Connection::The();
        auto lock = x.Lock();
        Display* d = x.Get();
        if (d == nullptr) return SIZE{0, 0};
        return SIZE{x.Width(), x.Height()};
    }

    HWND Desktop() override {
        Connection& x = Connection::The();
        auto lock = x.Lock();
        return x.Get() != nullptr ? HandleOf(x.Root()) : nullptr;
    }

    bool TakeWindowView(HWND window, bool client, bool advance, View* view) override {
        (void)advance;
        Connection& x = Connection::The();
        auto lock = x.Lock();
        Display* d = x.Get();
        if (d == nullptr) return false;
        if (window == nullptr || XidOf(window) == x.Root()) {
            view->surface = std::make_shared<ScreenArea>(0, 0, x.Width(), x.Height());
            view->area = RECT{0, 0, x.Width(), x.Height()};
            return true;
        }
        WindowInfo info;
        if (!Describe(x, d, XidOf(window), false, &info)) return false;
        int width = static_cast<int>(info.rect.right - info.rect.left);
        int height = static_cast<int>(info.rect.bottom - info.rect.top);
        view->surface = std::make_shared<ScreenArea>(info.rect.left, info.rect.top, width, height);
        view->area = client ? info.client : RECT{0, 0, width, height};
        return true;
    }

    bool FindWindow(HWND window, WindowInfo* info) override {
        Connection& x = Connection::The();
        auto lock = x.Lock();
        Display* d = x.Get();
        return d != nullptr && Describe(x, d, XidOf(window), true, info);
    }

    HWND TopWindow() override {
        std::vector<Window> list = Refresh();
        return list.empty() ? nullptr : HandleOf(list.front());
    }

    HWND NeighbourWindow(HWND window, UINT command) override {
        std::vector<Window> list;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            list = windows_;
        }
        auto at = std::find(list.begin(), list.end(), XidOf(window));
        if (at == list.end()) {
            list = Refresh();
            at = std::find(list.begin(), list.end(), XidOf(window));
            if (at == list.end()) return nullptr;
        }
        switch (command) {
            case GW_HWNDFIRST:
                return HandleOf(list.front());
            case GW_HWNDLAST:
                return HandleOf(list.back());
            case GW_HWNDNEXT:
                return at + 1 != list.end() ? HandleOf(*(at + 1)) : nullptr;
            case GW_HWNDPREV:
                return at != list.begin() ? HandleOf(*(at - 1)) : nullptr;
            default:
                return nullptr;
        }
    }

    CursorState CurrentCursor() override {
        Connection& x = Connection::The();
        auto lock = x.Lock();
        CursorState state;
        state.visible = false;
        if (Connection::CursorImage cursor = x.ReadCursor()) state = StateOf(*cursor);
        return state;
    }

private:
    std::vector<Window> Refresh() {
        std::vector<Window> list;
        {
            Connection& x = Connection::The();
            auto lock = x.Lock();
            if (Display* d = x.Get()) list = ListWindows(x, d);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        windows_ = list;
        return list;
    }

    // The cursor's image is made again only when its serial number changes.
    CursorState StateOf(const XFixesCursorImage& cursor) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!cursorImage_ || cursor.cursor_serial != cursorSerial_) {
            auto image = std::make_shared<CursorImage>();
            image->width = cursor.width;
            image->height = cursor.height;
            image->alpha = true;
            size_t count = static_cast<size_t>(cursor.width) * cursor.height;
            image->colors.resize(count);
            image->mask.resize(count);
            for (size_t i = 0; i < count; ++i) {
                auto argb = static_cast<uint32_t>(cursor.pixels[i]);
                image->colors[i] = argb;
                image->mask[i] = (argb >> 24) == 0 ? 1 : 0;
            }
            cursorImage_ = std::move(image);
            cursorSerial_ = cursor.cursor_serial;
            cursorHandle_ = reinterpret_cast<HCURSOR>(display::NewHandleValue());
        }
        CursorState state;
        state.handle = cursorHandle_;
        state.position = POINT{cursor.x, cursor.y};
        state.hotSpot = POINT{cursor.xhot, cursor.yhot};
        state.visible = cursor.width > 0 && cursor.height > 0;
        state.image = cursorImage_;
        return state;
    }

    std::mutex mutex_;  // the window list and the cursor below
    std::vector<Window> windows_;
    std::shared_ptr<const CursorImage> cursorImage_;
    unsigned long cursorSerial_ = 0;
    HCURSOR cursorHandle_ = nullptr;
};

}  // namespace

display::DisplayService& HostDisplay() {
    static Host* host = new Host();  // lives as long as the process
    return *host;
}

long LiveSegments() { return Connection::The().LiveSegments(false); }
long LeasedSegments() { return Connection::The().LiveSegments(true); }

unsigned long ClientResourceBase() {
    Connection& x = Connection::The();
    auto lock = x.Lock();
    return x.ClientId();
}

bool ReadsThroughSharedMemory() {
    Connection& x = Connection::The();
    auto lock = x.Lock();
    return x.Get() != nullptr && x.UsingSharedMemory();
}

void AllowSharedMemory(bool allowed) {
    Connection& x = Connection::The();
    auto lock = x.Lock();
    x.AllowSharedMemory(allowed);
}

}  // namespace x11
}  // namespace host
}  // namespace VornWorld
