// Writes I420 frames as a YUV4MPEG2 (Y4M) stream or as raw I420 (planes Y, U, V per frame).
#pragma once

#include <cstdint>
#include <string>

#include "files.h"
#include "image.h"

namespace vmcapture {

enum class YuvContainer { Y4m, RawI420 };

class YuvWriter {
public:
    // The Y4M stream header: the converter's output is 4:2:0 in BT.601 studio range.
    static std::string Y4mHeader(uint32_t width, uint32_t height, uint32_t frameRate);

    bool Open(const std::string& path, YuvContainer container, uint32_t width, uint32_t height,
              uint32_t frameRate, std::string& error);
    // Writes one frame and flushes it, so the file is complete after every frame.
    bool WriteFrame(const I420Maker& frame);
    bool Close(std::string& error) { return file_.Close(error); }

private:
    OutputFile file_;
    YuvContainer container_ = YuvContainer::Y4m;
};

}  // namespace vmcapture
