// SPDX-License-Identifier: MIT
// Reading and writing whole files and output streams, with errors reported as text.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace vmcapture {

// An output file, or standard output for the name "-". A file is written under a temporary
// name in its folder (CreateTemporaryFile) and takes its own name only when Close succeeds,
// so an older file of that name survives a failed or abandoned write; the rename replaces a
// file or a symbolic link of that name, never writing into what a link leads to. A name that
// is a named pipe or a device (directly or through a link) is written in place, as a stream,
// like standard output: a file renamed over it would replace it. Writes are checked; the
// first failure is kept and reported by Close. Destruction without Close removes the
// temporary file.
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
    // The first failure, "" while there is none.
    const std::string& Failure() const { return failure_; }
    // What stopped the writes when the file system took no more ("disk full", "file size
    // limit reached", "disk quota reached"); "" for any other failure or none.
    std::string NoRoom() const;
    // After the file system took no more: closes the file and keeps of it the `header` bytes
    // and as many whole `unit`-byte units after them as reached it, writes `header` bytes of
    // `newHeader(units)` over the header where that is given, and gives the file its name.
    // `units` is how many were kept. False (with the reason; the temporary file is gone) for
    // standard output and streams, and when not one whole unit was kept.
    bool KeepWholeUnits(uint64_t header, uint64_t unit,
                        const std::function<std::string(uint64_t units)>& newHeader,
                        uint64_t& units, std::string& error);

private:
    bool Fail();

    std::FILE* file_ = nullptr;
    std::string path_;       // the name the file gets
    std::string temporary_;  // the name it is written under
    std::string failure_;
    int failureCode_ = 0;  // errno of the first failure
    bool stream_ = false;
};

// The names under which `path` is written until it is complete: "<path>.<process id>.part",
// or with `salt` (not 0) "<path>.<process id>-<salt in hex>.part". A capture killed before it
// could finish leaves its frames or audio there.
std::string TemporaryPath(const std::string& path, uint32_t salt = 0);

// How many names CreateTemporaryFile tries before it gives up.
constexpr int kTemporaryNameAttempts = 16;

// Creates the temporary file of `path` under a new name in its folder (so the final rename
// stays within one file system): TemporaryPath(path) first, then names with random salts
// while the name tried exists. An existing name (a file, a link) is never opened. The name
// is left in `name`; null with the reason in `error` when no file could be created.
std::FILE* CreateTemporaryFile(const std::string& path, std::string& name, std::string& error);

// Reads a whole file of at most `maxBytes` bytes.
bool ReadWholeFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>& bytes,
                   std::string& error);

// Little-endian fields of the file formats.
void StoreLE16(uint8_t* out, uint32_t value);
void StoreLE32(uint8_t* out, uint32_t value);
uint32_t GetLE16(const uint8_t* in);
uint32_t GetLE32(const uint8_t* in);

}  // namespace vmcapture
