#include "tqzthread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>

using TQZCapture::TQZThread;

namespace {

using Clock = std::chrono::steady_clock;

// What the worker reports to the test; kept outside the thread object so that it stays
// readable after the object is gone.
struct Probe {
    std::atomic<unsigned> passes{0};
    std::atomic<bool> entered{false};
    std::atomic<bool> left{false};
    std::atomic<unsigned long> id{0};
};

bool Eventually(const std::atomic<bool>& flag) {
    const auto limit = Clock::now() + std::chrono::seconds(5);
    while (!flag && Clock::now() < limit) Sleep(1);
    return flag;
}

// Counts passes until a stop is asked for. `ignoreStop` makes it loop until Terminate.
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

// Returns at once, well within the start pause.
class Quick : public TQZThread {
public:
    std::atomic<int> runs{0};

protected:
    bool Run() override {
        ++runs;
        return false;
    }
};

bool Frozen(const Probe& probe, int ms) {
    const unsigned before = probe.passes;
    Sleep(static_cast<DWORD>(ms));
    return probe.passes == before;
}

bool Moves(const Probe& probe) {
    const unsigned before = probe.passes;
    const auto limit = Clock::now() + std::chrono::seconds(5);
    while (probe.passes == before && Clock::now() < limit) Sleep(1);
    return probe.passes != before;
}

TEST(TQZThread, NewObjectIsIdleAndStopReturnsAtOnce) {
    Quick thread;
    EXPECT_TRUE(thread.Finished());
    EXPECT_FALSE(thread.Suspended());
    EXPECT_EQ(thread.GetThread(), nullptr);
    EXPECT_EQ(thread.GetThreadID(), 0ul);
    EXPECT_EQ(thread.GetThreadName(), "");
    // Without a thread the operating system refuses; nothing changes.
    EXPECT_TRUE(thread.Suspend());
    EXPECT_FALSE(thread.Suspended());
    EXPECT_TRUE(thread.Resume());
    thread.Terminate();
    thread.Waitfor();
    EXPECT_TRUE(thread.Stop());
    EXPECT_TRUE(thread.Finished());
    EXPECT_EQ(thread.runs.load(), 0);
}

TEST(TQZThread, StartPausesThenRunsUntilStopped) {
    Probe probe;
    Worker worker(probe);
    const auto before = Clock::now();
    ASSERT_TRUE(worker.Start());
    EXPECT_GE(Clock::now() - before, std::chrono::milliseconds(240));
    ASSERT_TRUE(Eventually(probe.entered));
    EXPECT_FALSE(worker.Finished());
    EXPECT_NE(worker.GetThread(), nullptr);
    EXPECT_EQ(worker.GetThreadID(), probe.id.load());
    EXPECT_FALSE(worker.Start());
    EXPECT_TRUE(Moves(probe));

    EXPECT_TRUE(worker.Stop());
    EXPECT_TRUE(probe.left);
    EXPECT_TRUE(worker.Finished());
    EXPECT_EQ(worker.GetThread(), nullptr);
}

TEST(TQZThread, SuspendHoldsTheThreadAndOneResumeReleasesIt) {
    Probe probe;
    Worker worker(probe);
    ASSERT_TRUE(worker.Start());
    EXPECT_TRUE(worker.Suspend());
    EXPECT_TRUE(worker.Suspended());
    EXPECT_TRUE(worker.Suspend());  // already suspended: suspends no deeper
    Sleep(20);                      // let a suspension that lags behind its call settle
    EXPECT_TRUE(Frozen(probe, 80));
    EXPECT_TRUE(worker.Resume());
    EXPECT_FALSE(worker.Suspended());
    EXPECT_TRUE(Moves(probe));
    EXPECT_TRUE(worker.Resume());  // not suspended: nothing to do
    EXPECT_TRUE(worker.Stop());
}

TEST(TQZThread, StopOfASuspendedThreadResumesAndWaits) {
    Probe probe;
    Worker worker(probe);
    ASSERT_TRUE(worker.Start());
    worker.Suspend();
    EXPECT_TRUE(worker.Stop());
    EXPECT_TRUE(probe.left);
    EXPECT_FALSE(worker.Suspended());
    EXPECT_TRUE(worker.Finished());
    EXPECT_EQ(worker.GetThread(), nullptr);
    // Idle again: the object starts a second time.
    ASSERT_TRUE(worker.Start());
    EXPECT_TRUE(worker.Stop());
}

TEST(TQZThread, RunReturningWithinTheStartPauseLeavesFinishedFalseUntilStop) {
    Quick quick;
    ASSERT_TRUE(quick.Start());
    EXPECT_EQ(quick.runs.load(), 1);
    EXPECT_FALSE(quick.Finished());
    EXPECT_FALSE(quick.Start());
    const auto before = Clock::now();
    EXPECT_TRUE(quick.Stop());
    EXPECT_LT(Clock::now() - before, std::chrono::seconds(2));
    EXPECT_TRUE(quick.Finished());
    EXPECT_EQ(quick.GetThread(), nullptr);
    ASSERT_TRUE(quick.Start());
    EXPECT_EQ(quick.runs.load(), 2);
}

TEST(TQZThread, DestroyingARunningObjectStopsItFirst) {
    Probe probe;
    {
        Worker worker(probe);
        ASSERT_TRUE(worker.Start());
        ASSERT_TRUE(Eventually(probe.entered));
    }
    EXPECT_TRUE(probe.left);
}

TEST(TQZThread, TerminateEndsAThreadThatNeverLooksAtFinished) {
    Probe probe;
    Worker worker(probe, true);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(Moves(probe));
    worker.Terminate();
    EXPECT_FALSE(worker.Finished());  // flags and handle stay
    EXPECT_NE(worker.GetThread(), nullptr);
    worker.Waitfor();
    EXPECT_EQ(worker.GetThread(), nullptr);
    EXPECT_TRUE(Frozen(probe, 30));
    EXPECT_FALSE(probe.left);
    EXPECT_TRUE(worker.Stop());
}

// Stops its own object from inside Run.
class SelfStopper : public TQZThread {
public:
    std::atomic<bool> stopped{false};
    ~SelfStopper() override { Stop(); }

protected:
    bool Run() override {
        Stop();
        stopped = true;
        return true;
    }
};

TEST(TQZThread, StopFromItsOwnRunDoesNotWaitForItself) {
    SelfStopper thread;
    ASSERT_TRUE(thread.Start());
    ASSERT_TRUE(Eventually(thread.stopped));
    EXPECT_NE(thread.GetThread(), nullptr);  // left for the owner
    EXPECT_TRUE(thread.Stop());
    EXPECT_EQ(thread.GetThread(), nullptr);
}

TEST(TQZThread, NameIsReturnedAsACopy) {
    Quick thread;
    thread.SetTheadName("capture worker ");
    std::string name = thread.GetThreadName();
    EXPECT_EQ(name, "capture worker ");
    name[0] = 'X';
    EXPECT_EQ(thread.GetThreadName(), "capture worker ");
    thread.SetTheadName("");
    EXPECT_EQ(thread.GetThreadName(), "");
}

TEST(TQZThread, USleepCountsMilliseconds) {
    Quick thread;
    const auto before = Clock::now();
    thread.USleep(30);
    EXPECT_GE(Clock::now() - before, std::chrono::milliseconds(25));
}

}  // namespace
