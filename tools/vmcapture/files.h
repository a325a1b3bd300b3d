// Reading and writing whole files and output streams, with errors reported as text.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vmcapture {

// An output file, or standard output for the name "-". A file is written under a temporary
// name in its folder (TemporaryPath) and takes its own name only when Close succeeds, so an
// older file of that name survives a failed or abandoned write. A name that is a named pipe or
// a device is written in place, as a stream, like standard output: a file renamed over it would
// replace it. Writes are checked; the first failure is kept and reported by Close. Destruction
// without Close removes the temporary file.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile() { Discard(); }

    bool Open(const std::string& path, std::string& error);
    bool IsStandardOutput() const { return file_ == stdout; }
    // Standard output, a pipe or a device: written once, front to back (Patch is refused).
    bool IsStream() const { return file_ != nullptr && stream_; }
    bool Write(const void* data, size_t size);
    bool Flush();
    // Writes `size` bytes at `offset` and comes back to the end; false on standard output.
    bool Patch(uint64_t offset, const void* data, size_t size);
    // Completes the file and gives it its name; false (with the reason) when any write,
    // closing or renaming failed; the temporary file is gone then.
    bool Close(std::string& error);
    // Closes and removes what was written (standard output stays open).
    void Discard();

private:
    bool Fail();

    std::FILE* file_ = nullptr;
    std::string path_;       // the name the file gets
    std::string temporary_;  // the name it is written under
    std::string failure_;
    bool stream_ = false;
};

// The name under which `path` is written until it is complete: "<path>.<process id>.part".
// A capture killed before it could finish leaves its frames or audio there.
std::string TemporaryPath(const std::string& path);

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
