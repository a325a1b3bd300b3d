// Requests to end: Ctrl-C, termination, a hang-up (a closed terminal or connection) and
// Ctrl-\. The first one asks the capture to stop cleanly; a second one of the same kind ends
// the program at once.
#pragma once

namespace vmcapture {

void CatchStopRequests();
bool StopRequested();

}  // namespace vmcapture
