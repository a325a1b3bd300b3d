// SPDX-License-Identifier: MIT
// Push: a video input device calls the host's callback for every frame, on the media graph's
// own thread, with a buffer that is valid only during the call.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "icapturevideocallback.h"
#include "tqzenumdevice.h"
#include "world.h"

using namespace TQZCapture;

class FrameCounter : public ICaptureVideoCallBack {
public:
    void OnVideoStart() override {}
    void OnVideoStop() override {}
    void OnVideoPause(bool) override {}
    void OnVideoError(unsigned int) override {}
    // Runs on the graph's thread: copy what you need, return quickly.
    void OnVideoFrame(double sampleTime, unsigned char* data, long length) override {
        if (data != nullptr) bytes += length;
        frames++;
        last = sampleTime;
    }
    std::atomic<long> frames{0};
    std::atomic<long long> bytes{0};
    std::atomic<double> last{0.0};
};

int main() {
    TQZUSBVideoDeviceSet devices;
    TQZEnumDevice::EnumVideoDevice(devices);
    SayWorld("the first camera");
    TQZUSBVideoDevice* device = devices.GetByIndex(0);
    if (device == nullptr) {
        std::printf("no video input device\n");
        SayNothingArrived("the first camera");
        return 0;
    }
    std::printf("capturing from \"%s\"\n", device->Name.c_str());
    FrameCounter counter;
    device->Width = 320;
    device->Height = 240;
    device->OnOpenBefore(&counter);  // hand over the callback before Open
    if (!device->Open()) {
        SayNothingArrived("the first camera");
        return 1;
    }
    device->OnOpenAFter();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    device->OnCloseBefore();
    device->Close();  // the graph is stopped: no call reaches the callback after this
    device->OnCloseAFter();
    std::printf("%ld frames, %lld bytes of 24-bit RGB (%ux%u), last at %.3f s\n",
                counter.frames.load(), counter.bytes.load(), device->Width, device->Height,
                counter.last.load());
    if (counter.frames == 0) SayNothingArrived("the first camera");
    return counter.frames > 0 ? 0 : 1;
}
