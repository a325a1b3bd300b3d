#include "report.h"

#include <cstdio>

namespace vmcapture {

namespace {
bool quiet = false;
}

void ReportError(const std::string& text) {
    std::fprintf(stderr, "vmcapture: error: %s\n", text.c_str());
}

void ReportNotice(const std::string& text) {
    if (!quiet) std::fprintf(stderr, "vmcapture: %s\n", text.c_str());
}

void SetQuiet(bool value) { quiet = value; }

}  // namespace vmcapture
