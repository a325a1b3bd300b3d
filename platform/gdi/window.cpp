// SPDX-License-Identifier: MIT
// Window-system calls: rectangles, the desktop and the top-level windows in Z order, their
// titles, owners and rectangles; window classes and windows of the calling program; message
// boxes.
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "vorn/win/kernel.h"
#include "world/display.h"
#include "world/faults.h"

using VornWorld::ShouldFail;
using namespace VornWorld::display;

namespace {

// The desktop window belongs to the system, not to any process of the host.
constexpr DWORD kSystemProcessId = 4;
constexpr DWORD kSystemThreadId = 8;

bool IsDesktop(HWND window) { return window != nullptr && window == Display().Desktop(); }

// Looks a live top-level window up (`measure`: for its rectangles); sets the system's error for
// anything else.
bool LiveWindow(HWND window, WindowInfo* info, bool measure = false) {
    if (measure ? Display().MeasureWindow(window, info) : Display().FindWindow(window, info)) {
        return true;
    }
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
}

// The title as the system keeps it: up to its first zero byte.
size_t TitleLength(const std::string& title) { return std::strlen(title.c_str()); }

// The outer rectangle in screen coordinates, or the client area's size; the desktop window is
// the screen either way.
BOOL RectOfWindow(HWND window, bool client, LPRECT rect) {
    if (rect == nullptr) return FALSE;
    if (IsDesktop(window)) {
        SIZE screen = Display().ScreenSize();
        *rect = RECT{0, 0, screen.cx, screen.cy};
        return TRUE;
    }
    WindowInfo info;
    if (!LiveWindow(window, &info, true)) return FALSE;
    *rect = client ? RECT{0, 0, info.client.right - info.client.left,
                          info.client.bottom - info.client.top}
                   : info.rect;
    return TRUE;
}

struct WindowClass {
    std::string name;
    ATOM atom = 0;
    WNDPROC procedure = nullptr;
};

class Classes {
public:
    std::mutex mutex;
    std::vector<WindowClass> list;
    ATOM nextAtom = 0xC000;

    // A class name or an integer atom (MAKEINTATOM); caller holds `mutex`.
    std::vector<WindowClass>::iterator Find(LPCSTR name) {
        auto atom = reinterpret_cast<uintptr_t>(name);
        return std::find_if(list.begin(), list.end(), [&](const WindowClass& c) {
            return atom < 0x10000 ? c.atom == atom : strcasecmp(c.name.c_str(), name) == 0;
        });
    }
};

Classes& TheClasses() {
    static Classes* classes = new Classes();
    return *classes;
}

// Frame and title bar of a window of the given style, as distances of the client area from
// the outer edges.
RECT InsetOfStyle(DWORD style) {
    // Overlapped windows always have a title bar and a border.
    if ((style & WS_POPUP) == 0) style |= WS_CAPTION;
    LONG border = (style & WS_THICKFRAME) != 0 ? 8
                  : (style & WS_DLGFRAME) != 0 ? 3
                  : (style & WS_BORDER) != 0   ? 1
                                               : 0;
    LONG caption = (style & WS_CAPTION) == WS_CAPTION ? 23 : 0;
    return RECT{border, border + caption, border, border};
}

}  // namespace

extern "C" {

BOOL WINAPI IsRectEmpty(const RECT* rect) {
    if (ShouldFail(VORN_FAULT("IsRectEmpty"))) return TRUE;
    return rect == nullptr || rect->right <= rect->left || rect->bottom <= rect->top;
}

HWND WINAPI GetDesktopWindow(void) {
    if (ShouldFail(VORN_FAULT("GetDesktopWindow"))) return nullptr;
    return Display().Desktop();
}

HWND WINAPI GetTopWindow(HWND window) {
    if (ShouldFail(VORN_FAULT("GetTopWindow"))) return nullptr;
    if (window == nullptr || IsDesktop(window)) return Display().TopWindow();
    // Top-level windows here have no child windows.
    LiveWindow(window, nullptr);
    return nullptr;
}

HWND WINAPI GetWindow(HWND window, UINT command) {
    if (ShouldFail(VORN_FAULT("GetWindow"))) return nullptr;
    if (IsDesktop(window)) return command == GW_CHILD ? Display().TopWindow() : nullptr;
    if (!LiveWindow(window, nullptr)) return nullptr;
    return Display().NeighbourWindow(window, command);
}

BOOL WINAPI IsWindow(HWND window) {
    if (ShouldFail(VORN_FAULT("IsWindow"))) return FALSE;
    return IsDesktop(window) || Display().FindWindow(window, nullptr) ? TRUE : FALSE;
}

// The desktop window is always visible; a window when it is shown (mapped, on the host's
// display).
BOOL WINAPI IsWindowVisible(HWND window) {
    if (ShouldFail(VORN_FAULT("IsWindowVisible"))) return FALSE;
    if (IsDesktop(window)) return TRUE;
    WindowInfo info;
    return Display().FindWindow(window, &info) && info.visible ? TRUE : FALSE;
}

int WINAPI GetWindowTextA(HWND window, LPSTR text, int maxCount) {
    if (text == nullptr || maxCount <= 0) return 0;
    text[0] = '\0';
    if (ShouldFail(VORN_FAULT("GetWindowTextA"))) return 0;
    WindowInfo info;
    if (IsDesktop(window) || !LiveWindow(window, &info)) return 0;
    size_t length = std::min(TitleLength(info.title), static_cast<size_t>(maxCount) - 1);
    std::memcpy(text, info.title.data(), length);
    text[length] = '\0';
    return static_cast<int>(length);
}

int WINAPI GetWindowTextLengthA(HWND window) {
    if (ShouldFail(VORN_FAULT("GetWindowTextLengthA"))) return 0;
    WindowInfo info;
    if (IsDesktop(window) || !LiveWindow(window, &info)) return 0;
    return static_cast<int>(TitleLength(info.title));
}

BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text) {
    if (ShouldFail(VORN_FAULT("SetWindowTextA"))) return FALSE;
    if (IsDesktop(window)) return FALSE;
    if (!Display().RetitleWindow(window, text != nullptr ? text : "")) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return TRUE;
}

DWORD WINAPI GetWindowThreadProcessId(HWND window, LPDWORD processId) {
    if (ShouldFail(VORN_FAULT("GetWindowThreadProcessId"))) return 0;
    DWORD process = kSystemProcessId, thread = kSystemThreadId;
    if (!IsDesktop(window)) {
        WindowInfo info;
        if (!LiveWindow(window, &info)) return 0;
        process = info.processId;
        thread = info.threadId;
    }
    if (processId != nullptr) *processId = process;
    return thread;
}

BOOL WINAPI GetWindowRect(HWND window, LPRECT rect) {
    if (ShouldFail(VORN_FAULT("GetWindowRect"))) return FALSE;
    return RectOfWindow(window, false, rect);
}

BOOL WINAPI GetClientRect(HWND window, LPRECT rect) {
    if (ShouldFail(VORN_FAULT("GetClientRect"))) return FALSE;
    return RectOfWindow(window, true, rect);
}

ATOM WINAPI RegisterClassA(const WNDCLASSA* windowClass) {
    if (ShouldFail(VORN_FAULT("RegisterClassA"))) return 0;
    if (windowClass == nullptr || windowClass->lpszClassName == nullptr ||
        reinterpret_cast<uintptr_t>(windowClass->lpszClassName) < 0x10000 ||
        windowClass->lpszClassName[0] == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    Classes& classes = TheClasses();
    std::lock_guard<std::mutex> lock(classes.mutex);
    if (classes.Find(windowClass->lpszClassName) != classes.list.end() ||
        classes.nextAtom == 0xFFFF) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    classes.list.push_back(
        WindowClass{windowClass->lpszClassName, classes.nextAtom++, windowClass->lpfnWndProc});
    return classes.list.back().atom;
}

BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE instance) {
    (void)instance;
    if (ShouldFail(VORN_FAULT("UnregisterClassA"))) return FALSE;
    if (className == nullptr) return FALSE;
    Classes& classes = TheClasses();
    std::lock_guard<std::mutex> lock(classes.mutex);
    auto it = classes.Find(className);
    if (it == classes.list.end()) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    if (Display().ClassHasWindows(it->name)) {
        SetLastError(ERROR_CLASS_HAS_WINDOWS);
        return FALSE;
    }
    classes.list.erase(it);
    return TRUE;
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR title, DWORD style, int x,
                            int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID parameter) {
    (void)exStyle;
    (void)menu;
    (void)instance;
    (void)parameter;
    if (ShouldFail(VORN_FAULT("CreateWindowExA"))) return nullptr;
    // Only top-level windows exist here.
    if (parent != nullptr && !IsDesktop(parent)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    NewWindow request;
    {
        Classes& classes = TheClasses();
        std::lock_guard<std::mutex> lock(classes.mutex);
        auto it = className != nullptr ? classes.Find(className) : classes.list.end();
        if (it == classes.list.end()) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        request.className = it->name;
    }
    if (x == CW_USEDEFAULT) x = y = 100;
    if (width == CW_USEDEFAULT) {
        width = 640;
        height = 480;
    }
    width = std::max(width, 0);
    height = std::max(height, 0);
    request.title = title != nullptr ? title : "";
    request.rect = RECT{x, y, static_cast<LONG>(std::min<int64_t>(int64_t{x} + width, INT32_MAX)),
                        static_cast<LONG>(std::min<int64_t>(int64_t{y} + height, INT32_MAX))};
    request.inset = InsetOfStyle(style);
    request.processId = GetCurrentProcessId();
    request.threadId = GetCurrentThreadId();
    request.visible = (style & WS_VISIBLE) != 0;
    return Display().CreateWindowInWorld(request);
}

BOOL WINAPI DestroyWindow(HWND window) {
    if (ShouldFail(VORN_FAULT("DestroyWindow"))) return FALSE;
    WindowInfo info;
    if (IsDesktop(window)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!LiveWindow(window, &info)) return FALSE;
    // Only the thread that owns a window may destroy it.
    if (info.threadId != GetCurrentThreadId()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return Display().DestroyWindowInWorld(window) ? TRUE : FALSE;
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    (void)window;
    (void)message;
    (void)wParam;
    (void)lParam;
    return 0;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    if (ShouldFail(VORN_FAULT("MessageBoxA"))) return 0;
    RecordMessageBox(owner, text != nullptr ? text : "", caption != nullptr ? caption : "Error",
                     type);
    // Nobody is there to answer: the box is taken as closed with its first button.
    switch (type & MB_TYPEMASK) {
        case MB_ABORTRETRYIGNORE:
            return IDABORT;
        case MB_YESNOCANCEL:
        case MB_YESNO:
            return IDYES;
        case MB_RETRYCANCEL:
            return IDRETRY;
        case MB_CANCELTRYCONTINUE:
            return IDCANCEL;
        default:
            return IDOK;
    }
}

}  // extern "C"
