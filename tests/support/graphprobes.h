// SPDX-License-Identifier: MIT
// The push devices with their protected graph operations opened up for tests.
#pragma once

#include "tqzusbaudiodevice.h"
#include "tqzusbvideodevice.h"

class VideoGraphProbe : public TQZCapture::TQZUSBVideoDevice {
public:
    using TQZUSBVideoDevice::BindFilter;
    using TQZUSBVideoDevice::ConnectFilters;
    using TQZUSBVideoDevice::DeleteMediaType;
    using TQZUSBVideoDevice::FreeMediaType;
    using TQZUSBVideoDevice::GetPin;
    using TQZUSBVideoDevice::SetVideoCapFormat;
    using TQZUSBVideoDevice::UpdateVideoCapOpt;
};

class AudioGraphProbe : public TQZCapture::TQZUSBAudioDevice {
public:
    using TQZUSBAudioDevice::BindFilter;
    using TQZUSBAudioDevice::EnumPinsOnFilter;
    using TQZUSBAudioDevice::SetAudioCapFormat;
    using TQZUSBAudioDevice::UpdateAudioCapOpt;
};
