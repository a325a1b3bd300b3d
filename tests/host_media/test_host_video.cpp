// SPDX-License-Identifier: MIT
// The host world's video input devices on a machine without a camera: an empty category, not
// an error. (Machines with V4L2 capture nodes skip this.)
#include <gtest/gtest.h>

#include "host/v4l2/v4l2.h"
#include "tqzcameradeviceset.h"
#include "tqzenumdevice.h"
#include "tqzusbvideodeviceset.h"
#include "vornplatform.h"

using namespace TQZCapture;

TEST(HostVideo, WithoutCaptureNodesTheCategoryIsEmpty) {
    if (!VornWorld::host::ListV4l2Devices().empty()) GTEST_SKIP() << "this machine has a camera";
    CoInitialize(nullptr);
    ICreateDevEnum* devices = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_ICreateDevEnum, reinterpret_cast<void**>(&devices)));
    IEnumMoniker* list = nullptr;
    EXPECT_EQ(S_FALSE, devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &list, 0));
    EXPECT_EQ(nullptr, list);
    devices->Release();
    CoUninitialize();

    TQZCameraDeviceSet cameras;
    TQZEnumDevice::EnumCameraDevice(cameras);
    TQZUSBVideoDeviceSet videos;
    TQZEnumDevice::EnumVideoDevice(videos);
    EXPECT_EQ(0u, cameras.Count());
    EXPECT_EQ(0u, videos.Count());
}
