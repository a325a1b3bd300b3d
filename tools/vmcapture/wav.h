// SPDX-License-Identifier: MIT
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
    const OutputFile& File() const { return file_; }
    // After the file system took no more (File().NoRoom()): keeps the whole sample frames
    // that reached the file (an even number of bytes, so the data chunk needs no pad byte),
    // makes the header's sizes say so, and gives the file its name; `bytes` is the audio kept.
    bool KeepWholeSamples(uint64_t& bytes, std::string& error);

private:
    // Writes the sizes for `dataBytes_` (and `padBytes`) into the header.
    bool UpdateSizes(uint64_t padBytes);
    // The header of a file of `dataBytes` of audio; a stream's says "length unknown".
    std::string Header(uint64_t dataBytes) const;

    OutputFile file_;
    uint64_t dataBytes_ = 0;
    uint32_t sampleRate_ = 0, bitsPerSample_ = 0, channels_ = 0;
    bool open_ = false;
};

}  // namespace vmcapture
