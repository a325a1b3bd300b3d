// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "console.h"

namespace vmcapture {

namespace {

// A stream for an open descriptor, which is closed when that fails.
std::FILE* StreamOf(int descriptor) {
    if (descriptor < 0) return nullptr;
    std::FILE* file = fdopen(descriptor, "wb");
    if (file == nullptr) {
        const int error = errno;
        close(descriptor);
        errno = error;
    }
    return file;
}

bool IsFileOrFolder(const struct stat& info) {
    return S_ISREG(info.st_mode) || S_ISDIR(info.st_mode);
}

}  // namespace

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

void UseBinaryMode(std::FILE*) {}

unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }

std::FILE* CreateNewFile(const char* path) {
    // O_EXCL alone already refuses a symbolic link; O_NOFOLLOW says so where it is read.
    return StreamOf(open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
}

bool OpenStream(const char* path, std::FILE*& file) {
    file = nullptr;
    struct stat info;
    if (stat(path, &info) != 0 || IsFileOrFolder(info)) return false;
    // Opened without creating or truncating anything, and judged again once open: the name may
    // lead elsewhere by now.
    const int descriptor = open(path, O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) return true;
    if (fstat(descriptor, &info) != 0 || IsFileOrFolder(info)) {
        close(descriptor);
        return false;
    }
    file = StreamOf(descriptor);
    return true;
}

bool RenameOver(const char* from, const char* to) { return std::rename(from, to) == 0; }

bool CutFile(const char* path, uint64_t& size) {
    struct stat info {};
    if (stat(path, &info) != 0) return false;
    if (static_cast<uint64_t>(info.st_size) < size) size = static_cast<uint64_t>(info.st_size);
    return truncate(path, static_cast<off_t>(size)) == 0;
}

void IgnoreBrokenPipe() {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace vmcapture
