#include "stopsignal.h"

#include <csignal>

namespace vmcapture {

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void OnStopSignal(int signal) {
    stopRequested = 1;
    std::signal(signal, SIG_DFL);  // the next one ends the program
}

}  // namespace

void CatchStopRequests() {
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
}

bool StopRequested() { return stopRequested != 0; }

}  // namespace vmcapture
