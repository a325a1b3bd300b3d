#include <unistd.h>

#include "console.h"

namespace vmcapture {

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

void UseBinaryMode(std::FILE*) {}

}  // namespace vmcapture
