// SPDX-License-Identifier: MIT
#include "rawframes.h"

#include <vector>

#include "report.h"

namespace vmcapture {

bool ReadRawFrames(std::FILE* in, const std::string& name, const RawFrames& layout,
                   const std::function<bool(const VornCapture::ImageView&, std::string&)>& take,
                   std::string& error) {
    const VornCapture::Shape shape =
        VornCapture::ShapeOf(VornCapture::PixelFormat::RGB24, layout.width, layout.height);
    if (shape.error != VornCapture::FrameError::None) {
        error = name + ": raw frames of " + std::to_string(layout.width) + "x" +
                std::to_string(layout.height) + " are out of range";
        return false;
    }
    const size_t stride = shape.plane[0].rowBytes;
    std::vector<uint8_t> frame(stride * layout.height);
    uint64_t frames = 0;
    for (;;) {
        const size_t got = std::fread(frame.data(), 1, frame.size(), in);
        if (got == 0) break;
        if (got < frame.size()) {
            error = name + ": ends inside frame " + std::to_string(frames + 1) + " (" +
                    std::to_string(got) + " of " + std::to_string(frame.size()) + " bytes)";
            return false;
        }
        const VornCapture::ImageView image{
            frame.data(),    layout.width,    layout.height, stride, 3,
            layout.bottomUp, layout.blueFirst};
        if (!take(image, error)) return false;
        ++frames;
    }
    if (std::ferror(in)) {
        error = SystemError(name);
        return false;
    }
    if (frames == 0) {
        error = name + ": no input";
        return false;
    }
    return true;
}

}  // namespace vmcapture
