// SPDX-License-Identifier: MIT
// Options that shape the world the tool captures from. A build on the virtual platform offers
// options that set up its screen, windows and cursor, so that a capture shows a known
// picture; a Windows build offers none and captures the real desktop.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "options.h"

namespace vmcapture {

// The title of the window that the virtual world shows unless the user adds windows.
constexpr const char* kDefaultWindowTitle = "Untitled - Editor";

const std::vector<OptionDef>& WorldOptions();
// Applies the world options given on the command line, before any source is enumerated.
// Returns kExitOk, or the exit status to end with after the problem has been reported.
int ApplyWorldOptions(const ParsedArgs& parsed);
// The most pixels a screen capture can have in this world (0: no limit known).
uint64_t LargestCapturePixels();
// The world captured, for the list ("virtual", "host (X display :0)"); empty where there is
// only the real system.
std::string WorldDescription();
// Ends the world's waits on the user (a consent dialog open for the screen): called by a stop
// request, in its signal handler.
void StopWorldWaits();

}  // namespace vmcapture
