// SPDX-License-Identifier: MIT
// The virtual world's display: its state as the services read it, the test picture, pictures
// and the arrow cursor.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "world/display.h"

namespace VornWorld {
namespace display {

// Largest picture a host may hand over (screen pictures, window pixels): 2^28 pixels, 1 GiB.
constexpr uint64_t kMaxPicturePixels = uint64_t{1} << 28;

// What VirtualDisplay() serves, as DisplayService describes it. The screen advances one frame
// of the moving test picture each time `advance` is set.
bool TakeWindowView(HWND window, bool client, bool advance, View* view);
// The screen at the current frame, optionally advancing the frame.
std::shared_ptr<const ScreenShot> TakeScreen(bool advance);
SIZE CurrentScreenSize();

HWND DesktopHandle();

bool FindWindow(HWND window, WindowInfo* info);
bool WindowExists(HWND window);
HWND TopWindow();
HWND NeighbourWindow(HWND window, UINT command);
bool RetitleWindow(HWND window, const std::string& title);

HWND CreateWindowInWorld(const NewWindow& request);
bool DestroyWindowInWorld(HWND window);
bool ClassHasWindows(const std::string& className);

CursorState CurrentCursor();

// The moving box of the test picture on a screen of the given size, and its colour.
RECT BoxOfFrame(int width, int height, uint64_t frame);
uint32_t BoxColorOfFrame(uint64_t frame);
// The still background of the test picture: red grows to the right, green downwards, blue
// alternates in 64-pixel squares.
std::vector<uint32_t> TestBackground(int width, int height);

// A copy of a host's picture with the top byte of each pixel cleared; null for bad arguments.
std::shared_ptr<const Picture> MakePicture(const uint32_t* pixels, int width, int height,
                                           int stride);
// The arrow cursor drawn at the given size: black outline, white inside, the rest transparent.
std::shared_ptr<const CursorImage> MakeArrow(int width, int height);

}  // namespace display
}  // namespace VornWorld
