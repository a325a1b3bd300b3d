// SPDX-License-Identifier: MIT
// A screen device whose protected capture operations a test can call directly, and which
// records the length of every frame they deliver instead of queueing it.
#pragma once

#include <vector>

template <class Device>
class CaptureProbe : public Device {
public:
    using Device::CaptureDesktopTransalteRGB24;
    using Device::CaptureWindowTransalteRGB24;
    std::vector<long> frames;

protected:
    void FrameHandler(double, unsigned char* data, long length) override {
        if (data != nullptr && length > 0) frames.push_back(length);
    }
};
