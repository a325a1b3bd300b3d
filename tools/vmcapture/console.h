// The few console services that differ between systems; one implementation per system.
#pragma once

#include <cstdio>

namespace vmcapture {

// Whether `stream` is a terminal (progress is shown only there).
bool IsTerminal(std::FILE* stream);
// Makes `stream` pass bytes unchanged (no line-end translation).
void UseBinaryMode(std::FILE* stream);
// This process's id, for names of temporary files.
unsigned long ProcessId();
// Renames `from` to `to`, replacing a file of that name; false (errno set) when it fails.
bool RenameOver(const char* from, const char* to);
// A write to a closed pipe fails with an error instead of ending the program.
void IgnoreBrokenPipe();

}  // namespace vmcapture
