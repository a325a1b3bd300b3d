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
