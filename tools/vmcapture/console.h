// SPDX-License-Identifier: MIT
// The few console and file services that differ between systems; one implementation per system.
#pragma once

#include <cstdint>
#include <cstdio>

namespace vmcapture {

// Whether `stream` is a terminal (progress is shown only there).
bool IsTerminal(std::FILE* stream);
// Makes `stream` pass bytes unchanged (no line-end translation).
void UseBinaryMode(std::FILE* stream);
// This process's id, for names of temporary files.
unsigned long ProcessId();
// Creates `path` as a new file for writing, with the permissions the user's umask gives a new
// file. A name that exists in any form (a file, a folder, a symbolic link, even one that leads
// nowhere) is never opened: null with errno EEXIST. Null with errno set on other failures.
std::FILE* CreateNewFile(const char* path);
// Opens `path` for writing in place when it names an existing pipe or device, directly or
// through a symbolic link (/dev/stdout): true, with `file` open or null (errno set) when it
// could not be opened. False, with nothing opened, for any other name: a regular file (even
// one the name came to lead to while it was opened), a folder, or no such name.
bool OpenStream(const char* path, std::FILE*& file);
// Renames `from` to `to`, replacing a file of that name; false (errno set) when it fails.
bool RenameOver(const char* from, const char* to);
// Cuts the file `path` to its first `size` bytes; `size` becomes what it holds (less where it
// held less). False (errno set) when it cannot be done.
bool CutFile(const char* path, uint64_t& size);
// A write to a closed pipe fails with an error instead of ending the program, and a write
// past the file-size limit fails with EFBIG instead of ending it.

void IgnoreBrokenPipe();

}  // namespace vmcapture
