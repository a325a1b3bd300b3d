// SPDX-License-Identifier: MIT
#include "tqzthread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>

#include "polling.h"

using TQZCapture::TQZThread;
using vmc_test::Eventually;
using vmc_test::Moves;
using vmc_test::StaysStill;

namespace {

// What the worker reports; kept outside the thread object so that it outlives it.
struct Probe {
    std::atomic<unsigned> passes{0};
    std::atomic<bool> entered{false};
    std::atomic<bool> left{false};
    std::atomic<unsigned long> id{0};
};

// Counts passes until a stop is asked for; with `ignoreStop`, until Terminate.
class Worker : public TQZThread {
public:
    explicit Worker(Probe& probe, bool ignoreStop = false)
        : probe_(probe), ignoreStop_(ignoreStop) {}

protected:
    bool Run() override {
        Probe& probe = probe_;  // the object may be destroyed while this runs
        const bool ignoreStop = ignoreStop_;
        probe.id = GetCurrentThreadId();
        probe.entered = true;
        while (ignoreStop || !Finished()) {
            ++probe.passes;
            USleep(1);
        }
        probe.left = true;
        return true;
    }

private:
    Probe& probe_;
    const bool ignoreStop_;
};

// Returns at once (well within the start pause), or stops its own object first.
class Quick : public TQZThread {
public:
    explicit Quick(bool stopsItself = false) : stopsItself_(stopsItself) {}
    ~Quick() override { Stop(); }
    std::atomic<int> runs{0};

protected:
    bool Run() override {
        if (stopsItself_) Stop();  // must not wait for itself
        ++runs;
        return false;
    }

private:
    const bool stopsItself_;
};

bool Entered(const Probe& probe) {
    return Eventually([&] { return probe.entered.load(); });
}

TEST(TQZThread, NewObjectIsIdle) {
    Quick thread;
    EXPECT_TRUE(thread.Finished());
    EXPECT_FALSE(thread.Suspended());
    EXPECT_EQ(thread.GetThread(), nullptr);
    // Without a thread the operating system refuses; nothing changes.
    EXPECT_TRUE(thread.Suspend());
    EXPECT_FALSE(thread.Suspended());
    EXPECT_TRUE(thread.Resume());
    thread.Terminate();
    EXPECT_TRUE(thread.Stop());
    EXPECT_TRUE(thread.Finished());
    EXPECT_EQ(thread.runs.load(), 0);
}

TEST(TQZThread, StartPausesRunsUntilStoppedAndRefusesASecondStart) {
    Probe probe;
    Worker worker(probe);
    const auto before = std::chrono::steady_clock::now();
    ASSERT_TRUE(worker.Start());
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(240));
    ASSERT_TRUE(Entered(probe));
    EXPECT_FALSE(worker.Finished());
    EXPECT_NE(worker.GetThread(), nullptr);
    EXPECT_EQ(worker.GetThreadID(), probe.id.load());
    EXPECT_FALSE(worker.Start());
    EXPECT_TRUE(Moves(probe.passes));
    EXPECT_TRUE(worker.Stop());
    EXPECT_TRUE(probe.left);
    EXPECT_TRUE(worker.Finished());
    EXPECT_EQ(worker.GetThread(), nullptr);
}

TEST(TQZThread, SuspendHoldsTheThreadAndStopResumesIt) {
    Probe probe;
    Worker worker(probe);
    ASSERT_TRUE(worker.Start());
    EXPECT_TRUE(worker.Suspend());
    EXPECT_TRUE(worker.Suspend());  // already suspended: no deeper
    EXPECT_TRUE(worker.Suspended());
    StaysStill(probe.passes, 20);  // let a suspension that lags behind its call settle
    EXPECT_TRUE(StaysStill(probe.passes, 80));
    EXPECT_TRUE(worker.Resume());  // one resume is enough
    EXPECT_FALSE(worker.Suspended());
    EXPECT_TRUE(Moves(probe.passes));

    worker.Suspend();
    EXPECT_TRUE(worker.Stop());
    EXPECT_TRUE(probe.left);
    EXPECT_FALSE(worker.Suspended());
    EXPECT_EQ(worker.GetThread(), nullptr);
    probe.entered = false;
    ASSERT_TRUE(worker.Start());  // idle again
    ASSERT_TRUE(Entered(probe));
}

TEST(TQZThread, RunReturningWithinTheStartPauseLeavesFinishedFalseUntilStop) {
    Quick quick;
    ASSERT_TRUE(quick.Start());
    EXPECT_TRUE(Eventually([&] { return quick.runs == 1; }));
    EXPECT_FALSE(quick.Finished());
    EXPECT_FALSE(quick.Start());
    EXPECT_TRUE(quick.Stop());  // returns at once: the thread has ended
    EXPECT_TRUE(quick.Finished());
    EXPECT_EQ(quick.GetThread(), nullptr);
    ASSERT_TRUE(quick.Start());
    EXPECT_TRUE(Eventually([&] { return quick.runs == 2; }));
}

TEST(TQZThread, StopFromItsOwnRunDoesNotWaitForItself) {
    Quick thread(true);
    ASSERT_TRUE(thread.Start());
    ASSERT_TRUE(Eventually([&] { return thread.runs == 1; }));
    EXPECT_NE(thread.GetThread(), nullptr);  // left for the owner
    EXPECT_TRUE(thread.Stop());
    EXPECT_EQ(thread.GetThread(), nullptr);
}

TEST(TQZThread, DestroyingARunningObjectStopsItFirst) {
    Probe probe;
    {
        Worker worker(probe);
        ASSERT_TRUE(worker.Start());
        ASSERT_TRUE(Entered(probe));
    }
    EXPECT_TRUE(probe.left);
}

TEST(TQZThread, TerminateEndsAThreadThatNeverLooksAtFinished) {
    Probe probe;
    Worker worker(probe, true);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(Moves(probe.passes));
    worker.Terminate();
    EXPECT_FALSE(worker.Finished());  // flags and handle stay
    EXPECT_NE(worker.GetThread(), nullptr);
    worker.Waitfor();
    EXPECT_EQ(worker.GetThread(), nullptr);
    EXPECT_TRUE(StaysStill(probe.passes, 30));
    EXPECT_FALSE(probe.left);
    EXPECT_TRUE(worker.Stop());
}

}  // namespace
