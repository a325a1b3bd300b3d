// SPDX-License-Identifier: MIT
#include "files.h"

#include <cerrno>
#include <cstring>
#include <random>

#include "console.h"
#include "report.h"

namespace vmcapture {

std::string TemporaryPath(const std::string& path, uint32_t salt) {
    std::string name = path + "." + std::to_string(ProcessId());
    if (salt != 0) {
        char text[10];
        std::snprintf(text, sizeof text, "-%08x", static_cast<unsigned>(salt));
        name += text;
    }
    return name + ".part";
}

std::FILE* CreateTemporaryFile(const std::string& path, std::string& name, std::string& error) {
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        name = TemporaryPath(path, attempt == 0 ? 0 : std::random_device{}() | 1);
        if (std::FILE* file = CreateNewFile(name.c_str())) return file;
        if (errno != EEXIST) {
            error = SystemError(path);
            return nullptr;
        }
    }
    error = path + ": no free name for its temporary file (" +
            std::to_string(kTemporaryNameAttempts) + " tried, the last " + name +
            "); names that exist are never written";
    name.clear();
    return nullptr;
}

bool OutputFile::Open(const std::string& path, std::string& error) {
    Discard();
    failure_.clear();
    path_ = path == "-" ? "standard output" : path;
    temporary_.clear();
    if (path == "-") {
        UseBinaryMode(stdout);
        file_ = stdout;
        stream_ = true;
        return true;
    }
    stream_ = OpenStream(path.c_str(), file_);
    if (stream_) {
        if (file_ == nullptr) error = SystemError(path);
        return file_ != nullptr;
    }
    file_ = CreateTemporaryFile(path, temporary_, error);
    return file_ != nullptr;
}

bool OutputFile::Fail() {
    if (errno == EPIPE && IsStream()) SetOutputClosed();
    if (failure_.empty()) {
        failureCode_ = errno;
        failure_ = SystemError(path_);
    }
    return false;
}

std::string OutputFile::NoRoom() const {
    if (failure_.empty()) return "";
    switch (failureCode_) {
        case ENOSPC:
            return "disk full";
#ifdef EDQUOT
        case EDQUOT:
            return "disk quota reached";
#endif
        case EFBIG:
            return "file size limit reached";
    }
    return "";
}

bool OutputFile::KeepWholeUnits(uint64_t header, uint64_t unit,
                                const std::function<std::string(uint64_t)>& newHeader,
                                uint64_t& units, std::string& error) {
    units = 0;
    if (file_ == nullptr || IsStream() || temporary_.empty() || unit == 0) {
        error = IsStream()         ? path_ + " is a stream, which keeps what reached it"
                : failure_.empty() ? path_ + ": nothing to keep"
                                   : failure_;
        Discard();
        return false;
    }
    std::fclose(file_);  // what its buffer still held may not reach the file: it is cut below
    file_ = nullptr;
    uint64_t size = UINT64_MAX;
    bool kept = CutFile(temporary_.c_str(), size) && size >= header;
    if (kept) {
        units = (size - header) / unit;
        size = header + units * unit;
        kept = units != 0 && CutFile(temporary_.c_str(), size);
    }
    if (kept && newHeader) {
        const std::string bytes = newHeader(units);
        std::FILE* file = std::fopen(temporary_.c_str(), "r+b");
        kept = file != nullptr && bytes.size() >= header &&
               std::fwrite(bytes.data(), 1, header, file) == header;
        if (file != nullptr && std::fclose(file) != 0) kept = false;
    }
    if (kept) kept = RenameOver(temporary_.c_str(), path_.c_str());
    if (kept) return true;
    error = size < header || units == 0 ? path_ + ": not one whole frame or sample was written"
                                        : SystemError(path_);
    std::remove(temporary_.c_str());
    return false;
}

bool OutputFile::Write(const void* data, size_t size) {
    if (file_ == nullptr || !failure_.empty()) return false;
    if (size != 0 && std::fwrite(data, 1, size, file_) != size) return Fail();
    return true;
}

bool OutputFile::Flush() {
    if (file_ == nullptr || !failure_.empty()) return false;
    return std::fflush(file_) == 0 || Fail();
}

bool OutputFile::Patch(uint64_t offset, const void* data, size_t size) {
    if (file_ == nullptr || IsStream() || !failure_.empty() || offset > INT32_MAX) return false;
    if (std::fseek(file_, static_cast<long>(offset), SEEK_SET) != 0) return Fail();
    if (!Write(data, size)) return false;
    return std::fseek(file_, 0, SEEK_END) == 0 || Fail();
}

bool OutputFile::Close(std::string& error) {
    if (file_ == nullptr) return true;
    if (std::fflush(file_) != 0) Fail();
    if (!IsStandardOutput()) {
        if (std::fclose(file_) != 0) Fail();
        if (!temporary_.empty()) {
            if (failure_.empty() && !RenameOver(temporary_.c_str(), path_.c_str())) Fail();
            if (!failure_.empty()) std::remove(temporary_.c_str());
        }
    }
    file_ = nullptr;
    if (failure_.empty()) return true;
    error = failure_;
    return false;
}

void OutputFile::Discard() {
    if (file_ == nullptr) return;
    if (IsStandardOutput()) {
        std::fflush(file_);
    } else {
        std::fclose(file_);
        if (!temporary_.empty()) std::remove(temporary_.c_str());
    }
    file_ = nullptr;
}

bool ReadWholeFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>& bytes,
                   std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = SystemError(path);
        return false;
    }
    bytes.clear();
    uint8_t block[65536];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) {
        if (bytes.size() + got > maxBytes) {
            std::fclose(file);
            error = path + ": file too large (more than " + std::to_string(maxBytes) + " bytes)";
            return false;
        }
        bytes.insert(bytes.end(), block, block + got);
    }
    const bool failed = std::ferror(file) != 0;
    if (failed) error = SystemError(path);
    std::fclose(file);
    return !failed;
}

void StoreLE16(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
}

void StoreLE32(uint8_t* out, uint32_t value) {
    StoreLE16(out, value & 0xFFFF);
    StoreLE16(out + 2, value >> 16);
}

uint32_t GetLE16(const uint8_t* in) { return static_cast<uint32_t>(in[0]) | in[1] << 8; }

uint32_t GetLE32(const uint8_t* in) { return GetLE16(in) | GetLE16(in + 2) << 16; }

}  // namespace vmcapture
