// SPDX-License-Identifier: MIT
#include "tqzaudiodevice.h"

namespace TQZCapture {

TQZAudioDevice::TQZAudioDevice() : SampleRate(44100), BitsPerSample(16), Channels(2) {
    DataType = DataTypePCM;
    DeviceType = DeviceTypeAudio;
}

TQZAudioDevice::TQZAudioDevice(const TQZAudioDevice& other) = default;

TQZAudioDevice& TQZAudioDevice::operator=(const TQZAudioDevice& other) = default;

TQZAudioDevice::~TQZAudioDevice() = default;

}  // namespace TQZCapture
