// The soak's world on a real window system: windows of the program's own, the process's
// GDI and USER objects, handles and threads as counters, and failure reports (message boxes)
// answered at once. Platform calls cannot be made to fail here.
#include <string>
#include <vector>

#include "soak.h"
#include "windowscounters.h"

namespace soak {
namespace world {
namespace {

const char* const kClassName = "VmcSoakWindow";

void RegisterClassOnce() {
    static const bool registered = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_HIGHLIGHT + 1);
        wc.lpszClassName = kClassName;
        return RegisterClassA(&wc) != 0;
    }();
    (void)registered;
}

BOOL CALLBACK CountOwnWindow(HWND window, LPARAM count) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId()) ++*reinterpret_cast<long*>(count);
    return TRUE;
}

long OwnTopLevelWindows() {
    long count = 0;
    EnumWindows(CountOwnWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

// Failure reports of the media devices are modal message boxes: each one is answered with
// OK as soon as it is shown, on the thread that shows it.
volatile LONG boxesShown = 0;
thread_local HHOOK boxHook = nullptr;

LRESULT CALLBACK AnswerBoxes(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND window = reinterpret_cast<HWND>(wParam);
        char name[16] = {};
        GetClassNameA(window, name, sizeof(name));
        if (std::string(name) == "#32770") {
            InterlockedIncrement(&boxesShown);
            PostMessageA(window, WM_COMMAND, IDOK, 0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

const char* Name() {
    using WineVersion = const char*(CDECL*)();
    auto version = reinterpret_cast<WineVersion>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")));
    static const std::string name =
        version != nullptr ? std::string("Windows system of Wine ") + version() : "Windows system";
    return name.c_str();
}

// A window's device context that another thread is drawing from when the window is
// destroyed cannot be released: the system keeps it in its cache of window contexts (a DC,
// a region and a bitmap) and hands it out again later. The cache is bounded (about 64
// contexts here), but until it is full every such race leaves three GDI objects behind, and
// window devices over windows that are destroyed under them race that way all the time.
// Filling the cache first, with as many contexts as it holds, makes the GDI count after the
// run compare like with like.
void FillWindowContextCache() {
    HWND window = OpenWindow("context cache", 0, 0, 16, 16);
    if (window == nullptr) return;
    std::vector<HDC> contexts;
    for (int i = 0; i < 100; ++i) {
        HDC dc = GetDCEx(window, nullptr, DCX_WINDOW | DCX_CACHE);
        if (dc == nullptr) break;
        contexts.push_back(dc);
    }
    for (HDC dc : contexts) ReleaseDC(window, dc);
    DestroyWindow(window);
    PumpMessages();
}

void Prepare() {
    RegisterClassOnce();
    FillWindowContextCache();
}

std::vector<std::pair<std::string, long>> Resources() {
    return {
        {"GDI objects", wintest::LiveGdiObjects()},  {"USER objects", wintest::LiveUserObjects()},
        {"handles", wintest::OpenHandles()},         {"threads", wintest::LiveThreads()},
        {"top-level windows", OwnTopLevelWindows()},
    };
}

std::vector<std::pair<std::string, long>> MediaResources() { return {}; }
long long HeapInUse() { return -1; }
void DropRecords() {}

HWND OpenWindow(const std::string& title, int x, int y, int width, int height) {
    RegisterClassOnce();
    // Pop-up windows: Wine hands framed windows to a window manager and, with none running on
    // a headless display, waits 2 s for it on every hide and destroy, during which the window
    // answers no message (and reading its title from another thread waits as long).
    HWND window =
        CreateWindowExA(WS_EX_TOOLWINDOW, kClassName, title.c_str(), WS_POPUP | WS_BORDER, x, y,
                        width, height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (window != nullptr) ::ShowWindow(window, SW_SHOWNOACTIVATE);
    return window;
}
void CloseWindow(HWND window) {
    if (window != nullptr) DestroyWindow(window);
}
bool ResizeWindow(HWND window, int width, int height) {
    return SetWindowPos(window, nullptr, 0, 0, width, height,
                        SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE) != 0;
}
bool MoveWindowTo(HWND window, int x, int y) {
    return SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE) !=
           0;
}
bool RetitleWindow(HWND window, const std::string& title) {
    return SetWindowTextA(window, title.c_str()) != 0;
}
bool ShowWindow(HWND window, bool visible) {
    ::ShowWindow(window, visible ? SW_SHOWNOACTIVATE : SW_HIDE);
    return true;
}
void PumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

std::vector<std::string> FaultNames() { return {}; }
void FailCall(const std::string&, unsigned, unsigned) {}
void ClearFaults() {}
unsigned long CallCount(const std::string&) { return 0; }
unsigned long FailedCount(const std::string&) { return 0; }

void PrepareMediaThread() {
    if (boxHook == nullptr) {
        boxHook = SetWindowsHookExA(WH_CBT, AnswerBoxes, nullptr, GetCurrentThreadId());
    }
}
void FinishMediaThread() {
    if (boxHook != nullptr) UnhookWindowsHookEx(boxHook);
    boxHook = nullptr;
}
unsigned long TakeMessageBoxes() {
    return static_cast<unsigned long>(InterlockedExchange(&boxesShown, 0));
}

}  // namespace world
}  // namespace soak
