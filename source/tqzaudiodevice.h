// SPDX-License-Identifier: MIT
#pragma once

#include "tqzdevice.h"
#include "tqzexport.h"

namespace TQZCapture {

// Base of the audio sources: adds the requested PCM format.
// Defaults: 44100 samples per second, 16 bits per sample, 2 channels, DataTypePCM,
// DeviceTypeAudio. Copies copy every field. Captures nothing itself (see TQZDevice).
class TQZ_API TQZAudioDevice : public TQZDevice {
public:
    TQZAudioDevice();
    TQZAudioDevice(const TQZAudioDevice& other);
    TQZAudioDevice& operator=(const TQZAudioDevice& other);
    ~TQZAudioDevice() override;

    unsigned int SampleRate;
    unsigned int BitsPerSample;
    unsigned int Channels;
};

}  // namespace TQZCapture
