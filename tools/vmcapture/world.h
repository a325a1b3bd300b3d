// Options that shape the world the tool captures from. A build on the virtual platform offers
// options that set up its screen, windows and cursor, so that a capture shows a known
// picture; a Windows build offers none and captures the real desktop.
#pragma once

#include <string>
#include <vector>

#include "options.h"

namespace vmcapture {

const std::vector<OptionDef>& WorldOptions();
// Applies the world options given on the command line, before any source is enumerated.
// Returns kExitOk, or the exit status to end with after the problem has been reported.
int ApplyWorldOptions(const ParsedArgs& parsed);
// The world captured, for the list ("virtual", "host (X display :0)"); empty where there is
// only the real system.
std::string WorldDescription();

}  // namespace vmcapture
