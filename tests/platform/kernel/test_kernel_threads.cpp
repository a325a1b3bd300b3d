// SPDX-License-Identifier: MIT
// Threads of the platform layer: suspension that really stops, waits, forced ends, handle
// validation, fault injection, and that nothing is left behind.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "polling.h"
#include "tqzthread.h"
#include "vorn/control/faults.h"
#include "vorn/control/kernel.h"
#include "vornplatform.h"

namespace {

using vmc_test::Eventually;

const DWORD kFailed = static_cast<DWORD>(-1);

struct Counter {
    std::atomic<unsigned> count{0};
    std::atomic<bool> stop{false};
    std::atomic<DWORD> id{0};

    static DWORD WINAPI Main(LPVOID self) {
        auto* counter = static_cast<Counter*>(self);
        counter->id = GetCurrentThreadId();
        while (!counter->stop) {
            ++counter->count;
            Sleep(1);
        }
        return 7;
    }

    HANDLE Start(DWORD flags = 0, DWORD* threadId = nullptr) {
        return CreateThread(nullptr, 0, Main, this, flags, threadId);
    }
    bool Frozen(int ms) { return vmc_test::StaysStill(count, ms); }
    bool Moves() { return vmc_test::Moves(count); }
};

class KernelThreads : public ::testing::Test {
protected:
    void SetUp() override {
        VornWorld::ClearFaults();
        threads_ = VornWorld::LiveThreadCount();
        handles_ = VornWorld::OpenHandleCount();
    }
    void TearDown() override {
        VornWorld::ClearFaults();
        EXPECT_TRUE(ThreadsGone());
        EXPECT_EQ(VornWorld::OpenHandleCount(), handles_);
    }
    // Whether every thread made since SetUp has ended (waits for that a while).
    bool ThreadsGone() {
        return Eventually([&] { return VornWorld::LiveThreadCount() == threads_; });
    }
    // The thread's exit code, or STILL_ACTIVE; 99 when it cannot be read.
    static DWORD ExitCode(HANDLE thread) {
        DWORD code = 99;
        EXPECT_TRUE(GetExitCodeThread(thread, &code));
        return code;
    }
    // Stops the counter's thread and closes its handle, checking the exit code.
    static void Finish(Counter& counter, HANDLE thread) {
        counter.stop = true;
        ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
        EXPECT_EQ(ExitCode(thread), 7u);
        EXPECT_TRUE(CloseHandle(thread));
    }

    unsigned long threads_ = 0;
    unsigned long handles_ = 0;
};

// A thread made suspended runs only on its last resume, the count nesting up to its bound; a
// running thread stops at once, with no window in which a suspended thread slips through.
TEST_F(KernelThreads, SuspensionNestsToItsBoundAndReallyStops) {
    Counter counter;
    DWORD id = 0;
    HANDLE thread = counter.Start(CREATE_SUSPENDED, &id);
    for (DWORD expected = 1; expected < MAXIMUM_SUSPEND_COUNT; ++expected) {
        ASSERT_EQ(SuspendThread(thread), expected);
    }
    EXPECT_EQ(SuspendThread(thread), kFailed);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SIGNAL_REFCOUNT_EXCEEDED));
    for (DWORD expected = MAXIMUM_SUSPEND_COUNT; expected > 1; --expected) {
        ASSERT_EQ(ResumeThread(thread), expected);
    }
    EXPECT_TRUE(counter.Frozen(30));
    EXPECT_EQ(counter.count.load(), 0u);
    EXPECT_EQ(ResumeThread(thread), 1u);
    ASSERT_TRUE(counter.Moves());
    EXPECT_EQ(id, counter.id.load());
    EXPECT_EQ(ResumeThread(thread), 0u);
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(SuspendThread(thread), 0u);
        ASSERT_TRUE(counter.Frozen(i == 0 ? 60 : 1)) << "pass " << i;
        ASSERT_EQ(ResumeThread(thread), 1u);
    }
    Finish(counter, thread);
}

struct SelfSuspender {
    std::atomic<HANDLE> self{nullptr};
    std::atomic<int> stage{0};

    static DWORD WINAPI Main(LPVOID arg) {
        auto* me = static_cast<SelfSuspender*>(arg);
        while (me->self.load() == nullptr) Sleep(1);
        me->stage = 1;
        const DWORD previous = SuspendThread(me->self);
        me->stage = 2;
        // Waiting for its own end without a limit could never return: refused.
        const bool waits = WaitForSingleObject(me->self, INFINITE) == WAIT_FAILED &&
                           WaitForSingleObject(me->self, 5) == WAIT_TIMEOUT;
        return previous == 0 && waits ? 0 : 1;
    }
};

TEST_F(KernelThreads, ThreadSuspendsItselfUntilResumedAndCannotAwaitItself) {
    SelfSuspender me;
    HANDLE thread = CreateThread(nullptr, 0, SelfSuspender::Main, &me, 0, nullptr);
    me.self = thread;
    ASSERT_TRUE(Eventually([&] { return me.stage == 1; }));
    Sleep(50);
    EXPECT_EQ(me.stage.load(), 1);
    EXPECT_EQ(ResumeThread(thread), 1u);
    ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCode(thread), 0u);
    EXPECT_TRUE(CloseHandle(thread));
}

TEST_F(KernelThreads, WaitsTimeOutWhileRunningAndSucceedAfterTheEnd) {
    Counter counter;
    HANDLE thread = counter.Start();
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(thread, 80), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(75));
    EXPECT_EQ(ExitCode(thread), STILL_ACTIVE);
    counter.stop = true;
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    // An ended thread can be neither suspended nor given another exit code.
    EXPECT_EQ(SuspendThread(thread), kFailed);
    EXPECT_TRUE(TerminateThread(thread, 1));
    Finish(counter, thread);
}

TEST_F(KernelThreads, ClosedAndMadeUpHandlesAreRefused) {
    Counter counter;
    HANDLE closed = counter.Start();
    ASSERT_TRUE(CloseHandle(closed));
    EXPECT_TRUE(counter.Moves());  // closing the handle leaves the thread running
    counter.stop = true;
    ASSERT_TRUE(ThreadsGone());  // the counter must outlive its thread
    for (HANDLE handle : {HANDLE(nullptr), closed, HANDLE(0x12345678), INVALID_HANDLE_VALUE}) {
        SCOPED_TRACE(handle);
        DWORD code = 0;
        EXPECT_EQ(SuspendThread(handle), kFailed);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_EQ(ResumeThread(handle), kFailed);
        EXPECT_EQ(WaitForSingleObject(handle, INFINITE), WAIT_FAILED);
        EXPECT_FALSE(GetExitCodeThread(handle, &code));
        EXPECT_FALSE(TerminateThread(handle, 0));
        EXPECT_FALSE(CloseHandle(handle));
    }
    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
}

TEST_F(KernelThreads, TerminateEndsTheThreadWhereverItStands) {
    for (int stand = 0; stand < 3; ++stand) {  // running, suspended while running, made suspended
        SCOPED_TRACE(stand);
        Counter counter;
        HANDLE thread = counter.Start(stand == 2 ? CREATE_SUSPENDED : 0);
        if (stand < 2) {
            ASSERT_TRUE(counter.Moves());
        }
        if (stand == 1) {
            ASSERT_EQ(SuspendThread(thread), 0u);
        }
        EXPECT_TRUE(TerminateThread(thread, 42));
        ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
        EXPECT_EQ(ResumeThread(thread), stand == 0 ? 0u : 1u);
        EXPECT_TRUE(counter.Frozen(30));
        EXPECT_EQ(ExitCode(thread), 42u);
        EXPECT_TRUE(CloseHandle(thread));
        EXPECT_TRUE(stand < 2 || counter.count == 0u);
    }
}

TEST_F(KernelThreads, InjectedFailuresFailLikeTheRealCalls) {
    VornWorld::FailCall("CreateThread");
    Counter counter;
    EXPECT_EQ(counter.Start(), nullptr);
    EXPECT_EQ(VornWorld::LiveThreadCount(), threads_);
    HANDLE thread = counter.Start();
    VornWorld::FailCall("SuspendThread");
    EXPECT_EQ(SuspendThread(thread), kFailed);
    EXPECT_TRUE(counter.Moves());
    ASSERT_EQ(SuspendThread(thread), 0u);
    VornWorld::FailCall("ResumeThread");
    EXPECT_EQ(ResumeThread(thread), kFailed);
    EXPECT_TRUE(counter.Frozen(30));
    EXPECT_EQ(ResumeThread(thread), 1u);
    VornWorld::FailCall("WaitForSingleObject");
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_FAILED);
    Finish(counter, thread);
}

TEST(KernelTime, TickCountWrapsAtThirtyTwoBits) {
    VornWorld::SetTickCount(0xFFFFFFF0u);
    const DWORD before = GetTickCount();
    Sleep(40);
    const DWORD after = GetTickCount();
    VornWorld::SetTickCountOffset(0);
    EXPECT_GE(before, 0xFFFFFFF0u);
    EXPECT_LT(after, before);
    EXPECT_GE(static_cast<DWORD>(after - before), 35u);
}

// A thread object that stops its thread in its own destructor, as a subclass must.
class Idle : public TQZCapture::TQZThread {
public:
    ~Idle() override { Stop(); }

protected:
    bool Run() override { return true; }
};

TEST(KernelThreadsDeathTest, ThreadObjectEndsTheProcessWhenNoThreadCanBeMade) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            VornWorld::FailCall("CreateThread");
            Idle().Start();
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
