// SPDX-License-Identifier: MIT
// Pull: each Get grabs one frame from a video input device on the calling thread and hands
// out a packet that the device keeps (valid until the next Get).
#include <cstdio>

#include "tqzcameradevice.h"
#include "tqzenumdevice.h"
#include "tqzpacket.h"
#include "world.h"

using namespace TQZCapture;

int main() {
    TQZCameraDeviceSet cameras;
    TQZEnumDevice::EnumCameraDevice(cameras);
    SayWorld("the first camera");
    TQZCameraDevice* camera = cameras.GetByIndex(0);
    if (camera == nullptr) {
        std::printf("no video input device\n");
        SayNothingArrived("the first camera");
        return 0;
    }
    camera->Width = 640;
    camera->Height = 480;
    if (!camera->Open()) {  // Width and Height then hold the connected size
        SayNothingArrived("the first camera");
        return 1;
    }
    for (int i = 0; i < 5; ++i) {
        TQZPacket* packet = camera->Get();
        std::printf("frame %d: %lu bytes, %ux%u, at %.0f ms\n", i,
                    static_cast<unsigned long>(packet->Size()), camera->Width, camera->Height,
                    packet->TimeStamp);
    }
    camera->Close();
    return 0;
}
