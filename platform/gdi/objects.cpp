// SPDX-License-Identifier: MIT
// The handle table of device contexts and bitmaps, and the GDI calls that create, select,
// describe and delete them.
#include <strings.h>

#include <cstring>
#include <unordered_map>

#include "vorn/control/display.h"
#include "vorn/win/kernel.h"
#include "world/display_objects.h"
#include "world/faults.h"

namespace VornWorld {
namespace display {
namespace {

struct Entry {
    bool isDc = false;
    // Device context.
    DcKind kind = DcKind::Memory;
    HWND window = nullptr;
    bool client = false;
    HBITMAP selected = nullptr;
    // Bitmap.
    std::shared_ptr<BitmapData> bitmap;
    HDC selectedInto = nullptr;
};

class Table {
public:
    Table() {
        // The default bitmap of every new memory context: 1 x 1, monochrome, never deleted.
        stockBitmap_ = reinterpret_cast<HBITMAP>(NewHandleValue());
        Entry e;
        e.bitmap = MakeBitmap(1, 1, true);
        e.bitmap->stock = true;
        entries_[Key(stockBitmap_)] = std::move(e);
    }

    std::mutex mutex;
    long liveDcs = 0;
    long liveObjects = 0;

    static uintptr_t Key(const void* handle) { return reinterpret_cast<uintptr_t>(handle); }
    HBITMAP StockBitmap() const { return stockBitmap_; }

    // Callers hold `mutex`.
    Entry* Find(const void* handle) {
        auto it = entries_.find(Key(handle));
        return it == entries_.end() ? nullptr : &it->second;
    }
    Entry* FindDc(const void* handle) {
        Entry* e = Find(handle);
        return e != nullptr && e->isDc ? e : nullptr;
    }
    Entry* FindBitmap(const void* handle) {
        Entry* e = Find(handle);
        return e != nullptr && !e->isDc ? e : nullptr;
    }
    void Add(uintptr_t key, Entry entry) {
        if (entry.isDc) {
            ++liveDcs;
        } else if (!entry.bitmap->stock) {
            ++liveObjects;
        }
        entries_[key] = std::move(entry);
    }
    void Remove(const void* handle) {
        Entry* e = Find(handle);
        if (e == nullptr) return;
        if (e->isDc) {
            --liveDcs;
            // A deleted context lets go of its bitmap.
            if (Entry* b = FindBitmap(e->selected)) {
                if (b->selectedInto == handle) b->selectedInto = nullptr;
            }
        } else if (!e->bitmap->stock) {
            --liveObjects;
        }
        entries_.erase(Key(handle));
    }

private:
    std::unordered_map<uintptr_t, Entry> entries_;
    HBITMAP stockBitmap_ = nullptr;
};

Table& TheTable() {
    static Table* table = new Table();  // lives as long as the process
    return *table;
}

using Lock = std::lock_guard<std::mutex>;

HDC WindowDc(HWND window, bool client) {
    if (window != nullptr && window != Display().Desktop() &&
        !Display().FindWindow(window, nullptr)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if (window == Display().Desktop()) window = nullptr;
    return AddDc(DcKind::Window, window, client);
}

}  // namespace

HDC AddDc(DcKind kind, HWND window, bool client) {
    Table& table = TheTable();
    HDC dc = reinterpret_cast<HDC>(NewHandleValue());
    Entry e;
    e.isDc = true;
    e.kind = kind;
    e.window = window;
    e.client = client;
    if (kind == DcKind::Memory) e.selected = table.StockBitmap();
    Lock lock(table.mutex);
    table.Add(Table::Key(dc), std::move(e));
    return dc;
}

bool FindDc(HDC dc, DcTarget* target) {
    Table& table = TheTable();
    Lock lock(table.mutex);
    Entry* e = table.FindDc(dc);
    if (e == nullptr) return false;
    target->kind = e->kind;
    target->window = e->window;
    target->client = e->client;
    target->bitmap.reset();
    if (e->kind == DcKind::Memory) {
        if (Entry* b = table.FindBitmap(e->selected)) target->bitmap = b->bitmap;
    }
    return true;
}

HBITMAP AddBitmap(std::shared_ptr<BitmapData> bitmap) {
    Table& table = TheTable();
    HBITMAP handle = reinterpret_cast<HBITMAP>(NewHandleValue());
    Entry e;
    e.bitmap = std::move(bitmap);
    Lock lock(table.mutex);
    table.Add(Table::Key(handle), std::move(e));
    return handle;
}

std::shared_ptr<BitmapData> FindBitmap(HGDIOBJ object) {
    Table& table = TheTable();
    Lock lock(table.mutex);
    Entry* e = table.FindBitmap(object);
    return e != nullptr ? e->bitmap : nullptr;
}

bool ViewOfDc(const DcTarget& target, bool advance, View* view) {
    switch (target.kind) {
        case DcKind::Display:
            return Display().TakeWindowView(nullptr, false, advance, view);
        case DcKind::Window:
            return Display().TakeWindowView(target.window, target.client, advance, view);
        case DcKind::Memory:
            break;
    }
    return false;
}

}  // namespace display

long LiveDeviceContexts() {
    display::Table& table = display::TheTable();
    display::Lock lock(table.mutex);
    return table.liveDcs;
}

long LiveGdiObjects() {
    display::Table& table = display::TheTable();
    display::Lock lock(table.mutex);
    return table.liveObjects;
}

}  // namespace VornWorld

using VornWorld::ShouldFail;
using namespace VornWorld::display;

extern "C" {

HDC WINAPI CreateDCA(LPCSTR driver, LPCSTR device, LPCSTR port, const DEVMODEA* mode) {
    (void)device;
    (void)port;
    (void)mode;
    if (ShouldFail(VORN_FAULT("CreateDCA"))) return nullptr;
    // Only the display driver exists here; it stands for the primary screen.
    if (driver == nullptr || strcasecmp(driver, "DISPLAY") != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return AddDc(DcKind::Display, nullptr, false);
}

HDC WINAPI GetDC(HWND window) {
    if (ShouldFail(VORN_FAULT("GetDC"))) return nullptr;
    return WindowDc(window, true);
}

HDC WINAPI GetWindowDC(HWND window) {
    if (ShouldFail(VORN_FAULT("GetWindowDC"))) return nullptr;
    return WindowDc(window, false);
}

int WINAPI ReleaseDC(HWND window, HDC dc) {
    (void)window;
    if (ShouldFail(VORN_FAULT("ReleaseDC"))) return 0;
    Table& table = TheTable();
    Lock lock(table.mutex);
    Entry* e = table.FindDc(dc);
    if (e == nullptr || e->kind != DcKind::Window) return 0;
    table.Remove(dc);
    return 1;
}

BOOL WINAPI DeleteDC(HDC dc) {
    if (ShouldFail(VORN_FAULT("DeleteDC"))) return FALSE;
    Table& table = TheTable();
    Lock lock(table.mutex);
    Entry* e = table.FindDc(dc);
    // Contexts from GetDC and GetWindowDC go back through ReleaseDC.
    if (e == nullptr || e->kind == DcKind::Window) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    table.Remove(dc);
    return TRUE;
}

HDC WINAPI CreateCompatibleDC(HDC dc) {
    if (ShouldFail(VORN_FAULT("CreateCompatibleDC"))) return nullptr;
    DcTarget target;
    if (dc != nullptr && !FindDc(dc, &target)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return AddDc(DcKind::Memory, nullptr, false);
}

int WINAPI GetDeviceCaps(HDC dc, int index) {
    if (ShouldFail(VORN_FAULT("GetDeviceCaps"))) return 0;
    DcTarget target;
    if (!FindDc(dc, &target)) return 0;
    // Every context here belongs to the one display: its answers, whatever is selected.
    SIZE screen = Display().ScreenSize();
    constexpr int kDpi = 96;
    switch (index) {
        case HORZRES:
        case DESKTOPHORZRES:
            return screen.cx;
        case VERTRES:
        case DESKTOPVERTRES:
            return screen.cy;
        case HORZSIZE:
            return screen.cx * 254 / (kDpi * 10);
        case VERTSIZE:
            return screen.cy * 254 / (kDpi * 10);
        case BITSPIXEL:
            return 32;
        case PLANES:
            return 1;
        case TECHNOLOGY:
            return DT_RASDISPLAY;
        case LOGPIXELSX:
        case LOGPIXELSY:
            return kDpi;
        case NUMCOLORS:
            return -1;
        case COLORRES:
            return 24;
        case VREFRESH:
            return 60;
        case RASTERCAPS:
            return RC_BITBLT | RC_BITMAP64 | RC_DI_BITMAP | RC_DIBTODEV | RC_STRETCHBLT |
                   RC_STRETCHDIB;
        default:
            return 0;
    }
}

HBITMAP WINAPI CreateCompatibleBitmap(HDC dc, int width, int height) {
    if (ShouldFail(VORN_FAULT("CreateCompatibleBitmap"))) return nullptr;
    DcTarget target;
    if (!FindDc(dc, &target)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (width < 0 || height < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // An empty size gives the 1 x 1 monochrome default bitmap, as on the real system.
    if (width == 0 || height == 0) return TheTable().StockBitmap();
    // A memory context makes bitmaps like the one selected into it (monochrome at first).
    bool mono = target.kind == DcKind::Memory && target.bitmap && target.bitmap->mono;
    auto bitmap = MakeBitmap(width, height, mono);
    if (!bitmap) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return AddBitmap(std::move(bitmap));
}

HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object) {
    if (ShouldFail(VORN_FAULT("SelectObject"))) return nullptr;
    Table& table = TheTable();
    Lock lock(table.mutex);
    Entry* d = table.FindDc(dc);
    Entry* b = table.FindBitmap(object);
    // Bitmaps go only into memory contexts, and into one at a time (stock ones excepted).
    if (d == nullptr || b == nullptr || d->kind != DcKind::Memory) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    HBITMAP previous = d->selected;
    if (previous == object) return previous;
    bool stock = b->bitmap->stock;
    if (!stock && b->selectedInto != nullptr) return nullptr;
    if (Entry* old = table.FindBitmap(previous)) old->selectedInto = nullptr;
    d->selected = static_cast<HBITMAP>(object);
    if (!stock) b->selectedInto = dc;
    return previous;
}

BOOL WINAPI DeleteObject(HGDIOBJ object) {
    if (ShouldFail(VORN_FAULT("DeleteObject"))) return FALSE;
    Table& table = TheTable();
    Lock lock(table.mutex);
    Entry* b = table.FindBitmap(object);
    if (b == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (b->bitmap->stock) return TRUE;
    // A bitmap still selected into a context stays alive; the call fails.
    if (b->selectedInto != nullptr) return FALSE;
    table.Remove(object);
    return TRUE;
}

int WINAPI GetObjectA(HANDLE object, int size, LPVOID buffer) {
    if (ShouldFail(VORN_FAULT("GetObjectA"))) return 0;
    auto bitmap = FindBitmap(object);
    if (!bitmap) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    constexpr int kSize = static_cast<int>(sizeof(BITMAP));
    if (buffer == nullptr) return kSize;
    if (size < kSize) return 0;
    BITMAP info{};
    info.bmType = 0;
    info.bmWidth = bitmap->width;
    info.bmHeight = bitmap->height;
    info.bmWidthBytes = bitmap->WidthBytes();
    info.bmPlanes = 1;
    info.bmBitsPixel = static_cast<WORD>(bitmap->BitsPerPixel());
    info.bmBits = nullptr;
    std::memcpy(buffer, &info, sizeof(info));
    return kSize;
}

}  // extern "C"
