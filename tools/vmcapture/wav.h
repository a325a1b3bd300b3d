// Writes PCM audio as a WAV file. The header is written first with zero sizes and completed
// by Close, so a capture stopped by Ctrl-C still ends as a valid file.
#pragma once

#include <cstdint>
#include <string>

#include "files.h"

namespace vmcapture {

class WavWriter {
public:
    // The largest data chunk a WAV file can describe (with its pad byte).
    static constexpr uint64_t kMaxDataBytes = 0xFFFFFFFEull - 36;

    // Standard output is refused: the sizes must be patched in place.
    bool Open(const std::string& path, uint32_t sampleRate, uint32_t bitsPerSample,
              uint32_t channels, std::string& error);
    // Appends samples; false when writing fails or the data would pass kMaxDataBytes (nothing
    // of this block is written then).
    bool Write(const uint8_t* data, size_t size);
    // Completes the header and closes the file.
    bool Close(std::string& error);
    uint64_t DataBytes() const { return dataBytes_; }

private:
    OutputFile file_;
    uint64_t dataBytes_ = 0;
    bool open_ = false;
};

}  // namespace vmcapture
