// SPDX-License-Identifier: MIT
#include "tqzmreadswritelocker.h"

namespace TQZCapture {

TQZMReadSWriteLocker::TQZMReadSWriteLocker() : lock_{0, false, {}} { Create(); }

TQZMReadSWriteLocker::~TQZMReadSWriteLocker() { Destroy(); }

void TQZMReadSWriteLocker::Locked() { EnableWrite(); }

void TQZMReadSWriteLocker::UnLocked() { DisableWrite(); }

void TQZMReadSWriteLocker::Create() {
    if (!live_) {
        InitializeCriticalSection(&lock_.section);
        live_ = true;
    }
    Enter();
    lock_.readers = 0;
    lock_.writing = false;
    Leave();
}

void TQZMReadSWriteLocker::Destroy() {
    if (!live_) return;
    Enter();
    Leave();
    DeleteCriticalSection(&lock_.section);
    live_ = false;
}

void TQZMReadSWriteLocker::AddRead() {
    Enter();
    Leave();
}

void TQZMReadSWriteLocker::DecRead() {
    Enter();
    if (lock_.readers > 0) --lock_.readers;
    Leave();
}

int TQZMReadSWriteLocker::GetRead() {
    Enter();
    const int readers = lock_.readers;
    Leave();
    return readers;
}

bool TQZMReadSWriteLocker::GetWrite() {
    Enter();
    const bool writing = lock_.writing;
    Leave();
    return writing;
}

void TQZMReadSWriteLocker::EnableWrite() {}

void TQZMReadSWriteLocker::DisableWrite() {
    Enter();
    lock_.writing = false;
    Leave();
}

void TQZMReadSWriteLocker::ReadToWrite() {}

void TQZMReadSWriteLocker::Enter() {
    if (live_) EnterCriticalSection(&lock_.section);
}

void TQZMReadSWriteLocker::Leave() {
    if (live_) LeaveCriticalSection(&lock_.section);
}

}  // namespace TQZCapture
