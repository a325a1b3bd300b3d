// Ctrl-C and termination requests: the first one asks the capture to stop cleanly; a second
// one ends the program at once.
#pragma once

namespace vmcapture {

void CatchStopRequests();
bool StopRequested();

}  // namespace vmcapture
