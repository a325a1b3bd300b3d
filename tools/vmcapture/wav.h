// Writes PCM audio as a WAV file. The header's sizes are brought up to date after every
// block, so a capture that is killed still leaves a file whose header is right up to its last
// complete block. On standard output, where nothing can be rewritten, the header says "length
// unknown" (both sizes 0xFFFFFFFF) as streaming writers do, and readers read to the end.
#pragma once

#include <cstdint>
#include <string>

#include "files.h"

namespace vmcapture {

class WavWriter {
public:
    // The largest data chunk a WAV file can describe (with its pad byte).
    static constexpr uint64_t kMaxDataBytes = 0xFFFFFFFEull - 36;

    bool Open(const std::string& path, uint32_t sampleRate, uint32_t bitsPerSample,
              uint32_t channels, std::string& error);
    // Appends samples; false when writing fails or the data would pass kMaxDataBytes (nothing
    // of this block is written then).
    bool Write(const uint8_t* data, size_t size);
    // Completes the header and closes the file.
    bool Close(std::string& error);
    uint64_t DataBytes() const { return dataBytes_; }

private:
    // Writes the sizes for `dataBytes_` (and `padBytes`) into the header.
    bool UpdateSizes(uint64_t padBytes);

    OutputFile file_;
    uint64_t dataBytes_ = 0;
    bool open_ = false;
};

}  // namespace vmcapture
