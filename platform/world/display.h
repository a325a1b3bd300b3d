// SPDX-License-Identifier: MIT
// The display as the window-system and GDI services see it: snapshots of the screen, of windows
// and of the cursor. The services ask the display of the world in force (Display()); the
// virtual world's display is also shaped by the control API.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vorn/win/gdi.h"

namespace VornWorld {
namespace display {

// A new handle value, never handed out before, for any kind of handle.
uintptr_t NewHandleValue();

// Copies `count` pixels. Kept out of line so every copy goes through one tuned routine.
void CopyPixels(uint32_t* to, const uint32_t* from, size_t count);
void FillPixels(uint32_t* to, uint32_t value, size_t count);

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;  // width x height, rows from the top, 0x00RRGGBB
};

// Something pixels can be copied from: a screen frame or a window's own pixels.
class Surface {
public:
    virtual ~Surface() = default;
    int Width() const { return width_; }
    int Height() const { return height_; }
    // Copies the rectangle (x, y, w, h), which lies inside the surface, into rows of `stride`
    // pixels at `to`.
    virtual void Copy(int x, int y, int w, int h, uint32_t* to, size_t stride) const = 0;
    // Pixels [x, x + count) of row y, inside the surface: in `scratch` (room for count pixels),
    // or straight from where the surface keeps them.
    virtual const uint32_t* Read(int x, int y, int count, uint32_t* scratch) const;
    // One pixel; 0 outside the surface.
    uint32_t Pixel(int x, int y) const;
    // Reads the pixels of `area` (surface coordinates) from where they live, before they are
    // copied: surfaces of a real display read them here, once per transfer. False when they
    // cannot be read (a window gone, a display lost). The virtual world's surfaces have them.
    virtual bool Fetch(const RECT& area) const;

protected:
    int width_ = 0;
    int height_ = 0;
};

// The screen as background plus windows, rebuilt only when the world changes.
struct Composite {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    std::vector<uint8_t> open;  // 1 where the background shows (no window over it)
    bool moving = false;        // whether the test picture's box is drawn over the background
};

// One frame of the screen.
class ScreenShot : public Surface {
public:
    ScreenShot(std::shared_ptr<const Composite> composite, uint64_t frame);
    void Copy(int x, int y, int w, int h, uint32_t* to, size_t stride) const override;
    const uint32_t* Read(int x, int y, int count, uint32_t* scratch) const override;

private:
    std::shared_ptr<const Composite> composite_;
    RECT box_{};  // the moving box of this frame, clipped to the screen
    uint32_t boxColor_ = 0;
};

// How a window looks, independent of where it is.
class WindowLook : public Surface {
public:
    WindowLook() = default;
    WindowLook(int width, int height, const RECT& client, uint32_t frame, uint32_t clientColor,
               std::shared_ptr<const Picture> picture);
    void Copy(int x, int y, int w, int h, uint32_t* to, size_t stride) const override;
    // One row y of the window, columns [x0, x1).
    void Row(int y, int x0, int x1, uint32_t* to) const;

private:
    RECT client_{};
    uint32_t frame_ = 0;
    uint32_t clientColor_ = 0;
    std::shared_ptr<const Picture> picture_;
};

// A part of a surface shown through a device context: `area` in surface coordinates is what the
// context covers, its top-left corner being the context's origin.
struct View {
    std::shared_ptr<const Surface> surface;
    RECT area{};
};

// A top-level window as it is made: `rect` is outer, in screen coordinates; `inset` holds the
// distances of the client area from the outer edges.
struct NewWindow {
    std::string title;
    std::string className;
    RECT rect{};
    RECT inset{};
    DWORD processId = 0;
    DWORD threadId = 0;
    bool visible = true;
};

struct WindowInfo : NewWindow {
    RECT client{};  // client area, window coordinates
};
struct CursorImage {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> colors;
    std::vector<uint8_t> mask;  // nonzero: the target pixel shows through
    // Colours 0xAARRGGBB with premultiplied alpha, blended over the target; `mask` then marks
    // the fully transparent pixels.
    bool alpha = false;
};
// A premultiplied 0xAARRGGBB colour (a cursor's) over a 0x00RRGGBB pixel.
inline uint32_t BlendOver(uint32_t color, uint32_t under) {
    const uint32_t keep = 255 - (color >> 24);
    uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const uint32_t c = (color >> shift) & 0xFFu, u = (under >> shift) & 0xFFu;
        const uint32_t sum = c + (u * keep + 127) / 255;
        out |= (sum < 255 ? sum : 255) << shift;
    }
    return out;
}
struct CursorState {
    HCURSOR handle = nullptr;
    POINT position{};
    POINT hotSpot{};
    bool visible = true;
    std::shared_ptr<const CursorImage> image;
};

// What the window-system and GDI services ask of a world's display.
class DisplayService {
public:
    virtual ~DisplayService() = default;
    virtual SIZE ScreenSize() = 0;
    virtual HWND Desktop() = 0;
    // What a context of a window shows: the whole window (`client` false) or its client area,
    // the view's surface in window coordinates, (0, 0) the outer top-left corner. The desktop
    // window and a null window give the screen; `advance` moves a moving screen on. False when
    // the window does not exist.
    virtual bool TakeWindowView(HWND window, bool client, bool advance, View* view) = 0;
    // False for a handle that is not a live top-level window (the desktop included).
    virtual bool FindWindow(HWND window, WindowInfo* info) = 0;
    // FindWindow for a caller that wants the window's rectangles (its size, to capture it): a
    // display that learns a window's size only from its picture may get the picture here,
    // which a listing of titles and owners (FindWindow) must not cause.
    virtual bool MeasureWindow(HWND window, WindowInfo* info) { return FindWindow(window, info); }
    // The top-level windows in Z order, topmost first: GW_HWNDFIRST, GW_HWNDLAST, GW_HWNDNEXT,
    // GW_HWNDPREV relative to a live window; null at the ends.
    virtual HWND TopWindow() = 0;
    virtual HWND NeighbourWindow(HWND window, UINT command) = 0;
    virtual bool RetitleWindow(HWND window, const std::string& title) = 0;
    // Windows of the calling program; a world may refuse them (null, false).
    virtual HWND CreateWindowInWorld(const NewWindow& request) = 0;
    virtual bool DestroyWindowInWorld(HWND window) = 0;
    virtual bool ClassHasWindows(const std::string& className) = 0;
    virtual CursorState CurrentCursor() = 0;
};

// The display of the world in force (chosen once, with the world).
DisplayService& Display();
// The virtual world's display (virtual/display_state.h has its own functions).
DisplayService& VirtualDisplay();

// Records a message box and, when echo is on, writes it to standard error.
void RecordMessageBox(HWND owner, const char* text, const char* caption, UINT type);

}  // namespace display
}  // namespace VornWorld
