// Reading and writing whole files and output streams, with errors reported as text.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vmcapture {

// An output file, or standard output for the name "-". Writes are checked; the first
// failure is kept and reported by Close. The file is closed on destruction.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    bool Open(const std::string& path, std::string& error);
    bool IsStandardOutput() const { return file_ == stdout; }
    bool Write(const void* data, size_t size);
    bool Flush();
    // Writes `size` bytes at `offset` and comes back to the end; false on standard output.
    bool Patch(uint64_t offset, const void* data, size_t size);
    // False (with the reason) when any write failed or closing failed.
    bool Close(std::string& error);

private:
    bool Fail();

    std::FILE* file_ = nullptr;
    std::string path_;
    std::string failure_;
};

// Reads a whole file of at most `maxBytes` bytes.
bool ReadWholeFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>& bytes,
                   std::string& error);

// "<path>: <reason of the last system error>".
std::string SystemError(const std::string& path);

// Little-endian fields of the file formats.
void StoreLE16(uint8_t* out, uint32_t value);
void StoreLE32(uint8_t* out, uint32_t value);
uint32_t GetLE16(const uint8_t* in);
uint32_t GetLE32(const uint8_t* in);

}  // namespace vmcapture
