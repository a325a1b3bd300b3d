// SPDX-License-Identifier: MIT
// Critical sections over recursive POSIX mutexes: re-entrant for the holder, blocking for
// every other thread, as the Windows ones are.
#include "vorn/win/kernel.h"

extern "C" {

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section) {
    if (section == nullptr) return;
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&section->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section) {
    if (section != nullptr) pthread_mutex_lock(&section->mutex);
}

BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION section) {
    if (section == nullptr) return FALSE;
    return pthread_mutex_trylock(&section->mutex) == 0 ? TRUE : FALSE;
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section) {
    if (section != nullptr) pthread_mutex_unlock(&section->mutex);
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section) {
    if (section != nullptr) pthread_mutex_destroy(&section->mutex);
}

}  // extern "C"
