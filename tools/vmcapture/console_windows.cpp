#include <fcntl.h>
#include <io.h>

#include "console.h"

namespace vmcapture {

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

void UseBinaryMode(std::FILE* stream) { _setmode(_fileno(stream), _O_BINARY); }

}  // namespace vmcapture
