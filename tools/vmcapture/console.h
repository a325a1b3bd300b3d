// The few console services that differ between systems; one implementation per system.
#pragma once

#include <cstdio>

namespace vmcapture {

// Whether `stream` is a terminal (progress is shown only there).
bool IsTerminal(std::FILE* stream);
// Makes `stream` pass bytes unchanged (no line-end translation).
void UseBinaryMode(std::FILE* stream);

}  // namespace vmcapture
