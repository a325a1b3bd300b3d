// SPDX-License-Identifier: MIT
#include "tqzthread.h"

namespace TQZCapture {

namespace {
constexpr unsigned int kStartPauseMs = 250;
}

TQZThread::TQZThread() = default;

TQZThread::~TQZThread() {
    Stop();
    if (handle_ != nullptr) {
        CloseHandle(handle_);
        handle_ = nullptr;
    }
}

bool TQZThread::Start() {
    if (!finished_) return false;
    // A run that ended on its own leaves its handle until somebody waits for it.
    Waitfor();
    entered_ = false;
    const bool created = CreateTaskThread();
    USleep(kStartPauseMs);
    while (!entered_) USleep(1);
    finished_ = false;
    return created;
}

bool TQZThread::Stop() {
    finished_ = true;
    // From its own Run the thread can only ask: waiting would be for itself.
    if (OnOwnThread()) return true;
    if (handle_ != nullptr && suspended_) Resume();
    Waitfor();
    return true;
}

bool TQZThread::Finished() const { return finished_; }

bool TQZThread::Suspend() {
    if (suspended_) return true;
    if (SuspendThread(handle_) != static_cast<DWORD>(-1)) suspended_ = true;
    return true;
}

bool TQZThread::Resume() {
    if (!suspended_) return true;
    if (ResumeThread(handle_) != static_cast<DWORD>(-1)) suspended_ = false;
    return true;
}

bool TQZThread::Suspended() const { return suspended_; }

void TQZThread::Terminate() { TerminateThread(handle_, 0); }

void TQZThread::Waitfor() {
    // The thread cannot wait for its own end: the handle is left for the owner's Stop or the
    // destructor.
    if (OnOwnThread() || handle_ == nullptr) return;
    // Closing the handle of a thread that still runs would let the object die under it, so
    // a failed wait is retried for as long as the thread is known to be alive.
    while (WaitForSingleObject(handle_, INFINITE) != WAIT_OBJECT_0) {
        DWORD code = 0;
        if (!GetExitCodeThread(handle_, &code) || code != STILL_ACTIVE) break;
        USleep(1);
    }
    CloseHandle(handle_);
    handle_ = nullptr;
}

void TQZThread::USleep(unsigned int ms) { Sleep(ms); }

void* TQZThread::GetThread() const { return handle_; }

unsigned long TQZThread::GetThreadID() const { return threadId_; }

std::string TQZThread::GetThreadName() const { return name_; }

void TQZThread::SetTheadName(const std::string& name) { name_ = name; }

void TQZThread::Entry() {
    finished_ = false;
    entered_ = true;
    Run();
    finished_ = true;
}

DWORD WINAPI TQZThread::_Entry(LPVOID object) {
    if (object != nullptr) static_cast<TQZThread*>(object)->Entry();
    return 0;
}

bool TQZThread::OnOwnThread() const { return threadId_ != 0 && GetCurrentThreadId() == threadId_; }

bool TQZThread::CreateTaskThread() {
    handle_ = CreateThread(nullptr, 0, &TQZThread::_Entry, this, 0, &threadId_);
    // Without a thread the library cannot work: it ends the process.
    if (handle_ == nullptr) ExitProcess(0);
    suspended_ = false;
    return true;
}

}  // namespace TQZCapture
