// SPDX-License-Identifier: MIT
// A clean virtual display for each screen-device test, with a known picture (frames are waited
// for with Eventually of polling.h, their pixels read with PixelAt of screengrabbers.h).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "polling.h"
#include "screengrabbers.h"
#include "virtual_display.h"

using vmc_test::Eventually;
using vmc_test::PixelAt;

class ScreenTest : public DisplayTest {
protected:
    // A fixed screen whose pixel at (x, y) is Pattern(x, y).
    static uint32_t Pattern(int x, int y) {
        return static_cast<uint32_t>(((x * 7) & 0xFF) << 16 | ((y * 13) & 0xFF) << 8 |
                                     ((x + y) & 0xFF));
    }
    static void ShowPattern(int width, int height) {
        std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                pixels[static_cast<size_t>(y) * width + x] = Pattern(x, y);
        ASSERT_TRUE(VornWorld::SetScreenPicture(pixels.data(), width, height));
    }
};
