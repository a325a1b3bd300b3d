// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdint>

#include "console.h"

namespace vmcapture {

namespace {

int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_WRITE_PROTECT:
            return EACCES;
        case ERROR_DISK_FULL:
            return ENOSPC;
        default:
            return EIO;
    }
}

// A stream for a handle CreateFile gave, which is closed when that fails.
std::FILE* StreamOf(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE) {
        errno = ErrnoOf(GetLastError());
        return nullptr;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(handle);
        errno = EMFILE;
        return nullptr;
    }
    std::FILE* file = _fdopen(descriptor, "wb");
    if (file == nullptr) _close(descriptor);  // closes the handle too
    return file;
}

}  // namespace

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

void UseBinaryMode(std::FILE* stream) { _setmode(_fileno(stream), _O_BINARY); }

unsigned long ProcessId() { return static_cast<unsigned long>(_getpid()); }

std::FILE* CreateNewFile(const char* path) {
    // CREATE_NEW fails on any existing name, a symbolic link included.
    return StreamOf(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool OpenStream(const char* path, std::FILE*& file) {
    file = nullptr;
    struct _stat64 info;
    if (_stat64(path, &info) != 0 || (info.st_mode & (_S_IFREG | _S_IFDIR)) != 0) return false;
    // Opened without creating or truncating anything, and judged again once open.
    const HANDLE handle = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK) {
        CloseHandle(handle);
        return false;
    }
    file = StreamOf(handle);
    return true;
}

bool RenameOver(const char* from, const char* to) {
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) return true;
    errno = EACCES;
    return false;
}

bool CutFile(const char* path, uint64_t& size) {
    const int descriptor = _open(path, _O_RDWR | _O_BINARY);
    if (descriptor < 0) return false;
    const __int64 held = _filelengthi64(descriptor);
    if (held >= 0 && static_cast<uint64_t>(held) < size) size = static_cast<uint64_t>(held);
    const bool cut = held >= 0 && _chsize_s(descriptor, static_cast<__int64>(size)) == 0;
    _close(descriptor);
    if (!cut) errno = EIO;
    return cut;
}

// Windows has no SIGPIPE nor file-size limit: such a write already fails with an error.
void IgnoreBrokenPipe() {}

}  // namespace vmcapture
