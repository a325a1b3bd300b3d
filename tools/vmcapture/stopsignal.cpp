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

}  // namespace

void CatchStopRequests() {
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
}

bool StopRequested() { return stopRequested != 0; }

void SetStopHook(void (*hook)()) { stopHook = hook; }

}  // namespace vmcapture
