// SPDX-License-Identifier: MIT
#include "report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vmcapture {

namespace {
bool quiet = false;
bool outputClosed = false;
}  // namespace

std::string SystemError(const std::string& path) { return path + ": " + std::strerror(errno); }

void ReportError(const std::string& text) {
    if (!outputClosed) std::fprintf(stderr, "vmcapture: error: %s\n", text.c_str());
}

void ReportWarning(const std::string& text) {
    if (!outputClosed) std::fprintf(stderr, "vmcapture: warning: %s\n", text.c_str());
}

void SetOutputClosed() { outputClosed = true; }

void ReportNotice(const std::string& text) {
    if (!quiet) std::fprintf(stderr, "vmcapture: %s\n", text.c_str());
}

void SetQuiet(bool value) { quiet = value; }

}  // namespace vmcapture
