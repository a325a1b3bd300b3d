// SPDX-License-Identifier: MIT
// What a camera or microphone accepts, read from its capture pin's list of capabilities, so
// that a user can ask for a format the device takes.
#pragma once

#include <string>
#include <vector>

#include "sources.h"

namespace VornCapture {

// One line per capability of the device at `index` of the row's set, e.g. "YUY2 640x480,
// 5-30 fps" or "44100 Hz, 16 bits, 2 channels". Empty for rows without formats (screens);
// one line saying why when the device cannot be asked.
std::vector<std::string> DeviceFormats(const SourceKind& row, unsigned int index);

// The plain PCM formats the selected microphone lists, in its order; empty where it lists none.
std::vector<StreamFormat> MicrophoneFormats(const Selector& selector);

}  // namespace VornCapture
