// SPDX-License-Identifier: MIT
// The subcommands of vmcapture. Each takes the words after its name and returns the exit
// status (report.h).
#pragma once

#include <string>
#include <vector>

namespace vmcapture {

int RunList(const std::vector<std::string>& args);
int RunCapture(const std::vector<std::string>& args);
int RunConvert(const std::vector<std::string>& args);

}  // namespace vmcapture
