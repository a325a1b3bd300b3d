#include "yuvwriter.h"

namespace vmcapture {

namespace {
const char kFrameMarker[] = "FRAME\n";
}

std::string YuvWriter::Y4mHeader(uint32_t width, uint32_t height, uint32_t frameRate) {
    return "YUV4MPEG2 W" + std::to_string(width) + " H" + std::to_string(height) + " F" +
           std::to_string(frameRate) + ":1 Ip A1:1 C420jpeg XYSCSS=420JPEG XCOLORRANGE=LIMITED\n";
}

bool YuvWriter::Open(const std::string& path, YuvContainer container, uint32_t width,
                     uint32_t height, uint32_t frameRate, std::string& error) {
    container_ = container;
    if (!file_.Open(path, error)) return false;
    if (container == YuvContainer::Y4m) {
        const std::string header = Y4mHeader(width, height, frameRate);
        if (!file_.Write(header.data(), header.size()) || !file_.Flush()) {
            file_.Close(error);
            return false;
        }
    }
    return true;
}

bool YuvWriter::WriteFrame(const I420Maker& frame) {
    if (container_ == YuvContainer::Y4m && !file_.Write(kFrameMarker, sizeof kFrameMarker - 1))
        return false;
    for (int plane = 0; plane < 3; ++plane) {
        const I420Maker::Plane p = frame.PlaneAt(plane);
        if (!file_.Write(p.bytes, p.size)) return false;
    }
    return file_.Flush();
}

}  // namespace vmcapture
