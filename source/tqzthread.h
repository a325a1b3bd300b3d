// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <string>

#include "tqzexport.h"
#include "vornplatform.h"

namespace TQZCapture {

// One operating-system thread running the subclass's Run(). Run() loops until Finished()
// reports that a stop was asked for. Start() returns after a 250 ms pause that lets the new
// thread enter Run(); Stop() asks for the stop and waits for the thread without a time limit.
// Thread objects are not copyable: each owns its own thread. The destructor stops the
// thread, but by then the subclass part is gone: a subclass whose Run uses its own members
// calls Stop() in its own destructor.
class TQZ_API TQZThread {
public:
    TQZThread();
    virtual ~TQZThread();
    TQZThread(const TQZThread&) = delete;
    TQZThread& operator=(const TQZThread&) = delete;

    // False without effect while a run is in progress.
    virtual bool Start();
    // Always true; resumes a suspended thread first so that it can see the request.
    virtual bool Stop();

    bool Finished() const;
    // Both always return true; Suspended() tells whether the thread really is suspended.
    bool Suspend();
    bool Resume();
    bool Suspended() const;
    // Ends the thread at once (exit code 0); flags and handle stay as they are.
    void Terminate();
    // Waits for the thread to end and closes its handle.
    void Waitfor();
    // Sleeps for `ms` milliseconds.
    void USleep(unsigned int ms);

    void* GetThread() const;
    unsigned long GetThreadID() const;
    std::string GetThreadName() const;
    void SetTheadName(const std::string& name);

    // Runs on the new thread: finished false, Run(), finished true.
    void Entry();

protected:
    // The work; its result is not used.
    virtual bool Run() = 0;

private:
    static DWORD WINAPI _Entry(LPVOID object);
    bool CreateTaskThread();
    // Whether the caller is the thread this object started last.
    bool OnOwnThread() const;

    HANDLE handle_ = nullptr;
    DWORD threadId_ = 0;
    std::string name_;
    bool suspended_ = false;
    std::atomic<bool> finished_{true};
    // Set by Entry(): Start() does not return before the new thread has got there, so a stop
    // asked for after Start() can never be overwritten by the thread's own start.
    std::atomic<bool> entered_{false};
};

}  // namespace TQZCapture
