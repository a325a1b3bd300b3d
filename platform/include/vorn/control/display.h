// SPDX-License-Identifier: MIT
// Control of the virtual display: the screen and its picture, the top-level windows, the
// cursor, the live device contexts and GDI objects, and the recorded message boxes.
//
// Pixels are 32-bit values 0x00RRGGBB (in memory: blue, green, red, 0), the layout of a
// 32-bit device-independent bitmap. Every function is safe to call from any thread, also while
// other threads capture the screen.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vorn/win/gdi.h"

namespace VornWorld {

// Back to the defaults: a 1920 x 1080 screen showing the moving test picture at frame 0, no
// windows, the arrow cursor (32 x 32, hot spot 0, 0) shown at (960, 540), no recorded message
// boxes, echo of message boxes on. Device contexts and GDI objects that are still alive stay
// alive (and counted); fault rules are left to ClearFaults.
VORN_PLATFORM_API void ResetDisplay();

// ---- Screen --------------------------------------------------------------------------------
constexpr int kMaxScreenSide = 16384;
// Resizes the primary screen (1 to kMaxScreenSide on each side); false leaves it unchanged.
// A fixed picture is dropped in favour of the test picture.
VORN_PLATFORM_API bool SetScreenSize(int width, int height);
VORN_PLATFORM_API SIZE ScreenSize();
// Shows a fixed picture (`stride` in pixels, 0 = width); the screen takes its size. The top
// byte of each pixel is ignored. False (nothing changed) for a null picture or a bad size.
VORN_PLATFORM_API bool SetScreenPicture(const uint32_t* pixels, int width, int height,
                                        int stride = 0);
// Shows the moving test picture again: a still background with a small box that moves and
// changes colour with every frame.
VORN_PLATFORM_API void UseTestPicture();

// Every copy taken from the screen (a blit whose source is a screen or desktop context) shows
// one frame and advances the frame number by one, unless the screen is frozen.
VORN_PLATFORM_API uint64_t ScreenFrame();  // the frame the next copy will show
VORN_PLATFORM_API void SetScreenFrame(uint64_t frame);
VORN_PLATFORM_API void FreezeScreen(bool frozen);
// What the screen shows at (x, y) in the given frame: background, moving box and windows, not
// the cursor. 0 outside the screen.
VORN_PLATFORM_API uint32_t ScreenPixel(int x, int y, uint64_t frame);
// Where the moving box of the test picture lies in the given frame, in screen coordinates
// (an empty rectangle while a fixed picture is shown).
VORN_PLATFORM_API RECT MovingBox(uint64_t frame);

// ---- Windows -------------------------------------------------------------------------------
// A new top-level window at the top of the Z order, visible, with an outer rectangle in screen
// coordinates and a client area inset by kDefaultInset. The first form gives it to the calling
// process and thread; the second to any process and thread ids (0 included).
constexpr RECT kDefaultInset = {4, 24, 4, 4};
VORN_PLATFORM_API HWND AddWindow(const char* title, const RECT& outer);
VORN_PLATFORM_API HWND AddWindow(const char* title, const RECT& outer, DWORD processId,
                                 DWORD threadId);
// Each of these answers false for a handle that is not a live window.
VORN_PLATFORM_API bool RemoveWindow(HWND window);
VORN_PLATFORM_API bool MoveWindowTo(HWND window, int left, int top);
VORN_PLATFORM_API bool ResizeWindowTo(HWND window, int width, int height);
VORN_PLATFORM_API bool SetWindowTitle(HWND window, const std::string& title);
VORN_PLATFORM_API bool SetWindowOwner(HWND window, DWORD processId, DWORD threadId);
// Distances of the client area from the outer edges (left, top, right, bottom; each >= 0).
VORN_PLATFORM_API bool SetWindowClientInset(HWND window, const RECT& inset);
VORN_PLATFORM_API bool SetWindowVisible(HWND window, bool visible);
// The window's own pixels: frame (outside the client area) and client colours. New windows
// get a grey frame and a client colour of their own.
VORN_PLATFORM_API bool SetWindowColor(HWND window, uint32_t frame, uint32_t client);
// A picture laid over the window from its outer top-left corner (`stride` in pixels, 0 =
// width); parts of the window it does not cover keep the colours. A null picture removes it.
VORN_PLATFORM_API bool SetWindowPixels(HWND window, const uint32_t* pixels, int width, int height,
                                       int stride = 0);
// What the window itself shows at (x, y) relative to its outer top-left corner (0 outside).
VORN_PLATFORM_API uint32_t WindowPixel(HWND window, int x, int y);
// Z order: to the top, to the bottom.
VORN_PLATFORM_API bool RaiseWindow(HWND window);
VORN_PLATFORM_API bool LowerWindow(HWND window);
// The live top-level windows, topmost first.
VORN_PLATFORM_API std::vector<HWND> WindowsInZOrder();

// ---- Cursor --------------------------------------------------------------------------------
VORN_PLATFORM_API void SetCursorPosition(int x, int y);
VORN_PLATFORM_API void SetCursorHotSpot(int x, int y);
VORN_PLATFORM_API void SetCursorVisible(bool visible);
// A cursor that shows but has no handle, as a process sees it under Wine when it has no window of
// its own: GetCursorInfo reports the handle null (the showing flag still follows
// SetCursorVisible), and GetIconInfo and DrawIconEx refuse that null handle.
VORN_PLATFORM_API void SetCursorUnset(bool unset);
// The arrow drawn at another size (1 to 256 on each side).
VORN_PLATFORM_API bool SetCursorSize(int width, int height);
// A cursor image of its own: `colors` and `mask` hold width x height values, row by row from
// the top. Drawing ANDs the target with the mask (a nonzero mask value keeps the target pixel,
// 0 clears it), then XORs it with the colour, as a cursor with a colour image is drawn.
VORN_PLATFORM_API bool SetCursorImage(const uint32_t* colors, const uint8_t* mask, int width,
                                      int height);
// The handle GetCursorInfo reports; GetIconInfo and DrawIconEx accept only this one. To make
// GetIconInfo fail, use FailCall("GetIconInfo", ...) from faults.h.
VORN_PLATFORM_API HCURSOR CursorHandle();

// ---- Leak counters -------------------------------------------------------------------------
// Device contexts not yet deleted or released.
VORN_PLATFORM_API long LiveDeviceContexts();
// GDI objects (bitmaps, also those GetIconInfo made) not yet deleted; stock objects excluded.
VORN_PLATFORM_API long LiveGdiObjects();

// ---- Message boxes -------------------------------------------------------------------------
struct MessageBoxRecord {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};
VORN_PLATFORM_API std::vector<MessageBoxRecord> MessageBoxes();
VORN_PLATFORM_API void ClearMessageBoxes();
// Whether MessageBoxA also writes caption and text to standard error (default on).
VORN_PLATFORM_API void EchoMessageBoxes(bool echo);

}  // namespace VornWorld
