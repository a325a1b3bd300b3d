// SPDX-License-Identifier: MIT
// Exit statuses and the messages the tool writes to standard error.
#pragma once

#include <string>

namespace vmcapture {

enum ExitStatus {
    kExitOk = 0,        // done (also after a stop by Ctrl-C: the output is complete)
    kExitFailure = 1,   // reading or writing failed, or the source stopped delivering
    kExitUsage = 2,     // the command line is wrong
    kExitNoSource = 3,  // the source does not exist, cannot be opened or delivers nothing
    kExitLost = 4,      // --strict: audio was lost during the capture (the file is written)
    kExitNoRoom = 5,    // the disk filled up: the file keeps what was written before
};

// "<path>: <reason of the last system error>".
std::string SystemError(const std::string& path);

// "vmcapture: error: <text>", always shown.
void ReportError(const std::string& text);
// "vmcapture: <text>", for things the user should know (a cropped frame size, a changed
// format); not shown with --quiet.
void ReportNotice(const std::string& text);
// "vmcapture: warning: <text>", always shown: something the output does not hold.
void ReportWarning(const std::string& text);
void SetQuiet(bool quiet);
// The reader of standard output went away (a closed pipe): the tool ends with status 1, and
// says nothing more, as tools in a pipeline do.
void SetOutputClosed();

}  // namespace vmcapture
