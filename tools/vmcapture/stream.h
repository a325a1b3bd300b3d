// What a capture source delivers once it is open.
#pragma once

#include <cstdint>

namespace vmcapture {

enum class Medium { Video, Audio };

struct StreamFormat {
    Medium medium = Medium::Video;
    // Video: 24-bit frames of width x height at frameRate frames a second.
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t frameRate = 0;
    // Audio: PCM.
    uint32_t sampleRate = 0;
    uint32_t bitsPerSample = 0;
    uint32_t channels = 0;

    uint64_t BytesPerSecond() const {
        return static_cast<uint64_t>(sampleRate) * (bitsPerSample / 8) * channels;
    }
};

}  // namespace vmcapture
