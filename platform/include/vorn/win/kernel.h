// SPDX-License-Identifier: MIT
// Kernel services (critical sections, threads, time, process) for non-Windows builds.
#pragma once

#include <pthread.h>

#include "vorn/win/wintypes.h"

// A critical section is re-entrant for the thread that holds it.
typedef struct _RTL_CRITICAL_SECTION {
    pthread_mutex_t mutex;
} CRITICAL_SECTION, *LPCRITICAL_SECTION, *PCRITICAL_SECTION;

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID);

#define CREATE_SUSPENDED 0x00000004u
#define STILL_ACTIVE 259u
#define MAXIMUM_SUSPEND_COUNT 0x7F

// Error codes reported through GetLastError.
#define ERROR_SUCCESS 0L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_SIGNAL_REFCOUNT_EXCEEDED 156L
#define ERROR_INVALID_FLAGS 1004L
#define ERROR_NO_UNICODE_TRANSLATION 1113L
#define ERROR_POSSIBLE_DEADLOCK 1131L

// Code pages and conversion flags.
#define CP_OEMCP 1
#define CP_THREAD_ACP 3
#define MB_PRECOMPOSED 0x00000001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_COMPOSITECHECK 0x00000200
#define WC_ERR_INVALID_CHARS 0x00000080
#define WC_NO_BEST_FIT_CHARS 0x00000400

extern "C" {
VORN_PLATFORM_API void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section);
VORN_PLATFORM_API void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section);
VORN_PLATFORM_API BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION section);
VORN_PLATFORM_API void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section);
VORN_PLATFORM_API void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section);

VORN_PLATFORM_API HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                                             LPTHREAD_START_ROUTINE start, LPVOID parameter,
                                             DWORD flags, LPDWORD threadId);
VORN_PLATFORM_API DWORD WINAPI SuspendThread(HANDLE thread);
VORN_PLATFORM_API DWORD WINAPI ResumeThread(HANDLE thread);
VORN_PLATFORM_API BOOL WINAPI TerminateThread(HANDLE thread, DWORD exitCode);
VORN_PLATFORM_API BOOL WINAPI GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
VORN_PLATFORM_API DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD milliseconds);
VORN_PLATFORM_API BOOL WINAPI CloseHandle(HANDLE object);
VORN_PLATFORM_API void WINAPI Sleep(DWORD milliseconds);
VORN_PLATFORM_API DWORD WINAPI GetTickCount(void);
VORN_PLATFORM_API DWORD WINAPI GetCurrentThreadId(void);
VORN_PLATFORM_API DWORD WINAPI GetCurrentProcessId(void);
VORN_PLATFORM_API DWORD WINAPI GetLastError(void);
VORN_PLATFORM_API void WINAPI SetLastError(DWORD error);
[[noreturn]] VORN_PLATFORM_API void WINAPI ExitProcess(UINT exitCode);

VORN_PLATFORM_API UINT WINAPI GetACP(void);
VORN_PLATFORM_API int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide,
                                                 int wideLength, LPSTR narrow, int narrowSize,
                                                 LPCSTR defaultChar, BOOL* usedDefault);
VORN_PLATFORM_API int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR narrow,
                                                 int narrowLength, LPWSTR wide, int wideSize);
}
