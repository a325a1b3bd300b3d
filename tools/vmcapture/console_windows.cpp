#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>

#include <cerrno>

#include "console.h"

namespace vmcapture {

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

void UseBinaryMode(std::FILE* stream) { _setmode(_fileno(stream), _O_BINARY); }

unsigned long ProcessId() { return static_cast<unsigned long>(_getpid()); }

bool RenameOver(const char* from, const char* to) {
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) return true;
    errno = EACCES;
    return false;
}

// Windows has no SIGPIPE: a write to a closed pipe already fails with an error.
void IgnoreBrokenPipe() {}

}  // namespace vmcapture
