// Helpers of the display's world state: the test picture, pictures and the arrow cursor.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "world/display.h"

namespace VornWorld {
namespace display {

// Largest picture a host may hand over (screen pictures, window pixels): 2^28 pixels, 1 GiB.
constexpr uint64_t kMaxPicturePixels = uint64_t{1} << 28;

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
