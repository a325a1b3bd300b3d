#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "console.h"

namespace vmcapture {

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

void UseBinaryMode(std::FILE*) {}

unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }

bool RenameOver(const char* from, const char* to) { return std::rename(from, to) == 0; }

void IgnoreBrokenPipe() { std::signal(SIGPIPE, SIG_IGN); }

}  // namespace vmcapture
