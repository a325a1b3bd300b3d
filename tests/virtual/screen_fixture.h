// SPDX-License-Identifier: MIT
// A clean virtual display for each screen-device test, with helpers to read captured frames.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "vorn/control/display.h"
#include "vorn/control/faults.h"

class ScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        VornWorld::ClearFaults();
        VornWorld::ResetDisplay();
        VornWorld::EchoMessageBoxes(false);
        contexts_ = VornWorld::LiveDeviceContexts();
        objects_ = VornWorld::LiveGdiObjects();
    }
    void TearDown() override {
        VornWorld::ClearFaults();
        EXPECT_EQ(contexts_, VornWorld::LiveDeviceContexts()) << "leaked device contexts";
        EXPECT_EQ(objects_, VornWorld::LiveGdiObjects()) << "leaked GDI objects";
        VornWorld::ResetDisplay();
    }

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

    // The 0x00RRGGBB value of pixel (x, y), counted from the top, of a bottom-up 24-bit image
    // with rows of `stride` bytes.
    static uint32_t PixelAt(const unsigned char* image, int stride, int height, int x, int y) {
        const unsigned char* p = image + static_cast<size_t>(height - 1 - y) * stride + x * 3;
        return static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[0];
    }

    // Polls `done` for up to `seconds`; true once it holds.
    static bool WaitFor(const std::function<bool()>& done, double seconds = 5.0) {
        const auto end = std::chrono::steady_clock::now() +
                         std::chrono::milliseconds(static_cast<int>(seconds * 1000));
        while (std::chrono::steady_clock::now() < end) {
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return done();
    }

private:
    long contexts_ = 0;
    long objects_ = 0;
};
