// SPDX-License-Identifier: MIT
#include "stopsignal.h"

#include <csignal>

namespace vmcapture {

namespace {

volatile std::sig_atomic_t stopRequested = 0;
void (*volatile stopHook)() = nullptr;

void OnStopSignal(int signal) {
    stopRequested = 1;
    if (stopHook != nullptr) stopHook();
    std::signal(signal, SIG_DFL);  // the next one ends the program
}

// Every request to end that leaves the program time to finish its file: Ctrl-C, a
// termination request, a closed terminal or connection (hang-up), and Ctrl-\ (quit).
const int kStopSignals[] = {
    SIGINT,
    SIGTERM,
#ifdef SIGHUP
    SIGHUP,
#endif
#ifdef SIGQUIT
    SIGQUIT,
#endif
};

}  // namespace

void CatchStopRequests() {
    for (int signal : kStopSignals) std::signal(signal, OnStopSignal);
}

bool StopRequested() { return stopRequested != 0; }

void SetStopHook(void (*hook)()) { stopHook = hook; }

}  // namespace vmcapture
