// SPDX-License-Identifier: MIT
// Requests to end: Ctrl-C, termination, a hang-up (a closed terminal or connection) and
// Ctrl-\. The first one asks the capture to stop cleanly; a second one of the same kind ends
// the program at once.
#pragma once

namespace vmcapture {

void CatchStopRequests();
bool StopRequested();
// `hook` is called by the first stop request, in the signal handler: it may only do what a
// handler may (set a flag).
void SetStopHook(void (*hook)());
// What a capture stopped before its first frame says; it ends with status 3 and no file.
constexpr const char* kStoppedBeforeFirstFrame = "stopped before the source delivered anything";

}  // namespace vmcapture
