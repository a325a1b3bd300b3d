// SPDX-License-Identifier: MIT
// The packed images of device frames and their I420 conversion: which sizes and lengths they
// take, and that a refused one is a plain false, never a read past the memory given.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "image.h"

namespace {

using VornCapture::DeviceFrameView;
using VornCapture::I420Maker;
using VornCapture::ImageView;
using VornCapture::kMaxSide;

struct FrameCase {
    const char* what;
    uint32_t width, height;
    size_t length;
    bool taken;
    size_t stride;  // when taken
};

TEST(DeviceFrame, TakesPackedOrPaddedRowsAndNothingElse) {
    const FrameCase cases[] = {
        {"packed rows", 6, 2, 6 * 3 * 2, true, 18},
        {"rows padded to 4 bytes", 5, 2, 16 * 2, true, 16},
        {"packed and padded agree", 4, 3, 12 * 3, true, 12},
        {"one byte short", 6, 2, 6 * 3 * 2 - 1, false, 0},
        {"one byte over", 6, 2, 6 * 3 * 2 + 1, false, 0},
        {"no width", 0, 2, 0, false, 0},
        {"no height", 6, 0, 0, false, 0},
        {"wider than any frame", kMaxSide + 1, 1, (kMaxSide + 1) * 3, false, 0},
        {"taller than any frame", 1, kMaxSide + 1, 4 * (kMaxSide + 1), false, 0},
    };
    std::vector<uint8_t> bytes(64);
    for (const FrameCase& c : cases) {
        ImageView view;
        EXPECT_EQ(c.taken, DeviceFrameView(bytes.data(), c.length, c.width, c.height, view))
            << c.what;
        if (c.taken) {
            EXPECT_EQ(c.stride, view.stride) << c.what;
            EXPECT_TRUE(view.bottomUp && view.blueFirst && view.pixelBytes == 3) << c.what;
        }
    }
    ImageView view;
    EXPECT_FALSE(DeviceFrameView(nullptr, 36, 6, 2, view));
}

TEST(I420Maker, ConvertsEvenPartsInsideTheImageOnly) {
    const uint32_t width = 8, height = 6;
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * 3 * height, 0x80);
    const ImageView image{pixels.data(), width, height, static_cast<size_t>(width) * 3, 3,
                          true,          true};
    struct Case {
        const char* what;
        uint32_t width, height;
        bool converted;
    } const cases[] = {
        {"the whole image", 8, 6, true},
        {"a smaller even part", 4, 2, true},
        {"odd width", 7, 6, false},
        {"odd height", 8, 5, false},
        {"wider than the image", 10, 6, false},
        {"taller than the image", 8, 8, false},
        {"nothing", 0, 0, false},
    };
    for (const Case& c : cases) {
        I420Maker maker;
        EXPECT_EQ(c.converted, maker.Convert(image, c.width, c.height)) << c.what;
        if (!c.converted) continue;
        const size_t luma = static_cast<size_t>(c.width) * c.height;
        EXPECT_EQ(luma, maker.PlaneAt(0).size) << c.what;
        EXPECT_EQ(luma / 4, maker.PlaneAt(1).size) << c.what;
        EXPECT_EQ(luma / 4, maker.PlaneAt(2).size) << c.what;
    }
}

TEST(I420Maker, RefusesSidesBeyondTheLargestFrameEvenOnALargerImage) {
    // The image claims more than any frame may be; the maker must refuse before touching it.
    const uint8_t pixel[4] = {};
    const ImageView image{pixel, kMaxSide + 2, 2, 0, 3, false, true};
    I420Maker maker;
    EXPECT_FALSE(maker.Convert(image, kMaxSide + 2, 2));
}

}  // namespace
