// SPDX-License-Identifier: MIT
// Every test here compares captured pixels with painted colours exactly, which needs a screen
// of at least 24 bits per pixel: on fewer the colours are rounded. Checked once, before all.
#include <windows.h>

#include <gtest/gtest.h>

namespace {

class TrueColourScreen : public ::testing::Environment {
public:
    void SetUp() override {
        HDC screen = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, screen);
        const int bits = GetDeviceCaps(screen, BITSPIXEL);
        const int width = GetDeviceCaps(screen, HORZRES);
        const int height = GetDeviceCaps(screen, VERTRES);
        DeleteDC(screen);
        ASSERT_GE(bits, 24) << "the screen has " << bits << " bits per pixel; run on 24 or more";
        ASSERT_GE(width, 1280) << "the tests place windows on a screen of at least 1280 x 1024";
        ASSERT_GE(height, 1024) << "the tests place windows on a screen of at least 1280 x 1024";
    }
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new TrueColourScreen);

}  // namespace
