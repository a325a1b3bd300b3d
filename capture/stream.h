// SPDX-License-Identifier: MIT
// What a capture source delivers once it is open.
#pragma once

#include <cstdint>
#include <string>

namespace VornCapture {

enum class Medium { Video, Audio };

struct StreamFormat {
    Medium medium = Medium::Video;
    // Video: 24-bit frames of width x height. frameRate is the rate asked of the device;
    // frameInterval the time between frames (100 ns units) that the device connected at, 0
    // where the device does not say (the screen devices: their rate is measured).
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t frameRate = 0;
    uint64_t frameInterval = 0;
    // Audio: PCM.
    uint32_t sampleRate = 0;
    uint32_t bitsPerSample = 0;
    uint32_t channels = 0;

    // Frames a second the device delivers by its own account (else the rate asked).
    double DeviceRate() const {
        return frameInterval != 0 ? 1e7 / static_cast<double>(frameInterval) : frameRate;
    }
    uint64_t BytesPerSecond() const {
        return static_cast<uint64_t>(sampleRate) * (bitsPerSample / 8) * channels;
    }
};

// "44100 Hz, 16 bits, 2 channels".
inline std::string AudioText(uint32_t rate, uint32_t bits, uint32_t channels) {
    return std::to_string(rate) + " Hz, " + std::to_string(bits) + " bits, " +
           std::to_string(channels) + (channels == 1 ? " channel" : " channels");
}

}  // namespace VornCapture
