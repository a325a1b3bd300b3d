// SPDX-License-Identifier: MIT
// Counters of what a process holds on the real window system: GDI and USER objects, kernel
// handles and threads. Where the system's own answers are 0 (Wine), the GDI and handle
// counts fall back to the tables the system keeps.
#pragma once

#include <windows.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <vector>

namespace wintest {

// Live GDI objects of this process that are regions (`regionsOnly`) or of any type; -1 where
// they cannot be counted. The process's GDI handle table is read where the process environment
// block points at it (Windows, and 64-bit processes under Wine). A 32-bit process under Wine has
// no such pointer, but there GetObjectType accepts a handle's bare table index, so every index
// is asked instead.
inline long GdiObjectsOfType(bool regionsOnly) {
    struct HandleEntry {  // one entry of the table: 24 bytes on 64-bit, 16 on 32-bit systems
        void* kernelObject;
        USHORT processId, count, upper;
        UCHAR type, flags;
        void* userObject;
    };
// GCC 12 at -O3 misreads the 32-bit segment read inside NtCurrentTeb as an array access.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
    const char* peb = reinterpret_cast<const char*>(NtCurrentTeb()->ProcessEnvironmentBlock);
#pragma GCC diagnostic pop
    const size_t tableOffset = sizeof(void*) == 8 ? 0xF8 : 0x94;
    const auto* table = *reinterpret_cast<HandleEntry* const*>(peb + tableOffset);
    const size_t kEntries = 0x10000;
    long live = 0;
    if (table != nullptr) {
        const int kTableRegion = 4;
        for (size_t i = 0; i < kEntries; ++i) {
            const int type = table[i].type & 0x1F;
            live += type != 0 && (!regionsOnly || type == kTableRegion) ? 1 : 0;
        }
        return live;
    }
    for (size_t i = 1; i < kEntries; ++i) {
        const DWORD type = GetObjectType(reinterpret_cast<HGDIOBJ>(i));
        live += type != 0 && (!regionsOnly || type == OBJ_REGION) ? 1 : 0;
    }
    return live > 0 ? live : -1;
}

// Live GDI objects of this process. GetGuiResources answers 0 under Wine, so the count falls
// back to the GDI handle table.
inline long LiveGdiObjects() {
    const DWORD reported = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (reported != 0) return static_cast<long>(reported);
    return GdiObjectsOfType(false);
}

// Live GDI regions of this process; -1 where they cannot be counted.
inline long LiveGdiRegions() { return GdiObjectsOfType(true); }

// Open kernel handles of this process. GetProcessHandleCount answers 0 under Wine, so the count
// falls back to the system's handle list, filtered by this process's identifier.
inline long OpenHandles() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) {
        return static_cast<long>(count);
    }
    using QuerySystem = NTSTATUS(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<QuerySystem>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) return -1;
    const ULONG kHandleList = 16;
    const NTSTATUS kTooSmall = static_cast<NTSTATUS>(0xC0000004L);
    std::vector<char> buffer(1 << 16);
    NTSTATUS status;
    while ((status = query(kHandleList, buffer.data(), static_cast<ULONG>(buffer.size()),
                           nullptr)) == kTooSmall) {
        buffer.resize(buffer.size() * 2);
    }
    if (status != 0) return -1;
    const auto* list = reinterpret_cast<const SYSTEM_HANDLE_INFORMATION*>(buffer.data());
    const ULONG self = GetCurrentProcessId() & 0xFFFF;  // the list keeps 16 bits of the id
    long open = 0;
    for (ULONG i = 0; i < list->Count; ++i) open += (list->Handle[i].OwnerPid & 0xFFFF) == self;
    return open;
}

// USER objects (windows, menus, cursors) of this process; 0 where the system does not count
// them (Wine).
inline long LiveUserObjects() {
    return static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS));
}

// Threads of this process, from a snapshot of the system's threads.
inline long LiveThreads() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    const DWORD self = GetCurrentProcessId();
    long threads = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        threads += entry.th32OwnerProcessID == self ? 1 : 0;
    }
    CloseHandle(snapshot);
    return threads;
}

}  // namespace wintest
