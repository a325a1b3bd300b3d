// SPDX-License-Identifier: MIT
// Queued: the desktop device's worker thread captures the screen at FrameRate and queues each
// frame; the host takes them with Get (newest) or Query (oldest) and may convert them to I420.
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "tqzcolorspaceconvert.h"
#include "tqzenumdevice.h"
#include "tqzpacket.h"
#include "world.h"

using namespace TQZCapture;

int main() {
    TQZDesktopDeviceSet screens;
    TQZEnumDevice::EnumDesktopDevice(screens);
    TQZDesktopDevice* desktop = screens.GetByName("Desktop");
    SayWorld("the screen");
    if (desktop == nullptr) {
        SayNothingArrived("the screen");
        return 1;
    }
    desktop->Width = 640;  // a multiple of 4 and even: rows are packed as the converter wants
    desktop->Height = 480;
    desktop->FrameRate = 25;
    if (!desktop->Open()) {
        SayNothingArrived("the screen");
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    desktop->Close();  // queued frames stay available after Close

    // Screen frames are blue-green-red, and the converter reads its first byte of a pixel as
    // red: exchange the first and third byte of every pixel first, or red and blue trade
    // places in the picture.
    std::vector<unsigned char> rgb(640 * 480 * 3);
    std::vector<unsigned char> i420(640 * 480 * 3 / 2);
    int frames = 0;
    while (desktop->Packets.Count() > 0) {
        TQZPacket* frame = desktop->Query();  // oldest first; owned by the device
        if (frame->Size() != rgb.size()) continue;
        const unsigned char* bgr = frame->Bytes();
        for (size_t i = 0; i < rgb.size(); i += 3) {
            rgb[i] = bgr[i + 2];
            rgb[i + 1] = bgr[i + 1];
            rgb[i + 2] = bgr[i];
        }
        unsigned int length = static_cast<unsigned int>(i420.size());
        if (TQZColorSpaceConvert::RGB24_TO_YUV_I420(rgb.data(), 640, 480, i420.data(), &length)) {
            ++frames;
        }
    }
    std::printf("%d frames converted to I420 (%zu bytes each)\n", frames, i420.size());
    if (frames == 0) SayNothingArrived("the screen");
    return frames > 0 ? 0 : 1;
}
