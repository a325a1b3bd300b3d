// SPDX-License-Identifier: MIT
// Test helpers: fill a device description with distinct values, and render one (with or without
// its capture fields) as text so that two devices compare in one expectation.
#pragma once

#include "tqzaudiodevice.h"
#include "tqzdevice.h"
#include "tqzvideodevice.h"

#include <initializer_list>
#include <string>

inline void Describe(TQZCapture::TQZDevice& device, const std::string& name, unsigned int index) {
    device.Index = index;
    device.Name = name;
    device.Caption = name + " caption";
    device.ClassID = GUID{index, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    device.ClassIDText = "{clsid " + name + "}";
    device.UserText1 = "u1 " + name;
    device.UserText2 = "u2 " + name;
    device.UserText3 = "u3 " + name;
    device.DataType = TQZCapture::DataTypeYV12;
    device.DeviceType = TQZCapture::DeviceTypeAudio;
}

inline std::string DescriptionOf(const TQZCapture::TQZDevice& device) {
    std::string guid;  // the ClassID bytes in hexadecimal, in memory order
    const auto* bytes = reinterpret_cast<const unsigned char*>(&device.ClassID);
    for (size_t i = 0; i < sizeof(GUID); ++i) {
        guid += "0123456789abcdef"[bytes[i] >> 4];
        guid += "0123456789abcdef"[bytes[i] & 15];
    }
    return std::to_string(device.Index) + "|" + device.Name + "|" + device.Caption + "|" + guid +
           "|" + device.ClassIDText + "|" + device.UserText1 + "|" + device.UserText2 + "|" +
           device.UserText3 + "|" + std::to_string(device.DataType) + "|" +
           std::to_string(device.DeviceType);
}

inline std::string Join(std::initializer_list<unsigned int> values) {
    std::string text;
    for (unsigned int value : values) text += (text.empty() ? "" : ",") + std::to_string(value);
    return text;
}

inline std::string CaptureFieldsOf(const TQZCapture::TQZVideoDevice& d) {
    return Join({d.Width, d.Height, d.FrameRate, d.UserParam1, d.UserParam2, d.UserParam3});
}

inline std::string CaptureFieldsOf(const TQZCapture::TQZAudioDevice& d) {
    return Join({d.SampleRate, d.BitsPerSample, d.Channels});
}

template <class Device>
std::string FieldsOf(const Device& device) {
    return DescriptionOf(device) + "|" + CaptureFieldsOf(device);
}
